#include "brush/brush.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "animation/animation.h"
#include "base/parallel.h"
#include "base/platform.h"
#include "brush/outline.h"
#include "data/dimension.h"
#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "plot/scatter_square.h"
#include "shapes/shape.h"
#include "stroke/stroke.h"

std::vector<std::unique_ptr<PCAxisBrush>> axisBrushes;
std::vector<std::unique_ptr<PCAngularBrush>> angularBrushes;
std::vector<std::unique_ptr<PCScatterPlotBrush>> scatterPlotBrushes;
std::deque<VanishingTrack> vanishingTracks;

namespace {

// How an axis places its dimension's values now; linear over nothing for
// an axis without a dimension.
Placement placementOf(const PCPlot* p, const PCShowAxis* axis) {
    const Dimension* d = p != nullptr && axis != nullptr ? p->dimensionAt(axis->dimensionIndex) : nullptr;
    return d != nullptr ? d->placement() : Placement{};
}

// Records are evaluated on both cores from about 65,000 on; each record's
// value is its own, so the split never changes them.
int evaluationParts(int n) { return std::max(1, std::min(threadsFor(0, 2), n / 65536 + 1)); }

int evaluatedCount(const PCBrush& brush) {
    if (brush.plot == nullptr) return 0;
    return std::min(brush.plot->recordCount, static_cast<int>(brush.values.size()));
}

// Lines of two doubles as the trace stream writes them by default (six
// significant digits, as "%g"), gathered in a block so that a brush over
// millions of records writes a few large pieces instead of a line each.
class PairLines {
public:
    explicit PairLines(std::ostream& os) : os_(os) {}
    ~PairLines() { flush(); }
    PairLines(const PairLines&) = delete;
    PairLines& operator=(const PairLines&) = delete;

    void add(double a, double b) {
        if (used_ + maxLine > sizeof block_) flush();
        char* at = block_ + used_;
        char* const end = block_ + sizeof block_;
        at = std::to_chars(at, end, a, std::chars_format::general, 6).ptr;
        *at++ = ' ';
        at = std::to_chars(at, end, b, std::chars_format::general, 6).ptr;
        *at++ = '\n';
        used_ = static_cast<std::size_t>(at - block_);
    }

    void flush() {
        os_.write(block_, static_cast<std::streamsize>(used_));
        used_ = 0;
    }

private:
    // Two numbers of at most 13 characters ("-1.23457e-308"), a blank, a newline.
    static constexpr std::size_t maxLine = 32;
    std::ostream& os_;
    char block_[1 << 16];
    std::size_t used_ = 0;
};

}  // namespace

Rgba brushColor(const Rgba& color, bool inverted) {
    Rgba c = color;
    if (inverted)
        for (int k = 0; k < 3; ++k) c[k] = 1.0 - c[k];
    return c;
}

PCBrush::PCBrush()
    : values(::plot ? static_cast<size_t>(::plot->capacity) : 0, 0),
      plot(::plot),
      capacity(::plot ? ::plot->capacity : 0) {}

void PCBrush::invert() {
    if (inverted) return;
    std::swap(insideValue, outsideValue);
    inverted = true;
}

// ---------------------------------------------------------------- axis brush

PCAxisBrush::PCAxisBrush(PCShowAxis* axis, double low, double high, double outsideValue,
                         double insideValue)
    : high(high), low(low), axis(axis), madeOn(placementOf(plot, axis)) {
    this->outsideValue = outsideValue;
    this->insideValue = insideValue;
}

void PCAxisBrush::apply() {
    const int n = evaluatedCount(*this);
    if (n == 0) return;
    const Positions positions = plot->normalizedOn(axis);
    unsigned char* out = values.data();
    if (!positions) {
        std::fill(out, out + n, 0);
        return;
    }
    runSplit(n, evaluationParts(n), [&positions, out, lo = low, hi = high](long long first, long long last, int) {
        double v[placementBlock];
        for (long long from = first; from < last; from += placementBlock) {
            const long long count = std::min<long long>(placementBlock, last - from);
            positions.fill(from, count, v);
            unsigned char* __restrict o = out + from;
            // Without a branch: half the records may go either way.
            for (long long i = 0; i < count; ++i) o[i] = (lo <= v[i]) & (v[i] <= hi);
        }
    });
}

void axisBrushInterval(const PCAxisBrush& brush, double& low, double& high) {
    low = brush.low;
    high = brush.high;
    const Placement now = placementOf(brush.plot, brush.axis);
    if (now == brush.madeOn) return;
    // The values the ends stood for, placed as the axis places them now. A
    // value a log axis cannot place (at or below zero) lies below it; the
    // frame stays within an axis length of the axis's ends.
    const auto moved = [&](double end) {
        const double p = now.position(brush.madeOn.valueAt(end));
        return std::isnan(p) ? -1.0 : std::clamp(p, -1.0, 2.0);
    };
    low = moved(brush.low);
    high = moved(brush.high);
}

// ---------------------------------------------------------------- angular brush

namespace {

double meanBottom(const PCAngularBrush& b) {
    return (b.apexAxis->regionBottom + b.farAxis->regionBottom) / 2.0;
}

double meanHeight(const PCAngularBrush& b) {
    return ((b.apexAxis->regionTop - b.apexAxis->regionBottom) +
            (b.farAxis->regionTop - b.farAxis->regionBottom)) / 2.0;
}

}  // namespace

void toBrushCoordinates(const PCAngularBrush& brush, double x, double y, double& u, double& v) {
    if (!brush.apexAxis || !brush.farAxis) return;
    const double d = brush.farAxis->position - brush.apexAxis->position;
    if (d == 0.0) return;
    const double h = meanHeight(brush);
    if (h == 0.0) {
        u = x;
        v = y;
        return;
    }
    u = (x - brush.apexAxis->position) / d;
    v = (y - meanBottom(brush)) / h;
}

void fromBrushCoordinates(const PCAngularBrush& brush, double u, double v, double& x, double& y) {
    if (!brush.apexAxis || !brush.farAxis) return;
    const double d = brush.farAxis->position - brush.apexAxis->position;
    const double h = meanHeight(brush);
    if (d == 0.0 || h == 0.0) return;
    x = brush.apexAxis->position + d * u;
    y = meanBottom(brush) + h * v;
}

PCAngularBrush::PCAngularBrush(PCShowAxis* apexAxis, PCShowAxis* farAxis, bool apexOnLeft,
                               Point apex, Point upperEnd, Point lowerEnd, double outsideValue,
                               double insideValue)
    : apexAxis(apexAxis),
      farAxis(farAxis),
      apexOnLeft(apexOnLeft),
      apexMadeOn(placementOf(plot, apexAxis)),
      farMadeOn(placementOf(plot, farAxis)) {
    this->outsideValue = outsideValue;
    this->insideValue = insideValue;
    computeAngularBounds(apex, upperEnd, lowerEnd);
}

void PCAngularBrush::computeAngularBounds(Point p1, Point p2, Point p3) {
    if (farAxis->position == apexAxis->position) return;
    toBrushCoordinates(*this, p1.x, p1.y, apex.x, apex.y);
    toBrushCoordinates(*this, p2.x, p2.y, upperEnd.x, upperEnd.y);
    toBrushCoordinates(*this, p3.x, p3.y, lowerEnd.x, lowerEnd.y);
    const double d = farAxis->position - apexAxis->position;
    const double hFar = farAxis->regionTop - farAxis->regionBottom;
    const double hApex = apexAxis->regionTop - apexAxis->regionBottom;
    const double c = (hFar - hApex) * 0.5;
    // D x slope is the leg's rise across the region; over the far axis's
    // height it is a difference of normalised values. +-2 leaves a side open.
    if (p2.x != p1.x)
        upperBound = (d * (p2.y - p1.y) / (p2.x - p1.x) - c) / hFar;
    else
        upperBound = p2.y > p1.y ? 2.0 : -2.0;
    if (p3.x != p1.x)
        lowerBound = (d * (p3.y - p1.y) / (p3.x - p1.x) - c) / hFar;
    else
        lowerBound = p1.y < p3.y ? 2.0 : -2.0;
}

void PCAngularBrush::apply() {
    const int n = evaluatedCount(*this);
    if (n == 0) return;
    const Positions apexSide = plot->normalizedOn(apexAxis);
    const Positions farSide = plot->normalizedOn(farAxis);
    unsigned char* out = values.data();
    if (!apexSide || !farSide) {
        std::fill(out, out + n, 0);
        return;
    }
    runSplit(n, evaluationParts(n), [&, lo = lowerBound, hi = upperBound](long long begin, long long end, int) {
        double a[placementBlock];
        double b[placementBlock];
        for (long long first = begin; first < end; first += placementBlock) {
            const long long count = std::min<long long>(placementBlock, end - first);
            apexSide.fill(first, count, a);
            farSide.fill(first, count, b);
            unsigned char* __restrict o = out + first;
            // Both comparisons always run, so the loop needs no branch per record.
            for (long long i = 0; i < count; ++i) o[i] = (a[i] + lo <= b[i]) & (b[i] <= a[i] + hi);
        }
    });
}

bool drawnAsMade(const PCAngularBrush& brush) {
    return placementOf(brush.plot, brush.apexAxis) == brush.apexMadeOn &&
           placementOf(brush.plot, brush.farAxis) == brush.farMadeOn;
}

// ---------------------------------------------------------------- scatterplot brush

PCScatterPlotBrush::PCScatterPlotBrush(PCShowAxis* leftAxis, PCShowAxis* rightAxis,
                                       double outsideValue, double insideValue)
    : leftAxis(leftAxis),
      rightAxis(rightAxis),
      leftMadeOn(placementOf(plot, leftAxis)),
      rightMadeOn(placementOf(plot, rightAxis)) {
    this->outsideValue = outsideValue;
    this->insideValue = insideValue;
    captureOutline();
}

bool drawnAsMade(const PCScatterPlotBrush& brush) {
    return placementOf(brush.plot, brush.leftAxis) == brush.leftMadeOn &&
           placementOf(brush.plot, brush.rightAxis) == brush.rightMadeOn;
}

void PCScatterPlotBrush::captureOutline() {
    outline.clear();
    const ScatterSquare square =
        scatterSquare(leftAxis->position, rightAxis->position, plot ? plot->regionMargin : 0.0);
    const double height = leftAxis->regionTop - leftAxis->regionBottom;
    outline.reserve(interaction.strokePoints.size());
    for (const Point& p : interaction.strokePoints)
        outline.push_back({(p.x - square.left) / square.width, (p.y - leftAxis->regionBottom) / height});
}

PCScatterPlotBrush::PointSource PCScatterPlotBrush::recordPoints() const {
    PointSource source;
    if (plot == nullptr || leftAxis == nullptr || rightAxis == nullptr) return source;
    // Where the renderers draw the points: by the layout once it covers the
    // table, else by the region's two dimensions.
    if (const MDSLayout* layout = usableLayout(*leftAxis, plot->recordCount)) {
        const MDSLayout::Output out = layout->layoutOutput();
        source.layoutX = out.outX;
        source.layoutY = out.outY;
        return source;
    }
    source.across = plot->normalizedOn(rightAxis);
    source.up = plot->normalizedOn(leftAxis);
    return source;
}

void PCScatterPlotBrush::PointSource::fill(long long first, long long count, double* x, double* y) const {
    if (layoutX != nullptr) {
        std::copy(layoutX + first, layoutX + first + count, x);
        std::copy(layoutY + first, layoutY + first + count, y);
        return;
    }
    across.fill(first, count, x);
    up.fill(first, count, y);
}

void PCScatterPlotBrush::evaluate() {
    const int n = evaluatedCount(*this);
    if (n == 0) return;
    unsigned char* out = values.data();
    const PointSource points = recordPoints();
    if (outline.empty() || !points) {
        std::fill(out, out + n, 0);
        return;
    }
    double minU = 2.0, minV = 2.0, maxU = -1.0, maxV = -1.0;
    for (const Point& p : outline) {
        if (p.x > maxU) maxU = p.x;
        if (p.y > maxV) maxV = p.y;
        if (p.x < minU) minU = p.x;
        if (p.y < minV) minV = p.y;
    }
    // About four records per cell on average; a few cells for small tables.
    const int cells = std::clamp(static_cast<int>(std::sqrt(n / 4.0)), 2, 256);
    const OutlineGrid grid(outline, cells);
    // Points outside the outline's box are rejected without the crossing test.
    const double box[4] = {minU, maxU, minV, maxV};
    runSplit(n, evaluationParts(n), [&](long long begin, long long end, int) {
        std::vector<int> scratch;
        double xs[placementBlock];
        double ys[placementBlock];
        for (long long first = begin; first < end; first += placementBlock) {
            const int count = static_cast<int>(std::min<long long>(placementBlock, end - first));
            points.fill(first, count, xs, ys);
            grid.classify(count, xs, ys, box, out + first, scratch);
        }
    });
}

void PCScatterPlotBrush::traceAccepted() const {
    std::ostream& os = traceStream();
    os << " Point \n";
    {
        PairLines lines(os);
        for (const Point& p : outline) lines.add(p.x, p.y);
    }
    os << "point\n";
    const int n = evaluatedCount(*this);
    const PointSource points = recordPoints();
    if (n > 0 && points) {
        PairLines lines(os);
        for (int i = 0; i < n; ++i) {
            // The records the outline holds, inverted or not.
            if (!values[static_cast<std::size_t>(i)]) continue;
            const Point p = points[i];
            lines.add(p.x, p.y);
        }
    }
    os.flush();
}

void PCScatterPlotBrush::apply() {
    evaluate();
    traceAccepted();
}

// ---------------------------------------------------------------- commit and clear

void commitBrush(std::unique_ptr<PCBrush> brush, BrushKind kind, double lifetime) {
    if (!brush) return;
    const int mods = interaction.brushModifiers;
    if (mods & ModShift) brush->invert();
    brush->apply();

    PCPlot* p = brush->plot;
    const bool paint = palette != nullptr && palette->selected;
    if (paint) {
        if (p) p->paintSelected(brush->membership(), palette->currentColor);
        switch (kind) {
        case BrushKind::Axis: trace("axis color brush"); break;
        case BrushKind::Angular: trace("angular color  brush"); break;
        case BrushKind::ScatterPlot: trace("ScatterPlot color  brush"); break;
        }
    } else {
        if (p) {
            if (mods & ModCtrl)
                p->uniteSelection(brush->membership());
            else
                p->intersectSelection(brush->membership());
        }
        // A kept brush is never evaluated again: its values go once folded.
        brush->values = {};
        switch (kind) {
        case BrushKind::Axis:
            axisBrushes.emplace_back(static_cast<PCAxisBrush*>(brush.release()));
            break;
        case BrushKind::Angular:
            angularBrushes.emplace_back(static_cast<PCAngularBrush*>(brush.release()));
            break;
        case BrushKind::ScatterPlot:
            scatterPlotBrushes.emplace_back(static_cast<PCScatterPlotBrush*>(brush.release()));
            break;
        }
        if (kind == BrushKind::Axis) trace("axis brush");
    }

    vanishingTracks.push_back(VanishingTrack{interaction.strokePoints, clockMs(), lifetime});
    if (kind == BrushKind::Angular) trace("angular brush");
    if (kind == BrushKind::ScatterPlot) trace("ScatterPlot brush");
}

namespace {

// One line per axis of the brush that no longer places its values as when
// the brush was made, the first time it is found so.
void reportIfHidden(PCBrush& brush, bool asMade,
                    std::initializer_list<std::pair<const PCShowAxis*, const Placement*>> axes) {
    if (asMade || brush.hidden) {
        brush.hidden = !asMade;
        return;
    }
    brush.hidden = true;
    for (const auto& [axis, made] : axes) {
        const Dimension* d = brush.plot && axis ? brush.plot->dimensionAt(axis->dimensionIndex) : nullptr;
        if (d != nullptr && d->placement() != *made) trace(" brush on ", d->name, " hidden: its axis changed");
    }
}

}  // namespace

void dropExpiredTracks(std::deque<VanishingTrack>& tracks, double now) {
    walkVanishingTracks(tracks, now, [](const VanishingTrack&, double) {});
}

void reportHiddenBrushes() {
    for (const auto& b : angularBrushes)
        reportIfHidden(*b, drawnAsMade(*b), {{b->apexAxis, &b->apexMadeOn}, {b->farAxis, &b->farMadeOn}});
    for (const auto& b : scatterPlotBrushes)
        reportIfHidden(*b, drawnAsMade(*b), {{b->leftAxis, &b->leftMadeOn}, {b->rightAxis, &b->rightMadeOn}});
}

void dropBrushes() {
    axisBrushes.clear();
    angularBrushes.clear();
    scatterPlotBrushes.clear();
}

void clearBrushes() {
    interaction.strokeLength = 0.0;
    if (plot != nullptr) {
        plot->colorBySelection = true;
        plot->recordSelection.fill(1.0);
        ++plot->colorRevision;
        ++plot->selectionRevision;
        plot->straightLines = true;
    }
    dropBrushes();
    vanishingTracks.clear();
    interaction.strokePoints.clear();
    layoutAnimationPaused = false;
    layoutAnimating = false;
}
