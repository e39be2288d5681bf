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
        // A whole code in range: its truncation is itself (no call to floor).
        if (codes && v >= 0.0 && v < end && static_cast<double>(static_cast<std::size_t>(v)) == v) {
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
                     double initialMaximum, double initialMinimum, const double* extremes)
    : name(name_),
      recordCount(recordCount_),
      capacity(capacity_),
      maximum(initialMaximum),
      minimum(initialMinimum),
      values(values_) {
    double outMaximum = 0.0;
    double outMinimum = 0.0;
    if (extremes == nullptr || values == nullptr || recordCount <= 0) {
        computeRange(outMaximum, outMinimum);
        return;
    }
    minimum = extremes[0];
    maximum = extremes[1];
    widenRange();
}

void Dimension::widenRange() {
    touchDisplay();
    // Widened so that no record sits exactly on an end of its axis.
    const double s = (maximum - minimum) * 0.02;
    maximum += s;
    minimum -= s;
}

bool Dimension::computeRange(double& outMaximum, double& outMinimum) {
    if (values == nullptr || recordCount <= 0) return false;
    // Four running extremes at a time, each as the one comparison would
    // keep it (a NaN never becomes an extreme); then the four are joined.
    double high[4], low[4];
    for (int k = 0; k < 4; ++k) high[k] = low[k] = values[0];
    int i = 1;
    for (; i + 4 <= recordCount; i += 4)
        for (int k = 0; k < 4; ++k) {
            high[k] = values[i + k] > high[k] ? values[i + k] : high[k];
            low[k] = values[i + k] < low[k] ? values[i + k] : low[k];
        }
    for (; i < recordCount; ++i) {
        high[0] = values[i] > high[0] ? values[i] : high[0];
        low[0] = values[i] < low[0] ? values[i] : low[0];
    }
    maximum = std::max({high[0], high[1], high[2], high[3]});
    minimum = std::min({low[0], low[1], low[2], low[3]});
    widenRange();
    outMaximum = maximum;
    outMinimum = minimum;
    return true;
}

void Dimension::touchDisplay() {
    static std::uint64_t revisions = 0;
    displayRevision = ++revisions;
}

namespace {

template <class Transform>
void placeWith(const double* values, long long count, double* out, double low, double span, bool flipped,
               Transform t) {
    if (flipped)
        for (long long i = 0; i < count; ++i) out[i] = 1.0 - (t(values[i]) - low) / span;
    else
        for (long long i = 0; i < count; ++i) out[i] = (t(values[i]) - low) / span;
}

bool sameNumber(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

void Placement::place(const double* values, long long count, double* out) const {
    const double span = maximum - minimum;
    if (!(span > 0.0 && span < HUGE_VAL)) {
        std::fill(out, out + count, 0.5);
        return;
    }
    // The same expressions as position(), so both give the same doubles.
    if (scale == AxisScale::Linear)
        placeWith(values, count, out, minimum, span, flipped, [](double v) { return v; });
    else
        placeWith(values, count, out, minimum, span, flipped, [this](double v) { return transform(v); });
}

double Placement::inverse(double scaled) const {
    switch (scale) {
    case AxisScale::Log:
        return std::pow(10.0, scaled);
    case AxisScale::Symlog: {
        const double v = constant * std::expm1(std::fabs(scaled) * M_LN10);
        return scaled < 0.0 ? -v : v;
    }
    default:
        return scaled;
    }
}

double Placement::valueAt(double position) const {
    const double u = flipped ? 1.0 - position : position;
    return inverse(minimum + u * (maximum - minimum));
}

bool Placement::operator==(const Placement& o) const {
    return minimum == o.minimum && maximum == o.maximum && scale == o.scale && constant == o.constant &&
           sameNumber(missing, o.missing) && missingAt == o.missingAt && flipped == o.flipped;
}

namespace {

// The least and largest value of the records that are not missing, and
// whether any is missing; false when none is present.
bool presentRange(const Dimension& d, double& low, double& high, bool& anyMissing) {
    low = HUGE_VAL;
    high = -HUGE_VAL;
    anyMissing = false;
    for (int i = 0; i < d.recordCount; ++i) {
        const double v = d.values[i];
        if (v == d.missingValue) {
            anyMissing = true;
            continue;
        }
        low = std::min(low, v);
        high = std::max(high, v);
    }
    return low <= high;
}

// The median of the non-zero magnitudes of the present values, from an even
// sample of about a million of them; 1 when there are none.
double medianMagnitude(const Dimension& d) {
    const int step = std::max(1, d.recordCount >> 20);
    std::vector<double> sample;
    sample.reserve(static_cast<std::size_t>(d.recordCount / step + 1));
    for (int i = 0; i < d.recordCount; i += step) {
        const double v = d.values[i];
        if (v != 0.0 && v != d.missingValue) sample.push_back(std::fabs(v));
    }
    if (sample.empty()) return 1.0;
    const auto middle = sample.begin() + static_cast<std::ptrdiff_t>(sample.size() / 2);
    std::nth_element(sample.begin(), middle, sample.end());
    return *middle;
}

}  // namespace

AxisScale Dimension::logarithmicScale() const {
    double low = 0.0, high = 0.0;
    bool anyMissing = false;
    if (values == nullptr || !presentRange(*this, low, high, anyMissing)) return AxisScale::Symlog;
    return low > 0.0 ? AxisScale::Log : AxisScale::Symlog;
}

bool Dimension::setScale(AxisScale to) {
    if (to == scale) return true;
    if (to == AxisScale::Linear) {
        scale = to;
        touchDisplay();
        return true;
    }
    double low = 0.0, high = 0.0;
    bool anyMissing = false;
    const bool any = values != nullptr && presentRange(*this, low, high, anyMissing);
    if (to == AxisScale::Log && any && !(low > 0.0)) return false;
    Placement made;
    made.scale = to;
    made.constant = to == AxisScale::Symlog && values != nullptr ? medianMagnitude(*this) : 1.0;
    // Both transforms rise with the value: the ends come from the ends.
    double bottom = any ? made.transform(low) : 0.0;
    const double top = any ? made.transform(high) : 0.0;
    if (!std::isfinite(bottom) || !std::isfinite(top)) return false;
    // Missing values go just below, as the loader puts them below a linear range.
    const double missingPlace = top > bottom ? bottom - 0.1 * (top - bottom) : bottom - 1.0;
    if (anyMissing) bottom = missingPlace;
    const double widen = (top - bottom) * 0.02;
    scale = to;
    symlogConstant = made.constant;
    missingAt = missingPlace;
    scaledMinimum = bottom - widen;
    scaledMaximum = top + widen;
    touchDisplay();
    return true;
}

void Dimension::setFlipped(bool to) {
    if (to == flipped) return;
    flipped = to;
    touchDisplay();
}

void Dimension::setLabels(int count, const LabelEntry* entries, const int* records) {
    if (count < 0) count = 0;
    labels.assign(entries, entries + count);
    labelCount = count;
    if (records != nullptr) {
        labelRecords.assign(records, records + count);
    } else {
        countLabelRecords();
    }
    labelsByFrequency.resize(labels.size());
    std::iota(labelsByFrequency.begin(), labelsByFrequency.end(), 0);
    std::stable_sort(labelsByFrequency.begin(), labelsByFrequency.end(), [&](int a, int b) {
        return labelRecords[static_cast<std::size_t>(a)] > labelRecords[static_cast<std::size_t>(b)];
    });
}

void Dimension::countLabelRecords() {
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
}
