// Mouse buttons and wheel: double clicks, axis drags, region zoom, record
// picking, the rubber band and the shape press rules.

#include "test_support.h"

namespace {

using MouseTest = InteractionTest;

// ---------------------------------------------------------------- prologue

TEST_F(MouseTest, WithoutPlotNothingHappens) {
    releasePlot();
    click(LeftButton, 100, 100);
    press(WheelUp, 100, 100);
    EXPECT_TRUE(traceLines().empty());
    EXPECT_EQ(redraws, 0);
    EXPECT_FALSE(interaction.strokeActive);
}

TEST_F(MouseTest, AnyEventFreezesAGlideAndOnlyALeftReleaseResumesIt) {
    onKey('q', 0, 0);  // locks and glides
    ASSERT_TRUE(layoutAnimating);
    interaction.axisDragActive = true;
    press(MiddleButton, 5, 5);
    EXPECT_FALSE(layoutAnimating);
    EXPECT_TRUE(layoutAnimationPaused);
    EXPECT_FALSE(interaction.axisDragActive);
    release(RightButton, 5, 5);
    EXPECT_FALSE(layoutAnimating);
    release(LeftButton, 5, 5);
    EXPECT_TRUE(layoutAnimating);
    EXPECT_FALSE(layoutAnimationPaused);
    // Paused beyond its length, it lands on its targets at the next idle call.
    idleAt(now + 1000);
    EXPECT_FALSE(layoutAnimating);
}

// ---------------------------------------------------------------- double click

TEST_F(MouseTest, DoubleClickNeedsLessThan250Ms) {
    now = 1000;
    press(LeftButton, 5, 5);
    now = 1249;
    press(LeftButton, 5, 5);
    EXPECT_TRUE(interaction.isDoubleClick);

    now = 5000;
    press(LeftButton, 5, 5);
    now = 5250;
    press(LeftButton, 5, 5);
    EXPECT_FALSE(interaction.isDoubleClick);
    EXPECT_TRUE(traced("5250 5000 250"));
}

TEST_F(MouseTest, ThirdPressIsSingleAndFourthIsDoubleAgain) {
    const int x = regionX(1), y = regionY();
    std::vector<bool> doubles;
    for (double t : {1000.0, 1100.0, 1200.0, 1300.0}) {
        now = t;
        press(LeftButton, x, y);
        doubles.push_back(interaction.isDoubleClick);
        release(LeftButton, x, y);
    }
    EXPECT_EQ(doubles, (std::vector<bool>{false, true, false, true}));
    // Two double clicks: the region opened and closed again.
    EXPECT_FALSE(axis(1).scatterOn);
    EXPECT_TRUE(axis(1).scatterTransition);
}

TEST_F(MouseTest, DoubleClickTogglesTheRegionScatterplotAnyModifierAnyHeight) {
    modifiers = ModShift | ModCtrl;
    now = 1000;
    click(LeftButton, regionX(2), py(0.99));
    now = 1100;
    press(LeftButton, regionX(2), py(0.99));
    EXPECT_TRUE(axis(2).scatterOn);
    EXPECT_TRUE(axis(2).fadingIn);
    EXPECT_EQ(axis(2).transitionStart, 1100.0);
    EXPECT_EQ(axis(2).transitionDuration, 1000.0);
}

TEST_F(MouseTest, SecondDoubleClickReversesFromWhereItStands) {
    const int x = regionX(0), y = regionY();
    now = 1000;
    click(LeftButton, x, y);
    now = 1100;
    click(LeftButton, x, y);  // opens at 1100
    idleAt(1400);
    ASSERT_NEAR(axis(0).scatterProgress, 0.3, 1e-12);
    now = 1400;
    click(LeftButton, x, y);
    now = 1450;
    click(LeftButton, x, y);  // closes at 1450
    EXPECT_FALSE(axis(0).scatterOn);
    idleAt(1460);
    EXPECT_NEAR(axis(0).scatterProgress, 0.29, 1e-9) << "it continues from the progress reached";
}

TEST_F(MouseTest, DoubleClickOutsideEveryRegionDoesNothing) {
    const int x = px(0.97), y = regionY();
    now = 1000;
    click(LeftButton, x, y);
    redraws = 0;
    now = 1050;
    press(LeftButton, x, y);
    EXPECT_TRUE(interaction.isDoubleClick);
    EXPECT_EQ(redraws, 0);
    EXPECT_FALSE(interaction.strokeActive);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(axis(i).scatterTransition);
}

// ---------------------------------------------------------------- ALT drag

TEST_F(MouseTest, AltDragMovesAnAxisAndResortsOnRelease) {
    modifiers = ModAlt;
    PCShowAxis* first = &axis(0);
    press(LeftButton, px(0.11), regionY());
    EXPECT_TRUE(interaction.axisDragActive);
    EXPECT_EQ(interaction.dragAxis, 0);
    EXPECT_TRUE(axis(0).selected);
    onMouseDrag(px(0.5), regionY());
    EXPECT_EQ(plot->axes[0], first) << "order only changes at the release";
    EXPECT_NEAR(first->position, 0.5, 1e-3);
    release(LeftButton, px(0.5), regionY());
    EXPECT_FALSE(interaction.axisDragActive);
    EXPECT_EQ(plot->axes[1], first);
    EXPECT_EQ(plot->colorDimension, 0) << "a drag is not a click";
}

TEST_F(MouseTest, AltClickSelectsAndColoursByTheAxisThenDeselects) {
    modifiers = ModAlt;
    const int x = px(axis(2).position), y = regionY();
    click(LeftButton, x, y);
    EXPECT_TRUE(axis(2).selected);
    EXPECT_EQ(plot->colorDimension, 2);
    plot->colorDimension = 1;
    now += 1000;
    click(LeftButton, x, y);
    EXPECT_FALSE(axis(2).selected);
    EXPECT_EQ(plot->colorDimension, 1) << "deselecting keeps the colour dimension";
}

TEST_F(MouseTest, AltPressSearchesFromSevenPercentAtLeast) {
    modifiers = ModAlt;
    axis(0).position = 0.0;
    axis(1).position = 0.1;
    press(LeftButton, 0, regionY());  // u = 0 is searched from 0.07
    EXPECT_EQ(interaction.dragAxis, 1);
    release(LeftButton, 0, regionY());
}

TEST_F(MouseTest, AltWithShiftOrCtrlStartsNothing) {
    for (int m : {ModAlt | ModShift, ModAlt | ModCtrl}) {
        modifiers = m;
        now += 1000;
        press(LeftButton, regionX(0), regionY());
        EXPECT_FALSE(interaction.axisDragActive);
        EXPECT_FALSE(interaction.strokeActive);
        release(LeftButton, regionX(0), regionY());
    }
}

TEST_F(MouseTest, DroppedAxisKeepsItsRankButGlidesBackWhenLocked) {
    axesLocked = true;
    modifiers = ModAlt;
    PCShowAxis* first = &axis(0);
    press(LeftButton, px(0.1), regionY());
    onMouseDrag(px(0.5), regionY());
    release(LeftButton, px(0.5), regionY());
    EXPECT_EQ(plot->axes[1], first);
    EXPECT_TRUE(layoutAnimating);
    idleAt(now + 201);
    EXPECT_NEAR(first->position, 0.1 + 0.83 / 3.0, 1e-12);
}

// ---------------------------------------------------------------- strokes

TEST_F(MouseTest, StrokesStartWithoutAltAndAreEmptiedOnRelease) {
    for (int m : {0, int(ModShift), int(ModCtrl), ModShift | ModCtrl}) {
        modifiers = m;
        now += 1000;
        press(LeftButton, regionX(0), regionY());
        ASSERT_TRUE(interaction.strokeActive) << m;
        ASSERT_EQ(interaction.strokePoints.size(), 1u);
        EXPECT_EQ(interaction.strokeLength, 0.0);
        onMouseDrag(regionX(0) + 20, regionY());
        modifiers = ModCtrl;
        release(LeftButton, regionX(0) + 20, regionY());
        EXPECT_FALSE(interaction.strokeActive);
        EXPECT_TRUE(interaction.strokePoints.empty());
        EXPECT_EQ(interaction.brushModifiers, ModCtrl) << "the combination at the release counts";
    }
}

// ---------------------------------------------------------------- wheel

class WheelTest : public InteractionTest {
protected:
    void SetUp() override {
        InteractionTest::SetUp();
        for (int i = 0; i < 4; ++i) even[i] = axis(i).position;
    }
    // The growth factor a step of factor applies to a region of width w.
    static double grow(double factor, double w) { return std::sqrt(0.8 / (w + 0.2)) * (factor - 1) + 1; }
    double even[4];
};

TEST_F(WheelTest, WidensAMiddleRegionPushingNeighboursOutward) {
    press(WheelUp, regionX(1), regionY());
    ASSERT_TRUE(layoutAnimating);
    EXPECT_EQ(redraws, 1);
    const double w = even[2] - even[1];
    const double s = grow(1.1, w);
    const double a = w * (s - 1) * 0.5 / (even[1] - 0.07);
    const double b = w * (s - 1) * 0.5 / (0.99 - even[2]);
    EXPECT_NEAR(layoutTarget[0], even[0] - a * std::pow(even[0] - 0.07, 1.5), 1e-12);
    EXPECT_NEAR(layoutTarget[1], even[1] - a * std::pow(even[1] - 0.07, 1.5), 1e-12);
    EXPECT_NEAR(layoutTarget[2], even[2] + b * std::pow(0.99 - even[2], 1.5), 1e-12);
    EXPECT_NEAR(layoutTarget[3], even[3] + b * std::pow(0.99 - even[3], 1.5), 1e-12);
    EXPECT_GT(layoutTarget[2] - layoutTarget[1], w);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(layoutStart[i], even[i]);
    EXPECT_EQ(axis(1).position, even[1]) << "the axes glide there";

    idleAt(now + 100);
    EXPECT_NEAR(axis(1).position, (even[1] + layoutTarget[1]) / 2, 1e-12);
    idleAt(now + 101);
    EXPECT_NEAR(axis(1).position, even[1] - a * std::pow(even[1] - 0.07, 1.5), 1e-12);
    EXPECT_FALSE(layoutAnimating);
}

TEST_F(WheelTest, NarrowingMovesNeighboursInward) {
    press(WheelDown, regionX(1), regionY());
    EXPECT_GT(layoutTarget[0], even[0]);
    EXPECT_LT(layoutTarget[3], even[3]);
    EXPECT_LT(layoutTarget[2] - layoutTarget[1], even[2] - even[1]);
}

TEST_F(WheelTest, LeftOfTheFirstAxisMovesOnlyAxesAtOrRightOfIt) {
    press(WheelUp, px(0.05), regionY());
    ASSERT_TRUE(layoutAnimating);
    const double w = even[0] - 0.07;
    const double s = grow(1.1, w);
    const double b = w * (s - 1) * 0.5 / (0.99 - even[0]);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(layoutTarget[i], even[i] + b * std::pow(0.99 - even[i], 1.5), 1e-12) << i;
    EXPECT_GT(layoutTarget[0], even[0]);
}

TEST_F(WheelTest, RightOfTheLastAxisMovesOnlyAxesAtOrLeftOfIt) {
    press(WheelUp, px(0.96), regionY());
    ASSERT_TRUE(layoutAnimating);
    const double w = 0.99 - even[3];
    const double s = grow(1.1, w);
    const double a = w * (s - 1) * 0.5 / (even[3] - 0.07);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(layoutTarget[i], even[i] - a * std::pow(even[i] - 0.07, 1.5), 1e-12) << i;
    EXPECT_LT(layoutTarget[3], even[3]);
}

TEST_F(WheelTest, TwoStepsWithin200MsCompound) {
    const double t0 = now;
    press(WheelUp, regionX(1), regionY());
    double first[4];
    for (int i = 0; i < 4; ++i) first[i] = layoutTarget[i];
    idleAt(t0 + 100);
    const std::vector<double> halfway = positions();
    press(WheelUp, regionX(1), regionY());
    EXPECT_TRUE(layoutAnimating);
    EXPECT_EQ(layoutStartTime, t0 + 100);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(layoutStart[i], halfway[i]) << "restarts from the screen";
    const double w = first[2] - first[1];
    const double s = grow(1.1, w);
    const double a = w * (s - 1) * 0.5 / (first[1] - 0.07);
    EXPECT_NEAR(layoutTarget[1], first[1] - a * std::pow(first[1] - 0.07, 1.5), 1e-12)
        << "builds on the first step's targets";
    idleAt(t0 + 301);
    EXPECT_NEAR(axis(1).position, layoutTarget[1], 1e-12);
    EXPECT_FALSE(layoutTargetsValid);
}

TEST_F(WheelTest, RefusesAStepThatWouldCoverTheView) {
    loadTable("2 2 2 0\nx a b\n0 0\n1 1\n");
    axis(0).position = 0.06;
    axis(1).position = 0.99;
    zoomRegion(1.1, 0.07, 0.99, 0);  // w = 0.93: s * w is about 1.008
    EXPECT_FALSE(layoutAnimating);
    EXPECT_FALSE(layoutTargetsValid) << "a refused step leaves no stale targets";
    EXPECT_EQ(axis(0).position, 0.06);
    // Just below the limit the step is taken.
    axis(0).position = 0.07;
    zoomRegion(1.1, 0.07, 0.99, 0);  // w = 0.92: s * w is about 0.998
    EXPECT_TRUE(layoutAnimating);
    layoutAnimating = false;
    layoutTargetsValid = false;
    // A running glide is not disturbed either.
    layoutStart[0] = 0.5;
    layoutTarget[0] = 0.6;
    layoutTargetsValid = true;
    layoutAnimating = true;
    layoutStartTime = now;
    layoutTarget[1] = 0.99;
    layoutStart[1] = 0.99;
    layoutTarget[0] = 0.06;
    zoomRegion(1.1, 0.07, 0.99, 0);
    EXPECT_EQ(layoutStart[0], 0.5);
    EXPECT_EQ(layoutTarget[0], 0.06);
    EXPECT_EQ(layoutStartTime, now);
}

TEST_F(WheelTest, DoesNothingWhenLockedOrOnAnAxis) {
    axesLocked = true;
    press(WheelUp, regionX(1), regionY());
    EXPECT_FALSE(layoutAnimating);
    EXPECT_EQ(redraws, 0);
    axesLocked = false;
    plot->viewportWidth = 1000;
    axis(1).position = 0.375;
    press(WheelUp, 375, regionY());
    EXPECT_FALSE(layoutAnimating);
    EXPECT_EQ(redraws, 0);
}

TEST_F(WheelTest, BadRegionIndexIsReported) {
    zoomRegion(1.1, 0.07, 0.99, 4);
    zoomRegion(1.1, 0.07, 0.99, -2);
    EXPECT_EQ(traceLines(), (std::vector<std::string>{"error zoom", "error zoom"}));
    EXPECT_FALSE(layoutAnimating);
    zoomRegion(0.0, 0.07, 0.99, 1);
    EXPECT_FALSE(layoutAnimating);
}

// ---------------------------------------------------------------- middle button

// Exact pixel geometry: a 1024 by 512 viewport, axes at 0.25 and 0.75.
class PickTest : public InteractionTest {
protected:
    void SetUp() override {
        InteractionTest::SetUp();
        loadTable("3 2 2 1\nname a b\nr0 0 0\nr1 1 1\nr2 2 2\n");
        plot->viewportWidth = 1024;
        plot->viewportHeight = 512;
        plot->regionMargin = 0.0;
        axis(0).position = 0.25;
        axis(1).position = 0.75;
        axis(0).regionBottom = axis(1).regionBottom = 0.0;
        axis(0).regionTop = axis(1).regionTop = 1.0;
        setNormalized(0, {0.5, 0.5, 0.75});
        setNormalized(1, {1.0, 1.0 / 64, 0.0});
        clearTrace();
    }
    // Values that are their own positions: the range 0..1.
    void setNormalized(int dimension, std::vector<double> values) {
        Dimension* d = plot->dimensions[dimension];
        d->minimum = 0.0;
        d->maximum = 1.0;
        for (std::size_t k = 0; k < values.size(); ++k) rawValues[dimension][k] = values[k];
    }
};

TEST_F(PickTest, AxisPointWithinSevenPixels) {
    // Record 2 sits on axis 0 at pixel (256, 128).
    press(MiddleButton, 256 + 7, 128);
    EXPECT_TRUE(plot->hasHighlightedRecord);
    EXPECT_EQ(plot->highlightedRecord, 2);
    EXPECT_EQ(traceLines().back(), "2  distance  7");
    EXPECT_EQ(redraws, 1);
}

TEST_F(PickTest, NothingAtEightPixels) {
    press(MiddleButton, 256 + 8, 128);
    EXPECT_FALSE(plot->hasHighlightedRecord);
    EXPECT_EQ(redraws, 0);
    press(MiddleButton, 256, 128 - 8);
    EXPECT_FALSE(plot->hasHighlightedRecord);
}

TEST_F(PickTest, AxisTiesGoToTheLowestRecord) {
    const PickResult r = pickAxisPoint(0.25, 0.5);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.record, 0);
    EXPECT_EQ(r.squaredPixelDistance, 0.0);
}

TEST_F(PickTest, NearestAxisIsTheFirstOnTies) {
    setNormalized(1, {0.0, 0.5, 0.0});
    // Both axes are 256 pixels away: axis 0 offers record 0, axis 1 record 1.
    const PickResult r = pickAxisPoint(0.5, 0.5);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.squaredPixelDistance, 256.0 * 256.0);
    EXPECT_EQ(r.record, 0);
}

TEST_F(PickTest, ScatterplotWinsATieWithAnAxisPoint) {
    axis(0).scatterOn = true;
    // Cursor at (260, 256): record 1's scatter point at (264, 256), records 0
    // and 1 on axis 0 at (256, 256); all four pixels away.
    press(MiddleButton, 260, 256);
    EXPECT_EQ(plot->highlightedRecord, 1);
    const auto lines = traceLines();
    EXPECT_EQ(lines[1], "mouse area  0");
    EXPECT_EQ(lines[2], "1  distance  4");
}

TEST_F(PickTest, ScatterPickNeedsAnOpenRegionUnderTheCursor) {
    EXPECT_FALSE(pickScatterPoint(0.2578125, 0.5).found);  // region closed
    EXPECT_EQ(traceLines().back(), "mouse area  0");
    axis(0).scatterOn = true;
    const PickResult r = pickScatterPoint(0.2578125, 0.5);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.record, 1);
    clearTrace();
    EXPECT_FALSE(pickScatterPoint(0.9, 0.5).found);
    EXPECT_TRUE(traceLines().empty());
}

// ---------------------------------------------------------------- right button

TEST_F(MouseTest, RightDragReportsTheRectangleInGlCoordinates) {
    press(RightButton, 300, 100);
    EXPECT_TRUE(interaction.rubberBandActive);
    onMouseDrag(200, 180);
    EXPECT_EQ(interaction.rubberBandX, 200);
    release(RightButton, 200, 180);
    EXPECT_FALSE(interaction.rubberBandActive);
    EXPECT_EQ(traceLines().back(), " snap screen 200 320 100 80");
    EXPECT_EQ(interaction.snapRect, (std::array<int, 4>{200, 320, 100, 80}));
}

TEST_F(MouseTest, AltRightReleaseReportsTheViewport) {
    press(RightButton, 300, 100);
    onMouseDrag(200, 180);
    modifiers = ModAlt;
    release(RightButton, 200, 180);
    EXPECT_EQ(traceLines().back(), " snap screen 0 0 1180 500");
    modifiers = ModAlt | ModShift;  // not ALT alone
    press(RightButton, 10, 10);
    onMouseDrag(20, 30);
    release(RightButton, 20, 30);
    EXPECT_EQ(traceLines().back(), " snap screen 10 470 10 20");
}

TEST_F(MouseTest, ReleasePositionCompletesADrag) {
    // The last motion can arrive after the release: the release still counts.
    press(RightButton, 300, 100);
    onMouseDrag(250, 150);
    release(RightButton, 200, 180);
    EXPECT_EQ(traceLines().back(), " snap screen 200 320 100 80");

    modifiers = ModAlt;
    press(LeftButton, px(axis(1).position), regionY());
    onMouseDrag(px(0.5), regionY());
    release(LeftButton, px(0.55), regionY());
    EXPECT_NEAR(plot->axes[1]->position, 0.55, 1e-3);

    modifiers = 0;
    now += 1000;
    press(LeftButton, px(0.5), py(0.95));
    ASSERT_TRUE(interaction.strokeActive);
    const std::size_t before = interaction.strokePoints.size();
    bool sawEnd = false;
    setRedrawHook([&] { sawEnd = sawEnd || interaction.strokePoints.size() == before + 1; });
    release(LeftButton, px(0.6), py(0.95));
    EXPECT_TRUE(sawEnd) << "the release point joins the stroke before it is handed on";
}

TEST_F(MouseTest, AltClickDoesNotMoveItsAxis) {
    modifiers = ModAlt;
    const double position = axis(2).position;
    click(LeftButton, px(position) + 3, regionY());
    EXPECT_EQ(axis(2).position, position);
    EXPECT_TRUE(axis(2).selected);
}

// ---------------------------------------------------------------- shapes

TEST_F(MouseTest, ShiftClickOnThePaletteTogglesItsMode) {
    ASSERT_NE(palette, nullptr);
    ASSERT_TRUE(palette->selected);
    modifiers = ModShift;
    const int x = px(0.03), y = py(0.5);
    click(LeftButton, x, y);
    EXPECT_FALSE(palette->selected);
    EXPECT_FALSE(interaction.strokeActive) << "a press on a shape starts no stroke";
    now += 1000;
    click(LeftButton, x, y);
    EXPECT_TRUE(palette->selected);
}

TEST_F(MouseTest, PlainPressOnSelectedPaletteDragsItsPicker) {
    const int x = px(0.03), y = py(0.5);
    press(LeftButton, x, y);
    EXPECT_TRUE(interaction.shapeDragActive);
    EXPECT_TRUE(palette->dragging);
    onMouseDrag(x, py(0.8));
    EXPECT_NEAR(palette->colorLevel, 1.0, 1e-9);
    release(LeftButton, x, py(0.8));
    EXPECT_FALSE(interaction.shapeDragActive);
    EXPECT_FALSE(palette->dragging);
    EXPECT_EQ(traceLines().back(), " type  3");

    palette->deselect(0, 0);
    now += 1000;
    press(LeftButton, x, y);
    EXPECT_FALSE(interaction.shapeDragActive) << "an unselected palette is not dragged";
}

TEST_F(MouseTest, ShapeDragReleaseDoesNotResumeAGlide) {
    press(LeftButton, px(0.03), py(0.5));
    layoutAnimationPaused = true;
    release(LeftButton, px(0.03), py(0.5));
    EXPECT_TRUE(layoutAnimationPaused);
    EXPECT_FALSE(layoutAnimating);
}

class IndicatorTest : public InteractionTest {
protected:
    std::vector<Shape*> indicators;
    void SetUp() override {
        InteractionTest::SetUp();
        for (auto& s : shapes)
            if (s->type() == AxisIndicatorType) indicators.push_back(s.get());
        ASSERT_EQ(indicators.size(), 4u);
    }
    void clickIndicator(int i) {
        now += 1000;  // never a double click unless asked
        click(LeftButton, px(axis(i).position), py(1.0 / 30));
    }
    std::vector<bool> selection() const {
        std::vector<bool> s;
        for (Shape* shape : indicators) s.push_back(shape->selected);
        return s;
    }
};

TEST_F(IndicatorTest, PlainClicksAreAnExclusiveToggle) {
    clickIndicator(1);
    EXPECT_EQ(selection(), (std::vector<bool>{false, true, false, false}));
    clickIndicator(2);
    EXPECT_EQ(selection(), (std::vector<bool>{false, false, true, false}));
    clickIndicator(2);
    EXPECT_EQ(selection(), (std::vector<bool>{false, false, false, false}));
}

TEST_F(IndicatorTest, CtrlClicksAddAndCtrlDoubleClickSelectsAll) {
    modifiers = ModCtrl;
    clickIndicator(0);
    clickIndicator(3);
    clickIndicator(3);  // no toggling with CTRL
    EXPECT_EQ(selection(), (std::vector<bool>{true, false, false, true}));
    now += 1000;
    const int x = px(axis(1).position), y = py(1.0 / 30);
    click(LeftButton, x, y);
    now += 100;
    click(LeftButton, x, y);
    EXPECT_EQ(selection(), (std::vector<bool>{true, true, true, true}));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(axis(i).scatterTransition) << "no scatterplot toggle";
}

TEST_F(IndicatorTest, AltPressDragsEverySelectedIndicator) {
    indicators[0]->selected = true;
    modifiers = ModAlt;
    press(LeftButton, px(axis(2).position), py(1.0 / 30));
    EXPECT_TRUE(interaction.shapeDragActive);
    EXPECT_FALSE(interaction.axisDragActive);
    EXPECT_TRUE(indicators[2]->selected);
    EXPECT_TRUE(indicators[0]->dragging);
    EXPECT_TRUE(indicators[2]->dragging);
    EXPECT_FALSE(indicators[1]->dragging);
    clearTrace();
    // Released left of every region: the drop does nothing.
    release(LeftButton, px(0.05), py(1.0 / 30));
    EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                "mouse button 0 1 " + std::to_string(px(0.05)) + " " +
                                    std::to_string(py(1.0 / 30)),
                                " type  1", " type  1"}));
}

TEST_F(IndicatorTest, OtherCombinationsOnlyRedraw) {
    modifiers = ModShift;
    clickIndicator(1);
    EXPECT_EQ(selection(), (std::vector<bool>{false, false, false, false}));
    EXPECT_FALSE(interaction.strokeActive);
    EXPECT_EQ(redraws, 2);
}

}  // namespace
