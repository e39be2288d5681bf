#pragma once
// Cubic pieces of the record curves: four control points, the cardinal basis,
// the number of straight pieces a segment is drawn with, and the vertices of
// that polyline. Nothing here touches GL, so the geometry can be checked
// without a display; render/curve_gl.cpp feeds these vertices to GL.

#include <array>
#include <cmath>

#include "plot/types.h"

// The four control points of one segment; the piece drawn runs from p1 to p2.
struct CurvePoints {
    Point p0;  // before the segment
    Point p1;  // start
    Point p2;  // end
    Point p3;  // after the segment
};

// Rows are the coefficients of t^3, t^2, t and 1; columns apply to P0..P3.
using CurveBasis = std::array<std::array<double, 4>, 4>;

constexpr CurveBasis cardinalBasis(double s) {
    return CurveBasis{{
        {{-s, 2.0 - s, s - 2.0, s}},
        {{2.0 * s, s - 3.0, 3.0 - 2.0 * s, -s}},
        {{-s, 0.0, s, 0.0}},
        {{0.0, 1.0, 0.0, 0.0}},
    }};
}

// Shape parameter of a cardinal spline with the given tension.
constexpr double cardinalShape(double tension) { return (1.0 - tension) * 0.5; }

// Built once at compile time; every record segment of every frame shares it.
inline constexpr CurveBasis catmullRomBasis = cardinalBasis(cardinalShape(0.0));

// Pieces of a segment too short for even one step of the curve step.
constexpr int shortSegmentPieces = 10;

// Upper bound on the pieces of one segment; only absurd coordinates or a
// degenerate step can ask for more, and GL would choke on the vertex count.
constexpr int maxSegmentPieces = 1 << 20;

namespace curve_detail {

inline int piecesFor(double length, double step) {
    const double n = length / step;
    // A point with a NaN or infinite coordinate has no place on screen.
    if (!std::isfinite(n) || n < 0.0) return 0;
    if (n >= maxSegmentPieces) return maxSegmentPieces;
    const int whole = static_cast<int>(n);
    return whole <= 0 ? shortSegmentPieces : whole;
}

inline bool sameStart(const CurvePoints& p) { return p.p1.x == p.p2.x && p.p1.y == p.p2.y; }

inline double chordLength(const CurvePoints& p) {
    const double dx = p.p1.x - p.p2.x;
    const double dy = p.p1.y - p.p2.y;
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace curve_detail

// Pieces of a Catmull-Rom segment: 0 (draw nothing) when p1 equals p2; the
// chord is capped at 1.0 view unit so a long segment costs no more than that.
inline int catmullRomPieceCount(const CurvePoints& p, double step) {
    if (curve_detail::sameStart(p)) return 0;
    double d = curve_detail::chordLength(p);
    if (d > 1.0) d = 1.0;
    return curve_detail::piecesFor(d, step);
}

// Pieces of a cardinal segment: like Catmull-Rom but without the cap.
inline int cardinalPieceCount(const CurvePoints& p, double step) {
    if (curve_detail::sameStart(p)) return 0;
    return curve_detail::piecesFor(curve_detail::chordLength(p), step);
}

// Calls emit(x, y) for the n + 1 vertices of the polyline from p1 to p2: p1
// itself, n - 1 points of the cubic and p2 itself, so neighbouring segments
// meet exactly. n <= 0 emits nothing.
template <class Emit>
inline void forEachCurveVertex(const CurveBasis& basis, const CurvePoints& p, int n, Emit&& emit) {
    if (n <= 0) return;
    double cx[4];
    double cy[4];
    for (int k = 0; k < 4; ++k) {
        const auto& row = basis[k];
        cx[k] = row[0] * p.p0.x + row[1] * p.p1.x + row[2] * p.p2.x + row[3] * p.p3.x;
        cy[k] = row[0] * p.p0.y + row[1] * p.p1.y + row[2] * p.p2.y + row[3] * p.p3.y;
    }
    emit(p.p1.x, p.p1.y);
    const double dt = 1.0 / n;
    for (int i = 1; i < n; ++i) {
        const double t = i * dt;
        emit(((cx[0] * t + cx[1]) * t + cx[2]) * t + cx[3],
             ((cy[0] * t + cy[1]) * t + cy[2]) * t + cy[3]);
    }
    emit(p.p2.x, p.p2.y);
}

// Draw calls of the record renderers (render/curve_gl.cpp): one GL line strip
// in the current colour and line width, with pieces following `curveStep`.
void drawCatmullRomSegment(const CurvePoints& points);
// tension 0 gives the Catmull-Rom shape, 1 the straight chord.
void drawCardinalSegment(double tension, const CurvePoints& points);
