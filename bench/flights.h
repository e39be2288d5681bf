#pragma once
// A table shaped like a public table of flights, as CSV: a departure
// date-time to the minute, a delay in minutes, a distance in miles, and the
// origin and destination among 230 airport codes, the busy airports far
// more frequent than the rest (about 33 bytes a row). The same records and
// seed always give the same bytes.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

inline bool writeFlights(std::FILE* file, long long records, std::uint64_t seed) {
    std::uint64_t state = seed * 0x9e3779b97f4a7c15ULL + 3;
    const auto uniform = [&] { return static_cast<double>(splitmix(state) >> 11) * 0x1.0p-53; };
    constexpr int airports = 230;
    std::vector<std::string> codes;
    std::vector<double> cumulative;
    double total = 0.0;
    while (static_cast<int>(codes.size()) < airports) {
        std::string code(3, 'A');
        for (char& c : code) c = static_cast<char>('A' + splitmix(state) % 26);
        bool taken = false;
        for (const std::string& other : codes) taken = taken || other == code;
        if (taken) continue;
        codes.push_back(code);
        // Zipf-like: the k-th airport is about 1/k as busy as the first.
        total += 1.0 / static_cast<double>(codes.size());
        cumulative.push_back(total);
    }
    const auto airport = [&]() -> const std::string& {
        const double pick = uniform() * total;
        std::size_t k = 0;
        while (k + 1 < cumulative.size() && cumulative[k] < pick) ++k;
        return codes[k];
    };
    std::string text = "time,delay,distance,origin,destination\n";
    constexpr long long firstDay = 13149;  // 2006-01-01, in days since 1970
    char line[96];
    for (long long i = 0; i < records; ++i) {
        const long long day = firstDay + static_cast<long long>(splitmix(state) % 365);
        const int minute = static_cast<int>(300 + splitmix(state) % 1140);  // 05:00 to 23:59
        // Civil date from days since 1970 (proleptic Gregorian).
        const long long z = day + 719468, era = z / 146097, doe = z - era * 146097;
        const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
        const int dayOfMonth = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
        // Most flights leave about on time; a long tail leaves hours late.
        const double u1 = uniform(), u2 = uniform();
        const int delay = uniform() < 0.8
                              ? static_cast<int>(std::sqrt(-2.0 * std::log(1.0 - u1)) * std::cos(6.283185307179586 * u2) * 8.0)
                              : static_cast<int>(-std::log(1.0 - u1) * 60.0);
        const int distance = 80 + static_cast<int>(splitmix(state) % 2700);
        const std::string& origin = airport();
        const std::string& destination = airport();
        text.append(line, static_cast<std::size_t>(std::snprintf(
                              line, sizeof line, "%04lld-%02d-%02d %02d:%02d,%d,%d,%s,%s\n", year, month, dayOfMonth,
                              minute / 60, minute % 60, delay, distance, origin.c_str(), destination.c_str())));
        if (text.size() > (1 << 20)) {
            if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) return false;
            text.clear();
        }
    }
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace bench
