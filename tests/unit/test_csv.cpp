// Opening CSV files: quoting and line ends, missing cells, text columns,
// names, refusals, and the converter's round trip through the text format.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/platform.h"
#include "data/csv_table.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"
#include "plot/axis.h"
#include "plot/plot.h"

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

    void loadCsv(const std::string& text) {
        const std::string path = pathFor(".csv");
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
    // Coded in order of first appearance, with a label per code.
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

TEST_F(CsvTest, MalformedTextIsRefusedWithOneLineAndAnEmptyTable) {
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
        ASSERT_NO_FATAL_FAILURE(loadCsv("x,y\n1,2\n"));  // something to lose
        ASSERT_NO_FATAL_FAILURE(loadCsv(c.text));
        EXPECT_EQ(recordCount, 0);
        EXPECT_EQ(dimensionCount, 0);
        EXPECT_EQ(plot->axisCount, 0);
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
    const std::string path = pathFor(".csv");
    std::ofstream(path, std::ios::binary) << header << '\n' << row << '\n';
    ASSERT_TRUE(setDataFileName(path.c_str()));
    loadDataFile();
    EXPECT_EQ(plot, nullptr);
    EXPECT_EQ(dimensionCount, 0);
    EXPECT_EQ(traceLines(), std::vector<std::string>{" too many axis"});
}

// Large enough to be read as two halves at once; quoted line breaks, a
// column that meets text only near the end and the refusals must come out
// as for a small file.
TEST_F(CsvTest, LargeFilesReadAsTwoHalvesGiveTheWholeTable) {
    constexpr int rows = 400000;
    auto build = [](int raggedAt, int missingAt) {
        std::string text = "name,x,note,kind,mixed\n";
        for (int i = 0; i < rows; ++i) {
            text += "r" + std::to_string(i) + "," + (i == missingAt ? "NA" : std::to_string(i)) +
                    ",\"a,\"\"b\"\"\n\n\n\n\n\n\n\nc\",k" + std::to_string(i % 3) + "," +
                    (i < rows - 10 ? std::to_string(i % 2) : "T") + (i == raggedAt ? ",extra" : "") + "\n";
        }
        return text;
    };
    ASSERT_GT(build(-1, -1).size(), 8u << 20);

    ASSERT_NO_FATAL_FAILURE(loadCsv(build(-1, -1)));
    EXPECT_EQ(traceOutput.str(), "");
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
    EXPECT_EQ(recordCount, 0);
    EXPECT_EQ(traceLines(), std::vector<std::string>{" bad csv, row " + std::to_string(rows - 4) +
                                                     " has 6 fields, the header 5, file not loaded"});

    ASSERT_NO_FATAL_FAILURE(loadCsv(build(-1, rows - 3)));
    ASSERT_EQ(recordCount, rows);
    EXPECT_LT(rawValues[0][rows - 3], 0.0);
    EXPECT_EQ(rawValues[0][rows - 4], rows - 4);
    ASSERT_EQ(traceLines().size(), 1u);
    EXPECT_EQ(traceLines()[0].rfind(" csv column x: 1 missing values drawn at ", 0), 0u);
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

}  // namespace
