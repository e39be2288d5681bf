#include "stroke/stroke.h"

#include <algorithm>
#include <cstddef>

#include "base/platform.h"

InteractionState interaction;

namespace {

double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }

Point minus(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }

}  // namespace

bool segmentsIntersect(Point p1, Point p2, Point q1, Point q2) {
    if (std::max(p1.x, p2.x) < std::min(q1.x, q2.x) || std::max(q1.x, q2.x) < std::min(p1.x, p2.x) ||
        std::max(p1.y, p2.y) < std::min(q1.y, q2.y) || std::max(q1.y, q2.y) < std::min(p1.y, p2.y))
        return false;
    const Point p = minus(p2, p1);
    const Point q = minus(q2, q1);
    return cross(p, minus(q1, p1)) * cross(p, minus(q2, p1)) <= 0.0 &&
           cross(q, minus(p1, q1)) * cross(q, minus(p2, q1)) <= 0.0;
}

bool strokeCrossesItself(bool skipFirst, Point a, Point b) {
    const PointList& points = interaction.strokePoints;
    const std::size_t n = points.size();
    if (n < 2) return false;
    // The newest segment shares its end point with the one tested: it never counts.
    for (std::size_t k = skipFirst ? 1 : 0; k + 2 < n; ++k) {
        if (segmentsIntersect(a, b, points[k], points[k + 1])) {
            trace("intersect test  ", 1);
            return true;
        }
    }
    trace("intersect test  ", 0);
    return false;
}
