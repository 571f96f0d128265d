#include "maintenance/local_time_stamp.h"

#include <climits>

namespace {

struct OffsetChange {
    time_t from;
    long offset;
};

constexpr int kMaxChanges = 64;
constexpr int kDaysAhead = 731;
OffsetChange g_changes[kMaxChanges] = {{LONG_MIN, 0}};
int g_changeCount = 1;

long OffsetAt(time_t when) {
    tm local{};
    return ::localtime_r(&when, &local) ? local.tm_gmtoff : 0;
}

}  // namespace

void LocalTimeStamp::Prepare(time_t now) {
    ::tzset();
    long current = OffsetAt(now);
    g_changes[0] = {LONG_MIN, current};
    int count = 1;
    time_t before = now;
    // Day by day, then to the second where the offset changes.
    for (int day = 1; day <= kDaysAhead && count < kMaxChanges; ++day) {
        const time_t after = now + day * 86400L;
        const long offset = OffsetAt(after);
        if (offset != current) {
            time_t low = before, high = after;
            while (high - low > 1) {
                const time_t middle = low + (high - low) / 2;
                (OffsetAt(middle) == current ? low : high) = middle;
            }
            g_changes[count++] = {high, offset};
            current = offset;
        }
        before = after;
    }
    g_changeCount = count;
}

time_t LocalTimeStamp::Now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

void LocalTimeStamp::Format(time_t when, char out[15]) {
    long offset = g_changes[0].offset;
    for (int i = 1; i < g_changeCount; ++i)
        if (when >= g_changes[i].from)
            offset = g_changes[i].offset;
    const long long local = static_cast<long long>(when) + offset;
    long long days = local / 86400;
    long long seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const long long fields[] = {year, month, day, seconds / 3600, seconds / 60 % 60, seconds % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    char* p = out;
    for (int i = 0; i < 6; ++i) {
        long long value = fields[i];
        for (int digit = widths[i] - 1; digit >= 0; --digit) {
            p[digit] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        p += widths[i];
    }
    *p = '\0';
}
