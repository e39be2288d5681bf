#pragma once
// A 64-bit fingerprint of the values a cache depends on, fed word by word.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/types.h"

// Every step is a bijection of the running value for a fixed input and of
// the input for a fixed running value, so changing any one word changes the
// result.
class Signature {
public:
    std::uint64_t value() const {
        std::uint64_t h = h_;
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 29;
        return h;
    }

    void word(std::uint64_t w) {
        const std::uint64_t v = (h_ ^ w) * 0x9E3779B97F4A7C15ULL;
        h_ = (v << 27) | (v >> 37);
    }
    void number(double v) {
        std::uint64_t w;
        std::memcpy(&w, &v, sizeof w);
        word(w);
    }
    void flag(bool b) { word(b ? 1 : 0); }
    void integer(long long v) { word(static_cast<std::uint64_t>(v)); }
    template <class Fn>
    void function(Fn fn) {
        std::uint64_t w = 0;
        std::memcpy(&w, &fn, std::min(sizeof fn, sizeof w));
        word(w);
    }
    void color(const Rgba& c) {
        for (double v : c) number(v);
    }

private:
    std::uint64_t h_ = 0x243F6A8885A308D3ULL;
};

