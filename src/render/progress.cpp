#include "render/progress.h"

#include <FL/glut.H>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/platform.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "draw/text.h"
#include "plot/plot.h"

void drawProgressBar(double fraction) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const double width = viewport[2];
    const double filled = width * std::clamp(fraction, 0.0, 1.0);

    glPushAttrib(GL_TRANSFORM_BIT | GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, width, 0.0, viewport[3], -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    // Solid pixels: no blending, smoothing or texture from the layer before.
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_POLYGON_SMOOTH);
    glColor3d(0.85, 0.85, 0.85);
    glRectd(0.0, 0.0, width, progressBarHeight);
    glColor3d(0.35, 0.35, 0.35);
    glRectd(0.0, 0.0, filled, progressBarHeight);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}

void drawLoadingFrame() {
    glViewport(0, 0, windowWidth, windowHeight);
    glPushAttrib(GL_COLOR_BUFFER_BIT);  // the clear colour stays the plot's
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
    if (loadInProgress() && clockMs() - loadStartedMs() >= loadProgressDelayMs) {
        const char* slash = std::strrchr(dataFileName, '/');
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, std::max(windowWidth, 1), 0.0, std::max(windowHeight, 1), -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        // Just above the bar, in pixels.
        drawText(8, progressBarHeight + 8, std::string("loading ") + (slash ? slash + 1 : dataFileName));
        drawProgressBar(loadFraction());
    }
    glutSwapBuffers();
}
