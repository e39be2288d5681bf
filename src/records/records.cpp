#include "records/records.h"

#include <cmath>
#include <cstddef>

#include "mds/mds_axis.h"
#include "plot/scatter_square.h"

namespace {

bool regionOpen(const PCShowAxis& axis) { return axis.scatterOn || axis.scatterTransition; }

}  // namespace

bool scatterPlaceOf(const PCPlot& plot, const FrameAxes& frame, int i, ScatterPlace& place) {
    place = ScatterPlace{};
    if (i < 0 || i + 1 >= plot.axisCount) return false;
    const PCShowAxis* axis = plot.axes[i];
    if (axis == nullptr || plot.axes[i + 1] == nullptr || !regionOpen(*axis)) return false;
    place.left = axisValues(plot, frame, i);
    place.right = axisValues(plot, frame, i + 1);
    if (!place.left || !place.right) return false;
    // Grow out of the left axis while the transition runs: at t = 0 every
    // point sits on it.
    const double t = axis->scatterTransition ? axis->scatterProgress : 1.0;
    const ScatterSquare square =
        scatterSquare(plot.axisPositions[i], plot.axisPositions[i + 1], plot.regionMargin, t);
    place.bottom = frame.bottom[i];
    place.height = frame.height[i];
    place.from = square.left;
    place.width = square.width;
    place.vScale = t * place.height;
    place.vKeep = (1.0 - t) * place.height;
    if (const MDSLayout* layout = usableLayout(*axis, plot.recordCount > 0 ? plot.recordCount : 0)) {
        const MDSLayout::Output o = layout->layoutOutput();
        place.outX = o.outX;
        place.outY = o.outY;
    }
    return true;
}

void buildScatterPoints(const PCPlot& plot, const FrameAxes& frame, ScatterPoints& points) {
    const int n = plot.axisCount;
    const int regionCount = n >= 2 ? n - 1 : 0;
    const int records = plot.recordCount > 0 ? plot.recordCount : 0;
    points.first.assign(static_cast<std::size_t>(regionCount), -1);
    std::vector<ScatterPlace> places(static_cast<std::size_t>(regionCount));
    int open = 0;
    for (int i = 0; i < regionCount; ++i) {
        if (!scatterPlaceOf(plot, frame, i, places[static_cast<std::size_t>(i)])) continue;
        points.first[i] = open * records;
        ++open;
    }
    points.storage.resize(static_cast<std::size_t>(open) * static_cast<std::size_t>(records));
    for (int i = 0; i < regionCount; ++i) {
        if (points.first[i] < 0) continue;
        Point* out = points.storage.data() + points.first[i];
        for (int r = 0; r < records; ++r) out[r] = places[static_cast<std::size_t>(i)].at(r);
    }
}

bool RecordPass::prepare(const PCPlot& plot, const FrameAxes& frame) {
    axisCount = plot.axisCount;
    recordCount = plot.recordCount > 0 ? plot.recordCount : 0;
    if (axisCount < 2) return false;

    axes.resize(static_cast<std::size_t>(axisCount));
    at.resize(static_cast<std::size_t>(axisCount));
    for (int i = 0; i < axisCount; ++i) {
        const Positions values = axisValues(plot, frame, i);
        if (!values) return false;
        axes[i] = {plot.axisPositions[i], values, frame.bottom[i], frame.height[i]};
    }

    stride = 1;
    first = 0;
    last = recordCount;
    skip = -1;
    pointsOf = -1;
    order = nullptr;

    regions.resize(static_cast<std::size_t>(axisCount - 1));
    for (int i = 0; i + 1 < axisCount; ++i) {
        const PCShowAxis& axis = *plot.axes[i];
        RegionState& region = regions[i];
        region.binnedLines = region.binnedPoints = false;
        region.open = scatterPlaceOf(plot, frame, i, region.place);
        region.transition = axis.scatterTransition;
        region.t = axis.scatterTransition ? axis.scatterProgress : 0.0;
        region.curveOpacity = axis.curveOpacity;
        region.pointOpacity = axis.pointOpacity;
        // Lines crossing an open region are drawn at half strength.
        if (axis.scatterTransition)
            region.lineFactor = 1.0 - region.t * 0.5;
        else if (axis.scatterOn)
            region.lineFactor = 0.5;
        else
            region.lineFactor = 1.0;
        if (region.transition) region.transitionBasis = cardinalBasis(cardinalShape(1.0 - region.t));
    }
    return true;
}

void RecordPass::shareGeometry(const RecordPass& from) {
    axisCount = from.axisCount;
    recordCount = from.recordCount;
    stride = from.stride;
    first = from.first;
    last = from.last;
    skip = from.skip;
    pointsOf = from.pointsOf;
    order = from.order;
    axes.assign(from.axes.begin(), from.axes.end());
    regions.assign(from.regions.begin(), from.regions.end());
    at.resize(from.at.size());
}

PieceRule screenPieceRule(const PCPlot& plot) {
    const double spanX = plot.viewRight - plot.viewLeft;
    const double spanY = plot.viewTop - plot.viewBottom;
    // A collapsed view box has no pixel size; its pieces fall back to the step.
    if (!(spanX != 0.0 && spanY != 0.0 && std::isfinite(spanX) && std::isfinite(spanY)))
        return PieceRule::fixedStep(curveStep);
    return PieceRule::flatness(std::abs(plot.viewportWidth / spanX), std::abs(plot.viewportHeight / spanY),
                               curveTolerancePx(curveStep));
}
