#pragma once
// Small pieces every benchmark needs: a wall clock in milliseconds and a
// fast deterministic generator for synthetic tables.

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

inline double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::uint64_t splitmix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A table of uniform values in the text format (no labels, every dimension
// shown), or the same values as CSV: a header row, commas between the fields.
inline void writeTable(const std::string& path, long records, int dimensions, bool csv) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string text;
    if (csv) {
        for (int j = 0; j < dimensions; ++j) text += (j ? ",d" : "d") + std::to_string(j);
    } else {
        text = std::to_string(records) + ' ' + std::to_string(dimensions) + ' ' +
               std::to_string(dimensions) + " 0\nid";
        for (int j = 0; j < dimensions; ++j) text += " d" + std::to_string(j);
    }
    text += '\n';
    const char separator = csv ? ',' : ' ';
    std::uint64_t state = 42;
    char number[32];
    for (long i = 0; i < records; ++i) {
        for (int j = 0; j < dimensions; ++j) {
            const double value = static_cast<double>(splitmix(state) % 1000000) / 997.0 - 300.0;
            const auto end = std::to_chars(number, number + sizeof number, value,
                                           std::chars_format::general, 6).ptr;
            text.append(number, end);
            text += j + 1 < dimensions ? separator : '\n';
        }
        if (text.size() > (1 << 20)) {
            std::fwrite(text.data(), 1, text.size(), file);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

}  // namespace bench
