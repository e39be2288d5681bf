#include "render/progress.h"

#include <GL/gl.h>

#include <algorithm>

namespace {

constexpr double barPixels = 4.0;

void fill(double x0, double y0, double x1, double y1) {
    glBegin(GL_QUADS);
    glVertex2d(x0, y0);
    glVertex2d(x1, y0);
    glVertex2d(x1, y1);
    glVertex2d(x0, y1);
    glEnd();
}

}  // namespace

void drawProgressBar(double fraction) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double w = viewport[2];
    if (w <= 0 || viewport[3] <= 0) return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, w, 0.0, viewport[3], -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3d(0.85, 0.85, 0.85);
    fill(0.0, 0.0, w, barPixels);
    glColor3d(0.35, 0.35, 0.35);
    fill(0.0, 0.0, w * std::clamp(fraction, 0.0, 1.0), barPixels);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}
