#pragma once
// Marks of many records at once, column by column: a group of records that
// crosses a pixel column at one height, spread over a box, drawn with the
// smoothed line's coverage into accumulated pixels. The straight lines from
// line sums and the curve pieces from cells both draw their groups here.

#include <algorithm>
#include <cmath>

#include "bins/binned_layer.h"
#include "records/accumulation.h"

namespace column_marks {

inline float clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The depth each class adds at one coverage, its alpha times the region's
// opacity (capped at opaque, as GL clamps it); opaque marks when aliased,
// where no alpha applies.
struct ClassDepths {
    int count = 0;
    float opacity = 1.0f;
    DepthTable tables[maxAlphaClasses];

    ClassDepths(const BinColors& colors, bool smooth, double regionOpacity)
        : count(std::clamp(colors.classCount, 0, maxAlphaClasses)),
          opacity(smooth ? static_cast<float>(std::max(regionOpacity, 0.0)) : 1.0f) {
        // Over every slot, so the compiler sees no write past the array.
        for (int k = 0; k < maxAlphaClasses; ++k)
            if (k < count)
                tables[k] = DepthTable(
                    smooth ? std::min(1.0, colors.classAlpha[static_cast<std::size_t>(k)] * regionOpacity) : 1.0);
    }
};

// Adds `counts` records (per class) covering a pixel to the share c, with
// alpha-weighted colour sums `rgb` and their weight (at full cover), all
// weighed by the region's opacity.
inline void addMarks(AccumulatedPixel& px, const ClassDepths& d, const float* counts, float total, float weight,
                     float c, const float* rgb) {
    for (int k = 0; k < d.count; ++k)
        if (counts[k] > 0.0f) px.depth += counts[k] * d.tables[k](c);
    const float share = c * d.opacity;
    px.cover += total * share;
    px.weight += weight * share;
    px.red += rgb[0] * share;
    px.green += rgb[1] * share;
    px.blue += rgb[2] * share;
}

// How lines of one width are drawn in a frame of `height` rows.
struct LineStyle {
    float half = 1.5f;  // coverage min(1, half - distance), distance across the line
    float cap = 0.5f;   // how far the ends fade beyond the end points
    bool smooth = true;
    int height = 0;

    LineStyle(double lineWidth, bool smoothed, int rows)
        : half(smoothed ? static_cast<float>(lineWidth) * 0.5f + 0.5f : static_cast<float>(std::max(lineWidth, 1.0)) * 0.5f),
          cap(smoothed ? 0.5f : 0.0f),
          smooth(smoothed),
          height(rows) {}

    // The share of a line's ink left at a column `beyond` pixels inside its
    // nearer end (negative: outside), for a line whose slope gives sigma.
    float ends(double beyond, float sigma) const {
        return smooth ? clamp01(static_cast<float>(beyond) * sigma + cap) : (beyond >= 0.0 ? 1.0f : 0.0f);
    }
};

// What a group of records crossing one column carries: records per class,
// their number, their alpha-weighted count and colour sums.
struct Group {
    const float* counts = nullptr;
    float total = 0.0f;
    float weight = 0.0f;
    const float* rgb = nullptr;
};

// Draws a group crossing `column` (rows from 0) at height yc, its records
// spread evenly over a box of that height, along lines whose slope gives
// sigma = sqrt(1 + slope^2), with the ends' share `ends`. The box is sampled
// where it is wider than half a pixel.
inline void drawGroup(AccumulatedPixel* column, const ClassDepths& depths, const LineStyle& style, const Group& g,
                      float yc, float box, float sigma, float slope, float ends) {
    if (!(ends > 0.0f) || !std::isfinite(yc) || !std::isfinite(box) || !std::isfinite(sigma)) return;
    const int samples = std::clamp(static_cast<int>(std::ceil(box / 0.5f)), 1, 8);
    const float reachY = style.smooth ? style.half * sigma : style.half * std::max(1.0f, std::fabs(slope));
    const float lowest = yc - box * 0.5f - reachY - 0.5f;
    const float highest = yc + box * 0.5f + reachY - 0.5f;
    if (highest < 0.0f || lowest > static_cast<float>(style.height)) return;
    const int lo = std::max(0, static_cast<int>(std::floor(lowest)));
    const int hi = std::min(style.height - 1, static_cast<int>(std::ceil(highest)));
    const float share = 1.0f / static_cast<float>(samples);
    const int classes = depths.count;
    float counts[maxAlphaClasses];
    for (int k = 0; k < classes; ++k) counts[k] = g.counts[k] * share;
    const float rgb[3] = {g.rgb[0] * share, g.rgb[1] * share, g.rgb[2] * share};
    const float total = g.total * share;
    const float weight = g.weight * share;
    for (int row = lo; row <= hi; ++row) {
        AccumulatedPixel& px = column[row];
        for (int i = 0; i < samples; ++i) {
            const float at = yc + box * ((static_cast<float>(i) + 0.5f) * share - 0.5f);
            const float d = std::fabs(static_cast<float>(row) + 0.5f - at);
            float c = style.smooth ? std::min(1.0f, style.half - d / sigma) : (d < reachY ? 1.0f : 0.0f);
            c *= ends;
            if (c > 0.0f) addMarks(px, depths, counts, total, weight, c, rgb);
        }
    }
}

}  // namespace column_marks
