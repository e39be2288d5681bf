#include "listing/cell_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "data/dimension.h"
#include "data/time_text.h"

CellFormat::CellFormat(const Dimension& dimension) : dimension_(&dimension) {
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(dimension.labelCount, 0)),
                                       dimension.labels.size());
    byValue_.reserve(count);
    for (std::size_t k = 0; k < count; ++k) byValue_.emplace_back(dimension.labels[k].value, k);
    std::stable_sort(byValue_.begin(), byValue_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::string_view CellFormat::text(double value, char* buffer) const {
    if (dimension_ == nullptr) return {};
    const Dimension& d = *dimension_;
    if (std::isnan(value) || value == d.missingValue) return "missing";
    const auto at = std::lower_bound(byValue_.begin(), byValue_.end(), value,
                                     [](const auto& entry, double v) { return entry.first < v; });
    if (at != byValue_.end() && at->first == value) return d.labels[at->second].text;
    if (d.format != ValueFormat::Number) {
        formatTime(value, d.format == ValueFormat::Date, buffer, cellBufferSize);
        return buffer;
    }
    // The text stream's default format: %g with six significant digits.
    const auto end = std::to_chars(buffer, buffer + cellBufferSize - 1, value, std::chars_format::general, 6);
    *end.ptr = '\0';
    return {buffer, static_cast<std::size_t>(end.ptr - buffer)};
}
