#include "data/dimension.h"

#include "plot/plot.h"

Dimension::Dimension(const std::string& name_, const PCPlot& plot, const double* values_,
                     double initialMaximum, double initialMinimum)
    : name(name_),
      recordCount(plot.recordCount),
      capacity(plot.capacity),
      maximum(initialMaximum),
      minimum(initialMinimum),
      values(values_),
      normalized(new double[static_cast<size_t>(plot.capacity)]) {
    double outMaximum = 0.0;
    double outMinimum = 0.0;
    computeRange(outMaximum, outMinimum);
}

bool Dimension::computeRange(double& outMaximum, double& outMinimum) {
    if (values == nullptr || recordCount <= 0) return false;
    maximum = minimum = values[0];
    for (int i = 1; i < recordCount; ++i) {
        if (values[i] > maximum)
            maximum = values[i];
        else if (values[i] < minimum)
            minimum = values[i];
    }
    rangeChanged = true;
    // Widened so that no record sits exactly on an end of its axis.
    const double s = (maximum - minimum) * 0.02;
    maximum += s;
    minimum -= s;
    outMaximum = maximum;
    outMinimum = minimum;
    return true;
}

const double* Dimension::normalizedValues() {
    if (!alwaysRenormalize && !rangeChanged) return normalized.get();
    if (!alwaysRenormalize) rangeChanged = false;
    const double span = maximum - minimum;
    double* out = normalized.get();
    if (span > 0.0) {
        for (int i = 0; i < recordCount; ++i) out[i] = (values[i] - minimum) / span;
    } else {
        // Every value is the same: put all records in the middle of the axis.
        for (int i = 0; i < recordCount; ++i) out[i] = 0.5;
    }
    return out;
}

void Dimension::setLabels(int count, const LabelEntry* entries) {
    if (count < 0) count = 0;
    labels.assign(entries, entries + count);
    labelCount = count;
}
