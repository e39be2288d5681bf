#include "plot/plot.h"

#include <algorithm>

#include "base/platform.h"
#include "data/dimension.h"
#include "data/table.h"
#include "plot/axis.h"

PCPlot* plot = nullptr;
int windowWidth = 1180;
int windowHeight = 500;
double curveStep = 0.002;
bool densityShading = false;
double aspectRatio = 0.0;

PCPlot::PCPlot(int requestedCapacity)
    : recordCount(::recordCount),
      capacity(std::max(requestedCapacity, ::recordCount)),
      viewportWidth(windowWidth),
      viewportHeight(windowHeight) {
    recordColors.reset(capacity);
    recordSelection.reset(capacity);
}

PCPlot::~PCPlot() { deleteAxes(); }

PCShowAxis* PCPlot::axisAt(int i) const { return i >= 0 && i < axisCount ? axes[i] : nullptr; }

Dimension* PCPlot::dimensionAt(int i) const {
    return i >= 0 && i < dimensionCount ? dimensions[i] : nullptr;
}

Positions PCPlot::normalizedOn(const PCShowAxis* axis) const {
    const Dimension* d = axis ? dimensionAt(axis->dimensionIndex) : nullptr;
    return d ? d->positions() : Positions{};
}

void PCPlot::setViewBox(double left, double right, double bottom, double top, double near,
                        double far) {
    viewLeft = left;
    viewRight = right;
    viewBottom = bottom;
    viewTop = top;
    viewNear = near;
    viewFar = far;
}

double* PCPlot::captureAxisPositions() {
    for (int i = 0; i < axisCount; ++i) axisPositions[i] = axes[i]->position;
    return axisPositions.data();
}

void PCPlot::colorOfRecord(int i, Rgba& out) const {
    if (i == colorKeepingHighlight && hasHighlightedRecord) {
        out = highlightColor;
    } else if (useRecordColors && recordColors.has(i)) {
        out = recordColors[i];
    } else if (colorByFunction) {
        if (colorBySelection)
            selectionColorFn(*this, i, recordSelection[i], out);
        else
            dimensionColorFn(*this, i, out);
    } else {
        out = recordColor;
    }
}

void PCPlot::setAllRecordColors(const Rgba& color) {
    ++colorRevision;
    recordColors.setAll(color);
}

void PCPlot::highlightRecord(int index) {
    if (index < 0 || index >= recordCount) return;
    setAllRecordColors({0.1, 0.1, 0.1, 0.05});
    recordColors.set(index, highlightColor);
    highlightedRecord = index;
    hasHighlightedRecord = true;
    colorKeepingHighlight = -1;
}

void PCPlot::highlightKeepingColors(int index) {
    if (index < 0 || index >= recordCount) return;
    ++colorRevision;
    highlightedRecord = index;
    hasHighlightedRecord = true;
    colorKeepingHighlight = index;
}

void PCPlot::intersectSelection(const Membership& values) {
    ++selectionRevision;
    recordSelection.intersect(recordCount, values);
}

void PCPlot::uniteSelection(const Membership& values) {
    ++selectionRevision;
    recordSelection.unite(recordCount, values);
}

void PCPlot::paintSelected(const Membership& values, const Rgba& color) {
    ++colorRevision;
    const bool inside = values.insideValue > fullySelected;
    const bool outside = values.outsideValue > fullySelected;
    if (inside && outside)
        recordColors.setWhere(recordCount, [](int) { return true; }, color);
    else if (inside || outside)
        recordColors.setWhere(recordCount, [&](int i) { return (values.passed[i] != 0) == inside; }, color);
}

void PCPlot::intersectSelection(const double* values) {
    ++selectionRevision;
    for (int i = 0; i < recordCount; ++i) recordSelection.set(i, std::min(recordSelection[i], values[i]));
}

void PCPlot::uniteSelection(const double* values) {
    ++selectionRevision;
    for (int i = 0; i < recordCount; ++i) recordSelection.set(i, std::max(recordSelection[i], values[i]));
}

void PCPlot::paintSelected(const double* values, const Rgba& color) {
    ++colorRevision;
    recordColors.setWhere(recordCount, [&](int i) { return values[i] > fullySelected; }, color);
}

void PCPlot::normalizedForAxes(Positions* out) const {
    for (int d = 0; d < dimensionCount; ++d) out[d] = Positions{};
    for (int i = 0; i < axisCount; ++i) {
        const int d = axes[i]->dimensionIndex;
        if (d >= 0 && d < dimensionCount && !out[d]) out[d] = dimensions[d]->positions();
    }
}

bool PCPlot::axisFlipped(const PCShowAxis& axis) const {
    const Dimension* d = dimensionAt(axis.dimensionIndex);
    return d != nullptr && d->flipped;
}

AxisScale PCPlot::axisScale(const PCShowAxis& axis) const {
    const Dimension* d = dimensionAt(axis.dimensionIndex);
    return d != nullptr ? d->scale : AxisScale::Linear;
}

bool PCPlot::setAxisFlipped(const PCShowAxis& axis, bool flipped) {
    Dimension* d = dimensionAt(axis.dimensionIndex);
    if (d == nullptr) return false;
    d->setFlipped(flipped);
    trace(" axis ", d->name, flipped ? " flipped" : " upright");
    return true;
}

bool PCPlot::setAxisScale(const PCShowAxis& axis, AxisScale scale) {
    Dimension* d = dimensionAt(axis.dimensionIndex);
    if (d == nullptr) return false;
    if (scale != AxisScale::Linear && !d->scalable()) {
        traceRefusal(" axis ", d->name, ": no log scale for time or category axes");
        return false;
    }
    const AxisScale before = d->scale;
    if (!d->setScale(scale)) return false;
    // The colour ramp follows the scale of its dimension.
    if (before != scale && dimensionAt(colorDimension) == d) ++colorRevision;
    switch (scale) {
    case AxisScale::Log: trace(" axis ", d->name, " scale log"); break;
    case AxisScale::Symlog: trace(" axis ", d->name, " scale symlog c=", d->symlogConstant); break;
    case AxisScale::Linear: trace(" axis ", d->name, " scale linear"); break;
    }
    return true;
}

bool PCPlot::cycleAxisScale(const PCShowAxis& axis) {
    const Dimension* d = dimensionAt(axis.dimensionIndex);
    if (d == nullptr) return false;
    if (d->scale != AxisScale::Linear) return setAxisScale(axis, AxisScale::Linear);
    return setAxisScale(axis, d->scalable() ? d->logarithmicScale() : AxisScale::Log);
}

void dimensionColorFn(const PCPlot& plot, int recordIndex, Rgba& out) {
    if (recordIndex < 0 || recordIndex >= plot.recordCount) return;
    const Dimension* d = plot.dimensionAt(plot.colorDimension);
    if (d == nullptr) return;
    out[3] = 1.0;
    // Along the axis's scale, bottom to top whichever way up it stands; a
    // dimension without spread colours every record as its middle value.
    Placement along = d->placement();
    along.flipped = false;
    rampColor(along.position(d->values[recordIndex]), out);
}

void rampColor(double t, Rgba& out) {
    if (t >= 0.0 && t < 0.25) {
        out[0] = 1.0; out[1] = 4.0 * t; out[2] = 0.0;
    } else if (t < 0.5) {
        out[0] = 4.0 * (0.5 - t); out[1] = 1.0; out[2] = 0.0;
    } else if (t < 0.75) {
        out[0] = 0.0; out[1] = 1.0; out[2] = 4.0 * (t - 0.5);
    } else if (t <= 1.0) {
        out[0] = 0.0; out[1] = 4.0 * (1.0 - t); out[2] = 1.0;
    }
}

void selectionColorFn(const PCPlot& plot, int recordIndex, double selection, Rgba& out) {
    if (recordIndex < 0 || recordIndex >= plot.recordCount) return;
    const double v = selection;
    if (v > fullySelected) {
        plot.dimensionColorFn(plot, recordIndex, out);
        return;
    }
    out = {1.0 - v, 1.0 - v, 1.0 - v, v};
}
