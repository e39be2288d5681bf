#include "render/display.h"

#include <FL/glut.H>

#include <cstddef>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/load_progress.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/records.h"
#include "render/hover_gl.h"
#include "render/layers.h"
#include "render/overlays.h"
#include "render/progress.h"
#include "render/record_layer.h"
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
    p.captureAxisPositions();
    drawRecordLayer(p, frame);
    glLineWidth(1.0f);
    if (p.showHistograms) drawHistograms(p, frame);
    drawAxes(p, frame);
    drawLabels(p, frame);
    drawLegends(p);
}

namespace {

// Removed shapes leave the list here, in the frame that finds them; the
// mouse handlers walk the same list, so they never see them again.
void drawShapes() {
    for (std::size_t i = 0; i < shapes.size();) {
        if (!shapes[i] || shapes[i]->removed) {
            shapes.erase(shapes.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        shapes[i]->draw();
        ++i;
    }
}

}  // namespace

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
    for (int i = 0; i < plot->axisCount; ++i) {
        PCShowAxis* axis = plot->axes[i];
        if (axis != nullptr && axis->scatterTransition) advanceScatterTransition(clockMs(), *axis);
    }
    drawPlotBody();

    for (const auto& brush : axisBrushes) drawAxisBrush(*brush, 0.008);
    for (const auto& brush : angularBrushes) brush->draw();
    for (const auto& brush : scatterPlotBrushes) brush->draw();

    drawVanishingTracks();
    drawStrokeRibbon(interaction.strokePoints, 1.0);
    if (interaction.rubberBandActive) drawRubberBand();

    drawShapes();
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
