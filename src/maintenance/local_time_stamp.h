#pragma once
// The local time as "%Y%m%d%H%M%S" from inside a signal handler, where the time-zone code (locks,
// files) cannot run: the offsets from UTC and the moments they change over the next two years
// are found once by Prepare, Format only adds and divides.

#include <ctime>

class LocalTimeStamp {
public:
    // Outside any handler; covers [now, now + two years) of the process's time zone.
    static void Prepare(time_t now);
    // Async-signal-safe. out receives fourteen digits and a terminating zero.
    static void Format(time_t when, char out[15]);
    static time_t Now();
};
