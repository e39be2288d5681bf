#pragma once
// One column of the loaded table: name, widened value range, where its
// values lie on an axis, and optional category labels.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// How a dimension's values are written on screen: as numbers, or as times
// (seconds since 1970-01-01 UTC) written as dates, or as dates and times of
// day.
enum class ValueFormat { Number, Date, DateTime };

struct LabelEntry {
    double value = 0.0;
    std::string text;
};

// Where values lie on an axis: 0 at its bottom, 1 at its top.
struct Placement {
    double minimum = 0.0;
    double maximum = 0.0;

    // A range without spread (or beyond the doubles) puts every value at
    // the middle of the axis.
    double position(double value) const {
        const double span = maximum - minimum;
        return span > 0.0 && span < HUGE_VAL ? (value - minimum) / span : 0.5;
    }
    // position() of count values, into out.
    void place(const double* values, long long count, double* out) const;
};

// Records are placed in blocks of this many where a loop wants them as an
// array: small enough for the cache, large enough for vector instructions.
constexpr int placementBlock = 4096;

// A dimension's records as positions on its axis, computed from the values
// whenever they are read: nothing is kept per record.
struct Positions {
    const double* values = nullptr;  // null: no dimension
    Placement placement;

    explicit operator bool() const { return values != nullptr; }
    double operator[](long long r) const { return placement.position(values[r]); }
    // The positions of records first .. first + count - 1, into out.
    void fill(long long first, long long count, double* out) const { placement.place(values + first, count, out); }
};

struct Dimension {
    std::string name;
    int recordCount = 0;
    int capacity = 0;
    double maximum = 0.0;
    double minimum = 0.0;
    const double* values = nullptr;  // owned by the loader's rawValues slot
    int labelCount = 0;
    std::vector<LabelEntry> labels;
    // Per label entry, the records holding its value; and the entries from
    // the most to the least frequent (ties in entry order). Counted once per
    // table, when the labels are set.
    std::vector<int> labelRecords;
    std::vector<int> labelsByFrequency;
    ValueFormat format = ValueFormat::Number;
    // New whenever the way values map to positions on the axis changes (the
    // range, and anything else that moves them), drawn from one process-wide
    // counter: whatever was computed from the positions is keyed on it.
    std::uint64_t displayRevision = 0;

    // recordCount and capacity are the plot's; values holds recordCount.
    Dimension(const std::string& name, int recordCount, int capacity, const double* values,
              double initialMaximum, double initialMinimum);

    // Recomputes the range from the values and widens it by 2 % on each side.
    bool computeRange(double& outMaximum, double& outMinimum);
    // Where the values lie on an axis, from the range as it is now.
    Placement placement() const { return {minimum, maximum}; }
    Positions positions() const { return {values, placement()}; }
    // Gives the dimension a new displayRevision.
    void touchDisplay();
    // Replaces the category labels and counts their records.
    void setLabels(int count, const LabelEntry* entries);
    std::string nameCopy() const { return name; }
};
