// Local time and the time zone, as the system uses them for folder names and dates.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct LocalTime {
    int year = 0;    // e.g. 2015
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

// Seconds since 1970-01-01 00:00 UTC.
int64_t UnixNow();

// The local time now, after the TZ rules of the process.
LocalTime LocalNow();

// The local time of a moment.
LocalTime ToLocalTime(int64_t unixSeconds);

// Converts a local time back to seconds since 1970-01-01 UTC (mktime; daylight saving decided by
// the zone rules).
int64_t FromLocalTime(const LocalTime& local);

// Seconds since 1970-01-01 00:00 UTC of a calendar time in UTC (proleptic Gregorian calendar, no
// leap seconds); the fields are taken as they are, without range checks.
int64_t FromUtcTime(const LocalTime& utc);

// The time zone's standard bias in minutes, as the system defines it: UTC = local time + bias, so
// a zone one hour east of UTC has -60 and one five hours west has 300. Daylight saving time is not
// part of it.
int32_t StandardBiasMinutes();

// "%04d-%02d-%02d-%02d-%02d-%02d" of a local time: the name of a backup folder.
std::string FormatTimestamp(const LocalTime& t);

}  // namespace platform
