#include "session/record_codec.h"

#include <algorithm>

namespace {

int numberBytes(std::uint64_t v) {
    int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

void appendNumber(std::vector<std::uint8_t>& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
}

// Calls run(index, length) for each run of equal indices while it returns true.
template <class Run>
void forEachRun(const std::vector<std::uint32_t>& indices, Run&& run) {
    std::size_t first = 0;
    for (std::size_t i = 1; i <= indices.size(); ++i) {
        if (i < indices.size() && indices[i] == indices[first]) continue;
        if (!run(indices[first], i - first)) return;
        first = i;
    }
}

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

IndexedColumn encodeIndices(const std::vector<std::uint32_t>& indices, std::uint32_t distinct) {
    using record_codec_detail::packedBytes;
    IndexedColumn column;
    int bits = 0;
    while ((std::uint64_t{1} << bits) < distinct) bits = bits == 0 ? 1 : 2 * bits;
    const std::size_t n = indices.size();
    const std::size_t packed = packedBytes(n, bits);
    // Counted only as far as runs can stay the smaller form.
    std::size_t runBytes = 0;
    if (n > 0)
        forEachRun(indices, [&](std::uint32_t index, std::size_t length) {
            runBytes += static_cast<std::size_t>(numberBytes(index) + numberBytes(length - 1));
            return runBytes < packed;
        });
    if (runBytes < packed) {
        column.bits = IndexedColumn::runBits;
        column.bytes.reserve(runBytes);
        forEachRun(indices, [&](std::uint32_t index, std::size_t length) {
            appendNumber(column.bytes, index);
            appendNumber(column.bytes, length - 1);
            return true;
        });
        return column;
    }
    column.bits = bits;
    column.bytes.assign(packed, 0);
    std::uint8_t* out = column.bytes.data();
    if (bits > 0 && bits < 8) {
        // A byte at a time, filled in a register.
        const std::size_t perByte = static_cast<std::size_t>(8 / bits);
        for (std::size_t r = 0, b = 0; r < n; r += perByte, ++b) {
            const std::size_t end = std::min(n, r + perByte);
            unsigned byte = 0;
            for (std::size_t k = r; k < end; ++k)
                byte |= indices[k] << ((k - r) * static_cast<std::size_t>(bits));
            out[b] = static_cast<std::uint8_t>(byte);
        }
    } else if (bits >= 8) {
        const std::size_t width = static_cast<std::size_t>(bits) / 8;
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t k = 0; k < width; ++k)
                out[r * width + k] = static_cast<std::uint8_t>(indices[r] >> (8 * k));
    }
    return column;
}

std::string toBase64(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) text += alphabet[(v >> s) & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        const std::uint32_t v = (bytes[i] << 16) | (left == 2 ? bytes[i + 1] << 8 : 0);
        text += alphabet[(v >> 18) & 63];
        text += alphabet[(v >> 12) & 63];
        text += left == 2 ? alphabet[(v >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

bool fromBase64(std::string_view text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) return false;
    bytes.resize(text.size() / 4 * 3);
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const int s = k >= 4 - pad ? 0 : sextet(text[i + static_cast<std::size_t>(k)]);
            if (s < 0) return false;
            v = (v << 6) | static_cast<std::uint32_t>(s);
        }
        // "x=y=" is no padding.
        if (pad == 1 && text[i + 2] == '=') return false;
        bytes[out++] = static_cast<std::uint8_t>(v >> 16);
        if (pad < 2) bytes[out++] = static_cast<std::uint8_t>(v >> 8);
        if (pad < 1) bytes[out++] = static_cast<std::uint8_t>(v);
    }
    bytes.resize(out);
    return true;
}
