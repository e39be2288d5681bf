#include "render/raster.h"

#include <algorithm>
#include <cmath>

#include "plot/plot.h"

namespace {

std::uint8_t unorm8(double c) {
    const double v = std::clamp(c, 0.0, 1.0) * 255.0 + 0.5;
    return static_cast<std::uint8_t>(v);
}

// Rounded x / 255 for x in [0, 255 * 255].
inline int div255(int x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// Coordinates beyond this many pixels off the image are cut down to it, so a
// zoomed view box or a wild value neither overflows nor loops for long.
constexpr float kFar = 1.0e6f;

bool finite(float v) { return std::isfinite(v) && std::fabs(v) < kFar; }

}  // namespace

void RasterImage::resize(int w, int h) {
    width = w > 0 ? w : 0;
    height = h > 0 ? h : 0;
    rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
}

void RasterImage::fillRows(int rowBegin, int rowEnd, const Rgba& color) {
    const std::uint8_t c[4] = {unorm8(color[0]), unorm8(color[1]), unorm8(color[2]), 255};
    rowBegin = std::max(rowBegin, 0);
    rowEnd = std::min(rowEnd, height);
    for (int y = rowBegin; y < rowEnd; ++y) {
        std::uint8_t* p = rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x, p += 4) std::copy(c, c + 4, p);
    }
}

RasterView RasterView::of(const PCPlot& plot, int width, int height) {
    RasterView v;
    v.left = plot.viewLeft;
    v.bottom = plot.viewBottom;
    v.scaleX = width / (plot.viewRight - plot.viewLeft);
    v.scaleY = height / (plot.viewTop - plot.viewBottom);
    return v;
}

RasterSink::RasterSink(RasterImage& image, const RasterView& view, bool smooth, int rowBegin, int rowEnd)
    : image_(image),
      view_(view),
      smooth_(smooth),
      rowBegin_(std::max(rowBegin, 0)),
      rowEnd_(std::min(rowEnd, image.height)) {}

void RasterSink::color(const double* rgba) {
    r_ = unorm8(rgba[0]);
    g_ = unorm8(rgba[1]);
    b_ = unorm8(rgba[2]);
    alpha255_ = static_cast<float>(std::clamp(rgba[3], 0.0, 1.0) * 255.0);
}

void RasterSink::vertex(double x, double y) {
    const float px = static_cast<float>((x - view_.left) * view_.scaleX);
    const float py = static_cast<float>((y - view_.bottom) * view_.scaleY);
    switch (open_) {
        case Primitive::Points: point(px, py); return;
        case Primitive::Lines:
            if (pending_) {
                segment(lastX_, lastY_, px, py);
                pending_ = false;
            } else {
                lastX_ = px;
                lastY_ = py;
                pending_ = true;
            }
            return;
        case Primitive::LineStrip:
            if (pending_) segment(lastX_, lastY_, px, py);
            lastX_ = px;
            lastY_ = py;
            pending_ = true;
            return;
    }
}

inline void RasterSink::blendAt(int x, int y, float coverage) {
    std::uint8_t* p = image_.rgba.data() + (static_cast<std::size_t>(y) * image_.width + x) * 4;
    if (!smooth_) {
        p[0] = static_cast<std::uint8_t>(r_);
        p[1] = static_cast<std::uint8_t>(g_);
        p[2] = static_cast<std::uint8_t>(b_);
        return;
    }
    const int a = static_cast<int>(alpha255_ * coverage + 0.5f);
    if (a <= 0) return;
    const int keep = 255 - a;
    p[0] = static_cast<std::uint8_t>(div255(r_ * a + p[0] * keep));
    p[1] = static_cast<std::uint8_t>(div255(g_ * a + p[1] * keep));
    p[2] = static_cast<std::uint8_t>(div255(b_ * a + p[2] * keep));
}

// A smoothed line covers pixels by their centre's distance d from it:
// min(1, w/2 + 1/2 - |d|), so a line of width 1 fades over one pixel on
// either side and carries the ink of its width. Its ends fade over half a
// pixel beyond each end point. Aliased lines take the pixels whose centre
// lies within w/2 of the line along the minor axis, ends half-open.
void RasterSink::segment(float x0, float y0, float x1, float y1) {
    if (!finite(x0) || !finite(y0) || !finite(x1) || !finite(y1)) return;
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 1e-6f)) return;
    const float ux = dx / length;
    const float uy = dy / length;
    const float half = smooth_ ? lineWidth_ * 0.5f + 0.5f : std::max(lineWidth_, 1.0f) * 0.5f;
    const float cap = smooth_ ? 0.5f : 0.0f;
    const int width = image_.width;
    const bool xMajor = std::fabs(dx) >= std::fabs(dy);

    // Walks the major axis; the minor coordinate of the line at a major
    // coordinate m is c0 + (m - m0) * slope.
    const float m0 = xMajor ? x0 : y0;
    const float m1 = xMajor ? x1 : y1;
    const float c0 = xMajor ? y0 : x0;
    const float slope = xMajor ? dy / dx : dx / dy;
    const float cosine = xMajor ? std::fabs(ux) : std::fabs(uy);  // >= 0.707
    const float reach = half / cosine;  // minor half-extent of the footprint
    const float mLo = std::min(m0, m1) - half - cap;
    const float mHi = std::max(m0, m1) + half + cap;

    int first = static_cast<int>(std::floor(mLo));
    int last = static_cast<int>(std::ceil(mHi));
    const int majorLimit = xMajor ? width : image_.height;
    if (xMajor) {
        // Only the columns whose footprint meets the band's rows.
        const float lo = static_cast<float>(rowBegin_) - reach - 1.0f;
        const float hi = static_cast<float>(rowEnd_) + reach + 1.0f;
        if (std::fabs(slope) > 1e-9f) {
            float a = m0 + (lo - c0) / slope;
            float b = m0 + (hi - c0) / slope;
            if (a > b) std::swap(a, b);
            first = std::max(first, static_cast<int>(std::floor(a)));
            last = std::min(last, static_cast<int>(std::ceil(b)));
        } else if (c0 < lo || c0 > hi) {
            return;
        }
    } else {
        first = std::max(first, rowBegin_);
        last = std::min(last, rowEnd_ - 1);
    }
    first = std::max(first, 0);
    last = std::min(last, majorLimit - 1);

    const int minorBegin = xMajor ? rowBegin_ : 0;
    const int minorEnd = xMajor ? rowEnd_ : width;
    const float mStart = std::min(m0, m1);
    const float mEnd = std::max(m0, m1);
    for (int m = first; m <= last; ++m) {
        const float cm = static_cast<float>(m) + 0.5f;
        const float cc = c0 + (cm - m0) * slope;
        const int lo = std::max(minorBegin, static_cast<int>(std::ceil(cc - reach - 0.5f)));
        const int hi = std::min(minorEnd - 1, static_cast<int>(std::floor(cc + reach - 0.5f)));
        if (!smooth_) {
            if (cm < mStart || cm >= mEnd) continue;
            for (int n = lo; n <= hi; ++n) {
                const float off = static_cast<float>(n) + 0.5f - cc;
                if (std::fabs(off) >= half) continue;
                if (xMajor)
                    blendAt(m, n, 1.0f);
                else
                    blendAt(n, m, 1.0f);
            }
            continue;
        }
        for (int n = lo; n <= hi; ++n) {
            const float cn = static_cast<float>(n) + 0.5f;
            const float px = xMajor ? cm : cn;
            const float py = xMajor ? cn : cm;
            const float rx = px - x0;
            const float ry = py - y0;
            const float d = std::fabs(ry * ux - rx * uy);
            float coverage = std::min(1.0f, half - d);
            if (coverage <= 0.0f) continue;
            const float s = rx * ux + ry * uy;
            const float ends = std::min(s + cap, length + cap - s);
            if (ends <= 0.0f) continue;
            if (ends < 1.0f) coverage *= ends;
            if (xMajor)
                blendAt(m, n, coverage);
            else
                blendAt(n, m, coverage);
        }
    }
}

// A smoothed point is a disc of the point size whose edge fades over one
// pixel; an aliased one is the square of pixels whose centres it covers.
void RasterSink::point(float x, float y) {
    if (!finite(x) || !finite(y)) return;
    const float radius = pointSize_ * 0.5f;
    const float reach = smooth_ ? radius + 0.5f : radius;
    const int x0 = std::max(0, static_cast<int>(std::floor(x - reach)));
    const int x1 = std::min(image_.width - 1, static_cast<int>(std::ceil(x + reach)));
    const int y0 = std::max(rowBegin_, static_cast<int>(std::floor(y - reach)));
    const int y1 = std::min(rowEnd_ - 1, static_cast<int>(std::ceil(y + reach)));
    for (int j = y0; j <= y1; ++j) {
        const float cy = static_cast<float>(j) + 0.5f - y;
        for (int i = x0; i <= x1; ++i) {
            const float cx = static_cast<float>(i) + 0.5f - x;
            if (!smooth_) {
                if (cx >= -radius && cx < radius && cy >= -radius && cy < radius) blendAt(i, j, 1.0f);
                continue;
            }
            const float coverage = std::min(1.0f, reach - std::sqrt(cx * cx + cy * cy));
            if (coverage > 0.0f) blendAt(i, j, coverage);
        }
    }
}
