#pragma once
// The plot's per-record colour and selection, kept compact: a table of the
// distinct values in use and a small index per record. Reading a record
// gives back exactly the double that was stored for it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/large_array.h"
#include "base/types.h"

// What a brush made of every record: passed[i] is 1 where its test accepted
// record i, whose value is then insideValue, and 0 where it gets outsideValue.
struct Membership {
    const unsigned char* passed = nullptr;
    double insideValue = 1.0;
    double outsideValue = 0.23;

    double operator[](long long i) const { return passed[i] ? insideValue : outsideValue; }
};

// Above this a record counts as fully selected: drawn in its ramp colour,
// exported, painted.
constexpr double fullySelected = 0.99999;

// The colour every record gets at load: a record wearing it counts as
// unpainted when the drawing order is made.
constexpr Rgba unpaintedColor{0.2, 0.2, 0.2, 0.2};

// Each record's own colour, if it has one: an index into the distinct
// colours in use (0: none). More distinct colours than an index can name
// fall back to one full colour per record. Every colour of the table keeps
// the time it was last painted with, which orders the paints when records
// are drawn: a colour painted again moves up as a whole.
class RecordColors {
public:
    static constexpr std::size_t maxColors = 65535;

    // capacity records, none with a colour of its own; at most colorLimit
    // distinct colours are kept as indices.
    void reset(int capacity, std::size_t colorLimit = maxColors);
    int size() const { return static_cast<int>(index_.size()); }

    bool has(int i) const { return index_[static_cast<std::size_t>(i)] != 0; }
    // Record i's own colour, valid where has(i); (0, 0, 0, 0) elsewhere.
    const Rgba& operator[](int i) const {
        return full_.empty() ? table_[index_[static_cast<std::size_t>(i)]] : full_[static_cast<std::size_t>(i)];
    }

    void set(int i, const Rgba& color);
    void clear(int i);
    // Gives records first .. first + count - 1 the colour, or none (null).
    void setRange(int first, int count, const Rgba* color);
    // Every record without, or with, a colour of its own.
    void clearAll();
    void setAll(const Rgba& color);
    // Gives color to every record i < count with pick(i) true.
    template <class Pick>
    void setWhere(int count, Pick pick, const Rgba& color) {
        const std::uint16_t k = paintWith(color);
        for (int i = 0; i < count; ++i)
            if (pick(i)) place(i, k, color);
    }
    // Moves these colours of the table up, each over the ones before it, as
    // if painted again in this order (a restored view's paint order);
    // colours not in the table are passed over.
    void repaint(const std::vector<Rgba>& oldestFirst);
    // Whether some record below count has, or lacks, a colour of its own.
    bool anyWith(int count) const;
    bool anyWithout(int count) const;

    // The stored form: per record its index, and the colours the indices
    // name (entry 0 is the "none" entry). While fallsBack() the indices are
    // only 0 or 1 and each record's colour is kept in full.
    const std::vector<std::uint16_t, LargeArrayAllocator<std::uint16_t>>& indices() const { return index_; }
    const std::vector<Rgba>& table() const { return table_; }
    bool fallsBack() const { return !full_.empty(); }
    // When table entry k was last painted with: larger is later (0 for the
    // "none" entry). Not kept while fallsBack().
    std::uint64_t paintedAt(std::size_t k) const { return k < painted_.size() ? painted_[k] : 0; }
    std::size_t bytes() const;

private:
    // Index of color in the table, added when new.
    std::uint16_t indexOf(const Rgba& color);
    // The same, stamped as painted now.
    std::uint16_t paintWith(const Rgba& color);
    void place(int i, std::uint16_t k, const Rgba& color) {
        index_[static_cast<std::size_t>(i)] = full_.empty() ? k : 1;
        if (!full_.empty()) full_[static_cast<std::size_t>(i)] = color;
    }
    // Drops the colours no record uses; false when every one is in use.
    bool compact();

    std::vector<std::uint16_t, LargeArrayAllocator<std::uint16_t>> index_;
    std::vector<Rgba> table_{Rgba{0, 0, 0, 0}};
    std::vector<std::uint64_t> painted_{0};  // per table entry
    std::uint64_t clock_ = 0;                // paints so far
    std::vector<Rgba> full_;
    std::size_t limit_ = maxColors;
    std::uint16_t last_ = 0;  // the index found last, tried first
};

// Each record's degree of selection: a byte naming one of the distinct
// degrees in use, kept in ascending order, so that the lesser or larger of
// two degrees is the lesser or larger of their bytes. The brushes only ever
// make 1.0 and 0.23; up to 256 distinct degrees are kept exactly.
class RecordSelection {
public:
    static constexpr std::size_t maxLevels = 256;

    // capacity records, each of degree 1.
    void reset(int capacity);
    int size() const { return static_cast<int>(codes_.size()); }

    double operator[](int i) const { return levels_[codes_[static_cast<std::size_t>(i)]]; }
    bool selected(int i) const { return codes_[static_cast<std::size_t>(i)] >= firstSelected_; }

    // A NaN degree is taken as 0; beyond maxLevels distinct degrees a new
    // one takes the nearest degree kept.
    void set(int i, double degree);
    void setRange(int first, int count, double degree);
    void fill(double degree);
    // Per record i < count: the lesser (intersect) or the larger (unite) of
    // its degree and m[i], on both cores for millions of records.
    void intersect(int count, const Membership& m);
    void unite(int count, const Membership& m);

    // The stored form: a code per record and the ascending degrees the
    // codes name. Codes from firstSelected() on are fully selected.
    const std::vector<unsigned char, LargeArrayAllocator<unsigned char>>& codes() const { return codes_; }
    const std::vector<double>& levels() const { return levels_; }
    int firstSelected() const { return firstSelected_; }

private:
    unsigned char codeOf(double degree);
    template <class Fold>
    void fold(int count, const Membership& m, Fold pick);
    void settle();

    std::vector<unsigned char, LargeArrayAllocator<unsigned char>> codes_;
    std::vector<double> levels_{1.0};
    int firstSelected_ = 0;  // levels_.size() when no degree is fully selected
    unsigned char last_ = 0;  // the code found last, tried first
};
