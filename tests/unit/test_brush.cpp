// Brushing: the fold into the selection, painting, the three gestures, the
// outline tests, stroke dispatch and the shape lasso.

#include <algorithm>
#include <random>

#include "brush/outline.h"
#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "test_support.h"

using testsupport::normalizedOf;

namespace {

// An MDS member marker as the lasso sees it: a position and type 2.
class TestMarker : public Shape {
public:
    TestMarker(double px, double py) : Shape(0, 0) {
        x = px;
        y = py;
    }
    int type() const override { return MdsMarkerType; }
};

// The first five records' membership values.
std::vector<double> valuesOf(const PCBrush& brush) {
    std::vector<double> values;
    for (int i = 0; i < 5; ++i) values.push_back(brush.value(i));
    return values;
}

std::vector<Point> line(Point a, Point b, int steps) {
    std::vector<Point> points;
    for (int k = 0; k <= steps; ++k) {
        const double t = static_cast<double>(k) / steps;
        points.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
    return points;
}

// Legs joined at their shared point.
std::vector<Point> path(std::initializer_list<Point> corners, int steps = 8) {
    std::vector<Point> points;
    const std::vector<Point> c(corners);
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        auto leg = line(c[k], c[k + 1], steps);
        points.insert(points.end(), leg.begin() + (k == 0 ? 0 : 1), leg.end());
    }
    return points;
}

// A circle from angle 0 over sweep (2 pi closes it), radii rx, ry.
std::vector<Point> loop(Point c, double rx, double ry, double sweep, int steps = 60) {
    std::vector<Point> points;
    for (int k = 0; k <= steps; ++k) {
        const double a = sweep * k / steps;
        points.push_back({c.x + rx * std::cos(a), c.y + ry * std::sin(a)});
    }
    return points;
}

class BrushTest : public InteractionTest {
protected:
    // View height of a raw value of the small table (axes span 0.1 to 0.9).
    static double yOf(double raw) { return 0.1 + 0.8 * normalizedOf(raw); }

    void selectionMode() { palette->deselect(0, 0); }

    void dispatch(const std::vector<Point>& points, int mods = 0, bool crossed = false) {
        interaction.strokePoints.assign(points.begin(), points.end());
        interaction.strokeCrossed = crossed;
        interaction.brushModifiers = mods;
        dispatchStroke();
        interaction.strokePoints.clear();
    }

    // A vertical stroke on axis i over the raw values lo..hi.
    void brushAxis(int i, double lo, double hi, int mods = 0) {
        const double x = axis(i).position;
        dispatch(line({x, yOf(lo)}, {x, yOf(hi)}, 10), mods);
    }

    std::vector<double> selection() {
        std::vector<double> degrees;
        for (int i = 0; i < plot->recordCount; ++i) degrees.push_back(plot->recordSelection[i]);
        return degrees;
    }
    int brushCount() {
        return static_cast<int>(axisBrushes.size() + angularBrushes.size() + scatterPlotBrushes.size());
    }

    // Centre of record r's point in the open scatterplot of region 1 (d2 across, d1 up).
    Point scatterPoint(double rawAcross, double rawUp) {
        const double l = axis(1).position, d = axis(2).position - l;
        return {l + 0.2 * d + 0.6 * d * normalizedOf(rawAcross), yOf(rawUp)};
    }
};

// ---------------------------------------------------------------- fold and paint

TEST_F(BrushTest, ModifiersFoldABrushIntoTheSelection) {
    // The brush on axis 0 over raw 0..50 accepts records 0, 1 and 3.
    const std::vector<double> start{1, 0.23, 1, 0.23, 0.5};
    struct Case {
        int mods;
        std::vector<double> expected;
    } cases[] = {
        {0, {1, 0.23, 0.23, 0.23, 0.23}},
        {ModCtrl, {1, 1, 1, 1, 0.5}},
        {ModShift, {0.23, 0.23, 1, 0.23, 0.5}},
        {ModShift | ModCtrl, {1, 0.23, 1, 0.23, 1}},
    };
    selectionMode();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mods);
        clearBrushes();
        for (std::size_t i = 0; i < start.size(); ++i) plot->recordSelection.set(static_cast<int>(i), start[i]);
        brushAxis(0, -1, 50.5, c.mods);
        ASSERT_EQ(axisBrushes.size(), 1u);
        EXPECT_EQ(axisBrushes[0]->inverted, (c.mods & ModShift) != 0);
        if (c.mods & ModShift) axisBrushes[0]->invert();  // a second time changes nothing
        EXPECT_EQ(axisBrushes[0]->insideValue, (c.mods & ModShift) ? 0.23 : 1.0);
        EXPECT_EQ(selection(), c.expected);
        EXPECT_TRUE(traced("axis brush"));
    }
}

TEST_F(BrushTest, ColourModePaintsWithoutSelectingAndColoursSurviveF) {
    ASSERT_TRUE(palette->selected);
    palette->pickAt(palette->x, palette->y);  // opaque red
    palette->updateColor();
    brushAxis(0, -1, 50.5);
    EXPECT_TRUE(axisBrushes.empty());
    EXPECT_EQ(selection(), std::vector<double>(5, 1.0));
    ASSERT_EQ(vanishingTracks.size(), 1u);
    EXPECT_EQ(vanishingTracks[0].lifetime, 2000.0);
    EXPECT_EQ(traceLines().back(), "axis color brush");
    const Rgba red{1, 0, 0, 1};
    for (int r : {0, 1, 3}) EXPECT_EQ(plot->recordColors[r], red) << r;
    EXPECT_NE(plot->recordColors[2], red);

    // SHIFT paints the records outside the brush.
    palette->pickAt(palette->x, palette->y + palette->paletteHeight * 0.45);  // green
    palette->updateColor();
    const Rgba green = palette->currentColor;
    ASSERT_NEAR(green[1], 1.0, 1e-12);
    brushAxis(0, -1, 50.5, ModShift);
    EXPECT_EQ(plot->recordColors[2], green);
    EXPECT_EQ(plot->recordColors[0], red);

    onKey('f', 0, 0);
    EXPECT_TRUE(vanishingTracks.empty());
    EXPECT_EQ(plot->recordColors[0], red);
    EXPECT_EQ(plot->recordColors.has(0), true);
}

TEST_F(BrushTest, BrushesOfAnyKindIntersectAndFRemovesThemAndTheirTracks) {
    selectionMode();
    brushAxis(0, -1, 50.5);
    // An angular brush accepting |d1 - d0| small (records 0, 1, 2) intersects.
    dispatch(path({{0.3, 0.7}, {0.15, 0.5}, {0.3, 0.3}}));
    EXPECT_EQ(selection(), (std::vector<double>{1, 1, 0.23, 0.23, 0.23}));
    ASSERT_EQ(vanishingTracks.size(), 2u);
    EXPECT_EQ(vanishingTracks[1].lifetime, 1000.0);
    redraws = 0;
    idleAt(now + 10);
    EXPECT_GT(redraws, 0);
    onKey('f', 0, 0);
    EXPECT_EQ(brushCount(), 0);
    EXPECT_TRUE(vanishingTracks.empty());
    EXPECT_EQ(selection(), std::vector<double>(5, 1.0));
    redraws = 0;
    idleAt(now + 10);
    EXPECT_EQ(redraws, 0);
}

// ---------------------------------------------------------------- axis brush

TEST_F(BrushTest, AxisGestures) {
    // Axes moved to 0 and 0.1 for the isolation cases; the others far right.
    struct Case {
        const char* name;
        std::vector<Point> stroke;
        int axis;  // -1: no brush
    } cases[] = {
        {"straight", line({0.1, 0.2}, {0.1, 0.8}, 10), 1},
        {"doubled back", path({{0.1, 0.2}, {0.1, 0.8}, {0.1, 0.2}}), -1},
        {"straddling", line({0.095, 0.2}, {0.104, 0.8}, 10), 1},
        {"isolated 0.03..0.035", line({0.03, 0.2}, {0.035, 0.8}, 10), 0},
        {"not isolated 0.03..0.06", line({0.03, 0.2}, {0.06, 0.8}, 10), -1},
        {"above the axis", line({0.1, 0.92}, {0.1, 0.99}, 10), -1},
        {"below the axis", line({0.1, 0.01}, {0.1, 0.09}, 10), -1},
        {"sideways", line({0.1, 0.4}, {0.2, 0.45}, 10), -1},
    };
    selectionMode();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearBrushes();
        axis(0).position = 0.0;
        axis(1).position = 0.1;
        dispatch(c.stroke);
        if (c.axis < 0) {
            EXPECT_TRUE(axisBrushes.empty());
        } else {
            ASSERT_EQ(axisBrushes.size(), 1u);
            EXPECT_EQ(axisBrushes[0]->axis, &axis(c.axis));
        }
    }
}

TEST_F(BrushTest, AxisIntervalEndsAreInclusiveAndMayPassTheAxisEnds) {
    const Positions v = plot->dimensionAt(0)->positions();
    PCAxisBrush exact(&axis(0), v[3], v[1], 0.23, 1.0);  // raw 25 .. 50
    exact.apply();
    EXPECT_EQ(valuesOf(exact),
              (std::vector<double>{0.23, 1, 0.23, 1, 0.23}));

    // From below the axis to its middle: low < 0 takes the minimum in.
    selectionMode();
    dispatch(line({axis(0).position, 0.05}, {axis(0).position, 0.5}, 10));
    ASSERT_EQ(axisBrushes.size(), 1u);
    EXPECT_LT(axisBrushes[0]->low, 0.0);
    EXPECT_EQ(selection(), (std::vector<double>{1, 1, 0.23, 1, 0.23}));
}

// ---------------------------------------------------------------- angular brush

TEST_F(BrushTest, AngularApexSideChoosesTheAxes) {
    selectionMode();
    // "<" in region 0: apex towards axis 0.
    dispatch(path({{0.3, 0.7}, {0.15, 0.5}, {0.3, 0.3}}));
    // ">" in region 1: apex towards axis 2.
    const double l = axis(1).position, r = axis(2).position;
    dispatch(path({{l + 0.05, 0.7}, {r - 0.03, 0.5}, {l + 0.05, 0.3}}));
    ASSERT_EQ(angularBrushes.size(), 2u);
    EXPECT_EQ(angularBrushes[0]->apexAxis, &axis(0));
    EXPECT_EQ(angularBrushes[0]->farAxis, &axis(1));
    EXPECT_TRUE(angularBrushes[0]->apexOnLeft);
    EXPECT_EQ(angularBrushes[1]->apexAxis, &axis(2));
    EXPECT_EQ(angularBrushes[1]->farAxis, &axis(1));
    EXPECT_FALSE(angularBrushes[1]->apexOnLeft);
    EXPECT_GT(angularBrushes[0]->upperBound, 0.0);
    EXPECT_LT(angularBrushes[0]->lowerBound, 0.0);
    EXPECT_EQ(traceLines().back(), "angular brush");
}

TEST_F(BrushTest, AngularRejections) {
    struct Case {
        const char* name;
        std::vector<Point> stroke;
    } cases[] = {
        {"upright V", path({{0.15, 0.7}, {0.2, 0.3}, {0.25, 0.7}})},
        {"bent back", path({{0.2, 0.5}, {0.3, 0.6}, {0.15, 0.7}, {0.25, 0.8}})},
        {"short leg", path({{0.16, 0.51}, {0.15, 0.5}, {0.3, 0.3}})},
        {"crooked leg", path({{0.3, 0.7}, {0.2, 0.7}, {0.15, 0.5}, {0.3, 0.3}})},
        {"touching an axis", path({{0.3, 0.7}, {0.1, 0.5}, {0.3, 0.3}})},
    };
    selectionMode();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dispatch(c.stroke);
        EXPECT_EQ(brushCount(), 0);
    }
    // A region showing its scatterplot belongs to the outline brush.
    axis(0).scatterOn = true;
    dispatch(path({{0.3, 0.7}, {0.15, 0.5}, {0.3, 0.3}}));
    EXPECT_TRUE(angularBrushes.empty());
}

TEST_F(BrushTest, AngularBoundsFromSlopesAndVerticalLegs) {
    axis(0).position = 0.2;
    axis(1).position = 0.4;  // D = 0.2, both heights 0.8
    struct Case {
        Point upper, lower;
        double upperBound, lowerBound;
    } cases[] = {
        {{0.35, 0.55}, {0.35, 0.45}, 0.2 * 0.5 / 0.8, -0.2 * 0.5 / 0.8},
        {{0.25, 0.7}, {0.25, 0.3}, 2.0, -2.0},
    };
    for (const Case& c : cases) {
        PCAngularBrush b(&axis(0), &axis(1), true, {0.25, 0.5}, c.upper, c.lower, 0.23, 1.0);
        EXPECT_NEAR(b.upperBound, c.upperBound, 1e-12);
        EXPECT_NEAR(b.lowerBound, c.lowerBound, 1e-12);
    }
    // Accepted: d1 - d0 within +-0.125, so records 0, 1, 2 (differences 0) only.
    PCAngularBrush b(&axis(0), &axis(1), true, {0.25, 0.5}, {0.35, 0.55}, {0.35, 0.45}, 0.23, 1.0);
    b.apply();
    EXPECT_EQ(valuesOf(b),
              (std::vector<double>{1, 1, 1, 0.23, 0.23}));
}

// ---------------------------------------------------------------- outline geometry

TEST(OutlineTest, CrossingRulesOnEdgesAndVertices) {
    const std::vector<Point> square{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    // A diamond: the ray through its left and right vertices passes them.
    const std::vector<Point> diamond{{0.5, 0}, {1, 0.5}, {0.5, 1}, {0, 0.5}};
    // A W: the ray at y = 0.5 touches the middle vertex from below.
    const std::vector<Point> w{{0, 0}, {0.25, 1}, {0.5, 0.5}, {0.75, 1}, {1, 0}};
    struct Case {
        const char* name;
        const std::vector<Point>& polygon;
        Point p;
        bool inside;
    } cases[] = {
        {"square inside", square, {0.5, 0.5}, true},
        {"square outside", square, {1.5, 0.5}, false},
        {"on an edge", square, {1, 0.3}, true},
        {"on a vertex", square, {0, 1}, true},
        {"ray along the bottom edge", square, {-0.5, 0}, false},
        {"ray through two passed vertices", diamond, {-0.5, 0.5}, false},
        {"inside, ray through a passed vertex", diamond, {0.2, 0.5}, true},
        {"ray touching a vertex", w, {0.2, 0.5}, true},
        {"left of a touching vertex", w, {-0.1, 0.5}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(insideOutline(c.p, c.polygon), c.inside);
        EXPECT_EQ(OutlineBands(c.polygon, 7).inside(c.p), c.inside);
    }
    EXPECT_TRUE(onSegment({0.5, 0.5}, {0, 0}, {1, 1}));
    EXPECT_TRUE(onSegment({1, 1}, {0, 0}, {1, 1}));
    EXPECT_FALSE(onSegment({1.5, 1.5}, {0, 0}, {1, 1}));
    EXPECT_FALSE(onSegment({0.5, 0.51}, {0, 0}, {1, 1}));
}

TEST(OutlineTest, BandsAndGridAgreeWithTheEdgeByEdgeTest) {
    // A star with vertices on shared heights, and a comb whose teeth reach
    // past the end of the crossing test's ray (x = 2), tested on random points
    // between the comb's back and that end, their own vertices and edge
    // midpoints.
    std::vector<Point> star, comb;
    for (int k = 0; k < 40; ++k) {
        const double a = 2 * 3.14159265358979 * k / 40, r = k % 2 ? 0.2 : 0.45;
        star.push_back({0.5 + r * std::cos(a), 0.5 + std::round(r * std::sin(a) * 64) / 64});
    }
    comb.push_back({0.1, 0.1});
    for (int k = 0; k < 6; ++k) {
        comb.push_back({k % 2 ? 0.6 : 2.5, 0.1 + 0.15 * k});
        comb.push_back({k % 2 ? 0.6 : 2.5, 0.2 + 0.15 * k});
    }
    comb.push_back({0.1, 0.95});
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0), wide(0.1, 2.0);
    for (const std::vector<Point>* outline : {&star, &comb}) {
        std::vector<Point> probes(*outline);
        for (std::size_t k = 0; k < outline->size(); ++k) {
            const Point a = (*outline)[k], b = (*outline)[(k + 1) % outline->size()];
            probes.push_back({(a.x + b.x) / 2, (a.y + b.y) / 2});
            probes.push_back({(a.x + b.x) / 2 + 1e-12, (a.y + b.y) / 2});
            // Vertex heights across the whole width: the rays pass the vertices.
            for (int j = 0; j < 20; ++j) probes.push_back({wide(random), a.y});
        }
        for (int k = 0; k < 5000; ++k) probes.push_back({wide(random), unit(random)});
        probes.erase(std::remove_if(probes.begin(), probes.end(), [](Point p) { return p.x >= 2.0; }), probes.end());
        std::vector<double> xs, ys;
        for (const Point& p : probes) {
            xs.push_back(p.x);
            ys.push_back(p.y);
        }
        const double box[4] = {-1.0, 3.0, -1.0, 2.0};  // holds the outline and every probe
        for (int size : {1, 3, 40, 400}) {
            const OutlineBands bands(*outline, size);
            const OutlineGrid grid(*outline, size);
            std::vector<unsigned char> out(probes.size());
            std::vector<int> scratch;
            grid.classify(static_cast<int>(probes.size()), xs.data(), ys.data(), box, out.data(), scratch);
            int bandMisses = 0, gridMisses = 0;
            for (std::size_t k = 0; k < probes.size(); ++k) {
                const bool exact = insideOutline(probes[k], *outline);
                bandMisses += bands.inside(probes[k]) != exact;
                gridMisses += (out[k] == 1) != exact;
            }
            EXPECT_EQ(bandMisses, 0) << outline->size() << " vertices, " << size;
            EXPECT_EQ(gridMisses, 0) << outline->size() << " vertices, " << size;
        }
    }
}

// ---------------------------------------------------------------- scatterplot brush

TEST_F(BrushTest, ScatterPlotLoopSelectsThePointsInsideIt) {
    selectionMode();
    axis(1).scatterOn = true;
    const Point middle = scatterPoint(50, 50);  // record 1 alone
    dispatch(loop(middle, 0.03, 0.05, 2 * 3.14159265358979 * 0.97));
    ASSERT_EQ(scatterPlotBrushes.size(), 1u);
    EXPECT_EQ(selection(), (std::vector<double>{0.23, 1, 0.23, 0.23, 0.23}));
    const auto lines = traceLines();
    const auto pointLine = std::find(lines.begin(), lines.end(), "point");
    ASSERT_NE(pointLine, lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), " Point ") + 62, pointLine);
    ASSERT_GE(lines.end() - pointLine, 3);
    EXPECT_EQ(pointLine[1], "0.5 0.5");
    EXPECT_EQ(pointLine[2], "ScatterPlot brush");
    EXPECT_EQ(vanishingTracks.back().lifetime, 1000.0);
}

TEST_F(BrushTest, ScatterPlotUsesMdsPositionsOnlyWhenLaidOutForEveryRecord) {
    struct Case {
        std::size_t laidOut;
        std::vector<double> expected;
    } cases[] = {
        {5, {0.23, 0.23, 0.23, 0.23, 1}},
        {4, {0.23, 1, 0.23, 0.23, 0.23}},
    };
    selectionMode();
    axis(1).scatterOn = true;
    axis(1).mdsVisible = true;
    for (const Case& c : cases) {
        clearBrushes();
        axis(1).mdsLayout = makeMdsLayout();
        axis(1).mdsLayout->outX.assign(c.laidOut, 0.9);
        axis(1).mdsLayout->outY.assign(c.laidOut, 0.9);
        if (c.laidOut == 5) axis(1).mdsLayout->outX[4] = axis(1).mdsLayout->outY[4] = normalizedOf(50);
        dispatch(loop(scatterPoint(50, 50), 0.03, 0.05, 2 * 3.14159265358979 * 0.97));
        EXPECT_EQ(selection(), c.expected) << c.laidOut;
    }
}

// ---------------------------------------------------------------- dispatch

TEST_F(BrushTest, DispatchOrderAndClosure) {
    selectionMode();
    axis(1).scatterOn = true;
    const Point c = scatterPoint(50, 50);
    const double full = 2 * 3.14159265358979;
    struct Case {
        const char* name;
        std::vector<Point> stroke;
        bool crossed;
        int axisBrushes, angularBrushes, scatterBrushes;
    } cases[] = {
        {"axis stroke marked crossed", line({axis(0).position, 0.2}, {axis(0).position, 0.6}, 8), true, 1, 0, 0},
        {"figure eight", path({{c.x - 0.03, c.y - 0.05}, {c.x + 0.03, c.y + 0.05}, {c.x + 0.03, c.y - 0.05}, {c.x - 0.03, c.y + 0.05}, {c.x - 0.03, c.y - 0.04}}), true, 0, 0, 0},
        {"loop overshooting its start", loop(c, 0.03, 0.05, full * 1.1), false, 0, 0, 0},
        {"loop stopped short", loop(c, 0.03, 0.05, full * 0.97), false, 0, 0, 1},
        {"three-point angle", {{0.3, 0.7}, {0.15, 0.5}, {0.3, 0.3}}, false, 0, 1, 0},
        {"one point", {{c.x, c.y}}, false, 0, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        clearBrushes();
        clearTrace();
        dispatch(k.stroke, 0, k.crossed);
        EXPECT_EQ(axisBrushes.size(), static_cast<std::size_t>(k.axisBrushes));
        EXPECT_EQ(angularBrushes.size(), static_cast<std::size_t>(k.angularBrushes));
        EXPECT_EQ(scatterPlotBrushes.size(), static_cast<std::size_t>(k.scatterBrushes));
    }
}

TEST_F(BrushTest, ReleaseDispatchesAndCompletesTheStrokeWithoutDecidingTheCrossing) {
    selectionMode();
    // A drawn "<" whose release point lands back on its first leg.
    const std::vector<Point> drawn = path({{0.3, 0.7}, {0.15, 0.5}, {0.3, 0.3}}, 4);
    press(LeftButton, px(drawn[0].x), py(drawn[0].y));
    for (std::size_t k = 1; k < drawn.size(); ++k) onMouseDrag(px(drawn[k].x), py(drawn[k].y));
    ASSERT_FALSE(interaction.strokeCrossed);
    clearTrace();
    release(LeftButton, px(0.25), py(0.75));
    EXPECT_FALSE(traced("intersect test  1"));
    EXPECT_FALSE(interaction.strokeCrossed);
    EXPECT_TRUE(interaction.strokePoints.empty());
    EXPECT_FALSE(interaction.strokeActive);
    // A click without motion makes nothing; a CTRL stroke along axis 2 a brush.
    click(LeftButton, px(0.1), py(0.5));
    EXPECT_EQ(axisBrushes.size(), 0u);
    const int x = px(axis(2).position);
    press(LeftButton, x, py(0.3));
    for (int k = 1; k <= 10; ++k) onMouseDrag(x, py(0.3 + 0.03 * k));
    modifiers = ModCtrl;
    release(LeftButton, x, py(0.6));
    ASSERT_EQ(axisBrushes.size(), 1u);
    EXPECT_EQ(axisBrushes[0]->axis, &axis(2));
    EXPECT_EQ(interaction.brushModifiers, ModCtrl);
}

// ---------------------------------------------------------------- lasso

TEST_F(BrushTest, LassoTogglesIndicatorsAndMarkersByModifier) {
    // Indicators of axes 0 and 1 sit at y = 1/30; a marker between them.
    const double x0 = axis(0).position, x1 = axis(1).position;
    shapes.push_back(std::make_unique<TestMarker>((x0 + x1) / 2, 1.0 / 30));
    Shape& first = *shapes[0];
    Shape& marker = *shapes.back();
    palette->x = (x0 + x1) / 2 - 0.05;  // inside the loop too, but never lassoed
    palette->y = 1.0 / 30;
    const auto lasso = loop({(x0 + x1) / 2, 1.0 / 30}, (x1 - x0) / 2 + 0.02, 0.03, 2 * 3.14159265358979 * 0.97);
    struct Case {
        int mods;
        bool before, after;
    } cases[] = {
        {0, false, true},        {0, true, false},
        {ModCtrl, false, true},  {ModCtrl, true, true},
        {ModShift, true, false}, {ModShift, false, false},
        {ModShift | ModCtrl, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mods);
        for (auto& s : shapes) s->selected = c.before;
        palette->selected = true;
        clearTrace();
        dispatch(lasso, c.mods);
        EXPECT_EQ(first.selected, c.after);
        EXPECT_EQ(shapes[1]->selected, c.after);
        EXPECT_EQ(marker.selected, c.after);
        EXPECT_EQ(shapes[2]->selected, c.before);  // axis 2 lies outside
        EXPECT_TRUE(palette->selected);
        // One line per enclosed shape, in list order.
        const auto lines = traceLines();
        std::vector<std::string> lassoLines;
        for (const auto& l : lines)
            if (l.rfind(" sphere shpae  brush   ", 0) == 0) lassoLines.push_back(l);
        ASSERT_EQ(lassoLines.size(), 3u);
        std::ostringstream expected;
        expected << " sphere shpae  brush   " << x0 << ' ' << 1.0 / 30;
        EXPECT_EQ(lassoLines[0], expected.str());
    }
    EXPECT_EQ(brushCount(), 0);
}

TEST_F(BrushTest, LoopBelowARegionLassoesButOverAClosedRegionNothing) {
    const double mid = (axis(0).position + axis(1).position) / 2;
    const double sweep = 2 * 3.14159265358979 * 0.97;
    shapes.push_back(std::make_unique<TestMarker>(mid, 0.5));
    shapes.push_back(std::make_unique<TestMarker>(mid, 0.05));
    dispatch(loop({mid, 0.5}, 0.05, 0.05, sweep));
    EXPECT_FALSE(shapes[shapes.size() - 2]->selected);
    dispatch(loop({mid, 0.05}, 0.03, 0.03, sweep));
    EXPECT_TRUE(shapes.back()->selected);
}

// A real member marker: the lasso switches its dimension out of the layout and
// back in, as a click on it does.
TEST_F(BrushTest, LassoedMarkerSwitchesItsMemberOffAndOn) {
    PCShowAxis& left = axis(0);
    left.scatterOn = left.mdsVisible = true;
    ASSERT_TRUE(left.startMds(&left, &axis(1)));
    shapes.push_back(std::make_unique<MDSShape>(plot, &left, &axis(2)));
    const Point at = shapes.back()->getPosition();
    const int slot = left.findMdsMember(&axis(2));
    ASSERT_GE(slot, 2);
    const auto lasso = loop(at, 0.01, 0.01, 2 * 3.14159265358979 * 0.97);
    dispatch(lasso, ModCtrl);
    EXPECT_EQ((*left.mergedFlags)[slot], 0);
    dispatch(lasso, ModShift);
    EXPECT_EQ((*left.mergedFlags)[slot], 1);
}

// ---------------------------------------------------------------- safety

TEST_F(BrushTest, DegenerateGeometryMakesNoBrush) {
    selectionMode();
    const double x = axis(0).position;
    // A stroke of one repeated point, at an axis and over an open scatterplot.
    dispatch(std::vector<Point>(5, Point{x, 0.5}));
    axis(1).scatterOn = true;
    dispatch(std::vector<Point>(5, scatterPoint(50, 50)));
    // An axis of zero height.
    axis(0).regionTop = axis(0).regionBottom = 0.5;
    dispatch(line({x, 0.3}, {x, 0.7}, 8));
    // Two axes at one position: no region lies between them.
    const double p = axis(2).position = axis(1).position;
    dispatch(path({{p + 0.05, 0.7}, {p - 0.05, 0.5}, {p + 0.05, 0.3}}));
    EXPECT_EQ(brushCount(), 0);
    EXPECT_TRUE(vanishingTracks.empty());
    for (double s : selection()) EXPECT_EQ(s, 1.0);
}

TEST_F(BrushTest, EmptyTableBrushEvaluatesNothing) {
    loadTable("0 2 2 1\nname a b\n");
    selectionMode();
    brushAxis(0, 0, 50);
    EXPECT_EQ(axisBrushes.size(), 1u);
    EXPECT_EQ(vanishingTracks.size(), 1u);
}

TEST_F(BrushTest, RebuildingOrFreeingAxesDropsTheKeptBrushes) {
    selectionMode();
    brushAxis(0, -1, 50.5);
    onKey('r', 0, 0);
    EXPECT_TRUE(axisBrushes.empty());
    selectionMode();
    brushAxis(0, -1, 50.5);
    releasePlot();
    EXPECT_TRUE(axisBrushes.empty());
}

TEST_F(BrushTest, AxisDragCutShortByAGlideStillEndsSorted) {
    // ALT drag axis 1 past axis 2, a wheel step starts a glide, then release.
    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), py(0.5));
    onMouseDrag(px(axis(2).position + 0.05), py(0.5));
    modifiers = 0;
    press(WheelUp, regionX(0), regionY());
    ASSERT_TRUE(layoutAnimating);
    release(LeftButton, px(axis(2).position + 0.05), py(0.5));
    idleAt(now + 1000);
    const auto p = positions();
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    for (int i = 0; i + 1 < plot->axisCount; ++i) {
        const double mid = (p[i] + p[i + 1]) / 2;
        EXPECT_EQ(plot->regionAt(mid), i);
    }
}

}  // namespace
