// The CPU record layer without a display: coverage and blending of single
// marks, bands of rows, the independence of the thread count, the choice of
// path, the level-of-detail stride and the subset's alpha compensation.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <limits>
#include <vector>

#include "mds/mds_axis.h"
#include "mds/mds_layout.h"
#include "records/raster.h"
#include "records/records.h"
#include "render/display.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "test_support.h"

namespace {

const RasterView pixels{0.0, 0.0, 1.0, 1.0};  // view units are pixels
const double black[4] = {0.0, 0.0, 0.0, 1.0};

RasterImage whiteImage(int w, int h) {
    RasterImage image;
    image.resize(w, h);
    image.fillRows(0, h, {1.0, 1.0, 1.0, 1.0});
    return image;
}

// Ink of a grey image: the sum over pixels of darkness, in pixels.
double ink(const RasterImage& image) {
    double sum = 0.0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) sum += (255 - image.at(x, y)[0]) / 255.0;
    return sum;
}

void line(RasterSink& sink, double x0, double y0, double x1, double y1) {
    sink.begin(Primitive::Lines);
    sink.vertex(x0, y0);
    sink.vertex(x1, y1);
    sink.end(Primitive::Lines);
}

}  // namespace

struct LineCase {
    const char* name;
    double x0, y0, x1, y1, width;
};

TEST(RasterMarks, SmoothLinesCarryTheInkOfTheirLengthAndWidth) {
    const LineCase cases[] = {
        {"on pixel centres", 10.0, 20.5, 90.0, 20.5, 1.0},
        {"on a pixel border", 10.0, 20.0, 90.0, 20.0, 1.0},
        {"shallow", 10.0, 10.0, 90.0, 40.0, 1.0},
        {"steep", 30.0, 2.0, 45.0, 60.0, 1.0},
        {"wide diagonal", 10.0, 10.0, 60.0, 60.0, 2.0},
    };
    for (const LineCase& c : cases) {
        RasterImage image = whiteImage(100, 64);
        RasterSink sink(image, pixels, true, 0, image.height);
        sink.lineWidth(c.width);
        sink.color(black);
        line(sink, c.x0, c.y0, c.x1, c.y1);
        sink.finish();
        const double length = std::hypot(c.x1 - c.x0, c.y1 - c.y0);
        EXPECT_NEAR(ink(image), length * c.width, 0.04 * length * c.width) << c.name;
    }
}

// A straight strip cut into pieces inks its joints once, like the whole line;
// pieces that each faded over a shared joint would leave it light.
TEST(RasterMarks, StripPiecesJoinWithoutLosingInk) {
    const LineCase cases[] = {
        {"shallow", 10.0, 10.0, 90.0, 40.0, 2.0},
        {"steep", 30.0, 2.0, 45.0, 60.0, 2.0},
        {"diagonal", 10.0, 10.0, 60.0, 60.0, 1.0},
    };
    for (const LineCase& c : cases) {
        for (int pieces : {2, 7, 20}) {
            RasterImage whole = whiteImage(100, 64);
            RasterImage strip = whiteImage(100, 64);
            RasterSink one(whole, pixels, true, 0, whole.height);
            RasterSink many(strip, pixels, true, 0, strip.height);
            for (RasterSink* sink : {&one, &many}) {
                sink->lineWidth(c.width);
                sink->color(black);
            }
            line(one, c.x0, c.y0, c.x1, c.y1);
            many.begin(Primitive::LineStrip);
            for (int i = 0; i <= pieces; ++i) {
                const double t = static_cast<double>(i) / pieces;
                many.vertex(c.x0 + t * (c.x1 - c.x0), c.y0 + t * (c.y1 - c.y0));
            }
            many.end(Primitive::LineStrip);
            one.finish();
            many.finish();
            EXPECT_NEAR(ink(strip), ink(whole), 0.002 * ink(whole)) << c.name << " in " << pieces;
        }
    }
}

TEST(RasterMarks, LaterMarksBlendOverEarlierOnes) {
    const double red[4] = {1.0, 0.0, 0.0, 1.0};
    const double halfBlue[4] = {0.0, 0.0, 1.0, 0.5};
    auto draw = [](const double* first, const double* second) {
        RasterImage image = whiteImage(40, 20);
        RasterSink sink(image, pixels, true, 0, image.height);
        for (const double* c : {first, second}) {
            sink.color(c);
            line(sink, 5.0, 10.5, 35.0, 10.5);
        }
        sink.finish();
        const std::uint8_t* p = image.at(20, 10);
        return std::vector<int>{p[0], p[1], p[2]};
    };
    // Half of each, to within the rounding of 8-bit channels.
    const std::vector<int> mixed = draw(red, halfBlue);
    EXPECT_NEAR(mixed[0], 128, 1);
    EXPECT_EQ(mixed[1], 0);
    EXPECT_NEAR(mixed[2], 128, 1);
    // Blue first, then opaque red covers it.
    EXPECT_EQ(draw(halfBlue, red), (std::vector<int>{255, 0, 0}));
}

TEST(RasterMarks, AliasedMarksAreOpaqueAndThin) {
    RasterImage image = whiteImage(60, 30);
    RasterSink sink(image, pixels, false, 0, image.height);
    const double faint[4] = {0.0, 0.0, 0.0, 0.1};
    sink.color(faint);
    line(sink, 5.0, 10.5, 45.0, 10.5);
    sink.pointSize(5.0);
    sink.begin(Primitive::Points);
    sink.vertex(52.0, 20.0);
    sink.end(Primitive::Points);
    sink.finish();
    // 40 pixels of line, 25 of point, all fully dark despite the alpha.
    EXPECT_DOUBLE_EQ(ink(image), 65.0);
    EXPECT_EQ(image.at(20, 10)[0], 0);
    EXPECT_EQ(image.at(20, 11)[0], 255);
}

TEST(RasterMarks, SmoothPointIsADiscOfItsSize) {
    for (double size : {5.0, 20.0}) {
        RasterImage image = whiteImage(40, 40);
        RasterSink sink(image, pixels, true, 0, image.height);
        sink.pointSize(size);
        sink.color(black);
        sink.begin(Primitive::Points);
        sink.vertex(20.3, 19.6);
        sink.end(Primitive::Points);
        sink.finish();
        const double r = size / 2.0;
        EXPECT_NEAR(ink(image), M_PI * r * r, 0.05 * M_PI * r * r) << size;
    }
}

TEST(RasterMarks, BandsTouchOnlyTheirRowsAndTileTheImage) {
    auto draw = [](RasterImage& image, int begin, int end) {
        RasterSink sink(image, pixels, true, begin, end);
        sink.color(black);
        sink.begin(Primitive::LineStrip);
        for (double x : {3.0, 20.0, 37.0, 50.0}) sink.vertex(x, x < 20.0 || x > 40.0 ? 2.0 : 45.0);
        sink.end(Primitive::LineStrip);
    };
    RasterImage whole = whiteImage(64, 48);
    draw(whole, 0, 48);
    RasterImage banded = whiteImage(64, 48);
    draw(banded, 17, 30);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool inside = y >= 17 && y < 30;
            ASSERT_EQ(banded.at(x, y)[0], inside ? whole.at(x, y)[0] : 255) << x << ',' << y;
        }
    draw(banded, 0, 17);
    draw(banded, 30, 48);
    EXPECT_EQ(banded.rgba, whole.rgba);
}

TEST(RasterMarks, WildCoordinatesDrawNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    RasterImage image = whiteImage(32, 32);
    const std::vector<std::uint8_t> blank = image.rgba;
    RasterSink sink(image, pixels, true, 0, image.height);
    sink.color(black);
    line(sink, nan, 5.0, 20.0, 5.0);
    line(sink, 0.0, 5.0, inf, 5.0);
    line(sink, -1e30, 5.0, 1e30, 6.0);
    line(sink, 7.0, 7.0, 7.0, 7.0);  // no length
    sink.begin(Primitive::Points);
    sink.vertex(nan, nan);
    sink.end(Primitive::Points);
    sink.finish();
    EXPECT_EQ(image.rgba, blank);
}

// ------------------------------------------------------------ the record layer

class RecordRasterTest : public InteractionTest {};

TEST_F(RecordRasterTest, ThreadCountDoesNotChangeTheImage) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"straight", [] {}},
        {"curves", [] { plot->straightLines = false; }},
        {"open regions", [] {
             plot->axes[0]->scatterOn = true;
             plot->axes[2]->scatterTransition = true;
             plot->axes[2]->scatterProgress = 0.3;
         }},
        {"aliased", [] { plot->antialiasingOff = true; }},
        {"binned, one region open", [] {
             setBinnedRecordThreshold(1);
             plot->axes[1]->scatterOn = true;
         }},
        {"density", [] { densityShading = true; }},
        // Geometry bins cannot draw falls back to the records, never to garbage.
        {"binned, two axes at one place, region in transition", [] {
             setBinnedRecordThreshold(1);
             plot->axes[2]->position = plot->axes[1]->position;
             plot->axes[0]->scatterTransition = true;
             plot->axes[0]->scatterProgress = 0.0;
         }},
        {"binned, zoomed far in, aliased", [] {
             setBinnedRecordThreshold(1);
             plot->setViewBox(0.3, 0.31, 0.4, 0.41, -1.0, 1.0);
             plot->antialiasingOff = true;
         }},
    };
    for (const Case& c : cases) {
        loadTable(testsupport::smallTable);
        c.arrange();
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        RasterImage one;
        one.resize(300, 130);
        rasteriseRecordLayer(*plot, frame, one, 1);
        EXPECT_GT(ink(one), 300.0) << c.name;
        for (int threads : {2, 3, 7}) {
            RasterImage many;
            many.resize(300, 130);
            rasteriseRecordLayer(*plot, frame, many, threads);
            EXPECT_EQ(many.rgba, one.rgba) << c.name << ' ' << threads;
        }
        setBinnedRecordThreshold(0);
        densityShading = false;
    }
}

TEST(RecordLayerPathChoice, SettingFirstThenTheRenderer) {
    struct Case {
        const char* setting;
        const char* renderer;
        RecordLayerPath path;
        bool known;
    };
    const Case cases[] = {
        {nullptr, "llvmpipe (LLVM 15.0.6, 256 bits)", RecordLayerPath::Software, true},
        {nullptr, "softpipe", RecordLayerPath::Software, true},
        {nullptr, "Software Rasterizer (swrast)", RecordLayerPath::Software, true},
        {nullptr, "AMD Radeon RX 6600", RecordLayerPath::Gl, true},
        {nullptr, nullptr, RecordLayerPath::Gl, true},
        {"gl", "llvmpipe", RecordLayerPath::Gl, true},
        {"Software", "Mesa Intel(R) UHD Graphics", RecordLayerPath::Software, true},
        {"", "llvmpipe", RecordLayerPath::Software, true},
        {"fast", "llvmpipe", RecordLayerPath::Software, false},
    };
    for (const Case& c : cases) {
        bool known = !c.known;
        EXPECT_EQ(chooseRecordLayerPath(c.setting, c.renderer, &known), c.path) << c.renderer;
        EXPECT_EQ(known, c.known) << (c.setting ? c.setting : "unset");
    }
}

TEST(LevelOfDetail, StrideFitsTheFrameIntoTheBudget) {
    struct Case {
        double fullMs, budgetMs;
        int stride;
    };
    const Case cases[] = {
        {0.0, 40.0, 1},    {39.0, 40.0, 1},   {40.0, 40.0, 1}, {41.0, 40.0, 2},
        {1000.0, 40.0, 25}, {1001.0, 40.0, 26}, {1e12, 40.0, 4096},
        {std::numeric_limits<double>::quiet_NaN(), 40.0, 1}, {500.0, 0.0, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(levelOfDetailStride(c.fullMs, c.budgetMs), c.stride) << c.fullMs;
}

TEST(LevelOfDetail, SubsetAlphaKeepsTheDensityOfTheWhole) {
    // k records of alpha a stacked over white leave (1 - a)^k of it; one
    // record of the compensated alpha must leave the same.
    for (double a : {0.0, 0.05, 0.3, 0.9, 1.0}) {
        for (int k : {1, 2, 7, 25}) {
            double stacked = 1.0;
            for (int i = 0; i < k; ++i) stacked = stacked * (1.0 - a);
            EXPECT_NEAR(1.0 - compensatedAlpha(a, k), stacked, 1e-12) << a << ' ' << k;
        }
    }
    EXPECT_DOUBLE_EQ(compensatedAlpha(0.4, 1), 0.4);
    EXPECT_DOUBLE_EQ(compensatedAlpha(1.5, 3), 1.0);  // opacities above 1 stay opaque
}

TEST_F(RecordRasterTest, AnimationsThatCallForLevelOfDetail) {
    EXPECT_FALSE(recordAnimationRunning(*plot));
    axis(1).scatterTransition = true;
    EXPECT_TRUE(recordAnimationRunning(*plot));
    axis(1).scatterTransition = false;

    layoutAnimating = true;
    EXPECT_TRUE(recordAnimationRunning(*plot));
    layoutAnimating = false;

    axis(2).mdsRunning = true;
    EXPECT_FALSE(recordAnimationRunning(*plot));  // no visible layout to move
    axis(2).mdsVisible = true;
    axis(2).mdsLayout = makeMdsLayout();
    EXPECT_TRUE(recordAnimationRunning(*plot));
    axis(2).mdsRunning = false;
    EXPECT_FALSE(recordAnimationRunning(*plot));
}
