#include "data/dimension.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// How many of the values equal each of the (sorted, distinct) keys.
std::vector<int> countValues(const double* values, int recordCount, const std::vector<double>& keys) {
    std::vector<int> counts(keys.size(), 0);
    // Category codes 0, 1, 2, ... are counted by index rather than by search.
    bool codes = true;
    for (std::size_t k = 0; k < keys.size() && codes; ++k) codes = keys[k] == static_cast<double>(k);
    const double end = static_cast<double>(keys.size());
    for (int i = 0; i < recordCount; ++i) {
        const double v = values[i];
        if (codes && v >= 0.0 && v < end && v == std::floor(v)) {
            ++counts[static_cast<std::size_t>(v)];
            continue;
        }
        const auto at = std::lower_bound(keys.begin(), keys.end(), v);
        if (at != keys.end() && *at == v) ++counts[static_cast<std::size_t>(at - keys.begin())];
    }
    return counts;
}

}  // namespace

Dimension::Dimension(const std::string& name_, int recordCount_, int capacity_, const double* values_,
                     double initialMaximum, double initialMinimum)
    : name(name_),
      recordCount(recordCount_),
      capacity(capacity_),
      maximum(initialMaximum),
      minimum(initialMinimum),
      values(values_) {
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
    touchDisplay();
    // Widened so that no record sits exactly on an end of its axis.
    const double s = (maximum - minimum) * 0.02;
    maximum += s;
    minimum -= s;
    outMaximum = maximum;
    outMinimum = minimum;
    return true;
}

void Dimension::touchDisplay() {
    static std::uint64_t revisions = 0;
    displayRevision = ++revisions;
}

void Placement::place(const double* values, long long count, double* out) const {
    const double span = maximum - minimum;
    if (!(span > 0.0 && span < HUGE_VAL)) {
        std::fill(out, out + count, 0.5);
        return;
    }
    const double low = minimum;
    for (long long i = 0; i < count; ++i) out[i] = (values[i] - low) / span;
}

void Dimension::setLabels(int count, const LabelEntry* entries) {
    if (count < 0) count = 0;
    labels.assign(entries, entries + count);
    labelCount = count;

    std::vector<double> keys;
    for (const LabelEntry& entry : labels)
        if (!std::isnan(entry.value)) keys.push_back(entry.value);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    const std::vector<int> counts =
        values != nullptr ? countValues(values, recordCount, keys) : std::vector<int>(keys.size(), 0);
    labelRecords.assign(labels.size(), 0);
    for (std::size_t k = 0; k < labels.size(); ++k) {
        const auto at = std::lower_bound(keys.begin(), keys.end(), labels[k].value);
        if (at != keys.end() && *at == labels[k].value)
            labelRecords[k] = counts[static_cast<std::size_t>(at - keys.begin())];
    }
    labelsByFrequency.resize(labels.size());
    std::iota(labelsByFrequency.begin(), labelsByFrequency.end(), 0);
    std::stable_sort(labelsByFrequency.begin(), labelsByFrequency.end(), [&](int a, int b) {
        return labelRecords[static_cast<std::size_t>(a)] > labelRecords[static_cast<std::size_t>(b)];
    });
}
