#pragma once
// Marks of the user's own gestures: the stroke being drawn as a textured
// ribbon, the fading tracks of finished strokes, and the right-button
// rectangle.

#include <cmath>
#include <deque>
#include <utility>

#include "base/types.h"
#include "brush/brush.h"

// Half-width of a stroke ribbon in view units, measured vertically.
constexpr double ribbonHalfWidth = 0.005;

// Calls emit(s, t, x, y) for the vertices of the quad strip along points,
// a left/right pair per point: s runs across the ribbon (0 on the left of the
// direction of travel), t along it from 0 to 1. Horizontal offsets are scaled
// by aspect so the ribbon keeps its on-screen width. Fewer than two points
// emit nothing; coincident points pinch the ribbon to its centre line.
template <class Points, class Emit>
void forEachRibbonVertex(const Points& points, double aspect, Emit&& emit) {
    const int m = static_cast<int>(points.size());
    if (m < 2) return;
    auto scaled = [](double x, double y) {
        const double len = std::sqrt(x * x + y * y);
        if (len == 0.0) return Point{0.0, 0.0};
        return Point{x / len * ribbonHalfWidth, y / len * ribbonHalfWidth};
    };
    auto normal = [&scaled](const Point& a, const Point& b) { return scaled(a.y - b.y, b.x - a.x); };
    auto pair = [&emit, aspect](const Point& p, const Point& n, double t) {
        emit(0.0, t, p.x + aspect * n.x, p.y + n.y);
        emit(1.0, t, p.x - aspect * n.x, p.y - n.y);
    };

    Point n = normal(points[0], points[1]);
    pair(points[0], n, 0.0);
    for (int k = 1; k <= m - 2; ++k) {
        // Averaging with the previous normal smooths sharp turns.
        const Point next = normal(points[k], points[k + 1]);
        n = scaled(next.x + n.x, next.y + n.y);
        pair(points[k], n, static_cast<double>(k) / (m - 1));
    }
    pair(points[m - 1], n, 1.0);
}

void drawStrokeRibbon(const PointList& points, double alpha);
// The tracks still alive at the clock's reading, fading; expired ones are
// left for the idle step to drop.
void drawVanishingTracks();
void drawRubberBand();
