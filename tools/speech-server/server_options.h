#pragma once
// The command line of parlatto-speech-server. Parse accepts "--name value" and "--name=value";
// it never exits or prints, so main decides what a bad line costs (usage on stderr, exit 2).

#include <cstdint>
#include <string>
#include <vector>

// The first `count` synthesis requests whose text contains `text` get the fault.
struct TextFault {
    std::string text;
    int count = 0;
};

struct ServerOptions {
    int port = 0;  // 0: the system picks a free port
    double failRate = 0.0;
    double dropRate = 0.0;
    int delayMs = 0;
    std::uint32_t seed = 1;
    std::vector<TextFault> failTexts;
    std::vector<TextFault> dropTexts;
    bool help = false;

    // False with *error set when the arguments (after the program name) are not valid.
    static bool Parse(const std::vector<std::string>& args, ServerOptions& out, std::string* error);
    static std::string Usage(const std::string& program);
};
