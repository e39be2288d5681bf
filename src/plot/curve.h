#pragma once
// Cubic pieces of the record curves: four control points, the cardinal basis,
// the number of straight pieces a segment is drawn with, and the vertices of
// that polyline. Nothing here touches GL, so the geometry can be checked
// without a display; render/curve_gl.cpp feeds these vertices to GL.

#include <algorithm>
#include <array>
#include <cmath>

#include "base/types.h"

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

// One coefficient of the cubic: a row of the basis applied to the four points.
inline Point coefficient(const std::array<double, 4>& row, const CurvePoints& p) {
    return {row[0] * p.p0.x + row[1] * p.p1.x + row[2] * p.p2.x + row[3] * p.p3.x,
            row[0] * p.p0.y + row[1] * p.p1.y + row[2] * p.p2.y + row[3] * p.p3.y};
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

// Pieces of a cubic piece so that no point of the polyline lies farther than
// tolerancePx pixels from the curve: n = ceil(sqrt(max |B''| / (8 tol))), with
// B'' in pixels (pxPerUnitX, pxPerUnitY scale view units). B'' is linear in t,
// so its largest length is at one of the ends. 0 when p1 equals p2 or a
// coordinate is not finite; at least 1 otherwise.
inline int flatnessPieceCount(const CurveBasis& basis, const CurvePoints& p, double pxPerUnitX,
                              double pxPerUnitY, double tolerancePx) {
    if (curve_detail::sameStart(p)) return 0;
    const Point c3 = curve_detail::coefficient(basis[0], p);  // t^3
    const Point c2 = curve_detail::coefficient(basis[1], p);  // t^2
    const double startX = 2.0 * (c2.x * pxPerUnitX), startY = 2.0 * (c2.y * pxPerUnitY);
    const double endX = 6.0 * (c3.x * pxPerUnitX) + startX, endY = 6.0 * (c3.y * pxPerUnitY) + startY;
    const double bend = std::sqrt(std::max(startX * startX + startY * startY, endX * endX + endY * endY));
    const double n = std::ceil(std::sqrt(bend / (8.0 * tolerancePx)));
    if (!std::isfinite(n) || !std::isfinite(p.p1.x + p.p1.y + p.p2.x + p.p2.y)) return 0;
    if (n >= maxSegmentPieces) return maxSegmentPieces;
    return n < 1.0 ? 1 : static_cast<int>(n);
}

// Flatness in pixels the curves are drawn to, following the curve step key X
// switches: 0.1 pixel at the fine step, 0.5 at the coarse one.
inline double curveTolerancePx(double step) { return step * 50.0; }

// How many pieces a curve piece gets: by flatness on screen (what the
// renderers draw with), or by the length-based curve step (kept as the
// reference the frame benchmark and older pictures compare against).
class PieceRule {
public:
    static PieceRule fixedStep(double step) {
        PieceRule rule;
        rule.step_ = step;
        return rule;
    }
    static PieceRule flatness(double pxPerUnitX, double pxPerUnitY, double tolerancePx) {
        PieceRule rule;
        rule.scaleX_ = pxPerUnitX;
        rule.scaleY_ = pxPerUnitY;
        rule.tolerance_ = tolerancePx;
        return rule;
    }

    bool byFlatness() const { return step_ <= 0.0; }

    int catmullRom(const CurvePoints& p) const {
        return byFlatness() ? flatnessPieceCount(catmullRomBasis, p, scaleX_, scaleY_, tolerance_)
                            : catmullRomPieceCount(p, step_);
    }
    int cardinal(const CurveBasis& basis, const CurvePoints& p) const {
        return byFlatness() ? flatnessPieceCount(basis, p, scaleX_, scaleY_, tolerance_)
                            : cardinalPieceCount(p, step_);
    }

private:
    PieceRule() = default;
    double step_ = 0.0;
    double scaleX_ = 1.0;
    double scaleY_ = 1.0;
    double tolerance_ = 0.1;
};

// Calls emit(x, y) for the n + 1 vertices of the polyline from p1 to p2: p1
// itself, n - 1 points of the cubic and p2 itself, so neighbouring segments
// meet exactly. n <= 0 emits nothing.
template <class Emit>
inline void forEachCurveVertex(const CurveBasis& basis, const CurvePoints& p, int n, Emit&& emit) {
    if (n <= 0) return;
    double cx[4];
    double cy[4];
    for (int k = 0; k < 4; ++k) {
        const Point c = curve_detail::coefficient(basis[k], p);
        cx[k] = c.x;
        cy[k] = c.y;
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
