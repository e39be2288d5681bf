#pragma once
// A sink (sink.h) that keeps everything it is given: the primitives in
// order, every vertex with the colour current when it was emitted, and the
// last line width and point size. Used to inspect geometry without a
// display and to replay a frame's vertex stream from flat arrays.

#include <vector>

#include "base/types.h"
#include "records/sink.h"

struct CapturedVertex {
    double x = 0.0;
    double y = 0.0;
    Rgba color{};
};

struct CapturedPrimitive {
    Primitive type = Primitive::Lines;
    int first = 0;  // index into vertices
    int count = 0;
};

class CaptureSink {
public:
    std::vector<CapturedVertex> vertices;
    std::vector<CapturedPrimitive> primitives;
    double lastLineWidth = -1.0;
    double lastPointSize = -1.0;
    Rgba current{0.0, 0.0, 0.0, 1.0};

    void lineWidth(double w) { lastLineWidth = w; }
    void pointSize(double s) { lastPointSize = s; }
    void color(const double* rgba) { current = {rgba[0], rgba[1], rgba[2], rgba[3]}; }
    void begin(Primitive p) {
        primitives.push_back({p, static_cast<int>(vertices.size()), 0});
        open_ = true;
    }
    void vertex(double x, double y) {
        vertices.push_back({x, y, current});
        if (open_) ++primitives.back().count;
    }
    void end(Primitive) { open_ = false; }
    void finish() {}

    // Keeps the storage for the next capture.
    void clear() {
        vertices.clear();
        primitives.clear();
        open_ = false;
    }

private:
    bool open_ = false;
};
