// Parquet and JSON tables read through DuckDB, the hash every reader takes
// of its file, and the memory a table may take.

#include <duckdb.h>
#include <gtest/gtest.h>
#include <unistd.h>
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/platform.h"
#include "data/data_file.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "plot/plot.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;

// What a load leaves behind, for comparing two loads.
struct Loaded {
    int records = 0;
    std::string labelColumn;
    std::vector<std::string> names, labels;
    std::vector<ValueFormat> formats;
    std::vector<std::vector<double>> values;
    std::vector<std::vector<std::string>> categories;

    static Loaded take() {
        Loaded l{recordCount, plot ? plot->labelColumnName : "", {}, recordLabels, {}, {}, {}};
        for (int j = 0; j < dimensionCount; ++j) {
            l.names.push_back(dimensionTable[j]->name);
            l.formats.push_back(dimensionTable[j]->format);
            l.values.emplace_back(rawValues[j].get(), rawValues[j].get() + recordCount);
            std::vector<std::string> texts;
            for (const LabelEntry& entry : dimensionTable[j]->labels) texts.push_back(entry.text);
            l.categories.push_back(texts);
        }
        return l;
    }
    bool operator==(const Loaded& o) const {
        return records == o.records && labelColumn == o.labelColumn && names == o.names && labels == o.labels &&
               formats == o.formats && values == o.values && categories == o.categories;
    }
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TypedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(::testing::TempDir()) / ("korvelline_typed_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        setTraceStream(&traceOutput);
    }
    void TearDown() override {
        setTraceStream(nullptr);
        setLoadMemoryLimit(0);
        dataFileName[0] = '\0';
        loadDataFile();
        fs::remove_all(dir);
    }

    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::vector<std::string> load(const std::string& path) {
        traceOutput.str("");
        EXPECT_TRUE(setDataFileName(path.c_str()));
        loadDataFile();
        std::vector<std::string> lines;
        std::istringstream in(traceOutput.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Runs sql in a fresh in-memory DuckDB.
    static void duck(const std::string& sql) {
        duckdb_database database = nullptr;
        duckdb_connection connection = nullptr;
        ASSERT_EQ(duckdb_open(nullptr, &database), DuckDBSuccess);
        ASSERT_EQ(duckdb_connect(database, &connection), DuckDBSuccess);
        duckdb_result result;
        const bool ok = duckdb_query(connection, sql.c_str(), &result) == DuckDBSuccess;
        EXPECT_TRUE(ok) << sql << ": " << duckdb_result_error(&result);
        duckdb_destroy_result(&result);
        duckdb_disconnect(&connection);
        duckdb_close(&database);
    }

    fs::path dir;
    std::ostringstream traceOutput;
};

// Labels, categories, numbers with missing cells, date-times and dates.
const char* const mixedCsv =
    "name,kind,mass,when,day\n"
    "ann,B,1.5,2014-07-09 13:45:07,2001-03-14\n"
    "bob,A,NA,2014-07-10 00:00:00,2001-03-15\n"
    "cid,B,-2,2015-01-01 08:30:00,2001-03-16\n"
    "dan,b,4.25,2014-12-31 23:59:59,\n"
    "eve,A,0.1,,2001-03-18\n"
    "fay,B,3,2014-07-11 01:02:03,2001-03-19\n"
    "gus,A,7,2014-07-12 00:00:00,2001-03-20\n";

std::vector<std::string> renamed(std::vector<std::string> lines, const std::string& format) {
    for (std::string& line : lines)
        if (line.rfind(" csv ", 0) == 0) line.replace(1, 3, format);
    return lines;
}

TEST_F(TypedFileTest, ParquetAndJsonWrittenFromACsvGiveTheSameTable) {
    const std::string csv = write("mixed.csv", mixedCsv);
    const std::vector<std::string> csvLines = load(csv);
    const Loaded fromCsv = Loaded::take();
    ASSERT_EQ(fromCsv.records, 7);
    ASSERT_EQ(fromCsv.names, (std::vector<std::string>{"kind", "mass", "when", "day"}));
    ASSERT_EQ(fromCsv.formats[2], ValueFormat::DateTime);
    ASSERT_EQ(fromCsv.formats[3], ValueFormat::Date);
    ASSERT_EQ(csvLines.size(), 5u);  // two time axes, three columns with a missing cell

    const std::string read = "(SELECT * FROM read_csv('" + csv + "'))";
    const struct {
        std::string file, copy;
    } cases[] = {
        {"mixed.parquet", "(FORMAT parquet)"},
        {"mixed.json", "(FORMAT json)"},                // newline-delimited objects
        {"array.json", "(FORMAT json, ARRAY true)"},  // one array of objects
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (dir / c.file).string();
        ASSERT_NO_FATAL_FAILURE(duck("COPY " + read + " TO '" + path + "' " + c.copy));
        const std::string format = c.file.substr(c.file.find('.') + 1);
        EXPECT_EQ(load(path), renamed(csvLines, format));
        EXPECT_TRUE(Loaded::take() == fromCsv);
    }
}

TEST_F(TypedFileTest, TypedColumnsFollowTheColumnRules) {
    const std::string path = (dir / "typed.parquet").string();
    ASSERT_NO_FATAL_FAILURE(duck(
        "COPY (SELECT * FROM (VALUES (true, 1.5::DECIMAL(4,2), TIMESTAMPTZ '2001-03-14 08:05:00+01', {'a': 1}, 7::HUGEINT),"
        " (false, NULL, NULL, {'a': 2}, 8), (NULL, 2.25, 'infinity'::TIMESTAMPTZ, NULL, 9))"
        " t(flag, price, moment, nest, big)) TO '" + path + "' (FORMAT parquet)"));
    EXPECT_EQ(load(path), (std::vector<std::string>{
                              " parquet column flag: 1 missing values drawn at -0.1, below the range",
                              " parquet column price: 1 missing values drawn at 1.425, below the range",
                              " parquet column moment: time axis from 2001-03-14 07:05 to 2001-03-14 07:05",
                              " parquet column moment: 2 missing values drawn at 2001-03-14 07:04, below the range",
                              " parquet column nest left out: nested values"}));
    const Loaded table = Loaded::take();
    ASSERT_EQ(table.names, (std::vector<std::string>{"flag", "price", "moment", "big"}));
    EXPECT_EQ(table.values[0], (std::vector<double>{1, 0, -0.1}));
    EXPECT_EQ(table.values[3], (std::vector<double>{7, 8, 9}));
    EXPECT_EQ(table.values[2][0], 984553500.0);

    // JSON fields of mixed types come as JSON text: strings are unquoted
    // cells, and texts after numbers make categories of all of them.
    const std::string json = write("mixed.json",
                                   "{\"v\": 1, \"w\": 1, \"s\": \"a\"}\n{\"v\": \"NA\", \"w\": 2, \"s\": \"b\"}\n"
                                   "{\"v\": 3, \"w\": 1, \"s\": \"a\"}\n{\"v\": 4, \"w\": 2, \"s\": \"b\"}\n"
                                   "{\"v\": 5, \"w\": \"late\", \"s\": \"a\"}\n{\"v\": 6, \"w\": \"late\", \"s\": \"b\"}\n"
                                   "{\"v\": 7, \"w\": 1, \"s\": \"a\"}\n");
    EXPECT_EQ(load(json), std::vector<std::string>{" json column v: 1 missing values drawn at 0.4, below the range"});
    const Loaded mixed = Loaded::take();
    ASSERT_EQ(mixed.names, (std::vector<std::string>{"v", "w", "s"}));
    EXPECT_EQ(mixed.values[0], (std::vector<double>{1, 1 - 0.1 * (7 - 1), 3, 4, 5, 6, 7}));
    EXPECT_EQ(mixed.values[1], (std::vector<double>{0, 1, 0, 1, 2, 2, 0}));
    EXPECT_EQ(mixed.categories[1], (std::vector<std::string>{"1", "2", "late"}));
    EXPECT_EQ(mixed.categories[2], (std::vector<std::string>{"a", "b"}));
}

// Files that are not what their name says are refused with one line, and
// never crash: truncated and overwritten copies of good files.
TEST_F(TypedFileTest, MangledFilesAreRefusedWithOneLine) {
    const std::string csv = write("good.csv", mixedCsv);
    for (const char* name : {"good.parquet", "good.json"}) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        const std::string format = std::string(name).substr(5);
        ASSERT_NO_FATAL_FAILURE(duck("COPY (SELECT * FROM read_csv('" + csv + "')) TO '" + path + "' (FORMAT " +
                                     format + ")"));
        std::ifstream in(path, std::ios::binary);
        const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(good.size(), 100u);
        std::uint64_t state = 12345;
        int refused = 0;
        for (int k = 0; k < 150; ++k) {
            std::string bad = good;
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const std::size_t at = static_cast<std::size_t>(state >> 33) % good.size();
            if (k % 3 == 0)
                bad.resize(at);  // cut short
            else
                for (std::size_t i = at; i < bad.size() && i < at + 1 + k % 8; ++i) bad[i] = static_cast<char>(state >> (i % 56));
            const std::string mangled = write(std::string("bad.") + format, bad);
            const Loaded before = Loaded::take();
            const std::vector<std::string> lines = load(mangled);
            const std::string prefix = " bad " + format + ", ";
            const bool refusal = !lines.empty() && lines.back().rfind(prefix, 0) == 0;
            if (refusal) {
                ++refused;
                EXPECT_EQ(lines.size(), 1u) << lines.back();
                EXPECT_EQ(lines.back().substr(lines.back().size() - 17), ", file not loaded");
                EXPECT_TRUE(Loaded::take() == before) << "the table shown stays";
                EXPECT_EQ(lines.back().find('\n'), std::string::npos);
            } else {
                ASSERT_NE(plot, nullptr);
                for (const std::string& line : lines) EXPECT_EQ(line.find(" bad "), std::string::npos) << line;
            }
        }
        EXPECT_GT(refused, 50) << "a cut file has lost its structure";
    }
}

// Every reader hashes the whole file it read, whatever the format.
TEST_F(TypedFileTest, EveryFormatTellsTheSizeAndHashOfItsFile) {
    std::string big = "x,y\n";
    for (int i = 0; i < 800000; ++i) big += std::to_string(i) + "," + std::to_string(i % 7) + "\n";
    ASSERT_GT(big.size(), (1u << 20) + (4u << 20));  // several pieces
    const std::string csv = write("hashed.csv", big);
    ASSERT_NO_FATAL_FAILURE(duck("COPY (SELECT * FROM read_csv('" + csv + "')) TO '" + (dir / "hashed.parquet").string() +
                                 "' (FORMAT parquet)"));
    const std::vector<std::string> paths = {csv, write("hashed.tsv", "a\tb\n1\t2\n"), write("hashed.txt", "1 1 1 0 id x 5"),
                                            (dir / "hashed.parquet").string(), write("hashed.json", "[{\"a\": 1}]")};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        TableContent content;
        ASSERT_EQ(readTableFileOrRefuse(path, content), LoadResult::Loaded);
        EXPECT_EQ(content.sourceBytes, bytes.size());
        EXPECT_EQ(content.sourceHash, XXH3_64bits(bytes.data(), bytes.size()));
    }
}

// A table that would not fit is refused from its first megabyte, before
// the rest is read: the fault at its end is never met.
TEST_F(TypedFileTest, TablesTooLargeForMemoryAreRefusedBeforeTheyAreRead) {
    std::string text = "id,x,kind\n";
    for (int i = 0; i < 200000; ++i) text += "r" + std::to_string(i) + "," + std::to_string(i) + ",k" + std::to_string(i % 3) + "\n";
    text += "ragged\n";
    const std::string path = write("large.csv", text);
    const std::vector<std::string> ragged = {" bad csv, row 200001 has 1 fields, the header 3, file not loaded"};
    EXPECT_EQ(load(path), ragged);
    // Two dimensions and the labels with their texts: half the table's own
    // size cannot hold it, three times can.
    const unsigned long long table = tableBytes(200000, 2, true);
    setLoadMemoryLimit(table / 2);
    EXPECT_EQ(load(path), std::vector<std::string>{" table too large for memory, file not loaded"});
    EXPECT_EQ(recordCount, 0) << "the empty table before stays";
    setLoadMemoryLimit(table * 3);
    EXPECT_EQ(load(path), ragged);
    // JSON (newline-delimited or one array, estimated from its first
    // megabyte) and Parquet (by its row count) likewise.
    for (const char* copy : {"json", "json, ARRAY true", "parquet"}) {
        SCOPED_TRACE(copy);
        const std::string typed = (dir / (std::string("large.") + (copy[0] == 'j' ? "json" : "parquet"))).string();
        // Eight one-digit columns: more bytes as a table than as text.
        std::string columns;
        for (char c = 'a'; c <= 'h'; ++c) columns += std::string(columns.empty() ? "" : ", ") + "range % 10 AS " + c;
        ASSERT_NO_FATAL_FAILURE(
            duck("COPY (SELECT " + columns + " FROM range(200000)) TO '" + typed + "' (FORMAT " + copy + ")"));
        // The file itself fits, the table read from it would not.
        setLoadMemoryLimit(std::filesystem::file_size(typed) + 1);
        EXPECT_EQ(load(typed), std::vector<std::string>{" table too large for memory, file not loaded"});
        setLoadMemoryLimit(tableBytes(200000, 8, false) * 2);
        EXPECT_EQ(load(typed), std::vector<std::string>{});
        EXPECT_EQ(recordCount, 200000);
    }
}

TEST_F(TypedFileTest, AThousandColumnsAreTooManyAxesInEveryFormat) {
    std::string columns;
    for (int j = 0; j < 1000; ++j) columns += (j ? ", " : "") + std::to_string(j) + " AS c" + std::to_string(j);
    for (const char* format : {"parquet", "json"}) {
        SCOPED_TRACE(format);
        const std::string path = (dir / (std::string("wide.") + format)).string();
        ASSERT_NO_FATAL_FAILURE(duck("COPY (SELECT " + columns + ") TO '" + path + "' (FORMAT " + format + ")"));
        const Loaded before = Loaded::take();
        EXPECT_EQ(load(path), std::vector<std::string>{" too many axis"});
        EXPECT_TRUE(Loaded::take() == before);
    }
}

// Hostile files are refused with one line before the load's account passes
// its limit, and the table shown stays: a header wider than a table may be
// (its first row cut off in the first megabyte), rows far shorter than the
// first megabyte's, no line end at all, zeros, long distinct texts, a JSON
// record of too many keys.
TEST_F(TypedFileTest, HostileFilesAreRefusedBeforeTheirMemoryPassesTheLimit) {
    std::string wide = "c0";
    for (int j = 1; j < 300000; ++j) wide += ",c" + std::to_string(j);
    std::string shortRows = "name,value\n";
    while (shortRows.size() < (1u << 20)) shortRows += std::string(1996, 'x') + ",1\n";
    for (int i = 0; i < 3000000; ++i) shortRows += "a,1\n";
    std::string keys = "[{\"k0\": 0";
    for (int j = 1; j < 1500; ++j) keys += ", \"k" + std::to_string(j) + "\": " + std::to_string(j);
    const std::string zeros = write("zeros.csv", "");
    fs::resize_file(zeros, std::size_t(200) << 20);
    const std::string labels = (dir / "labels.parquet").string();
    ASSERT_NO_FATAL_FAILURE(duck("COPY (SELECT repeat('x', 1016) || lpad(range::VARCHAR, 8, '0') AS label, range AS x "
                                 "FROM range(100000)) TO '" + labels + "'"));
    const struct {
        std::string path;
        std::size_t limit;  // 0: the machine's
        std::string line;
    } cases[] = {
        {write("wide.csv", wide + "\n1\n"), 0, " too many axis"},
        {write("short.csv", shortRows), 16 << 20, " table too large for memory, file not loaded"},
        {write("endless.csv", std::string(65 << 20, 'x')), 0, " bad csv, row longer than 64 MB, file not loaded"},
        {zeros, 0, " bad csv, binary data, file not loaded"},
        {labels, 32 << 20, " table too large for memory, file not loaded"},
        {write("keys.json", keys + "}]"), 0, " too many axis"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        setLoadMemoryLimit(0);
        ASSERT_EQ(load(write("shown.csv", "x,y\n1,2\n")), std::vector<std::string>{});
        const Loaded before = Loaded::take();
        setLoadMemoryLimit(c.limit);
        EXPECT_EQ(load(c.path), std::vector<std::string>{c.line});
        EXPECT_TRUE(Loaded::take() == before);
        if (c.limit > 0) {
            EXPECT_LE(loadMemoryPeak(), c.limit);
        }
    }
}

// A number or an instant reads as the same double from every format: an
// underflow as zero with its sign, microseconds divided once; a JSON file
// with a byte-order mark reads as one without.
TEST_F(TypedFileTest, NumbersAndInstantsReadAlikeInEveryFormat) {
    const std::string csv = write("alike.csv",
                                  "x,t\n1e-400,1979-02-22T15:23:38.596853\n-1e-400,2001-03-14T07:05:09.999999\n"
                                  "5,1969-12-31T23:59:59.000001\n");
    const std::string parquet = (dir / "alike.parquet").string();
    ASSERT_NO_FATAL_FAILURE(duck("COPY (SELECT * FROM read_csv('" + csv + "')) TO '" + parquet + "'"));
    std::string json = "\xEF\xBB\xBF[";
    std::ifstream rows(csv);
    std::string row;
    std::getline(rows, row);
    while (std::getline(rows, row)) {
        const std::size_t comma = row.find(',');
        json += std::string(json.size() > 4 ? ", " : "") + "{\"x\": \"" + row.substr(0, comma) + "\", \"t\": \"" +
                row.substr(comma + 1) + "\"}";
    }
    std::string tsv = readFile(csv);
    std::replace(tsv.begin(), tsv.end(), ',', '\t');
    std::vector<Loaded> tables;
    for (const std::string& path : {csv, write("alike.tsv", tsv), write("alike.json", json + "]"), parquet}) {
        load(path);
        tables.push_back(Loaded::take());
    }
    load(write("alike.txt", "3 1 1 0 id x 1e-400 -1e-400 5"));
    const std::vector<double> x = Loaded::take().values[0];
    for (const Loaded& table : tables) {
        ASSERT_EQ(table.names, (std::vector<std::string>{"x", "t"}));
        EXPECT_TRUE(table.values[0] == x);
        EXPECT_TRUE(std::signbit(table.values[0][1]));
        EXPECT_TRUE(table.values[1] == tables[0].values[1]);
    }
    EXPECT_EQ(x, (std::vector<double>{0.0, 0.0, 5.0}));
    EXPECT_TRUE(std::signbit(x[1]));
    EXPECT_EQ(tables[0].values[1][0], 288545018.596853);
}

TEST(MemoryTest, ContainerLimitsAreTheTightestOfTheGroupAndItsParents) {
    const fs::path root = fs::path(::testing::TempDir()) / ("korvelline_cgroup_" + std::to_string(::getpid()));
    const auto put = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text << '\n';
    };
    put("memory.max", "max");
    put("app/memory.max", "4000000000");
    put("app/inner/memory.max", "max");
    put("memory/limit_in_bytes", "1");  // not a limit file
    put("memory/job/memory.limit_in_bytes", "3000000000");
    put("memory/free/memory.limit_in_bytes", "9223372036854771712");  // v1's "no limit"
    const struct {
        const char* list;
        std::uint64_t limit;
    } cases[] = {
        {"0::/app/inner\n", 4000000000},
        {"0::/\n", 0},
        {"0::/elsewhere\n", 0},
        {"4:memory:/job\n1:cpu:/\n", 3000000000},
        {"4:cpuacct,memory:/free\n", 0},
        {"4:memory:/job\n0::/app\n", 3000000000},
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(cgroupMemoryLimit(c.list, root.string()), c.limit);
    }
    fs::remove_all(root);
}

}  // namespace
