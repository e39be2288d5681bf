#pragma once
// Per-pixel sums of translucent marks, composited once. Marks of alpha a
// covering a pixel to the share c add -ln(1 - a c) to its optical depth, a c
// to its weight and a c times their colour to its colour sum, so the order
// in which they arrive does not matter: the pixel's opacity is 1 -
// exp(-depth), exactly what blending them one over another gives, and its
// colour is the mean of their colours weighted by a c. Where the marks share
// one colour that is the picture drawn in order; where they differ it is
// their mixture. Density shading takes the opacity from the weight instead:
// the marks' cover, weighed by their alpha (so a region's opacity counts).

#include <cmath>
#include <cstdint>
#include <vector>

#include "base/types.h"

struct RasterImage;

struct AccumulatedPixel {
    float depth = 0.0f;
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float weight = 0.0f;

    void add(const AccumulatedPixel& o) {
        depth += o.depth;
        red += o.red;
        green += o.green;
        blue += o.blue;
        weight += o.weight;
    }
};

// A rectangle of accumulated pixels in image coordinates: columns [x0, x0 +
// width), rows [y0, y0 + height), row 0 at the bottom like the image, each
// pixel in `layers` layers (one per class of the drawing order, composited
// one over another). Stored column by column, the order in which the binned
// lines are drawn, a pixel's layers side by side.
class Accumulation {
public:
    // Zeroes the rectangle; allocates only when it grows.
    void reset(int x0, int y0, int width, int height, int layers = 1);
    // The rectangle as reset takes it, its pixels left as they were for
    // clearColumns to zero: columns cleared by whoever draws them.
    void reshape(int x0, int y0, int width, int height, int layers = 1);
    // Zeroes the columns [first, last) of the rectangle.
    void clearColumns(int first, int last);
    int x0() const { return x0_; }
    int y0() const { return y0_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int layers() const { return layers_; }
    bool contains(int x, int y) const {
        return x >= x0_ && x < x0_ + width_ && y >= y0_ && y < y0_ + height_;
    }
    AccumulatedPixel& at(int x, int y, int layer = 0) { return pixels_[index(x, y) + static_cast<std::size_t>(layer)]; }
    const AccumulatedPixel& at(int x, int y, int layer = 0) const {
        return pixels_[index(x, y) + static_cast<std::size_t>(layer)];
    }
    // The column x, rows y0 upwards, `layers` pixels a row.
    AccumulatedPixel* column(int x) { return pixels_.data() + index(x, y0_); }
    // Largest weight of a layer on the rows [rowBegin, rowEnd).
    float largestWeight(int layer, int rowBegin, int rowEnd) const;
    std::size_t bytes() const { return pixels_.capacity() * sizeof(AccumulatedPixel); }

private:
    std::size_t index(int x, int y) const {
        return (static_cast<std::size_t>(x - x0_) * static_cast<std::size_t>(height_) + static_cast<std::size_t>(y - y0_)) *
               static_cast<std::size_t>(layers_);
    }

    int x0_ = 0;
    int y0_ = 0;
    int width_ = 0;
    int height_ = 0;
    int layers_ = 1;
    std::vector<AccumulatedPixel> pixels_;
};

// An accumulation as it is laid over the image, with per layer the alpha of
// its marks (null, or 0 for a layer: not known). A layer whose marks have
// one colour and an alpha of at most that settles as marks blended one by
// one in 8 bits do: a mark of alpha a moves a channel only while it differs
// from the mark's by more than about half a level over a, so a band of
// marks of alpha 0.2 stops 2 levels short of their colour, as drawing them
// record by record does.
struct LayerSource {
    const Accumulation* acc = nullptr;
    const float* alpha = nullptr;
};

// -ln(1 - a c) for a fixed alpha a and c in [0, 1], from a table: the depth
// one mark adds. Opaque marks at full cover add a large but finite depth.
class DepthTable {
public:
    static constexpr int steps = 256;
    static constexpr float opaqueDepth = 16.0f;  // exp(-16): nothing shows through

    explicit DepthTable(double alpha = 1.0);
    double alpha() const { return alpha_; }
    float operator()(float c) const {
        // Plain comparisons: fmin and fmax are library calls here.
        const float t = (c > 0.0f ? (c < 1.0f ? c : 1.0f) : 0.0f) * steps;
        const int i = static_cast<int>(t);
        if (i >= steps) return values_[steps];
        return values_[i] + (values_[i + 1] - values_[i]) * (t - static_cast<float>(i));
    }

private:
    double alpha_ = 1.0;
    float values_[steps + 1] = {};
};

// Opacity of an accumulated pixel under density shading: where its weight
// ranks among the covered pixels of the view, so every level of density
// gets its share of the greys and the structure inside a band of millions
// shows as clearly as the lone records around it (histogram equalisation;
// a logarithmic scale left the bands in one mid grey). Weights are ranked
// on a logarithmic grid of a few thousand steps.
class DensityScale {
public:
    // Ranks the weights of every pixel of the sources' layer.
    void build(const std::vector<LayerSource>& sources, int layer);
    float operator()(float weight) const {
        if (!(weight > 0.0f) || cumulative_.empty()) return 0.0f;
        return cumulative_[step(weight)];
    }

private:
    static constexpr int steps = 4096;
    std::size_t step(float weight) const {
        const float s = std::log1p(weight) * scale_;
        return s < static_cast<float>(steps) ? static_cast<std::size_t>(s) : steps;
    }
    float scale_ = 0.0f;
    std::vector<float> cumulative_;  // steps + 1 shares, rising to 1
};

// Lays the layers [first, last) of the sources over the rows [rowBegin,
// rowEnd) of image where they have marks, layer by layer: every pixel takes
// layer `first` of each source covering it, then the next layer, and so on.
// By optical depth, or by density with scales[layer] when scales are given.
void compositeLayers(const std::vector<LayerSource>& sources, int first, int last, RasterImage& image, int rowBegin,
                     int rowEnd, const DensityScale* scales = nullptr);
