#include "render/binned_layer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plot/plot.h"
#include "render/parallel.h"
#include "render/raster.h"

namespace {

constexpr int kPool = binsPerAxis / stackCells;
static_assert(kPool * stackCells == binsPerAxis, "the stack grid pools whole bins");

// Moments kept per stack cell after the class counts.
enum Moment { SumU, SumW, SumUU, SumWW, SumUW, MomentCount };

constexpr int kOffsetBits = 16 - 9;
static_assert(binsPerAxis == 1 << 9, "coordinates keep 9 bits for the bin");
constexpr float kOffsetScale = 1.0f / (1 << kOffsetBits);

inline std::size_t binOf(std::uint16_t u, std::uint16_t w) {
    return (static_cast<std::size_t>(u >> kOffsetBits) << 9) | (w >> kOffsetBits);
}
// Offset of a coordinate within its bin, in bins, at the middle of its step.
inline float offsetOf(std::uint16_t q) {
    return (static_cast<float>(q & ((1 << kOffsetBits) - 1)) + 0.5f) * kOffsetScale;
}

inline float channelOf(std::uint32_t packed, int c) { return static_cast<float>((packed >> (8 * c)) & 0xFF) / 255.0f; }

template <bool Uniform>
void countRecords(std::uint32_t* counts, float* colorSums, std::size_t bins, const std::uint16_t* u,
                  const std::uint16_t* w, int records, const BinColors& colors, int skip) {
    const std::uint32_t* packed = colors.packed.data();
    for (int r = 0; r < records; ++r) {
        const std::uint32_t p = packed[r];
        const std::uint8_t alpha = static_cast<std::uint8_t>(p >> 24);
        if (alpha == 0 || r == skip) continue;
        const int cls = colors.classOf[alpha];
        const std::size_t bin = binOf(u[r], w[r]);
        ++counts[static_cast<std::size_t>(cls) * bins + bin];
        if constexpr (!Uniform) {
            const float a = colors.classAlpha[static_cast<std::size_t>(cls)];
            float* sum = colorSums + 3 * bin;
            sum[0] += a * channelOf(p, 0);
            sum[1] += a * channelOf(p, 1);
            sum[2] += a * channelOf(p, 2);
        }
    }
}

inline float clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The depth each class adds at one coverage; opaque marks when drawn aliased.
struct ClassDepths {
    int count = 0;
    DepthTable tables[maxAlphaClasses];
    float alpha[maxAlphaClasses] = {};

    ClassDepths(const BinColors& colors, bool smooth) : count(colors.classCount) {
        for (int k = 0; k < count; ++k) {
            alpha[k] = smooth ? colors.classAlpha[k] : 1.0f;
            tables[k] = DepthTable(alpha[k]);
        }
    }
};

// Adds `counts` records (per class) covering a pixel to the share c, with
// alpha-weighted colour sums `rgb` and their weight (at full cover).
inline void addMarks(AccumulatedPixel& px, const ClassDepths& d, const float* counts, float total, float weight,
                     float c, const float* rgb) {
    for (int k = 0; k < d.count; ++k)
        if (counts[k] > 0.0f) px.depth += counts[k] * d.tables[k](c);
    px.cover += total * c;
    px.weight += weight * c;
    px.red += rgb[0] * c;
    px.green += rgb[1] * c;
    px.blue += rgb[2] * c;
}

}  // namespace

// ---------------------------------------------------------------- colours

void BinColors::compute(const PCPlot& plot, int skip, int threads) {
    const int records = std::max(plot.recordCount, 0);
    packed.resize(static_cast<std::size_t>(records));
    const int parts = std::max(1, std::min(threads, records / 65536 + 1));
    struct Seen {
        std::array<bool, 256> alpha{};
        bool mixed = false;
        bool any = false;
        std::uint32_t rgb = 0;
    };
    std::vector<Seen> seen(static_cast<std::size_t>(parts));
    runParts(parts, parts, [&](int part) {
        Seen& s = seen[static_cast<std::size_t>(part)];
        const int begin = static_cast<int>(static_cast<long long>(records) * part / parts);
        const int end = static_cast<int>(static_cast<long long>(records) * (part + 1) / parts);
        Rgba c{0.0, 0.0, 0.0, 1.0};
        for (int r = begin; r < end; ++r) {
            plot.colorOfRecord(r, c);
            const std::uint32_t rgb = unorm8(c[0]) | (static_cast<std::uint32_t>(unorm8(c[1])) << 8) |
                                      (static_cast<std::uint32_t>(unorm8(c[2])) << 16);
            const std::uint8_t a = r == skip ? 0 : unorm8(c[3]);
            packed[static_cast<std::size_t>(r)] = rgb | (static_cast<std::uint32_t>(a) << 24);
            if (a == 0) continue;
            s.alpha[a] = true;
            if (!s.any) {
                s.any = true;
                s.rgb = rgb;
            } else if (rgb != s.rgb) {
                s.mixed = true;
            }
        }
    });

    // Classes in order of alpha, so they do not depend on how records were split.
    classOf.fill(0);
    classCount = 0;
    overflow = false;
    for (int a = 1; a < 256; ++a) {
        bool used = false;
        for (const Seen& s : seen) used = used || s.alpha[static_cast<std::size_t>(a)];
        if (!used) continue;
        if (classCount == maxAlphaClasses) {
            overflow = true;
            break;
        }
        classOf[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(classCount);
        classAlpha[static_cast<std::size_t>(classCount)] = static_cast<float>(a) / 255.0f;
        ++classCount;
    }
    uniform = true;
    bool any = false;
    std::uint32_t rgb = 0;
    for (const Seen& s : seen) {
        if (!s.any) continue;
        if (s.mixed || (any && s.rgb != rgb)) uniform = false;
        any = true;
        rgb = s.rgb;
    }
    for (int c = 0; c < 3; ++c) uniformColor[static_cast<std::size_t>(c)] = channelOf(rgb, c);
}

// ---------------------------------------------------------------- geometry

bool RegionGeometry::sameLines(const RegionGeometry& o) const {
    return x0 == o.x0 && x1 == o.x1 && p0 == o.p0 && q0 == o.q0 && p1 == o.p1 && q1 == o.q1 &&
           lineWidth == o.lineWidth && smooth == o.smooth && width == o.width && height == o.height;
}

bool RegionGeometry::samePoints(const RegionGeometry& o) const {
    return px == o.px && pw == o.pw && p0 == o.p0 && q0 == o.q0 && sx == o.sx && sy == o.sy &&
           pointSize == o.pointSize && smooth == o.smooth && width == o.width && height == o.height;
}

// ---------------------------------------------------------------- bins

void computeBinCoordinates(const double* normalized, int records, BinCoordinates& out, int threads) {
    out.resize(static_cast<std::size_t>(std::max(records, 0)));
    const int parts = std::max(1, std::min(threads, records / 65536 + 1));
    runParts(parts, parts, [&](int part) {
        const int begin = static_cast<int>(static_cast<long long>(records) * part / parts);
        const int end = static_cast<int>(static_cast<long long>(records) * (part + 1) / parts);
        for (int r = begin; r < end; ++r) {
            const double f = normalized[r] * 65536.0;
            // A value just outside [0, 1] (or not a number) joins the nearest end bin.
            out[static_cast<std::size_t>(r)] =
                f >= 0.0 ? (f < 65535.0 ? static_cast<std::uint16_t>(f) : std::uint16_t(65535)) : std::uint16_t(0);
        }
    });
}

void RegionBins::place(const BinCoordinates& u, const BinCoordinates& w, int records) {
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    places_.assign(bins, Place{0, 0.0f, 0.0f});
    for (int r = 0; r < records; ++r) {
        Place& p = places_[binOf(u[static_cast<std::size_t>(r)], w[static_cast<std::size_t>(r)])];
        ++p.records;
        p.sumU += offsetOf(u[static_cast<std::size_t>(r)]);
        p.sumW += offsetOf(w[static_cast<std::size_t>(r)]);
    }
}

void RegionBins::count(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors,
                       int skip) {
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    classes_ = colors.classCount;
    counts_.assign(static_cast<std::size_t>(classes_) * bins, 0);
    if (colors.uniform)
        colorSums_.clear();
    else
        colorSums_.assign(3 * bins, 0.0f);
    if (colors.uniform)
        countRecords<true>(counts_.data(), nullptr, bins, u.data(), w.data(), records, colors, skip);
    else
        countRecords<false>(counts_.data(), colorSums_.data(), bins, u.data(), w.data(), records, colors, skip);
    linesValid_ = pointsValid_ = false;
    alongRight_.release();
    alongLeft_.release();
    channels_ = 0;
}

void RegionBins::meanOf(std::size_t bin, double& u, double& w) const {
    const Place& p = places_[bin];
    const double n = p.records > 0 ? p.records : 1.0;
    u = (static_cast<double>(bin >> 9) + p.sumU / n) / binsPerAxis;
    w = (static_cast<double>(bin & (binsPerAxis - 1)) + p.sumW / n) / binsPerAxis;
}

void RegionBins::stack(const BinColors& colors) {
    const int classes = classes_;
    const bool uniform = colorSums_.empty();
    channels_ = classes + MomentCount + (uniform ? 0 : 3);
    const int n = stackCells;
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    const std::size_t cellFloats = static_cast<std::size_t>(channels_);
    std::vector<float> right(static_cast<std::size_t>(n) * n * cellFloats, 0.0f);
    std::vector<float> left(right.size(), 0.0f);
    (void)colors;

    // Pools kPool x kPool bins into each stack cell, with the moments of the
    // records' normalised values (a bin's records taken at their mean).
    for (int jc = 0; jc < n; ++jc) {
        for (int kc = 0; kc < n; ++kc) {
            double counts[maxAlphaClasses] = {};
            double m[MomentCount] = {};
            double rgb[3] = {};
            for (int dj = 0; dj < kPool; ++dj) {
                for (int dk = 0; dk < kPool; ++dk) {
                    const std::size_t bin =
                        static_cast<std::size_t>(jc * kPool + dj) * binsPerAxis + static_cast<std::size_t>(kc * kPool + dk);
                    double total = 0.0;
                    for (int q = 0; q < classes; ++q) {
                        const double c = counts_[static_cast<std::size_t>(q) * bins + bin];
                        counts[q] += c;
                        total += c;
                    }
                    if (total <= 0.0) continue;
                    double mu = 0.0;
                    double mw = 0.0;
                    meanOf(bin, mu, mw);
                    m[SumU] += total * mu;
                    m[SumW] += total * mw;
                    m[SumUU] += total * mu * mu;
                    m[SumWW] += total * mw * mw;
                    m[SumUW] += total * mu * mw;
                    if (!uniform)
                        for (int c = 0; c < 3; ++c) rgb[c] += colorSums_[3 * bin + static_cast<std::size_t>(c)];
                }
            }
            // Summed along the right value: x runs over it, y over the left
            // value from the top, so every line rises. Along the left value:
            // x over the left value from the top, y over the right value.
            const int flipped = n - 1 - jc;
            float* a = right.data() + (static_cast<std::size_t>(kc) * n + flipped) * cellFloats;
            float* b = left.data() + (static_cast<std::size_t>(flipped) * n + kc) * cellFloats;
            for (int q = 0; q < classes; ++q) a[q] = b[q] = static_cast<float>(counts[q]);
            for (int q = 0; q < MomentCount; ++q) a[classes + q] = b[classes + q] = static_cast<float>(m[q]);
            if (!uniform)
                for (int q = 0; q < 3; ++q)
                    a[classes + MomentCount + q] = b[classes + MomentCount + q] = static_cast<float>(rgb[q]);
        }
    }
    alongRight_.compute(right.data(), n, channels_);
    alongLeft_.compute(left.data(), n, channels_);
    linesValid_ = false;
}

const Accumulation& RegionBins::drawLines(const BinColors& colors, const RegionGeometry& g) {
    if (linesValid_ && g.sameLines(linesDrawn_)) return lines_;
    linesValid_ = true;
    linesDrawn_ = g;
    const double dx = g.x1 - g.x0;
    const int xa = std::max(0, static_cast<int>(std::floor(std::min(g.x0, g.x1) - 2.0)));
    const int xb = std::min(g.width, static_cast<int>(std::ceil(std::max(g.x0, g.x1) + 2.0)));
    lines_.reset(xa, 0, std::max(0, xb - xa), g.height);
    if (channels_ == 0 || !(std::fabs(dx) >= 0.5) || !(g.q0 > 0.0) || !(g.q1 > 0.0)) return lines_;

    const ClassDepths depths(colors, g.smooth);
    const int classes = colors.classCount;
    const int n = stackCells;
    // Half the line's reach across it: coverage min(1, half - distance).
    const float half = g.smooth ? static_cast<float>(g.lineWidth) * 0.5f + 0.5f
                                : static_cast<float>(std::max(g.lineWidth, 1.0)) * 0.5f;
    const float cap = g.smooth ? 0.5f : 0.0f;
    const double inverseDx2 = 1.0 / (dx * dx);
    float counts[maxAlphaClasses];
    float rgb[3];

    for (int x = xa; x < xb; ++x) {
        const double xc = x + 0.5;
        const double s = std::clamp((xc - g.x0) / dx, 0.0, 1.0);
        // Distances beyond the two ends, in pixels along x.
        const double before = (xc - g.x0) * (dx > 0 ? 1.0 : -1.0);
        const double after = (g.x1 - xc) * (dx > 0 ? 1.0 : -1.0);
        const double a = (1.0 - s) * g.q0;  // pixels per unit of the left value
        const double b = s * g.q1;          // and of the right value
        const double base = (1.0 - s) * g.p0 + s * g.p1;
        const bool alongRight = a >= b;
        const SlantStack& stack = alongRight ? alongRight_ : alongLeft_;
        const double ratio = alongRight ? (a > 0.0 ? b / a : 0.0) : a / b;
        const int theta = std::clamp(static_cast<int>(std::lround(ratio * (n - 1))), 0, n - 1);
        AccumulatedPixel* column = lines_.column(x);

        for (int h = -n; h < n; ++h) {
            const float* cell = stack.at(theta, h);
            float total = 0.0f;
            for (int k = 0; k < classes; ++k) {
                counts[k] = cell[k];
                total += cell[k];
            }
            if (total < 0.5f) continue;
            const float* m = cell + classes;
            const double inv = 1.0 / total;
            const double mu = m[SumU] * inv;
            const double mw = m[SumW] * inv;
            const double varU = std::max(0.0, m[SumUU] * inv - mu * mu);
            const double varW = std::max(0.0, m[SumWW] * inv - mw * mw);
            const double cov = m[SumUW] * inv - mu * mw;
            const double y = base + a * mu + b * mw;
            const double varY = std::max(0.0, a * a * varU + b * b * varW + 2.0 * a * b * cov);
            const double meanSlope = (g.p1 - g.p0 + g.q1 * mw - g.q0 * mu) / dx;
            const double slopeSpread = std::max(0.0, g.q1 * g.q1 * varW + g.q0 * g.q0 * varU - 2.0 * g.q0 * g.q1 * cov);
            const double slope2 = meanSlope * meanSlope + slopeSpread * inverseDx2;
            const float sigma = static_cast<float>(std::sqrt(1.0 + slope2));
            // The ends fade over half a pixel beyond each axis, as a line's do.
            const float ends = g.smooth ? clamp01(static_cast<float>(std::min(before, after)) * sigma + cap)
                                        : (before >= 0.0 && after > 0.0 ? 1.0f : 0.0f);
            if (ends <= 0.0f) continue;
            float weight = 0.0f;
            for (int k = 0; k < classes; ++k) weight += counts[k] * colors.classAlpha[k];
            if (colors.uniform) {
                for (int c = 0; c < 3; ++c) rgb[c] = weight * colors.uniformColor[static_cast<std::size_t>(c)];
            } else {
                for (int c = 0; c < 3; ++c) rgb[c] = cell[classes + MomentCount + c];
            }

            // The group's records spread over a box of their standard
            // deviation's width; it is sampled where it is wider than half
            // a pixel.
            const float box = static_cast<float>(std::sqrt(12.0 * varY));
            const int samples = std::clamp(static_cast<int>(std::ceil(box / 0.5f)), 1, 8);
            const float reachY = g.smooth ? half * sigma : half * std::max(1.0f, static_cast<float>(std::fabs(meanSlope)));
            const float yc = static_cast<float>(y);
            const int lo = std::max(0, static_cast<int>(std::floor(yc - box * 0.5f - reachY - 0.5f)));
            const int hi = std::min(g.height - 1, static_cast<int>(std::ceil(yc + box * 0.5f + reachY - 0.5f)));
            const float share = 1.0f / static_cast<float>(samples);
            float sampledCounts[maxAlphaClasses];
            for (int k = 0; k < classes; ++k) sampledCounts[k] = counts[k] * share;
            float sampledRgb[3] = {rgb[0] * share, rgb[1] * share, rgb[2] * share};
            const float sampledTotal = total * share;
            const float sampledWeight = weight * share;
            for (int row = lo; row <= hi; ++row) {
                AccumulatedPixel& px = column[row];
                for (int i = 0; i < samples; ++i) {
                    const float at = yc + box * ((static_cast<float>(i) + 0.5f) * share - 0.5f);
                    const float d = std::fabs(static_cast<float>(row) + 0.5f - at);
                    float c;
                    if (g.smooth)
                        c = std::min(1.0f, half - d / sigma);
                    else
                        c = d < reachY ? 1.0f : 0.0f;
                    c *= ends;
                    if (c > 0.0f) addMarks(px, depths, sampledCounts, sampledTotal, sampledWeight, c, sampledRgb);
                }
            }
        }
    }
    return lines_;
}

const Accumulation& RegionBins::drawPoints(const BinColors& colors, const RegionGeometry& g) {
    if (pointsValid_ && g.samePoints(pointsDrawn_)) return points_;
    pointsValid_ = true;
    pointsDrawn_ = g;
    const double radius = g.pointSize * 0.5;
    const double reach = g.smooth ? radius + 0.5 : radius;
    const double margin = reach + 1.0 + std::max(std::fabs(g.sx), std::fabs(g.sy));
    const int xa = std::max(0, static_cast<int>(std::floor(std::min(g.px, g.px + g.pw) - margin)));
    const int xb = std::min(g.width, static_cast<int>(std::ceil(std::max(g.px, g.px + g.pw) + margin)));
    const int ya = std::max(0, static_cast<int>(std::floor(std::min(g.p0, g.p0 + g.q0) - margin)));
    const int yb = std::min(g.height, static_cast<int>(std::ceil(std::max(g.p0, g.p0 + g.q0) + margin)));
    points_.reset(xa, ya, std::max(0, xb - xa), std::max(0, yb - ya));
    if (countedFor_ == 0 || points_.width() == 0 || points_.height() == 0) return points_;

    const ClassDepths depths(colors, g.smooth);
    const DepthTable shadowDepth(g.smooth ? 0.5 : 1.0);
    const float shadowAlpha = g.smooth ? 0.5f : 1.0f;
    const int classes = colors.classCount;
    float counts[maxAlphaClasses];
    float rgb[3];

    // A disc of the point size whose edge fades over a pixel (or the square of
    // pixel centres it covers, aliased), added at (cx, cy) by `add`.
    auto disc = [&](double cx, double cy, auto&& add) {
        const int x0 = std::max(points_.x0(), static_cast<int>(std::floor(cx - reach)));
        const int x1 = std::min(points_.x0() + points_.width() - 1, static_cast<int>(std::ceil(cx + reach)));
        const int y0 = std::max(points_.y0(), static_cast<int>(std::floor(cy - reach)));
        const int y1 = std::min(points_.y0() + points_.height() - 1, static_cast<int>(std::ceil(cy + reach)));
        for (int x = x0; x <= x1; ++x) {
            const double ox = x + 0.5 - cx;
            AccumulatedPixel* column = points_.column(x) - points_.y0();
            for (int y = y0; y <= y1; ++y) {
                const double oy = y + 0.5 - cy;
                float c;
                if (g.smooth)
                    c = static_cast<float>(std::min(1.0, reach - std::sqrt(ox * ox + oy * oy)));
                else
                    c = (ox >= -radius && ox < radius && oy >= -radius && oy < radius) ? 1.0f : 0.0f;
                if (c > 0.0f) add(column[y], c);
            }
        }
    };

    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    for (std::size_t bin = 0; bin < bins; ++bin) {
        {
            float total = 0.0f;
            float weight = 0.0f;
            for (int q = 0; q < classes; ++q) {
                counts[q] = static_cast<float>(counts_[static_cast<std::size_t>(q) * bins + bin]);
                total += counts[q];
                weight += counts[q] * colors.classAlpha[static_cast<std::size_t>(q)];
            }
            if (total <= 0.0f) continue;
            double u = 0.0;
            double w = 0.0;
            meanOf(bin, u, w);
            const double cx = g.px + g.pw * w;
            const double cy = g.p0 + g.q0 * u;
            if (colors.uniform) {
                for (int c = 0; c < 3; ++c) rgb[c] = weight * colors.uniformColor[static_cast<std::size_t>(c)];
            } else {
                for (int c = 0; c < 3; ++c) rgb[c] = colorSums_[3 * bin + static_cast<std::size_t>(c)];
            }
            // Each record's shadow goes down first, then its point.
            disc(cx + g.sx, cy + g.sy, [&](AccumulatedPixel& px, float c) {
                px.depth += total * shadowDepth(c);
                px.cover += total * c;
                px.weight += total * shadowAlpha * c;  // black: no colour to add
            });
            disc(cx, cy, [&](AccumulatedPixel& px, float c) { addMarks(px, depths, counts, total, weight, c, rgb); });
        }
    }
    return points_;
}

std::size_t RegionBins::bytes() const {
    return places_.capacity() * sizeof(Place) + counts_.capacity() * sizeof(std::uint32_t) +
           colorSums_.capacity() * sizeof(float) + alongRight_.bytes() + alongLeft_.bytes() + lines_.bytes() +
           points_.bytes();
}

std::size_t RegionBins::typicalBytes(int width, int height) {
    const std::size_t cells = static_cast<std::size_t>(binsPerAxis) * binsPerAxis *
                              (sizeof(Place) + 2 * sizeof(std::uint32_t) + 3 * sizeof(float));
    const std::size_t channels = maxAlphaClasses + MomentCount + 3;
    const std::size_t stacks = 2 * 2 * static_cast<std::size_t>(stackCells) * 2 * stackCells * channels * sizeof(float);
    const std::size_t pictures = static_cast<std::size_t>(std::max(width, 0) / 4 + 8) * std::max(height, 0) *
                                 sizeof(AccumulatedPixel);
    return cells + stacks + pictures;
}

// ---------------------------------------------------------------- table

void BinnedTable::clear() {
    colorsValid_ = false;
    regions_.clear();
    coordinates_.clear();
    colors_ = BinColors{};
}

const BinColors& BinnedTable::colors(const PCPlot& plot, std::uint64_t colorKey, int skip, int threads) {
    if (!colorsValid_ || colorKey != colorKey_ || skip != skip_) {
        colors_.compute(plot, skip, threads);
        colorKey_ = colorKey;
        skip_ = skip;
        colorsValid_ = true;
        ++colorGeneration_;
    }
    return colors_;
}

std::vector<RegionBins*> BinnedTable::prepare(const PCPlot& plot, const FrameAxes& frame,
                                              const std::vector<BinRequest>& requests, int width, int height,
                                              int threads) {
    std::vector<RegionBins*> out(requests.size(), nullptr);
    std::size_t used = binBytes();
    std::vector<int> newDimensions;
    std::vector<std::size_t> toPlace;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const BinRequest& q = requests[i];
        const std::pair<int, int> pair{frame.dimensionOf[q.leftAxis], frame.dimensionOf[q.leftAxis + 1]};
        if (frame.normalized[pair.first] == nullptr || frame.normalized[pair.second] == nullptr) continue;
        auto found = regions_.find(pair);
        if (found == regions_.end()) {
            const std::size_t more = RegionBins::typicalBytes(width, height);
            if (used + more > binnedMemoryLimit) continue;
            used += more;
            auto bins = std::make_unique<RegionBins>();
            bins->left = pair.first;
            bins->right = pair.second;
            found = regions_.emplace(pair, std::move(bins)).first;
            toPlace.push_back(i);
        }
        for (int d : {pair.first, pair.second})
            if (coordinates_.find(d) == coordinates_.end() &&
                std::find(newDimensions.begin(), newDimensions.end(), d) == newDimensions.end())
                newDimensions.push_back(d);
        out[i] = found->second.get();
    }
    for (int d : newDimensions)
        computeBinCoordinates(frame.normalized[d], plot.recordCount, coordinates_[d], threads);

    // Regions run side by side, each on one thread.
    std::vector<RegionBins*> work;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        RegionBins* bins = out[i];
        if (bins == nullptr || std::find(work.begin(), work.end(), bins) != work.end()) continue;
        const bool placed = std::find(toPlace.begin(), toPlace.end(), i) == toPlace.end();
        if (!placed || bins->countedFor() != colorGeneration_ || (requests[i].lines && !bins->stacked()))
            work.push_back(bins);
    }
    const int records = plot.recordCount;
    runParts(static_cast<int>(work.size()), threads, [&](int part) {
        RegionBins& bins = *work[static_cast<std::size_t>(part)];
        const BinCoordinates& u = coordinates_.at(bins.left);
        const BinCoordinates& w = coordinates_.at(bins.right);
        if (!bins.placed()) bins.place(u, w, records);
        if (bins.countedFor() != colorGeneration_) {
            bins.count(u, w, records, colors_, skip_);
            bins.setCountedFor(colorGeneration_);
        }
    });
    rebuilds_ += static_cast<long>(work.size());
    std::vector<RegionBins*> toStack;
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (out[i] != nullptr && requests[i].lines && !out[i]->stacked() &&
            std::find(toStack.begin(), toStack.end(), out[i]) == toStack.end())
            toStack.push_back(out[i]);
    runParts(static_cast<int>(toStack.size()), threads,
             [&](int part) { toStack[static_cast<std::size_t>(part)]->stack(colors_); });
    return out;
}

void BinnedTable::keepOnly(const std::vector<std::pair<int, int>>& keep) {
    for (auto it = regions_.begin(); it != regions_.end();) {
        if (std::find(keep.begin(), keep.end(), it->first) == keep.end())
            it = regions_.erase(it);
        else
            ++it;
    }
    for (auto it = coordinates_.begin(); it != coordinates_.end();) {
        const bool used = std::any_of(keep.begin(), keep.end(), [&](const std::pair<int, int>& p) {
            return p.first == it->first || p.second == it->first;
        });
        if (used)
            ++it;
        else
            it = coordinates_.erase(it);
    }
}

std::size_t BinnedTable::binBytes() const {
    std::size_t total = 0;
    for (const auto& entry : regions_) total += entry.second->bytes();
    return total;
}

std::size_t BinnedTable::recordBytes() const {
    std::size_t total = colors_.packed.capacity() * sizeof(std::uint32_t);
    for (const auto& entry : coordinates_) total += entry.second.capacity() * sizeof(std::uint16_t);
    return total;
}
