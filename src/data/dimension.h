#pragma once
// One column of the loaded table: name, widened value range, cached
// normalised values and optional category labels.

#include <memory>
#include <string>
#include <vector>

struct PCPlot;

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

    Dimension(const std::string& name, const PCPlot& plot, const double* values,
              double initialMaximum, double initialMinimum);

    // Recomputes the range from the values and widens it by 2 % on each side.
    bool computeRange(double& outMaximum, double& outMinimum);
    // The normalised values, recomputed first when the range changed.
    const double* normalizedValues();
    void setLabels(int count, const LabelEntry* entries);
    std::string nameCopy() const { return name; }
};
