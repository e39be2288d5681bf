// Hover details and the records window's rows, without a display: what the
// search finds against the geometry the renderers draw, the box's values,
// the rows as they follow the plot, sorting, row clicks, copying, and
// Export in the window's order.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "data/load_progress.h"
#include "interaction/hover.h"
#include "listing/records_table.h"
#include "records/capture_sink.h"
#include "records/records.h"
#include "session/saved_view.h"
#include "test_support.h"

namespace {

// Labels, a date column, a category column (two kinds among six rows) and
// numbers with one missing cell.
const char* const mixedCsv =
    "name,when,kind,x\n"
    "a,2020-01-02,cat,1.5\n"
    "b,2021-03-04,dog,\n"
    "c,2022-05-06,cat,3\n"
    "d,2023-07-08,dog,4\n"
    "e,2024-09-10,cat,2\n"
    "f,2025-11-12,dog,0.5\n";

class RecordsTest : public InteractionTest {
protected:
    void TearDown() override {
        recordsTable.close();
        recordsTable.setSort(noSort, false);
        InteractionTest::TearDown();
    }

    // Follows the plot until no sort runs any more.
    static void settle() {
        for (int k = 0; k < 5000 && (recordsTable.follow(), recordsTable.sorting()); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        recordsTable.follow();
    }
    static std::vector<int> rows() {
        std::vector<int> out;
        recordsTable.forRows(0, recordsTable.rowCount(), [&](int, int record) { out.push_back(record); });
        return out;
    }
    static std::vector<std::string> columnNames() {
        std::vector<std::string> out;
        for (const RecordsColumn& c : recordsTable.columns()) out.push_back(c.name);
        return out;
    }
    void brush(int axisIndex, double low, double high) {
        commitBrush(std::make_unique<PCAxisBrush>(plot->axes[axisIndex], low, high, 0.23, 1.0), BrushKind::Axis,
                    axisTrackMs);
    }

    // Drawing-area pixels of a view position.
    static Point pixels(double x, double y) { return {x * plot->viewportWidth, (1.0 - y) * plot->viewportHeight}; }

    // The record's drawing as the renderers make it, in pixels: the line
    // vertices within region i, or its point there.
    static std::vector<Point> drawn(int record, int i, bool point) {
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        RecordPass pass;
        EXPECT_TRUE(pass.prepare(*plot, frame));
        pass.first = record;
        pass.last = record + 1;
        CaptureSink sink;
        renderRecordLayer(*plot, pass, screenPieceRule(*plot), plot->straightLines, sink);
        std::vector<Point> out;
        const double left = plot->axes[i]->position, right = plot->axes[i + 1]->position;
        for (const CapturedPrimitive& p : sink.primitives) {
            if ((p.type == Primitive::Points) != point) continue;
            const auto* v = sink.vertices.data() + p.first;
            // A point comes after its shadow; a line's pieces in the region lie wholly in it.
            bool within = true;
            for (int k = 0; k < p.count; ++k) within = within && v[k].x >= left && v[k].x <= right;
            for (int k = point ? 1 : 0; k < p.count && (within || point); k += point ? 2 : 1)
                if (!point || (v[k].x > left && v[k].x < right))
                    if (out.empty() || out.back().x != pixels(v[k].x, v[k].y).x) out.push_back(pixels(v[k].x, v[k].y));
        }
        if (out.size() == 2) {  // a straight line: points along it
            const Point a = out[0], b = out[1];
            out.clear();
            for (int k = 0; k <= 6; ++k) out.push_back({a.x + (b.x - a.x) * k / 6, a.y + (b.y - a.y) * k / 6});
        }
        return out;
    }
};

TEST_F(RecordsTest, HoverFindsTheNearestLineOrPointWithinFourPixels) {
    const struct {
        const char* name;
        bool straight;
        int open;  // the region opened, -1 none
        bool point;
        bool scaled;  // axis 1 symlog, axis 2 flipped
    } cases[] = {
        {"straight lines", true, -1, false, false},
        {"curves", false, -1, false, false},
        {"curves beside an open region", false, 2, false, false},
        {"points of an open region", true, 1, true, false},
        {"straight lines over a symlog and a flipped axis", true, -1, false, true},
        {"curves over a symlog and a flipped axis", false, -1, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plot->setAxisScale(axis(1), c.scaled ? AxisScale::Symlog : AxisScale::Linear);
        plot->setAxisFlipped(axis(2), c.scaled);
        plot->straightLines = c.straight;
        for (int i = 0; i < plot->axisCount; ++i) plot->axes[i]->scatterOn = i == c.open;
        for (int record : {1, 3}) {
            const std::vector<Point> at = drawn(record, 1, c.point);
            ASSERT_GE(at.size(), c.point ? 1u : 3u);
            // A third of the way across the region, off the line by its normal.
            const std::size_t k = c.point ? 0 : at.size() / 3;
            Point normal{1.0 / std::sqrt(2.0), 1.0 / std::sqrt(2.0)};
            if (!c.point) {
                const Point d{at[k + 1].x - at[k - 1].x, at[k + 1].y - at[k - 1].y};
                const double length = std::hypot(d.x, d.y);
                normal = {-d.y / length, d.x / length};
            }
            for (const double off : {0.0, 3.0, -3.5, 4.5}) {
                const HoverHit hit = findHoverRecord(*plot, at[k].x + off * normal.x, at[k].y + off * normal.y);
                if (std::fabs(off) > 4.0) {
                    EXPECT_EQ(hit.record, -1) << "record " << record << " at " << off << " pixels";
                } else {
                    EXPECT_EQ(hit.record, record) << "at " << off << " pixels";
                    EXPECT_NEAR(hit.pixels, std::fabs(off), 0.15);
                }
            }
        }
    }
    // Outside every region nothing is looked for.
    EXPECT_EQ(findHoverRecord(*plot, 2.0, 2.0).record, -1);
}

TEST_F(RecordsTest, HoverShowsAfterARestAndGoesWithMovesAndButtons) {
    const std::vector<Point> at = drawn(3, 1, false);
    const int x = static_cast<int>(std::lround(at[at.size() / 3].x));
    const int y = static_cast<int>(std::lround(at[at.size() / 3].y));
    auto shownAt = [&](double t) {
        now = t;
        while (advanceHoverDetails()) {
        }
        return hoverShown().record;
    };
    onMouseHover(x, y);
    EXPECT_EQ(shownAt(now + 299.0), -1) << "not before 300 ms of rest";
    EXPECT_EQ(shownAt(now + 1.0), 3);
    EXPECT_GT(redraws, 0);
    onMouseHover(x + 3, y);
    EXPECT_EQ(hoverShown().record, 3) << "a move of 3 pixels keeps it";
    onMouseHover(x + 12, y);
    EXPECT_EQ(hoverShown().record, -1) << "a move of more than 4 pixels takes it away";
    EXPECT_EQ(shownAt(now + 400.0), -1) << "nothing near the new place";

    onMouseHover(x, y);
    EXPECT_EQ(shownAt(now + 400.0), 3);
    press(MiddleButton, x, y);
    EXPECT_EQ(shownAt(now + 400.0), -1) << "never while a button is down";
    release(MiddleButton, x, y);
    EXPECT_EQ(shownAt(now + 400.0), 3);
    onKey('h', x, y);
    EXPECT_EQ(shownAt(now + 400.0), -1) << "key H switches it off";
    onKey('h', x, y);
    onMouseHover(x, y);
    EXPECT_EQ(shownAt(now + 400.0), 3);
}

TEST_F(RecordsTest, TheBoxWritesValuesAsTheAxesDo) {
    using Lines = std::vector<std::pair<std::string, std::string>>;
    auto lines = [](int record) {
        Lines out;
        for (const HoverLine& l : hoverBoxLines(*plot, record)) out.emplace_back(l.name, l.value);
        return out;
    };
    EXPECT_EQ(lines(3), (Lines{{"r3", ""}, {"d0", "25"}, {"d1", "75"}, {"d2", "25"}, {"d3", "40"}}));
    loadTable(mixedCsv, "mixed.csv");
    EXPECT_EQ(lines(1), (Lines{{"b", ""}, {"when", "2021-03-04"}, {"kind", "dog"}, {"x", "missing"}}));
    // In axis order.
    axis(0).position = 0.95;
    plot->resortAxes();
    EXPECT_EQ(lines(0), (Lines{{"a", ""}, {"kind", "cat"}, {"x", "1.5"}, {"when", "2020-01-02"}}));
}

TEST_F(RecordsTest, RowsFollowBrushesPaintsOrderAndLoads) {
    recordsTable.open();
    settle();
    EXPECT_EQ(recordsTable.countLine(), "5 of 5 records");
    EXPECT_EQ(rows(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(columnNames(), (std::vector<std::string>{"name", "d0", "d1", "d2", "d3"}));

    palette->deselect(0, 0);  // selection mode
    brush(0, 0.2, 0.8);       // d0 in 19 .. 81: r1, r3, r4
    EXPECT_TRUE(recordsTable.follow());
    EXPECT_EQ(recordsTable.countLine(), "3 of 5 records");
    EXPECT_EQ(rows(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(recordsTable.recordAt(1), 3);
    EXPECT_EQ(recordsTable.rowOf(4), 2);
    EXPECT_EQ(recordsTable.rowOf(0), -1) << "not listed";

    palette->select(0, 0);  // paint mode
    palette->currentColor = {0.9, 0.1, 0.1, 1.0};
    brush(1, 0.6, 1.0);  // paints r2 and r3 (d1 75 and 100)
    EXPECT_TRUE(recordsTable.follow());
    Rgba paint;
    EXPECT_TRUE(recordsTable.paintOf(3, paint));
    EXPECT_EQ(paint, (Rgba{0.9, 0.1, 0.1, 1.0}));
    EXPECT_FALSE(recordsTable.paintOf(1, paint)) << "the colour of the load is no paint";

    axis(0).position = 0.95;
    plot->resortAxes();
    EXPECT_TRUE(recordsTable.follow());
    EXPECT_EQ(columnNames(), (std::vector<std::string>{"name", "d1", "d2", "d3", "d0"}));
    EXPECT_FALSE(recordsTable.follow()) << "nothing changed since";

    std::string seen;
    setLoadWaitHook([&](double) {
        recordsTable.follow();
        seen = recordsTable.countLine();
    });
    loadTable(mixedCsv, "mixed.csv");
    setLoadWaitHook(nullptr);
    EXPECT_EQ(seen, "loading");
    settle();
    EXPECT_EQ(recordsTable.countLine(), "6 of 6 records");
    EXPECT_EQ(columnNames(), (std::vector<std::string>{"name", "when", "kind", "x"}));
    char buffer[cellBufferSize];
    EXPECT_EQ(recordsTable.cellText(1, 3, buffer), "missing");

    releasePlot();
    settle();
    EXPECT_EQ(recordsTable.countLine(), "0 of 0 records");
}

TEST_F(RecordsTest, SortsKeepMissingValuesLastAndCategoriesByText) {
    loadTable(mixedCsv, "mixed.csv");
    recordsTable.open();
    const struct {
        int by;
        bool descending;
        std::vector<int> rows;
    } cases[] = {
        {2, false, {5, 0, 4, 2, 3, 1}},     // x: 0.5 1.5 2 3 4, missing
        {2, true, {3, 2, 4, 0, 5, 1}},      // x: 4 3 2 1.5 0.5, missing
        {1, false, {0, 2, 4, 1, 3, 5}},     // kind: cat, dog; ties in table order
        {labelSort, true, {5, 4, 3, 2, 1, 0}},
    };
    for (const auto& c : cases) {
        recordsTable.setSort(c.by, c.descending);
        settle();
        EXPECT_EQ(rows(), c.rows) << "by " << c.by << (c.descending ? " descending" : " ascending");
    }
    EXPECT_TRUE(traced(" records sorted by x descending"));
    // A heading click sorts by its column, the next one the other way.
    recordsTable.clickHeading(1);
    settle();
    EXPECT_EQ(recordsTable.sortedBy(), 0);
    EXPECT_FALSE(recordsTable.sortedDescending());
    recordsTable.clickHeading(1);
    settle();
    EXPECT_TRUE(recordsTable.sortedDescending());
    EXPECT_EQ(rows(), (std::vector<int>{5, 4, 3, 2, 1, 0}));
}

TEST_F(RecordsTest, RowClicksHighlightKeepingPaintsAndCopyPickedRows) {
    palette->currentColor = {0.1, 0.5, 0.9, 1.0};
    brush(2, 0.6, 1.0);  // paints r0 and r4 (d2 100 and 75)
    recordsTable.open();
    recordsTable.setSort(3, true);  // d3: r4 r3 r2 r1 r0
    settle();
    clearTrace();
    recordsTable.clickRow(1, 0);
    EXPECT_EQ(traceLines(), (std::vector<std::string>{"3  distance  0"})) << "a middle click's line";
    EXPECT_TRUE(plot->hasHighlightedRecord);
    EXPECT_EQ(plot->highlightedRecord, 3);
    Rgba c;
    plot->colorOfRecord(3, c);
    EXPECT_EQ(c, highlightColor);
    plot->colorOfRecord(4, c);
    EXPECT_EQ(c, (Rgba{0.1, 0.5, 0.9, 1.0})) << "paints stay";
    plot->colorOfRecord(1, c);
    EXPECT_EQ(c, recordColorAtLoad);
    recordsTable.follow();
    EXPECT_EQ(recordsTable.highlightedRow(), 1);

    recordsTable.clickRow(3, ModShift);  // rows 1 .. 3
    recordsTable.clickRow(2, ModCtrl);   // without row 2
    EXPECT_EQ(recordsTable.pickedRowCount(), 2);
    EXPECT_EQ(recordsTable.copyPickedRows(), "name\td0\td1\td2\td3\nr3\t25\t75\t25\t40\nr1\t50\t50\t50\t20\n");
    EXPECT_TRUE(traced(" copied 2 rows"));
    recordsTable.pickAllRows();
    EXPECT_EQ(recordsTable.pickedRowCount(), 5);

    // The plot's own highlight is marked and brought into view.
    press(MiddleButton, px(axis(0).position), py(axis(0).regionBottom + 0.8 * testsupport::normalizedOf(0)));
    recordsTable.follow();
    EXPECT_EQ(recordsTable.highlightedRow(), 4);  // r0
    EXPECT_EQ(recordsTable.takeScrollTarget(), 4);
}

TEST_F(RecordsTest, ExportWritesTheSortedOrderAndSessionsKeepTheWindow) {
    recordsTable.open();
    recordsTable.setSort(2, false);  // d2: r2 r3 r1 r4 r0
    settle();
    const std::string path = (tempDir / "sorted.txt").string();
    ASSERT_TRUE(exportSelectedRecordsTo(path));
    std::ifstream in(path);
    std::string word;
    std::vector<std::string> labels;
    for (int k = 0; k < 4 + 5 && in >> word;) ++k;  // header and names
    while (in >> word)
        if (word[0] == 'r') labels.push_back(word);
    EXPECT_EQ(labels, (std::vector<std::string>{"r2", "r3", "r1", "r4", "r0"}));


    // A session keeps whether the window is open and how it is sorted.
    const std::string session = (tempDir / "view.korvelline").string();
    ASSERT_TRUE(saveSessionTo(session, true));
    recordsTable.close();
    recordsTable.setSort(noSort, false);
    bool fading = true;
    ASSERT_TRUE(openSessionFrom(session, fading));
    EXPECT_TRUE(recordsTable.isOpen());
    EXPECT_EQ(recordsTable.sortedBy(), 2);
    // One saved before the window existed leaves it as it is.
    std::stringstream text;
    text << std::ifstream(session).rdbuf();
    std::string json = text.str();
    const std::size_t at = json.find("\"recordsWindow\"");
    ASSERT_NE(at, std::string::npos);
    json.erase(at, json.find('}', at) + 2 - at);
    std::ofstream(session) << json;
    recordsTable.close();
    ASSERT_TRUE(openSessionFrom(session, fading));
    EXPECT_FALSE(recordsTable.isOpen());
}

}  // namespace
