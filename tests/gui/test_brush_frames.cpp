// Kept brushes drawn into a real GL window: where the axis, angular and
// outline brushes land, that they follow their axes and take the inverted
// colour, and that no sequence of rebuilding the axes leaves a brush or a
// track pointing at freed axes (the sanitizer build reads every frame).

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/table.h"
#include "idle/idle.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

#include "gl_test_window.h"

namespace {

using Rgb = GlTestWindow::Rgb;

bool red(Rgb c) { return c.r > 180 && c.g < 120 && c.b < 120; }
bool cyan(Rgb c) { return c.r < 120 && c.g > 180 && c.b > 180; }

class BrushFrameTest : public TableFrameTest {
protected:
    double now = 10000.0;
    int modifiers = 0;

    void SetUp() override {
        TableFrameTest::SetUp();
        setClockHook([this] { return now; });
        setModifierHook([this] { return modifiers; });
        load("6 3 3 0\nid a b c\nr0 0 0 0\nr1 1 1 2\nr2 2 2 4\nr3 3 3 1\nr4 4 4 3\nr5 5 5 5\n");
        // Invisible records, selection mode: only the brushes are drawn in colour.
        palette->deselect(0, 0);
        plot->setAllRecordColors({0.0, 0.0, 0.0, 0.0});
    }

    void stroke(std::vector<Point> points, int mods = 0) {
        interaction.strokePoints.assign(points.begin(), points.end());
        interaction.strokeCrossed = false;
        interaction.brushModifiers = mods;
        dispatchStroke();
        interaction.strokePoints.clear();
    }
    void axisStroke(int i, int mods = 0) {
        const double x = plot->axes[i]->position;
        std::vector<Point> points;
        for (int k = 0; k <= 10; ++k) points.push_back({x, 0.3 + 0.03 * k});
        stroke(points, mods);
    }
    // A "<" in region 0 and a loop in region 1 (whose scatterplot is open).
    void angularAndOutline() {
        const double l = plot->axes[0]->position, r = plot->axes[1]->position;
        stroke({{r - 0.05, 0.75}, {(l + r) / 2, 0.6}, {l + 0.05, 0.5}, {(l + r) / 2, 0.4}, {r - 0.05, 0.25}});
        plot->axes[1]->scatterOn = true;
        const double c = (plot->axes[1]->position + plot->axes[2]->position) / 2;
        std::vector<Point> loop;
        for (int k = 0; k < 30; ++k) {
            const double a = 6.0 * k / 30;
            loop.push_back({c + 0.05 * std::cos(a), 0.5 + 0.2 * std::sin(a)});
        }
        stroke(loop);
    }
    int count(const GlTestWindow& w, double u0, double v0, double u1, double v1, bool (*test)(Rgb)) {
        int n = 0;
        for (int x = w.column(u0); x <= w.column(u1); ++x)
            for (int y = w.row(v1); y <= w.row(v0); ++y) n += test(w.pixel(x, y));
        return n;
    }
};

TEST_F(BrushFrameTest, KeptBrushesAreDrawnAndFollowTheirAxes) {
    axisStroke(2);
    axisStroke(2, ModShift);  // leaves the others selected, drawn in cyan
    angularAndOutline();
    ASSERT_EQ(axisBrushes.size(), 2u);
    ASSERT_EQ(angularBrushes.size(), 1u);
    ASSERT_EQ(scatterPlotBrushes.size(), 1u);
    vanishingTracks.clear();  // only the brushes themselves

    GlTestWindow& w = GlTestWindow::at(1000, 500);
    w.renderFrame();
    const double x2 = plot->axes[2]->position;
    EXPECT_GT(count(w, x2 - 0.012, 0.29, x2 + 0.012, 0.61, cyan), 20) << "the SHIFT brush's frame";
    const double l = plot->axes[0]->position, r = plot->axes[1]->position;
    EXPECT_GT(count(w, l + 0.04, 0.25, r - 0.04, 0.75, red), 100) << "the angular legs";
    const double c = (plot->axes[1]->position + plot->axes[2]->position) / 2;
    EXPECT_GT(count(w, c - 0.06, 0.25, c + 0.06, 0.75, red), 60) << "the outline";

    // Moved and shortened, the axis takes its brush frames along.
    plot->axes[2]->position = x2 - 0.1;
    plot->axes[2]->regionTop = 0.5;
    w.renderFrame();
    EXPECT_EQ(count(w, x2 - 0.012, 0.29, x2 + 0.012, 0.61, cyan), 0);
    EXPECT_GT(count(w, x2 - 0.112, 0.2, x2 - 0.088, 0.45, cyan), 20);
}

TEST_F(BrushFrameTest, RebuildingTheAxesNeverLeavesABrushOnFreedAxes) {
    GlTestWindow& w = GlTestWindow::at(800, 400);
    auto frame = [&] {
        w.renderFrame();
        onIdle();
    };
    auto brushes = [&] {
        if (palette) palette->deselect(0, 0);
        axisStroke(0);
        angularAndOutline();
        frame();
    };
    brushes();
    onKey('r', 0, 0);  // reset rebuilds the axes
    frame();
    brushes();
    onKey('q', 0, 0);  // lock: the axes glide to even spacing
    frame();
    onKey('q', 0, 0);
    now += 1000;
    frame();
    // An ALT drag cut short by a wheel step, then released.
    modifiers = ModAlt;
    onMouseButton(LeftButton, ButtonPress, 170, 200);
    onMouseDrag(500, 200);
    modifiers = 0;
    onMouseButton(WheelUp, ButtonPress, 300, 200);
    onMouseButton(LeftButton, ButtonRelease, 500, 200);
    now += 1000;
    frame();
    brushes();
    loadDataFile();  // reload
    frame();
    brushes();
    releasePlot();  // Close: no plot, then the empty table
    EXPECT_TRUE(axisBrushes.empty() && angularBrushes.empty() && scatterPlotBrushes.empty());
    frame();
    dataFileName[0] = '\0';
    loadDataFile();
    frame();
    EXPECT_TRUE(axisBrushes.empty() && angularBrushes.empty() && scatterPlotBrushes.empty());
}

}  // namespace
