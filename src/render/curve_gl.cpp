#include <GL/gl.h>

#include "plot/curve.h"
#include "plot/plot.h"

namespace {

void emitStrip(const CurveBasis& basis, const CurvePoints& points, int pieces) {
    if (pieces <= 0) return;
    glBegin(GL_LINE_STRIP);
    forEachCurveVertex(basis, points, pieces, [](double x, double y) { glVertex2d(x, y); });
    glEnd();
}

}  // namespace

void drawCatmullRomSegment(const CurvePoints& points) {
    emitStrip(catmullRomBasis, points, catmullRomPieceCount(points, curveStep));
}

void drawCardinalSegment(double tension, const CurvePoints& points) {
    emitStrip(cardinalBasis(cardinalShape(tension)), points, cardinalPieceCount(points, curveStep));
}
