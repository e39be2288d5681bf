// Dimensions, the plot record, colour functions, axis layout and reset.

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <memory>
#include <sstream>


#include "animation/animation.h"
#include "app/textures.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/dimension.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"
#include "test_support.h"

namespace {

void loadText(const std::string& text) {
    ASSERT_NO_FATAL_FAILURE(testsupport::useTableFile(text, "plot"));
    loadDataFile();
    ASSERT_NE(plot, nullptr);
}

void loadEmpty() {
    dataFileName[0] = '\0';
    loadDataFile();
}

class PlotStateTest : public ::testing::Test {
protected:
    void TearDown() override {
        setClockHook(nullptr);
        loadEmpty();
    }
};

// Four dimensions x0..x3 with values 0, 5, 10 and the colour dimension's range [-0.2, 10.2].
const char* const fourAxes = "3 4 4 0 id a b c d\n0 1 2 3\n5 1 4 6\n10 1 6 9\n";

TEST_F(PlotStateTest, NormalisationUsesTheWidenedRange) {
    loadText(fourAxes);
    Dimension& a = *dimensionTable[0];
    EXPECT_DOUBLE_EQ(a.minimum, -0.2);
    EXPECT_DOUBLE_EQ(a.maximum, 10.2);
    const Positions v = a.positions();
    EXPECT_DOUBLE_EQ(v[0], 0.2 / 10.4);
    EXPECT_DOUBLE_EQ(v[1], 5.2 / 10.4);
    EXPECT_DOUBLE_EQ(v[2], 10.2 / 10.4);

    // A column whose values are all equal sits in the middle of its axis.
    const Positions flat = dimensionTable[1]->positions();
    EXPECT_EQ(flat[0], 0.5);
    EXPECT_EQ(flat[2], 0.5);
}

TEST_F(PlotStateTest, PositionsFollowTheRangeWithoutACopy) {
    loadText(fourAxes);
    Dimension& a = *dimensionTable[0];
    a.minimum = 0.0;
    a.maximum = 10.0;
    EXPECT_DOUBLE_EQ(a.positions()[1], 0.5);
}

TEST_F(PlotStateTest, SingleRecordAndEmptyTablesKeepTheirRanges) {
    loadText("1 1 1 0 id x 7");
    EXPECT_EQ(dimensionTable[0]->maximum, 7.0);
    EXPECT_EQ(dimensionTable[0]->minimum, 7.0);
    EXPECT_EQ(dimensionTable[0]->positions()[0], 0.5);
    loadText("0 1 1 0 id x");
    double hi = -1, lo = -1;
    EXPECT_FALSE(dimensionTable[0]->computeRange(hi, lo));
    EXPECT_EQ(dimensionTable[0]->maximum, 0.0);
    EXPECT_EQ(hi, -1.0);
}

TEST_F(PlotStateTest, ColourRampEdgesAndSelectionShading) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    Dimension& a = *dimensionTable[0];
    // Put records exactly on the widened ends and in the middle.
    rawValues[0][0] = a.minimum;
    rawValues[0][1] = (a.minimum + a.maximum) / 2;
    rawValues[0][2] = a.maximum;
    Rgba c{};
    dimensionColorFn(p, 0, c);
    EXPECT_EQ(c, (Rgba{1, 0, 0, 1}));
    dimensionColorFn(p, 1, c);
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[1], 1.0);
    EXPECT_NEAR(c[2], 0.0, 1e-12);
    dimensionColorFn(p, 2, c);
    EXPECT_EQ(c, (Rgba{0, 0, 1, 1}));

    // Beyond the range: below counts as the second band, above keeps the colour.
    rawValues[0][0] = a.minimum - 2.6;  // t = -0.25
    dimensionColorFn(p, 0, c);
    EXPECT_DOUBLE_EQ(c[0], 3.0);
    rawValues[0][0] = a.maximum + 1;
    c = {0.3, 0.4, 0.5, 0.0};
    dimensionColorFn(p, 0, c);
    EXPECT_EQ(c, (Rgba{0.3, 0.4, 0.5, 1.0}));

    // Indices outside the table leave the output alone.
    c = {0.1, 0.2, 0.3, 0.4};
    dimensionColorFn(p, -1, c);
    dimensionColorFn(p, 3, c);
    selectionColorFn(p, 3, p.recordSelection[0], c);
    EXPECT_EQ(c, (Rgba{0.1, 0.2, 0.3, 0.4}));
    p.colorDimension = 4;  // no such plot dimension
    dimensionColorFn(p, 0, c);
    EXPECT_EQ(c, (Rgba{0.1, 0.2, 0.3, 0.4}));
    p.colorDimension = 0;

    double selection[3] = {0.0, 0.99999, 1.0};
    selectionColorFn(p, 2, selection[2], c);
    EXPECT_EQ(c, (Rgba{0, 0, 1, 1}));
    selectionColorFn(p, 1, selection[1], c);
    EXPECT_NEAR(c[0], 0.00001, 1e-12);
    EXPECT_DOUBLE_EQ(c[3], 0.99999);
    const double unselected[1] = {0.0};
    selectionColorFn(p, 0, unselected[0], c);
    EXPECT_EQ(c, (Rgba{1, 1, 1, 0}));
}

TEST_F(PlotStateTest, RecordColourFollowsOwnColourThenFunctions) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    Rgba c{};
    p.colorOfRecord(0, c);
    EXPECT_EQ(c, (Rgba{0.2, 0.2, 0.2, 0.2}));  // the default own colour after a load
    p.recordColors.clear(0);
    p.colorOfRecord(0, c);
    Rgba ramp{};
    dimensionColorFn(p, 0, ramp);
    EXPECT_EQ(c, ramp);  // fully selected: ramp colour
    p.recordSelection.set(0, 0.23);
    p.colorOfRecord(0, c);
    EXPECT_DOUBLE_EQ(c[3], 0.23);
    p.colorBySelection = false;
    p.colorOfRecord(0, c);
    EXPECT_EQ(c, ramp);
    p.colorByFunction = false;
    p.colorOfRecord(0, c);
    EXPECT_EQ(c, p.recordColor);
    p.useRecordColors = false;
    p.recordColors.set(1, {0.5, 0.5, 0.5, 0.5});
    p.colorOfRecord(1, c);
    EXPECT_EQ(c, p.recordColor);
}

TEST_F(PlotStateTest, SelectionOperationsFoldAndPaint) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    const double brushA[3] = {1.0, 0.23, 1.0};
    const double brushB[3] = {0.23, 0.23, 1.0};
    p.intersectSelection(brushA);
    p.intersectSelection(brushB);
    EXPECT_EQ(p.recordSelection[0], 0.23);
    EXPECT_EQ(p.recordSelection[2], 1.0);
    p.uniteSelection(brushA);
    EXPECT_EQ(p.recordSelection[0], 1.0);
    EXPECT_EQ(p.recordSelection[1], 0.23);
    EXPECT_EQ(p.recordSelection[3], 1.0);  // beyond recordCount: untouched

    p.recordColors.clearAll();
    const double paint[3] = {0.99999, 1.0, 0.5};
    p.paintSelected(paint, {0, 1, 0, 1});
    EXPECT_EQ(p.recordColors.has(0), false);
    EXPECT_EQ(p.recordColors.has(1), true);
    EXPECT_EQ(p.recordColors[1], (Rgba{0, 1, 0, 1}));

    p.highlightRecord(2);
    EXPECT_TRUE(p.hasHighlightedRecord);
    EXPECT_EQ(p.highlightedRecord, 2);
    EXPECT_EQ(p.recordColors[2], (Rgba{0.8, 0, 0, 0.9}));
    EXPECT_EQ(p.recordColors[0], (Rgba{0.1, 0.1, 0.1, 0.05}));
    p.highlightRecord(3);  // no such record: nothing changes
    EXPECT_EQ(p.highlightedRecord, 2);
}

TEST_F(PlotStateTest, CapacityNeverFallsBelowTheRecordCount) {
    loadText(fourAxes);
    EXPECT_EQ(plot->capacity, 103);
    const int saved = recordCount;
    recordCount = 500;
    PCPlot small(10);
    EXPECT_EQ(small.capacity, 500);
    EXPECT_EQ(small.recordSelection.size(), 500u);
    recordCount = saved;
}

TEST_F(PlotStateTest, AxesAreSpacedEvenlyWithTheWiderLeftMargin) {
    loadText(fourAxes);
    ASSERT_EQ(plot->axisCount, 4);
    EXPECT_DOUBLE_EQ(plot->axes[0]->position, 0.1);
    EXPECT_NEAR(plot->axes[1]->position, 0.37666666, 1e-8);
    EXPECT_NEAR(plot->axes[2]->position, 0.65333333, 1e-8);
    EXPECT_DOUBLE_EQ(plot->axes[3]->position, 0.93);
    EXPECT_EQ(plot->axes[2]->dimensionIndex, 2);
    EXPECT_EQ(plot->axes[0]->regionTop, 0.9);
    EXPECT_EQ(plot->axes[0]->regionBottom, 0.1);

    loadText("2 3 1 0 id a b c 1 2 3 4 5 6");
    ASSERT_EQ(plot->axisCount, 1);
    EXPECT_EQ(plot->axes[0]->position, 0.5);
    EXPECT_EQ(plot->regionAt(0.7), -1);
}

TEST_F(PlotStateTest, HitTestsOnAndBesideAxes) {
    loadText(fourAxes);
    const PCPlot& p = *plot;
    const double x1 = p.axes[1]->position;
    EXPECT_EQ(p.nearestAxis(0.1), 0);
    EXPECT_EQ(p.nearestAxis(x1 - 0.01), 1);
    EXPECT_EQ(p.nearestAxis(0.99), 3);
    // Exactly half-way: the left axis wins.
    EXPECT_EQ(p.nearestAxis((0.1 + x1) / 2), 0);

    EXPECT_EQ(p.regionAt(0.1), 0);       // on an axis: the region right of it
    EXPECT_EQ(p.regionAt(x1), 1);
    EXPECT_EQ(p.regionAt(x1 - 0.001), 0);
    EXPECT_EQ(p.regionAt(0.05), -1);     // left of the first axis
    EXPECT_EQ(p.regionAt(0.93), -1);     // the last axis has no region
    EXPECT_EQ(p.regionAt(0.96), -1);

    const Point v = p.toViewCoordinates(590, 125);
    EXPECT_DOUBLE_EQ(v.x, 0.5);
    EXPECT_DOUBLE_EQ(v.y, 0.75);
    plot->setViewBox(0.33, 0.68, 0.33, 0.68, -1, 1);  // zooming changes no mapping
    EXPECT_DOUBLE_EQ(p.toViewCoordinates(590, 125).x, 0.5);

    loadEmpty();
    EXPECT_EQ(plot->nearestAxis(0.5), -1);
    EXPECT_EQ(plot->regionAt(0.5), -1);
}

TEST_F(PlotStateTest, DraggedAxesAreResortedAndMdsGroupsMoveTogether) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    PCShowAxis* a[4] = {p.axes[0], p.axes[1], p.axes[2], p.axes[3]};

    p.dragAxisTo(0.99 * 1180, 0);  // first axis dropped at the far right
    EXPECT_DOUBLE_EQ(a[0]->position, 0.99);
    p.dragAxisTo(-50, 3);
    EXPECT_EQ(a[3]->position, 0.0);  // clamped into the view
    p.resortAxes();
    EXPECT_EQ(p.axes[0], a[3]);
    EXPECT_EQ(p.axes[1], a[1]);
    EXPECT_EQ(p.axes[2], a[2]);
    EXPECT_EQ(p.axes[3], a[0]);

    // Axes 2 and 3 joined by an MDS plot: moving axis 3 left of axis 1 does not
    // move the group, which is ordered by its head, axis 2.
    loadText(fourAxes);  // a new plot: p is gone
    PCShowAxis* b[4] = {plot->axes[0], plot->axes[1], plot->axes[2], plot->axes[3]};
    plot->axes[2]->mdsLayout = makeMdsLayout();
    plot->axes[3]->position = 0.2;
    plot->resortAxes();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(plot->axes[i], b[i]);
    // Moving the head left of axis 1 moves the pair.
    plot->axes[2]->position = 0.2;
    plot->resortAxes();
    EXPECT_EQ(plot->axes[0], b[0]);
    EXPECT_EQ(plot->axes[1], b[2]);
    EXPECT_EQ(plot->axes[2], b[3]);
    EXPECT_EQ(plot->axes[3], b[1]);
}

TEST_F(PlotStateTest, SelectOnlyAxisAndPositionClamping) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    p.axes[0]->selected = true;
    p.selectOnlyAxis(2);
    EXPECT_FALSE(p.axes[0]->selected);
    EXPECT_TRUE(p.axes[2]->selected);
    p.selectOnlyAxis(4);
    EXPECT_TRUE(p.axes[2]->selected);
    const double positions[4] = {-1.0, 0.5, 0.6, 2.0};
    p.setAxisPositions(positions);
    EXPECT_EQ(p.axes[0]->position, 0.0);
    EXPECT_EQ(p.axes[3]->position, 1.0);
    EXPECT_EQ(p.captureAxisPositions()[1], 0.5);
}

TEST_F(PlotStateTest, EvenSpacingGlideStartsWhereTheAxesStand) {
    loadText(fourAxes);
    setClockHook([] { return 1234.0; });
    plot->axes[1]->position = 0.2;
    animateToEvenSpacing();
    EXPECT_TRUE(layoutAnimating);
    EXPECT_EQ(layoutStartTime, 1234.0);
    EXPECT_EQ(plot->axes[1]->position, 0.2);
    EXPECT_EQ(layoutStart[1], 0.2);
    EXPECT_NEAR(layoutTarget[1], 0.3766666, 1e-6);
    EXPECT_DOUBLE_EQ(layoutTarget[3], 0.93);
}

TEST_F(PlotStateTest, ResetRestoresTheDefaultView) {
    loadText(fourAxes);
    PCPlot& p = *plot;
    EXPECT_TRUE(p.straightLines);
    EXPECT_FALSE(p.showHistograms);
    EXPECT_EQ(p.curveLineWidth, 2.0);
    ASSERT_EQ(shapes.size(), 5u);  // one indicator per axis, then the palette
    for (int i = 0; i < 4; ++i) {
        auto* indicator = dynamic_cast<AxisMDSShape*>(shapes[i].get());
        ASSERT_NE(indicator, nullptr);
        EXPECT_EQ(indicator->axis, p.axes[i]);
        EXPECT_DOUBLE_EQ(indicator->y, 1.0 / 30.0);
    }
    ASSERT_EQ(palette, shapes[4].get());
    EXPECT_TRUE(palette->selected);
    EXPECT_EQ(palette->currentColor, (Rgba{0.2, 0.2, 0.2, 0.2}));
    EXPECT_EQ(palette->x, 0.01);
    EXPECT_EQ(palette->paletteHeight, 0.5);

    // Change the view, then reset it.
    p.axes[0]->position = 0.5;
    p.axes[0]->scatterOn = true;
    p.pointSize = 20;
    p.recordSelection.set(1, 0.23);
    p.highlightRecord(0);
    axesLocked = true;
    vanishingTracks.push_back(VanishingTrack{});
    palette->deselect(0, 0);
    EXPECT_EQ(p.recordColors.has(0), false);
    resetPlot();
    EXPECT_EQ(p.axes[0]->position, 0.1);
    EXPECT_FALSE(p.axes[0]->scatterOn);
    EXPECT_EQ(p.pointSize, 5.0);
    EXPECT_EQ(p.recordSelection[1], 1.0);
    EXPECT_FALSE(p.hasHighlightedRecord);
    EXPECT_FALSE(axesLocked);
    EXPECT_TRUE(vanishingTracks.empty());
    EXPECT_EQ(p.recordColors[0], (Rgba{0.2, 0.2, 0.2, 0.2}));
    EXPECT_EQ(p.recordColors.has(102), true);
    EXPECT_TRUE(palette->selected);
    EXPECT_EQ(shapes.size(), 5u);
}

TEST_F(PlotStateTest, PaletteRampAndPicking) {
    loadText(fourAxes);
    ColorSquareShape& pal = *palette;
    const struct { double level; Rgba rgb; } ramp[] = {
        {0.0, {1, 0, 0, 0}}, {0.45, {0, 1, 0, 0}}, {0.9, {0, 0, 1, 0}}, {1.0, {0, 0, 0, 0}}};
    for (const auto& step : ramp) {
        pal.colorLevel = step.level;
        pal.transparencyLevel = 1.0;
        pal.updateColor();
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(pal.currentColor[k], step.rgb[k], 1e-12) << step.level;
        EXPECT_EQ(pal.currentColor[3], 0.0);
    }
    pal.pickAt(0.01, 0.3 + 0.5 * 2);  // above the strip: black, opaque at the left edge
    EXPECT_EQ(pal.colorLevel, 1.0);
    EXPECT_EQ(pal.transparencyLevel, 0.0);
    // Strip edges hit (0.01..0.05 by 0.3..0.8 of a 1180 by 500 view).
    EXPECT_TRUE(pal.hitTest(static_cast<int>(0.05 * 1180), 250));
    EXPECT_FALSE(pal.hitTest(static_cast<int>(0.06 * 1180), 250));
}

TEST(TextureAlphaTest, DarknessBecomesOpacity) {
    EXPECT_EQ(strokeTextureAlpha(765), 0);  // white is transparent
    EXPECT_EQ(strokeTextureAlpha(0), 255);
    EXPECT_EQ(strokeTextureAlpha(384), 255);  // mid-grey already saturates
    EXPECT_EQ(strokeTextureAlpha(600), 132);
    EXPECT_EQ(strawTextureAlpha(765), 0);
    EXPECT_EQ(strawTextureAlpha(0), 255);
    EXPECT_EQ(strawTextureAlpha(384), 127);
    EXPECT_EQ(strawTextureAlpha(600), 55);
}

TEST(TextureAlphaTest, DiscIsShadedFromItsHighlight) {
    EXPECT_EQ(discTexel(0, 0), 0);  // corners lie outside the disc
    EXPECT_EQ(discTexel(63, 63), 0);
    EXPECT_GT(discTexel(0, 31), 0);  // the top rim is inside: 31.5^2 + 0.5^2 < 1024
    EXPECT_LT(discTexel(41, 21), 5);  // next to the highlight point
    // Brightness grows steadily away from the highlight towards the far rim.
    int previous = -1;
    for (int step = 0; step <= 8; ++step) {
        const int value = discTexel(41 - 4 * step, 21 + 4 * step);
        EXPECT_GT(value, previous) << step;
        previous = value;
    }
    EXPECT_GT(previous, 230);
}

}  // namespace
