#include "maintenance/local_time_stamp.h"

#include "platform/clock.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

std::string Reference(time_t when) {
    return platform::FormatLocalTime(when, "%Y%m%d%H%M%S");
}

std::string Stamp(time_t when) {
    char text[15];
    LocalTimeStamp::Format(when, text);
    return text;
}

class LocalTimeStampTest : public ::testing::TestWithParam<const char*> {
private:
    testenv::ScopedTimeZone zone_{GetParam()};
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
