#include "render/strokes.h"

#include <GL/gl.h>

#include "base/platform.h"
#include "base/textures.h"
#include "plot/plot.h"
#include "stroke/stroke.h"

void drawStrokeRibbon(const PointList& points, double alpha) {
    if (points.size() < 2) return;
    // A texture index outside the table binds no texture rather than reading past it.
    const unsigned texture =
        activeTexture >= 0 && activeTexture < textureSlots ? textures[activeTexture].textureId : 0;
    glEnable(GL_TEXTURE_2D);
    // GL_ADD on black shows the texture's colour unchanged, scaled by alpha.
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
    glColor4d(0.0, 0.0, 0.0, alpha);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUAD_STRIP);
    forEachRibbonVertex(points, aspectRatio, [](double s, double t, double x, double y) {
        glTexCoord2d(s, t);
        glVertex2d(x, y);
    });
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

void drawVanishingTracks() {
    const double now = clockMs();
    for (const VanishingTrack& track : vanishingTracks) {
        const double alpha = trackAlpha(track, now);
        if (alpha >= 0.0) drawStrokeRibbon(track.points, alpha);
    }
}

void drawRubberBand() {
    if (plot == nullptr || plot->viewportWidth <= 0 || plot->viewportHeight <= 0) return;
    const InteractionState& s = interaction;
    const Point anchor = plot->toViewCoordinates(s.rubberBandAnchorX, s.rubberBandAnchorY);
    const Point corner = plot->toViewCoordinates(s.rubberBandX, s.rubberBandY);
    glColor4f(0.0f, 0.0f, 0.0f, 0.5f);
    glLineWidth(2.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2d(anchor.x, anchor.y);
    glVertex2d(anchor.x, corner.y);
    glVertex2d(corner.x, corner.y);
    glVertex2d(corner.x, anchor.y);
    glEnd();
}
