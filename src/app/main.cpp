// Parlatto: the start-up order, the event loop and the teardown order of the desktop program.

#include "app/startup.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/text_convert.h"
#include "maintenance/crash_dump_handler.h"
#include "skinui/skin_archive.h"
#include "skinui/skin_resources.h"
#include "ui/rtmp_player.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <langinfo.h>
#include <clocale>
#include <cstring>
#include <memory>

namespace {

int g_terminate[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 1;
    (void)!::write(g_terminate[1], &c, 1);
}

// File names reach some libraries as wide strings converted by the locale: keep it UTF-8.
void EnsureUtf8Locale() {
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset || std::strcmp(codeset, "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace

int main(int argc, char** argv) {
    if (StartServices() == StartupResult::AlreadyRunning)
        return 0;
    // Lives until main returns; PostAppExit switches it off for the shutdown.
    CrashDumpHandler crashDumps(false, AnsiToWide(PubUtils::GetDataDir()) + L"/crashDumps");

    QApplication app(argc, argv);
    EnsureUtf8Locale();
    QApplication::setApplicationName("Parlatto");
    QApplication::setDesktopFileName("parlatto");

    static SkinArchive archive = SkinArchive::FromMemory(kParlattoSkinZip, kParlattoSkinZipSize);
    SkinResources& skins = SkinResources::Instance();
    skins.SetDiagnosticHook([](const std::wstring& text) { DuilibExceptFunc(text); });
    skins.SetFileSource([](const QString& name) { return archive.Read(name); });

    int code = 0;
    {
        RtmpPlayer player;
        player.Create(nullptr, 0, 0, 0, 800, 600);
        player.SetIcon(QIcon(skins.Image("parlatto.png")));
        player.CenterWindow();
        // A session that ends (SIGTERM) or Ctrl+C closes the window the way its close button does.
        std::unique_ptr<QSocketNotifier> terminate;
        if (::pipe2(g_terminate, O_CLOEXEC | O_NONBLOCK) == 0) {
            terminate = std::make_unique<QSocketNotifier>(g_terminate[0], QSocketNotifier::Read);
            QObject::connect(terminate.get(), &QSocketNotifier::activated, [&player] {
                char c;
                while (::read(g_terminate[0], &c, 1) > 0) {
                }
                player.Close();
            });
            struct sigaction action {};
            action.sa_handler = OnTerminate;
            sigaction(SIGTERM, &action, nullptr);
            sigaction(SIGINT, &action, nullptr);
        }
        Log(Info, "WinMain", "start app %s", WideToAnsi(kAppVersion).c_str());
        code = app.exec();
        skins.Clear();
    }
    StopServices();
    (void)code;
    return 0;
}
