#include "server_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

template <typename Number>
bool ParseNumber(const std::string& text, Number min, Number max, Number& out) {
    Number value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool ParseRate(const std::string& text, double& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1.0)
        return false;
    out = value;
    return true;
}

// "SUBSTR:N", split at the last colon so that the text itself may hold colons.
bool ParseTextFault(const std::string& value, TextFault& out) {
    const auto colon = value.rfind(':');
    if (colon == std::string::npos)
        return false;
    TextFault fault;
    fault.text = value.substr(0, colon);
    if (!ParseNumber(value.substr(colon + 1), 0, std::numeric_limits<int>::max(), fault.count))
        return false;
    out = std::move(fault);
    return true;
}

}  // namespace

bool ServerOptions::Parse(const std::vector<std::string>& args, ServerOptions& out, std::string* error) {
    ServerOptions options;
    auto fail = [error](const std::string& message) {
        if (error)
            *error = message;
        return false;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            if (hasValue)
                return fail(name + " takes no value");
            options.help = true;
            continue;
        }
        static const char* const kWithValue[] = {"--port", "--fail-rate", "--drop-rate", "--delay-ms",
                                                 "--seed", "--fail-text", "--drop-text"};
        bool known = false;
        for (const char* candidate : kWithValue)
            known = known || name == candidate;
        if (!known)
            return fail("unknown option: " + args[i]);
        if (!hasValue) {
            if (i + 1 >= args.size())
                return fail(name + " needs a value");
            value = args[++i];
        }
        bool ok = false;
        if (name == "--port") {
            ok = ParseNumber(value, 0, 65535, options.port);
        } else if (name == "--fail-rate") {
            ok = ParseRate(value, options.failRate);
        } else if (name == "--drop-rate") {
            ok = ParseRate(value, options.dropRate);
        } else if (name == "--delay-ms") {
            ok = ParseNumber(value, 0, 3600 * 1000, options.delayMs);
        } else if (name == "--seed") {
            ok =
                ParseNumber(value, std::uint32_t{0}, std::numeric_limits<std::uint32_t>::max(), options.seed);
        } else {
            TextFault fault;
            ok = ParseTextFault(value, fault);
            (name == "--fail-text" ? options.failTexts : options.dropTexts).push_back(std::move(fault));
        }
        if (!ok)
            return fail("bad value for " + name + ": '" + value + "'");
    }
    out = std::move(options);
    return true;
}

std::string ServerOptions::Usage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "A local stand-in for the cloud speech service, on 127.0.0.1 only. The first line\n"
           "written to stdout is the port it listens on.\n"
           "\n"
           "  --port N            port to listen on; 0 (default) picks a free one\n"
           "  --fail-rate R       share (0..1) of synthesis requests answered with err_no 503\n"
           "  --drop-rate R       share (0..1) of synthesis requests whose connection is closed\n"
           "                      without an answer\n"
           "  --delay-ms N        delay every synthesis reply by N milliseconds\n"
           "  --seed N            seed of the random draws for the rates (default 1)\n"
           "  --fail-text TEXT:N  the first N synthesis requests whose text contains TEXT get\n"
           "                      err_no 503 (repeatable)\n"
           "  --drop-text TEXT:N  the same, but their connection is closed (repeatable)\n"
           "  --help              show this text\n"
           "\n"
           "Endpoints: GET /oauth/2.0/token, POST /text2audio, GET /stats,\n"
           "POST /control/hold, /control/release, /control/fail?text=T&count=N,\n"
           "/control/drop?text=T&count=N. SIGTERM or SIGINT stops the server.\n";
}
