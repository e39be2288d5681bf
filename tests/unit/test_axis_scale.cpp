// Flipped and logarithmic axes: keys I and L, brushes made and kept on
// them, labels and missing values, and the bins of large tables.

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "data/table_content.h"
#include "bins/layer_composer.h"
#include "render/layers.h"
#include "records/raster.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "test_support.h"

namespace {

// lg spreads evenly on a log axis (and crowds at the bottom of a linear
// one); sy is symmetric around zero (symlog's c, the median of the non-zero
// magnitudes, is 100); cat is a category axis.
const char* const scaleTable =
    "5 3 3 1\n"
    "name lg sy cat\n"
    "r0 1 -100 0\n"
    "r1 10 -10 1\n"
    "r2 100 0 0\n"
    "r3 1000 10 1\n"
    "r4 10000 100 0\n"
    "label cat 2 0 a 1 b\n";

class AxisScaleTest : public InteractionTest {
protected:
    void SetUp() override {
        InteractionTest::SetUp();
        loadTable(scaleTable);
    }
    // Presses key (case and all) with the pointer just right of axis i.
    void keys(const std::string& pressed, int i) {
        for (char k : pressed) onKey(static_cast<unsigned char>(k), px(axis(i).position + 0.01), py(0.5));
    }
    Positions positionsOn(int i) { return plot->normalizedOn(&axis(i)); }
    std::vector<double> selection() {
        std::vector<double> s;
        for (int r = 0; r < plot->recordCount; ++r) s.push_back(plot->recordSelection[r]);
        return s;
    }
};

TEST_F(AxisScaleTest, KeysFlipAndScaleTheAxisNearestThePointer) {
    const struct {
        const char* keys;
        int axis;
        const char* line;
        int redraws;
    } cases[] = {
        {"i", 0, " axis lg flipped", 1},
        {"I", 0, " axis lg upright", 1},
        {"l", 0, " axis lg scale log", 1},
        {"L", 0, " axis lg scale linear", 1},
        {"l", 1, " axis sy scale symlog c=100", 1},
        {"l", 2, " axis cat: no log scale for time or category axes", 0},
        {"i", 2, " axis cat flipped", 1},
    };
    for (const auto& c : cases) {
        clearTrace();
        keys(c.keys, c.axis);
        EXPECT_EQ(traceLines().back(), c.line);
        EXPECT_EQ(redraws, c.redraws) << c.line;
    }
    EXPECT_EQ(plot->axisScale(axis(1)), AxisScale::Symlog);
    keys("r", 0);  // a reset stands every axis upright and linear again
    EXPECT_EQ(plot->axisScale(axis(1)), AxisScale::Linear);
    EXPECT_FALSE(plot->axisFlipped(axis(2)));
}

TEST_F(AxisScaleTest, AxisBrushesSelectWhatIsDrawnAndKeepTheirValues) {
    // Strokes over a stretch of the axis (0 bottom, 1 top) select the records
    // drawn there; the expected positions are worked out by hand.
    const struct {
        const char* name;
        int axis;
        const char* keys;
        double from, to;
        std::vector<double> selected;
    } cases[] = {
        {"linear: all but one crowd below", 0, "", 0.4, 0.8, {0.23, 0.23, 0.23, 0.23, 0.23}},
        {"log: 0.26 apart", 0, "l", 0.4, 0.8, {0.23, 0.23, 1, 1, 0.23}},
        {"flipped: small values on top", 0, "i", 0.95, 1.05, {1, 1, 1, 0.23, 0.23}},
        {"flipped log", 0, "il", 0.7, 1.05, {1, 1, 0.23, 0.23, 0.23}},
        {"symlog: +-10 at 0.43 and 0.57", 1, "l", 0.4, 0.6, {0.23, 1, 1, 1, 0.23}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        loadTable(scaleTable);
        palette->deselect(0, 0);
        keys(c.keys, c.axis);
        const double x = axis(c.axis).position;
        interaction.strokePoints = {{x, 0.1 + 0.8 * c.from}, {x, 0.1 + 0.8 * (c.from + c.to) / 2}, {x, 0.1 + 0.8 * c.to}};
        dispatchStroke();
        ASSERT_EQ(axisBrushes.size(), 1u);
        EXPECT_EQ(selection(), c.selected);
        // Flipped and scaled further, the kept brush is drawn around the same
        // records; the selection stays as it was.
        for (const char* more : {"i", "l", "l", "i", "l"}) {
            keys(more, c.axis);
            double low = 0.0, high = 0.0;
            axisBrushInterval(*axisBrushes[0], low, high);
            const Positions p = positionsOn(c.axis);
            for (int r = 0; r < 5; ++r)
                EXPECT_EQ(std::min(low, high) <= p[r] && p[r] <= std::max(low, high), c.selected[r] == 1)
                    << "after " << more << ", record " << r;
            EXPECT_EQ(selection(), c.selected);
        }
    }
}

TEST_F(AxisScaleTest, AngularAndOutlineBrushesHideOnceTheirAxisChanges) {
    palette->deselect(0, 0);
    interaction.strokePoints = {{0.3, 0.7}, {0.25, 0.65}, {0.2, 0.6}, {0.15, 0.5}, {0.2, 0.4}, {0.25, 0.35}, {0.3, 0.3}};
    dispatchStroke();
    ASSERT_EQ(angularBrushes.size(), 1u);
    interaction.strokePoints = {{0.6, 0.3}, {0.8, 0.3}, {0.8, 0.6}, {0.6, 0.6}};
    scatterPlotBrushes.push_back(std::make_unique<PCScatterPlotBrush>(&axis(1), &axis(2), 0.23, 1.0));
    const struct {
        const char* keys;
        int axis;
        std::vector<std::string> hidden;  // lines written
        bool angular, outline;            // drawn afterwards
    } steps[] = {
        {"i", 0, {" brush on lg hidden: its axis changed"}, false, true},
        {"l", 1, {" brush on sy hidden: its axis changed"}, false, false},
        {"i", 0, {}, false, false},
        {"l", 1, {}, true, true},  // both axes as they were: drawn again
    };
    for (const auto& s : steps) {
        clearTrace();
        keys(s.keys, s.axis);
        std::vector<std::string> lines;
        for (const std::string& l : traceLines())
            if (l.find("hidden") != std::string::npos) lines.push_back(l);
        EXPECT_EQ(lines, s.hidden) << s.keys << s.axis;
        EXPECT_EQ(drawnAsMade(*angularBrushes[0]), s.angular) << s.keys << s.axis;
        EXPECT_EQ(drawnAsMade(*scatterPlotBrushes[0]), s.outline) << s.keys << s.axis;
    }
}

TEST_F(AxisScaleTest, LabelsShowDataValuesAndMissingValuesStayOutside) {
    // a: 1 .. 1000 and a missing cell (stood in by -98.9); b: -5 .. 50.
    loadTable("a,b\n1,-5\n10,\n100,5\n,0\n1000,50\n", "missing.csv");
    const double logTop = std::pow(10.0, 3.066), logBottom = std::pow(10.0, -0.366);
    const struct {
        const char* keys;
        double top, bottom;
    } cases[] = {
        {"", 1021.978, -120.878}, {"i", -120.878, 1021.978}, {"il", logTop, logBottom}, {"i", logBottom, logTop},
    };
    Dimension& a = *plot->dimensions[0];
    int unflipped[11];
    countHistogram(a.positions(), plot->recordCount, 10, unflipped);
    for (const auto& c : cases) {
        keys(c.keys, 0);
        const Placement p = a.placement();
        EXPECT_NEAR(p.valueAtEnd(true), c.top, 1e-9 * std::fabs(c.top)) << c.keys;
        EXPECT_NEAR(p.valueAtEnd(false), c.bottom, 1e-9 * std::fabs(c.bottom)) << c.keys;
        // Just beyond the present values, inside the axis: below, or above when flipped.
        const double missing = p.position(a.missingValue);
        for (double v : {1.0, 1000.0}) EXPECT_EQ(missing < p.position(v), !a.flipped) << c.keys << v;
        EXPECT_GE(missing, 0.0);
        EXPECT_LE(missing, 1.0);
        if (a.flipped && a.scale == AxisScale::Linear) {
            int counts[11];
            countHistogram(a.positions(), plot->recordCount, 10, counts);
            for (int j = 0; j < 10; ++j) EXPECT_EQ(counts[j], unflipped[9 - j]) << j;
        }
    }
    clearTrace();
    keys("l", 1);
    EXPECT_EQ(traceLines().back(), " axis b scale symlog c=5");
    const Placement b = plot->dimensions[1]->placement();
    EXPECT_LT(b.position(plot->dimensions[1]->missingValue), b.position(-5.0));
}

// The layer of a large table from bins, or record by record.
RasterImage layerOf(int threshold) {
    setBinnedRecordThreshold(threshold);
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    RasterImage image;
    image.resize(600, 300);
    rasteriseRecordLayer(*plot, frame, image, 2);
    return image;
}

double meanDifference(const RasterImage& a, const RasterImage& b) {
    double sum = 0.0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(a.at(x, y)[c] - b.at(x, y)[c]);
    return sum / (3.0 * a.width * a.height);
}

TEST_F(AxisScaleTest, BinsFollowAFlipOrAScaleAndRecountOnlyItsRegions) {
    constexpr int records = 8000;
    TableContent content;
    content.recordCount = records;
    content.shownCount = 4;
    for (int d = 0; d < 4; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[records]);
        for (int r = 0; r < records; ++r) content.columns.back()[r] = std::pow(1.001, r % (500 + 300 * d)) - 1.0;
    }
    installTable(content);
    clearShapes();
    forgetRecordLayer();
    RasterImage before = layerOf(1);
    for (const char* change : {"i", "l"}) {
        SCOPED_TRACE(change);
        const long rebuilds = binnedTable().rebuilds();
        keys(change, 1);
        const RasterImage bins = layerOf(1);
        EXPECT_EQ(binnedTable().rebuilds(), rebuilds + 2);  // the regions either side of axis 1
        EXPECT_GT(meanDifference(before, bins), 1.0);
        // This table's bins differ from its records by about 1.6 levels;
        // bins left as they were, by about 9.
        EXPECT_LT(meanDifference(bins, layerOf(std::numeric_limits<int>::max())), 3.0);
        before = bins;
    }
    setBinnedRecordThreshold(0);
    forgetRecordLayer();
}

}  // namespace

TEST_F(AxisScaleTest, AFlipOrAMovedAxisCountsOnlyPairsNotHeldInEitherOrder) {
    constexpr int records = 8000;
    TableContent content;
    content.recordCount = records;
    content.shownCount = 4;
    for (int d = 0; d < 4; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[records]);
        for (int r = 0; r < records; ++r) content.columns.back()[r] = std::pow(1.001, r % (500 + 300 * d)) - 1.0;
    }
    installTable(content);
    clearShapes();
    forgetRecordLayer();
    layerOf(1);
    auto moveAxis = [](int dimension, double position) {
        for (int i = 0; i < plot->axisCount; ++i)
            if (plot->axes[i]->dimensionIndex == dimension) plot->axes[i]->position = position;
        plot->resortAxes();
    };
    const struct {
        const char* step;
        std::function<void()> act;
        long passes;  // regions whose records are read again
    } steps[] = {
        {"the same state again", [] {}, 0},
        {"axis 1 flipped", [this] { keys("i", 1); }, 0},
        {"and upright again", [this] { keys("i", 1); }, 0},
        {"d0 past d1: (d1, d0) is held as (d0, d1)", [&] { moveAxis(0, 0.45); }, 1},
        {"d0 back: every pair held", [&] { moveAxis(0, 0.0); }, 0},
        {"d3 to the front, flipped: only (d3, d0) is new", [&] { moveAxis(3, -0.1); keys("i", 0); }, 1},
        {"axis 2 log: its two regions", [this] { keys("l", 2); }, 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        const long passes = binnedTable().recordPasses();
        s.act();
        const RasterImage bins = layerOf(1);
        EXPECT_EQ(binnedTable().recordPasses(), passes + s.passes);
        // Bins read the wrong way round differ from the records by about 9 levels.
        EXPECT_LT(meanDifference(bins, layerOf(std::numeric_limits<int>::max())), 3.0);
    }
    setBinnedRecordThreshold(0);
    forgetRecordLayer();
}
