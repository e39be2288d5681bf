#pragma once
// Per-record values kept small and exact: every record holds an index into
// the distinct values of its column, stored either packed (a fixed number of
// bits per record) or as runs of equal indices, whichever takes fewer bytes.
// Base64 carries the bytes in a text file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct IndexedColumn {
    // Packed: bits per record, one of 0, 1, 2, 4, 8, 16, 32 (0: every record
    // holds index 0), low bits first. runBits: runs, each the index and the
    // run's length less one as LEB128 numbers.
    static constexpr int runBits = -1;
    int bits = 0;
    std::vector<std::uint8_t> bytes;
};

// Stores indices, each below distinct, in the smaller of the two forms.
IndexedColumn encodeIndices(const std::vector<std::uint32_t>& indices, std::uint32_t distinct);

std::string toBase64(const std::vector<std::uint8_t>& bytes);
// False for anything but padded standard base64.
bool fromBase64(std::string_view text, std::vector<std::uint8_t>& bytes);

namespace record_codec_detail {

inline bool readNumber(const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t& out) {
    out = 0;
    for (int shift = 0; p != end && shift < 64; shift += 7) {
        const std::uint8_t byte = *p++;
        out |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

inline std::size_t packedBytes(std::size_t records, int bits) {
    return (records / 8) * static_cast<std::size_t>(bits) +
           ((records % 8) * static_cast<std::size_t>(bits) + 7) / 8;
}

}  // namespace record_codec_detail

// Calls fill(first, count, index) for runs of records that cover
// [0, records) in order. False, possibly after some calls, when the column
// does not hold exactly `records` indices below distinct.
template <class Fill>
bool decodeIndices(const IndexedColumn& column, std::size_t records, std::uint32_t distinct, Fill&& fill) {
    using namespace record_codec_detail;
    const std::uint8_t* p = column.bytes.data();
    const std::uint8_t* const end = p + column.bytes.size();
    if (column.bits == IndexedColumn::runBits) {
        std::size_t first = 0;
        while (p != end) {
            std::uint64_t index = 0;
            std::uint64_t extra = 0;
            if (!readNumber(p, end, index) || !readNumber(p, end, extra)) return false;
            if (index >= distinct || first == records || extra >= records - first) return false;
            fill(first, static_cast<std::size_t>(extra) + 1, static_cast<std::uint32_t>(index));
            first += static_cast<std::size_t>(extra) + 1;
        }
        return first == records;
    }
    const int bits = column.bits;
    if ((bits != 0 && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 32) ||
        column.bytes.size() != packedBytes(records, bits))
        return false;
    if (bits == 0) {
        if (records == 0) return true;
        if (distinct == 0) return false;
        fill(std::size_t{0}, records, std::uint32_t{0});
        return true;
    }
    const std::uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    for (std::size_t r = 0; r < records; ++r) {
        std::uint32_t index = 0;
        if (bits < 8) {
            const std::size_t bit = r * static_cast<std::size_t>(bits);
            index = (p[bit / 8] >> (bit % 8)) & mask;
        } else {
            const std::size_t width = static_cast<std::size_t>(bits) / 8;
            for (std::size_t k = 0; k < width; ++k)
                index |= static_cast<std::uint32_t>(p[r * width + k]) << (8 * k);
        }
        if (index >= distinct) return false;
        fill(r, std::size_t{1}, index);
    }
    return true;
}
