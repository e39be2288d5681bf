#pragma once
// Draw calls of the record renderers: one GL line strip in the current
// colour and line width, tessellated by flatness on the current plot's
// screen (by `curveStep` while no plot exists).

#include "plot/curve.h"

void drawCatmullRomSegment(const CurvePoints& points);
// tension 0 gives the Catmull-Rom shape, 1 the straight chord.
void drawCardinalSegment(double tension, const CurvePoints& points);
