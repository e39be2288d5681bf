// Character and special keys of the drawing area.

#include <algorithm>

#include "animation/animation.h"
#include "base/platform.h"
#include "base/textures.h"
#include "brush/brush.h"
#include "interaction/hover.h"
#include "interaction/interaction.h"
#include "listing/records_table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "session/session.h"
#include "shapes/shape.h"

namespace {

constexpr double opacityStep = 0.05;

// Left axis of the region under the pointer's column, or null.
PCShowAxis* regionAxisAt(int x, int y) {
    if (plot->axisCount == 0) return nullptr;
    const Point p = plot->toViewCoordinates(x, y);
    return plot->axisAt(plot->regionAt(p.x));
}

// The axis nearest the pointer's column, or null.
PCShowAxis* axisNearest(int x, int y) {
    if (plot->axisCount == 0) return nullptr;
    return plot->axisAt(plot->nearestAxis(plot->toViewCoordinates(x, y).x));
}

struct ZoomCell {
    double left, right, bottom, top;
};

// Columns left to right by key group, rows bottom to top within a group;
// neighbouring cells overlap by 0.02.
constexpr ZoomCell zoomCells[9] = {
    {0.0, 0.35, 0.0, 0.35},   {0.0, 0.35, 0.33, 0.68},   {0.0, 0.35, 0.65, 1.0},
    {0.33, 0.68, 0.0, 0.35},  {0.33, 0.68, 0.33, 0.68},  {0.33, 0.68, 0.65, 1.0},
    {0.65, 1.0, 0.0, 0.35},   {0.65, 1.0, 0.33, 0.68},   {0.65, 1.0, 0.65, 1.0},
};

void zoomIntoCell(int cell) {
    const ZoomCell& c = zoomCells[cell];
    plot->setViewBox(c.left, c.right, c.bottom, c.top, -1.0, 1.0);
    plot->pointSize = 20.0;
    plot->curveLineWidth = 3.0;
    plot->axisLineWidth = 6.0;
}

void restoreFullView() {
    plot->setViewBox(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
    plot->pointSize = 5.0;
    plot->curveLineWidth = 1.0;
    plot->axisLineWidth = 2.0;
}

void toggleScatter(PCShowAxis& axis, double duration) {
    axis.scatterOn = !axis.scatterOn;
    startScatterTransition(clockMs(), duration, axis);
}

// Returns whether the key changed something that needs a new frame.
bool dispatchKey(unsigned char key, int x, int y) {
    if (key >= '1' && key <= '9') {
        zoomIntoCell(key - '1');
        return true;
    }
    switch (key) {
    case 'Q':
        axesLocked = !axesLocked;
        if (axesLocked) animateToEvenSpacing();
        return false;
    case 'W':
        plot->showHistograms = !plot->showHistograms;
        return true;
    case 'B':
        plot->colorBySelection = !plot->colorBySelection;
        ++plot->colorRevision;
        return true;
    case 'R':
        resetPlot();
        // The axes were rebuilt: hover pointers refer to freed records.
        setHoveredAxis(nullptr);
        hoverFadeList.clear();
        return true;
    case 'F':
        clearBrushes();
        return true;
    case 'S': {
        int first = -1;
        for (int i = 0; i < plot->axisCount; ++i) {
            if (plot->axes[i] && plot->axes[i]->selected) {
                first = i;
                break;
            }
        }
        if (first < 0 || first == plot->axisCount - 1) return false;
        toggleScatter(*plot->axes[first], 1000.0);
        return true;
    }
    case 'Z':
        if (textureCount > 0) activeTexture = (activeTexture + 1) % textureCount;
        return true;
    case 127: {
        PCShowAxis* axis = regionAxisAt(x, y);
        if (!axis) return false;
        axis->curveOpacity = 1.0;
        axis->pointOpacity = 1.0;
        return true;
    }
    case 'A':
        traceAnimation = !traceAnimation;
        trace(" true false  ", traceAnimation ? 1 : 0);
        return false;
    case 'V': {
        PCShowAxis* axis = regionAxisAt(x, y);
        if (!axis) return false;
        toggleScatter(*axis, 5000.0);
        return true;
    }
    case 'M': {
        PCShowAxis* axis = regionAxisAt(x, y);
        if (!axis) return false;
        if (!axis->scatterOn) {
            axis->scatterOn = true;
            startScatterTransition(clockMs(), 1000.0, *axis);
        }
        if (axis->mdsLayout) {
            // Resume iterating the layout there is; the idle calls draw it.
            axis->mdsRunning = true;
            axis->mdsVisible = true;
            axis->mdsIteration = 0;
            return false;
        }
        axis->mdsVisible = true;
        axis->startMds(axis, plot->axisAt(plot->regionAt(plot->toViewCoordinates(x, y).x) + 1));
        return true;
    }
    case 'N': {
        PCShowAxis* axis = regionAxisAt(x, y);
        if (!axis || !axis->mdsLayout) return false;
        axis->stopMds();
        removeMdsMarkers(axis);
        return true;
    }
    case 'X':
        if (plot->antialiasingOff) {
            plot->antialiasingOff = false;
            curveStep = 0.002;
        } else {
            plot->antialiasingOff = true;
            curveStep = 0.01;
        }
        return true;
    case 'C':
        plot->straightLines = !plot->straightLines;
        return true;
    case 'G':
        densityShading = !densityShading;
        return true;
    case 'T':
        axisTicksShown = !axisTicksShown;
        return true;
    case 'I': {
        PCShowAxis* axis = axisNearest(x, y);
        if (!axis || !plot->setAxisFlipped(*axis, !plot->axisFlipped(*axis))) return false;
        reportHiddenBrushes();
        return true;
    }
    case 'L': {
        PCShowAxis* axis = axisNearest(x, y);
        if (!axis || !plot->cycleAxisScale(*axis)) return false;
        reportHiddenBrushes();
        return true;
    }
    case 'D':
        hoverEmphasis = !hoverEmphasis;
        pruneHoverState();
        if (hoveredAxis) hoveredAxis->hovered = false;
        return false;
    case '`':
        restoreFullView();
        return true;
    case 'H':
        // Hover details off and on; a box shown goes with them.
        clearHoverDetails();
        hoverDetails = !hoverDetails;
        return false;
    case 'O':
        openRecordsTable();
        return false;
    default:
        return false;  // P and every unmapped key do nothing
    }
}

}  // namespace

void onKey(unsigned char key, int x, int y) {
    trace("keyboard ", static_cast<char>(key), ' ', static_cast<int>(key), ' ', x, ' ', y);
    if (!plot) return;
    if (interaction.axisDragActive || interaction.strokeActive || interaction.rubberBandActive ||
        layoutAnimating)
        return;
    const unsigned char folded = (key >= 'a' && key <= 'z') ? key - 32 : key;
    if (dispatchKey(folded, x, y)) requestRedraw();
}

void onSpecialKey(int key, int x, int y) {
    trace("keyboard ", static_cast<char>(key & 0xFF), ' ', key, ' ', x, ' ', y);
    if (!plot) return;
    if (key != KeyHome && key != KeyPageUp && key != KeyPageDown && key != KeyEnd) return;
    PCShowAxis* axis = regionAxisAt(x, y);
    if (!axis) return;
    if (key == KeyPageUp || key == KeyPageDown) {
        trace(axis->curveOpacity);
        const double step = key == KeyPageUp ? opacityStep : -opacityStep;
        // No upper bound: above 1.0 the lines grow stronger than their own colour.
        axis->curveOpacity = std::max(0.0, axis->curveOpacity + step);
    } else if (axis->scatterOn) {
        const double step = key == KeyHome ? opacityStep : -opacityStep;
        axis->pointOpacity = std::max(0.0, axis->pointOpacity + step);
    }
    requestRedraw();
}
