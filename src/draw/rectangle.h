#pragma once
// Axis-aligned rectangles, the mark of histogram bars, selection frames and
// axis brushes.

#include <GL/gl.h>

// One primitive of the given mode through the corners, counter-clockwise
// from the lower left.
inline void drawRectangle(GLenum mode, double left, double bottom, double right, double top) {
    glBegin(mode);
    glVertex2d(left, bottom);
    glVertex2d(right, bottom);
    glVertex2d(right, top);
    glVertex2d(left, top);
    glEnd();
}
