#include "maintenance/local_time_stamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string Reference(time_t when) {
    tm local{};
    ::localtime_r(&when, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

std::string Stamp(time_t when) {
    char text[15];
    LocalTimeStamp::Format(when, text);
    return text;
}

class LocalTimeStampTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        hadZone_ = zone != nullptr;
        savedZone_ = zone ? zone : "";
        ::setenv("TZ", GetParam(), 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadZone_)
            ::setenv("TZ", savedZone_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadZone_ = false;
    std::string savedZone_;
};

// A run that starts in winter and is still running after the clocks change, both ways, and
// across a year's end and a leap day.
TEST_P(LocalTimeStampTest, FollowsTheZoneThroughItsChangesForTwoYears) {
    const time_t start = 1767225600 - 3600;  // 2025-12-31 23:00 UTC
    LocalTimeStamp::Prepare(start);
    for (time_t t = start; t < start + 2 * 365 * 86400L; t += 3607)
        ASSERT_EQ(Stamp(t), Reference(t)) << "at " << t;
    // Each second around every change of the offset.
    for (time_t t = start + 1; t < start + 2 * 365 * 86400L; t += 3600) {
        tm a{}, b{};
        const time_t before = t - 3600;
        ::localtime_r(&before, &a);
        ::localtime_r(&t, &b);
        if (a.tm_gmtoff == b.tm_gmtoff)
            continue;
        for (time_t s = before; s <= t; ++s)
            ASSERT_EQ(Stamp(s), Reference(s)) << "at " << s;
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeStampTest,
                         ::testing::Values("UTC", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu",
                                           "<-0330>3:30"),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param; *p; ++p)
                                 if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') ||
                                     (*p >= '0' && *p <= '9'))
                                     name += *p;
                             return name;
                         });

}  // namespace
