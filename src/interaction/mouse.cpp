// Mouse buttons and wheel of the drawing area.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/dimension.h"
#include "interaction/hover.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

namespace {

constexpr double scatterToggleMs = 1000.0;
constexpr double pickStartMetric = 1e7;


// Among the record positions (xOf(k), yOf(k)), the one nearest (u, v) on screen;
// the first record wins ties.
template <class XOf, class YOf>
PickResult nearestRecord(double u, double v, XOf xOf, YOf yOf) {
    PickResult result;
    const double width = plot->viewportWidth;
    const double height = plot->viewportHeight;
    if (width <= 0 || height <= 0) return result;
    const double q = (height / width) * (height / width);
    double best = pickStartMetric;
    for (int k = 0; k < plot->recordCount; ++k) {
        const double dx = u - xOf(k);
        const double dy = v - yOf(k);
        const double metric = dx * dx / q + dy * dy;
        if (metric < best) {
            best = metric;
            result.found = true;
            result.record = k;
        }
    }
    if (result.found) {
        const double dx = (xOf(result.record) - u) * width;
        const double dy = (yOf(result.record) - v) * height;
        result.squaredPixelDistance = dx * dx + dy * dy;
    }
    return result;
}

// ---------------------------------------------------------------- shapes

// Shape operations may append to the list (a dropped indicator adds a
// marker), so the walks go by index: appended shapes are simply not visited.
template <class Fn>
void forEachOfType(int type, Fn fn) {
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        Shape& s = *shapes[k];
        if (!s.removed && s.type() == type) fn(s);
    }
}

void toggleShape(Shape& shape, int x, int y) {
    if (shape.selected)
        shape.deselect(x, y);
    else
        shape.select(x, y);
}

void startShapeDrag(Shape& shape, int x, int y) {
    if (!shape.selected) shape.select(x, y);
    forEachOfType(shape.type(), [&](Shape& s) {
        if (s.selected) s.press(x, y);
    });
    interaction.shapeDragActive = true;
}

void pressShape(Shape& shape, int modifiers, int x, int y) {
    const int type = shape.type();
    if (modifiers == ModAlt && (type == AxisIndicatorType || type == MdsMarkerType)) {
        startShapeDrag(shape, x, y);
        return;
    }
    switch (type) {
    case AxisIndicatorType:
        if (modifiers == 0) {
            // An exclusive toggle: this indicator alone, or none.
            const bool wasSelected = shape.selected;
            forEachOfType(type, [&](Shape& s) {
                if (s.selected) s.deselect(x, y);
            });
            if (!wasSelected) shape.select(x, y);
        } else if (modifiers == ModCtrl) {
            if (interaction.isDoubleClick)
                forEachOfType(type, [&](Shape& s) { s.select(x, y); });
            else
                shape.select(x, y);
        }
        break;
    case MdsMarkerType:
        if (modifiers == 0) {
            toggleShape(shape, x, y);
        } else if (modifiers == ModCtrl) {
            if (interaction.isDoubleClick)
                forEachOfType(type, [&](Shape& s) {
                    if (!s.selected) s.select(x, y);
                });
            else
                toggleShape(shape, x, y);
        }
        break;
    case PaletteType:
        if (modifiers == ModShift) {
            toggleShape(shape, x, y);
        } else if (modifiers == 0 && shape.selected) {
            interaction.shapeDragActive = true;
            shape.press(x, y);
        }
        break;
    default:
        break;
    }
}

Shape* shapeAt(int x, int y) {
    for (std::size_t k = 0; k < shapes.size(); ++k)
        if (!shapes[k]->removed && shapes[k]->hitTest(x, y)) return shapes[k].get();
    return nullptr;
}

// Re-sorts the axes and carries the glide's start and target positions,
// which are indexed like the axes, along with them.
void resortAxesAndGlide() {
    const int n = plot->axisCount;
    static std::array<PCShowAxis*, maxSlots> before;
    static std::array<double, maxSlots> start, target;
    before = plot->axes;
    start = layoutStart;
    target = layoutTarget;
    plot->resortAxes();
    for (int k = 0; k < n; ++k) {
        int j = 0;
        while (j < n && before[j] != plot->axes[k]) ++j;
        if (j == n) continue;
        layoutStart[k] = start[j];
        layoutTarget[k] = target[j];
    }
}

// ---------------------------------------------------------------- left button

void leftPress(int modifiers, int x, int y) {
    const double t = clockMs();
    const double previous = interaction.lastPressTime;
    trace(t, ' ', previous, ' ', t - previous);
    if (t - previous < doubleClickMs) {
        interaction.isDoubleClick = true;
        // Pushed back rather than renewed: the next press cannot complete another one.
        interaction.lastPressTime = previous - doubleClickMs;
    } else {
        interaction.lastPressTime = t;
    }

    if (Shape* shape = shapeAt(x, y)) {
        pressShape(*shape, modifiers, x, y);
        requestRedraw();
        return;
    }

    const Point p = plot->toViewCoordinates(x, y);
    if (interaction.isDoubleClick) {
        interaction.lastPressTime -= doubleClickMs;
        PCShowAxis* axis = plot->axisAt(plot->regionAt(p.x));
        if (!axis) return;
        axis->scatterOn = !axis->scatterOn;
        startScatterTransition(clockMs(), scatterToggleMs, *axis);
        requestRedraw();
        return;
    }

    if (modifiers == ModAlt) {
        const int index = plot->nearestAxis(std::max(p.x, minAxisDragPosition));
        interaction.dragAxis = index;
        PCShowAxis* axis = plot->axisAt(index);
        if (axis) {
            interaction.dragAxisWasSelected = axis->selected;
            plot->selectOnlyAxis(index);
            interaction.axisDragActive = true;
            interaction.pressX = x;
            interaction.pressY = y;
        }
        requestRedraw();
        return;
    }

    if ((modifiers & ModAlt) == 0) {
        interaction.strokeActive = true;
        interaction.pressX = interaction.strokeLastX = x;
        interaction.pressY = interaction.strokeLastY = y;
        interaction.strokePoints.clear();
        interaction.strokePoints.push_back(p);
        interaction.strokeLength = 0.0;
        interaction.strokeCrossed = false;
    }
    requestRedraw();
}

void leftRelease(int modifiers, int x, int y) {
    // The toolkit may hold back the last motion of a drag until after the
    // release; the release position completes the drag. An axis click must
    // not move its axis, though.
    const bool moved = x != interaction.pressX || y != interaction.pressY;
    if (interaction.axisDragActive && moved) onMouseDrag(x, y);
    // The drag has decided whether the stroke crossed itself; the release
    // point only completes it.
    if (interaction.strokeActive) completeStroke(x, y);

    if (interaction.shapeDragActive) {
        for (std::size_t k = 0; k < shapes.size(); ++k) {
            Shape& s = *shapes[k];
            if (!s.dragging) continue;
            s.release(x, y);
            trace(" type  ", s.type());
        }
        interaction.shapeDragActive = false;
        requestRedraw();
        return;
    }

    if (interaction.axisDragActive) {
        interaction.axisDragActive = false;
        plot->resortAxes();
        if (x == interaction.pressX && y == interaction.pressY) {
            // A click: toggles the axis's selection and colours by its dimension.
            PCShowAxis* axis = plot->axisAt(interaction.dragAxis);
            if (axis) {
                if (interaction.dragAxisWasSelected) {
                    axis->selected = false;
                } else {
                    plot->colorDimension = axis->dimensionIndex;
                    ++plot->colorRevision;
                }
            }
        } else if (axesLocked) {
            animateToEvenSpacing();
        }
    } else if (interaction.strokeActive) {
        interaction.brushModifiers = modifiers;
        dispatchStroke();
        interaction.strokePoints.clear();
        interaction.strokeActive = false;
    }

    if (layoutAnimationPaused) {
        layoutAnimationPaused = false;
        layoutAnimating = true;
    }
    requestRedraw();
}

// ---------------------------------------------------------------- other buttons

void middlePress(int x, int y) {
    const Point p = plot->toViewCoordinates(x, y);
    double best = 1e9;
    int record = -1;
    const PickResult scatter = pickScatterPoint(p.x, p.y);
    if (scatter.found) {
        best = scatter.squaredPixelDistance;
        record = scatter.record;
    }
    const PickResult onAxis = pickAxisPoint(p.x, p.y);
    if (onAxis.found && onAxis.squaredPixelDistance < best) {
        best = onAxis.squaredPixelDistance;
        record = onAxis.record;
    }
    if (record < 0 || best > maxPickSquaredPixels) return;
    trace(record, "  distance  ", std::sqrt(best));
    plot->highlightRecord(record);
    requestRedraw();
}

void rightButton(int state, int modifiers, int x, int y) {
    InteractionState& s = interaction;
    if (state == ButtonPress) {
        s.rubberBandAnchorX = s.rubberBandX = x;
        s.rubberBandAnchorY = s.rubberBandY = y;
        s.rubberBandActive = true;
        requestRedraw();
        return;
    }
    if (s.rubberBandActive) {
        s.rubberBandX = x;  // the corner ends where the button is let go
        s.rubberBandY = y;
        s.snapRect = plot->getViewport();
        if (modifiers != ModAlt) {
            s.snapRect[0] = std::min(s.rubberBandAnchorX, s.rubberBandX);
            s.snapRect[1] = plot->viewportHeight - std::max(s.rubberBandAnchorY, s.rubberBandY);
            s.snapRect[2] = std::abs(s.rubberBandX - s.rubberBandAnchorX);
            s.snapRect[3] = std::abs(s.rubberBandY - s.rubberBandAnchorY);
        }
        s.rubberBandActive = false;
        trace(" snap screen ", s.snapRect[0], ' ', s.snapRect[1], ' ', s.snapRect[2], ' ',
              s.snapRect[3]);
    }
    requestRedraw();
}

void wheel(int button, int x, int y) {
    if (axesLocked) return;
    const double factor = button == WheelUp ? 1.1 : 0.9;
    const Point p = plot->toViewCoordinates(x, y);
    const int i = plot->nearestAxis(p.x);
    const PCShowAxis* axis = plot->axisAt(i);
    if (!axis) return;
    if (p.x == axis->position) return;
    zoomRegion(factor, wheelMinPosition, wheelMaxPosition, p.x < axis->position ? i - 1 : i);
    requestRedraw();
}

}  // namespace

void onMouseButton(int button, int state, int x, int y) {
    if (!plot) return;
    trace("mouse button ", button, ' ', state, ' ', x, ' ', y);
    noteHoverButton(button, state, x, y);
    if (layoutAnimating) {
        // Any mouse event freezes a glide; a left release lets it finish.
        layoutAnimating = false;
        if (interaction.axisDragActive) {
            // The drag ends here, not at its release: put the axes in order now.
            interaction.axisDragActive = false;
            resortAxesAndGlide();
        }
        layoutAnimationPaused = true;
    }
    const int modifiers = currentModifiers();
    interaction.isDoubleClick = false;

    switch (button) {
    case LeftButton:
        if (state == ButtonPress)
            leftPress(modifiers, x, y);
        else
            leftRelease(modifiers, x, y);
        break;
    case MiddleButton:
        if (state == ButtonPress) middlePress(x, y);
        break;
    case RightButton:
        rightButton(state, modifiers, x, y);
        break;
    case WheelUp:
    case WheelDown:
        if (state == ButtonPress) wheel(button, x, y);
        break;
    default:
        break;
    }
}

void zoomRegion(double factor, double minPosition, double maxPosition, int r) {
    if (factor <= 0) return;
    const int n = plot->axisCount;
    if (r < -1 || r >= n) {
        trace("error zoom");
        return;
    }
    if (n == 0) return;

    // Work on a copy so that a refused step leaves the running glide untouched.
    static std::array<double, maxSlots> targets;
    if (layoutTargetsValid) {
        targets = layoutTarget;
    } else {
        const double* now = plot->captureAxisPositions();
        std::copy(now, now + maxSlots, targets.begin());
    }
    const std::array<double, maxSlots>& T = targets;

    double left, right, w;
    if (r == -1) {
        left = 0.0;
        right = T[0];
        w = T[0] - minPosition;
    } else if (r == n - 1) {
        left = T[r];
        right = 1.0;
        w = maxPosition - T[r];
    } else {
        left = T[r];
        right = T[r + 1];
        w = T[r + 1] - T[r];
    }
    if (w <= 0) {
        w = 0.01;
        factor += 1.0;
    }
    const double s = std::sqrt(0.8 / (w + 0.2)) * (factor - 1.0) + 1.0;
    if (s * w >= 1.0) return;

    double a = 0.0;
    if (r >= 0 && minPosition < T[r]) a = w * (s - 1.0) * 0.5 / (T[r] - minPosition);
    double b = 0.0;
    if (r < n - 1 && maxPosition > T[r + 1]) b = w * (s - 1.0) * 0.5 / (maxPosition - T[r + 1]);

    const double* now = plot->captureAxisPositions();
    std::copy(now, now + maxSlots, layoutStart.begin());
    layoutTarget = targets;
    layoutTargetsValid = true;
    layoutAnimating = true;
    layoutStartTime = clockMs();

    for (int j = 0; j < n; ++j) {
        double& t = layoutTarget[j];
        if (t <= left && t > minPosition)
            t -= a * std::pow(t - minPosition, 1.5);
        else if (t >= right && t < maxPosition)
            t += b * std::pow(maxPosition - t, 1.5);
    }
}

PickResult pickScatterPoint(double u, double v) {
    PickResult none;
    const int i = regionContaining(u, v);
    if (i < 0) return none;
    trace("mouse area  ", i);
    const PCShowAxis& left = *plot->axes[i];
    const PCShowAxis& right = *plot->axes[i + 1];
    if (!left.scatterOn) return none;
    const Positions a = plot->normalizedOn(&right);
    const Positions b = plot->normalizedOn(&left);
    if (!a || !b) return none;
    const double xl = left.position;
    const double span = right.position - xl;
    const double m = plot->regionMargin;
    const double bottom = left.regionBottom;
    const double height = left.regionTop - bottom;
    return nearestRecord(
        u, v, [&](int k) { return xl + span * m + span * (1.0 - 2.0 * m) * a[k]; },
        [&](int k) { return bottom + height * b[k]; });
}

PickResult pickAxisPoint(double u, double v) {
    PickResult none;
    if (plot->axisCount == 0) return none;
    int nearest = 0;
    for (int i = 1; i < plot->axisCount; ++i)
        if (std::fabs(plot->axes[i]->position - u) < std::fabs(plot->axes[nearest]->position - u))
            nearest = i;
    const PCShowAxis& axis = *plot->axes[nearest];
    const Positions b = plot->normalizedOn(&axis);
    if (!b) return none;
    const double x = axis.position;
    const double bottom = axis.regionBottom;
    const double height = axis.regionTop - bottom;
    return nearestRecord(
        u, v, [&](int) { return x; }, [&](int k) { return bottom + height * b[k]; });
}
