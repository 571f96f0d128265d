// Renders the program's windows offscreen into PNG files, for people to look at:
// build/screenshots/*.png. Run by the test suite, so the pictures follow every change.

#include "playlist/play_list_ctrl.h"
#include "skinui/skin_list.h"
#include "skinui/skin_resources.h"
#include "skinui/window_impl_base.h"
#include "speech/audio_piece.h"
#include "support/test_env.h"
#include "ui/about_app_dlg.h"
#include "ui/message_wnd.h"
#include "ui/rtmp_player.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>

#include <cstdio>

namespace {

class Gallery : public WindowImplBase, public IListCallbackUI {
public:
    QString GetWindowClassName() const override { return "Gallery"; }
    QString GetSkinFile() const override { return "Gallery.xml"; }
    void InitWindow() override {
        auto* list = Find<CListUI>("list");
        list->SetTextCallback(this);
        for (int i = 0; i < 9; ++i)
            list->AddAt(new CListTextElementUI(list), i);
        list->SelectItem(1);
    }
    QString GetItemText(CListTextElementUI*, int row, int column) override {
        static const char* names[] = {"文本1.txt", "春天来了，公园里的花都开了，孩子们在草地上奔跑.txt",
                                      "report.txt"};
        switch (column) {
            case 0:
                return QString::fromUtf8(names[row % 3]);
            case 1:
                return ".txt";
            case 2:
                return row % 2 ? "01:15" : "";
            case 3:
                return QString("%1%").arg((row * 37) % 101);
            default:
                return "开始  删除";
        }
    }
};

bool Save(QWidget& window, const QString& path) {
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

// Finishes a row as the conversion manager's report would.
void Finish(CPlayListCtrl& list, int row, int count, int done) {
    PieceList pieces;
    for (int i = 0; i < done; ++i) {
        auto piece = std::make_shared<AudioPiece>();
        piece->job = QString::fromStdWString(list.GetItemFile(row)).toStdString();
        piece->count = count;
        piece->index = i;
        piece->file = "/nonexistent/" + std::to_string(i + 1) + ".mp3";
        pieces.push_back(piece);
    }
    list.UpdateItemStatus(pieces);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testenv::ScopedEnvironment env;  // the windows write settings; never into the real home
    QApplication app(argc, argv);
    SkinResources::InstallFontSubstitutions();
    bool ok = true;
    SkinResources::Instance().SetDiagnosticHook([&ok](const std::wstring& text) {
        std::fprintf(stderr, "%s", QString::fromStdWString(text).toUtf8().constData());
        ok = false;
    });
    SkinResources::Instance().SetFileSource([](const QString& name) -> std::optional<QByteArray> {
        for (const char* dir : {PARLATTO_SKIN_DIR, PARLATTO_GALLERY_DIR}) {
            QFile file(QString(dir) + "/" + name);
            if (file.open(QIODevice::ReadOnly))
                return file.readAll();
        }
        return std::nullopt;
    });
    const QString out = argc > 1 ? argv[1] : "screenshots";
    QDir().mkpath(out);

    CMessageWnd one(false, 0);
    one.SetButtons(L"确定", L"", false);
    one.SetMessageText(L"成功保存 3 个结果");
    one.ShowMessage(nullptr);
    QTest::qWait(20);
    ok = Save(one, out + "/message_one_button.png") && ok;

    CMessageWnd two(false, 0);
    two.SetMessageText(L"检测到新版本 v1.0.7，是否立即更新？更新期间程序会关闭。");
    two.ShowMessage(nullptr);
    QTest::qWait(20);
    ok = Save(two, out + "/message_two_buttons.png") && ok;

    Gallery gallery;
    gallery.Create(nullptr, kWindowVisible, 0, 0, 0, 0);
    QTest::qWait(20);
    ok = Save(gallery, out + "/controls.png") && ok;

    RtmpPlayer player;
    player.Create(nullptr, 0, 0, 0, 800, 600);
    QTest::qWait(20);
    ok = Save(player, out + "/main_empty.png") && ok;
    CPlayListCtrl& list = *player.PlayList();
    for (const char* name : {"春天来了.txt", "report.txt", "故事集 第一章 很长很长很长的文件名字.txt"})
        list.AddPlayFile(std::wstring(L"/home/user/docs/") + QString::fromUtf8(name).toStdWString());
    list.AddPlayText(L"你好，世界。");
    list.SetItemConverting(1);
    Finish(list, 1, 7, 3);
    for (int tick = 0; tick < 12; ++tick)
        list.TickElapsed();
    list.SetItemConverting(2);
    Finish(list, 2, 4, 4);
    player.Find<CRichEditUI>("edtText")->SetText("在这里输入要转换的文字，然后点击“生成语音”。");
    QTest::qWait(20);
    ok = Save(player, out + "/main_rows.png") && ok;
    player.showMaximized();
    QTest::qWait(50);
    ok = Save(player, out + "/main_maximised.png") && ok;
    player.showNormal();
    QTest::qWait(50);
    for (int i = 1; i <= 16; ++i)
        list.AddPlayFile(L"/home/user/docs/第" + std::to_wstring(i) + L"章.txt");
    QString longText;
    for (int i = 0; i < 12; ++i)
        longText += "第" + QString::number(i + 1) + "段：春天来了，河边的柳树发芽了。\n";
    player.Find<CRichEditUI>("edtText")->SetText(longText);
    QTest::qWait(20);
    ok = Save(player, out + "/main_scroll_bars.png") && ok;
    CMessageWnd over(false, 0);
    over.SetButtons(L"确定", L"", false);
    over.SetMessageText(L"当前文件正在识别中，无法删除!");
    over.ShowMessage(&player);
    QTest::qWait(20);
    // The box is a window of its own: compose it over the main window as the screen shows them.
    QPixmap composed = player.grab();
    {
        QPainter painter(&composed);
        painter.drawPixmap(over.pos() - player.pos(), over.grab());
    }
    const bool composedOk = composed.save(out + "/main_with_message.png");
    std::printf("%s %s\n", composedOk ? "wrote" : "FAILED", qPrintable(out + "/main_with_message.png"));
    ok = composedOk && ok;

    const struct {
        const char* file;
        bool remote, newer;
    } states[] = {{"/about_failed.png", false, false},
                  {"/about_newer.png", true, true},
                  {"/about_latest.png", true, false}};
    for (const auto& state : states) {
        CAboutAppDlg about({[&] { return state.remote; }, [&] { return state.newer; }});
        about.Open();
        QTest::qWait(20);
        ok = Save(about, out + state.file) && ok;
    }
    return ok ? 0 : 1;
}
