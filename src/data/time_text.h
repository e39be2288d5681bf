#pragma once
// Dates and date-times as the CSV reader accepts them, and their text on
// time axes. Times are seconds since 1970-01-01 00:00 UTC.

#include <cstddef>
#include <string_view>

// Reads "YYYY-MM-DD" or "YYYY/MM/DD", alone or followed by a blank or "T"
// and "HH:MM", "HH:MM:SS" or "HH:MM:SS.f" (1 to 9 fraction digits), the time
// optionally ending in "Z" or "+HH:MM" / "-HH:MM". Times without a zone are
// UTC. midnight tells whether the instant is 00:00:00 UTC. False, with both
// outputs unchanged, for anything else (dates outside the calendar included).
bool parseTimeText(std::string_view text, double& seconds, bool& midnight);

// "2001-03-14" (dateOnly) or "2001-03-14 07:05", always rounded toward the
// past, also before 1970. Values far outside the calendar are written as
// numbers.
void formatTime(double seconds, bool dateOnly, char* out, std::size_t outSize);
