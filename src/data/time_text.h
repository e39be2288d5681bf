#pragma once
// Dates and date-times as the CSV reader accepts them, and their text on
// time axes. Times are seconds since 1970-01-01 00:00 UTC.

#include <cmath>
#include <cstddef>
#include <string_view>

// Reads "YYYY-MM-DD" or "YYYY/MM/DD", alone or followed by a blank or "T"
// and "HH:MM", "HH:MM:SS" or "HH:MM:SS.f" (1 to 9 fraction digits), the time
// optionally ending in "Z" or "+HH:MM" / "-HH:MM". Times without a zone are
// UTC. midnight tells whether the instant is 00:00:00 UTC. False, with both
// outputs unchanged, for anything else (dates outside the calendar included).
// With monthNames, also a date written with an English month name or its
// first three letters, in any case: "Jan 1 2000", "January 1, 2000" or
// "1 Jan 2000", alone or followed by a blank and the same times.
bool parseTimeText(std::string_view text, double& seconds, bool& midnight, bool monthNames = false);

// The instant `whole` seconds plus fraction / unitsPerSecond of a second
// (0 <= fraction < unitsPerSecond), divided once, so that every reader gives
// the same double for the same instant; never rounded up into the next
// second.
inline double secondsAndFraction(long long whole, long long fraction, long long unitsPerSecond) {
    const double seconds = static_cast<double>(whole) + static_cast<double>(fraction) / static_cast<double>(unitsPerSecond);
    // Far from 1970 a double cannot hold the fraction; it then stays in its
    // second rather than printing as the next one (9999-12-31 23:59:59.9
    // as the year 10000).
    const double next = static_cast<double>(whole + 1);
    return seconds < next ? seconds : std::nextafter(next, -HUGE_VAL);
}

// "2001-03-14" (dateOnly) or "2001-03-14 07:05", always rounded toward the
// past, also before 1970. Values far outside the calendar are written as
// numbers.
void formatTime(double seconds, bool dateOnly, char* out, std::size_t outSize);
