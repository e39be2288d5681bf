#pragma once
// Marks of many records at once, column by column: a group of records that
// crosses a pixel column at one height, spread over a box, drawn with the
// smoothed line's coverage into accumulated pixels, each class of the
// drawing order into a layer of its own. The straight lines from line sums,
// the curve pieces from cells and the points all draw their marks here.

#include <algorithm>
#include <cmath>

#include "bins/binned_layer.h"
#include "records/accumulation.h"

namespace column_marks {

inline float clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The depth each alpha group adds at one coverage, its alpha times the
// region's opacity (capped at opaque, as GL clamps it); opaque marks when
// aliased, where no alpha applies. Class c's marks go to layer
// c * layerStride + layerOffset of pixels of `pixelLayers` layers.
struct GroupDepths {
    int groups = 0;
    float opacity = 1.0f;
    int pixelLayers = 1;
    int layerStride = 1;
    int layerOffset = 0;
    std::uint8_t layer[maxBinGroups] = {};
    DepthTable tables[maxBinGroups];

    GroupDepths(const BinColors& colors, bool smooth, double regionOpacity, int pixelLayers_, int stride = 1,
                int offset = 0)
        : groups(std::clamp(colors.groupCount, 0, maxBinGroups)),
          opacity(smooth ? static_cast<float>(std::max(regionOpacity, 0.0)) : 1.0f),
          pixelLayers(std::max(pixelLayers_, 1)),
          layerStride(stride),
          layerOffset(offset) {
        // Over every slot, so the compiler sees no write past the array.
        for (int g = 0; g < maxBinGroups; ++g) {
            if (g >= groups) continue;
            tables[g] = DepthTable(smooth ? std::min(1.0, colors.groupAlpha[static_cast<std::size_t>(g)] * regionOpacity) : 1.0);
            layer[g] = static_cast<std::uint8_t>(layerOf(colors.groupClass[static_cast<std::size_t>(g)]));
        }
    }
    int layerOf(int cls) const { return cls * layerStride + layerOffset; }
};

// What a group of records crossing one column carries: records per alpha
// group and, per class that has any, their number, their alpha-weighted
// count and colour sums.
struct Marks {
    float counts[maxBinGroups] = {};
    int groupsWith = 0;  // the groups with records
    std::uint8_t groups[maxBinGroups] = {};
    int active = 0;
    std::uint8_t classes[maxBinClasses] = {};  // the classes with records, in order
    float total[maxBinClasses] = {};
    float weight[maxBinClasses] = {};
    float rgb[maxBinClasses][3] = {};

    // From records per group and the colour sums of the classes of several
    // colours (colors.colorChannels floats; may be null when there are none).
    void set(const BinColors& colors, const float* groupCounts, const float* colorSums) {
        const int classCount = std::clamp(colors.classCount, 0, maxBinClasses);
        for (int c = 0; c < classCount; ++c) total[c] = weight[c] = 0.0f;
        groupsWith = 0;
        for (int g = 0; g < colors.groupCount; ++g) {
            const float n = groupCounts[g] > 0.0f ? groupCounts[g] : 0.0f;
            counts[g] = n;
            if (!(n > 0.0f)) continue;
            groups[groupsWith++] = static_cast<std::uint8_t>(g);
            const int c = colors.groupClass[static_cast<std::size_t>(g)];
            total[c] += n;
            weight[c] += n * colors.groupAlpha[static_cast<std::size_t>(g)];
        }
        active = 0;
        for (int c = 0; c < classCount; ++c) {
            if (!(total[c] > 0.0f)) continue;
            classes[active++] = static_cast<std::uint8_t>(c);
            const int channel = colors.colorChannel[static_cast<std::size_t>(c)];
            for (int k = 0; k < 3; ++k)
                rgb[c][k] = channel >= 0 ? std::max(colorSums[channel + k], 0.0f)
                                         : weight[c] * colors.classColor[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)];
        }
    }
    // No records, then the records of class c added (its groups listed in
    // `groups`), classes in order.
    void clear() { groupsWith = active = 0; }
    void add(const BinColors& colors, int c, const int* classGroups, int count, const float* groupCounts,
             const float* colorSums) {
        float n = 0.0f, w = 0.0f;
        for (int k = 0; k < count; ++k) {
            const int g = classGroups[k];
            const float records = groupCounts[g];
            if (!(records > 0.0f)) continue;
            counts[g] = records;
            groups[groupsWith++] = static_cast<std::uint8_t>(g);
            n += records;
            w += records * colors.groupAlpha[static_cast<std::size_t>(g)];
        }
        if (!(n > 0.0f)) return;
        classes[active++] = static_cast<std::uint8_t>(c);
        total[c] = n;
        weight[c] = w;
        const int channel = colors.colorChannel[static_cast<std::size_t>(c)];
        for (int k = 0; k < 3; ++k)
            rgb[c][k] = channel >= 0 ? std::max(colorSums[channel + k], 0.0f)
                                     : w * colors.classColor[static_cast<std::size_t>(c)][static_cast<std::size_t>(k)];
    }
    bool any() const { return active > 0; }
};

// Adds the share `part` of the marks, covering a pixel (its layers from px)
// to the share c, all weighed by the region's opacity.
inline void addMarks(AccumulatedPixel* px, const GroupDepths& d, const Marks& m, float c, float part = 1.0f) {
    for (int k = 0; k < m.groupsWith; ++k) {
        const int g = m.groups[k];
        px[d.layer[g]].depth += part * m.counts[g] * d.tables[g](c);
    }
    const float share = c * d.opacity * part;
    for (int a = 0; a < m.active; ++a) {
        const int cls = m.classes[a];
        AccumulatedPixel& p = px[d.layerOf(cls)];
        p.weight += m.weight[cls] * share;
        p.red += m.rgb[cls][0] * share;
        p.green += m.rgb[cls][1] * share;
        p.blue += m.rgb[cls][2] * share;
    }
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

// Draws marks crossing `column` (rows from 0, d.pixelLayers pixels a row)
// at height yc, their records spread evenly over a box of that height,
// along lines whose slope gives sigma = sqrt(1 + slope^2), with the ends'
// share `ends`. The box is sampled where it is wider than half a pixel.
inline void drawGroup(AccumulatedPixel* column, const GroupDepths& depths, const LineStyle& style, const Marks& marks,
                      float yc, float box, float sigma, float slope, float ends) {
    if (!(ends > 0.0f) || !marks.any() || !std::isfinite(yc) || !std::isfinite(box) || !std::isfinite(sigma)) return;
    const int samples = std::clamp(static_cast<int>(std::ceil(box / 0.5f)), 1, 8);
    const float reachY = style.smooth ? style.half * sigma : style.half * std::max(1.0f, std::fabs(slope));
    const float lowest = yc - box * 0.5f - reachY - 0.5f;
    const float highest = yc + box * 0.5f + reachY - 0.5f;
    if (highest < 0.0f || lowest > static_cast<float>(style.height)) return;
    const int lo = std::max(0, static_cast<int>(std::floor(lowest)));
    const int hi = std::min(style.height - 1, static_cast<int>(std::ceil(highest)));
    const float share = 1.0f / static_cast<float>(samples);
    const float inverseSigma = 1.0f / sigma;
    const std::size_t rowPixels = static_cast<std::size_t>(depths.pixelLayers);
    for (int row = lo; row <= hi; ++row) {
        AccumulatedPixel* px = column + static_cast<std::size_t>(row) * rowPixels;
        for (int i = 0; i < samples; ++i) {
            const float at = yc + box * ((static_cast<float>(i) + 0.5f) * share - 0.5f);
            const float d = std::fabs(static_cast<float>(row) + 0.5f - at);
            float c = style.smooth ? std::min(1.0f, style.half - d * inverseSigma) : (d < reachY ? 1.0f : 0.0f);
            c *= ends;
            if (c > 0.0f) addMarks(px, depths, marks, c, share);
        }
    }
}

}  // namespace column_marks
