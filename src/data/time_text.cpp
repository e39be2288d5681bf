#include "data/time_text.h"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace {

constexpr long long secondsPerDay = 86400;

// Exactly count decimal digits at p (at most 9): no sign, nothing else.
bool readDigits(const char* p, int count, unsigned& out) {
    unsigned value = 0;
    for (int k = 0; k < count; ++k) {
        const unsigned digit = static_cast<unsigned>(p[k]) - '0';
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

bool leapYear(long long y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

unsigned daysInMonth(long long y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
// Years are counted from March so that the leap day ends a year; 400 years
// (an era) are 146097 days.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The inverse of daysFromCivil.
void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    d = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    m = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    y = yearOfEra + era * 400 + (m <= 2 ? 1 : 0);
}

long long floorDiv(long long a, long long b) {
    const long long q = a / b;
    return q * b > a ? q - 1 : q;
}

}  // namespace

namespace {

constexpr long long powersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// A time of day from s[at] to the end: "HH:MM", "HH:MM:SS" or "HH:MM:SS.f"
// (1 to 9 fraction digits), optionally ending in "Z" or "+HH:MM" / "-HH:MM".
// clock is its seconds since midnight less its offset from UTC.
bool readClock(const char* s, std::size_t at, std::size_t n, long long& clock, unsigned& fraction, int& fractionDigits) {
    unsigned hour = 0, minute = 0, second = 0;
    fraction = 0;
    fractionDigits = 0;
    if (n < at + 5 || s[at + 2] != ':' || !readDigits(s + at, 2, hour) || !readDigits(s + at + 3, 2, minute) ||
        hour > 23 || minute > 59)
        return false;
    at += 5;
    if (at < n && s[at] == ':') {
        if (n < at + 3 || !readDigits(s + at + 1, 2, second) || second > 59) return false;
        at += 3;
        if (at < n && s[at] == '.') {
            ++at;
            while (at + fractionDigits < n && s[at + fractionDigits] >= '0' && s[at + fractionDigits] <= '9')
                ++fractionDigits;
            if (fractionDigits < 1 || fractionDigits > 9 || !readDigits(s + at, fractionDigits, fraction))
                return false;
            at += static_cast<std::size_t>(fractionDigits);
        }
    }
    long long offset = 0;
    if (at < n && s[at] == 'Z') {
        ++at;
    } else if (at < n && (s[at] == '+' || s[at] == '-')) {
        unsigned offsetHours = 0, offsetMinutes = 0;
        if (n < at + 6 || s[at + 3] != ':' || !readDigits(s + at + 1, 2, offsetHours) ||
            !readDigits(s + at + 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return false;
        offset = (s[at] == '+' ? 1 : -1) * static_cast<long long>(offsetHours * 3600 + offsetMinutes * 60);
        at += 6;
    }
    if (at != n) return false;
    clock = hour * 3600LL + minute * 60LL + second - offset;
    return true;
}

// The month a name or its first three letters stand for (any case), 0 for none.
unsigned monthNamed(std::string_view word) {
    static const char* const names[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
    if (word.size() < 3) return 0;
    char lower[10] = {};
    if (word.size() >= sizeof lower) return 0;
    for (std::size_t i = 0; i < word.size(); ++i)
        lower[i] = word[i] >= 'A' && word[i] <= 'Z' ? static_cast<char>(word[i] - 'A' + 'a') : word[i];
    const std::string_view text(lower, word.size());
    for (unsigned m = 0; m < 12; ++m) {
        const std::string_view name = names[m];
        if (text == name || (text.size() == 3 && name.compare(0, 3, text) == 0)) return m + 1;
    }
    return 0;
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "Jan 1 2000", "January 1, 2000" or "1 Jan 2000": the month, day and year,
// and where the date ends (the end, or the blank before a time).
bool readNamedDate(const char* s, std::size_t n, unsigned& year, unsigned& month, unsigned& day, std::size_t& end) {
    std::size_t at = 0;
    const auto blanks = [&] {
        const std::size_t from = at;
        while (at < n && s[at] == ' ') ++at;
        return at > from;
    };
    const auto word = [&] {
        const std::size_t from = at;
        while (at < n && isLetter(s[at])) ++at;
        return monthNamed(std::string_view(s + from, at - from));
    };
    const auto dayNumber = [&] {
        const std::size_t from = at;
        while (at < n && isDigit(s[at]) && at - from < 3) ++at;
        return at - from >= 1 && at - from <= 2 && readDigits(s + from, static_cast<int>(at - from), day);
    };
    if (n == 0) return false;
    if (isLetter(s[0])) {
        month = word();
        if (month == 0 || !blanks() || !dayNumber()) return false;
    } else {
        if (!dayNumber() || !blanks()) return false;
        month = word();
        if (month == 0) return false;
    }
    if (at < n && s[at] == ',') ++at;
    if (!blanks() || n < at + 4 || !readDigits(s + at, 4, year)) return false;
    at += 4;
    if (at < n && s[at] != ' ') return false;
    if (day < 1 || day > daysInMonth(year, month)) return false;
    end = at;
    return true;
}

}  // namespace

bool parseTimeText(std::string_view text, double& seconds, bool& midnight, bool monthNames) {
    const char* s = text.data();
    const std::size_t n = text.size();
    unsigned year = 0, month = 0, day = 0;
    std::size_t at = 10;
    if (n >= 10 && (s[4] == '-' || s[4] == '/') && s[7] == s[4] && readDigits(s, 4, year) &&
        readDigits(s + 5, 2, month) && readDigits(s + 8, 2, day)) {
        if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
        if (at < n && s[at] != ' ' && s[at] != 'T') return false;
    } else if (!monthNames || !readNamedDate(s, n, year, month, day, at)) {
        return false;
    }
    long long clock = 0;
    unsigned fraction = 0;
    int fractionDigits = 0;
    if (at < n && !readClock(s, at + 1, n, clock, fraction, fractionDigits)) return false;
    // The clock time minus its offset from UTC.
    const long long whole = daysFromCivil(year, month, day) * secondsPerDay + clock;
    seconds = secondsAndFraction(whole, fraction, powersOfTen[fractionDigits]);
    midnight = fraction == 0 && whole - floorDiv(whole, secondsPerDay) * secondsPerDay == 0;
    return true;
}

void formatTime(double seconds, bool dateOnly, char* out, std::size_t outSize) {
    if (outSize == 0) return;
    // About 30 million years either way keeps every step within long long.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) {
        std::snprintf(out, outSize, "%g", seconds);
        return;
    }
    long long minutes = static_cast<long long>(std::floor(seconds / 60.0));
    // The division may round up to the next whole minute; never show a later time.
    if (static_cast<double>(minutes) * 60.0 > seconds) --minutes;
    const long long days = floorDiv(minutes, 1440);
    const long long minuteOfDay = minutes - days * 1440;
    long long year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    if (dateOnly)
        std::snprintf(out, outSize, "%04lld-%02u-%02u", year, month, day);
    else
        std::snprintf(out, outSize, "%04lld-%02u-%02u %02lld:%02lld", year, month, day, minuteOfDay / 60,
                      minuteOfDay % 60);
}
