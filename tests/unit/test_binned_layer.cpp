// Large tables drawn from bins against the same tables drawn record by
// record, density shading, and layers completed in slices.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "base/platform.h"
#include "bins/layer_composer.h"
#include "bins/slant_stack.h"
#include "brush/brush.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/raster.h"
#include "records/records.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "session/session.h"
#include "shapes/shape.h"
#include "test_support.h"

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 400;

// Clustered values: dense cores and sparse tails, so single lines, overlaps
// and saturated bands all show.
void installClusteredTable(int records, int dims) {
    TableContent content;
    content.recordCount = records;
    content.shownCount = dims;
    for (int d = 0; d < dims; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[static_cast<std::size_t>(records)]);
    }
    std::mt19937 random(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int r = 0; r < records; ++r) {
        const double base = normal(random) + 3.0 * (r % 3);
        for (int d = 0; d < dims; ++d)
            content.columns[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] = base * (d % 2 ? -1 : 1) + normal(random);
    }
    installTable(content);
}

// Every value drawn evenly: the cells of four values all occupied.
void installUniformTable(int records, int dims) {
    TableContent content;
    content.recordCount = records;
    content.shownCount = dims;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int d = 0; d < dims; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[static_cast<std::size_t>(records)]);
        for (int r = 0; r < records; ++r) content.columns.back()[static_cast<std::size_t>(r)] = uniform(random);
    }
    installTable(content);
}

RasterImage layer(int threshold) {
    setBinnedRecordThreshold(threshold);
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    RasterImage image;
    image.resize(kWidth, kHeight);
    rasteriseRecordLayer(*plot, frame, image, 2);
    return image;
}
RasterImage binned() { return layer(1); }
RasterImage perRecord() { return layer(std::numeric_limits<int>::max()); }

struct Difference {
    double mean = 0.0;      // per channel, over all pixels
    double farShare = 0.0;  // pixels with a channel more than 8 levels apart
};

// b read `shift` rows lower than a.
Difference compare(const RasterImage& a, const RasterImage& b, int shift = 0) {
    double sum = 0.0;
    long far = 0;
    for (int y = 0; y < a.height; ++y) {
        const int yb = std::clamp(y + shift, 0, b.height - 1);
        for (int x = 0; x < a.width; ++x) {
            int worst = 0;
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(a.at(x, y)[c] - b.at(x, yb)[c]);
                sum += d;
                worst = std::max(worst, d);
            }
            far += worst > 8;
        }
    }
    const double pixels = static_cast<double>(a.width) * a.height;
    return {sum / (3.0 * pixels), far / pixels};
}

bool background(const std::uint8_t* p) { return p[0] == 255 && p[1] == 255 && p[2] == 255; }

// What a picture from bins keeps to the one drawn record by record.
bool withinThresholds(const Difference& d) { return d.mean <= 2.0 && d.farShare <= 0.01; }

class BinnedLayerTest : public ::testing::Test {
protected:
    std::ostringstream trace;

    void SetUp() override {
        setTraceStream(&trace);
        windowWidth = kWidth;
        windowHeight = kHeight;
        forgetRecordLayer();
    }
    void TearDown() override {
        releasePlot();
        clearShapes();
        setBinnedRecordThreshold(0);
        densityShading = false;
        forgetRecordLayer();
        setTraceStream(nullptr);
    }
    void selectionMode() {
        if (palette != nullptr) palette->deselect(0, 0);
        PCAxisBrush brush(plot->axes[1], 0.3, 0.55, 0.23, 1.0);
        brush.apply();
        plot->intersectSelection(brush.membership());
    }
};

}  // namespace

TEST(SlantStack, SumsEveryCellAlongItsRecursiveLine) {
    constexpr int n = 16;
    constexpr int channels = 2;
    std::vector<float> grid(n * n * channels);
    std::mt19937 random(5);
    for (float& v : grid) v = static_cast<float>(random() % 100);
    SlantStack stack;
    // Computed over an earlier grid's sums first: nothing of them may remain.
    std::vector<float> earlier(grid.size(), 7.0f);
    stack.compute(earlier.data(), n, channels);
    stack.compute(grid.data(), n, channels);
    for (int theta = 0; theta < n; ++theta) {
        for (int h = -n; h < n; ++h) {
            for (int c = 0; c < channels; ++c) {
                float sum = 0.0f;
                for (int x = 0; x < n; ++x) {
                    const int y = h + slantRise(n, theta, x);
                    if (y >= 0 && y < n) sum += grid[(x * n + y) * channels + c];
                }
                ASSERT_EQ(stack.at(theta, h)[c], sum) << theta << ' ' << h << ' ' << c;
            }
        }
        // The line rises theta over the grid, within a cell and a half of straight.
        EXPECT_EQ(slantRise(n, theta, n - 1), theta);
        for (int x = 0; x < n; ++x) EXPECT_LE(std::abs(slantRise(n, theta, x) - theta * x / (n - 1.0)), 1.5);
    }
}

TEST_F(BinnedLayerTest, BinsDrawWhatTheRecordsDraw) {
    installClusteredTable(10000, 5);
    clearShapes();
    const RasterImage records = perRecord();
    const RasterImage bins = binned();
    const Difference d = compare(records, bins);
    EXPECT_LT(d.mean, 1.5);
    EXPECT_LT(d.farShare, 0.01);
    // Those thresholds catch a picture one pixel off, or one that blends only
    // half of the records.
    const Difference shifted = compare(records, records, 1);
    EXPECT_TRUE(shifted.mean > 1.5 || shifted.farShare > 0.01) << shifted.mean << ' ' << shifted.farShare;
    plot->setAllRecordColors({0.2, 0.2, 0.2, 0.1});
    const Difference half = compare(records, perRecord());
    EXPECT_TRUE(half.mean > 1.5 || half.farShare > 0.01) << half.mean << ' ' << half.farShare;
}

TEST_F(BinnedLayerTest, ThreadsDrawTheSameLayer) {
    // Regions are drawn in bands of columns shared out among the threads:
    // a column drawn twice or left out, or bands racing, changes the bytes.
    installClusteredTable(6000, 6);
    selectionMode();
    plot->axes[2]->scatterOn = true;
    auto drawnOn = [](int threads) {
        forgetRecordLayer();
        setBinnedRecordThreshold(1);
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        RasterImage image;
        image.resize(kWidth, kHeight);
        rasteriseRecordLayer(*plot, frame, image, threads);
        return image;
    };
    const RasterImage one = drawnOn(1);
    long inked = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) inked += !background(one.at(x, y));
    ASSERT_GT(inked, 20000);
    for (int threads : {2, 3, 5}) EXPECT_TRUE(drawnOn(threads).rgba == one.rgba) << threads;
}

TEST_F(BinnedLayerTest, NarrowRegionFromBinsDrawsWhatTheRecordsDraw) {
    installClusteredTable(10000, 4);
    // Axis 2 a tenth of a pixel right of axis 1: the region's lines run up
    // its column.
    plot->axes[2]->position = plot->axes[1]->position + 1e-4;
    const RasterImage records = perRecord();
    const RasterImage bins = binned();
    EXPECT_EQ(recordLayerStats().perRecordRegions, 0);
    const RasterView view = RasterView::of(*plot, kWidth, kHeight);
    const int middle = static_cast<int>((0.5 * (plot->axes[1]->position + plot->axes[2]->position) - view.left) * view.scaleX);
    // The columns about the narrow region only: the rest is the usual picture.
    auto around = [&](const RasterImage& image) {
        RasterImage part;
        part.resize(9, kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < 9; ++x)
                for (int c = 0; c < 4; ++c)
                    part.rgba[(static_cast<std::size_t>(y) * 9 + static_cast<std::size_t>(x)) * 4 + static_cast<std::size_t>(c)] =
                        image.at(std::clamp(middle - 4 + x, 0, kWidth - 1), y)[c];
        return part;
    };
    const RasterImage a = around(records);
    long inked = 0;
    for (int y = 0; y < kHeight; ++y) inked += !background(a.at(4, y)) || !background(a.at(3, y));
    ASSERT_GT(inked, kHeight / 4);
    const Difference d = compare(a, around(bins));
    EXPECT_LT(d.mean, 2.0) << d.farShare;
    EXPECT_LT(d.farShare, 0.02) << d.mean;
    // A column of half the records' alpha is told apart.
    plot->setAllRecordColors({0.2, 0.2, 0.2, 0.1});
    const Difference half = compare(a, around(perRecord()));
    EXPECT_TRUE(half.mean > 2.0 || half.farShare > 0.02) << half.mean << ' ' << half.farShare;
}

TEST_F(BinnedLayerTest, BinsCoverTheSamePixelsAndMixOnlyTheRecordsColours) {
    installClusteredTable(10000, 5);
    selectionMode();
    const RasterImage records = perRecord();
    const RasterImage bins = binned();
    long covered = 0, mismatched = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool a = !background(records.at(x, y));
            const bool b = !background(bins.at(x, y));
            covered += a || b;
            mismatched += a != b;
        }
    }
    ASSERT_GT(covered, 10000);
    EXPECT_LT(static_cast<double>(mismatched) / covered, 0.02);

    // Opaque red and blue records over white: every mixture of them lies on
    // the plane red + blue - green = 255, with green below both.
    plot->setAllRecordColors({0.0, 0.0, 1.0, 1.0});
    std::vector<double> firstHalf(static_cast<std::size_t>(plot->recordCount), 0.0);
    std::fill(firstHalf.begin(), firstHalf.begin() + plot->recordCount / 2, 1.0);
    plot->paintSelected(firstHalf.data(), {1.0, 0.0, 0.0, 1.0});
    const RasterImage mixed = binned();
    long inked = 0, off = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t* p = mixed.at(x, y);
            if (background(p)) continue;
            ++inked;
            off += std::abs(p[0] + p[2] - p[1] - 255) > 6 || p[1] > std::min(p[0], p[2]) + 6;
        }
    }
    ASSERT_GT(inked, 10000);
    EXPECT_EQ(off, 0);
}

TEST_F(BinnedLayerTest, CountingOneSideOfTheSelectionMatchesCountingEveryRecord) {
    installClusteredTable(6000, 4);
    selectionMode();
    plot->axes[1]->scatterOn = true;  // points too, counted per bin
    const RasterImage sides = binned();
    // The same selection through a colour function the bins cannot split:
    // every record is counted with its own colour.
    plot->selectionColorFn = [](const PCPlot& p, int r, double s, Rgba& out) { ::selectionColorFn(p, r, s, out); };
    forgetRecordLayer();
    const RasterImage every = binned();
    const Difference d = compare(sides, every);
    EXPECT_LT(d.mean, 0.05);
    EXPECT_EQ(d.farShare, 0.0);
}

TEST_F(BinnedLayerTest, SlicesMakeTheLayerOneGoMakes) {
    struct Case {
        const char* name;
        bool binned;
        int slices;  // at least, with a slice per call
        void (*arrange)();
    };
    const Case cases[] = {
        {"curves", false, 3, [] { plot->straightLines = false; }},
        {"open region", false, 3, [] { plot->axes[1]->scatterOn = true; }},
        {"density", false, 3, [] { densityShading = true; }},
        {"open region and highlight, binned", true, 1, [] {
             plot->axes[1]->scatterOn = true;
             plot->highlightRecord(17);
         }},
    };
    for (const Case& c : cases) {
        installClusteredTable(3000, 4);
        c.arrange();
        setBinnedRecordThreshold(c.binned ? 1 : std::numeric_limits<int>::max());
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        LayerOptions options;
        options.width = kWidth;
        options.height = kHeight;
        options.threads = 2;
        options.binned = c.binned;
        options.density = densityShading;
        BinnedTable bins;
        LayerComposer whole;
        whole.start(*plot, frame, bins, options);
        whole.run(*plot, std::numeric_limits<double>::infinity());
        LayerComposer sliced;
        sliced.start(*plot, frame, bins, options);
        int slices = 0;
        double progress = 0.0;
        while (!sliced.run(*plot, -1.0)) {  // one slice at a time
            EXPECT_GE(sliced.fraction(), progress) << c.name;
            progress = sliced.fraction();
            ++slices;
        }
        EXPECT_GE(slices, c.slices) << c.name;
        EXPECT_TRUE(sliced.image().rgba == whole.image().rgba) << c.name;
        densityShading = false;
    }
}

TEST_F(BinnedLayerTest, DensityShadingShowsTheInsideOfASaturatedBand) {
    installClusteredTable(20000, 4);
    // The pixels where the records drawn one by one saturate to their grey.
    const RasterImage plain = perRecord();
    std::vector<std::pair<int, int>> band;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (std::abs(plain.at(x, y)[0] - plain.at(kWidth / 2, kHeight / 2)[0]) <= 2) band.emplace_back(x, y);
    ASSERT_GT(band.size(), 20000u);
    densityShading = true;
    for (int threshold : {std::numeric_limits<int>::max(), 1}) {
        const RasterImage shaded = layer(threshold);
        std::set<int> greys;
        for (const auto& [x, y] : band) greys.insert(shaded.at(x, y)[0]);
        EXPECT_GE(greys.size(), 20u) << threshold;
    }
}

TEST_F(BinnedLayerTest, CurvesAndOpenRegionsFromBinsDrawWhatTheRecordsDraw) {
    struct Case {
        const char* name;
        void (*arrange)();
    };
    const Case cases[] = {
        {"curves", [] { plot->straightLines = false; }},
        {"open region", [] { plot->axes[1]->scatterOn = true; }},
        {"open region, curves", [] {
             plot->straightLines = false;
             plot->axes[2]->scatterOn = true;
         }},
        {"transition", [] {
             PCShowAxis& axis = *plot->axes[1];
             axis.scatterOn = axis.scatterTransition = true;
             axis.scatterProgress = 0.4;
         }},
        {"transition, curves", [] {
             plot->straightLines = false;
             PCShowAxis& axis = *plot->axes[2];
             axis.scatterOn = axis.scatterTransition = true;
             axis.scatterProgress = 0.7;
         }},
        {"curves, anti-aliasing off", [] {
             plot->straightLines = false;
             plot->antialiasingOff = true;
         }},
        // A neighbouring gap ten times the region's: the curve folds back.
        {"uneven spacing, curves", [] {
             plot->straightLines = false;
             plot->axes[2]->position = plot->axes[1]->position + 0.023;
         }},
    };
    for (const Case& c : cases) {
        installClusteredTable(10000, 5);
        c.arrange();
        clearShapes();
        const RasterImage records = perRecord();
        const RasterImage bins = binned();
        EXPECT_EQ(recordLayerStats().perRecordRegions, 0) << c.name;
        const Difference d = compare(records, bins);
        EXPECT_TRUE(withinThresholds(d)) << c.name << ' ' << d.mean << ' ' << d.farShare;
        // The thresholds tell a picture one pixel off.
        const Difference shifted = compare(records, bins, 1);
        EXPECT_FALSE(withinThresholds(shifted)) << c.name << ' ' << shifted.mean << ' ' << shifted.farShare;
    }
}

TEST_F(BinnedLayerTest, CellsBeyondTheBudgetArePooledWithEveryRecordKept) {
    // Even values on four axes: far more occupied fine cells than a frame draws.
    installUniformTable(60000, 4);
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    std::vector<BinCoordinates> values(4);
    for (int k = 0; k < 4; ++k) computeBinCoordinates(frame.normalized[static_cast<std::size_t>(k)], plot->recordCount, values[static_cast<std::size_t>(k)], 2);
    BinColors allBut7;
    allBut7.compute(*plot, 7, 2);
    BinColors all;
    all.compute(*plot, -1, 2);
    struct Case {
        std::array<int, 4> present;  // which values the region has
    };
    for (const Case& c : {Case{{1, 1, 1, 1}}, Case{{0, 1, 1, 1}}, Case{{0, 1, 1, 0}}}) {
        std::array<const BinCoordinates*, cellValues> in{};
        for (std::size_t k = 0; k < 4; ++k) in[k] = c.present[k] ? &values[k] : nullptr;
        CellBins cells;
        cells.place(in, plot->recordCount, allBut7, 7);
        EXPECT_LE(cells.drawnCells(), cellBudget);
        EXPECT_EQ(cells.countedRecords(), plot->recordCount - 1);
        cells.count(in, plot->recordCount, all, -1);
        EXPECT_EQ(cells.countedRecords(), plot->recordCount);
    }
}

TEST_F(BinnedLayerTest, AnyNumberOfPaintsStaysBinned) {
    installClusteredTable(10000, 5);
    clearShapes();
    // 64 alphas of one grey: merged into fewer classes, drawn where the records are.
    std::vector<double> painted(static_cast<std::size_t>(plot->recordCount));
    auto paint = [&](int k, const Rgba& color) {
        for (int r = 0; r < plot->recordCount; ++r) painted[static_cast<std::size_t>(r)] = r % 64 == k ? 1.0 : 0.0;
        plot->paintSelected(painted.data(), color);
    };
    for (int k = 0; k < 64; ++k) paint(k, {0.2, 0.2, 0.2, (k + 1) / 65.0});
    const RasterImage records = perRecord();
    const RasterImage bins = binned();
    EXPECT_EQ(recordLayerStats().perRecordRegions, 0);
    const Difference d = compare(records, bins);
    EXPECT_TRUE(withinThresholds(d)) << d.mean << ' ' << d.farShare;
    // And 64 colours as well.
    for (int k = 0; k < 64; ++k) paint(k, {k / 63.0, 1.0 - k / 63.0, 0.5, 0.3 + k / 128.0});
    binned();
    EXPECT_TRUE(recordLayerStats().binned);
    EXPECT_EQ(recordLayerStats().perRecordRegions, 0);
}

TEST_F(BinnedLayerTest, AfterManyAxisMovesEveryRegionComesFromBinsWithinTheBudget) {
    installClusteredTable(5000, 8);
    clearShapes();
    BinnedTable bins;
    // Room for a view's bins and a few more: the rest must make way.
    bins.setMemoryLimit(std::size_t(160) << 20);
    LayerOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.threads = 2;
    options.binned = true;
    std::set<std::pair<int, int>> shown;
    std::mt19937 random(3);
    for (int move = 0; move < 50; ++move) {
        const int from = static_cast<int>(random() % 8);
        const int to = static_cast<int>(random() % 8);
        plot->axes[from]->position = plot->axes[to]->position + (to >= from ? 0.01 : -0.01);
        plot->resortAxes();
        plot->spaceAxesEvenly();
        plot->straightLines = move % 10 != 9;  // now and then curves
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        for (int i = 0; i + 1 < plot->axisCount; ++i) shown.emplace(frame.dimensionOf[i], frame.dimensionOf[i + 1]);
        LayerComposer composer;
        composer.start(*plot, frame, bins, options);
        composer.run(*plot, std::numeric_limits<double>::infinity());
        ASSERT_EQ(composer.perRecordRegions(), 0) << move;
        ASSERT_LE(bins.binBytes(), bins.memoryLimit()) << move;
    }
    EXPECT_LT(bins.heldPairs(), static_cast<int>(shown.size()));
}

TEST_F(BinnedLayerTest, ATableTakesItsBinsWithItBeforeTheNextFileIsRead) {
    installClusteredTable(6000, 4);
    binned();
    ASSERT_GT(binnedTable().binBytes(), 0u);
    // A file that takes a while to read, so the load waits for it.
    int waits = 0;
    std::size_t heldWhileReading = 0;
    setLoadWaitHook([&](double) {
        ++waits;
        heldWhileReading += binnedTable().binBytes() + binnedTable().recordBytes();
    });
    ASSERT_NO_FATAL_FAILURE(
        testsupport::useTableFile("1500000 2 2 1 name a b" + testsupport::largeRecords(1500000), "bins"));
    loadDataFile();
    setLoadWaitHook({});
    ASSERT_EQ(plot->recordCount, 1500000);
    ASSERT_GT(waits, 0);
    EXPECT_EQ(heldWhileReading, 0u);
}

TEST_F(BinnedLayerTest, TheHighlightedRecordIsDrawnOverEveryOtherRecordOnBothPaths) {
    installClusteredTable(10000, 4);
    clearShapes();
    // The first record: every other one is drawn after it.
    plot->highlightRecord(0);
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    // Where it crosses the middle of the first region, in the image's pixels.
    const double mid = 0.5 * (frame.normalized[0][0] * frame.height[0] + frame.bottom[0] +
                               frame.normalized[1][0] * frame.height[1] + frame.bottom[1]);
    const int x = static_cast<int>(0.5 * (plot->axisPositions[0] + plot->axisPositions[1]) * kWidth);
    const int y = static_cast<int>(mid * kHeight);
    for (int threshold : {std::numeric_limits<int>::max(), 1}) {
        const RasterImage image = layer(threshold);
        const std::uint8_t* p = image.at(x, y);
        EXPECT_GT(p[0], p[1] + 100) << threshold << ": " << int(p[0]) << ' ' << int(p[1]) << ' ' << int(p[2]);
    }
}

// Every line on one path through the middle of the axes, two more records
// giving the ranges: whatever is drawn first lies under all the rest in
// record order. Record by record and from bins, what is selected, and the
// latest paint, lies on top; a colour painted again moves up as a whole; a
// lone painted point keeps its colour from bins.
TEST_F(BinnedLayerTest, WhatIsSelectedOrPaintedLatestLiesOnTopOnBothPaths) {
    constexpr int n = 6000;
    auto paint = [](int first, int last, const Rgba& color) {
        std::vector<double> v(n, 0.0);
        std::fill(v.begin() + first, v.begin() + last, 1.0);
        plot->paintSelected(v.data(), color);
    };
    auto reddish = [](const std::uint8_t* p) { return p[0] > p[1] + 100 && p[0] > p[2] + 100; };
    struct Case {
        const char* name;
        void (*arrange)();
        bool (*expected)(const std::uint8_t*);
        bool open;  // the pixel is the point of region 1, else the middle of region 0
    };
    static const auto paintAt = paint;
    static const auto red = reddish;
    const Case cases[] = {
        {"the first record selected, the rest not",
         [] {
             palette->deselect(0, 0);
             std::vector<double> v(n, 0.23);
             v[0] = 1.0;
             plot->intersectSelection(v.data());
         },
         [](const std::uint8_t* p) { return p[1] > p[0] + 100 && p[1] > p[2] + 100; }, false},
        {"... and its point", [] {
             palette->deselect(0, 0);
             std::vector<double> v(n, 0.23);
             v[0] = 1.0;
             plot->intersectSelection(v.data());
             plot->axes[1]->scatterOn = true;
         },
         [](const std::uint8_t* p) { return p[1] > p[0] + 100 && p[1] > p[2] + 100; }, true},
        {"... under density shading", [] {
             palette->deselect(0, 0);
             std::vector<double> v(n, 0.23);
             v[0] = 1.0;
             plot->intersectSelection(v.data());
             densityShading = true;
         },
         [](const std::uint8_t* p) { return p[1] > p[0] + 50 && p[1] > p[2] + 50; }, false},
        {"the first records painted last", [] {
             paintAt(n / 2, n, {0.1, 0.1, 0.9, 0.8});
             paintAt(0, n / 2, {0.9, 0.1, 0.1, 0.8});
         },
         red, false},
        {"a colour painted again", [] {
             paintAt(0, n / 3, {0.9, 0.1, 0.1, 0.8});
             paintAt(n / 3, 2 * n / 3, {0.1, 0.1, 0.9, 0.8});
             paintAt(2 * n / 3, n - 2, {0.9, 0.1, 0.1, 0.8});
             plot->straightLines = false;
         },
         red, false},
    };
    // Every record at `value` on all four axes, the last two at 0 and 1.
    auto install = [](double (*value)(int r, int d)) {
        TableContent content;
        content.recordCount = n;
        content.shownCount = 4;
        for (int d = 0; d < 4; ++d) {
            content.names.push_back("d" + std::to_string(d));
            content.columns.emplace_back(new double[n]);
            for (int r = 0; r < n; ++r) content.columns.back()[r] = r >= n - 2 ? r - (n - 2) : value(r, d);
        }
        installTable(content);
    };
    for (const Case& c : cases) {
        install([](int, int) { return 0.5; });
        c.arrange();
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        const double x = c.open ? plot->axisPositions[1] + 0.5 * (plot->axisPositions[2] - plot->axisPositions[1])
                                : 0.5 * (plot->axisPositions[0] + plot->axisPositions[1]);
        const double y = 0.5 * frame.height[0] + frame.bottom[0];
        for (int threshold : {std::numeric_limits<int>::max(), 1}) {
            const RasterImage image = layer(threshold);
            const std::uint8_t* p = image.at(static_cast<int>(x * kWidth), static_cast<int>(y * kHeight));
            EXPECT_TRUE(c.expected(p)) << c.name << ", threshold " << threshold << ": " << int(p[0]) << ' ' << int(p[1])
                                       << ' ' << int(p[2]);
        }
        densityShading = false;
    }

    // A lone painted point far from the rest, over its shadow.
    install([](int r, int d) { return r == 0 ? 0.9 : 0.1 + 0.0001 * ((r * 7 + d) % 1000); });
    plot->axes[1]->scatterOn = true;
    paint(0, 1, {0.95, 0.05, 0.0, 0.9});
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    ScatterPlace place;
    ASSERT_TRUE(scatterPlaceOf(*plot, frame, 1, place));
    const Point at = place.at(0);
    const RasterImage records = perRecord();
    const RasterImage bins = binned();
    const std::uint8_t* a = records.at(static_cast<int>(at.x * kWidth), static_cast<int>(at.y * kHeight));
    const std::uint8_t* b = bins.at(static_cast<int>(at.x * kWidth), static_cast<int>(at.y * kHeight));
    EXPECT_TRUE(reddish(a));
    for (int k = 0; k < 3; ++k) EXPECT_LE(std::abs(a[k] - b[k]), 8) << k;
}
