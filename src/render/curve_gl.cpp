#include "render/curve_gl.h"

#include <GL/gl.h>

#include "plot/curve.h"
#include "plot/plot.h"
#include "records/records.h"

namespace {

void emitStrip(const CurveBasis& basis, const CurvePoints& points, int pieces) {
    if (pieces <= 0) return;
    glBegin(GL_LINE_STRIP);
    forEachCurveVertex(basis, points, pieces, [](double x, double y) { glVertex2d(x, y); });
    glEnd();
}

PieceRule currentRule() { return plot ? screenPieceRule(*plot) : PieceRule::fixedStep(curveStep); }

}  // namespace

void drawCatmullRomSegment(const CurvePoints& points) {
    emitStrip(catmullRomBasis, points, currentRule().catmullRom(points));
}

void drawCardinalSegment(double tension, const CurvePoints& points) {
    const CurveBasis basis = cardinalBasis(cardinalShape(tension));
    emitStrip(basis, points, currentRule().cardinal(basis, points));
}
