// Exporting selected records in the text format, and the program's own
// command-line arguments.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "data/table_writer.h"
#include "test_support.h"

namespace {

// Labelled records with awkward numbers and a label section on "kind".
const char* const exportTable =
    "6 3 2 1\n"
    "who x kind y\n"
    "a 0.1 0 1e-300\n"
    "b 123456.789012345 1 -2.5\n"
    "c 3 0 0.30000000000000004\n"
    "d -7 1 4\n"
    "e 5 0 1.5e299\n"
    "f 6 1 -0\n"
    "label kind 2 0 low 1 high\n";

class ExportTest : public InteractionTest {
protected:
    struct Record {
        std::string label;
        std::vector<double> values;
        bool operator==(const Record& o) const { return label == o.label && values == o.values; }
    };

    static std::vector<Record> records() {
        std::vector<Record> out;
        for (int i = 0; i < recordCount; ++i) {
            Record r{recordLabels[i], {}};
            for (int j = 0; j < dimensionCount; ++j) r.values.push_back(rawValues[j][i]);
            out.push_back(r);
        }
        return out;
    }
};

TEST_F(ExportTest, SelectedRecordsReloadWithTheSameValues) {
    // Membership as a brush hands it over: 1.0 inside, 0.23 outside.
    auto membership = [](std::vector<int> inside) {
        std::vector<double> m(6, 0.23);
        for (int i : inside) m[static_cast<size_t>(i)] = 1.0;
        return m;
    };
    const struct {
        const char* name;
        std::vector<std::pair<bool, std::vector<int>>> brushes;  // (CTRL union, records inside)
        std::vector<int> expected;
    } cases[] = {
        {"nothing brushed", {}, {0, 1, 2, 3, 4, 5}},
        {"axis brush", {{false, {1, 2, 4}}}, {1, 2, 4}},
        {"two brushes intersect", {{false, {1, 2, 4}}, {false, {0, 2, 4, 5}}}, {2, 4}},
        {"CTRL brush unites", {{false, {1, 2}}, {true, {5}}}, {1, 2, 5}},
        {"empty selection", {{false, {}}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(loadTable(exportTable));
        const std::vector<Record> all = records();
        for (const auto& [unite, inside] : c.brushes) {
            const std::vector<double> m = membership(inside);
            if (unite)
                plot->uniteSelection(m.data());
            else
                plot->intersectSelection(m.data());
        }
        const std::string path = (tempDir / "selected.txt").string();
        ASSERT_TRUE(exportSelectedRecordsTo(path));
        EXPECT_TRUE(traced(" exported " + std::to_string(c.expected.size()) + " records to " + path));

        ASSERT_TRUE(setDataFileName(path.c_str()));
        clearTrace();
        loadDataFile();
        EXPECT_EQ(traceOut.str(), "");
        std::vector<Record> want;
        for (int i : c.expected) want.push_back(all[static_cast<size_t>(i)]);
        EXPECT_EQ(records(), want);
        EXPECT_EQ(shownDimensionCount, 2);
        EXPECT_TRUE(hasRecordLabels);
        EXPECT_EQ(plot->labelColumnName, "who");
        ASSERT_EQ(dimensionTable[1]->labelCount, 2);
        EXPECT_EQ(dimensionTable[1]->labels[1].text, "high");
    }
}

// The whole road: strokes drawn with the mouse become brushes, and the export
// holds the records they left selected.
TEST_F(ExportTest, BrushedWithTheMouseTheExportHoldsTheSelection) {
    const std::vector<Record> all = records();
    // Selection mode: SHIFT click on the palette.
    modifiers = ModShift;
    click(LeftButton, px(0.03), py(0.5));
    modifiers = 0;
    now += 1000.0;
    auto stroke = [&](int axisIndex, double fromValue, double toValue, int mods) {
        const int x = px(axis(axisIndex).position) + 2;
        const double bottom = axis(axisIndex).regionBottom;
        const double height = axis(axisIndex).regionTop - bottom;
        const int y0 = py(bottom + height * testsupport::normalizedOf(fromValue));
        const int y1 = py(bottom + height * testsupport::normalizedOf(toValue));
        modifiers = mods;
        press(LeftButton, x, y0);
        for (int k = 1; k <= 10; ++k) onMouseDrag(x, y0 + (y1 - y0) * k / 10);
        release(LeftButton, x, y1);
        modifiers = 0;
        now += 1000.0;
    };
    stroke(0, 20, 80, 0);         // d0 in 20..80: r1, r3, r4
    stroke(1, -1, 10, ModCtrl);   // CTRL: d1 near 0 adds r0
    ASSERT_EQ(axisBrushes.size(), 2u);

    const std::string path = (tempDir / "brushed.txt").string();
    ASSERT_TRUE(exportSelectedRecordsTo(path));
    ASSERT_TRUE(setDataFileName(path.c_str()));
    loadDataFile();
    EXPECT_EQ(records(), (std::vector<Record>{all[0], all[1], all[3], all[4]}));
}

TEST_F(ExportTest, UnwritablePathIsReportedAndWritesNothing) {
    const std::string path = (tempDir / "missing-dir" / "out.txt").string();
    EXPECT_FALSE(exportSelectedRecordsTo(path));
    EXPECT_EQ(traceLines(), std::vector<std::string>{" could not write " + path + ", records not exported"});
}

TEST(CommandLineTest, TakesOutItsOwnArgumentsAndLeavesTheToolkitsSwitches) {
    const struct {
        std::vector<const char*> args;
        std::string file;
        bool help;
        bool refused;
        std::vector<std::string> toolkit;
    } cases[] = {
        {{}, "", false, false, {}},
        {{"t.csv"}, "t.csv", false, false, {}},
        {{"-geometry", "800x600", "dir/t.txt", "-iconic"}, "dir/t.txt", false, false,
         {"-geometry", "800x600", "-iconic"}},
        {{"--help"}, "", true, false, {}},
        {{"-h", "t.csv"}, "t.csv", true, false, {}},
        {{"-g", "+0+0", "-s", "gtk+", "-BG", "red", "-to", "t.csv"}, "t.csv", false, false,
         {"-g", "+0+0", "-s", "gtk+", "-BG", "red", "-to"}},
        {{"--", "-odd.csv"}, "-odd.csv", false, false, {}},
        {{"a.txt", "b.txt"}, "a.txt", false, true, {}},
        {{"--verbose"}, "", false, true, {}},
        {{"-bogus"}, "", false, true, {}},
        {{"-d", ":1"}, "", false, true, {}},
        {{"-display"}, "", false, true, {}},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv{const_cast<char*>("korvelline")};
        for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.showHelp, c.help);
        EXPECT_EQ(!line.error.empty(), c.refused) << line.error;
        if (c.refused) continue;
        EXPECT_EQ(line.file, c.file);
        ASSERT_EQ(line.toolkitArgs.size(), c.toolkit.size() + 2);
        EXPECT_STREQ(line.toolkitArgs.front(), "korvelline");
        EXPECT_EQ(line.toolkitArgs.back(), nullptr);
        for (size_t k = 0; k < c.toolkit.size(); ++k) EXPECT_EQ(line.toolkitArgs[k + 1], c.toolkit[k]);
    }
}

}  // namespace
