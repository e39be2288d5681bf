#include "records/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstddef>

#include "plot/plot.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The four bytes of a pixel in 16-bit lanes of one word, so one multiply
// blends two channels; every byte is treated alike, whatever the byte order.
inline std::uint64_t spread(std::uint32_t v) {
    return (v & 0x00FF00FFu) | (static_cast<std::uint64_t>(v & 0xFF00FF00u) << 24);
}
inline std::uint32_t gather(std::uint64_t lanes) {
    return static_cast<std::uint32_t>(lanes & 0x00FF00FFu) |
           static_cast<std::uint32_t>((lanes >> 24) & 0xFF00FF00u);
}

// dst := (src * a + dst * (256 - a)) / 256 on every byte, a in [0, 256].
inline void blendPixel(std::uint8_t* p, std::uint64_t src, std::uint32_t a) {
    std::uint32_t d;
    std::memcpy(&d, p, 4);
    const std::uint64_t mixed =
        ((src * a + spread(d) * (256u - a) + 0x0080008000800080ULL) >> 8) & 0x00FF00FF00FF00FFULL;
    const std::uint32_t out = gather(mixed);
    std::memcpy(p, &out, 4);
}

#if defined(__SSE2__)
// Blends four pixels at once with the same rounding as blendPixel; a lane
// whose weight is 0 comes back unchanged.
// a16: the weights a0 a1 a2 a3 a0 a1 a2 a3 in 16-bit lanes.
inline __m128i blendFour(__m128i d, __m128i src16, __m128i a16) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i pairs = _mm_unpacklo_epi16(a16, a16);        // a0 a0 a1 a1 a2 a2 a3 a3
    const __m128i aLo = _mm_unpacklo_epi32(pairs, pairs);      // a0 x4, a1 x4
    const __m128i aHi = _mm_unpackhi_epi32(pairs, pairs);      // a2 x4, a3 x4
    const __m128i full = _mm_set1_epi16(256);
    const __m128i half = _mm_set1_epi16(128);
    // Sums stay below 65536, so wrapping 16-bit lanes hold them exactly.
    const __m128i lo = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(src16, aLo),
                                    _mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), _mm_sub_epi16(full, aLo))),
                      half),
        8);
    const __m128i hi = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(src16, aHi),
                                    _mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), _mm_sub_epi16(full, aHi))),
                      half),
        8);
    return _mm_packus_epi16(lo, hi);
}

inline int pixelAt(const std::uint8_t* p) {
    int v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void setPixel(std::uint8_t* p, __m128i v) {
    const int word = _mm_cvtsi128_si32(v);
    std::memcpy(p, &word, 4);
}
#endif

// Coordinates beyond this many pixels off the image are cut down to it, so a
// zoomed view box or a wild value neither overflows nor loops for long.
constexpr float kFar = 1.0e6f;

bool finite(float v) { return std::isfinite(v) && std::fabs(v) < kFar; }

// floor and ceil of coordinates already bounded by kFar, without the library
// call the baseline instruction set needs for std::floor.
inline int floorOf(float v) {
    const int i = static_cast<int>(v);
    return v < static_cast<float>(i) ? i - 1 : i;
}
inline int ceilOf(float v) {
    const int i = static_cast<int>(v);
    return v > static_cast<float>(i) ? i + 1 : i;
}

}  // namespace

RasterView RasterView::of(const PCPlot& plot, int width, int height) {
    RasterView v;
    v.left = plot.viewLeft;
    v.bottom = plot.viewBottom;
    v.scaleX = width / (plot.viewRight - plot.viewLeft);
    v.scaleY = height / (plot.viewTop - plot.viewBottom);
    return v;
}

RasterSink::RasterSink(Accumulation& target, int layer, float weight, int width, int height, const RasterView& view,
                       bool smooth, int rowBegin, int rowEnd)
    : width_(width),
      view_(view),
      smooth_(smooth),
      rowBegin_(std::max(rowBegin, 0)),
      rowEnd_(std::min(rowEnd, height)),
      target_(&target),
      layer_(std::clamp(layer, 0, target.layers() - 1)),
      markWeight_(weight) {}

RasterSink::RasterSink(RasterImage& image, const RasterView& view, bool smooth, int rowBegin, int rowEnd)
    : pixels_(image.rgba.data()),
      width_(image.width),
      view_(view),
      smooth_(smooth),
      rowBegin_(std::max(rowBegin, 0)),
      rowEnd_(std::min(rowEnd, image.height)) {}

void RasterSink::color(const double* rgba) {
    // The waiting piece keeps the colour it was given; the joint becomes ends.
    flushStrip();
    const std::uint8_t bytes[4] = {unorm8(rgba[0]), unorm8(rgba[1]), unorm8(rgba[2]), 255};
    std::memcpy(&opaque_, bytes, 4);
    lanes_ = spread(opaque_);
    // Alpha as it reaches 8 bits, then on the blend's 0..256 scale.
    alpha256_ = static_cast<float>(unorm8(rgba[3])) * (256.0f / 255.0f);
    markAlpha_ = static_cast<float>(unorm8(rgba[3])) / 255.0f;
    for (int c = 0; c < 3; ++c) markColor_[c] = static_cast<float>(bytes[c]) / 255.0f;
}

void RasterSink::vertex(double x, double y) {
    const float px = static_cast<float>((x - view_.left) * view_.scaleX);
    const float py = static_cast<float>((y - view_.bottom) * view_.scaleY);
    switch (open_) {
        case Primitive::Points: point(px, py); return;
        case Primitive::Lines:
            if (pending_) {
                segment(lastX_, lastY_, px, py, false, false);
                pending_ = false;
            } else {
                lastX_ = px;
                lastY_ = py;
                pending_ = true;
            }
            return;
        case Primitive::LineStrip:
            // A segment is drawn once the next vertex tells whether its end
            // is a joint, where the two pieces meet without faded ends.
            if (pending_) {
                if (held_) segment(heldX_, heldY_, lastX_, lastY_, heldJoint_, true);
                heldJoint_ = held_;
                heldX_ = lastX_;
                heldY_ = lastY_;
                held_ = true;
            }
            lastX_ = px;
            lastY_ = py;
            pending_ = true;
            return;
    }
}

inline void RasterSink::accumulateAt(int x, int y, float coverage) {
    if (!target_->contains(x, y)) return;
    AccumulatedPixel& px = target_->at(x, y, layer_);
    const float c = coverage * markWeight_;
    const float ac = c * markAlpha_;
    px.red += ac * markColor_[0];
    px.green += ac * markColor_[1];
    px.blue += ac * markColor_[2];
    px.weight += ac;
}

inline void RasterSink::blendAt(int x, int y, float coverage) {
    if (target_ != nullptr) {
        accumulateAt(x, y, coverage);
        return;
    }
    std::uint8_t* p = pixels_ + (static_cast<std::size_t>(y) * width_ + x) * 4;
    if (!smooth_) {
        std::memcpy(p, &opaque_, 4);
        return;
    }
    const int a = static_cast<int>(alpha256_ * coverage + 0.5f);
    if (a > 0) blendPixel(p, lanes_, static_cast<std::uint32_t>(a));
}

// A smoothed line covers pixels by their centre's distance d from it:
// min(1, w/2 + 1/2 - |d|), so a line of width 1 fades over one pixel on
// either side and carries the ink of its width. Its ends fade over half a
// pixel beyond each end point. Aliased lines take the pixels whose centre
// lies within w/2 of the line along the minor axis, ends half-open.
void RasterSink::flushStrip() {
    if (held_) segment(heldX_, heldY_, lastX_, lastY_, heldJoint_, false);
    held_ = false;
}

void RasterSink::segment(float x0, float y0, float x1, float y1, bool joint0, bool joint1) {
    if (!finite(x0) || !finite(y0) || !finite(x1) || !finite(y1)) return;
    const float half = smooth_ ? lineWidth_ * 0.5f + 0.5f : std::max(lineWidth_, 1.0f) * 0.5f;
    // Most segments of a band's neighbours end here, before any square root.
    const float reachMax = half * 1.5f + 1.0f;
    if (std::max(y0, y1) + reachMax < static_cast<float>(rowBegin_) ||
        std::min(y0, y1) - reachMax > static_cast<float>(rowEnd_))
        return;
    if (std::max(x0, x1) + reachMax < 0.0f || std::min(x0, x1) - reachMax > static_cast<float>(width_))
        return;
    if (std::fabs(x1 - x0) >= std::fabs(y1 - y0))
        fillSegment<true>(x0, y0, x1, y1, half, joint0, joint1);
    else
        fillSegment<false>(x0, y0, x1, y1, half, joint0, joint1);
}

// A segment laid out for filling along its major axis (x when XMajor), and
// the pixels and colour it is blended into. The minor coordinate of the line
// at a major coordinate m is c0 + (m - m0) * slope, and a pixel's distance
// from the line is its minor offset times the cosine.
struct SegmentSweep {
    float ux = 0.0f, uy = 0.0f, length = 0.0f;  // direction and length
    float half = 0.0f;                          // reach across the line
    float cap = 0.0f;                           // how far a faded end reaches past its end point
    float m0 = 0.0f, c0 = 0.0f, slope = 0.0f;
    float cosine = 1.0f;  // >= 0.707
    float reach = 0.0f;   // half along the minor axis
    float mStart = 0.0f, mEnd = 0.0f;
    float alongStep = 0.0f;  // change of the position along the line per pixel across
    bool joint0 = false, joint1 = false;
    int first = 0, last = -1;           // the major coordinates to fill
    int innerFirst = 1, innerLast = 0;  // those whose runs are clear of the faded ends
    int minorBegin = 0, minorEnd = 0;
    std::uint8_t* pixels = nullptr;
    int width = 0;
    std::ptrdiff_t step = 0;  // pixels one step apart along the minor axis
    float alpha = 256.0f;
    std::uint64_t lanes = 0;
    std::uint32_t opaque = 0;
};

namespace {

// The first pixel of the run at major coordinate m from minor coordinate lo.
template <bool XMajor>
inline std::uint8_t* runStart(const SegmentSweep& s, int m, int lo) {
    return XMajor ? s.pixels + (static_cast<std::size_t>(lo) * s.width + m) * 4
                  : s.pixels + (static_cast<std::size_t>(m) * s.width + lo) * 4;
}

inline void writeAliasedRun(const SegmentSweep& s, std::uint8_t* p, int lo, int hi, float offset) {
    const float half = s.half;
    const std::ptrdiff_t step = s.step;
    const std::uint32_t opaque = s.opaque;
    for (int n = lo; n <= hi; ++n, p += step, offset += 1.0f) {
        if (std::fabs(offset) >= half) continue;
        std::memcpy(p, &opaque, 4);
    }
}

// along: the position along the line of the run's first pixel; unused for
// an inner run.
inline void blendRun(const SegmentSweep& s, std::uint8_t* p, int lo, int hi, float offset, bool inner, float along) {
    const float half = s.half, cosine = s.cosine, alpha = s.alpha, cap = s.cap, length = s.length;
    const float alongStep = s.alongStep;
    const bool joint0 = s.joint0, joint1 = s.joint1;
    const std::ptrdiff_t step = s.step;
    const std::uint64_t lanes = s.lanes;
    if (inner) {
        for (int n = lo; n <= hi; ++n, p += step, offset += 1.0f) {
            const float coverage = std::min(1.0f, half - std::fabs(offset) * cosine);
            const int a = static_cast<int>(alpha * coverage + 0.5f);
            if (a > 0) blendPixel(p, lanes, static_cast<std::uint32_t>(a));
        }
        return;
    }
    for (int n = lo; n <= hi; ++n, p += step, offset += 1.0f, along += alongStep) {
        float coverage = std::min(1.0f, half - std::fabs(offset) * cosine);
        const float from0 = joint0 ? (along >= 0.0f ? 1.0f : 0.0f) : along + cap;
        const float to1 = joint1 ? (along < length ? 1.0f : 0.0f) : length + cap - along;
        const float ends = std::min(from0, to1);
        if (ends <= 0.0f) continue;
        if (ends < 1.0f) coverage *= ends;
        const int a = static_cast<int>(alpha * coverage + 0.5f);
        if (a > 0) blendPixel(p, lanes, static_cast<std::uint32_t>(a));
    }
}

#if defined(__SSE2__)
// Lanes of a run's last step that lie past its end, by pixels left.
alignas(16) constexpr std::int16_t kLive[5][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},      {-1, 0, 0, 0, -1, 0, 0, 0},     {-1, -1, 0, 0, -1, -1, 0, 0},
    {-1, -1, -1, 0, -1, -1, -1, 0}, {-1, -1, -1, -1, -1, -1, -1, -1}};

// blendRun four pixels a step. Along a row the spare lanes of the last step
// weigh 0 and are written back unchanged, so they must lie inside the row;
// down a column only the run's own pixels are touched.
template <bool XMajor>
inline void blendRunFour(const SegmentSweep& s, std::uint8_t* p, int lo, int hi, float offset, bool inner,
                         float along) {
    const bool joint0 = s.joint0, joint1 = s.joint1;
    const float alongStep = s.alongStep;
    const std::ptrdiff_t step = s.step;
    const __m128 stepsF = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 vOne = _mm_set1_ps(1.0f);
    const __m128 vHalf = _mm_set1_ps(s.half);
    const __m128 vCos = _mm_set1_ps(s.cosine);
    const __m128 vAlpha = _mm_set1_ps(s.alpha);
    const __m128 vRound = _mm_set1_ps(0.5f);
    const __m128 vCap = _mm_set1_ps(s.cap);
    const __m128 vEndCap = _mm_set1_ps(s.length + s.cap);
    const __m128 vLength = _mm_set1_ps(s.length);
    const __m128 vAlongStep = _mm_set1_ps(alongStep);
    const __m128i src16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(s.opaque)), _mm_setzero_si128());
    const __m128i src16x2 = _mm_unpacklo_epi64(src16, src16);
    for (int n = lo; n <= hi; n += 4, p += 4 * step, offset += 4.0f, along += 4.0f * alongStep) {
        const __m128 off = _mm_add_ps(_mm_set1_ps(offset), stepsF);
        __m128 coverage = _mm_min_ps(vOne, _mm_sub_ps(vHalf, _mm_mul_ps(_mm_and_ps(off, absMask), vCos)));
        if (!inner) {
            const __m128 al = _mm_add_ps(_mm_set1_ps(along), _mm_mul_ps(stepsF, vAlongStep));
            // A joint's side weighs 1 up to the joint and 0 past it.
            const __m128 from0 = joint0 ? _mm_and_ps(_mm_cmpge_ps(al, _mm_setzero_ps()), vOne)
                                        : _mm_add_ps(al, vCap);
            const __m128 to1 = joint1 ? _mm_and_ps(_mm_cmplt_ps(al, vLength), vOne)
                                      : _mm_sub_ps(vEndCap, al);
            const __m128 ends = _mm_min_ps(from0, to1);
            const __m128 fade = _mm_cmplt_ps(ends, vOne);
            coverage = _mm_or_ps(_mm_and_ps(fade, _mm_mul_ps(coverage, ends)), _mm_andnot_ps(fade, coverage));
            // Beyond an end nothing is drawn, whatever the coverage.
            coverage = _mm_and_ps(_mm_cmpgt_ps(ends, _mm_setzero_ps()), coverage);
        }
        const __m128i a32 = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(vAlpha, coverage), vRound));
        const int count = hi - n + 1;
        const __m128i live = _mm_load_si128(reinterpret_cast<const __m128i*>(kLive[std::min(count, 4)]));
        const __m128i a = _mm_and_si128(_mm_max_epi16(_mm_packs_epi32(a32, a32), _mm_setzero_si128()), live);
        if (XMajor) {
            // Gathered and scattered through registers: a round trip
            // through memory would stall on the wide reload.
            const __m128i d = _mm_setr_epi32(pixelAt(p), count > 1 ? pixelAt(p + step) : 0,
                                             count > 2 ? pixelAt(p + 2 * step) : 0,
                                             count > 3 ? pixelAt(p + 3 * step) : 0);
            const __m128i out = blendFour(d, src16x2, a);
            setPixel(p, out);
            if (count > 1) setPixel(p + step, _mm_srli_si128(out, 4));
            if (count > 2) setPixel(p + 2 * step, _mm_srli_si128(out, 8));
            if (count > 3) setPixel(p + 3 * step, _mm_srli_si128(out, 12));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                             blendFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), src16x2, a));
        }
    }
}
#endif

}  // namespace

// Walks the major axis, one run of pixels across the line per major
// coordinate.
template <bool XMajor>
void RasterSink::fillSegment(float x0, float y0, float x1, float y1, float half, bool joint0, bool joint1) {
    SegmentSweep s;
    if (!layOut<XMajor>(x0, y0, x1, y1, half, joint0, joint1, s)) return;
    for (int m = s.first; m <= s.last; ++m) {
        const float cm = static_cast<float>(m) + 0.5f;
        const float cc = s.c0 + (cm - s.m0) * s.slope;
        const int lo = std::max(s.minorBegin, ceilOf(cc - s.reach - 0.5f));
        const int hi = std::min(s.minorEnd - 1, floorOf(cc + s.reach - 0.5f));
        if (lo > hi) continue;
        const float offset = static_cast<float>(lo) + 0.5f - cc;
        if (!smooth_) {
            if (cm < s.mStart || cm >= s.mEnd) continue;
            if (target_ != nullptr)
                accumulateAliasedRun<XMajor>(s, m, lo, hi, offset);
            else
                writeAliasedRun(s, runStart<XMajor>(s, m, lo), lo, hi, offset);
            continue;
        }
        // Position along the line of the first pixel, and its change per pixel.
        const bool inner = m >= s.innerFirst && m <= s.innerLast;
        float along = 0.0f;
        if (!inner) {
            const float rm = cm - s.m0;
            const float rn = static_cast<float>(lo) + 0.5f - s.c0;
            along = XMajor ? rm * s.ux + rn * s.uy : rn * s.ux + rm * s.uy;
        }
        if (target_ != nullptr) {
            accumulateRun<XMajor>(s, m, lo, hi, offset, inner, along);
            continue;
        }
        std::uint8_t* p = runStart<XMajor>(s, m, lo);
#if defined(__SSE2__)
        if (XMajor || lo + (((hi - lo) >> 2) << 2) + 3 < s.width) {
            blendRunFour<XMajor>(s, p, lo, hi, offset, inner, along);
            continue;
        }
#endif
        blendRun(s, p, lo, hi, offset, inner, along);
    }
}

// The segment's sweep; false if it covers no pixel of the band.
template <bool XMajor>
bool RasterSink::layOut(float x0, float y0, float x1, float y1, float half, bool joint0, bool joint1,
                        SegmentSweep& s) const {
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 1e-6f)) return false;
    s.length = length;
    s.half = half;
    s.ux = dx / length;
    s.uy = dy / length;
    s.cap = smooth_ ? 0.5f : 0.0f;
    s.m0 = XMajor ? x0 : y0;
    const float m1 = XMajor ? x1 : y1;
    s.c0 = XMajor ? y0 : x0;
    s.slope = XMajor ? dy / dx : dx / dy;
    s.cosine = XMajor ? std::fabs(s.ux) : std::fabs(s.uy);
    s.reach = half / s.cosine;
    s.mStart = std::min(s.m0, m1);
    s.mEnd = std::max(s.m0, m1);

    // A joint ends the line square across it, without the faded cap, so only
    // the pixels within the line's half width across reach past it.
    s.alongStep = XMajor ? s.uy : s.ux;
    s.joint0 = smooth_ && joint0;
    s.joint1 = smooth_ && joint1;
    const float overJoint = half * std::fabs(s.alongStep) + 0.5f;
    const float over0 = s.joint0 ? overJoint : half + s.cap;
    const float over1 = s.joint1 ? overJoint : half + s.cap;
    s.first = floorOf(s.mStart - (s.m0 <= m1 ? over0 : over1));
    s.last = ceilOf(s.mEnd + (s.m0 <= m1 ? over1 : over0));
    if (!clipToBand<XMajor>(s)) return false;
    s.minorBegin = XMajor ? rowBegin_ : 0;
    s.minorEnd = XMajor ? rowEnd_ : width_;
    if (smooth_) findInnerRuns<XMajor>(s);
    s.pixels = pixels_;
    s.width = width_;
    s.step = XMajor ? static_cast<std::ptrdiff_t>(width_) * 4 : 4;
    s.alpha = alpha256_;
    s.lanes = lanes_;
    s.opaque = opaque_;
    return true;
}

// Cuts the major coordinates down to the image, and along x to the columns
// whose footprint meets the band's rows; false if none is left to look at.
template <bool XMajor>
bool RasterSink::clipToBand(SegmentSweep& s) const {
    if (!XMajor) {
        s.first = std::max(s.first, rowBegin_);
        s.last = std::min(s.last, rowEnd_ - 1);
        return true;
    }
    const float lo = static_cast<float>(rowBegin_) - s.reach - 1.0f;
    const float hi = static_cast<float>(rowEnd_) + s.reach + 1.0f;
    if (std::fabs(s.slope) > 1e-9f) {
        float a = s.m0 + (lo - s.c0) / s.slope;
        float b = s.m0 + (hi - s.c0) / s.slope;
        if (a > b) std::swap(a, b);
        // Clamped before converting: a nearly flat line gives huge values.
        a = std::clamp(a, -2.0f, static_cast<float>(width_) + 2.0f);
        b = std::clamp(b, -2.0f, static_cast<float>(width_) + 2.0f);
        s.first = std::max(s.first, floorOf(a));
        s.last = std::min(s.last, ceilOf(b));
    } else if (s.c0 < lo || s.c0 > hi) {
        return false;
    }
    s.first = std::max(s.first, 0);
    s.last = std::min(s.last, width_ - 1);
    return true;
}

// The runs whose whole length is clear of the faded ends skip them: a run's
// pixels lie within `reach` of the line across it, so their positions along
// it stay within reach * |alongStep| of the line's own, which is
// (m + 1/2 - m0) / majorStep. The margin keeps rounding on the safe side.
template <bool XMajor>
void RasterSink::findInnerRuns(SegmentSweep& s) const {
    const float majorStep = XMajor ? s.ux : s.uy;
    const float spread = s.reach * std::fabs(s.alongStep) + 0.05f;
    const float a = (s.joint0 ? 0.0f : 1.0f - s.cap) + spread;
    const float b = s.length - (s.joint1 ? 0.0f : 1.0f - s.cap) - spread;
    if (a <= b) {
        const float ra = std::min(a * majorStep, b * majorStep);
        const float rb = std::max(a * majorStep, b * majorStep);
        s.innerFirst = std::max(s.first, ceilOf(ra + s.m0 - 0.5f));
        s.innerLast = std::min(s.last, floorOf(rb + s.m0 - 0.5f));
    }
}

template <bool XMajor>
void RasterSink::accumulateAliasedRun(const SegmentSweep& s, int m, int lo, int hi, float offset) {
    const float half = s.half;
    for (int n = lo; n <= hi; ++n, offset += 1.0f)
        if (std::fabs(offset) < half) accumulateAt(XMajor ? m : n, XMajor ? n : m, 1.0f);
}

template <bool XMajor>
void RasterSink::accumulateRun(const SegmentSweep& s, int m, int lo, int hi, float offset, bool inner, float along) {
    const float half = s.half, cosine = s.cosine, cap = s.cap, length = s.length, alongStep = s.alongStep;
    const bool joint0 = s.joint0, joint1 = s.joint1;
    for (int n = lo; n <= hi; ++n, offset += 1.0f, along += alongStep) {
        float coverage = std::min(1.0f, half - std::fabs(offset) * cosine);
        if (!inner) {
            const float from0 = joint0 ? (along >= 0.0f ? 1.0f : 0.0f) : along + cap;
            const float to1 = joint1 ? (along < length ? 1.0f : 0.0f) : length + cap - along;
            coverage *= std::clamp(std::min(from0, to1), 0.0f, 1.0f);
        }
        if (coverage > 0.0f) accumulateAt(XMajor ? m : n, XMajor ? n : m, coverage);
    }
}

// A smoothed point is a disc of the point size whose edge fades over one
// pixel; an aliased one is the square of pixels whose centres it covers.
void RasterSink::point(float x, float y) {
    if (!finite(x) || !finite(y)) return;
    const float radius = pointSize_ * 0.5f;
    const float reach = smooth_ ? radius + 0.5f : radius;
    const int x0 = std::max(0, floorOf(x - reach));
    const int x1 = std::min(width_ - 1, ceilOf(x + reach));
    const int y0 = std::max(rowBegin_, floorOf(y - reach));
    const int y1 = std::min(rowEnd_ - 1, ceilOf(y + reach));
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
