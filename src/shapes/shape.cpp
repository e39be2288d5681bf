#include "shapes/shape.h"

#include <FL/gl.h>

#include <algorithm>
#include <cmath>

#include "animation/animation.h"
#include "base/platform.h"
#include "base/textures.h"
#include "data/dimension.h"
#include "draw/text.h"
#include "plot/axis.h"
#include "plot/plot.h"

std::vector<std::unique_ptr<Shape>> shapes;
ColorSquareShape* palette = nullptr;

void clearShapes() {
    palette = nullptr;
    shapes.clear();
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

constexpr double pi = 3.14159265358979323846;

// The shaded overlay that gives every disc its look, over the whole square.
void drawDiscOverlay(double cx, double cy, double r) {
    const double rx = r * aspectRatio;
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_BLEND);
    glColor4d(1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, discTexture);
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0); glVertex2d(cx - rx, cy - r);
    glTexCoord2d(1, 0); glVertex2d(cx + rx, cy - r);
    glTexCoord2d(1, 1); glVertex2d(cx + rx, cy + r);
    glTexCoord2d(0, 1); glVertex2d(cx - rx, cy + r);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void drawDisc(double cx, double cy, double r) {
    glBegin(GL_POLYGON);
    for (int k = 0; k < 40; ++k) {
        const double a = 2.0 * pi * k / 40.0;
        glVertex2d(cx + std::cos(a) * r * aspectRatio, cy + std::sin(a) * r);
    }
    glEnd();
    drawDiscOverlay(cx, cy, r);
}

// Half discs share the 40-step circle: k = 0..20 is the right half, 20..40 the left.
void drawHalfDisc(double cx, double cy, double r, int firstStep) {
    glBegin(GL_POLYGON);
    for (int k = firstStep; k <= firstStep + 20; ++k) {
        const double a = 2.0 * pi * k / 40.0;
        glVertex2d(cx + std::sin(a) * r * aspectRatio, cy + std::cos(a) * r);
    }
    glEnd();
    drawDiscOverlay(cx, cy, r);
}

bool regionShowsMds(const PCShowAxis* axis) { return axis->mdsVisible && axis->mdsLayout; }

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

void ColorSquareShape::draw() {
    const double top = y + paletteHeight;
    if (selected) {
        glBegin(GL_QUAD_STRIP);
        const double levels[4] = {0.0, 0.45, 0.9, 1.0};
        const Rgba ramp[4] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 1}};
        for (int k = 0; k < 4; ++k) {
            const double vy = y + levels[k] * paletteHeight;
            glColor4d(ramp[k][0], ramp[k][1], ramp[k][2], 1.0);
            glVertex2d(x, vy);
            glColor4d(ramp[k][0], ramp[k][1], ramp[k][2], 0.0);
            glVertex2d(x + size, vy);
        }
        glEnd();
        glColor4d(0, 0, 0, 0.8);
        glBegin(GL_LINE_LOOP);
    } else {
        glColor4d(0, 0, 0, 0.2);
        glBegin(GL_POLYGON);
    }
    glVertex2d(x, y);
    glVertex2d(x + size, y);
    glVertex2d(x + size, top);
    glVertex2d(x, top);
    glEnd();

    if (selected)
        glColor4dv(currentColor.data());
    else
        glColor4d(0, 0, 0, 0.2);
    glBegin(GL_QUAD_STRIP);
    glVertex2d(x, top + 0.02);
    glVertex2d(x + size, top + 0.02);
    glVertex2d(x, top + 0.04);
    glVertex2d(x + size, top + 0.04);
    glEnd();

    // The marker's tip sits on the picked point.
    const double cx = x + size * transparencyLevel + 0.0049;
    const double cy = y + paletteHeight * colorLevel + 0.018;
    const double hx = 0.025 * aspectRatio;
    const double hy = 0.025;
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
    glColor4d(0, 0, 0, 1);
    glBindTexture(GL_TEXTURE_2D, textures[0].textureId);
    glBegin(GL_QUAD_STRIP);
    glTexCoord2d(0, 0); glVertex2d(cx - hx, cy - hy);
    glTexCoord2d(1, 0); glVertex2d(cx + hx, cy - hy);
    glTexCoord2d(0, 1); glVertex2d(cx - hx, cy + hy);
    glTexCoord2d(1, 1); glVertex2d(cx + hx, cy + hy);
    glEnd();
    glDisable(GL_TEXTURE_2D);
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

void AxisMDSShape::draw() {
    x = axis->position;
    const bool own = regionShowsMds(axis);
    bool left = false;
    if (plot != nullptr) {
        for (int i = 1; i < plot->axisCount; ++i) {
            if (plot->axes[i] == axis) left = regionShowsMds(plot->axes[i - 1]);
        }
    }
    if (!own && !left) {
        const double g = selected ? 0.5 : 0.0;
        glColor4d(0, g, 1, 0.5);
        drawDisc(x, y, size);
        if (dragging) {
            glColor4d(0, g, 1, 0.3);
            drawDisc(dragX, y, size);
        }
        return;
    }
    glLineWidth(1.0);
    glColor4d(0, 0, 0, 1);
    glBegin(GL_LINES);
    glVertex2d(x, y + size);
    glVertex2d(x, y - size);
    glEnd();
    const double s = selected ? 0.5 : 0.0;
    const Rgba leftColor = left ? Rgba{s, 1, 0, 0.5} : Rgba{s, 0, 1, 0.5};
    const Rgba rightColor = own ? Rgba{s, 1, 0, 0.5} : Rgba{s, 0, 1, 0.5};
    glColor4dv(leftColor.data());
    drawHalfDisc(x, y, size, 20);
    if (dragging) {
        glColor4d(leftColor[0], leftColor[1], leftColor[2], 0.3);
        drawHalfDisc(dragX, dragY, size, 20);
    }
    glColor4dv(rightColor.data());
    drawHalfDisc(x, y, size, 0);
    if (dragging) {
        glColor4d(rightColor[0], rightColor[1], rightColor[2], 0.3);
        drawHalfDisc(dragX, dragY, size, 0);
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

double MDSShape::place() {
    if (!mdsAxis->mergedAxes || mdsAxis->mergedCount < 2) return x;
    const auto& merged = *mdsAxis->mergedAxes;
    const double a = merged[0]->position;
    const double b = merged[1]->position;
    const int m = mdsAxis->mergedCount;
    // A member that cannot be found stands on the region's left axis.
    const int k = mdsAxis->findMdsMember(memberAxis);
    memberSlot = k >= 2 ? k - 1 : 0;
    x = a + (b - a) * memberSlot / (m + 1);
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

void MDSShape::draw() {
    place();
    const double g = selected ? 0.5 : 0.0;
    glColor4d(1, g, 0, 0.5);
    drawDisc(x, y, size);
    if (dragging) {
        glColor4d(1, g, 0, 0.3);
        drawDisc(dragX, dragY, size);
    }
    const Dimension* d = plot ? plot->dimensionAt(memberAxis->dimensionIndex) : nullptr;
    if (d) drawText(x, y - size, d->name);
}
