// Details on hover: when to search, the search over the records of the
// region under the pointer, and the box's lines.

#include "interaction/hover.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "animation/animation.h"
#include "base/parallel.h"
#include "base/platform.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "listing/cell_text.h"
#include "mds/mds_axis.h"
#include "plot/axis.h"
#include "plot/curve.h"
#include "plot/plot.h"
#include "plot/scatter_square.h"

namespace {

constexpr double reach2 = hoverReachPx * hoverReachPx;
// Records a slice looks at before the search returns to the event loop.
constexpr int sliceRecords = 1 << 20;
// Steps of the curve parameter over which the piece's reach is bounded.
constexpr int windowSteps = 1024;

// What a region's points hang on, as the renderers place them: across by
// the right axis's value and at the left axis's height, or by its MDS layout.
struct PointPlace {
    bool open = false;
    bool transition = false;
    double t = 1.0;
    double from = 0.0, width = 0.0, vScale = 0.0, vKeep = 0.0, bottom = 0.0, height = 0.0;
    const double* outX = nullptr;
    const double* outY = nullptr;

    // left and right: the record's positions on the region's two axes.
    Point at(int r, double left, double right) const {
        if (outX != nullptr) return {from + width * outX[r], vScale * outY[r] + vKeep * left + bottom};
        return {from + width * right, left * height + bottom};
    }
};

PointPlace placeOf(const PCPlot& plot, int i) {
    PointPlace place;
    const PCShowAxis* axis = plot.axisAt(i);
    if (axis == nullptr || plot.axisAt(i + 1) == nullptr || !(axis->scatterOn || axis->scatterTransition))
        return place;
    place.open = true;
    place.bottom = axis->regionBottom;
    place.height = axis->regionTop - axis->regionBottom;
    const double t = axis->scatterTransition ? axis->scatterProgress : 1.0;
    const ScatterSquare square = scatterSquare(axis->position, plot.axes[i + 1]->position, plot.regionMargin, t);
    place.from = square.left;
    place.width = square.width;
    place.vScale = place.height;
    if (axis->scatterTransition) {
        place.transition = true;
        place.t = t;
        place.vScale = t * place.height;
        place.vKeep = (1.0 - t) * place.height;
    }
    if (const MDSLayout* layout = usableLayout(*axis, std::max(plot.recordCount, 0))) {
        const MDSLayout::Output o = layout->layoutOutput();
        place.outX = o.outX;
        place.outY = o.outY;
    }
    return place;
}

// The positions a dimension's records may take: its range, and where its
// missing values are drawn.
void positionBounds(const Dimension* d, double& low, double& high) {
    low = 0.0;
    high = 1.0;
    if (d == nullptr || std::isnan(d->missingValue)) return;
    const double missing = d->placement().position(d->missingValue);
    if (std::isfinite(missing)) {
        low = std::min(low, missing);
        high = std::max(high, missing);
    }
}

bool animating(const PCPlot& plot) {
    if (layoutAnimating) return true;
    for (int i = 0; i < plot.axisCount; ++i) {
        const PCShowAxis& a = *plot.axes[i];
        if (a.scatterTransition || (a.mdsVisible && a.mdsLayout && a.mdsRunning)) return true;
    }
    return false;
}

void mix(std::uint64_t& h, std::uint64_t v) { h = (h ^ v) * 0x100000001b3ULL + 0x9e3779b97f4a7c15ULL; }
void mix(std::uint64_t& h, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    mix(h, bits);
}

// Everything that moves a record's line or point on screen.
std::uint64_t viewKey(const PCPlot& plot) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    mix(h, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&plot)));
    mix(h, tableGeneration);
    mix(h, static_cast<std::uint64_t>(plot.axisCount) << 1 | (plot.straightLines ? 1u : 0u));
    for (double v : {plot.regionMargin, plot.viewLeft, plot.viewRight, plot.viewBottom, plot.viewTop})
        mix(h, v);
    for (int v : {plot.viewportX, plot.viewportY, plot.viewportWidth, plot.viewportHeight})
        mix(h, static_cast<std::uint64_t>(v));
    for (int i = 0; i < plot.axisCount; ++i) {
        const PCShowAxis& a = *plot.axes[i];
        mix(h, static_cast<std::uint64_t>(a.dimensionIndex) << 4 | (a.scatterOn ? 1u : 0u) |
                   (a.scatterTransition ? 2u : 0u) | (a.mdsVisible ? 4u : 0u));
        for (double v : {a.position, a.regionBottom, a.regionTop, a.scatterProgress}) mix(h, v);
        mix(h, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(a.mdsLayout.get())));
        if (const Dimension* d = plot.dimensionAt(a.dimensionIndex)) mix(h, d->displayRevision);
    }
    return h;
}

struct Best {
    double d2 = reach2;
    int record = -1;
    bool found = false;

    // Strictly nearer replaces, so the first record wins ties.
    void offer(double distance2, int r) {
        if (distance2 < d2 || (!found && distance2 <= d2)) {
            d2 = distance2;
            record = r;
            found = true;
        }
    }
    void take(const Best& o) {
        if (o.found && (!found || o.d2 < d2 || (o.d2 == d2 && o.record < record))) *this = o;
    }
};

double segmentDistance2(double ax, double ay, double bx, double by, double px, double py) {
    const double dx = bx - ax, dy = by - ay;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0.0 ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double cx = ax + t * dx - px, cy = ay + t * dy - py;
    return cx * cx + cy * cy;
}

// The search over one region's records, in pixels with y upwards.
class HoverSearch {
public:
    bool start(const PCPlot& plot, double x, double y);
    // Looks at the next records; true once all have been seen.
    bool step(int records, int threads);
    HoverHit result() const {
        return best_.found ? HoverHit{best_.record, std::sqrt(best_.d2)} : HoverHit{};
    }

private:
    enum class Kind { Segments, Curves, Points };
    struct Axis {
        bool present = false;
        double x = 0.0;  // pixels
        Positions values;
        const Dimension* dimension = nullptr;
        double bottom = 0.0, height = 0.0;  // pixels
        // A linear axis places a value at scale * value + shift: a multiply
        // instead of the division of Placement::position, which it equals
        // to within rounding. The first pass then reads the values as they
        // are; other axes' positions are placed into a block first.
        bool linear = false;
        double scale = 0.0, shift = 0.5;
    };
    // Slot k holds axis i - 1 + k.
    static constexpr int before = 0, left = 1, right = 2, after = 3;

    double toX(double u) const { return (u - viewLeft_) * sx_; }
    double toY(double v) const { return (v - viewBottom_) * sy_; }
    Point toPixels(Point p) const { return {toX(p.x), toY(p.y)}; }
    void prepareCurves();
    // One block of records: per slot, what the first pass reads and how a
    // position follows from it.
    struct Block {
        const Axis* axis[4] = {};  // slot k's axis, or the inner one standing for it
        bool used[4] = {};
        int first = 0, count = 0;  // its records
        const double* in[4] = {};
        double scale[4] = {}, shift[4] = {};
        double position(int j, int k) const { return scale[j] * in[j][k] + shift[j]; }
        // A slot's height in pixels is gain(j) * in[j][k] + lift(j).
        double gain(int j) const { return scale[j] * axis[j]->height; }
        double lift(int j) const { return shift[j] * axis[j]->height + axis[j]->bottom; }
    };
    void searchRange(int first, int last, Best& best) const;
    // Offer the block's records within reach to best; near holds a slot per record.
    void searchPoints(const Block& b, double* near, Best& best) const;
    void searchSegments(const Block& b, double* near, Best& best) const;
    void searchCurves(const Block& b, double* near, Best& best) const;
    void boundCurves(const Block& b, double* near) const;
    double sampledDistance2(const double* xs, const double* ys) const;
    // The control point a piece takes from the neighbouring region, in pixels.
    Point neighbour(const PointPlace& place, int r, Point closed, double leftPos, double rightPos) const;

    Kind kind_ = Kind::Segments;
    int count_ = 0;
    int next_ = 0;
    double px_ = 0.0, py_ = 0.0;
    double sx_ = 1.0, sy_ = 1.0, viewLeft_ = 0.0, viewBottom_ = 0.0;
    std::array<Axis, 4> axes_{};
    PointPlace region_, beforePlace_, afterPlace_;
    // Curves: the bounds of the piece's parameter near the pointer, the
    // Bernstein coefficients of y over them, and the weights of samples.
    std::array<std::array<double, 4>, 4> hull_{};
    std::vector<std::array<double, 4>> samples_;
    std::vector<double> sampleX_;  // when every record's samples lie at the same x
    Best best_;
};

bool HoverSearch::start(const PCPlot& plot, double x, double y) {
    *this = HoverSearch();
    const double spanX = plot.viewRight - plot.viewLeft, spanY = plot.viewTop - plot.viewBottom;
    if (!(spanX != 0.0 && spanY != 0.0) || plot.viewportWidth <= 0 || plot.viewportHeight <= 0) return false;
    sx_ = plot.viewportWidth / spanX;
    sy_ = plot.viewportHeight / spanY;
    viewLeft_ = plot.viewLeft;
    viewBottom_ = plot.viewBottom;
    px_ = x - plot.viewportX;
    py_ = plot.viewportHeight - (y - plot.viewportY);
    const int i = regionContaining(viewLeft_ + px_ / sx_, viewBottom_ + py_ / sy_);
    if (i < 0) return false;
    const int n = plot.axisCount;
    for (int k = 0; k < 4; ++k) {
        const PCShowAxis* a = plot.axisAt(i - 1 + k);
        Axis& slot = axes_[static_cast<std::size_t>(k)];
        if (a == nullptr) continue;
        slot.values = plot.normalizedOn(a);
        slot.present = static_cast<bool>(slot.values);
        slot.dimension = plot.dimensionAt(a->dimensionIndex);
        const Placement& place = slot.values.placement;
        const double span = place.maximum - place.minimum;
        slot.linear = slot.present && place.scale == AxisScale::Linear;
        if (slot.linear && span > 0.0 && span < HUGE_VAL) {
            slot.scale = (place.flipped ? -1.0 : 1.0) / span;
            slot.shift = place.flipped ? 1.0 + place.minimum / span : -place.minimum / span;
        }
        slot.x = toX(a->position);
        slot.bottom = toY(a->regionBottom);
        slot.height = (a->regionTop - a->regionBottom) * sy_;
    }
    if (!axes_[left].present || !axes_[right].present) return false;
    count_ = std::max(plot.recordCount, 0);
    region_ = placeOf(plot, i);
    if (region_.open) {
        kind_ = Kind::Points;
    } else if (plot.straightLines) {
        kind_ = Kind::Segments;
    } else {
        kind_ = Kind::Curves;
        if (i > 0 && axes_[before].present) beforePlace_ = placeOf(plot, i - 1);
        if (i + 2 < n && axes_[after].present) afterPlace_ = placeOf(plot, i + 1);
        prepareCurves();
    }
    return true;
}

Point HoverSearch::neighbour(const PointPlace& place, int r, Point closed, double leftPos, double rightPos) const {
    const Point s = toPixels(place.at(r, leftPos, rightPos));
    if (!place.transition) return s;
    return {(1.0 - place.t) * closed.x + place.t * s.x, (1.0 - place.t) * closed.y + place.t * s.y};
}

// Every record's piece runs through its points on the region's two axes;
// the points before and after it lie on the neighbouring axes, or in a
// neighbouring open region anywhere across it. From the bounds of those,
// the parameters at which any piece can come within reach of the pointer.
void HoverSearch::prepareCurves() {
    const Axis& a1 = axes_[left];
    const Axis& a2 = axes_[right];
    // Bounds of an outer control point's x, in pixels: on the outer axis, or
    // anywhere its open region places points (across by `across`).
    auto bounds = [&](const PointPlace& place, const Axis& outer, const Axis& inner, const Axis& across,
                      double& low, double& high) {
        if (!outer.present) {
            low = high = inner.x;
            return;
        }
        if (!place.open) {
            low = high = outer.x;
            return;
        }
        double p0 = 0.0, p1 = 1.0;
        if (place.outX != nullptr && count_ > 0) {
            p0 = *std::min_element(place.outX, place.outX + count_);
            p1 = *std::max_element(place.outX, place.outX + count_);
        } else {
            positionBounds(across.dimension, p0, p1);
        }
        const double s0 = toX(place.from + place.width * p0), s1 = toX(place.from + place.width * p1);
        low = std::min(s0, s1);
        high = std::max(s0, s1);
        if (place.transition) {
            low = std::min(low, outer.x);
            high = std::max(high, outer.x);
        }
    };
    double b0, b1, f0, f1;
    bounds(beforePlace_, axes_[before], a1, a1, b0, b1);
    bounds(afterPlace_, axes_[after], a2, axes_[after], f0, f1);

    const CurveBasis& basis = catmullRomBasis;
    auto weights = [&](double t) {
        std::array<double, 4> w{};
        for (int j = 0; j < 4; ++j) w[j] = ((basis[0][j] * t + basis[1][j]) * t + basis[2][j]) * t + basis[3][j];
        return w;
    };
    auto slopes = [&](double t) {
        std::array<double, 4> w{};
        for (int j = 0; j < 4; ++j) w[j] = (3.0 * basis[0][j] * t + 2.0 * basis[1][j]) * t + basis[2][j];
        return w;
    };
    // The outer weights are never positive on [0, 1]: the far end of each
    // outer point's bounds gives the least x, the near end the largest.
    auto xRange = [&](double t, double& low, double& high) {
        const std::array<double, 4> w = weights(t);
        const double inner = w[1] * a1.x + w[2] * a2.x;
        low = inner + w[0] * b1 + w[3] * f1;
        high = inner + w[0] * b0 + w[3] * f0;
    };
    double t0 = 2.0, t1 = -1.0;
    double lowA, highA;
    xRange(0.0, lowA, highA);
    for (int k = 0; k < windowSteps; ++k) {
        const double ta = static_cast<double>(k) / windowSteps, tb = static_cast<double>(k + 1) / windowSteps;
        double lowB, highB;
        xRange(tb, lowB, highB);
        const double low = std::min(lowA, lowB) - 0.5, high = std::max(highA, highB) + 0.5;
        if (high >= px_ - hoverReachPx && low <= px_ + hoverReachPx) {
            t0 = std::min(t0, ta);
            t1 = std::max(t1, tb);
        }
        lowA = lowB;
        highA = highB;
    }
    if (t1 < t0) {
        count_ = 0;  // no piece comes near
        return;
    }
    const double d = t1 - t0;
    const std::array<double, 4> w0 = weights(t0), w1 = weights(t1), s0 = slopes(t0), s1 = slopes(t1);
    for (int j = 0; j < 4; ++j) {
        hull_[0][j] = w0[j];
        hull_[1][j] = w0[j] + d / 3.0 * s0[j];
        hull_[2][j] = w1[j] - d / 3.0 * s1[j];
        hull_[3][j] = w1[j];
    }
    // Samples about a pixel apart along x.
    double lowEnd, highEnd, low0, high0;
    xRange(t1, lowEnd, highEnd);
    xRange(t0, low0, high0);
    const double extent = std::max(highEnd, high0) - std::min(lowEnd, low0);
    const int n = std::clamp(static_cast<int>(std::ceil(extent)) + 1, 5, 65);
    samples_.resize(static_cast<std::size_t>(n));
    for (int s = 0; s < n; ++s) samples_[static_cast<std::size_t>(s)] = weights(t0 + d * s / (n - 1));
    if (b0 == b1 && f0 == f1) {
        sampleX_.resize(samples_.size());
        for (std::size_t s = 0; s < samples_.size(); ++s) {
            const std::array<double, 4>& w = samples_[s];
            sampleX_[s] = w[0] * b0 + w[1] * a1.x + w[2] * a2.x + w[3] * f0;
        }
    }
}

void HoverSearch::searchRange(int first, int last, Best& best) const {
    double placed[4][placementBlock];
    // How far within reach a record may lie, not below 0 where it may: a
    // double, so that the first passes vectorise.
    double near[placementBlock];
    const bool curves = kind_ == Kind::Curves;
    const bool used[4] = {curves && axes_[before].present, true, true, curves && axes_[after].present};
    // Slots left out stand for the inner axis beside them.
    const int slot[4] = {used[before] ? before : left, left, right, used[after] ? after : right};
    Block b;
    for (int j = 0; j < 4; ++j) {
        b.axis[j] = &axes_[slot[j]];
        b.used[j] = used[j];
    }
    for (int block = first; block < last; block += placementBlock) {
        const int m = std::min(placementBlock, last - block);
        b.first = block;
        b.count = m;
        for (int j = 0; j < 4; ++j) {
            const Axis& a = axes_[slot[j]];
            if (a.linear) {
                b.in[j] = a.values.values + block;
                b.scale[j] = a.scale;
                b.shift[j] = a.shift;
            } else {
                if (used[j]) a.values.fill(block, m, placed[j]);
                b.in[j] = placed[slot[j]];
                b.scale[j] = 1.0;
                b.shift[j] = 0.0;
            }
        }
        switch (kind_) {
        case Kind::Points: searchPoints(b, near, best); break;
        case Kind::Segments: searchSegments(b, near, best); break;
        case Kind::Curves: searchCurves(b, near, best); break;
        }
    }
}

void HoverSearch::searchPoints(const Block& b, double* near, Best& best) const {
    const int m = b.count;
    double* __restrict flag = near;
    const double* __restrict v1 = b.in[left];
    const double* __restrict v2 = b.in[right];
    if (region_.outX == nullptr) {
        // A scatterplot point keeps its left axis's height.
        const double gx = region_.width * sx_ * b.scale[right];
        const double ox = toX(region_.from) + region_.width * sx_ * b.shift[right] - px_;
        const double gy = region_.height * sy_ * b.scale[left];
        const double oy = toY(region_.bottom) + region_.height * sy_ * b.shift[left] - py_;
        for (int k = 0; k < m; ++k) {
            const double ex = gx * v2[k] + ox, ey = gy * v1[k] + oy;
            flag[k] = reach2 - (ex * ex + ey * ey);
        }
    } else {
        std::fill(near, near + m, 0.0);
    }
    for (int k = 0; k < m; ++k) {
        if (!(near[k] >= 0.0)) continue;
        const Point s = toPixels(region_.at(b.first + k, b.position(left, k), b.position(right, k)));
        const double ex = s.x - px_, ey = s.y - py_;
        const double d2 = ex * ex + ey * ey;
        if (d2 <= reach2) best.offer(d2, b.first + k);
    }
}

void HoverSearch::searchSegments(const Block& b, double* near, Best& best) const {
    const Axis& a1 = axes_[left];
    const Axis& a2 = axes_[right];
    const int m = b.count;
    double* __restrict flag = near;
    const double* __restrict v1 = b.in[left];
    const double* __restrict v2 = b.in[right];
    const double g1 = b.gain(left), o1 = b.lift(left);
    const double g2 = b.gain(right), o2 = b.lift(right);
    // The line's distance at most the segment's: most records leave
    // without a division.
    const double dx = a2.x - a1.x, dx2 = dx * dx;
    const double across = dx > 0.0 ? (px_ - a1.x) / dx : 0.0;
    for (int k = 0; k < m; ++k) {
        const double y1 = g1 * v1[k] + o1, y2 = g2 * v2[k] + o2;
        const double dy = y2 - y1;
        const double e = y1 + across * dy - py_;
        flag[k] = reach2 * (dx2 + dy * dy) - e * e * dx2;
    }
    for (int k = 0; k < m; ++k) {
        if (!(near[k] >= 0.0)) continue;
        const double y1 = g1 * v1[k] + o1, y2 = g2 * v2[k] + o2;
        const double d2 = segmentDistance2(a1.x, y1, a2.x, y2, px_, py_);
        if (d2 <= reach2) best.offer(d2, b.first + k);
    }
}

// The outer control points' heights follow from the axes' unless a
// neighbouring region shows an MDS plot, since a scatterplot point keeps its
// left axis's height.
void HoverSearch::searchCurves(const Block& b, double* near, Best& best) const {
    if (!(beforePlace_.open && beforePlace_.outX != nullptr) && !(afterPlace_.open && afterPlace_.outX != nullptr))
        boundCurves(b, near);
    else
        std::fill(near, near + b.count, 0.0);
    const Axis& a0 = *b.axis[before];
    const Axis& a1 = axes_[left];
    const Axis& a2 = axes_[right];
    const Axis& a3 = *b.axis[after];
    for (int k = 0; k < b.count; ++k) {
        if (!(near[k] >= 0.0)) continue;
        const int r = b.first + k;
        const double q0 = b.position(before, k), q1 = b.position(left, k), q2 = b.position(right, k),
                     q3 = b.position(after, k);
        const Point p1{a1.x, q1 * a1.height + a1.bottom};
        const Point p2{a2.x, q2 * a2.height + a2.bottom};
        Point p0 = p1, p3 = p2;
        if (b.used[before]) {
            const Point closed{a0.x, q0 * a0.height + a0.bottom};
            p0 = beforePlace_.open ? neighbour(beforePlace_, r, closed, q0, q1) : closed;
        }
        if (b.used[after]) {
            const Point closed{a3.x, q3 * a3.height + a3.bottom};
            p3 = afterPlace_.open ? neighbour(afterPlace_, r, closed, q2, q3) : closed;
        }
        const double xs[4] = {p0.x, p1.x, p2.x, p3.x};
        const double ys[4] = {p0.y, p1.y, p2.y, p3.y};
        const double d2 = sampledDistance2(xs, ys);
        if (d2 <= reach2) best.offer(d2, r);
    }
}

// Near the pointer y stays within the hull of its Bernstein coefficients:
// per coefficient, an affine function of what is read. Sets near[k] to how
// far within reach that hull comes.
void HoverSearch::boundCurves(const Block& b, double* near) const {
    const int m = b.count;
    double* __restrict flag = near;
    const double* __restrict v0 = b.in[before];
    const double* __restrict v1 = b.in[left];
    const double* __restrict v2 = b.in[right];
    const double* __restrict v3 = b.in[after];
    const double g0 = b.gain(before), o0 = b.lift(before);
    const double g1 = b.gain(left), o1 = b.lift(left);
    const double g2 = b.gain(right), o2 = b.lift(right);
    const double g3 = b.gain(after), o3 = b.lift(after);
    const double keep = afterPlace_.open ? (afterPlace_.transition ? afterPlace_.t : 1.0) : 0.0;
    double c[4][4], o[4];
    for (int r = 0; r < 4; ++r) {
        const std::array<double, 4>& h = hull_[static_cast<std::size_t>(r)];
        const double inner = h[2] + keep * h[3], outer = (1.0 - keep) * h[3];
        c[r][0] = h[0] * g0;
        c[r][1] = h[1] * g1;
        c[r][2] = inner * g2;
        c[r][3] = outer * g3;
        o[r] = h[0] * o0 + h[1] * o1 + inner * o2 + outer * o3 - py_;
    }
    for (int k = 0; k < m; ++k) {
        const double e0 = o[0] + c[0][0] * v0[k] + c[0][1] * v1[k] + c[0][2] * v2[k] + c[0][3] * v3[k];
        const double e1 = o[1] + c[1][0] * v0[k] + c[1][1] * v1[k] + c[1][2] * v2[k] + c[1][3] * v3[k];
        const double e2 = o[2] + c[2][0] * v0[k] + c[2][1] * v1[k] + c[2][2] * v2[k] + c[2][3] * v3[k];
        const double e3 = o[3] + c[3][0] * v0[k] + c[3][1] * v1[k] + c[3][2] * v2[k] + c[3][3] * v3[k];
        const double lowA = e0 < e1 ? e0 : e1, lowB = e2 < e3 ? e2 : e3;
        const double highA = e0 > e1 ? e0 : e1, highB = e2 > e3 ? e2 : e3;
        const double low = lowA < lowB ? lowA : lowB, high = highA > highB ? highA : highB;
        const double above = hoverReachPx - low, below = high + hoverReachPx;
        flag[k] = above < below ? above : below;
    }
}

// The squared distance from the pointer to the curve through these control
// points, along its samples.
double HoverSearch::sampledDistance2(const double* xs, const double* ys) const {
    double d2 = HUGE_VAL, lastX = 0.0, lastY = 0.0;
    for (std::size_t s = 0; s < samples_.size(); ++s) {
        const std::array<double, 4>& w = samples_[s];
        const double sx = sampleX_.empty() ? w[0] * xs[0] + w[1] * xs[1] + w[2] * xs[2] + w[3] * xs[3] : sampleX_[s];
        const double sy = w[0] * ys[0] + w[1] * ys[1] + w[2] * ys[2] + w[3] * ys[3];
        if (s > 0) {
            // Segments whose box lies beyond reach need no distance.
            const double boxX = std::max({0.0, std::min(lastX, sx) - px_, px_ - std::max(lastX, sx)});
            const double boxY = std::max({0.0, std::min(lastY, sy) - py_, py_ - std::max(lastY, sy)});
            if (boxX * boxX + boxY * boxY <= reach2) d2 = std::min(d2, segmentDistance2(lastX, lastY, sx, sy, px_, py_));
        }
        lastX = sx;
        lastY = sy;
    }
    return d2;
}

bool HoverSearch::step(int records, int threads) {
    const int first = next_;
    const int last = static_cast<int>(std::min<long long>(static_cast<long long>(first) + records, count_));
    if (first < last) {
        const int parts = last - first >= (1 << 16) ? threadsFor(threads, 16) : 1;
        std::vector<Best> found(static_cast<std::size_t>(parts));
        runSplit(last - first, parts, [&](long long from, long long to, int part) {
            searchRange(first + static_cast<int>(from), first + static_cast<int>(to),
                        found[static_cast<std::size_t>(part)]);
        });
        for (const Best& b : found) best_.take(b);
    }
    next_ = last;
    return next_ >= count_;
}

// ---------------------------------------------------------------- when

struct HoverState {
    std::uint64_t resets = 0;
    int x = 0, y = 0;
    double movedMs = 0.0;
    bool inside = false;
    bool pending = false;  // the pointer moved: search once it rests
    int buttons = 0;       // held, one bit each
    HoverShown shown;
    std::uint64_t shownKey = 0;
    bool searching = false;
    std::uint64_t searchKey = 0;
    HoverSearch search;
};

HoverState& state() {
    static HoverState s;
    if (s.resets != hoverResets) {
        s = HoverState();
        s.resets = hoverResets;
    }
    return s;
}

void hide() {
    HoverState& s = state();
    if (s.shown.record >= 0) requestRedraw();
    s.shown = HoverShown{};
}

}  // namespace

void noteHoverMotion(int x, int y) {
    HoverState& s = state();
    s.inside = true;
    if (s.shown.record >= 0 && std::hypot(x - s.shown.x, y - s.shown.y) > hoverReachPx) hide();
    s.x = x;
    s.y = y;
    s.movedMs = clockMs();
    s.pending = true;
    s.searching = false;
}

void noteHoverLeave() {
    HoverState& s = state();
    s.inside = false;
    s.pending = s.searching = false;
    hide();
}

void noteHoverButton(int button, int buttonState, int x, int y) {
    HoverState& s = state();
    if (button >= 0 && button < 3) {
        const int bit = 1 << button;
        s.buttons = buttonState == 0 ? s.buttons | bit : s.buttons & ~bit;
    }
    hide();
    s.searching = false;
    s.x = x;
    s.y = y;
    s.movedMs = clockMs();
    s.pending = s.buttons == 0;
}

void noteHoverDrag() {
    HoverState& s = state();
    hide();
    s.pending = s.searching = false;
}

void clearHoverDetails() {
    HoverState& s = state();
    hide();
    s.pending = s.searching = false;
    s.buttons = 0;
}

bool advanceHoverDetails() {
    HoverState& s = state();
    if (!hoverDetails || plot == nullptr || loadInProgress() || s.buttons != 0 || !s.inside) {
        hide();
        s.searching = false;
        return false;
    }
    const std::uint64_t key = viewKey(*plot);
    if (s.shown.record >= 0 && key != s.shownKey) {
        // The view moved under the resting pointer: look again.
        hide();
        s.pending = true;
    }
    if (!s.pending || clockMs() - s.movedMs < hoverRestMs || animating(*plot)) return false;
    if (!s.searching || s.searchKey != key) {
        if (!s.search.start(*plot, s.x, s.y)) {
            s.pending = false;
            return false;
        }
        s.searching = true;
        s.searchKey = key;
    }
    if (s.search.step(sliceRecords, 0)) {
        s.searching = s.pending = false;
        const HoverHit hit = s.search.result();
        if (hit.record >= 0) {
            s.shown = {hit.record, s.x, s.y};
            s.shownKey = key;
            requestRedraw();
        }
    }
    return true;
}

HoverShown hoverShown() {
    // A view changed since (a load, a moved axis) shows nothing until the
    // idle step has looked again.
    const HoverState& s = state();
    if (!hoverDetails || plot == nullptr || s.shown.record >= plot->recordCount || viewKey(*plot) != s.shownKey)
        return {};
    return s.shown;
}

HoverHit findHoverRecord(const PCPlot& plot, double x, double y, int threads) {
    HoverSearch search;
    if (!search.start(plot, x, y)) return {};
    while (!search.step(sliceRecords, threads)) {
    }
    return search.result();
}

std::vector<HoverLine> hoverBoxLines(const PCPlot& plot, int record) {
    std::vector<HoverLine> lines;
    if (record < 0 || record >= plot.recordCount) return lines;
    if (hasRecordLabels && plot.recordLabels != nullptr &&
        static_cast<std::size_t>(record) < plot.recordLabels->size())
        lines.push_back({(*plot.recordLabels)[static_cast<std::size_t>(record)], ""});
    char buffer[cellBufferSize];
    for (int i = 0; i < plot.axisCount; ++i) {
        const Dimension* d = plot.dimensionAt(plot.axes[i]->dimensionIndex);
        if (d == nullptr || d->values == nullptr) continue;
        lines.push_back({d->name, std::string(CellFormat(*d).text(d->values[record], buffer))});
    }
    return lines;
}
