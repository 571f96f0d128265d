#include "fault_plan.h"

FaultPlan::FaultPlan(double failRate, double dropRate, std::uint32_t seed)
    : failRate_(failRate), dropRate_(dropRate), random_(seed) {}

void FaultPlan::AddFailText(TextFault fault) {
    std::lock_guard lock(mutex_);
    failTexts_.push_back(std::move(fault));
}

void FaultPlan::AddDropText(TextFault fault) {
    std::lock_guard lock(mutex_);
    dropTexts_.push_back(std::move(fault));
}

bool FaultPlan::TakeMatching(std::vector<TextFault>& rules, const std::string& text) {
    for (TextFault& rule : rules) {
        if (rule.count > 0 && text.find(rule.text) != std::string::npos) {
            --rule.count;
            return true;
        }
    }
    return false;
}

FaultPlan::Outcome FaultPlan::Decide(const std::string& text) {
    std::lock_guard lock(mutex_);
    // Drawn even when a rule decides, so the draws stay tied to the request count; computed by
    // hand because the standard distributions may differ between library versions.
    const double draw = static_cast<double>(random_()) / 4294967296.0;
    if (TakeMatching(dropTexts_, text))
        return Outcome::Drop;
    if (TakeMatching(failTexts_, text))
        return Outcome::Fail;
    if (draw < dropRate_)
        return Outcome::Drop;
    if (draw < dropRate_ + failRate_)
        return Outcome::Fail;
    return Outcome::Answer;
}
