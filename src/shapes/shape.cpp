#include "shapes/shape.h"

#include <algorithm>
#include <cmath>

#include "animation/animation.h"
#include "base/platform.h"
#include "plot/axis.h"
#include "plot/plot.h"

std::vector<std::unique_ptr<Shape>> shapes;
ColorSquareShape* palette = nullptr;

void clearShapes() {
    palette = nullptr;
    shapes.clear();
}

void pruneRemovedShapes() {
    shapes.erase(std::remove_if(shapes.begin(), shapes.end(),
                                [](const std::unique_ptr<Shape>& s) { return !s || s->removed; }),
                 shapes.end());
}

void placeShapes() {
    for (const auto& s : shapes)
        if (s) s->place();
}

void removeMdsMarkers(const PCShowAxis* axis) {
    shapes.erase(std::remove_if(shapes.begin(), shapes.end(),
                                [axis](const std::unique_ptr<Shape>& s) {
                                    return s && s->type() == MdsMarkerType &&
                                           static_cast<const MDSShape&>(*s).mdsAxis == axis;
                                }),
                 shapes.end());
}

namespace {

Point viewPointOf(int px, int py) {
    return plot ? plot->toViewCoordinates(px, py) : Point{0.0, 0.0};
}

// Where a dragged disc's copy stands: the pointer less the grab offset.
void followPointer(int px, int py, double grabX, double grabY, double& dragX, double& dragY) {
    const Point p = viewPointOf(px, py);
    dragX = p.x - grabX;
    dragY = p.y - grabY;
}

// Picks a disc up where the pointer holds it; its copy starts on the disc.
void grabDisc(Shape& disc, int px, int py, double& grabX, double& grabY, double& dragX, double& dragY) {
    const Point p = viewPointOf(px, py);
    disc.dragging = true;
    grabX = p.x - disc.x;
    grabY = p.y - disc.y;
    dragX = disc.x;
    dragY = disc.y;
}

// Whether (px, py) falls on the disc at (cx, cy); horizontal view units are
// stretched by the aspect ratio, so the test follows the drawn disc.
bool onDisc(int px, int py, double cx, double cy, double r) {
    if (aspectRatio <= 0.0) return false;
    const Point p = viewPointOf(px, py);
    const double dx = (p.x - cx) / aspectRatio;
    const double dy = p.y - cy;
    return std::sqrt(dx * dx + dy * dy) <= r;
}

}  // namespace

Shape::Shape(int px, int py) : plot(::plot) {
    const Point p = viewPointOf(px, py);
    x = p.x;
    y = p.y;
}

bool Shape::select(int, int) {
    selected = true;
    return true;
}

bool Shape::deselect(int, int) {
    selected = false;
    return true;
}

// ---- colour palette ----

ColorSquareShape::ColorSquareShape() : Shape(10, 10) {
    size = 0.1;
    updateColor();
}

bool ColorSquareShape::hitTest(int px, int py) {
    const Point p = viewPointOf(px, py);
    return x <= p.x && p.x <= x + size && y <= p.y && p.y <= y + paletteHeight;
}

void ColorSquareShape::drag(int px, int py) {
    const Point p = viewPointOf(px, py);
    pointerX = p.x;
    pointerY = p.y;
    pickAt(p.x, p.y);
    updateColor();
}

void ColorSquareShape::press(int px, int py) {
    drag(px, py);
    dragging = true;
}

void ColorSquareShape::release(int px, int py) {
    const Point p = viewPointOf(px, py);
    pointerX = p.x;
    pointerY = p.y;
    dragging = false;
    pickAt(p.x, p.y);
    updateColor();
}

bool ColorSquareShape::deselect(int, int) {
    selected = false;
    // Leaving paint mode drops every painted colour.
    if (plot != nullptr) {
        plot->recordColors.clearAll();
        plot->hasHighlightedRecord = false;
        ++plot->colorRevision;
    }
    return true;
}

void ColorSquareShape::pickAt(double u, double v) {
    colorLevel = std::clamp((v - y) / paletteHeight, 0.0, 1.0);
    transparencyLevel = std::clamp((u - x) / size, 0.0, 1.0);
}

void ColorSquareShape::updateColor() {
    const double c = colorLevel;
    if (c <= 0.45) {
        currentColor = {(0.45 - c) / 0.45, c / 0.45, 0.0, 0.0};
    } else if (c <= 0.9) {
        currentColor = {0.0, (0.9 - c) / 0.45, (c - 0.45) / 0.45, 0.0};
    } else {
        currentColor = {0.0, 0.0, (1.0 - c) / 0.1, 0.0};
    }
    currentColor[3] = 1.0 - transparencyLevel;
}

// ---- dimension indicator ----

AxisMDSShape::AxisMDSShape(PCShowAxis* axis_) : Shape(0, 0), axis(axis_) {
    x = axis->position;
    y = 1.0 / 30.0;
    size = 0.02;
}

bool AxisMDSShape::hitTest(int px, int py) {
    x = axis->position;
    return onDisc(px, py, x, y, size);
}

double AxisMDSShape::place() { return x = axis->position; }

void AxisMDSShape::drag(int px, int py) { followPointer(px, py, grabOffsetX, grabOffsetY, dragX, dragY); }

void AxisMDSShape::press(int px, int py) {
    x = axis->position;
    grabDisc(*this, px, py, grabOffsetX, grabOffsetY, dragX, dragY);
}

void AxisMDSShape::release(int px, int) {
    dragging = false;
    if (plot == nullptr) return;
    const double u = plot->toViewCoordinates(px, 0.0).x;
    for (int i = 0; i + 1 < plot->axisCount; ++i) {
        PCShowAxis* left = plot->axes[i];
        if (!(left->position < u && u < plot->axes[i + 1]->position)) continue;
        if (left == axis) return;  // dropped just right of its own axis
        if (!left->scatterOn) {
            left->scatterOn = true;
            startScatterTransition(clockMs(), 1000, *left);
        }
        left->mdsVisible = true;
        // A refused layout leaves the plain scatterplot and takes no member.
        if (!left->mdsLayout && !left->startMds(left, plot->axes[i + 1])) return;
        if (left->mergedAxes) {
            for (int k = 0; k < left->mergedCount; ++k)
                if ((*left->mergedAxes)[k] == axis) return;  // already merged
        }
        shapes.push_back(std::make_unique<MDSShape>(plot, left, axis));
        return;
    }
}

// ---- MDS member marker ----

MDSShape::MDSShape(PCPlot* plot_, PCShowAxis* mdsAxis_, PCShowAxis* memberAxis_)
    : Shape(0, 0), mdsAxis(mdsAxis_), memberAxis(memberAxis_) {
    plot = plot_;
    memberSlot = mdsAxis->mergedCount - 1;
    mdsAxis->addMdsMember(memberAxis);
    size = 0.02;
    place();
    y = 1.0 / 30.0;
}

double MDSShape::placedX(int* slot) const {
    if (slot) *slot = memberSlot;
    if (!mdsAxis->mergedAxes || mdsAxis->mergedCount < 2) return x;
    const auto& merged = *mdsAxis->mergedAxes;
    const double a = merged[0]->position;
    const double b = merged[1]->position;
    const int m = mdsAxis->mergedCount;
    // A member that cannot be found stands on the region's left axis.
    const int k = mdsAxis->findMdsMember(memberAxis);
    const int s = k >= 2 ? k - 1 : 0;
    if (slot) *slot = s;
    return a + (b - a) * s / (m + 1);
}

double MDSShape::place() {
    x = placedX(&memberSlot);
    return x;
}

bool MDSShape::hitTest(int px, int py) {
    place();
    return onDisc(px, py, x, y, size);
}

void MDSShape::drag(int px, int py) { followPointer(px, py, grabOffsetX, grabOffsetY, dragX, dragY); }

void MDSShape::press(int px, int py) {
    place();
    grabDisc(*this, px, py, grabOffsetX, grabOffsetY, dragX, dragY);
}

void MDSShape::release(int, int) {
    mdsAxis->removeMdsMember(memberAxis);
    removed = true;
    dragging = false;
}

bool MDSShape::select(int, int) {
    mdsAxis->disableMdsMember(memberAxis);
    selected = true;
    return true;
}

bool MDSShape::deselect(int, int) {
    mdsAxis->enableMdsMember(memberAxis);
    selected = false;
    return true;
}
