#pragma once
// Immediate-mode GL behind the sink vocabulary of sink.h.
//
// Consecutive GL_LINES primitives are merged into one glBegin/glEnd: separate
// line segments rasterise the same either way, and the straight renderer
// would otherwise open a primitive per record and region. Only state changes
// (line width, point size) and other primitive types close the open batch.

#include <GL/gl.h>

#include "records/sink.h"

class GlSink {
public:
    GlSink() = default;
    GlSink(const GlSink&) = delete;
    GlSink& operator=(const GlSink&) = delete;
    ~GlSink() { finish(); }

    void lineWidth(double w) {
        finish();
        glLineWidth(static_cast<GLfloat>(w));
    }
    void pointSize(double s) {
        finish();
        glPointSize(static_cast<GLfloat>(s));
    }
    void color(const double* rgba) { glColor4dv(rgba); }
    void begin(Primitive p) {
        if (linesOpen_) {
            if (p == Primitive::Lines) return;
            glEnd();
            linesOpen_ = false;
        }
        glBegin(toGl(p));
    }
    void vertex(double x, double y) { glVertex2d(x, y); }
    void end(Primitive p) {
        // A lines batch stays open until something else needs the pipeline.
        if (p == Primitive::Lines) {
            linesOpen_ = true;
            return;
        }
        glEnd();
    }
    void finish() {
        if (linesOpen_) {
            glEnd();
            linesOpen_ = false;
        }
    }

    static GLenum toGl(Primitive p) {
        switch (p) {
            case Primitive::Lines: return GL_LINES;
            case Primitive::LineStrip: return GL_LINE_STRIP;
            case Primitive::Points: return GL_POINTS;
        }
        return GL_POINTS;
    }

private:
    bool linesOpen_ = false;
};
