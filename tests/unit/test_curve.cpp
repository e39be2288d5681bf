// Curve pieces of the record lines: how many straight pieces a segment gets,
// and where its vertices lie.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "plot/curve.h"

namespace {

struct Vertex {
    double x;
    double y;
};

std::vector<Vertex> vertices(const CurveBasis& basis, const CurvePoints& p, int n) {
    std::vector<Vertex> out;
    forEachCurveVertex(basis, p, n, [&out](double x, double y) { out.push_back({x, y}); });
    return out;
}

// A horizontal segment of the given length with its neighbours on the same line.
CurvePoints horizontal(double length) {
    return {{-length, 0.5}, {0.0, 0.5}, {length, 0.5}, {2.0 * length, 0.5}};
}

}  // namespace

TEST(CurvePieces, FollowTheLengthAndTheCurveStep) {
    const CurvePoints half = horizontal(0.5);
    EXPECT_EQ(catmullRomPieceCount(half, 0.002), 250);
    EXPECT_EQ(catmullRomPieceCount(half, 0.01), 50);
    EXPECT_EQ(cardinalPieceCount(half, 0.002), 250);
    EXPECT_EQ(cardinalPieceCount(half, 0.01), 50);

    // A 3-4-5 diagonal of length 0.5 counts the same as a straight one.
    const CurvePoints diagonal{{0, 0}, {0.1, 0.1}, {0.4, 0.5}, {0.5, 0.6}};
    EXPECT_EQ(catmullRomPieceCount(diagonal, 0.002), 250);
}

TEST(CurvePieces, OnlyCatmullRomCapsTheLengthAtOneViewUnit) {
    EXPECT_EQ(catmullRomPieceCount(horizontal(1.0), 0.002), 500);
    EXPECT_EQ(catmullRomPieceCount(horizontal(2.0), 0.002), 500);
    EXPECT_EQ(cardinalPieceCount(horizontal(2.0), 0.002), 1000);
}

TEST(CurvePieces, ShortSegmentsGetTenPiecesAndCoincidentEndsNone) {
    EXPECT_EQ(catmullRomPieceCount(horizontal(0.001), 0.002), 10);
    EXPECT_EQ(cardinalPieceCount(horizontal(0.001), 0.002), 10);

    // Only p1 and p2 decide: the outer control points may lie anywhere.
    const CurvePoints same{{0.0, 0.0}, {0.3, 0.4}, {0.3, 0.4}, {0.9, 0.9}};
    EXPECT_EQ(catmullRomPieceCount(same, 0.002), 0);
    EXPECT_EQ(cardinalPieceCount(same, 0.002), 0);
    EXPECT_TRUE(vertices(catmullRomBasis, same, catmullRomPieceCount(same, 0.002)).empty());

    // A segment that differs in one coordinate only is drawn.
    const CurvePoints vertical{{0.3, 0.0}, {0.3, 0.25}, {0.3, 0.75}, {0.3, 0.9}};
    EXPECT_EQ(catmullRomPieceCount(vertical, 0.002), 250);
}

TEST(CurvePieces, CorruptCoordinatesDrawNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(catmullRomPieceCount({{0, 0}, {nan, 0.5}, {0.5, 0.5}, {1, 1}}, 0.002), 0);
    EXPECT_EQ(cardinalPieceCount({{0, 0}, {0.1, 0.5}, {nan, nan}, {1, 1}}, 0.002), 0);
    EXPECT_EQ(cardinalPieceCount({{0, 0}, {0.0, 0.5}, {inf, 0.5}, {1, 1}}, 0.002), 0);
    // A huge chord is bounded rather than asking GL for billions of vertices.
    EXPECT_EQ(cardinalPieceCount({{0, 0}, {0.0, 0.5}, {1e9, 0.5}, {1, 1}}, 0.002), maxSegmentPieces);
}

TEST(CurveBasisTest, CatmullRomIsTheCardinalBasisOfShapeOneHalf) {
    const CurveBasis expected{{{{-0.5, 1.5, -1.5, 0.5}},
                               {{1.0, -2.5, 2.0, -0.5}},
                               {{-0.5, 0.0, 0.5, 0.0}},
                               {{0.0, 1.0, 0.0, 0.0}}}};
    EXPECT_EQ(catmullRomBasis, expected);
    EXPECT_EQ(cardinalBasis(cardinalShape(0.0)), catmullRomBasis);
    EXPECT_DOUBLE_EQ(cardinalShape(1.0), 0.0);
    EXPECT_DOUBLE_EQ(cardinalShape(0.5), 0.25);
}

TEST(CurveVertices, RunFromTheStartToTheEndPointExactly) {
    // Control points whose cubic would not reproduce the ends bit for bit.
    const CurvePoints p{{0.013, 0.77}, {0.1, 0.3333333333}, {0.3766666667, 0.1234567891}, {0.41, 0.9}};
    for (double tension : {0.0, 0.3, 1.0}) {
        const CurveBasis basis = cardinalBasis(cardinalShape(tension));
        const int n = cardinalPieceCount(p, 0.01);
        const std::vector<Vertex> v = vertices(basis, p, n);
        ASSERT_EQ(static_cast<int>(v.size()), n + 1);
        EXPECT_EQ(v.front().x, p.p1.x);
        EXPECT_EQ(v.front().y, p.p1.y);
        EXPECT_EQ(v.back().x, p.p2.x);
        EXPECT_EQ(v.back().y, p.p2.y);
    }
    EXPECT_TRUE(vertices(catmullRomBasis, p, 0).empty());
}

TEST(CurveVertices, CatmullRomThroughEvenlySpacedPointsIsTheStraightLine) {
    const CurvePoints p{{0.0, 0.0}, {0.1, 0.2}, {0.2, 0.4}, {0.3, 0.6}};
    const int n = 10;
    const std::vector<Vertex> v = vertices(catmullRomBasis, p, n);
    ASSERT_EQ(v.size(), 11u);
    for (int i = 0; i <= n; ++i) {
        const double t = i / 10.0;
        EXPECT_NEAR(v[i].x, 0.1 + 0.1 * t, 1e-12) << i;
        EXPECT_NEAR(v[i].y, 0.2 + 0.2 * t, 1e-12) << i;
    }
}

TEST(CurveVertices, FullTensionEasesAlongTheChord) {
    // s = 0 leaves the Hermite ease 3t^2 - 2t^3 between p1 and p2, whatever p0 and p3 are.
    const CurvePoints p{{0.9, 0.9}, {0.0, 0.0}, {1.0, 0.5}, {-3.0, 7.0}};
    const std::vector<Vertex> v = vertices(cardinalBasis(cardinalShape(1.0)), p, 4);
    ASSERT_EQ(v.size(), 5u);
    const double ease[] = {0.0, 0.15625, 0.5, 0.84375, 1.0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(v[i].x, ease[i], 1e-12) << i;
        EXPECT_NEAR(v[i].y, 0.5 * ease[i], 1e-12) << i;
    }
}

TEST(CurveVertices, CatmullRomBendsTowardsTheOuterPoints) {
    // p0 and p3 below the chord pull the middle of the piece up: the
    // tangent at p1 is (p2 - p0) / 2 = (0.5, 0.5).
    const CurvePoints p{{0.0, 0.0}, {0.5, 1.0}, {1.0, 1.0}, {1.5, 0.0}};
    const std::vector<Vertex> v = vertices(catmullRomBasis, p, 2);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NEAR(v[1].x, 0.75, 1e-12);
    EXPECT_NEAR(v[1].y, 1.125, 1e-12);
}
