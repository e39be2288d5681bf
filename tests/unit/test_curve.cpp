// Curve pieces of the record lines: how many straight pieces a segment gets
// (by flatness on screen, and by the reference step), and where its vertices lie.

#include <gtest/gtest.h>

#include <algorithm>
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

// The reference tessellation the frame benchmark still draws with.
TEST(CurvePieces, ReferenceStepFollowsTheLength) {
    const CurvePoints half = horizontal(0.5);
    EXPECT_EQ(catmullRomPieceCount(half, 0.002), 250);
    EXPECT_EQ(cardinalPieceCount(half, 0.01), 50);
    // Only Catmull-Rom caps the chord at one view unit; short ones get ten.
    EXPECT_EQ(catmullRomPieceCount(horizontal(2.0), 0.002), 500);
    EXPECT_EQ(cardinalPieceCount(horizontal(2.0), 0.002), 1000);
    EXPECT_EQ(catmullRomPieceCount(horizontal(0.001), 0.002), 10);
}

namespace {

// Largest distance, in pixels, between the cubic and the n-piece polyline of
// the same parameter span, sampled finely.
double polylineError(const CurveBasis& basis, const CurvePoints& p, int n, double sx, double sy) {
    std::vector<Vertex> fine = vertices(basis, p, 64 * n);
    std::vector<Vertex> coarse = vertices(basis, p, n);
    double worst = 0.0;
    for (int k = 0; k < n; ++k) {
        const Vertex a = coarse[k], b = coarse[k + 1];
        for (int j = 0; j <= 64; ++j) {
            const Vertex c = fine[64 * k + j];
            const double u = j / 64.0;
            const double ex = (a.x + u * (b.x - a.x) - c.x) * sx;
            const double ey = (a.y + u * (b.y - a.y) - c.y) * sy;
            worst = std::max(worst, std::sqrt(ex * ex + ey * ey));
        }
    }
    return worst;
}

struct FlatCase {
    const char* name;
    CurveBasis basis;
    CurvePoints points;
};

const FlatCase flatCases[] = {
    {"gentle", catmullRomBasis, {{0.0, 0.40}, {0.1, 0.45}, {0.38, 0.52}, {0.66, 0.50}}},
    {"sharp", catmullRomBasis, {{0.0, 0.90}, {0.1, 0.10}, {0.38, 0.90}, {0.66, 0.10}}},
    {"eased chord", cardinalBasis(cardinalShape(1.0)), {{0.3, 0.3}, {0.1, 0.2}, {0.4, 0.7}, {0.0, 0.0}}},
    {"transition", cardinalBasis(cardinalShape(0.4)), {{0.0, 0.1}, {0.1, 0.9}, {0.2, 0.3}, {0.38, 0.8}}},
};

}  // namespace

TEST(FlatnessPieces, BentPiecesStayWithinTheTolerance) {
    for (double tolerance : {0.1, 0.5}) {
        for (const FlatCase& c : flatCases) {
            const int n = flatnessPieceCount(c.basis, c.points, 1180.0, 500.0, tolerance);
            ASSERT_GE(n, 1) << c.name;
            EXPECT_LE(polylineError(c.basis, c.points, n, 1180.0, 500.0), tolerance) << c.name;
            // Far fewer than the one piece per pixel of the length-based step.
            EXPECT_LT(n, cardinalPieceCount(c.points, 0.002) / 2) << c.name;
        }
    }
    // A sharper bend and a finer tolerance ask for more pieces.
    const int gentle = flatnessPieceCount(catmullRomBasis, flatCases[0].points, 1180.0, 500.0, 0.1);
    const int sharp = flatnessPieceCount(catmullRomBasis, flatCases[1].points, 1180.0, 500.0, 0.1);
    EXPECT_LT(gentle, sharp);
    EXPECT_LT(flatnessPieceCount(catmullRomBasis, flatCases[1].points, 1180.0, 500.0, 0.5), sharp);
}

TEST(FlatnessPieces, StraightPieceIsOneAndEasedChordFollowsItsBend) {
    // Evenly spaced points on a line: the cubic is the line itself.
    EXPECT_EQ(flatnessPieceCount(catmullRomBasis, {{0.0, 0.0}, {0.1, 0.2}, {0.2, 0.4}, {0.3, 0.6}}, 1180.0,
                                 500.0, 0.1),
              1);
    // Full tension: B'' = 6 (p2 - p1) at the ends, so a 100-pixel chord needs
    // ceil(sqrt(600 / 0.8)) = 28 pieces at 0.1 pixel.
    const CurvePoints chord{{0.0, 0.0}, {0.0, 0.5}, {100.0 / 1180.0, 0.5}, {0.0, 0.0}};
    EXPECT_EQ(flatnessPieceCount(cardinalBasis(0.0), chord, 1180.0, 500.0, 0.1), 28);
}

TEST(FlatnessPieces, DegenerateSegmentsDrawNothingOrAreBounded) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const CurvePoints none[] = {
        {{0.0, 0.0}, {0.3, 0.4}, {0.3, 0.4}, {0.9, 0.9}},  // p1 == p2
        {{0, 0}, {nan, 0.5}, {0.5, 0.5}, {1, 1}},
        {{0, 0}, {0.0, 0.5}, {inf, 0.5}, {1, 1}},
        {{nan, 0}, {0.0, 0.5}, {0.5, 0.5}, {1, 1}},
    };
    for (const CurvePoints& p : none) EXPECT_EQ(flatnessPieceCount(catmullRomBasis, p, 1180.0, 500.0, 0.1), 0);
    EXPECT_EQ(flatnessPieceCount(catmullRomBasis, {{-1e12, 0}, {0.0, 0.5}, {0.5, 0.5}, {1e12, 1}}, 1180.0, 500.0,
                                 0.1),
              maxSegmentPieces);
}

TEST(FlatnessPieces, RuleFollowsTheCurveStepOfKeyX) {
    EXPECT_DOUBLE_EQ(curveTolerancePx(0.002), 0.1);
    EXPECT_DOUBLE_EQ(curveTolerancePx(0.01), 0.5);
    const CurvePoints p = flatCases[1].points;
    const PieceRule fine = PieceRule::flatness(1180.0, 500.0, curveTolerancePx(0.002));
    EXPECT_EQ(fine.catmullRom(p), flatnessPieceCount(catmullRomBasis, p, 1180.0, 500.0, 0.1));
    EXPECT_GT(fine.catmullRom(p), PieceRule::flatness(1180.0, 500.0, curveTolerancePx(0.01)).catmullRom(p));
    EXPECT_EQ(PieceRule::fixedStep(0.002).catmullRom(p), catmullRomPieceCount(p, 0.002));
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
        const int n = cardinalPieceCount(p, 0.01);  // any count: the ends are exact
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
