#include "records/accumulation.h"

#include <algorithm>
#include <cmath>

#include "records/raster_image.h"

void Accumulation::reset(int x0, int y0, int width, int height, int layers) {
    reshape(x0, y0, width, height, layers);
    clearColumns(x0_, x0_ + width_);
}

void Accumulation::clearColumns(int first, int last) {
    const int a = std::max(first, x0_);
    const int b = std::min(last, x0_ + width_);
    if (b <= a) return;
    const std::size_t column = static_cast<std::size_t>(height_) * static_cast<std::size_t>(layers_);
    const auto begin = pixels_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(a - x0_) * column);
    std::fill(begin, begin + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(b - a) * column), AccumulatedPixel{});
}

void Accumulation::reshape(int x0, int y0, int width, int height, int layers) {
    x0_ = x0;
    y0_ = y0;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    layers_ = std::max(layers, 1);
    const std::size_t n = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
                          static_cast<std::size_t>(layers_);
    if (pixels_.size() < n) pixels_.resize(n);
}

float Accumulation::largestWeight(int layer, int rowBegin, int rowEnd) const {
    const int ya = std::max(y0_, rowBegin);
    const int yb = std::min(y0_ + height_, rowEnd);
    float largest = 0.0f;
    for (int x = x0_; x < x0_ + width_; ++x)
        for (int y = ya; y < yb; ++y) largest = std::max(largest, at(x, y, layer).weight);
    return largest;
}

DepthTable::DepthTable(double alpha) : alpha_(std::clamp(alpha, 0.0, 1.0)) {
    for (int i = 0; i <= steps; ++i) {
        const double t = 1.0 - alpha_ * i / steps;
        values_[i] = t > 0.0 ? static_cast<float>(std::min<double>(-std::log(t), opaqueDepth)) : opaqueDepth;
    }
}

void DensityScale::build(const std::vector<LayerSource>& sources, int layer) {
    float largest = 0.0f;
    for (const LayerSource& s : sources)
        if (layer < s.acc->layers())
            largest = std::max(largest, s.acc->largestWeight(layer, s.acc->y0(), s.acc->y0() + s.acc->height()));
    cumulative_.clear();
    if (!(largest > 0.0f)) return;
    scale_ = steps / std::log1p(largest) * 0.9999f;
    std::vector<double> counts(steps + 1, 0.0);
    double covered = 0.0;
    for (const LayerSource& s : sources) {
        if (layer >= s.acc->layers()) continue;
        for (int x = s.acc->x0(); x < s.acc->x0() + s.acc->width(); ++x) {
            for (int y = s.acc->y0(); y < s.acc->y0() + s.acc->height(); ++y) {
                const float c = s.acc->at(x, y, layer).weight;
                if (!(c > 0.0f)) continue;
                counts[step(c)] += 1.0;
                covered += 1.0;
            }
        }
    }
    cumulative_.resize(steps + 1);
    double below = 0.0;
    for (int s = 0; s <= steps; ++s) {
        below += counts[static_cast<std::size_t>(s)];
        cumulative_[static_cast<std::size_t>(s)] = static_cast<float>(below / covered);
    }
}

namespace {

// How far from a mark's colour, in levels, blending marks of this alpha in
// 8 bits stops, from above and from below: the rasteriser (and GL) blends a
// channel as (src a + dst (256 - a) + 128) / 256 with a the alpha in 256ths.
struct Settle {
    float above = 0.0f;
    float below = 0.0f;
};

Settle settleOf(float alpha) {
    if (!(alpha > 0.0f)) return {};
    const float a256 = std::round(static_cast<float>(unorm8(alpha)) * (256.0f / 255.0f));
    if (!(a256 > 0.0f)) return {};
    return {std::floor(128.0f / a256), std::ceil(128.0f / a256) - 1.0f};
}

// Lays one accumulated pixel over an image pixel.
inline void compositePixel(const AccumulatedPixel& a, std::uint8_t* p, const DensityScale* density,
                           const Settle& settle) {
    if (!(a.weight > 0.0f)) return;
    const float opacity = density ? (*density)(a.weight) : 1.0f - std::exp(-a.depth);
    if (!(opacity > 0.0f)) return;
    const float scale = opacity / a.weight;
    const float keep = 1.0f - opacity;
    const float mixed[3] = {a.red * scale, a.green * scale, a.blue * scale};
    for (int c = 0; c < 3; ++c) {
        float v = p[c] * keep + mixed[c] * 255.0f;
        if (settle.above > 0.0f || settle.below > 0.0f) {
            // No nearer the marks' colour than blending them one by one gets.
            const float target = std::round(mixed[c] / opacity * 255.0f);
            const float dst = p[c];
            if (dst > target) {
                const float stop = dst < target + settle.above ? dst : target + settle.above;
                v = v > stop ? v : stop;
            } else if (dst < target) {
                const float stop = dst > target - settle.below ? dst : target - settle.below;
                v = v < stop ? v : stop;
            }
        }
        v += 0.5f;
        p[c] = static_cast<std::uint8_t>(v < 255.0f ? v : 255.0f);
    }
}

}  // namespace

void compositeLayers(const std::vector<LayerSource>& sources, int first, int last, RasterImage& image, int rowBegin,
                     int rowEnd, const DensityScale* scales) {
    if (sources.empty() || first >= last) return;
    const int layers = last - first;
    // Per source and layer, where its marks stop short of their colour.
    std::vector<Settle> settles(sources.size() * static_cast<std::size_t>(layers));
    int xa = image.width, xb = 0;
    for (std::size_t s = 0; s < sources.size(); ++s) {
        const Accumulation& acc = *sources[s].acc;
        xa = std::min(xa, acc.x0());
        xb = std::max(xb, acc.x0() + acc.width());
        for (int l = 0; l < layers; ++l)
            if (!scales && sources[s].alpha != nullptr && first + l < acc.layers())
                settles[s * static_cast<std::size_t>(layers) + static_cast<std::size_t>(l)] = settleOf(sources[s].alpha[first + l]);
    }
    xa = std::max(xa, 0);
    xb = std::min(xb, image.width);
    rowBegin = std::max(rowBegin, 0);
    rowEnd = std::min(rowEnd, image.height);
    // Column by column, as the accumulations are stored; on a column, each
    // pixel layer by layer over the sources that cover it.
    std::vector<std::size_t> covering;
    for (int x = xa; x < xb; ++x) {
        covering.clear();
        for (std::size_t s = 0; s < sources.size(); ++s) {
            const Accumulation& acc = *sources[s].acc;
            if (x >= acc.x0() && x < acc.x0() + acc.width() && acc.layers() > first) covering.push_back(s);
        }
        if (covering.empty()) continue;
        for (int y = rowBegin; y < rowEnd; ++y) {
            std::uint8_t* p = image.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + x) * 4;
            for (int l = 0; l < layers; ++l) {
                const int layer = first + l;
                for (std::size_t s : covering) {
                    const Accumulation& acc = *sources[s].acc;
                    if (layer >= acc.layers() || y < acc.y0() || y >= acc.y0() + acc.height()) continue;
                    compositePixel(acc.at(x, y, layer), p, scales ? &scales[layer] : nullptr,
                                   settles[s * static_cast<std::size_t>(layers) + static_cast<std::size_t>(l)]);
                }
            }
        }
    }
}
