#pragma once
// Point-in-outline tests shared by the scatterplot brush and the shape lasso.

#include <cmath>
#include <cstddef>
#include <vector>

#include "base/types.h"
#include "stroke/stroke.h"

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
// point looks at a handful of edges. Within a band, an edge that lies
// clearly left of the point counts 0 and one clearly right of it, spanning
// the point's height strictly, counts 1; only edges near the point take the
// full test.
class OutlineBands {
public:
    OutlineBands(const std::vector<Point>& polygon, int bandCount);
    bool inside(Point p) const;

    // Far above the rounding error of the crossing test's products for
    // coordinates within +-reach, and far below any visible distance.
    static constexpr double clearMargin = 1e-9;
    static constexpr double reach = 4.0;

    struct Edge {
        Point a, b;
        double minX, maxX, minY, maxY;
    };
    const std::vector<Edge>& edges() const { return all_; }
    // The outline lies within +-reach, where the margin rules hold.
    bool marginsHold() const { return quick_; }

private:
    int bandOf(double y) const {
        // Truncation is floor for the positive values it sees, and monotonic.
        const double t = (y - bottom_) * scale_;
        if (!(t > 0.0)) return 0;
        if (t >= bands_ - 1) return bands_ - 1;
        return static_cast<int>(t);
    }

    double bottom_ = 0.0;
    double scale_ = 0.0;
    int bands_ = 1;
    bool quick_ = false;       // coordinates small enough for the margins
    std::vector<int> start_;   // bands_ + 1 offsets into edges_
    std::vector<Edge> edges_;  // the edges of each band, in outline order
    std::vector<Edge> all_;    // every edge once
};

// A grid over the outline's box whose cells are settled as inside or
// outside when every edge clearly misses them (by the margin rules of
// OutlineBands); a point in a settled cell needs one look-up, a point in a
// cell an edge comes near takes the band test. The answers are those of
// insideOutline for points within the box.
class OutlineGrid {
public:
    OutlineGrid(const std::vector<Point>& polygon, int cells);

    // out[i] := 1 when point (xs[i], ys[i]) lies in the box [minU, maxU] x
    // [minV, maxV] and inside the outline, else 0. Points outside the
    // outline's own box are outside whatever the box says. Cell numbers are
    // worked out first in a loop without branches (points outside the box
    // get a cell of their own); then each point reads its cell, and only
    // points in unsettled cells take the band test.
    void classify(int n, const double* xs, const double* ys, const double box[4], unsigned char* out,
                  std::vector<int>& scratch) const;

private:
    // Cell states; classify reads them as indices.
    enum : unsigned char { outsideCell = 0, insideCell = 1, unsettled = 2 };
    OutlineBands bands_;
    int size_ = 1;
    double left_ = 0.0, bottom_ = 0.0, scaleX_ = 0.0, scaleY_ = 0.0;
    double box_[4] = {0.0, -1.0, 0.0, -1.0};  // the outline's: minX, maxX, minY, maxY
    std::vector<unsigned char> cells_;
};
