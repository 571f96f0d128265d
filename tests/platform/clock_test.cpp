#include "platform/clock.h"

#include "support/test_env.h"

#include <time.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

using platform::FormatLocalTime;

// Sets the time zone for one test and puts the old one back.
class ClockTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetCurrentClock(nullptr); }
    void UseTimeZone(const char* tz) { zone_.Set(tz); }

private:
    testenv::ScopedTimeZone zone_;
};

TEST_F(ClockTest, FormatsLocalTimeOfGivenTime) {
    const struct {
        const char* tz;  // POSIX zone strings, which need no zone database
        std::time_t when;
        const char* format;
        std::string expected;
    } cases[] = {
        {"UTC0", 0, "%Y-%m-%d %H:%M:%S", "1970-01-01 00:00:00"},
        {"ABC-3", 0, "%Y-%m-%d %H:%M:%S", "1970-01-01 03:00:00"},
        {"XYZ+5", 1700000000, "%d.%m.%Y %H:%M", "14.11.2023 17:13"},
        {"UTC0", 951782400, "[%F]", "[2000-02-29]"},
        {"UTC0", 0, "", ""},
        // Longer than any first guess at a buffer.
        {"UTC0", 0, "%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y",
         [] {
             std::string years;
             for (int i = 0; i < 40; ++i)
                 years += "1970";
             return years;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tz) + " " + c.format);
        UseTimeZone(c.tz);
        EXPECT_EQ(FormatLocalTime(c.when, c.format), c.expected);
    }
}

class FixedClock final : public platform::Clock {
public:
    std::chrono::system_clock::time_point Now() const override {
        return std::chrono::system_clock::from_time_t(86400);
    }
    std::uint32_t Ticks() const override { return 0xFFFFFFF0u; }
};

TEST_F(ClockTest, InstalledClockServesUntilRestored) {
    UseTimeZone("UTC0");
    FixedClock fixed;
    platform::SetCurrentClock(&fixed);
    EXPECT_EQ(&platform::CurrentClock(), &fixed);
    EXPECT_EQ(platform::TickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(FormatLocalTime("%Y-%m-%d %H:%M:%S"), "1970-01-02 00:00:00");

    platform::SetCurrentClock(nullptr);
    EXPECT_NE(dynamic_cast<platform::SystemClock*>(&platform::CurrentClock()), nullptr);
    const auto before = std::chrono::system_clock::now();
    const auto now = platform::CurrentClock().Now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, std::chrono::system_clock::now());
}

}  // namespace
