#include "platform/Time.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace platform {
namespace {
// tzset() reads the global zone variables; serialise it with our readers of `timezone`.
std::mutex gZoneMutex;
}  // namespace

int64_t UnixNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

LocalTime ToLocalTime(int64_t unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    std::tm tm{};
    {
        // localtime_r need not look at TZ again; the zone of the process as it is now counts.
        std::lock_guard lock(gZoneMutex);
        tzset();
        localtime_r(&t, &tm);
    }
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

LocalTime LocalNow() {
    return ToLocalTime(UnixNow());
}

int64_t FromLocalTime(const LocalTime& local) {
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tm));
}

int64_t FromUtcTime(const LocalTime& utc) {
    // Days from the civil date (the era-based algorithm: March-based years of 400-year eras).
    const int64_t y = static_cast<int64_t>(utc.year) - (utc.month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (utc.month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + utc.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + utc.hour * 3600 + utc.minute * 60 + utc.second;
}

int32_t StandardBiasMinutes() {
    std::lock_guard lock(gZoneMutex);
    tzset();
    // glibc's `timezone` is the standard offset in seconds west of UTC.
    return static_cast<int32_t>(timezone / 60);
}

std::string FormatTimestamp(const LocalTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d-%02d-%02d-%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace platform
