// Frames rendered into a real GL window and read back: where the axes, the
// selection frame, the histogram bars and the scatterplot points land on
// screen, the background, and the frame drawn while no plot exists.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/platform.h"
#include "base/textures.h"
#include "brush/brush.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/records.h"
#include "shapes/shape.h"

#include "gl_test_window.h"

namespace {

using Rgb = GlTestWindow::Rgb;

// Dark runs along one row: the centre column of each run darker than `level`.
std::vector<double> darkRunCentres(const GlTestWindow& w, int row, int level) {
    std::vector<double> centres;
    int start = -1;
    for (int x = 0; x <= w.width(); ++x) {
        const bool dark = x < w.width() && w.pixel(x, row).darkness() > level;
        if (dark && start < 0) start = x;
        if (!dark && start >= 0) {
            centres.push_back((start + x - 1) / 2.0);
            start = -1;
        }
    }
    return centres;
}

}  // namespace

class RenderPixelTest : public TableFrameTest {
protected:
    // Loads text as a data file, then leaves only what a test looks at:
    // records invisible, no overlay shapes, no ticks.
    void loadBare(const std::string& text) {
        load(text);
        plot->setAllRecordColors({0.0, 0.0, 0.0, 0.0});
        clearShapes();
        axisTicksShown = false;
    }

    static std::string spreadTable(int records) {
        std::ostringstream text;
        text << records << " 4 4 0\nid a b c d\n";
        for (int r = 0; r < records; ++r)
            text << r << ' ' << (r * 7) % records << ' ' << (r * 3) % records << ' ' << records - r << '\n';
        return text.str();
    }
};

TEST_F(RenderPixelTest, FourAxesStandAtTheirColumnsOnWhite) {
    loadBare(spreadTable(10));
    GlTestWindow& w = GlTestWindow::at(1000, 500);
    w.renderFrame();

    const int mid = w.row(0.5);
    const std::vector<double> runs = darkRunCentres(w, mid, 128);
    const double expected[] = {0.1, 0.1 + 0.83 / 3, 0.1 + 2 * 0.83 / 3, 0.93};
    ASSERT_EQ(runs.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(runs[i], expected[i] * 1000.0, 1.0) << i;

    // Away from the axes the row is pure background.
    for (int x = 0; x < w.width(); ++x) {
        bool nearAxis = false;
        for (double e : expected) nearAxis = nearAxis || std::abs(x - e * 1000.0) < 4.0;
        if (!nearAxis) {
            ASSERT_TRUE(w.pixel(x, mid).white()) << x;
        }
    }
    // The axes end at 0.1 and 0.9 of the height.
    EXPECT_TRUE(w.pixel(100, w.row(0.88)).darkness() > 128);
    EXPECT_TRUE(w.pixel(100, w.row(0.92) + 0).white());
    EXPECT_TRUE(w.pixel(100, w.row(0.08)).white());
}

TEST_F(RenderPixelTest, SingleAxisStandsInTheMiddle) {
    loadBare("3 2 1 0\nid a b\n1 4\n2 5\n3 6\n");
    GlTestWindow& w = GlTestWindow::at(800, 400);
    w.renderFrame();
    const std::vector<double> runs = darkRunCentres(w, w.row(0.5), 128);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NEAR(runs[0], 400.0, 1.0);
}

TEST_F(RenderPixelTest, SelectedAxisIsFramed) {
    loadBare(spreadTable(10));
    plot->selectOnlyAxis(1);
    GlTestWindow& w = GlTestWindow::at(1000, 500);
    w.renderFrame();
    const double x = (0.1 + 0.83 / 3) * 1000.0;
    const std::vector<double> runs = darkRunCentres(w, w.row(0.5), 128);
    // Axis 0, the frame's two sides around axis 1 with the axis between, axes 2 and 3.
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_NEAR(runs[1], x - 5.0, 1.0);
    EXPECT_NEAR(runs[2], x, 1.0);
    EXPECT_NEAR(runs[3], x + 5.0, 1.0);
    // Its top edge closes the frame between the sides.
    int darkest = 0;
    for (int y = w.row(0.9) - 2; y <= w.row(0.9) + 2; ++y)
        darkest = std::max(darkest, w.pixel(static_cast<int>(x) + 3, y).darkness());
    EXPECT_GT(darkest, 128);
    EXPECT_TRUE(w.pixel(static_cast<int>(x) + 3, w.row(0.5)).white());
}

TEST_F(RenderPixelTest, HistogramBarOfHalfTheRecordsIsHalfLong) {
    // Half the records in the bottom bin, half in the top one, on both axes.
    loadBare("4 2 2 0\nid a b\n0 0\n0 0\n10 10\n10 10\n");
    plot->showHistograms = true;
    GlTestWindow& w = GlTestWindow::at(1200, 500);
    w.renderFrame();

    const int row = w.row(0.14);  // middle of the bottom bin
    const int axis = 120;
    int right = axis;
    while (right + 1 < w.width() && !w.pixel(right + 1, row).white()) ++right;
    int left = axis;
    while (left > 0 && !w.pixel(left - 1, row).white()) --left;
    // histogramScale / 2 = 1/60 of the width on each side: 20 pixels.
    EXPECT_NEAR(right - axis, 20, 1);
    EXPECT_NEAR(axis - left, 20, 1);
    // Filled with translucent black.
    EXPECT_NEAR(w.pixel(axis + 10, row).darkness(), 128, 12);
    // The middle bins are empty.
    EXPECT_TRUE(w.pixel(axis + 10, w.row(0.5)).white());
}

TEST_F(RenderPixelTest, OpenRegionPointsStayInItsInnerSixtyPercent) {
    load(spreadTable(40));
    clearShapes();
    plot->setAllRecordColors({0.0, 0.0, 0.0, 1.0});
    plot->axes[0]->scatterOn = true;
    plot->axes[0]->curveOpacity = 0.0;  // only the points remain in the region
    axisTicksShown = false;
    GlTestWindow& w = GlTestWindow::at(1000, 500);
    w.renderFrame();

    const double x0 = 100.0, x1 = (0.1 + 0.83 / 3) * 1000.0, g = x1 - x0;
    const double inner0 = x0 + 0.2 * g, inner1 = x0 + 0.8 * g;
    int dark = 0;
    for (int y = w.row(0.9); y <= w.row(0.1); ++y) {
        for (int x = static_cast<int>(x0) + 4; x < static_cast<int>(x1) - 3; ++x) {
            if (w.pixel(x, y).white()) continue;
            ++dark;
            // Point radius 2.5 px and the shadow's 1 px offset.
            ASSERT_GE(x, inner0 - 4.0) << x << ',' << y;
            ASSERT_LE(x, inner1 + 5.0) << x << ',' << y;
        }
    }
    EXPECT_GT(dark, 40 * 4);

    // The first record's point sits where the layout puts it.
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    ScatterPoints points;
    buildScatterPoints(*plot, frame, points);
    const Point s = points.region(0)[5];
    EXPECT_GT(w.pixel(w.column(s.x), w.row(s.y)).darkness(), 128);
}

TEST_F(RenderPixelTest, StrokeKeepsItsScreenWidthWhenTheWindowWidens) {
    loadBare("3 2 2 0\nid a b\n1 4\n2 5\n3 6\n");
    activeTexture = textureSlots - 1;  // no texture: a plain translucent band
    interaction.strokePoints = {{0.5, 0.3}, {0.5, 0.6}};
    std::vector<int> widths;
    for (int width : {600, 1200}) {
        GlTestWindow& w = GlTestWindow::at(width, 400);
        w.renderFrame();
        const int row = w.row(0.45);
        int dark = 0;
        for (int x = w.column(0.5) - 20; x <= w.column(0.5) + 20; ++x)
            if (!w.pixel(x, row).white()) ++dark;
        widths.push_back(dark);
    }
    activeTexture = 1;
    // 0.01 of the height on screen in both: 4 pixels (smoothing may add an edge).
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_NEAR(widths[0], 4, 2);
    EXPECT_NEAR(widths[1], widths[0], 1);
}

TEST_F(RenderPixelTest, WithoutPlotTheFrameIsOnlyCleared) {
    releasePlot();
    GlTestWindow& w = GlTestWindow::at(640, 360);
    glut_window->make_current();
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 2.0, 0.0, 3.0, -1.0, 1.0);
    GLdouble before[16];
    glGetDoublev(GL_PROJECTION_MATRIX, before);

    w.renderFrame();
    for (int y = 0; y < w.height(); y += 7)
        for (int x = 0; x < w.width(); x += 7) ASSERT_EQ(w.pixel(x, y), (Rgb{0, 0, 255})) << x << ',' << y;
    GLdouble after[16];
    glGetDoublev(GL_PROJECTION_MATRIX, after);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(after[k], before[k]) << k;
}

TEST_F(RenderPixelTest, ExampleTableShowsGreyRecordsAndNames) {
    ASSERT_TRUE(setDataFileName(KORVELLINE_TEST_DATA_DIR "/iris.txt"));
    loadDataFile();
    ASSERT_NE(plot, nullptr);
    ASSERT_GE(plot->axisCount, 2);
    GlTestWindow& w = GlTestWindow::at(1180, 500);
    w.renderFrame();

    // Records: translucent grey between the first two axes, never black.
    const int x = w.column((plot->axes[0]->position + plot->axes[1]->position) / 2.0);
    int grey = 0;
    for (int y = w.row(0.9); y <= w.row(0.1); ++y) {
        const Rgb p = w.pixel(x, y);
        EXPECT_EQ(p.r, p.g);
        EXPECT_EQ(p.g, p.b);
        EXPECT_GT(p.r, 0);
        if (!p.white()) ++grey;
    }
    EXPECT_GT(grey, 20);

    // Each axis has its name printed just above its top, starting at the axis.
    for (int i = 0; i < plot->axisCount; ++i) {
        int ink = 0;
        const int left = w.column(plot->axes[i]->position);
        for (int y = w.row(0.97) - 10; y <= w.row(0.97); ++y)
            for (int dx = 0; dx < 20; ++dx)
                if (w.pixel(left + dx, y).darkness() > 128) ++ink;
        EXPECT_GT(ink, 5) << i;
    }
}

namespace {

class CountingShape : public Shape {
public:
    explicit CountingShape(int* draws) : Shape(0, 0), draws_(draws) {}
    void draw() override { ++*draws_; }

private:
    int* draws_;
};

}  // namespace

TEST_F(RenderPixelTest, FrameAdvancesTransitionsAndPrunesItsLists) {
    loadBare(spreadTable(10));
    // Sized first: a resize lets the toolkit draw frames of its own.
    GlTestWindow& w = GlTestWindow::at(1000, 500);
    double now = 5000.0;
    setClockHook([&now] { return now; });

    PCShowAxis& region = *plot->axes[1];
    region.scatterOn = true;
    region.scatterTransition = true;
    region.fadingIn = true;
    region.transitionStart = 4000.0;
    region.transitionDuration = 4000.0;

    vanishingTracks.clear();
    VanishingTrack live;
    live.points = {{0.2, 0.5}, {0.3, 0.5}};
    live.startTime = 4000.0;
    live.lifetime = 2000.0;
    VanishingTrack expired = live;
    expired.points = {{0.6, 0.5}, {0.7, 0.5}};
    expired.startTime = 2000.0;
    vanishingTracks.push_back(expired);
    vanishingTracks.push_back(live);

    int draws = 0;
    shapes.push_back(std::make_unique<CountingShape>(&draws));
    shapes.push_back(std::make_unique<CountingShape>(&draws));
    shapes.front()->removed = true;
    activeTexture = textureSlots - 1;  // an untextured ribbon

    w.renderFrame();
    activeTexture = 1;
    setClockHook(nullptr);

    // The transition moved to the frame's clock reading before drawing.
    EXPECT_TRUE(region.scatterTransition);
    EXPECT_DOUBLE_EQ(region.scatterProgress, 0.25);
    // The expired track is gone and undrawn; the live one shows at half strength.
    ASSERT_EQ(vanishingTracks.size(), 1u);
    EXPECT_EQ(vanishingTracks.front().startTime, 4000.0);
    EXPECT_TRUE(w.pixel(w.column(0.65), w.row(0.5)).white());
    EXPECT_NEAR(w.pixel(w.column(0.25), w.row(0.5)).darkness(), 128, 20);
    // The removed shape left the list without being drawn.
    EXPECT_EQ(shapes.size(), 1u);
    EXPECT_EQ(draws, 1);
    vanishingTracks.clear();
}
