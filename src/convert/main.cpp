// parlatto-convert: converts text files to MP3 without a window, with the program's data folder,
// settings, credentials and log, but a private work folder of its own.

#include "app/startup.h"
#include "convert/converter.h"
#include "core/paths.h"
#include "platform/error.h"
#include "platform/file_ops.h"
#include "platform/process_info.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>

namespace {

volatile bool g_stop = false;

void OnSignal(int) {
    g_stop = true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string message;
    const auto options = ParseConvertArgs(std::vector<std::string>(argv + 1, argv + argc), message);
    if (!options) {
        if (message.empty()) {
            std::cout << ConvertUsage();
            return 0;
        }
        std::cerr << "parlatto-convert: " << message << "\n" << ConvertUsage();
        return kConvertUsage;
    }

    platform::SetDebugOutputEnabled(false);  // stderr belongs to the user here; the log has it all
    StartupOptions startup;
    startup.singleInstance = false;  // it may run beside the window
    startup.logUploadCheck = false;  // the window's start sends the crash reports
    StartServices(startup);

    std::string work = platform::TempBase() + "/parlatto-convert-XXXXXX";
    if (!::mkdtemp(work.data())) {
        std::cerr << "parlatto-convert: cannot create a work folder in " << platform::TempBase() << "\n";
        return kConvertUsage;
    }
    PubUtils::SetWorkDirOverride(work);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int code = RunConversion(*options, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1, &g_stop);
    if (options->keepWork)
        std::cerr << "parlatto-convert: the work folder is " << work << "\n";
    else
        platform::RemoveTree(work);
    StopServices();
    return code;
}
