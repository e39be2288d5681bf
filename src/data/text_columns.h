#pragma once
// The column rules shared by every reader of tables with a header of names
// (CSV, tab-separated, Parquet, JSON): cells are read piece by piece, each
// piece a run of consecutive rows that may be read on its own thread, and
// the pieces of a column are then joined into one dimension, a time axis,
// category codes, the record labels, or nothing.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_file.h"

struct TableContent;

// The distinct texts of one column within one piece, coded from 0 in the
// order they first appear. Once a column has shown that it can be neither
// categories nor labels, it stops keeping texts and only tells them apart
// by their 64-bit hash, which is all its count of distinct texts needs. What
// it holds is charged to the load's memory account before it is allocated.
class TextDictionary {
public:
    std::uint32_t code(std::string_view text);
    std::size_t size() const { return entries_.size(); }
    std::uint64_t hash(std::uint32_t code) const { return entries_[code].hash; }
    std::string_view text(std::uint32_t code) const {
        return {bytes_.data() + entries_[code].offset, entries_[code].length};
    }
    bool keepsTexts() const { return keepsTexts_; }
    // A text came again: the column cannot be the record labels.
    bool sawRepeat() const { return sawRepeat_; }
    void clear();

private:
    struct Entry {
        std::uint64_t hash;
        std::size_t offset;
        std::uint32_t length;
    };
    void grow();
    void forgetTextsIfHopeless();

    std::vector<std::uint32_t> slots_;  // code + 1, 0 for an empty slot
    std::vector<Entry> entries_;
    std::vector<char> bytes_;
    LoadCharge charge_;
    bool keepsTexts_ = true;
    bool sawRepeat_ = false;
};

enum class CellKind { Numeric, Time, Text };

// Largest magnitude a value may have; beyond it the range arithmetic fails.
constexpr double largestValue = 1e300;

bool isMissingCell(std::string_view cell);
// Whether a equals lower (which is in lower case) ignoring ASCII case.
bool equalsIgnoringCase(std::string_view a, std::string_view lower);

// What a whole cell reads as: a number (an underflow is zero with its sign),
// a number out of range (an overflow, which reads as infinite, or beyond
// largestValue), or no number.
enum class NumberRead { Number, OutOfRange, NotANumber };
// The out-of-range case of readNumberCell, which from_chars leaves open.
NumberRead readOutOfRange(const char* first, const char* last, double& out);
inline NumberRead readNumberCell(std::string_view cell, double& out) {
    const char* first = cell.data();
    const char* last = first + cell.size();
    if (last - first > 1 && *first == '+' && first[1] != '-') ++first;
    const auto result = std::from_chars(first, last, out);
    if (result.ptr != last) return NumberRead::NotANumber;
    if (result.ec == std::errc()) return std::fabs(out) <= largestValue ? NumberRead::Number : NumberRead::OutOfRange;
    if (result.ec == std::errc::result_out_of_range) return readOutOfRange(first, last, out);
    return NumberRead::NotANumber;
}

// The rules by which text cells read as numbers and dates. A session records
// the version of the rules its table was read under, and its table is read
// under them again.
struct ColumnRules {
    bool monthNameDates = true;  // "Jan 1 2000", "1 January 2000"
    bool groupedNumbers = true;  // "1,611,606"
    static ColumnRules ofVersion(int version);
};
// Version 1: ISO dates and plain numbers; version 2 adds the two above.
constexpr int columnRulesVersion = 2;

// A number written with commas between groups of three digits
// ("1,611,606", "-566,000", "1,375.5"), with how many commas it has.
bool readGroupedNumber(std::string_view cell, double& out, int& separators);

// One column over one piece's rows. Numbers and times are stored as they
// are read, NaN where a cell is missing; texts as their dictionary code.
struct ColumnPiece {
    CellKind kind = CellKind::Numeric;
    long long firstTextRow = -1;  // the piece's row where texts began
    long long missing = 0;
    bool allMidnight = true;
    // Numbers read with thousands separators; whether one had two or more.
    bool grouped = false, groupedTwice = false;
    double low = 0.0, high = 0.0;  // of the values read, when valueCount > 0
    long long valueCount = 0;
    ColumnRules rules;
    TextDictionary texts;

    // Reads row's cell into *out (row counts from the piece's first row).
    // Inline: it runs once per cell of a file.
    void add(long long row, std::string_view cell, double& out) {
        if (kind == CellKind::Text) {
            out = static_cast<double>(texts.code(cell));
            return;
        }
        double value = 0.0;
        if (kind == CellKind::Numeric) {
            const NumberRead read = readNumberCell(cell, value);
            if (read == NumberRead::Number) {
                addNumber(value, out);
                return;
            }
            // Beyond the range arithmetic, as an infinite typed value is.
            if (read == NumberRead::OutOfRange) {
                addMissing(out);
                return;
            }
        }
        addOther(row, cell, out);
    }
    // A typed value from a file that has types: NaN or infinite values,
    // and values too large for the range arithmetic, are missing.
    void addNumber(double value, double& out) {
        if (!(std::fabs(value) <= largestValue)) {
            addMissing(out);
            return;
        }
        out = value;
        if (valueCount++ == 0) low = high = value;
        low = value < low ? value : low;
        high = value > high ? value : high;
    }
    void addTime(double seconds, bool midnight, double& out);
    void addMissing(double& out);
    // Starts again, keeping every cell as text from the piece's first row.
    void restartAsText();
    // The piece's cells read from row `from` on were texts, and the earlier
    // rows' texts must be read again.
    bool needsTextsAgain() const { return kind != CellKind::Text || firstTextRow > 0; }

private:
    // A cell that is missing, a time, a number with separators, or the
    // column's first text.
    void addOther(long long row, std::string_view cell, double& out);
};

// A column's values for n rows, not initialised. From a few megabytes on
// the kernel is asked for huge pages (with hugePages), so filling them takes
// a fault per 2 MB rather than per 4 KB.
std::unique_ptr<double[]> newValues(std::size_t n, bool hugePages = true);


// One column's pieces, in row order.
struct ColumnPieces {
    std::string name;                  // as in the header, turned into a token
    bool nested = false;               // values of a structure, left out
    std::vector<ColumnPiece*> pieces;  // one per piece of rows
    std::vector<long long> rows;       // each piece's row count
};

// What the column rules make of a whole column.
enum class ColumnRole { Dimension, Labels, LeftOut };

// The kind the whole column has: text when any piece met a text, or when
// some pieces held numbers and others times.
CellKind joinedKind(const ColumnPieces& column);

// Builds content's dimensions, labels and category sections from the
// columns, in their order, writing the format's trace lines (" csv column
// x: ..."). storage[j] holds column j's values of all rows, its pieces one
// after the other; a column that becomes a dimension gives its array to
// content. A text column's pieces that need their texts again must have
// been read again (restartAsText) before.
void finishColumns(std::vector<ColumnPieces>& columns, std::vector<std::unique_ptr<double[]>>& storage,
                   long long rows, const char* formatName, TableContent& content);
