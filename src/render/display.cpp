#include "render/display.h"

#include <FL/glut.H>

#include "base/platform.h"
#include "brush/brush.h"
#include "data/load_progress.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/records.h"
#include "render/brushes_gl.h"
#include "render/hover_gl.h"
#include "render/layers.h"
#include "render/overlays.h"
#include "render/progress.h"
#include "render/record_layer.h"
#include "render/shapes_gl.h"
#include "render/strokes.h"
#include "shapes/shape.h"
#include "stroke/stroke.h"

void setUpFrame() {
    if (plot == nullptr) return;
    const PCPlot& p = *plot;
    glViewport(p.viewportX, p.viewportY, p.viewportWidth, p.viewportHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(p.viewLeft, p.viewRight, p.viewBottom, p.viewTop, p.viewNear, p.viewFar);
    // Smoothing and translucency go together: with them off every mark is opaque.
    if (!p.antialiasingOff) {
        glEnable(GL_LINE_SMOOTH);
        glEnable(GL_POINT_SMOOTH);
        glEnable(GL_BLEND);
    } else {
        glDisable(GL_LINE_SMOOTH);
        glDisable(GL_POINT_SMOOTH);
        glDisable(GL_BLEND);
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(static_cast<GLfloat>(p.backgroundColor[0]), static_cast<GLfloat>(p.backgroundColor[1]),
                 static_cast<GLfloat>(p.backgroundColor[2]), static_cast<GLfloat>(p.backgroundColor[3]));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void drawPlotBody() {
    if (plot == nullptr) return;
    PCPlot& p = *plot;
    FrameAxes frame;
    fillFrameAxes(p, frame);
    drawRecordLayer(p, frame);
    glLineWidth(1.0f);
    if (p.showHistograms) drawHistograms(p, frame);
    drawAxes(p, frame);
    drawLabels(p, frame);
    drawLegends(p);
}

void onDisplay() {
    // The table being read is nobody's to draw yet; the load shows its progress.
    if (loadInProgress()) {
        drawLoadingFrame();
        return;
    }
    if (plot == nullptr) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawMessageBand();
        glutSwapBuffers();
        return;
    }
    setUpFrame();
    drawPlotBody();
    drawBrushes();

    drawVanishingTracks();
    drawStrokeRibbon(interaction.strokePoints, 1.0);
    if (interaction.rubberBandActive) drawRubberBand();

    drawShapes(shapes);
    // The hovered record and its values go over everything else.
    drawHoverDetails();
    // While a large layer is being completed, a bar says how far it is.
    drawRecordLayerProgress();
    drawMessageBand();
    glutSwapBuffers();
}

void onReshape(int width, int height) {
    windowWidth = width;
    windowHeight = height;
    // The ratio belongs to the window, not the plot: the next load after a
    // refused one draws with it. A zero-width area keeps the last valid one.
    if (width > 0) aspectRatio = static_cast<double>(height) / static_cast<double>(width);
    if (plot == nullptr) return;
    plot->viewportX = 0;
    plot->viewportY = 0;
    plot->viewportWidth = width;
    plot->viewportHeight = height;
}
