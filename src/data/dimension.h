#pragma once
// One column of the loaded table: name, widened value range, cached
// normalised values and optional category labels.

#include <cstdint>
#include <memory>
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

struct Dimension {
    std::string name;
    int recordCount = 0;
    int capacity = 0;
    double maximum = 0.0;
    double minimum = 0.0;
    const double* values = nullptr;  // owned by the loader's rawValues slot
    std::unique_ptr<double[]> normalized;
    bool alwaysRenormalize = false;
    bool rangeChanged = false;
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

    // recordCount and capacity are the plot's: the values of recordCount
    // records, and normalised copies for capacity records.
    Dimension(const std::string& name, int recordCount, int capacity, const double* values,
              double initialMaximum, double initialMinimum);

    // Recomputes the range from the values and widens it by 2 % on each side.
    bool computeRange(double& outMaximum, double& outMinimum);
    // The normalised values, recomputed first when the range changed.
    const double* normalizedValues();
    // Gives the dimension a new displayRevision.
    void touchDisplay();
    // Replaces the category labels and counts their records.
    void setLabels(int count, const LabelEntry* entries);
    std::string nameCopy() const { return name; }
};
