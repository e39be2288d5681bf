#pragma once
// The record layer: one line per record across the axes, and the points of
// every region opened into a scatterplot, with the lines bending through the
// points. The renderers are templates over a sink (sink.h) so the same code
// draws with GL (render/records_gl.cpp), rasterises on the CPU (raster.h) and
// captures geometry for tests and the frame benchmark.

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/types.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/curve.h"
#include "plot/plot.h"
#include "records/frame_axes.h"
#include "records/sink.h"

// Where an open region puts its records' points: across by the right
// axis's value and at the left axis's height, or by an MDS layout's output.
// Computed record by record as the renderers need them, so no frame keeps
// a point per record.
struct ScatterPlace {
    double from = 0.0;   // x of value 0
    double width = 0.0;  // x from value 0 to value 1
    double vScale = 0.0; // an MDS point's height from its layout's value
    double vKeep = 0.0;  // and from its left-axis value, while the region grows
    double bottom = 0.0;
    double height = 0.0;
    Positions left;
    Positions right;
    const double* outX = nullptr;  // the MDS layout's output, or null
    const double* outY = nullptr;

    Point at(int r) const {
        if (outX != nullptr) return {from + width * outX[r], vScale * outY[r] + vKeep * left[r] + bottom};
        // The point keeps its left-axis height; only its x moves.
        return {from + width * right[r], left[r] * height + bottom};
    }
};

// The place of region i's points (region i lies right of axis i); false
// for a region that is closed or whose axes have no values.
bool scatterPlaceOf(const PCPlot& plot, const FrameAxes& frame, int i, ScatterPlace& place);

// Scatterplot point of every record in every open region.
struct ScatterPoints {
    std::vector<Point> storage;  // one block of recordCount points per open region
    std::vector<int> first;      // per region: offset of its block, -1 when closed

    bool isOpen(int i) const { return i >= 0 && i < static_cast<int>(first.size()) && first[i] >= 0; }
    const Point* region(int i) const { return isOpen(i) ? storage.data() + first[i] : nullptr; }
};

// Places the points of every open region (region i lies right of axis i).
// Regions that are closed, or whose axes have no values, get no points.
void buildScatterPoints(const PCPlot& plot, const FrameAxes& frame, ScatterPoints& points);

// Positions of the records on axis i, or empty when its dimension has none.
inline Positions axisValues(const PCPlot& plot, const FrameAxes& frame, int i) {
    if (i < 0 || i >= plot.axisCount || plot.axes[i] == nullptr) return {};
    const int d = frame.dimensionOf[i];
    if (d < 0 || d >= maxSlots) return {};
    return frame.normalized[d];
}

// Everything the renderers need per axis and region, gathered once per call.
struct RecordPass {
    struct AxisGeometry {
        double x = 0.0;
        Positions values;
        double bottom = 0.0;
        double height = 0.0;
    };
    struct RegionState {
        bool open = false;
        bool transition = false;
        double t = 0.0;             // transition progress while `transition`
        double lineFactor = 1.0;    // alpha factor of the lines crossing the region
        double curveOpacity = 1.0;
        double pointOpacity = 1.0;
        CurveBasis transitionBasis{};  // cardinal basis of tension 1 - t
        ScatterPlace place;            // of its points while open
        // Drawn from bins instead of record by record (binned_layer.h).
        bool binnedLines = false;
        bool binnedPoints = false;
    };

    int axisCount = 0;
    int recordCount = 0;
    // Level of detail: only every stride-th record is drawn, with its alpha
    // raised so the subset keeps the density of the whole (compensatedAlpha).
    int stride = 1;
    // The positions walked in drawing order, [first, last), and a record
    // left out (drawn on its own over the rest, or -1); the points of one
    // region only, or all (-1).
    int first = 0;
    int last = 0;
    int skip = -1;
    int pointsOf = -1;
    // The record at each position (draw_classes.h), or null: positions are
    // then the records themselves.
    const int* order = nullptr;
    std::vector<AxisGeometry> axes;
    std::vector<RegionState> regions;
    std::vector<Point> at;  // the current record's point on every axis

    // False when there is nothing to draw: fewer than two axes, or an axis
    // whose dimension has no values.
    bool prepare(const PCPlot& plot, const FrameAxes& frame);

    // Takes over a prepared pass's geometry, so worker threads can each walk
    // the records with their own `at`. Allocates only while growing.
    void shareGeometry(const RecordPass& from);

    int recordAt(int position) const { return order != nullptr ? order[position] : position; }
    // The end of the positions walked.
    int lastPosition() const { return order != nullptr ? last : (last < recordCount ? last : recordCount); }

    void placeRecord(int r) {
        for (int i = 0; i < axisCount; ++i) {
            const AxisGeometry& a = axes[i];
            at[i] = {a.x, a.values[r] * a.height + a.bottom};
        }
    }
};

// The highlighted record, or -1. It is drawn over every other record's
// lines and points, whichever way the rest is drawn.
inline int highlightedRecordOf(const PCPlot& plot) {
    return plot.hasHighlightedRecord && plot.highlightedRecord >= 0 && plot.highlightedRecord < plot.recordCount
               ? plot.highlightedRecord
               : -1;
}

// Alpha of one record standing for k records stacked: 1 - (1 - a)^k.
inline double compensatedAlpha(double a, int k) {
    if (k <= 1) return a;
    return 1.0 - std::pow(1.0 - std::clamp(a, 0.0, 1.0), k);
}

// Pieces by flatness on the plot's current screen: pixels per view unit from
// the viewport and the view box, the tolerance from `curveStep`.
PieceRule screenPieceRule(const PCPlot& plot);

namespace record_detail {

inline Point blend(const Point& from, const Point& to, double t) {
    return {(1.0 - t) * from.x + t * to.x, (1.0 - t) * from.y + t * to.y};
}

// The control point a piece takes from a neighbouring region: the record's
// scatterplot point there when it is open, a blend from `closed` towards it
// while its transition runs, and `closed` when the region is closed.
inline Point neighbourPoint(const RecordPass::RegionState& region, int r, const Point& closed) {
    if (!region.open) return closed;
    if (region.transition) return blend(closed, region.place.at(r), region.t);
    return region.place.at(r);
}

template <class Sink>
inline void emitPiece(Sink& sink, const CurveBasis& basis, int pieces, const CurvePoints& p) {
    if (pieces <= 0) return;
    sink.begin(Primitive::LineStrip);
    forEachCurveVertex(basis, p, pieces, [&sink](double x, double y) { sink.vertex(x, y); });
    sink.end(Primitive::LineStrip);
}

template <class Sink>
inline void emitCatmullRom(Sink& sink, const CurvePoints& p, const PieceRule& rule) {
    emitPiece(sink, catmullRomBasis, rule.catmullRom(p), p);
}

template <class Sink>
inline void emitCardinal(Sink& sink, const CurveBasis& basis, const CurvePoints& p, const PieceRule& rule) {
    emitPiece(sink, basis, rule.cardinal(basis, p), p);
}

// The region's own piece: cardinal while its transition runs, else Catmull-Rom.
template <class Sink>
inline void emitRegionPiece(Sink& sink, const RecordPass::RegionState& region, const CurvePoints& p,
                            const PieceRule& rule) {
    if (region.transition)
        emitCardinal(sink, region.transitionBasis, p, rule);
    else
        emitCatmullRom(sink, p, rule);
}

// The first record at or after `from` of the evenly spread subset: records
// 0, stride, 2 stride, ... so that slices of a walk draw what one walk does.
inline int firstOnStride(int from, int stride) {
    if (from <= 0) return 0;
    return (from + stride - 1) / stride * stride;
}

inline void lineColor(const Rgba& c, const RecordPass::RegionState& region, int stride, Rgba& out) {
    out = c;
    out[3] *= region.lineFactor;
    out[3] *= region.curveOpacity;
    if (stride > 1) out[3] = compensatedAlpha(out[3], stride);
}

// Walks every record's regions in drawing order: the record's colour and axis
// points once per record, the region's line colour before its pieces.
template <class Sink, class DrawPiece>
void forEachRecordRegion(const PCPlot& plot, RecordPass& pass, Sink& sink, DrawPiece drawPiece) {
    sink.lineWidth(plot.curveLineWidth);
    Rgba c{0.0, 0.0, 0.0, 1.0};
    Rgba lc{};
    const int stride = pass.stride > 1 ? pass.stride : 1;
    bool any = false;
    for (int i = 0; i + 1 < pass.axisCount; ++i) any = any || !pass.regions[i].binnedLines;
    const int last = pass.lastPosition();
    for (int p = firstOnStride(pass.first, stride); any && p < last; p += stride) {
        const int r = pass.recordAt(p);
        if (r == pass.skip) continue;
        plot.colorOfRecord(r, c);
        pass.placeRecord(r);
        for (int i = 0; i + 1 < pass.axisCount; ++i) {
            if (pass.regions[i].binnedLines) continue;
            lineColor(c, pass.regions[i], stride, lc);
            sink.color(lc.data());
            drawPiece(r, i);
        }
    }
    sink.finish();
}

}  // namespace record_detail

// Straight segments across closed regions; two curve pieces through the
// scatterplot point in open ones. The neighbours of an open region's pieces
// are its point moved one region over, so the bend looks the same on both
// sides of the point.
template <class Sink>
void renderRecordLines(const PCPlot& plot, RecordPass& pass, const PieceRule& rule, Sink& sink) {
    using namespace record_detail;
    const int n = pass.axisCount;
    const auto& regions = pass.regions;
    const std::vector<Point>& a = pass.at;
    forEachRecordRegion(plot, pass, sink, [&](int r, int i) {
        const RecordPass::RegionState& region = regions[i];
        if (!region.open) {
            sink.begin(Primitive::Lines);
            sink.vertex(a[i].x, a[i].y);
            sink.vertex(a[i + 1].x, a[i + 1].y);
            sink.end(Primitive::Lines);
            return;
        }
        const Point s = region.place.at(r);

        Point before = a[i];
        if (i > 0) {
            const Point left{s.x - a[i].x + a[i - 1].x, s.y - a[i].y + a[i - 1].y};
            before = neighbourPoint(regions[i - 1], r, left);
        }
        emitRegionPiece(sink, region, {before, a[i], s, a[i + 1]}, rule);

        Point after = a[i + 1];
        if (i < n - 2) {
            const Point right{s.x - a[i + 1].x + a[i + 2].x, s.y - a[i + 1].y + a[i + 2].y};
            after = neighbourPoint(regions[i + 1], r, right);
        }
        emitRegionPiece(sink, region, {a[i], s, a[i + 1], after}, rule);
    });
}

// The same with pieces of the fixed length `step` (the reference tessellation).
template <class Sink>
void renderRecordLines(const PCPlot& plot, RecordPass& pass, double step, Sink& sink) {
    renderRecordLines(plot, pass, PieceRule::fixedStep(step), sink);
}

// One smooth curve per record through all axes; neighbouring pieces share
// their control points, and open regions add the scatterplot point.
template <class Sink>
void renderRecordCurves(const PCPlot& plot, RecordPass& pass, const PieceRule& rule, Sink& sink) {
    using namespace record_detail;
    const int n = pass.axisCount;
    const auto& regions = pass.regions;
    const std::vector<Point>& a = pass.at;
    forEachRecordRegion(plot, pass, sink, [&](int r, int i) {
        const RecordPass::RegionState& region = regions[i];
        const Point before = i > 0 ? neighbourPoint(regions[i - 1], r, a[i - 1]) : a[i];
        const Point after = i < n - 2 ? neighbourPoint(regions[i + 1], r, a[i + 2]) : a[i + 1];

        if (!region.open) {
            emitCatmullRom(sink, {before, a[i], a[i + 1], after}, rule);
            return;
        }
        const Point s = region.place.at(r);
        emitRegionPiece(sink, region, {before, a[i], s, a[i + 1]}, rule);
        // While the point slides out of the left axis, the second piece
        // starts from the plain curve's control point, so at t = 0 it is
        // exactly the closed region's piece.
        const Point lead = region.transition ? blend(before, a[i], region.t) : a[i];
        emitCatmullRom(sink, {lead, s, a[i + 1], after}, rule);
    });
}

template <class Sink>
void renderRecordCurves(const PCPlot& plot, RecordPass& pass, double step, Sink& sink) {
    renderRecordCurves(plot, pass, PieceRule::fixedStep(step), sink);
}

// The points of the open regions, left to right, each over a small shadow;
// they come after all lines so they cover them.
template <class Sink>
void renderScatterPoints(const PCPlot& plot, const RecordPass& pass, Sink& sink) {
    sink.pointSize(plot.pointSize);
    Rgba c{0.0, 0.0, 0.0, 1.0};
    const int stride = pass.stride > 1 ? pass.stride : 1;
    const int last = pass.lastPosition();
    for (int i = 0; i + 1 < pass.axisCount; ++i) {
        const RecordPass::RegionState& region = pass.regions[i];
        if (!region.open || region.binnedPoints || (pass.pointsOf >= 0 && pass.pointsOf != i)) continue;
        const double o = region.pointOpacity;
        const double shadow[4] = {0.0, 0.0, 0.0, compensatedAlpha(o * 0.5, stride)};
        sink.begin(Primitive::Points);
        for (int p = record_detail::firstOnStride(pass.first, stride); p < last; p += stride) {
            const int r = pass.recordAt(p);
            if (r == pass.skip) continue;
            plot.colorOfRecord(r, c);
            const Point s = region.place.at(r);
            sink.color(shadow);
            sink.vertex(s.x + 0.001, s.y - 0.001);
            c[3] = compensatedAlpha(c[3] * o, stride);
            sink.color(c.data());
            sink.vertex(s.x, s.y);
        }
        sink.end(Primitive::Points);
    }
    sink.finish();
}

// The whole record layer into any sink: lines or curves as `straight` says,
// then the points over them. Rule is a PieceRule or a fixed curve step.
template <class Sink, class Rule>
void renderRecordLayer(const PCPlot& plot, RecordPass& pass, const Rule& rule, bool straight, Sink& sink) {
    if (straight)
        renderRecordLines(plot, pass, rule, sink);
    else
        renderRecordCurves(plot, pass, rule, sink);
    renderScatterPoints(plot, pass, sink);
}

// The highlighted record alone, its lines in every region and then its
// points, at full strength: what goes over a layer drawn without it.
template <class Sink, class Rule>
void renderHighlightedRecord(const PCPlot& plot, RecordPass& pass, const Rule& rule, bool straight, Sink& sink) {
    const int h = highlightedRecordOf(plot);
    if (h < 0 || h >= pass.recordCount) return;
    const std::vector<RecordPass::RegionState> regions = pass.regions;
    const int kept[] = {pass.first, pass.last, pass.stride, pass.skip, pass.pointsOf};
    const int* order = pass.order;
    for (RecordPass::RegionState& region : pass.regions) region.binnedLines = region.binnedPoints = false;
    pass.first = h;
    pass.last = h + 1;
    pass.stride = 1;
    pass.skip = -1;
    pass.pointsOf = -1;
    pass.order = nullptr;
    renderRecordLayer(plot, pass, rule, straight, sink);
    pass.first = kept[0];
    pass.last = kept[1];
    pass.stride = kept[2];
    pass.skip = kept[3];
    pass.pointsOf = kept[4];
    pass.order = order;
    pass.regions = regions;
}
