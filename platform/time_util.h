// Local time <-> time_t, and the "current year" rule of listings.
#pragma once

#include <ctime>

namespace qb {

struct LocalTime {
    int year = 1970; // e.g. 2026
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The time_t of a local date and time (daylight saving decided by the
// system). Returns -1 when the parts do not form a valid time.
std::time_t FromLocalTime(const LocalTime& t);

// The local date and time of a time_t.
LocalTime ToLocalTime(std::time_t t);

// 1 January of the year of `now`, 00:00 local time.
std::time_t StartOfYear(std::time_t now);

// The year of a listed month and day that came without a year: the year of
// `now`, or the year before when that month and day still lie ahead of
// today's date.
int YearForMonthDay(int month, int day, std::time_t now);

} // namespace qb
