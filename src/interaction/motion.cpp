// Drags with a button held, and hover tracking without one.

#include <algorithm>
#include <cmath>

#include "animation/animation.h"
#include "base/platform.h"
#include "interaction/hover.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

namespace {

void extendStroke(int x, int y, bool testCrossing) {
    InteractionState& s = interaction;
    s.strokeLastX = x;
    s.strokeLastY = y;
    const Point p = plot->toViewCoordinates(x, y);
    if (s.strokePoints.empty()) {
        s.strokePoints.push_back(p);
        requestRedraw();
        return;
    }
    const Point last = s.strokePoints.back();
    const double d = distance(last, p);
    if (d < strokeMinStep) return;
    s.strokeLength += d;
    if (testCrossing && !s.strokeCrossed) s.strokeCrossed = strokeCrossesItself(false, p, last);
    s.strokePoints.push_back(p);

    // Keep the newest 4.0 view units: the tail follows the cursor.
    while (s.strokeLength > strokeMaxLength && s.strokePoints.size() > 1) {
        const Point oldest = s.strokePoints[0];
        s.strokeLength -= distance(oldest, s.strokePoints[1]);
        s.strokePoints.pop_front();
    }
    if (s.strokePoints.size() == 1 || s.strokeLength < 0.0) s.strokeLength = 0.0;
    requestRedraw();
}

// Follows the pointer, so that the axis nearest it shows its whole name.
void followPointer(int x, int y) {
    const double vx = plot->toViewCoordinates(x, y).x;
    const int before = std::isnan(pointerViewX) ? -1 : plot->nearestAxis(pointerViewX);
    pointerViewX = vx;
    if (axisNamesCut && plot->nearestAxis(vx) != before) requestRedraw();
}

}  // namespace

void onMouseDrag(int x, int y) {
    noteHoverDrag();
    if (!plot) return;
    followPointer(x, y);
    if (layoutAnimating) return;
    InteractionState& s = interaction;
    if (s.axisDragActive) {
        const double u = plot->toViewCoordinates(x, y).x;
        if (u < minAxisDragPosition) return;
        if (s.dragAxis < plot->axisCount) plot->dragAxisTo(x, s.dragAxis);
        requestRedraw();
    } else if (s.strokeActive) {
        extendStroke(x, y, true);
    } else if (s.rubberBandActive) {
        s.rubberBandX = x;
        s.rubberBandY = y;
        requestRedraw();
    } else if (s.shapeDragActive) {
        for (std::size_t k = 0; k < shapes.size(); ++k)
            if (shapes[k]->dragging) shapes[k]->drag(x, y);
        requestRedraw();
    }
}

void completeStroke(int x, int y) {
    if (!plot || !interaction.strokeActive) return;
    extendStroke(x, y, false);
}

void onMouseHover(int x, int y) {
    noteHoverMotion(x, y);
    if (!plot) return;
    followPointer(x, y);
    if (!hoverEmphasis) return;
    pruneHoverState();
    const Point p = plot->toViewCoordinates(x, y);
    const int i = regionContaining(p.x, p.y);
    if (i >= 0) {
        PCShowAxis* axis = plot->axes[i];
        if (axis == hoveredAxis) return;
        trace("mouse area  ", i);
        if (hoveredAxis) hoveredAxis->hovered = false;
        setHoveredAxis(axis);
        axis->hovered = true;
        addHoverFade(axis);
        return;
    }
    if (hoveredAxis) {
        hoveredAxis->hovered = false;
        requestRedraw();
    }
    setHoveredAxis(nullptr);
}
