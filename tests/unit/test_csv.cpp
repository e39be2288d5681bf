// Opening CSV and tab-separated files: quoting and line ends, missing cells,
// text, date and category columns, names, refusals, and the converter's
// round trip through the text format.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "data/csv_table.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"
#include "data/time_text.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/layers.h"
#include "session/session.h"
#include "test_support.h"

namespace {

// What a load leaves behind, for comparing two loads.
struct Snapshot {
    int records = 0, dimensions = 0, shown = 0;
    bool labelled = false;
    std::string labelColumn;
    std::vector<std::string> names, labels;
    std::vector<std::vector<double>> values;
    std::vector<std::vector<std::pair<double, std::string>>> categories;

    static Snapshot take() {
        Snapshot s{recordCount, dimensionCount, shownDimensionCount, hasRecordLabels,
                   plot ? plot->labelColumnName : "", {}, recordLabels, {}, {}};
        for (int j = 0; j < dimensionCount; ++j) {
            s.names.push_back(dimensionTable[j]->name);
            s.values.emplace_back(rawValues[j].get(), rawValues[j].get() + recordCount);
            std::vector<std::pair<double, std::string>> entries;
            for (int k = 0; k < dimensionTable[j]->labelCount; ++k)
                entries.emplace_back(dimensionTable[j]->labels[k].value, dimensionTable[j]->labels[k].text);
            s.categories.push_back(entries);
        }
        return s;
    }
    bool operator==(const Snapshot& o) const {
        return records == o.records && dimensions == o.dimensions && shown == o.shown &&
               labelled == o.labelled && labelColumn == o.labelColumn && names == o.names &&
               labels == o.labels && values == o.values && categories == o.categories;
    }
};

class CsvTest : public ::testing::Test {
protected:
    void SetUp() override { setTraceStream(&traceOutput); }
    void TearDown() override {
        setTraceStream(nullptr);
        dataFileName[0] = '\0';
        loadDataFile();
    }

    std::string pathFor(const std::string& extension) {
        return ::testing::TempDir() + "korvelline_csv_" + std::to_string(::getpid()) + extension;
    }

    void loadCsv(const std::string& text, const std::string& extension = ".csv") {
        const std::string path = pathFor(extension);
        std::ofstream(path, std::ios::binary) << text;
        ASSERT_TRUE(setDataFileName(path.c_str()));
        traceOutput.str("");
        loadDataFile();
        ASSERT_NE(plot, nullptr);
    }

    std::vector<std::string> traceLines() const {
        std::vector<std::string> lines;
        std::istringstream in(traceOutput.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static std::vector<double> column(int j) {
        return {rawValues[j].get(), rawValues[j].get() + recordCount};
    }

    std::ostringstream traceOutput;
};

TEST_F(CsvTest, QuotingLineEndsAndByteOrderMarkReadTheSame) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"LF", "name,x\n\"a,b\",1\n\"say \"\"hi\"\"\",2\n\"two\nlines\",3\n"},
        {"CRLF", "name,x\r\n\"a,b\",1\r\n\"say \"\"hi\"\"\",2\r\n\"two\r\nlines\",3\r\n"},
        {"BOM", "\xEF\xBB\xBFname,x\n\"a,b\",1\n\"say \"\"hi\"\"\",2\n\"two\nlines\",3"},
        {"blank lines", "name,x\n\n\"a,b\",1\n\"say \"\"hi\"\"\",2\n\n\"two\nlines\",3\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(loadCsv(c.text));
        EXPECT_EQ(plot->labelColumnName, "name");
        EXPECT_TRUE(hasRecordLabels);
        const std::vector<std::string> labels = {"a,b", "say_\"hi\"", "two_lines"};
        const std::vector<std::string> crlfLabels = {"a,b", "say_\"hi\"", "two__lines"};
        EXPECT_EQ(recordLabels, std::string(c.name) == "CRLF" ? crlfLabels : labels);
        ASSERT_EQ(dimensionCount, 1);
        EXPECT_EQ(dimensionTable[0]->name, "x");
        EXPECT_EQ(column(0), (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(shownDimensionCount, 1);
        EXPECT_EQ(traceOutput.str(), "");
    }
}

TEST_F(CsvTest, MissingCellsKeepTheirRecordBelowTheColumnRange) {
    for (const char* spelling : {"", "NA", "NaN", "null", "?", "nan", "NULL", "na"}) {
        SCOPED_TRACE(std::string("missing written as '") + spelling + "'");
        ASSERT_NO_FATAL_FAILURE(loadCsv(std::string("x,y\n1,10\n") + spelling + ",20\n3,30\n"));
        ASSERT_EQ(recordCount, 3);
        // 0.1 of the span below the lowest value, so the axis stays numeric.
        EXPECT_EQ(column(0), (std::vector<double>{1, 0.8, 3}));
        EXPECT_EQ(dimensionTable[0]->labelCount, 0);
        EXPECT_FALSE(plot->axes[0]->isCategorical);
        EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                    " csv column x: 1 missing values drawn at 0.8, below the range"}));
    }
    // A single value leaves no span: one below it.
    ASSERT_NO_FATAL_FAILURE(loadCsv("x,y\n5,1\nNA,2\n"));
    EXPECT_EQ(column(0), (std::vector<double>{5, 4}));
    // A column without any value is left out.
    ASSERT_NO_FATAL_FAILURE(loadCsv("x,y\nNA,1\n,2\n"));
    ASSERT_EQ(dimensionCount, 1);
    EXPECT_EQ(dimensionTable[0]->name, "y");
    EXPECT_EQ(traceLines(), (std::vector<std::string>{" csv column x left out: no values"}));
}

TEST_F(CsvTest, TextColumnsBecomeCategoriesLabelsOrAreLeftOut) {
    ASSERT_NO_FATAL_FAILURE(loadCsv(
        "id,species,note,code,grade,value\n"
        "p1,Adelie,calm,c1,1,3.5\n"
        "p2,Gentoo,calm,c2,2,4\n"
        "p3,Adelie,loud,c3,A,4.5\n"
        "p4,Adelie,shy,c4,1,5\n"
        "p5,Gentoo,odd,c5,2,5.5\n"
        "p6,Adelie,calm,c6,A,6\n"
        "p7,Gentoo,odd,c7,1,6.5\n"
        "p8,Adelie,calm,c8,2,7\n"));
    EXPECT_TRUE(hasRecordLabels);
    EXPECT_EQ(plot->labelColumnName, "id");
    EXPECT_EQ(recordLabels[6], "p7");
    ASSERT_EQ(dimensionCount, 3);
    EXPECT_EQ(shownDimensionCount, 3);
    EXPECT_EQ(dimensionTable[0]->name, "species");
    EXPECT_EQ(dimensionTable[1]->name, "grade");
    EXPECT_EQ(dimensionTable[2]->name, "value");
    // Coded in sorted order of the texts, with a label per code.
    EXPECT_EQ(column(0), (std::vector<double>{0, 1, 0, 0, 1, 0, 1, 0}));
    ASSERT_EQ(dimensionTable[0]->labelCount, 2);
    EXPECT_EQ(dimensionTable[0]->labels[1].text, "Gentoo");
    EXPECT_EQ(dimensionTable[0]->labels[1].value, 1.0);
    EXPECT_TRUE(plot->axes[0]->isCategorical);
    // Numbers before the first text are category texts too.
    EXPECT_EQ(column(1), (std::vector<double>{0, 1, 2, 0, 1, 2, 0, 1}));
    ASSERT_EQ(dimensionTable[1]->labelCount, 3);
    EXPECT_EQ(dimensionTable[1]->labels[0].text, "1");
    EXPECT_EQ(dimensionTable[1]->labels[2].text, "A");
    EXPECT_FALSE(plot->axes[2]->isCategorical);
    EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                " csv column note left out: 4 distinct texts, too many for categories",
                                " csv column code left out: distinct texts, labels come from id"}));
}

TEST_F(CsvTest, NamesAndLabelsBecomeUniqueTokens) {
    ASSERT_NO_FATAL_FAILURE(loadCsv("full name,my value,my value,,(kg) mass,my_value\n"
                                    "Ann Lee,1,2,3,4,5\n"
                                    ",6,7,8,9,10\n"));
    EXPECT_EQ(plot->labelColumnName, "full_name");
    EXPECT_EQ(recordLabels, (std::vector<std::string>{"Ann_Lee", "_"}));
    std::vector<std::string> names;
    for (int j = 0; j < dimensionCount; ++j) names.push_back(dimensionTable[j]->name);
    EXPECT_EQ(names, (std::vector<std::string>{"my_value", "my_value_2", "_", "(kg)_mass", "my_value_3"}));
}

TEST_F(CsvTest, MalformedTextIsRefusedWithOneLineAndKeepsTheView) {
    const struct {
        const char* name;
        std::string text;
        std::string line;
    } cases[] = {
        {"short row", "a,b\n1,2\n3\n", " bad csv, row 2 has 1 fields, the header 2, file not loaded"},
        {"long row", "a,b\n1,2,3\n", " bad csv, row 1 has 3 fields, the header 2, file not loaded"},
        {"unterminated quote", "a,b\n1,\"2\n3,4\n", " bad csv, unterminated quote, file not loaded"},
        {"quote inside a field", "a,b\n1,x\"y\n", " bad csv, misplaced quote, file not loaded"},
        {"binary", std::string("a,b\n1,\0\x01\x02", 9), " bad csv, binary data, file not loaded"},
        {"empty", "", " bad csv, no header row, file not loaded"},
        {"byte-order mark only", "\xEF\xBB\xBF", " bad csv, no header row, file not loaded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(loadCsv("x,y\n1,2\n"));  // something to keep
        const std::string view = testsupport::viewText();
        ASSERT_NO_FATAL_FAILURE(loadCsv(c.text));
        EXPECT_EQ(testsupport::viewText(), view);
        EXPECT_EQ(traceLines(), std::vector<std::string>{c.line});
    }
}

TEST_F(CsvTest, HeaderOnlyGivesEmptyAxes) {
    ASSERT_NO_FATAL_FAILURE(loadCsv("a,b,c\n"));
    EXPECT_EQ(recordCount, 0);
    EXPECT_EQ(dimensionCount, 3);
    EXPECT_EQ(plot->axisCount, 3);
    EXPECT_EQ(traceOutput.str(), "");
}

TEST_F(CsvTest, ThousandColumnsAreTooManyAxes) {
    std::string header, row;
    for (int j = 0; j < 1000; ++j) {
        header += (j ? ",c" : "c") + std::to_string(j);
        row += j ? ",1" : "1";
    }
    ASSERT_NO_FATAL_FAILURE(loadCsv("x,y\n1,2\n"));
    const std::string view = testsupport::viewText();
    const std::string path = pathFor(".wide.csv");
    std::ofstream(path, std::ios::binary) << header << '\n' << row << '\n';
    ASSERT_TRUE(setDataFileName(path.c_str()));
    traceOutput.str("");
    loadDataFile();
    EXPECT_EQ(testsupport::viewText(), view);
    EXPECT_EQ(traceLines(), std::vector<std::string>{" too many axis"});
}

// Large enough to be read in many pieces at once; quoted line breaks, a
// column that meets text only near the end, texts counted across pieces
// and the refusals must come out as for a small file.
TEST_F(CsvTest, LargeFilesReadInPiecesGiveTheWholeTable) {
    constexpr int rows = 400000;
    auto build = [](int raggedAt, int missingAt) {
        std::string text = "name,x,note,kind,mixed,many\n";
        for (int i = 0; i < rows; ++i) {
            text += "r" + std::to_string(i) + "," + (i == missingAt ? "NA" : std::to_string(i)) +
                    ",\"a,\"\"b\"\"\n\n\n\n\n\n\n\nc\",k" + std::to_string(i % 3) + "," +
                    (i < rows - 10 ? std::to_string(i % 2) : "T") + ",t" + std::to_string(i % 5000) +
                    (i == raggedAt ? ",extra" : "") + "\n";
        }
        return text;
    };
    ASSERT_GT(build(-1, -1).size(), 8u << 20);

    ASSERT_NO_FATAL_FAILURE(loadCsv(build(-1, -1)));
    EXPECT_EQ(traceLines(), std::vector<std::string>{" csv column many left out: 5000 distinct texts, too many for categories"});
    ASSERT_EQ(recordCount, rows);
    ASSERT_EQ(dimensionCount, 4);
    std::vector<double> x(rows), kind(rows), mixed(rows);
    for (int i = 0; i < rows; ++i) {
        x[i] = i;
        kind[i] = i % 3;
        mixed[i] = i < rows - 10 ? i % 2 : 2;
    }
    EXPECT_TRUE(column(0) == x);
    EXPECT_TRUE(column(1) == std::vector<double>(rows, 0.0));
    EXPECT_EQ(dimensionTable[1]->labels[0].text, "a,\"b\"________c");
    EXPECT_TRUE(column(2) == kind);
    EXPECT_TRUE(column(3) == mixed);
    ASSERT_EQ(dimensionTable[3]->labelCount, 3);
    EXPECT_EQ(dimensionTable[3]->labels[2].text, "T");
    EXPECT_EQ(recordLabels[rows - 1], "r" + std::to_string(rows - 1));

    ASSERT_NO_FATAL_FAILURE(loadCsv(build(rows - 5, -1)));
    EXPECT_EQ(recordCount, rows) << "the table before stays";
    EXPECT_EQ(traceLines(), std::vector<std::string>{" bad csv, row " + std::to_string(rows - 4) +
                                                     " has 7 fields, the header 6, file not loaded"});

    ASSERT_NO_FATAL_FAILURE(loadCsv(build(-1, rows - 3)));
    ASSERT_EQ(recordCount, rows);
    EXPECT_LT(rawValues[0][rows - 3], 0.0);
    EXPECT_EQ(rawValues[0][rows - 4], rows - 4);
    ASSERT_EQ(traceLines().size(), 2u);
    EXPECT_EQ(traceLines()[0].rfind(" csv column x: 1 missing values drawn at ", 0), 0u);
}

// Rows land in order whatever the pieces held: blank lines and CRLF line
// ends (fewer rows than line ends), and rows far shorter than in the first
// megabyte the table is estimated from (more rows than the estimate).
TEST_F(CsvTest, RowsLandInOrderWhateverThePiecesHeld) {
    constexpr int rows = 1200000;
    for (const int longRows : {0, 10000}) {
        SCOPED_TRACE(longRows);
        std::string text = "name,x\r\n";
        for (int i = 0; i < rows; ++i) {
            text += (i < longRows ? std::string(100, 'n') : "n") + std::to_string(i) + "," + std::to_string(i) + "\r\n";
            if (i % 1000 == 0) text += "\r\n  \r\n";
        }
        ASSERT_NO_FATAL_FAILURE(loadCsv(text));
        ASSERT_EQ(recordCount, rows);
        std::vector<double> x(rows);
        for (int i = 0; i < rows; ++i) x[i] = i;
        EXPECT_TRUE(column(0) == x);
        EXPECT_EQ(recordLabels[rows - 1], "n" + std::to_string(rows - 1));
        EXPECT_EQ(traceOutput.str(), "");
    }
}

TEST_F(CsvTest, ConvertedFileLoadsToTheSameTable) {
    const std::string tricky =
        "name,kind,x,y\n"
        "\"a b\",u,0.1,1e-300\n"
        "c,v,NA,123456.789012345\n"
        "d,u,-2.5,\n"
        "e,u,7,0.3\n"
        "f,u,1,2\n";
    std::ifstream penguinsFile(std::string(KORVELLINE_TEST_DATA_DIR) + "/penguins.csv", std::ios::binary);
    const std::string penguins((std::istreambuf_iterator<char>(penguinsFile)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(penguins.empty());
    for (const std::string* text : {&tricky, &penguins}) {
        ASSERT_NO_FATAL_FAILURE(loadCsv(*text));
        const Snapshot direct = Snapshot::take();
        ASSERT_GT(direct.records, 0);

        TableContent content;
        ASSERT_EQ(readCsv(text->data(), text->size(), content), CsvResult::Read);
        const std::string converted = pathFor(".txt");
        ASSERT_TRUE(writeTableFile(content, converted));
        ASSERT_TRUE(setDataFileName(converted.c_str()));
        loadDataFile();
        EXPECT_TRUE(Snapshot::take() == direct);
    }
}

TEST(TimeTextTest, SpellingsGiveTheirSecondsAndNearMissesDoNotParse) {
    const struct {
        const char* text;
        double seconds;
        bool midnight;
    } good[] = {
        {"1970-01-01", 0, true},
        {"1969-12-31T23:59:59Z", -1, false},
        {"2038-01-19 03:14:07", 2147483647, false},
        {"2038-01-19T03:14:08Z", 2147483648.0, false},
        {"2000-02-29", 951782400, true},
        {"2024/02/29 12:00", 1709208000, false},
        {"1900-03-01", -2203891200.0, true},
        {"0000-01-01", -62167219200.0, true},
        {"2001-03-14T07:05:09.5Z", 984553509.5, false},
        {"2001-03-14 07:05:09.000000000", 984553509, false},
        {"2001-03-14T08:05+01:00", 984553500, false},
        {"2001-03-13T19:35:00-11:30", 984553500, false},
        {"2001-03-14T01:00:00+01:00", 984528000, true},
    };
    for (const auto& g : good) {
        SCOPED_TRACE(g.text);
        double seconds = 0.0;
        bool midnight = !g.midnight;
        ASSERT_TRUE(parseTimeText(g.text, seconds, midnight));
        EXPECT_EQ(seconds, g.seconds);
        EXPECT_EQ(midnight, g.midnight);
    }
    for (const char* bad :
         {"2001-13-01", "2001-00-10", "2001-02-29", "1900-02-29", "2001-01-32", "2001-04-31", "2001-01-01 24:00",
          "2001-01-01 12:60", "2001-01-01 12:00:60", "2001-01-01T12:00:00.", "2001-01-01T12:00:00.1234567890",
          "2001-01-01 12:00 x", "2001-01-01Z", "2001-01-01T12", "2001-01-01t12:00", "2001-01-01  12:00",
          "2001-1-01", "2001-01/01", "+001-01-01", "2001-01-01T12:00+1:00", "2001-01-01T12:00+24:00",
          "2001-01-01 12:00:00,5", "2001-01-01 12:00.5", "Mar 14 2001", "20010314", "2001-01-01 "}) {
        double seconds = 7.0;
        bool midnight = false;
        EXPECT_FALSE(parseTimeText(bad, seconds, midnight)) << bad;
        EXPECT_EQ(seconds, 7.0) << bad;
    }
    // Printed toward the past, also before 1970.
    const struct {
        double seconds;
        bool dateOnly;
        const char* text;
    } printed[] = {{984553509.5, false, "2001-03-14 07:05"}, {984553509.5, true, "2001-03-14"},
                   {-30, false, "1969-12-31 23:59"},          {-0.001, true, "1969-12-31"},
                   {86399.999, false, "1970-01-01 23:59"},    {951868799, true, "2000-02-29"}};
    for (const auto& p : printed) {
        char out[40];
        formatTime(p.seconds, p.dateOnly, out, sizeof out);
        EXPECT_STREQ(out, p.text) << p.seconds;
    }
}

// Dates become time axes, also when distinct (labels then come from the next
// distinct text); a text or a number among the dates makes the column what
// it would be without them.
// Dates with month names become time axes, numbers with thousands
// separators numbers, where every cell reads so; a date outside the
// calendar, a grouping other than by three digits, or only one comma in
// every number (a decimal comma) keeps a column text.
TEST_F(CsvTest, MonthNamesAndThousandsSeparatorsReadAsPeopleWriteThem) {
    ASSERT_NO_FATAL_FAILURE(loadCsv(
        "name,a,b,c,d,e,f,g,h,i\n"
        "r0,Jan 1 2000,\"January 1, 2000\",1 Jan 2000,Jun 12 1998 10:30,\"1,611,606\",\"-566,000\",Feb 30 2001,\"1,61,606\",\"1,500\"\n"
        "r1,feb 2 2000,\"MARCH 3, 2001\",31 dec 1999,jun 13 1998 00:00,\"1,375.5\",\"2,000,000\",Feb 3 2001,\"1,000\",\"2,250\"\n"));
    std::vector<std::string> names;
    for (int j = 0; j < dimensionCount; ++j) names.push_back(dimensionTable[j]->name);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(column(0), (std::vector<double>{946684800, 949449600}));
    EXPECT_EQ(column(1), (std::vector<double>{946684800, 983577600}));
    EXPECT_EQ(column(2), (std::vector<double>{946684800, 946598400}));
    EXPECT_EQ(column(3), (std::vector<double>{897647400, 897696000}));
    EXPECT_EQ(dimensionTable[3]->format, ValueFormat::DateTime);
    EXPECT_EQ(column(4), (std::vector<double>{1611606, 1375.5}));
    EXPECT_EQ(column(5), (std::vector<double>{-566000, 2000000}));
    const std::vector<std::string> lines = traceLines();
    for (const char* line : {" csv column e: numbers with thousands separators",
                             " csv column f: numbers with thousands separators"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

TEST_F(CsvTest, DateColumnsBecomeTimeAxesUnlessATextOrNumberIsAmongThem) {
    ASSERT_NO_FATAL_FAILURE(loadCsv("when,name,mixed,late,numberFirst,clock\n"
                                    "2012-01-01,a,2012-01-01,NA,5,2001-03-14 07:05:59\n"
                                    "2012-01-02,b,never,2012-01-02,2012-01-02,2001-03-14 07:15\n"
                                    "2012-01-03,c,2012-01-01,2012-01-02,5,2001-03-14 07:10\n"
                                    "2012-01-04,d,never,2012-01-02,5,2001-03-14 07:10\n"
                                    "2012-01-05,e,2012-01-01,2012-01-03,5,2001-03-14 07:10\n"));
    EXPECT_EQ(plot->labelColumnName, "name");
    EXPECT_EQ(recordLabels[4], "e");
    std::vector<std::string> names;
    for (int j = 0; j < dimensionCount; ++j) names.push_back(dimensionTable[j]->name);
    EXPECT_EQ(names, (std::vector<std::string>{"when", "mixed", "late", "numberFirst", "clock"}));
    EXPECT_EQ(column(0), (std::vector<double>{1325376000, 1325462400, 1325548800, 1325635200, 1325721600}));
    EXPECT_EQ(column(1), (std::vector<double>{0, 1, 0, 1, 0}));
    EXPECT_EQ(dimensionTable[1]->labels[0].text, "2012-01-01");
    EXPECT_EQ(column(3), (std::vector<double>{1, 0, 1, 1, 1}));
    const ValueFormat formats[] = {ValueFormat::Date, ValueFormat::Number, ValueFormat::Date, ValueFormat::Number,
                                   ValueFormat::DateTime};
    for (int j = 0; j < 5; ++j) EXPECT_EQ(dimensionTable[j]->format, formats[j]) << names[j];
    EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                " csv column when: time axis from 2012-01-01 to 2012-01-05",
                                " csv column late: time axis from 2012-01-02 to 2012-01-03",
                                " csv column late: 1 missing values drawn at 2012-01-01, below the range",
                                " csv column clock: time axis from 2001-03-14 07:05 to 2001-03-14 07:15"}));
    // The range labels show the widened range: 2 % of 4 days, of 541 seconds.
    const struct {
        int j;
        const char *low, *high;
    } ranges[] = {{0, "2011-12-31", "2012-01-05"}, {4, "2001-03-14 07:05", "2001-03-14 07:15"}};
    for (const auto& r : ranges) {
        char low[40], high[40];
        formatValue(*dimensionTable[r.j], dimensionTable[r.j]->minimum, low, sizeof low);
        formatValue(*dimensionTable[r.j], dimensionTable[r.j]->maximum, high, sizeof high);
        EXPECT_STREQ(low, r.low);
        EXPECT_STREQ(high, r.high);
    }
}

// Categories are coded in sorted order ignoring case and counted from the
// values, for a text file's label sections too.
TEST_F(CsvTest, CategoriesAreSortedAndCountedMostFrequentFirst) {
    ASSERT_NO_FATAL_FAILURE(loadCsv("a\nb\nC\nb\na_b\na b\nb\nB\nb\nb\nb\nb\nb\nb\nb\n"));
    ASSERT_EQ(dimensionCount, 1);
    std::vector<std::string> texts;
    for (const LabelEntry& e : dimensionTable[0]->labels) texts.push_back(e.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"a_b", "a_b", "B", "b", "C"}));
    EXPECT_EQ(dimensionTable[0]->labelRecords, (std::vector<int>{1, 1, 1, 10, 1}));
    EXPECT_EQ(dimensionTable[0]->labelsByFrequency, (std::vector<int>{3, 0, 1, 2, 4}));

    const std::string path = pathFor(".txt");
    std::ofstream(path) << "5 1 1 0\nid v\n0 1 1 2 1\nlabel v 3 0 zero 1 one 2 two\n";
    ASSERT_TRUE(setDataFileName(path.c_str()));
    loadDataFile();
    EXPECT_EQ(dimensionTable[0]->labelRecords, (std::vector<int>{1, 3, 1}));
    EXPECT_EQ(dimensionTable[0]->labelsByFrequency, (std::vector<int>{1, 0, 2}));
}

TEST_F(CsvTest, TabSeparatedFilesQuoteOnlyFieldsThatBeginWithAQuote) {
    const struct {
        const char* path;
        char delimiter;
    } paths[] = {{"a.tsv", '\t'}, {"b.TAB", '\t'}, {"c.Csv", ','}, {"d.txt", 0}, {"tsv", 0}};
    for (const auto& p : paths) EXPECT_EQ(delimiterForPath(p.path), p.delimiter) << p.path;

    ASSERT_NO_FATAL_FAILURE(loadCsv("note\tx\n5\" pipe\t1\n \"a\tb\" \t2\n\"say \"\"hi\"\"\"\t3\n", ".tsv"));
    EXPECT_EQ(recordLabels, (std::vector<std::string>{"5\"_pipe", "a_b", "say_\"hi\""}));
    EXPECT_EQ(column(0), (std::vector<double>{1, 2, 3}));
    const struct {
        const char* text;
        const char* line;
    } refused[] = {{"a\tb\n\"x\"y\t1\n", " bad csv, misplaced quote, file not loaded"},
                   {"a\tb\n\"x\" \"\t1\n", " bad csv, misplaced quote, file not loaded"},
                   {"a\tb\n1\t\"2\n", " bad csv, unterminated quote, file not loaded"}};
    const std::string view = testsupport::viewText();
    for (const auto& r : refused) {
        ASSERT_NO_FATAL_FAILURE(loadCsv(r.text, ".tsv"));
        EXPECT_EQ(testsupport::viewText(), view);
        EXPECT_EQ(traceLines(), std::vector<std::string>{r.line});
    }
}

// Two halves read at once must agree with one parser: quotes that are plain
// characters must not move the cut into a quoted field, and a half whose
// cells are all missing takes the other half's kind.
TEST_F(CsvTest, LargeTabSeparatedFileWithTimesReadsAsAWhole) {
    constexpr int rows = 400000;
    std::string text = "name\tearly\tlate\tmixed\tquoted\tnote\n";
    for (int i = 0; i < rows; ++i)
        text += "r" + std::to_string(i) + '\t' + (i < rows / 10 ? "2012-01-01" : "") + '\t' +
                (i >= rows / 10 * 9 ? "2013-05-06 07:08" : "NA") + '\t' +
                (i == rows - 1 ? "never" : i % 2 ? "2012-01-02" : "2012-01-01") + "\t\"a\tb\nc\"\t5\" x" +
                std::to_string(i % 3) + "\n";
    ASSERT_GT(text.size(), 8u << 20);
    ASSERT_NO_FATAL_FAILURE(loadCsv(text, ".tsv"));
    ASSERT_EQ(recordCount, rows);
    ASSERT_EQ(dimensionCount, 5);
    EXPECT_EQ(recordLabels[rows - 1], "r" + std::to_string(rows - 1));
    EXPECT_EQ(dimensionTable[0]->format, ValueFormat::Date);
    EXPECT_EQ(dimensionTable[1]->format, ValueFormat::DateTime);
    EXPECT_EQ(rawValues[1][rows - 1], 1367824080);
    EXPECT_EQ(dimensionTable[2]->labelCount, 3);
    EXPECT_EQ(rawValues[2][rows - 1], 2);
    EXPECT_EQ(dimensionTable[3]->labels[0].text, "a_b_c");
    EXPECT_EQ(dimensionTable[4]->labels[2].text, "5\"_x2");
    EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                " csv column early: time axis from 2012-01-01 to 2012-01-01",
                                " csv column early: 360000 missing values drawn at 2011-12-31, below the range",
                                " csv column late: time axis from 2013-05-06 07:08 to 2013-05-06 07:08",
                                " csv column late: 360000 missing values drawn at 2013-05-06 07:07, below the range"}));
}

}  // namespace
