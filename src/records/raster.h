#pragma once
// A CPU rasteriser for the record layer, written against the sink vocabulary
// (sink.h): smoothed lines and round points blended in the order they arrive
// into an RGBA8 image whose rows run bottom-up like a GL framebuffer. A sink
// touches only the rows of its band, so sinks over disjoint bands can run on
// threads and together give the image one sink over all rows gives.

#include <cstdint>
#include <vector>

#include "base/types.h"
#include "records/accumulation.h"
#include "records/raster_image.h"
#include "records/sink.h"

struct PCPlot;
struct SegmentSweep;

// View coordinates to pixel coordinates of the image: the view box spread
// over width x height pixels, pixel (i, j) covering [i, i + 1) x [j, j + 1).
struct RasterView {
    double left = 0.0;
    double bottom = 0.0;
    double scaleX = 1.0;
    double scaleY = 1.0;

    static RasterView of(const PCPlot& plot, int width, int height);
};

class RasterSink {
public:
    // smooth: coverage-weighted blending like GL's line and point smoothing
    // with blending on; otherwise aliased marks written opaque.
    RasterSink(RasterImage& image, const RasterView& view, bool smooth, int rowBegin, int rowEnd);
    // Adds the marks to a layer of target instead of blending them, each
    // counted weight times (a subset standing for the whole), in a width x
    // height frame of which only target's rectangle is written.
    RasterSink(Accumulation& target, int layer, float weight, int width, int height, const RasterView& view,
               bool smooth, int rowBegin, int rowEnd);

    void lineWidth(double w) {
        flushStrip();
        lineWidth_ = static_cast<float>(w > 0.0 ? w : 1.0);
    }
    void pointSize(double s) { pointSize_ = static_cast<float>(s > 0.0 ? s : 1.0); }
    void color(const double* rgba);
    void begin(Primitive p) {
        flushStrip();
        open_ = p;
        pending_ = false;
    }
    void vertex(double x, double y);
    void end(Primitive) {
        flushStrip();
        pending_ = false;
    }
    void finish() { flushStrip(); }

private:
    // joint0 / joint1: that end meets the next piece of a line strip.
    void segment(float x0, float y0, float x1, float y1, bool joint0, bool joint1);
    template <bool XMajor>
    void fillSegment(float x0, float y0, float x1, float y1, float half, bool joint0, bool joint1);
    template <bool XMajor>
    bool layOut(float x0, float y0, float x1, float y1, float half, bool joint0, bool joint1, SegmentSweep& s) const;
    template <bool XMajor>
    bool clipToBand(SegmentSweep& s) const;
    template <bool XMajor>
    void findInnerRuns(SegmentSweep& s) const;
    // One run of pixels across the line at major coordinate m, into target_.
    template <bool XMajor>
    void accumulateAliasedRun(const SegmentSweep& s, int m, int lo, int hi, float offset);
    template <bool XMajor>
    void accumulateRun(const SegmentSweep& s, int m, int lo, int hi, float offset, bool inner, float along);
    void flushStrip();
    void point(float x, float y);
    void blendAt(int x, int y, float coverage);
    void accumulateAt(int x, int y, float coverage);

    std::uint8_t* pixels_ = nullptr;
    int width_ = 0;
    RasterView view_;
    bool smooth_;
    int rowBegin_;
    int rowEnd_;
    float lineWidth_ = 1.0f;
    float pointSize_ = 1.0f;
    Primitive open_ = Primitive::Lines;
    bool pending_ = false;  // a previous vertex waits for its partner
    float lastX_ = 0.0f;
    float lastY_ = 0.0f;
    bool held_ = false;       // a strip's segment waits to learn if its end is a joint
    bool heldJoint_ = false;  // and whether its start is one
    float heldX_ = 0.0f;
    float heldY_ = 0.0f;
    std::uint32_t opaque_ = 0xFF000000u;  // the colour's bytes, alpha 255
    std::uint64_t lanes_ = 0;              // the same spread for blending
    float alpha256_ = 256.0f;
    Accumulation* target_ = nullptr;
    int layer_ = 0;
    float markWeight_ = 1.0f;
    float markAlpha_ = 1.0f;
    float markColor_[3] = {0.0f, 0.0f, 0.0f};
};
