// parlatto-speech-server: the cloud speech service's protocol on 127.0.0.1, for trying Parlatto
// without an account and as the peer of end-to-end tests.

#include "server_options.h"
#include "speech_service.h"
#include "speech_synthesizer.h"

#include <httplib.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "parlatto-speech-server";
    ServerOptions options;
    std::string error;
    if (!ServerOptions::Parse(std::vector<std::string>(argv + std::min(argc, 1), argv + argc), options,
                              &error)) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), error.c_str(),
                     ServerOptions::Usage(program).c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ServerOptions::Usage(program).c_str(), stdout);
        return 0;
    }

    // Signals are taken by one thread with sigwait, so stopping runs as ordinary code; blocked
    // before any thread starts so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A dropped or vanished client must not end the process when its answer is written.
    signal(SIGPIPE, SIG_IGN);

    SpeechSynthesizer synthesizer;
    if (!synthesizer.Start(&error)) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
        return 1;
    }
    SpeechService service(options, synthesizer);
    httplib::Server server;
    service.Install(server);

    const int port = options.port == 0 ? server.bind_to_any_port("127.0.0.1")
                                       : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d\n", program.c_str(), options.port);
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: listening on 127.0.0.1:%d (Mandarin voice %s, %d Hz)\n", program.c_str(), port,
                 synthesizer.MandarinVoice().c_str(), synthesizer.SampleRate());

    std::atomic<bool> listening{true};
    std::atomic<bool> stopRequested{false};
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        stopRequested = true;
        service.Shutdown();
        // stop() before listening has begun would be lost, and the loop would never end.
        while (listening && !server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.stop();
    });
    const bool clean = server.listen_after_bind();
    listening = false;
    if (!stopRequested)
        pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return clean || stopRequested ? 0 : 1;
}
