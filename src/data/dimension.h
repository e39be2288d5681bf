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

// How an axis spreads its values: as they are, by their logarithm (positive
// values only), or by sign(v) log10(1 + |v| / c), which is near linear within
// c of zero and logarithmic beyond.
enum class AxisScale : unsigned char { Linear, Log, Symlog };

// Where values lie on an axis: 0 at its bottom, 1 at its top. The range is
// that of the values the scale makes (widened), and a flipped axis runs from
// its top down.
struct Placement {
    double minimum = 0.0;
    double maximum = 0.0;
    AxisScale scale = AxisScale::Linear;
    double constant = 1.0;  // symlog's c
    // A scaled axis draws the loader's stand-in for missing cells at its own
    // place below the transformed range, not where the value would go.
    double missing = NAN;
    double missingAt = 0.0;
    bool flipped = false;

    // The value as the scale makes it, and back.
    double transform(double value) const {
        switch (scale) {
        case AxisScale::Log:
            return value == missing ? missingAt : value > 0.0 ? std::log10(value) : -HUGE_VAL;
        case AxisScale::Symlog:
            return value == missing ? missingAt : symlog(value, constant);
        default:
            return value;
        }
    }
    double inverse(double scaled) const;
    // A range without spread (or beyond the doubles) puts every value at
    // the middle of the axis.
    double position(double value) const {
        const double span = maximum - minimum;
        if (!(span > 0.0 && span < HUGE_VAL)) return 0.5;
        const double u = (transform(value) - minimum) / span;
        return flipped ? 1.0 - u : u;
    }
    // position() of count values, into out.
    void place(const double* values, long long count, double* out) const;
    // The value drawn at the top (or the bottom) end of the axis.
    double valueAtEnd(bool top) const { return inverse(top != flipped ? maximum : minimum); }
    // The value drawn at a position; for what was made on another placement.
    double valueAt(double position) const;

    static double symlog(double value, double c) {
        // log10(1 + x), accurate for the small x near zero.
        const double t = std::log1p(std::fabs(value) / c) / M_LN10;
        return value < 0.0 ? -t : t;
    }
    bool operator==(const Placement& o) const;
    bool operator!=(const Placement& o) const { return !(*this == o); }
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
    // The value the loader gave missing cells (below the present values),
    // NaN when the column has none.
    double missingValue = NAN;
    // How the axis spreads the values: a scale other than linear has the
    // range of its transformed values (missing ones drawn below it), widened
    // as the linear one is; symlogConstant is its c.
    AxisScale scale = AxisScale::Linear;
    double symlogConstant = 1.0;
    double scaledMinimum = 0.0;
    double scaledMaximum = 0.0;
    double missingAt = 0.0;
    bool flipped = false;
    // New whenever the way values map to positions on the axis changes (the
    // range, and anything else that moves them), drawn from one process-wide
    // counter: whatever was computed from the positions is keyed on it.
    std::uint64_t displayRevision = 0;

    // recordCount and capacity are the plot's; values holds recordCount.
    // extremes, when given, are the least and the largest of the values as
    // their reader found them, which spares reading them all again.
    Dimension(const std::string& name, int recordCount, int capacity, const double* values,
              double initialMaximum, double initialMinimum, const double* extremes = nullptr);

    // Recomputes the range from the values and widens it by 2 % on each side.
    bool computeRange(double& outMaximum, double& outMinimum);
    // Where the values lie on an axis, from the range, the scale and the
    // flip as they are now.
    Placement placement() const {
        if (scale == AxisScale::Linear) return {minimum, maximum, scale, 1.0, NAN, 0.0, flipped};
        return {scaledMinimum, scaledMaximum, scale, symlogConstant, missingValue, missingAt, flipped};
    }
    Positions positions() const { return {values, placement()}; }
    // Whether the axis may take a scale other than linear: not for times or
    // categories, whose texts and dates follow their values' spacing.
    bool scalable() const { return labelCount == 0 && format == ValueFormat::Number; }
    // The scale other than linear this dimension takes: log when every
    // present value is positive, else symlog.
    AxisScale logarithmicScale() const;
    // Sets the scale (working out its range and, for symlog, c from the
    // values) or the flip; each gives a new displayRevision when it changes
    // something. setScale refuses (false) a log scale with values at or
    // below zero.
    bool setScale(AxisScale scale);
    void setFlipped(bool flipped);
    // Gives the dimension a new displayRevision.
    void touchDisplay();
    // Replaces the category labels and counts their records, or takes
    // records[k] as entry k's count where the reader counted them.
    void setLabels(int count, const LabelEntry* entries, const int* records = nullptr);
    std::string nameCopy() const { return name; }

private:
    void widenRange();
    void countLabelRecords();
};
