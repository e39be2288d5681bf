#include "render/brushes_gl.h"

#include <FL/gl.h>

#include "brush/brush.h"
#include "draw/rectangle.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "plot/scatter_square.h"

void drawAxisBrush(const PCAxisBrush& brush, double w) {
    if (brush.axis == nullptr) return;
    const PCShowAxis& axis = *brush.axis;
    glLineWidth(2.0);
    glColor4dv(brushColor(brush.color, brush.inverted).data());
    const double x = axis.position;
    const double span = axis.regionTop - axis.regionBottom;
    double lowEnd = 0.0, highEnd = 0.0;
    axisBrushInterval(brush, lowEnd, highEnd);
    const double low = axis.regionBottom + span * lowEnd;
    const double high = axis.regionBottom + span * highEnd;
    drawRectangle(GL_LINE_LOOP, x - w, low, x + w, high);
    glLineWidth(1.0);
}

void drawAngularBrush(const PCAngularBrush& brush) {
    if (!brush.apexAxis || !brush.farAxis || !drawnAsMade(brush)) return;
    const PCShowAxis& left = brush.apexOnLeft ? *brush.apexAxis : *brush.farAxis;
    if (left.scatterOn && !left.scatterTransition) return;
    if (brush.farAxis->position == brush.apexAxis->position) return;
    Point p1, p2, p3;
    fromBrushCoordinates(brush, brush.apex.x, brush.apex.y, p1.x, p1.y);
    fromBrushCoordinates(brush, brush.upperEnd.x, brush.upperEnd.y, p2.x, p2.y);
    fromBrushCoordinates(brush, brush.lowerEnd.x, brush.lowerEnd.y, p3.x, p3.y);
    glLineWidth(4.0);
    Rgba c = brushColor(brush.color, brush.inverted);
    if (left.scatterTransition)
        for (double& component : c) component *= 1.0 - left.scatterProgress;
    glColor4dv(c.data());
    glBegin(GL_LINES);
    glVertex2d(p1.x, p1.y);
    glVertex2d(p2.x, p2.y);
    glVertex2d(p1.x, p1.y);
    glVertex2d(p3.x, p3.y);
    glEnd();
    glLineWidth(1.0);
}

void drawScatterPlotBrush(const PCScatterPlotBrush& brush) {
    if (!brush.leftAxis || !brush.rightAxis || !drawnAsMade(brush)) return;
    const PCShowAxis& a = *brush.leftAxis;
    if (!a.scatterOn && !a.scatterTransition) return;
    glLineWidth(2.0);
    glColor4dv(brushColor(brush.color, brush.inverted).data());
    glBegin(GL_LINE_LOOP);
    const double m = brush.plot ? brush.plot->regionMargin : 0.0;
    const ScatterSquare square =
        scatterSquare(a.position, brush.rightAxis->position, m, a.scatterTransition ? a.scatterProgress : 1.0);
    for (const Point& p : brush.outline)
        glVertex2d(square.left + p.x * square.width, a.regionBottom + p.y * (a.regionTop - a.regionBottom));
    glEnd();
    glLineWidth(1.0);
}

void drawBrushes() {
    for (const auto& brush : axisBrushes) drawAxisBrush(*brush, 0.008);
    for (const auto& brush : angularBrushes) drawAngularBrush(*brush);
    for (const auto& brush : scatterPlotBrushes) drawScatterPlotBrush(*brush);
}
