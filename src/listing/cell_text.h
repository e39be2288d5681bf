#pragma once
// How the records window and the hover box write a record's values: numbers
// as the axes write them (six significant digits), times as dates or dates
// and times of day, category values as their texts, and "missing" for a
// missing cell.

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

struct Dimension;

// Room for the longest number or date a cell holds, with its terminator.
constexpr std::size_t cellBufferSize = 48;

class CellFormat {
public:
    // Valid while the dimension lives; without one, every text is empty.
    CellFormat() = default;
    explicit CellFormat(const Dimension& dimension);

    // The value's text: written into buffer (cellBufferSize characters), or
    // one of the dimension's category texts.
    std::string_view text(double value, char* buffer) const;

private:
    const Dimension* dimension_ = nullptr;
    // The category texts by value, ascending; the first entry of a value wins.
    std::vector<std::pair<double, std::size_t>> byValue_;
};
