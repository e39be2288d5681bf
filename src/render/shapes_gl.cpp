#include "render/shapes_gl.h"

#include <FL/gl.h>

#include <cmath>

#include "base/platform.h"
#include "base/textures.h"
#include "data/dimension.h"
#include "draw/text.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

namespace {

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

void drawPalette(const ColorSquareShape& shape) {
    const double x = shape.x, y = shape.y, size = shape.size, paletteHeight = shape.paletteHeight;
    const bool selected = shape.selected;
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
        glColor4dv(shape.currentColor.data());
    else
        glColor4d(0, 0, 0, 0.2);
    glBegin(GL_QUAD_STRIP);
    glVertex2d(x, top + 0.02);
    glVertex2d(x + size, top + 0.02);
    glVertex2d(x, top + 0.04);
    glVertex2d(x + size, top + 0.04);
    glEnd();

    // The marker's tip sits on the picked point.
    const double cx = x + size * shape.transparencyLevel + 0.0049;
    const double cy = y + paletteHeight * shape.colorLevel + 0.018;
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

// The indicator stands under its axis wherever the axis is now.
void drawAxisIndicator(const AxisMDSShape& shape, const PCPlot* plot) {
    const PCShowAxis* axis = shape.axis;
    const double x = axis->position, y = shape.y, size = shape.size, dragX = shape.dragX, dragY = shape.dragY;
    const bool selected = shape.selected, dragging = shape.dragging;
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

void drawMdsMarker(const MDSShape& shape) {
    const PCPlot* plot = shape.plot;
    const double x = shape.placedX(), y = shape.y, size = shape.size;
    const bool selected = shape.selected, dragging = shape.dragging;
    const double g = selected ? 0.5 : 0.0;
    glColor4d(1, g, 0, 0.5);
    drawDisc(x, y, size);
    if (dragging) {
        glColor4d(1, g, 0, 0.3);
        drawDisc(shape.dragX, shape.dragY, size);
    }
    const Dimension* d = plot ? plot->dimensionAt(shape.memberAxis->dimensionIndex) : nullptr;
    if (d) drawText(x, y - size, d->name);
}

}  // namespace

void drawShape(const Shape& shape) {
    switch (shape.type()) {
    case PaletteType: drawPalette(static_cast<const ColorSquareShape&>(shape)); break;
    case AxisIndicatorType:
        drawAxisIndicator(static_cast<const AxisMDSShape&>(shape), shape.plot);
        break;
    case MdsMarkerType: drawMdsMarker(static_cast<const MDSShape&>(shape)); break;
    default: break;
    }
}


void drawShapes(const std::vector<std::unique_ptr<Shape>>& list) {
    for (const auto& s : list)
        if (s && !s->removed) drawShape(*s);
}
