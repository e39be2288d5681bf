// Geometry of the frame without a display: scatterplot placement, the record
// renderers' vertex streams, histogram bins, stroke ribbons, track expiry,
// text cutting and the reshape bookkeeping.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "draw/text.h"
#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "records/capture_sink.h"
#include "records/records.h"
#include "render/display.h"
#include "render/layers.h"
#include "render/strokes.h"
#include "test_support.h"

using testsupport::normalizedOf;

namespace {

// Raw values of the small table's first three dimensions, which all span 0..100.
const double d0[] = {0, 50, 100, 25, 75};
const double d1[] = {0, 50, 100, 75, 25};
const double d2[] = {100, 50, 0, 25, 75};

const double x0 = 0.1;
const double x1 = 0.1 + 0.83 / 3.0;
const double x2 = 0.1 + 2.0 * 0.83 / 3.0;

double yOn(double raw) { return normalizedOf(raw) * 0.8 + 0.1; }

// A region's scatterplot x of a value normalised on the right axis.
double innerX(double left, double right, double v) {
    const double g = right - left;
    return left + 0.2 * g + 0.6 * g * v;
}

std::vector<CapturedPrimitive> ofType(const CaptureSink& sink, Primitive type) {
    std::vector<CapturedPrimitive> out;
    for (const auto& p : sink.primitives)
        if (p.type == type) out.push_back(p);
    return out;
}

}  // namespace

class RenderLogicTest : public InteractionTest {
protected:
    FrameAxes frame;
    RecordPass pass;
    CaptureSink sink;

    void refresh() {
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
    }

    void renderLines(double step = 0.01) {
        refresh();
        sink.clear();
        ASSERT_TRUE(pass.prepare(*plot, frame));
        renderRecordLines(*plot, pass, step, sink);
        renderScatterPoints(*plot, pass, sink);
    }

    void renderCurves(double step = 0.01) {
        refresh();
        sink.clear();
        ASSERT_TRUE(pass.prepare(*plot, frame));
        renderRecordCurves(*plot, pass, step, sink);
        renderScatterPoints(*plot, pass, sink);
    }

    void startTransition(int region, double progress) {
        axis(region).scatterTransition = true;
        axis(region).scatterProgress = progress;
    }

    static void expectPoint(const CapturedVertex& v, double x, double y, const char* what) {
        EXPECT_NEAR(v.x, x, 1e-12) << what;
        EXPECT_NEAR(v.y, y, 1e-12) << what;
    }
};

// ------------------------------------------------------------ scatter placement

TEST_F(RenderLogicTest, ClosedRegionsHaveNoScatterPoints) {
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    ASSERT_EQ(points.first.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(points.region(i), nullptr);
    EXPECT_TRUE(points.storage.empty());
}

TEST_F(RenderLogicTest, OpenRegionPlacesPointsInItsInnerSixtyPercent) {
    axis(0).scatterOn = true;
    axis(2).scatterOn = true;
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    ASSERT_NE(points.region(0), nullptr);
    EXPECT_EQ(points.region(1), nullptr);
    ASSERT_NE(points.region(2), nullptr);
    const Point* s = points.region(0);
    for (int r = 0; r < 5; ++r) {
        // The right axis's value across, the left axis's height kept.
        EXPECT_NEAR(s[r].x, innerX(x0, x1, normalizedOf(d1[r])), 1e-12) << r;
        EXPECT_NEAR(s[r].y, yOn(d0[r]), 1e-12) << r;
        EXPECT_GE(s[r].x, x0 + 0.2 * (x1 - x0));
        EXPECT_LE(s[r].x, x1 - 0.2 * (x1 - x0));
    }
    // Region 2 has its own block and its own axes.
    EXPECT_NE(points.region(2), s);
    EXPECT_GT(points.region(2)[0].x, x2);
}

TEST_F(RenderLogicTest, TransitionGrowsThePointsOutOfTheLeftAxis) {
    startTransition(0, 0.0);
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    ASSERT_NE(points.region(0), nullptr);
    for (int r = 0; r < 5; ++r) {
        EXPECT_NEAR(points.region(0)[r].x, x0, 1e-12);
        EXPECT_NEAR(points.region(0)[r].y, yOn(d0[r]), 1e-12);
    }

    axis(0).scatterProgress = 0.5;
    buildScatterPoints(*plot, frame, points);
    const double g = x1 - x0;
    for (int r = 0; r < 5; ++r) {
        EXPECT_NEAR(points.region(0)[r].x, x0 + 0.5 * 0.2 * g + 0.5 * 0.6 * g * normalizedOf(d1[r]), 1e-12);
        EXPECT_NEAR(points.region(0)[r].y, yOn(d0[r]), 1e-12);
    }
}

TEST_F(RenderLogicTest, MdsPlotPlacesPointsByTheLayoutOutput) {
    axis(1).scatterOn = true;
    axis(1).mdsVisible = true;
    axis(1).mdsLayout = makeMdsLayout();
    axis(1).mdsLayout->outX = {0.0, 0.25, 0.5, 0.75, 1.0};
    axis(1).mdsLayout->outY = {1.0, 0.5, 0.0, 0.5, 1.0};
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    const double g = x2 - x1;
    for (int r = 0; r < 5; ++r) {
        EXPECT_NEAR(points.region(1)[r].x, x1 + 0.2 * g + 0.6 * g * 0.25 * r, 1e-12);
        EXPECT_NEAR(points.region(1)[r].y, 0.8 * axis(1).mdsLayout->outY[r] + 0.1, 1e-12);
    }

    // Half-way through its transition a point's height is half MDS, half left axis.
    startTransition(1, 0.5);
    buildScatterPoints(*plot, frame, points);
    for (int r = 0; r < 5; ++r) {
        const double expected = 0.5 * 0.8 * axis(1).mdsLayout->outY[r] + 0.5 * 0.8 * normalizedOf(d1[r]) + 0.1;
        EXPECT_NEAR(points.region(1)[r].y, expected, 1e-12) << r;
    }
}

TEST_F(RenderLogicTest, MdsPlotWithoutOutputYetShowsThePlainScatterplot) {
    axis(1).scatterOn = true;
    axis(1).mdsVisible = true;
    axis(1).mdsLayout = makeMdsLayout();
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    ASSERT_NE(points.region(1), nullptr);
    for (int r = 0; r < 5; ++r) {
        EXPECT_NEAR(points.region(1)[r].x, innerX(x1, x2, normalizedOf(d2[r])), 1e-12);
        EXPECT_NEAR(points.region(1)[r].y, yOn(d1[r]), 1e-12);
    }
}

// ------------------------------------------------------------ straight renderer

TEST_F(RenderLogicTest, StraightRendererDrawsOnePolylinePerRecord) {
    renderLines();
    ASSERT_EQ(sink.vertices.size(), 5u * 3u * 2u);
    for (const auto& p : sink.primitives) EXPECT_EQ(p.type, Primitive::Lines);
    for (int r = 0; r < 5; ++r) {
        const CapturedVertex* v = &sink.vertices[r * 6];
        expectPoint(v[0], x0, yOn(d0[r]), "axis 0");
        expectPoint(v[1], x1, yOn(d1[r]), "axis 1");
        expectPoint(v[2], x1, yOn(d1[r]), "axis 1 again");
        expectPoint(v[3], x2, yOn(d2[r]), "axis 2");
        for (int k = 0; k < 6; ++k) EXPECT_EQ(v[k].color, (Rgba{0.2, 0.2, 0.2, 0.2}));
    }
    EXPECT_EQ(sink.lastLineWidth, plot->curveLineWidth);
    EXPECT_EQ(sink.lastPointSize, plot->pointSize);
}

TEST_F(RenderLogicTest, LineAlphaFollowsTheRegionState) {
    axis(0).scatterOn = true;     // half strength
    startTransition(1, 0.4);      // 1 - 0.4 / 2
    axis(2).curveOpacity = 0.25;  // faded behind a hovered scatterplot
    renderLines();
    // Per record: two pieces through each open region's point, then one
    // straight line across region 2.
    const auto& prims = sink.primitives;
    ASSERT_EQ(prims.size(), 5u * 5u + 2u);  // and the points of regions 0 and 1
    const double expected[] = {0.1, 0.1, 0.16, 0.16, 0.05};
    for (int r = 0; r < 5; ++r) {
        for (int k = 0; k < 5; ++k) {
            const CapturedPrimitive& p = prims[5 * r + k];
            EXPECT_EQ(p.type, k < 4 ? Primitive::LineStrip : Primitive::Lines);
            ASSERT_GT(p.count, 0);
            for (int j = 0; j < p.count; ++j)
                EXPECT_NEAR(sink.vertices[p.first + j].color[3], expected[k], 1e-12) << r << ' ' << k;
        }
    }
}

TEST_F(RenderLogicTest, StraightRendererBendsThroughTheScatterPoint) {
    axis(1).scatterOn = true;
    renderLines(0.0001);  // fine pieces: the first one shows the tangent
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    const auto strips = ofType(sink, Primitive::LineStrip);
    ASSERT_EQ(strips.size(), 5u * 2u);
    for (int r = 0; r < 5; ++r) {
        const Point s = points.region(1)[r];
        const CapturedVertex* in = &sink.vertices[strips[2 * r].first];
        const CapturedVertex& inEnd = sink.vertices[strips[2 * r].first + strips[2 * r].count - 1];
        const CapturedVertex* out = &sink.vertices[strips[2 * r + 1].first];
        const CapturedVertex& outEnd = sink.vertices[strips[2 * r + 1].first + strips[2 * r + 1].count - 1];
        expectPoint(in[0], x1, yOn(d1[r]), "leaves axis 1");
        expectPoint(inEnd, s.x, s.y, "reaches the point");
        expectPoint(out[0], s.x, s.y, "leaves the point");
        expectPoint(outEnd, x2, yOn(d2[r]), "reaches axis 2");

        // The neighbour before axis 1 is the point moved one region left, so
        // the curve leaves axis 1 along the straight line coming from axis 0.
        const double ax = x1 - x0, ay = yOn(d1[r]) - yOn(d0[r]);
        const double bx = in[1].x - in[0].x, by = in[1].y - in[0].y;
        const double sine = (ax * by - ay * bx) / (std::hypot(ax, ay) * std::hypot(bx, by));
        EXPECT_LT(std::abs(sine), 0.02) << r;
    }
}

TEST_F(RenderLogicTest, FinishedTransitionDrawsLikeTheOpenRegion) {
    axis(1).scatterOn = true;
    renderLines();
    const std::vector<CapturedVertex> open = sink.vertices;
    startTransition(1, 1.0);
    renderLines();
    ASSERT_EQ(sink.vertices.size(), open.size());
    for (size_t k = 0; k < open.size(); ++k) {
        EXPECT_NEAR(sink.vertices[k].x, open[k].x, 1e-12) << k;
        EXPECT_NEAR(sink.vertices[k].y, open[k].y, 1e-12) << k;
        EXPECT_NEAR(sink.vertices[k].color[3], open[k].color[3], 1e-12) << k;
    }
}

// ------------------------------------------------------------ curve renderer

TEST_F(RenderLogicTest, CurveRendererJoinsItsPiecesAtTheAxes) {
    renderCurves();
    const auto strips = ofType(sink, Primitive::LineStrip);
    ASSERT_EQ(strips.size(), 5u * 3u);
    for (int r = 0; r < 5; ++r) {
        const double xs[] = {x0, x1, x2};
        const double ys[] = {yOn(d0[r]), yOn(d1[r]), yOn(d2[r])};
        for (int i = 0; i < 2; ++i) {
            const CapturedPrimitive& p = strips[3 * r + i];
            expectPoint(sink.vertices[p.first], xs[i], ys[i], "start");
            expectPoint(sink.vertices[p.first + p.count - 1], xs[i + 1], ys[i + 1], "end");
        }
    }
}

TEST_F(RenderLogicTest, CurveTransitionStartsFromThePlainCurve) {
    renderCurves();
    const std::vector<CapturedVertex> plain = sink.vertices;
    startTransition(1, 0.0);
    renderCurves();
    // The lines are unchanged; only the points, all still on axis 1, come on top.
    ASSERT_EQ(sink.primitives.back().type, Primitive::Points);
    ASSERT_EQ(sink.vertices.size(), plain.size() + 10u);
    for (size_t k = 0; k < plain.size(); ++k) {
        EXPECT_EQ(sink.vertices[k].x, plain[k].x) << k;
        EXPECT_EQ(sink.vertices[k].y, plain[k].y) << k;
        EXPECT_EQ(sink.vertices[k].color, plain[k].color) << k;
    }
}

TEST_F(RenderLogicTest, CurveRendererPassesThroughOpenRegionPoints) {
    axis(1).scatterOn = true;
    renderCurves();
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    const auto strips = ofType(sink, Primitive::LineStrip);
    ASSERT_EQ(strips.size(), 5u * 4u);  // two plain pieces and two through the point
    for (int r = 0; r < 5; ++r) {
        const CapturedPrimitive& first = strips[4 * r + 1];
        const CapturedPrimitive& second = strips[4 * r + 2];
        const Point s = points.region(1)[r];
        expectPoint(sink.vertices[first.first + first.count - 1], s.x, s.y, "first piece");
        expectPoint(sink.vertices[second.first], s.x, s.y, "second piece");
    }
}

// ------------------------------------------------------------ scatter points

TEST_F(RenderLogicTest, PointsComeAfterTheLinesEachOverItsShadow) {
    axis(0).scatterOn = true;
    axis(0).pointOpacity = 0.5;
    renderLines();
    const auto pointPrims = ofType(sink, Primitive::Points);
    ASSERT_EQ(pointPrims.size(), 1u);
    EXPECT_EQ(sink.primitives.back().type, Primitive::Points);
    ASSERT_EQ(pointPrims[0].count, 10);
    refresh();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    for (int r = 0; r < 5; ++r) {
        const CapturedVertex& shadow = sink.vertices[pointPrims[0].first + 2 * r];
        const CapturedVertex& point = sink.vertices[pointPrims[0].first + 2 * r + 1];
        const Point s = points.region(0)[r];
        expectPoint(shadow, s.x + 0.001, s.y - 0.001, "shadow");
        EXPECT_EQ(shadow.color, (Rgba{0, 0, 0, 0.25}));
        expectPoint(point, s.x, s.y, "point");
        EXPECT_EQ(point.color, (Rgba{0.2, 0.2, 0.2, 0.2 * 0.5}));
    }
}

// ------------------------------------------------------------ degenerate tables

TEST_F(RenderLogicTest, SubsetDrawsEveryKthRecordWithRaisedAlpha) {
    axis(1).scatterOn = true;
    plot->setAllRecordColors({0.2, 0.2, 0.2, 0.3});
    refresh();
    ASSERT_TRUE(pass.prepare(*plot, frame));
    pass.stride = 2;
    sink.clear();
    renderRecordLines(*plot, pass, 0.01, sink);
    renderScatterPoints(*plot, pass, sink);
    // Records 0, 2 and 4: their first segment starts at their height on axis 0.
    const std::vector<CapturedPrimitive> lines = ofType(sink, Primitive::Lines);
    ASSERT_EQ(lines.size(), 3u * 2u);  // two closed regions each
    const double heights[] = {yOn(d0[0]), yOn(d0[2]), yOn(d0[4])};
    for (int k = 0; k < 3; ++k) {
        const CapturedVertex& v = sink.vertices[lines[2 * k].first];
        expectPoint(v, x0, heights[k], "record start");
        EXPECT_NEAR(v.color[3], compensatedAlpha(0.3, 2), 1e-12);
    }
    // Points: shadow and point per drawn record, the shadow compensated too.
    const std::vector<CapturedPrimitive> points = ofType(sink, Primitive::Points);
    ASSERT_EQ(points.size(), 1u);
    ASSERT_EQ(points[0].count, 6);
    EXPECT_NEAR(sink.vertices[points[0].first].color[3], compensatedAlpha(0.5, 2), 1e-12);
    EXPECT_NEAR(sink.vertices[points[0].first + 1].color[3], compensatedAlpha(0.3, 2), 1e-12);
}

TEST_F(RenderLogicTest, OneAxisHasNoRegionToDraw) {
    loadTable("3 2 1 0\nid a b\n1 4\n2 5\n3 6\n");
    refresh();
    EXPECT_FALSE(pass.prepare(*plot, frame));
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    EXPECT_TRUE(points.first.empty());
}

TEST_F(RenderLogicTest, EmptyTableDrawsNoRecords) {
    loadTable("0 2 2 0\nid a b\n");
    axis(0).scatterOn = true;
    renderCurves();
    EXPECT_TRUE(sink.vertices.empty());
}

// ------------------------------------------------------------ histograms

TEST(HistogramBins, EndsOfTheRangeFallIntoTheOuterBins) {
    const double values[] = {0.0, 1.0, 0.5, 0.05, 0.99999, -0.1, 1.5, 0.1, NAN};
    int counts[11];
    countHistogram(values, 9, 10, counts);
    EXPECT_EQ(counts[0], 3);  // 0.0, 0.05, -0.1
    EXPECT_EQ(counts[1], 1);  // 0.1
    EXPECT_EQ(counts[5], 1);  // 0.5
    EXPECT_EQ(counts[9], 3);  // 1.0, 0.99999, 1.5
    int total = 0;
    for (int j = 0; j < 10; ++j) total += counts[j];
    EXPECT_EQ(total, 8);  // NaN is nowhere
}

TEST(HistogramBins, BarLengthIsTheShareOfRecords) {
    const double scale = 1.0 / 30.0;
    EXPECT_DOUBLE_EQ(histogramHalfLength(2, 4, scale), scale / 2.0);
    EXPECT_DOUBLE_EQ(histogramHalfLength(4, 4, scale), scale);
    EXPECT_EQ(histogramHalfLength(0, 0, scale), 0.0);
}

// ------------------------------------------------------------ stroke ribbons

namespace {

struct RibbonVertex {
    double s, t, x, y;
};

std::vector<RibbonVertex> ribbon(const std::deque<Point>& points, double aspect) {
    std::vector<RibbonVertex> out;
    forEachRibbonVertex(points, aspect,
                        [&out](double s, double t, double x, double y) { out.push_back({s, t, x, y}); });
    return out;
}

}  // namespace

TEST(StrokeRibbon, TwoPointsMakeOneQuadAcrossTheSegment) {
    const std::deque<Point> diagonal{{0.2, 0.3}, {0.5, 0.7}};
    const auto v = ribbon(diagonal, 1.0);
    ASSERT_EQ(v.size(), 4u);
    // Left then right of the direction of travel, t from 0 to 1.
    EXPECT_EQ(v[0].s, 0.0);
    EXPECT_EQ(v[1].s, 1.0);
    EXPECT_EQ(v[0].t, 0.0);
    EXPECT_EQ(v[3].t, 1.0);
    const double wx = v[0].x - v[1].x, wy = v[0].y - v[1].y;
    EXPECT_NEAR(std::hypot(wx, wy), 0.01, 1e-12);
    EXPECT_NEAR(wx * 0.3 + wy * 0.4, 0.0, 1e-12);  // perpendicular to (0.3, 0.4)
    EXPECT_LT(wx, 0.0);                               // left of travel is up-left here
    EXPECT_NEAR(v[2].x - v[3].x, wx, 1e-12);
    EXPECT_NEAR((v[0].x + v[1].x) / 2, 0.2, 1e-12);
    EXPECT_NEAR((v[2].y + v[3].y) / 2, 0.7, 1e-12);
}

TEST(StrokeRibbon, AspectRatioScalesOnlyHorizontalOffsets) {
    const std::deque<Point> upward{{0.3, 0.2}, {0.3, 0.6}};
    const auto v = ribbon(upward, 0.5);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NEAR(v[0].x, 0.3 - 0.0025, 1e-12);
    EXPECT_NEAR(v[1].x, 0.3 + 0.0025, 1e-12);
    EXPECT_NEAR(v[0].y, 0.2, 1e-12);

    const std::deque<Point> across{{0.1, 0.5}, {0.4, 0.5}};
    const auto h = ribbon(across, 0.5);
    EXPECT_NEAR(h[0].y, 0.505, 1e-12);
    EXPECT_NEAR(h[1].y, 0.495, 1e-12);
    EXPECT_NEAR(h[0].x, 0.1, 1e-12);
}

TEST(StrokeRibbon, TurnsAverageTheNormalsAndRepeatsPinch) {
    // Right, then up: the middle normal points up-left, between the two.
    const std::deque<Point> corner{{0.0, 0.0}, {0.1, 0.0}, {0.1, 0.1}};
    const auto v = ribbon(corner, 1.0);
    ASSERT_EQ(v.size(), 6u);
    const double h = 0.005 / std::sqrt(2.0);
    EXPECT_NEAR(v[2].x, 0.1 - h, 1e-12);
    EXPECT_NEAR(v[2].y, h, 1e-12);
    EXPECT_NEAR(v[2].t, 0.5, 1e-12);
    // The last pair reuses the averaged normal.
    EXPECT_NEAR(v[4].x, 0.1 - h, 1e-12);
    EXPECT_NEAR(v[4].y, 0.1 + h, 1e-12);

    const std::deque<Point> still{{0.4, 0.4}, {0.4, 0.4}};
    for (const auto& p : ribbon(still, 1.0)) {
        EXPECT_EQ(p.x, 0.4);
        EXPECT_EQ(p.y, 0.4);
    }
    EXPECT_TRUE(ribbon({{0.1, 0.1}}, 1.0).empty());
    EXPECT_TRUE(ribbon({}, 1.0).empty());
}

// ------------------------------------------------------------ vanishing tracks

TEST(VanishingTrackExpiry, FadesLinearlyAndLeavesOnceItsTimeIsUp) {
    VanishingTrack track;
    track.startTime = 1000.0;
    track.lifetime = 2000.0;
    EXPECT_DOUBLE_EQ(trackAlpha(track, 1000.0), 1.0);
    EXPECT_DOUBLE_EQ(trackAlpha(track, 2000.0), 0.5);
    EXPECT_LT(trackAlpha(track, 3000.0), 0.0);
    // A track stamped by a later clock reading is shown, not brighter than 1.
    EXPECT_DOUBLE_EQ(trackAlpha(track, 500.0), 1.0);
}

TEST(VanishingTrackExpiry, ExpiredTracksAreErasedWithoutBeingDrawn) {
    std::deque<VanishingTrack> tracks(3);
    tracks[0].startTime = 0.0, tracks[0].lifetime = 2000.0;   // half-way at 1000
    tracks[1].startTime = 0.0, tracks[1].lifetime = 1000.0;   // just run out
    tracks[2].startTime = 500.0, tracks[2].lifetime = 1000.0;
    tracks[1].points.push_back({0.7, 0.7});
    std::vector<std::pair<double, double>> drawn;  // (start, alpha)
    walkVanishingTracks(tracks, 1000.0, [&drawn](const VanishingTrack& t, double alpha) {
        drawn.push_back({t.startTime, alpha});
        EXPECT_TRUE(t.points.empty());
    });
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_DOUBLE_EQ(drawn[0].second, 0.5);
    EXPECT_DOUBLE_EQ(drawn[1].first, 500.0);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[1].startTime, 500.0);

    walkVanishingTracks(tracks, 5000.0, [](const VanishingTrack&, double) { FAIL(); });
    EXPECT_TRUE(tracks.empty());
}

// ------------------------------------------------------------ text

TEST(TextLine, CutsAtTheLineFeedAndAtNinetyNineCharacters) {
    char out[textBufferSize];
    EXPECT_EQ(copyTextLine("min\nmax", out, sizeof out), 3u);
    EXPECT_STREQ(out, "min");
    const std::string longText(150, 'x');
    EXPECT_EQ(copyTextLine(longText.c_str(), out, sizeof out), 99u);
    EXPECT_EQ(std::string(out), std::string(99, 'x'));
    EXPECT_EQ(copyTextLine(nullptr, out, sizeof out), 0u);
    EXPECT_STREQ(out, "");
}

TEST(TextLine, NumbersUseSixSignificantDigits) {
    char out[32];
    formatNumber(12.5, out, sizeof out);
    EXPECT_STREQ(out, "12.5");
    formatNumber(-0.2, out, sizeof out);
    EXPECT_STREQ(out, "-0.2");
    formatNumber(102.0 / 3.0, out, sizeof out);
    EXPECT_STREQ(out, "34");
    formatNumber(1234567.0, out, sizeof out);
    EXPECT_STREQ(out, "1.23457e+06");
}

TEST(CategoryLabels, ThinningKeepsTheMostFrequentAndNeverOverlaps) {
    const std::vector<double> y = {0, 5, 10, 15, 20, 25, 30};
    const std::vector<int> byFrequency = {3, 0, 6, 1, 2, 4, 5};
    const struct {
        int pinned;
        std::vector<int> chosen;
    } cases[] = {{-1, {0, 3, 6}}, {4, {0, 4}}, {1, {1, 6}}};
    for (const auto& c : cases)
        EXPECT_EQ(thinLabels(y, byFrequency, c.pinned, labelGapPx), c.chosen) << "pinned " << c.pinned;
    // Labels that are far enough apart are all drawn.
    EXPECT_EQ(thinLabels({0, 11, 22}, {2, 1, 0}, -1, labelGapPx), (std::vector<int>{0, 1, 2}));

    // A thousand labels over 300 pixels: none closer than the gap, and none
    // left out that would have fitted.
    std::vector<double> crowded(1000);
    std::vector<int> order(1000);
    for (int k = 0; k < 1000; ++k) {
        crowded[k] = (k * 7919 % 1000) * 0.3;
        order[k] = (k * 31) % 1000;
    }
    const std::vector<int> chosen = thinLabels(crowded, order, 500, labelGapPx);
    EXPECT_NE(std::find(chosen.begin(), chosen.end(), 500), chosen.end());
    for (int k = 0; k < 1000; ++k) {
        double nearest = 1e9;
        for (int c : chosen)
            if (c != k) nearest = std::min(nearest, std::fabs(crowded[c] - crowded[k]));
        const bool taken = std::find(chosen.begin(), chosen.end(), k) != chosen.end();
        EXPECT_EQ(taken, nearest >= labelGapPx) << k;
    }
}

// ------------------------------------------------------------ frame bookkeeping

TEST_F(RenderLogicTest, ReshapeSetsViewportAndAspectRatio) {
    onReshape(800, 400);
    EXPECT_EQ(plot->getViewport(), (std::array<int, 4>{0, 0, 800, 400}));
    EXPECT_DOUBLE_EQ(aspectRatio, 0.5);
    EXPECT_EQ(windowWidth, 800);
    EXPECT_EQ(windowHeight, 400);

    onReshape(0, 300);  // a collapsed area keeps the last usable ratio
    EXPECT_DOUBLE_EQ(aspectRatio, 0.5);

    // Without a plot (after " too many axis") the window's values still follow.
    releasePlot();
    onReshape(1000, 300);
    EXPECT_EQ(windowWidth, 1000);
    EXPECT_EQ(windowHeight, 300);
    EXPECT_DOUBLE_EQ(aspectRatio, 0.3);
}

TEST_F(RenderLogicTest, FrameAxesDescribeEveryAxis) {
    axis(2).regionTop = 0.7;
    axis(2).regionBottom = 0.3;
    refresh();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frame.dimensionOf[i], i);
        ASSERT_TRUE(frame.normalized[i]);
    }
    EXPECT_DOUBLE_EQ(frame.normalized[0][1], normalizedOf(50));
    EXPECT_DOUBLE_EQ(frame.top[2], 0.7);
    EXPECT_DOUBLE_EQ(frame.bottom[2], 0.3);
    EXPECT_NEAR(frame.height[2], 0.4, 1e-15);
    EXPECT_DOUBLE_EQ(frame.height[0], 0.8);
}
