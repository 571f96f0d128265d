// A stand-in for the program's start: runs the real start-up services and reports, one word per
// line on stdout, whether it became the instance ("first") or was refused ("second"). A first
// instance then waits: "hold" until killed, "activate" until a later start asks it to come
// forward ("activated"), giving up after 20 s.

#include "app/startup.h"
#include "platform/message.h"

#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "activate";
    // Registered before the check, so that no request can arrive before there is a window.
    platform::MessageQueue window("Parlatto");
    if (StartServices() == StartupResult::AlreadyRunning) {
        std::puts("second");
        return 0;
    }
    std::puts("first");
    std::fflush(stdout);
    if (std::strcmp(mode, "hold") == 0) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    while (auto message = window.Wait(std::chrono::seconds(20))) {
        if (message->id == platform::WM_ACTIVATE_REQUEST) {
            std::puts("activated");
            StopServices();
            return 0;
        }
    }
    StopServices();
    return 3;
}
