#pragma once
// Point-in-outline tests shared by the scatterplot brush and the shape lasso.

#include <cmath>
#include <cstddef>
#include <vector>

#include "plot/types.h"

bool segmentsIntersect(Point p1, Point p2, Point q1, Point q2);

// P lies on the closed segment E1-E2 (ends included).
inline bool onSegment(Point p, Point e1, Point e2) {
    return std::fabs((e2.y - p.y) * (e1.x - p.x) - (e1.y - p.y) * (e2.x - p.x)) < 1e-8 &&
           (p.x - e2.x) * (p.x - e1.x) <= 0.0 && (p.y - e2.y) * (p.y - e1.y) <= 0.0;
}

// What one edge contributes to the crossing count of a ray from p to the
// right: -1 when p lies on the edge (inside, whatever else), else 0 or 1.
// A vertex on the ray counts only as the lower end of its edge, so an
// outline that merely touches the ray's line there is counted 0 or 2 times.
inline int edgeCrossing(Point p, Point e1, Point e2) {
    if (onSegment(p, e1, e2)) return -1;
    if (e1.y == e2.y) return 0;
    if (p.y == e1.y) return (e1.y < e2.y && e1.x > p.x) ? 1 : 0;
    if (p.y == e2.y) return (e2.y < e1.y && e2.x > p.x) ? 1 : 0;
    return segmentsIntersect(e1, e2, p, Point{2.0, p.y}) ? 1 : 0;
}

// Crossing-number test against the polygon closed from its last point to
// its first; a point on an edge is inside.
template <class Points>
bool insideOutline(Point p, const Points& polygon) {
    const std::size_t n = polygon.size();
    int count = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const int c = edgeCrossing(p, polygon[k], polygon[k + 1 == n ? 0 : k + 1]);
        if (c < 0) return true;
        count += c;
    }
    return (count & 1) != 0;
}

// The same test, answered from the few edges whose height range holds the
// point: edges above or below a point's ray never count, so sorting edges
// into horizontal bands gives the edge-by-edge answer exactly while each
// point looks at a handful of edges.
class OutlineBands {
public:
    OutlineBands(const std::vector<Point>& polygon, int bandCount);
    bool inside(Point p) const;

private:
    int bandOf(double y) const;

    const std::vector<Point>& polygon_;
    double bottom_ = 0.0;
    double scale_ = 0.0;
    int bands_ = 1;
    std::vector<int> start_;  // bands_ + 1 offsets into edges_
    std::vector<int> edges_;  // index k of edge p_k - p_k+1
};
