#include "platform/time_util.h"

namespace qb {

std::time_t FromLocalTime(const LocalTime& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60) {
        return -1;
    }
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    std::time_t result = ::mktime(&tm);
    // mktime normalises 31 February into March: such a date is not valid.
    if (result == -1 || tm.tm_mday != t.day || tm.tm_mon != t.month - 1) {
        return -1;
    }
    return result;
}

LocalTime ToLocalTime(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::time_t StartOfYear(std::time_t now) {
    LocalTime t;
    t.year = ToLocalTime(now).year;
    return FromLocalTime(t);
}

int YearForMonthDay(int month, int day, std::time_t now) {
    LocalTime today = ToLocalTime(now);
    if (month > today.month || (month == today.month && day > today.day)) {
        return today.year - 1;
    }
    return today.year;
}

} // namespace qb
