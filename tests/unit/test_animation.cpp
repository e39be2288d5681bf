// Idle processing: the layout glide, scatterplot transitions and hover fading.

#include "test_support.h"

namespace {

class AnimationTest : public InteractionTest {
protected:
    // Starts a glide from the current positions to targets at time t0.
    void startGlide(const std::vector<double>& targets, double t0) {
        layoutStart.fill(0.0);
        layoutTarget.fill(0.0);
        for (int i = 0; i < plot->axisCount; ++i) {
            layoutStart[i] = axis(i).position;
            layoutTarget[i] = targets[i];
        }
        layoutAnimating = true;
        layoutStartTime = t0;
    }
};

TEST_F(AnimationTest, IdleAtRestRequestsNothing) {
    for (int k = 0; k < 5; ++k) idleAt(now + 16);
    EXPECT_EQ(redraws, 0);
    EXPECT_TRUE(traceLines().empty());
}

TEST_F(AnimationTest, IdleWithoutPlotDoesNothing) {
    releasePlot();
    layoutAnimating = true;
    idleAt(now + 500);
    EXPECT_EQ(redraws, 0);
    EXPECT_TRUE(layoutAnimating);
}

TEST_F(AnimationTest, LayoutGlideInterpolatesAndEndsAfter200Ms) {
    const std::vector<double> start = positions();
    const std::vector<double> targets{0.2, 0.4, 0.6, 0.8};
    startGlide(targets, 1000.0);

    idleAt(1100.0);  // half-way
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(axis(i).position, (start[i] + targets[i]) / 2.0, 1e-12) << "axis " << i;
    EXPECT_TRUE(layoutAnimating);
    EXPECT_EQ(traceLines().back(), "time pass  100");
    EXPECT_EQ(redraws, 1);

    idleAt(1200.0);  // exactly at the end: still interpolating, still running
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(axis(i).position, targets[i], 1e-12);
    EXPECT_TRUE(layoutAnimating);

    layoutTargetsValid = true;
    idleAt(1201.0);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(axis(i).position, targets[i]);
    EXPECT_FALSE(layoutAnimating);
    EXPECT_FALSE(layoutAnimationPaused);
    EXPECT_FALSE(layoutTargetsValid);
    EXPECT_EQ(traceLines().back(), "time pass  201");
    EXPECT_EQ(redraws, 3);

    clearTrace();
    idleAt(1300.0);
    EXPECT_EQ(redraws, 0);
    EXPECT_TRUE(traceLines().empty());
}

TEST_F(AnimationTest, FinishingGlideDefersOtherAnimationsToNextCall) {
    startGlide({0.2, 0.4, 0.6, 0.8}, 1000.0);
    axis(1).scatterOn = true;
    startScatterTransition(1000.0, 1000.0, axis(1));
    idleAt(1300.0);
    EXPECT_FALSE(layoutAnimating);
    EXPECT_EQ(axis(1).mdsIteration, 0) << "the transition must wait for the next idle call";
    idleAt(1310.0);
    EXPECT_EQ(axis(1).mdsIteration, 1);
    EXPECT_NEAR(axis(1).scatterProgress, 0.31, 1e-12);
}

TEST_F(AnimationTest, TransitionGrowsLinearlyAndEndsAfterItsDuration) {
    PCShowAxis& a = axis(0);
    a.scatterOn = true;
    startScatterTransition(2000.0, 1000.0, a);
    EXPECT_TRUE(a.scatterTransition);
    EXPECT_TRUE(a.fadingIn);
    EXPECT_FALSE(a.fadingOut);

    advanceScatterTransition(2250.0, a);
    EXPECT_DOUBLE_EQ(a.scatterProgress, 0.25);
    EXPECT_EQ(traceLines().back(), "nowtime  2250     endtime 3000     begintime 2000");

    advanceScatterTransition(3000.0, a);  // at the end time it still runs
    EXPECT_TRUE(a.scatterTransition);
    EXPECT_DOUBLE_EQ(a.scatterProgress, 1.0);

    advanceScatterTransition(3001.0, a);
    EXPECT_FALSE(a.scatterTransition);
    EXPECT_FALSE(a.fadingIn);
    EXPECT_DOUBLE_EQ(a.scatterProgress, 1.0) << "the last value stays";
    EXPECT_EQ(traceLines().back(), "total frame 3");
    EXPECT_EQ(a.mdsIteration, 0);
}

TEST_F(AnimationTest, ReversalContinuesFromTheProgressShown) {
    PCShowAxis& a = axis(1);
    a.scatterOn = true;
    startScatterTransition(1000.0, 1000.0, a);
    advanceScatterTransition(1300.0, a);
    ASSERT_NEAR(a.scatterProgress, 0.3, 1e-12);

    a.scatterOn = false;
    startScatterTransition(1300.0, 1000.0, a);
    EXPECT_TRUE(a.fadingOut);
    EXPECT_NEAR(a.transitionStart, 600.0, 1e-9);
    advanceScatterTransition(1310.0, a);
    EXPECT_NEAR(a.scatterProgress, 0.29, 1e-9);
    advanceScatterTransition(1600.0, a);
    EXPECT_TRUE(a.scatterTransition);
    advanceScatterTransition(1601.0, a);
    EXPECT_FALSE(a.scatterTransition) << "ends 600 ms after the first start";

    // And back again while shrinking.
    a.scatterOn = false;
    startScatterTransition(5000.0, 1000.0, a);
    advanceScatterTransition(5200.0, a);
    ASSERT_NEAR(a.scatterProgress, 0.8, 1e-12);
    a.scatterOn = true;
    startScatterTransition(5200.0, 1000.0, a);
    EXPECT_NEAR(a.transitionStart, 4400.0, 1e-9);
    advanceScatterTransition(5210.0, a);
    EXPECT_NEAR(a.scatterProgress, 0.81, 1e-9);
}

TEST_F(AnimationTest, SameDirectionStartRestartsFromZero) {
    PCShowAxis& a = axis(0);
    a.scatterOn = true;
    startScatterTransition(0.0, 1000.0, a);
    advanceScatterTransition(500.0, a);
    startScatterTransition(500.0, 1000.0, a);
    EXPECT_DOUBLE_EQ(a.transitionStart, 500.0);
    advanceScatterTransition(600.0, a);
    EXPECT_NEAR(a.scatterProgress, 0.1, 1e-12);
}

TEST_F(AnimationTest, IdleAdvancesRunningTransitionsAndRedraws) {
    axis(2).scatterOn = true;
    startScatterTransition(100.0, 1000.0, axis(2));
    idleAt(600.0);
    EXPECT_DOUBLE_EQ(axis(2).scatterProgress, 0.5);
    EXPECT_EQ(redraws, 1);
    idleAt(1101.0);
    EXPECT_FALSE(axis(2).scatterTransition);
    EXPECT_EQ(redraws, 2);
    idleAt(1200.0);
    EXPECT_EQ(redraws, 2);
}

TEST_F(AnimationTest, TraceAnimationWritesIterationCountWithoutNewline) {
    traceAnimation = true;
    PCShowAxis& a = axis(0);
    a.scatterOn = true;
    startScatterTransition(0.0, 1000.0, a);
    a.mdsIteration = 11;
    idleAt(100.0);
    EXPECT_EQ(traceOut.str().rfind("11nowtime  100", 0), 0u) << traceOut.str();
    EXPECT_EQ(a.mdsIteration, 1);
}

TEST_F(AnimationTest, VanishingTracksKeepFramesComing) {
    vanishingTracks.push_back(VanishingTrack{{}, now, 1000.0});
    idleAt(now + 10);
    idleAt(now + 10);
    EXPECT_EQ(redraws, 2);
    vanishingTracks.clear();
    idleAt(now + 10);
    EXPECT_EQ(redraws, 2);
}

// ---------------------------------------------------------------- hover fading

class HoverFadeTest : public AnimationTest {
protected:
    void hoverRegion(int r) {
        onMouseHover(regionX(r), regionY());
        ASSERT_EQ(hoveredAxis, &axis(r));
    }
};

TEST_F(HoverFadeTest, FadesToFloorInThirtyCallsThenRests) {
    axis(1).scatterOn = true;
    hoverRegion(1);
    for (int k = 0; k < 29; ++k) idleAt(now + 1);
    EXPECT_GT(axis(1).curveOpacity, 0.1);
    EXPECT_EQ(redraws, 29);
    idleAt(now + 1);
    EXPECT_DOUBLE_EQ(axis(1).curveOpacity, 0.1);
    EXPECT_EQ(redraws, 29) << "arriving at the floor is not a move";
    idleAt(now + 1);
    EXPECT_DOUBLE_EQ(axis(1).curveOpacity, 0.1);
    EXPECT_EQ(redraws, 29);
    ASSERT_EQ(hoverFadeList.size(), 1u);
}

TEST_F(HoverFadeTest, LeavingRaisesBackToExactlyOneAndDropsFromList) {
    axis(1).scatterOn = true;
    hoverRegion(1);
    axis(1).curveOpacity = 0.4;
    onMouseHover(px(0.5), py(0.98));  // above every region
    ASSERT_EQ(hoveredAxis, nullptr);
    idleAt(now + 1);
    EXPECT_NEAR(axis(1).curveOpacity, 0.43, 1e-12);
    int calls = 1;
    while (!hoverFadeList.empty() && calls < 100) {
        idleAt(now + 1);
        ++calls;
    }
    EXPECT_EQ(axis(1).curveOpacity, 1.0);
    EXPECT_EQ(calls, 20);
    const int before = redraws;
    idleAt(now + 1);
    EXPECT_EQ(redraws, before);
}

TEST_F(HoverFadeTest, RegionWithoutScatterplotDoesNotFade) {
    hoverRegion(0);
    idleAt(now + 1);
    EXPECT_EQ(axis(0).curveOpacity, 1.0);
    EXPECT_TRUE(hoverFadeList.empty());
}

TEST_F(HoverFadeTest, RegionOpenedUnderTheRestingPointerFades) {
    hoverRegion(2);
    idleAt(now + 1);
    ASSERT_TRUE(hoverFadeList.empty()) << "a closed region has nothing to fade";
    onKey('v', regionX(2), regionY());
    for (int k = 0; k < 5; ++k) idleAt(now + 1);
    EXPECT_NEAR(axis(2).curveOpacity, 0.85, 1e-9);
    for (int k = 0; k < 40; ++k) idleAt(now + 1);
    EXPECT_DOUBLE_EQ(axis(2).curveOpacity, 0.1);
    EXPECT_EQ(hoverFadeList.size(), 1u);
}

TEST_F(HoverFadeTest, SwitchingEmphasisOffFadesBack) {
    axis(1).scatterOn = true;
    hoverRegion(1);
    for (int k = 0; k < 10; ++k) idleAt(now + 1);
    ASSERT_LT(axis(1).curveOpacity, 0.8);
    onKey('d', regionX(1), regionY());
    EXPECT_FALSE(hoverEmphasis);
    EXPECT_FALSE(axis(1).hovered);
    for (int k = 0; k < 40; ++k) idleAt(now + 1);
    EXPECT_EQ(axis(1).curveOpacity, 1.0);
    EXPECT_TRUE(hoverFadeList.empty());
}

TEST_F(HoverFadeTest, ReloadDropsPointersToOldAxes) {
    axis(1).scatterOn = true;
    hoverRegion(1);
    idleAt(now + 1);
    loadTable(testsupport::smallTable, "again.txt");
    idleAt(now + 1);  // must not touch the freed axes
    EXPECT_EQ(hoveredAxis, nullptr);
    EXPECT_TRUE(hoverFadeList.empty());
    EXPECT_EQ(redraws, 0);
}

TEST_F(HoverFadeTest, ResetKeyForgetsHover) {
    axis(1).scatterOn = true;
    hoverRegion(1);
    onKey('r', 0, 0);
    EXPECT_EQ(hoveredAxis, nullptr);
    EXPECT_TRUE(hoverFadeList.empty());
    onMouseHover(regionX(1), regionY());
    EXPECT_EQ(traceLines().back(), "mouse area  1");
}

}  // namespace
