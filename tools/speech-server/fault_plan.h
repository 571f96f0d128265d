#pragma once
// Decides, per synthesis request, whether it is answered, failed (err_no 503) or dropped. Text
// rules come first, each counting only the requests it acted on; then one seeded draw per request
// against the drop and fail rates, so that a seed replays the same sequence. Thread-safe.

#include "server_options.h"

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

class FaultPlan {
public:
    enum class Outcome { Answer, Fail, Drop };

    FaultPlan(double failRate, double dropRate, std::uint32_t seed);

    void AddFailText(TextFault fault);
    void AddDropText(TextFault fault);
    Outcome Decide(const std::string& text);

private:
    static bool TakeMatching(std::vector<TextFault>& rules, const std::string& text);

    std::mutex mutex_;
    const double failRate_;
    const double dropRate_;
    std::mt19937 random_;
    std::vector<TextFault> failTexts_;
    std::vector<TextFault> dropTexts_;
};
