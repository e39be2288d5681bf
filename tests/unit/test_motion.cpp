// Drags with a button held, stroke geometry and hover tracking.

#include <cmath>

#include "render/display.h"
#include "test_support.h"

namespace {

// A 1000-pixel-wide viewport makes one pixel exactly 0.001 view units.
class StrokeTest : public InteractionTest {
protected:
    void SetUp() override {
        InteractionTest::SetUp();
        plot->viewportWidth = 1000;
        plot->viewportHeight = 1000;
    }
    void startStroke(int x, int y) {
        press(LeftButton, x, y);
        ASSERT_TRUE(interaction.strokeActive);
        clearTrace();
    }
    std::vector<std::string> intersectLines() {
        std::vector<std::string> out;
        for (const auto& l : traceLines())
            if (l.rfind("intersect test", 0) == 0) out.push_back(l);
        return out;
    }
};

TEST_F(StrokeTest, PointsAreAtLeast0002Apart) {
    startStroke(0, 900);  // below the palette, left edge
    onMouseDrag(1, 900);
    EXPECT_EQ(interaction.strokePoints.size(), 1u);
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(interaction.strokeLastX, 1) << "the latest event is remembered even when dropped";
    onMouseDrag(2, 900);  // exactly 0.002
    ASSERT_EQ(interaction.strokePoints.size(), 2u);
    EXPECT_EQ(redraws, 1);
    EXPECT_DOUBLE_EQ(interaction.strokeLength, 0.002);
    EXPECT_DOUBLE_EQ(interaction.strokePoints.back().x, 0.002);
    EXPECT_DOUBLE_EQ(interaction.strokePoints.back().y, 0.1);
    onMouseDrag(2, 897);
    EXPECT_NEAR(interaction.strokeLength, 0.005, 1e-12);
}

TEST_F(StrokeTest, LengthIsCappedAtFourKeepingTheNewestPart) {
    startStroke(100, 900);
    // Back and forth in 0.7-unit legs: 6 legs = 4.2 units.
    for (int k = 1; k <= 6; ++k) onMouseDrag(k % 2 ? 800 : 100, 900);
    EXPECT_NEAR(interaction.strokeLength, 3.5, 1e-9);
    ASSERT_EQ(interaction.strokePoints.size(), 6u) << "the oldest point went";
    EXPECT_DOUBLE_EQ(interaction.strokePoints.back().x, 0.1);
    EXPECT_NEAR(interaction.strokePoints.front().x, 0.8, 1e-12);
    double sum = 0;
    for (std::size_t k = 1; k < interaction.strokePoints.size(); ++k) {
        const Point a = interaction.strokePoints[k - 1], b = interaction.strokePoints[k];
        sum += std::hypot(b.x - a.x, b.y - a.y);
    }
    EXPECT_NEAR(interaction.strokeLength, sum, 1e-9);
}

TEST_F(StrokeTest, OneSegmentLongerThanFourLeavesOnlyTheNewestPoint) {
    startStroke(100, 900);
    onMouseDrag(200, 900);
    onMouseDrag(5000, 900);
    ASSERT_EQ(interaction.strokePoints.size(), 1u);
    EXPECT_DOUBLE_EQ(interaction.strokePoints.front().x, 5.0);
    EXPECT_EQ(interaction.strokeLength, 0.0);
    onMouseDrag(5010, 900);  // and the stroke goes on from there
    EXPECT_EQ(interaction.strokePoints.size(), 2u);
}

TEST_F(StrokeTest, CrossingIsNotedOnceAndKept) {
    startStroke(100, 100);
    onMouseDrag(300, 300);
    onMouseDrag(300, 100);
    EXPECT_FALSE(interaction.strokeCrossed);
    onMouseDrag(100, 300);  // crosses the first segment
    EXPECT_TRUE(interaction.strokeCrossed);
    EXPECT_EQ(intersectLines(), (std::vector<std::string>{"intersect test  0", "intersect test  1"}));
    onMouseDrag(50, 350);
    EXPECT_TRUE(interaction.strokeCrossed);
    EXPECT_EQ(intersectLines().size(), 2u) << "no more tests once crossed";
}

TEST_F(StrokeTest, FirstCallHasTooFewPointsToTest) {
    startStroke(100, 100);
    onMouseDrag(300, 300);
    EXPECT_TRUE(intersectLines().empty()) << "a single point has no segment";
}

TEST_F(StrokeTest, TouchingAnEarlierEndPointCounts) {
    startStroke(100, 100);
    onMouseDrag(300, 100);
    onMouseDrag(300, 300);
    onMouseDrag(100, 100);  // back onto the very first point
    EXPECT_TRUE(interaction.strokeCrossed);
}

TEST_F(StrokeTest, ReleaseEmptiesTheStrokeWithoutABrush) {
    startStroke(100, 900);
    onMouseDrag(200, 900);
    release(LeftButton, 200, 900);
    EXPECT_TRUE(interaction.strokePoints.empty());
    EXPECT_FALSE(interaction.strokeActive);
    EXPECT_TRUE(axisBrushes.empty());
    EXPECT_TRUE(vanishingTracks.empty());
}

// ---------------------------------------------------------------- stroke geometry

TEST(SegmentsIntersect, ClosedSegmentTest) {
    EXPECT_TRUE(segmentsIntersect({0, 0}, {1, 1}, {0, 1}, {1, 0}));  // proper crossing
    EXPECT_TRUE(segmentsIntersect({0, 0}, {1, 0}, {1, 0}, {2, 5}));  // shared end point
    EXPECT_TRUE(segmentsIntersect({0, 0}, {2, 0}, {1, 0}, {1, 3}));  // T junction
    EXPECT_TRUE(segmentsIntersect({0, 0}, {2, 0}, {2, 0}, {3, 0}));  // collinear touching
    EXPECT_TRUE(segmentsIntersect({0, 0}, {2, 0}, {1, 0}, {3, 0}));  // collinear overlap
    EXPECT_FALSE(segmentsIntersect({0, 0}, {1, 0}, {2, 0}, {3, 0})); // collinear apart
    EXPECT_FALSE(segmentsIntersect({0, 0}, {1, 0}, {0, 1}, {1, 1})); // parallel
    EXPECT_FALSE(segmentsIntersect({0, 0}, {1, 1}, {1, 0}, {2, 0.5}));  // boxes overlap, no cross
    EXPECT_FALSE(segmentsIntersect({0, 0}, {1, 1}, {0.6, 0.5}, {3, 0}));  // stops short of the line
}

TEST_F(StrokeTest, CrossesItselfSkipsTheNewestSegmentAndOptionallyTheFirst) {
    interaction.strokePoints = {{0, 0}, {1, 0}, {1, 1}, {2, 1}};
    // Crosses only the newest segment (1,1)-(2,1): never tested.
    EXPECT_FALSE(strokeCrossesItself(false, {1.5, 0.5}, {1.5, 2}));
    // Crosses only the first segment (0,0)-(1,0).
    EXPECT_TRUE(strokeCrossesItself(false, {0.5, -1}, {0.5, 0.5}));
    EXPECT_FALSE(strokeCrossesItself(true, {0.5, -1}, {0.5, 0.5}));
    // Crosses the middle segment (1,0)-(1,1).
    EXPECT_TRUE(strokeCrossesItself(true, {0.5, 0.5}, {1.5, 0.5}));
    EXPECT_EQ(intersectLines(), (std::vector<std::string>{"intersect test  0", "intersect test  1",
                                                          "intersect test  0", "intersect test  1"}));
    interaction.strokePoints = {{0, 0}};
    clearTrace();
    EXPECT_FALSE(strokeCrossesItself(false, {-1, -1}, {1, 1}));
    EXPECT_TRUE(traceLines().empty());
}

// ---------------------------------------------------------------- other drags

using DragTest = InteractionTest;

TEST_F(DragTest, AxisStaysRightOfSevenPercentAndPinsAtTheRightEdge) {
    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), regionY());
    onMouseDrag(px(0.08), regionY());
    const double reached = axis(1).position;
    EXPECT_NEAR(reached, 0.08, 1e-3);
    redraws = 0;
    onMouseDrag(px(0.069), regionY());
    EXPECT_EQ(axis(1).position, reached);
    EXPECT_EQ(redraws, 0);
    onMouseDrag(2000, regionY());
    EXPECT_EQ(axis(1).position, 1.0);
}

TEST_F(DragTest, DragsGoOnFinitelyAfterTheAreaCollapses) {
    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), regionY());
    onReshape(0, 0);
    for (int x : {0, 26, -50}) {
        onMouseDrag(x, -4);
        for (int i = 0; i < plot->axisCount; ++i) EXPECT_TRUE(std::isfinite(axis(i).position)) << x;
    }
    release(LeftButton, 0, 0);
    EXPECT_TRUE(std::isfinite(plot->toViewCoordinates(0, 0).x));
    EXPECT_TRUE(std::isfinite(plot->toViewCoordinates(0, 0).y));
}

TEST_F(DragTest, MotionIsIgnoredWhileAGlideRuns) {
    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), regionY());
    const double before = axis(1).position;
    layoutAnimating = true;
    onMouseDrag(px(0.5), regionY());
    EXPECT_EQ(axis(1).position, before);
    layoutAnimating = false;
    interaction.axisDragActive = false;
    interaction.rubberBandActive = true;
    layoutAnimating = true;
    onMouseDrag(77, 88);
    EXPECT_NE(interaction.rubberBandX, 77);
}

TEST_F(DragTest, WheelDuringAnAxisDragFreezesTheDrag) {
    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), regionY());
    press(WheelUp, regionX(2), regionY());
    ASSERT_TRUE(layoutAnimating);
    const double before = axis(1).position;
    onMouseDrag(px(0.5), regionY());
    EXPECT_EQ(axis(1).position, before);
}

TEST_F(DragTest, PaletteDragFollowsThePointer) {
    press(LeftButton, px(0.03), py(0.5));
    ASSERT_TRUE(interaction.shapeDragActive);
    onMouseDrag(px(0.03), py(0.3));
    EXPECT_NEAR(palette->colorLevel, 0.0, 1e-9);
    EXPECT_EQ(redraws, 2);
}

// ---------------------------------------------------------------- hover

using HoverTest = InteractionTest;

TEST_F(HoverTest, TracesEachNewRegionOnce) {
    onMouseHover(regionX(0), regionY());
    onMouseHover(regionX(0) + 3, regionY() + 3);
    onMouseHover(regionX(1), regionY());
    onMouseHover(regionX(0), regionY());
    EXPECT_EQ(traceLines(),
              (std::vector<std::string>{"mouse area  0", "mouse area  1", "mouse area  0"}));
    EXPECT_EQ(redraws, 0) << "entering a region asks for no frame";
    EXPECT_EQ(hoveredAxis, &axis(0));
    EXPECT_TRUE(axis(0).hovered);
    EXPECT_FALSE(axis(1).hovered);
    ASSERT_EQ(hoverFadeList.size(), 2u) << "no duplicates";
    EXPECT_EQ(hoverFadeList[0].axis, &axis(0));
    EXPECT_EQ(hoverFadeList[1].axis, &axis(1));
}

TEST_F(HoverTest, LeavingAllRegionsRedrawsOnce) {
    onMouseHover(regionX(2), regionY());
    onMouseHover(regionX(2), py(0.95));
    onMouseHover(regionX(2), py(0.97));
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(hoveredAxis, nullptr);
    EXPECT_FALSE(axis(2).hovered);
}

TEST_F(HoverTest, RegionBoxIncludesItsEdges) {
    plot->viewportWidth = 1000;
    plot->viewportHeight = 1000;
    axis(1).position = 0.375;
    onMouseHover(375, 100);  // on axis 1, at the top edge 0.9 of region 0's box
    EXPECT_EQ(hoveredAxis, &axis(0)) << "the first region holding the point wins";
}

TEST_F(HoverTest, NothingWhileEmphasisIsOff) {
    hoverEmphasis = false;
    onMouseHover(regionX(0), regionY());
    EXPECT_EQ(hoveredAxis, nullptr);
    EXPECT_TRUE(traceLines().empty());
}

}  // namespace
