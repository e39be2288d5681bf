// Stroke recognition: which brush, if any, a finished stroke makes, and the
// lasso that toggles overlay shapes.

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/platform.h"
#include "brush/brush.h"
#include "brush/outline.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "plot/scatter_square.h"
#include "shapes/shape.h"
#include "stroke/stroke.h"

namespace {

constexpr double outsideDegree = 0.23;
constexpr double insideDegree = 1.0;

// First region (left axis index) whose axes lie strictly left and right of
// the box, or -1.
int regionHolding(const AxisSlots& axes, int axisCount, double minX, double maxX) {
    for (int i = 0; i + 1 < axisCount; ++i)
        if (axes[i]->position < minX && maxX < axes[i + 1]->position) return i;
    return -1;
}

// Summed segment length of the stroke between two point indices.
double pathBetween(const PointList& points, std::size_t from, std::size_t to) {
    double length = 0.0;
    for (std::size_t k = from; k < to; ++k) length += distance(points[k], points[k + 1]);
    return length;
}

bool straightLeg(const PointList& points, std::size_t from, std::size_t to) {
    const double chord = distance(points[from], points[to]);
    const double length = pathBetween(points, from, to);
    return chord >= 0.025 && chord / length >= 0.92;
}

}  // namespace

bool createAxisBrush(const AxisSlots& axes, int axisCount, double minX, double minY, double maxX,
                     double maxY, double pathLength) {
    const double dx = maxX - minX;
    const double dy = maxY - minY;
    // A stroke without length has no interval to give.
    if (!(pathLength > 0.0)) return false;
    if (dx > 0.08 * pathLength) return false;
    if (pathLength > 1.2 * dy) return false;

    auto sideDistance = [&](int i) {
        const double x = axes[i]->position;
        return std::min(std::fabs(minX - x), std::fabs(maxX - x));
    };
    int chosen = -1;
    double best = 2.0;
    for (int i = 0; i < axisCount; ++i) {
        const double d = sideDistance(i);
        if (d < best) {
            best = d;
            chosen = i;
        }
    }
    if (chosen < 0) return false;

    PCShowAxis* axis = axes[chosen];
    const double top = axis->regionTop;
    const double bottom = axis->regionBottom;
    const double x = axis->position;
    if (top <= minY || bottom >= maxY) return false;
    // An axis without height has no interval to map the stroke onto.
    if (!(top > bottom)) return false;

    const double far = std::fabs(maxX - x) >= std::fabs(minX - x) ? maxX : minX;
    const double reach = std::fabs(far - x);
    for (int j = 0; j < axisCount; ++j)
        if (j != chosen && 0.8 * sideDistance(j) < reach) return false;

    const double low = (minY - bottom) / (top - bottom);
    const double high = (maxY - bottom) / (top - bottom);
    commitBrush(std::make_unique<PCAxisBrush>(axis, low, high, outsideDegree, insideDegree),
                BrushKind::Axis, axisTrackMs);
    return true;
}

bool createAngularBrush(const AxisSlots& axes, int axisCount, double minX, double minY,
                        double maxX, double maxY, double pathLength) {
    const int i = regionHolding(axes, axisCount, minX, maxX);
    if (i < 0) return false;
    PCShowAxis* a = axes[i];
    PCShowAxis* b = axes[i + 1];
    if (!(a->regionTop > minY && a->regionBottom < maxY)) return false;
    if (a->scatterOn) return false;
    const PointList& points = interaction.strokePoints;
    if (pathLength < 0.05 || points.size() < 3) return false;
    // Flat axes give no unit to measure slopes in.
    if (!(a->regionTop > a->regionBottom) || !(b->regionTop > b->regionBottom)) return false;

    const std::size_t last = points.size() - 1;
    std::size_t leftmost = 0, rightmost = 0;
    for (std::size_t k = 0; k <= last; ++k) {
        if (points[k].x == minX) leftmost = k;
        if (points[k].x == maxX) rightmost = k;
    }
    const bool leftIsEnd = leftmost == 0 || leftmost == last;
    const bool rightIsEnd = rightmost == 0 || rightmost == last;
    if (leftIsEnd == rightIsEnd) return false;
    const bool apexRight = leftIsEnd;
    const std::size_t apex = apexRight ? rightmost : leftmost;

    if (!straightLeg(points, 0, apex)) return false;
    if (!straightLeg(points, apex, last)) return false;

    PCShowAxis* apexAxis = apexRight ? b : a;
    PCShowAxis* farAxis = apexRight ? a : b;
    const Point first = points[0];
    const Point end = points[last];
    const bool firstIsLower = first.y <= end.y;
    const Point lower = firstIsLower ? first : end;
    const Point upper = firstIsLower ? end : first;
    commitBrush(std::make_unique<PCAngularBrush>(apexAxis, farAxis, !apexRight, points[apex], upper,
                                                 lower, outsideDegree, insideDegree),
                BrushKind::Angular, otherTrackMs);
    return true;
}

bool createScatterPlotBrush(const AxisSlots& axes, int axisCount, double minX, double minY,
                            double maxX, double maxY, double pathLength) {
    const double dx = maxX - minX;
    const double dy = maxY - minY;
    // A stroke that never left its first point encloses nothing.
    if (!(dx + dy > 0.0)) return false;
    if (0.5 * pathLength > 2.0 * dx + 2.0 * dy) return false;
    const PointList& points = interaction.strokePoints;
    if (points.empty()) return false;
    if (distance(points.front(), points.back()) > 0.2 * (dx + dy)) return false;

    const int i = regionHolding(axes, axisCount, minX, maxX);
    if (i < 0) return lassoShapes(minX, minY, maxX, maxY);
    PCShowAxis* left = axes[i];
    PCShowAxis* right = axes[i + 1];
    if (left->regionTop <= minY) return false;
    if (left->regionBottom > maxY) return lassoShapes(minX, minY, maxX, maxY);
    if (!left->scatterOn) return false;
    // A region without inner width or height has no scatterplot square.
    const double margin = plot ? plot->regionMargin : 0.0;
    if (!(scatterSquare(left->position, right->position, margin).width > 0.0)) return false;
    if (!(left->regionTop > left->regionBottom)) return false;

    commitBrush(std::make_unique<PCScatterPlotBrush>(left, right, outsideDegree, insideDegree),
                BrushKind::ScatterPlot, otherTrackMs);
    return true;
}

bool lassoShapes(double minX, double minY, double maxX, double maxY) {
    bool result = false;
    const int mods = interaction.brushModifiers;
    // By index: a shape's select or deselect may append to the list.
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        Shape& shape = *shapes[k];
        if (shape.removed) continue;
        const int type = shape.type();
        if (type != AxisIndicatorType && type != MdsMarkerType) continue;
        const Point p = shape.getPosition();
        if (p.x < minX || p.x > maxX || p.y < minY || p.y > maxY) continue;
        if (!insideOutline(p, interaction.strokePoints)) continue;
        result = true;
        if (mods == ModCtrl) {
            if (!shape.selected) shape.select(0, 0);
        } else if (mods == ModShift) {
            if (shape.selected) shape.deselect(0, 0);
        } else if (shape.selected) {
            shape.deselect(0, 0);
        } else {
            shape.select(0, 0);
        }
        trace(" sphere shpae  brush   ", p.x, ' ', p.y);
    }
    return result;
}

void dispatchStroke() {
    if (plot == nullptr) return;
    const PointList& points = interaction.strokePoints;
    if (points.size() < 2) return;
    double minX = 2.0, minY = 2.0, maxX = -1.0, maxY = -1.0;
    double length = 0.0;
    Point previous = points.front();
    for (const Point& p : points) {
        length += distance(previous, p);
        previous = p;
        if (p.x < minX) minX = p.x;
        if (p.y < minY) minY = p.y;
        if (p.x > maxX) maxX = p.x;
        if (p.y > maxY) maxY = p.y;
    }
    // A private copy: a brush's commit must not see the slots change under it.
    static AxisSlots axes;
    axes = plot->axes;
    const int n = plot->axisCount;

    if (createAxisBrush(axes, n, minX, minY, maxX, maxY, length)) return;
    if (interaction.strokeCrossed) return;
    if (strokeCrossesItself(true, points.back(), points.front())) return;
    if (createAngularBrush(axes, n, minX, minY, maxX, maxY, length)) return;
    createScatterPlotBrush(axes, n, minX, minY, maxX, maxY, length);
}
