// Loading data files: the format, the label sections and refusal of bad input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>


#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/platform.h"
#include "data/data_file.h"
#include "data/dimension.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "test_support.h"

namespace {

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { setTraceStream(&traceOutput); }
    void TearDown() override {
        setTraceStream(nullptr);
        closeTable();
    }

    void load(const std::string& text) {
        ASSERT_NO_FATAL_FAILURE(testsupport::useTableFile(text, "loader"));
        loadDataFile();
    }

    static void closeTable() {
        dataFileName[0] = '\0';
        loadDataFile();
    }

    static double raw(int dimension, int record) { return rawValues[dimension][record]; }

    std::ostringstream traceOutput;
};

std::string wideFile(int dimensions) {
    std::ostringstream text;
    text << "2 " << dimensions << " 2 0\nid";
    for (int j = 0; j < dimensions; ++j) text << " d" << j;
    for (int i = 0; i < 2; ++i) {
        text << '\n';
        for (int j = 0; j < dimensions; ++j) text << (i + j) << ' ';
    }
    return text.str();
}

TEST_F(LoaderTest, ReadsTheExampleTableWithLabelsAndCategories) {
    load("3 2 2 1\nname age score\na 30 0.5\nb 41 0.7\nc 52 0.1\nlabel score 2 0.5 low 0.7 high\n");
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(recordCount, 3);
    EXPECT_EQ(dimensionCount, 2);
    EXPECT_EQ(shownDimensionCount, 2);
    EXPECT_TRUE(hasRecordLabels);
    EXPECT_EQ(plot->labelColumnName, "name");
    EXPECT_EQ(recordLabels, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(raw(0, 1), 41.0);
    EXPECT_EQ(raw(1, 2), 0.1);
    EXPECT_EQ(dimensionTable[0]->name, "age");
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);
    ASSERT_EQ(dimensionTable[1]->labelCount, 2);
    EXPECT_EQ(dimensionTable[1]->labels[1].value, 0.7);
    EXPECT_EQ(dimensionTable[1]->labels[1].text, "high");
    EXPECT_EQ(plot->axisCount, 2);
    EXPECT_FALSE(plot->axes[0]->isCategorical);
    EXPECT_TRUE(plot->axes[1]->isCategorical);
    EXPECT_TRUE(plot->colorBySelection);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, LineStructureCarriesNoMeaning) {
    load("3\n2 2\n1 name\nage\tscore a\n30 0.5 b 41\n\n0.7 c 52 0.1 label score 1 0.5 low");
    const std::vector<double> spread = {raw(0, 0), raw(0, 1), raw(0, 2), raw(1, 0), raw(1, 1), raw(1, 2)};
    ASSERT_EQ(dimensionTable[1]->labelCount, 1);
    load("3 2 2 1 name age score a 30 0.5 b 41 0.7 c 52 0.1 label score 1 0.5 low");  // no final newline
    const std::vector<double> oneLine = {raw(0, 0), raw(0, 1), raw(0, 2), raw(1, 0), raw(1, 1), raw(1, 2)};
    EXPECT_EQ(spread, oneLine);
    EXPECT_EQ(spread, (std::vector<double>{30, 41, 52, 0.5, 0.7, 0.1}));
    EXPECT_EQ(dimensionTable[1]->labelCount, 1);
    EXPECT_EQ(dimensionTable[1]->labels[0].text, "low");
}

TEST_F(LoaderTest, TrailerSkipsStrayTokensUnknownNamesAndKeepsTheLastSection) {
    load("2 2 1 0 id a b\n1 2\n3 4\n"
         "some notes label nosuch 2 1 x 2 y more label b 1 2 first label b 2 2 second 4 third "
         "label a 1 1 alpha");
    EXPECT_EQ(plot->axisCount, 1);
    ASSERT_EQ(dimensionTable[1]->labelCount, 2);
    EXPECT_EQ(dimensionTable[1]->labels[0].text, "second");
    EXPECT_EQ(dimensionTable[1]->labels[1].text, "third");
    ASSERT_EQ(dimensionTable[0]->labelCount, 1);
    EXPECT_EQ(dimensionTable[0]->labels[0].text, "alpha");
    EXPECT_EQ(plot->labelColumnName, "id");
    EXPECT_TRUE(recordLabels.empty()) << "an unlabelled table keeps no per-record strings";
}

TEST_F(LoaderTest, AcceptsNineHundredNinetyNineDimensionsAndRefusesOneThousand) {
    load(wideFile(999));
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(dimensionCount, 999);
    EXPECT_EQ(raw(998, 1), 999.0);
    EXPECT_EQ(traceOutput.str(), "");

    const std::string view = testsupport::viewText();
    load(wideFile(1000));
    EXPECT_EQ(traceOutput.str(), " too many axis\n");
    EXPECT_EQ(testsupport::viewText(), view) << "a refused file leaves the view as it was";
    EXPECT_EQ(dimensionCount, 999);

    // The next load works as a fresh start.
    load("1 1 1 0 id x 5");
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->axisCount, 1);
}

TEST_F(LoaderTest, MalformedNumberStopsTheRecordsButStillBuildsThePlot) {
    load("3 2 2 0 id x y\n1 2\n3 oops\n5 6\nlabel x 1 1 one");
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(recordCount, 3);
    EXPECT_EQ(raw(0, 1), 3.0);
    EXPECT_EQ(raw(1, 1), 0.0);  // not filled
    EXPECT_EQ(raw(0, 2), 0.0);
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);  // the trailer is not read
    EXPECT_EQ(traceOutput.str(), " malformed or missing number in record 2\n");

    traceOutput.str("");
    load("2 1 1 0 id x 1.5e 2");  // a token must be a number as a whole
    EXPECT_EQ(raw(0, 0), 0.0);
    EXPECT_EQ(traceOutput.str(), " malformed or missing number in record 1\n");
}

TEST_F(LoaderTest, ShortFileLeavesTheMissingValuesAtZero) {
    load("3 2 2 0 id x y 1 2 3");
    EXPECT_EQ(recordCount, 3);
    EXPECT_EQ(raw(0, 1), 3.0);
    EXPECT_EQ(raw(1, 1), 0.0);
    EXPECT_EQ(raw(1, 2), 0.0);
}

TEST_F(LoaderTest, NumbersMayCarrySignsAndExponents) {
    load("1 4 4 0 id a b c d +5 -2.5 1e3 .25");
    EXPECT_EQ(raw(0, 0), 5.0);
    EXPECT_EQ(raw(1, 0), -2.5);
    EXPECT_EQ(raw(2, 0), 1000.0);
    EXPECT_EQ(raw(3, 0), 0.25);
    load("1 1 1 0 id a 1e-400");  // underflow reads as zero, not as an error
    EXPECT_EQ(raw(0, 0), 0.0);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, RefusesBadHeadersWithOneLineAndKeepsTheTable) {
    const char* const badFiles[] = {
        "-1 2 2 0 id x y",                         // negative record count
        "1 -2 0 0 id",                              // negative dimension count
        "2000000000 1 1 0 id x 1 2 3",              // more records than the file can hold
        "3 x 2 0",                                  // not a number
        "",                                         // empty file
    };
    for (const char* text : badFiles) {
        load("2 1 1 0 id x 1 2");  // a table to keep
        const std::string view = testsupport::viewText();
        traceOutput.str("");
        load(text);
        SCOPED_TRACE(text);
        EXPECT_EQ(testsupport::viewText(), view);
        EXPECT_EQ(plot->capacity, 102);
        const std::string line = traceOutput.str();
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "exactly one line";
    }
}

TEST_F(LoaderTest, RefusesNonFiniteAndOverlargeValues) {
    load("1 2 2 0 id p q 7 8");
    const std::string view = testsupport::viewText();
    for (const char* value : {"nan", "inf", "-inf", "1e400", "1e301"}) {
        traceOutput.str("");
        load(std::string("2 1 1 0 id x 1 ") + value);
        SCOPED_TRACE(value);
        EXPECT_EQ(testsupport::viewText(), view);
        EXPECT_NE(traceOutput.str(), "");
    }
}

TEST_F(LoaderTest, ClampsTheShownCountIntoTheDimensions) {
    load("2 2 5 0 id x y 1 2 3 4");
    EXPECT_EQ(shownDimensionCount, 2);
    EXPECT_EQ(plot->axisCount, 2);
    EXPECT_EQ(traceOutput.str(), " shown dimensions clamped to 2\n");
    traceOutput.str("");
    load("2 2 -1 0 id x y 1 2 3 4");
    EXPECT_EQ(plot->axisCount, 0);
    EXPECT_EQ(traceOutput.str(), " shown dimensions clamped to 0\n");
}

TEST_F(LoaderTest, BadLabelSectionsAreDroppedWithAMessage) {
    load("1 1 1 0 id x 1 label x -3 label x 1 1 one");
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);
    EXPECT_EQ(traceOutput.str(), " bad label section x\n");
    traceOutput.str("");
    load("1 1 1 0 id x 1 label x 1000000000 1 one");
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);
    EXPECT_EQ(traceOutput.str(), " bad label section x\n");
    traceOutput.str("");
    load("1 1 1 0 id x 1 label x 2 1 one bad two");
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);
    EXPECT_EQ(traceOutput.str(), " bad label section x\n");
}

TEST_F(LoaderTest, UnreadableFileAfterALoadedTableKeepsItWithOneLine) {
    load("3 2 2 1 name age score a 30 0.5 b 41 0.7 c 52 0.1");
    const std::string view = testsupport::viewText();
    const std::string shownFile = dataFileName;
    traceOutput.str("");
    ASSERT_TRUE(setDataFileName("/nonexistent/korvelline/file.txt"));
    EXPECT_FALSE(loadDataFile());
    EXPECT_EQ(testsupport::viewText(), view);
    EXPECT_EQ(std::string(dataFileName), shownFile) << "the name of the table shown comes back";
    EXPECT_EQ(traceOutput.str(), " cannot open /nonexistent/korvelline/file.txt, file not loaded\n");
}

TEST_F(LoaderTest, RefusesPathsThatDoNotFitTheNameBuffer) {
    ASSERT_TRUE(setDataFileName("keep.txt"));
    const std::string tooLong(dataFileNameSize, 'a');
    EXPECT_FALSE(setDataFileName(tooLong.c_str()));
    EXPECT_STREQ(dataFileName, "keep.txt");
    const std::string longest(dataFileNameSize - 1, 'b');
    EXPECT_TRUE(setDataFileName(longest.c_str()));
    EXPECT_EQ(std::string(dataFileName), longest);
}

TEST_F(LoaderTest, EmptyPathGivesTheEmptyPlotSilently) {
    closeTable();
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->recordCount, 0);
    EXPECT_EQ(plot->capacity, 100);
    EXPECT_EQ(plot->axisCount, 0);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, LargeFileLoadsEveryRecord) {
    std::ostringstream text;
    const int records = 20000;
    text << records << " 3 3 1 id a b c\n";
    for (int i = 0; i < records; ++i) text << 'r' << i << ' ' << i << ' ' << -i << ' ' << i * 0.5 << '\n';
    load(text.str());
    ASSERT_EQ(recordCount, records);
    EXPECT_EQ(recordLabels[records - 1], "r19999");
    EXPECT_EQ(raw(1, records - 1), -19999.0);
    EXPECT_EQ(raw(2, 12345), 6172.5);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, RandomTokenSoupNeverBreaksTheTable) {
    // Headers, counts and sections drawn from the kinds of token that have
    // caused trouble: signs, huge and fractional counts, non-numbers, nan.
    const char* const tokens[] = {"0",   "1",  "2",    "3",     "-1",   "999", "1000", "2147483647",
                                  "1.5", "x",  "label", "label", "nan", "inf", "1e400", "+4",
                                  "-0",  "a",  "b",     "",      "\n",  "7e2", "-3.25", "99999999999"};
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>(state >> 33);
    };
    closeTable();
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const unsigned count = next() % 40;
        for (unsigned k = 0; k < count; ++k) {
            text += tokens[next() % (sizeof tokens / sizeof tokens[0])];
            text += ' ';
        }
        traceOutput.str("");
        load(text);
        SCOPED_TRACE(text);
        ASSERT_NE(plot, nullptr) << "a refused file keeps the view";
        EXPECT_GE(recordCount, 0);
        EXPECT_LT(dimensionCount, maxSlots);
        EXPECT_LE(plot->axisCount, dimensionCount);
        EXPECT_GE(plot->capacity, recordCount);
        EXPECT_EQ(recordLabels.size(), hasRecordLabels ? static_cast<size_t>(recordCount) : 0u);
        for (int j = 0; j < dimensionCount; ++j) {
            const Positions v = dimensionTable[j]->positions();
            for (int i = 0; i < recordCount; ++i) ASSERT_TRUE(std::isfinite(v[i]));
        }
    }
}

// A file large enough for two parsers must read as one stream would: the
// first fault in file order counts, and nothing after it is kept.
TEST_F(LoaderTest, LargeFilesReadAsOneStreamWould) {
    using testsupport::Replaced;
    const int records = 600000;
    const int late = records - 10;  // in the second part whatever the cut
    const struct {
        const char* name;
        std::vector<Replaced> replaced;
        int written;          // records in the file
        int stop;             // first record not read whole; records when none
        int stopField;        // values of that record read before the fault
        const char* line;     // the trace, "" for none
    } cases[] = {
        {"clean", {}, records, records, 0, ""},
        {"malformed early", {{999, 1, "oops"}}, records, 999, 1, " malformed or missing number in record 1000\n"},
        {"malformed late", {{late, 0, "1.5x"}}, records, late, 0, " malformed or missing number in record 599991\n"},
        {"malformed early, bad value late", {{999, 0, "x"}, {late, 1, "inf"}}, records, 999, 0,
         " malformed or missing number in record 1000\n"},
        {"bad value late", {{late, 1, "nan"}}, records, -1, 0, " bad value in record 599991, file not loaded\n"},
        {"short", {}, records - 5, records - 5, 0, " malformed or missing number in record 599996\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        traceOutput.str("");
        load("1 1 1 0 id x 5");
        load(std::to_string(records) + " 2 2 1 name a b" + testsupport::largeRecords(c.written, c.replaced) +
             (c.written == records ? " label b 1 -0.25 quarter" : ""));
        EXPECT_EQ(traceOutput.str(), c.line);
        if (c.stop < 0) {
            EXPECT_EQ(recordCount, 1) << "the table before stays";
            continue;
        }
        ASSERT_EQ(recordCount, records);
        int wrong = 0;
        for (int i = 0; i < records; ++i) {
            const bool labelRead = i < c.stop || (i == c.stop && c.written > c.stop);
            wrong += recordLabels[i] != (labelRead ? "r" + std::to_string(i) : "");
            for (int j = 0; j < 2; ++j) {
                const bool read = i < c.stop || (i == c.stop && j < c.stopField);
                wrong += raw(j, i) != (read ? testsupport::largeValue(i, j) : 0.0);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(dimensionTable[1]->labelCount, c.stop == records ? 1 : 0) << "the trailer follows the last record";
    }
}

// ------------------------------------------------------------ hostile files

namespace fs = std::filesystem;

// A scratch folder of this process for paths that are not plain table files.
class HostileFileTest : public LoaderTest {
protected:
    void SetUp() override {
        LoaderTest::SetUp();
        dir = fs::path(::testing::TempDir()) / ("korvelline_hostile_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        setLoadMemoryLimit(0);
        LoaderTest::TearDown();
        fs::remove_all(dir);
    }

    // Loads path after a small table, which a refusal must leave as it was.
    void loadPathAfterATable(const fs::path& path) {
        load("2 1 1 0 id x 1 2");
        shown = testsupport::viewText();
        traceOutput.str("");
        ASSERT_TRUE(setDataFileName(path.c_str()));
        loadDataFile();
    }

    void expectTableKept() {
        EXPECT_EQ(testsupport::viewText(), shown);
        EXPECT_EQ(recordCount, 2);
    }

    std::string shown;

    fs::path dir;
};

TEST_F(HostileFileTest, RefusesPathsThatAreNotRegularFilesWithoutBlocking) {
    const fs::path directory = dir / "folder.txt";
    fs::create_directories(directory);
    const fs::path fifo = dir / "pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // opening it for reading would wait for a writer
    for (const fs::path& path : {directory, fifo}) {
        SCOPED_TRACE(path.string());
        loadPathAfterATable(path);
        expectTableKept();
        EXPECT_EQ(traceOutput.str(), " not a regular file, file not loaded\n");
    }
}

TEST_F(HostileFileTest, RefusesAFileLargerThanTheMachineCanHold) {
    // Sparse: the size costs no disk.
    const fs::path huge = dir / "huge.txt";
    std::ofstream(huge) << "1 1 1 0 id x 5\n";
    fs::resize_file(huge, loadMemoryLimit() + 1);
    loadPathAfterATable(huge);
    expectTableKept();
    EXPECT_EQ(traceOutput.str(), " file too large, file not loaded\n");
}

TEST_F(HostileFileTest, JudgesTheHeaderFromTheFirstBytes) {
    const struct {
        std::string text;
        const char* line;
    } cases[] = {
        {std::string(300000, '7'), " bad header, file not loaded\n"},               // one endless number
        {"1 1 1 " + std::string(300000, '0'), " bad header, file not loaded\n"},  // cut at the prefix
        {std::string(300000, ' ') + "1 1 1 0 id x 5", " bad header, file not loaded\n"},
        {"1 1 1 0 id x 5 " + std::string(300000, ' '), ""},  // a long tail is no reason
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        load(c.text);
        EXPECT_EQ(traceOutput.str(), c.line);
        EXPECT_EQ(recordCount, c.line[0] == '\0' ? 1 : 0);
        traceOutput.str("");
    }
}

TEST_F(HostileFileTest, RecordsMustFindAQuarterOfTheirTokens) {
    const char* const refused = " record count exceeds the file, file not loaded\n";
    const struct {
        std::string text;
        int records;  // 0: refused
        const char* line;
    } cases[] = {
        {"8 1 1 0 id x 1 2", 8, " malformed or missing number in record 3\n"},  // 2 of 8: zeros
        {"9 1 1 0 id x 1 2", 0, refused},                                       // 2 of 9
        {"4 1 1 1 id x a 1", 4, " malformed or missing number in record 2\n"},  // labels count
        {"4 1 1 1 id x a", 0, refused},
        {"8 1 1 0 id x" + std::string(1 << 20, ' '), 0, refused},  // blanks are no room
        {"1000 2 2 0 id x y" + std::string(1 << 20, '\n') + " 1 2", 0, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        load("1 1 1 0 id x 5");
        const std::string view = testsupport::viewText();
        traceOutput.str("");
        load(c.text);
        if (c.records == 0)
            EXPECT_EQ(testsupport::viewText(), view);
        else
            EXPECT_EQ(recordCount, c.records);
        EXPECT_EQ(traceOutput.str(), c.line);
        traceOutput.str("");
    }
}

TEST_F(HostileFileTest, RefusesTablesLargerThanTheMemoryLimit) {
    const struct {
        const char* text;
        long long records, dimensions;
        bool labelled;
    } cases[] = {
        {"100000 0 0 0 id", 100000, 0, false},  // records without values take no tokens
        {"3 2 2 1 name a b r 1 2 s 3 4 t 5 6", 3, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const unsigned long long bytes = tableBytes(c.records, c.dimensions, c.labelled);
        setLoadMemoryLimit(bytes);
        load("1 1 1 0 id x 5");
        const std::string before = testsupport::viewText();
        load(c.text);
        EXPECT_EQ(recordCount, c.records) << "a table that just fits loads";
        EXPECT_EQ(traceOutput.str(), "");
        load("1 1 1 0 id x 5");
        setLoadMemoryLimit(bytes - 1);
        load(c.text);
        EXPECT_EQ(testsupport::viewText(), before);
        EXPECT_EQ(traceOutput.str(), " table too large for memory, file not loaded\n");
        traceOutput.str("");
    }
    // Category labels are bounded too: two entries and the dimension's copy.
    setLoadMemoryLimit(4 * sizeof(LabelEntry));
    load("1 1 1 0 id x 5 label x 2 1 one 2 two");
    EXPECT_EQ(dimensionTable[0]->labelCount, 2);
    setLoadMemoryLimit(4 * sizeof(LabelEntry) - 1);
    traceOutput.str("");
    load("1 1 1 0 id x 5 label x 2 1 one 2 two");
    EXPECT_EQ(dimensionTable[0]->labelCount, 0);
    EXPECT_EQ(traceOutput.str(), " bad label section x\n");
    // The estimate grows with every part of a record.
    EXPECT_GT(tableBytes(10, 1, false), tableBytes(10, 0, false));
    EXPECT_GT(tableBytes(10, 0, true), tableBytes(10, 0, false));
    EXPECT_GT(tableBytes(10, 0, false), tableBytes(9, 0, false));
}

// ------------------------------------------------------------ loads in sequence

// A token longer than a piece of the file makes that piece longer.
TEST_F(LoaderTest, TokensLongerThanAPieceAreReadWhole) {
    const std::string label(9 << 20, 'a');
    load("2 1 1 1 id x " + label + " 5 b 6");
    ASSERT_EQ(recordCount, 2);
    EXPECT_EQ(recordLabels[0], label);
    EXPECT_EQ(raw(0, 1), 6.0);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, RecordsWithoutValuesAreATable) {
    load("5 0 0 0 id");
    EXPECT_EQ(recordCount, 5);
    EXPECT_EQ(dimensionCount, 0);
    EXPECT_EQ(plot->capacity, 105);
    EXPECT_EQ(plot->labelColumnName, "id");
    load("3 0 0 1 name a b c");
    EXPECT_EQ(recordLabels, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(LoaderTest, FewerDimensionsThanBeforeFreeTheOldValueArrays) {
    load(wideFile(5));
    ASSERT_NE(rawValues[4], nullptr);
    load("2 2 2 0 id a b 1 2 3 4");
    EXPECT_NE(rawValues[1], nullptr);
    for (int j = 2; j < maxSlots; ++j) ASSERT_EQ(rawValues[j], nullptr) << "slot " << j;
}

TEST_F(LoaderTest, EveryLoadStartsWithTheSmoothCurveStep) {
    load("2 2 2 0 id a b 1 2 3 4");
    onKey('x', 0, 0);
    ASSERT_TRUE(plot->antialiasingOff);
    ASSERT_DOUBLE_EQ(curveStep, 0.01);
    load("2 2 2 0 id a b 1 2 3 4");
    EXPECT_FALSE(plot->antialiasingOff);
    EXPECT_DOUBLE_EQ(curveStep, 0.002);
}

}  // namespace
