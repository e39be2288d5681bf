// Saved sessions: a view saved and opened again is the view that was saved,
// exactly; a session that cannot be restored is refused with one line and
// leaves the view as it was.

#include <duckdb.h>
#include <nlohmann/json.hpp>
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "app/shell.h"
#include "base/textures.h"
#include "records/raster.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "session/record_codec.h"
#include "session/saved_view.h"
#include "test_support.h"

namespace {

// 600 labelled records over four dimensions, categories on d3.
std::string sessionTable() {
    std::string text = "600 4 4 1\nname d0 d1 d2 d3\n";
    for (int i = 0; i < 600; ++i)
        text += "r" + std::to_string(i) + ' ' + std::to_string(i % 97) + ' ' + std::to_string(i * 37 % 101) +
                ' ' + std::to_string(i * 0.5) + ' ' + std::to_string(i % 3) + '\n';
    return text + "label d3 3 0 low 1 mid 2 high\n";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SessionTest : public InteractionTest {
protected:
    void SetUp() override {
        InteractionTest::SetUp();
        loadTable(sessionTable());
        tablePath = dataFileName;
    }
    void TearDown() override {
        densityShading = false;
        activeTexture = 1;
        InteractionTest::TearDown();
    }

    std::string path(const char* name) const { return (tempDir / name).string(); }
    std::string exported() {
        EXPECT_TRUE(exportSelectedRecordsTo(path("export.txt")));
        return readFile(path("export.txt"));
    }
    bool open(const std::string& file) {
        bool fading = true;
        return openSessionFrom(file, fading);
    }
    void dispatch(const std::vector<Point>& points, int mods = 0) {
        interaction.strokePoints.assign(points.begin(), points.end());
        interaction.strokeCrossed = false;
        interaction.brushModifiers = mods;
        dispatchStroke();
        interaction.strokePoints.clear();
    }
    // A vertical stroke on axis i from t0 to t1 of its height.
    void brushAxis(int i, double t0, double t1, int mods = 0) {
        std::vector<Point> points;
        for (int k = 0; k <= 10; ++k)
            points.push_back({axis(i).position, 0.1 + 0.8 * (t0 + (t1 - t0) * k / 10.0)});
        dispatch(points, mods);
    }

    // Everything the view shows and brushing reads, one fact a line.
    std::string viewFacts() const {
        std::ostringstream out;
        out.precision(17);
        const PCPlot& p = *plot;
        for (int i = 0; i < p.axisCount; ++i) {
            const PCShowAxis& a = *p.axes[i];
            out << "axis " << a.dimensionIndex << ' ' << a.position << ' ' << a.selected << a.scatterOn << ' '
                << a.curveOpacity << ' ' << a.pointOpacity << " mds " << (a.mdsLayout != nullptr) << " placed "
                << p.axisFlipped(a) << int(p.axisScale(a));
            for (int k = 0; a.mdsLayout && k < a.mergedCount; ++k)
                out << ' ' << (*a.mergedAxes)[k]->dimensionIndex << '/' << int((*a.mergedFlags)[k]);
            out << '\n';
        }
        for (const auto& s : shapes) out << "shape " << s->type() << ' ' << s->selected << '\n';
        out << "switches " << p.straightLines << p.showHistograms << p.colorBySelection << p.antialiasingOff
            << densityShading << axesLocked << ' ' << curveStep << ' ' << activeTexture << ' ' << p.viewLeft
            << ' ' << p.viewRight << ' ' << p.viewBottom << ' ' << p.viewTop << ' ' << p.pointSize << ' '
            << p.curveLineWidth << ' ' << p.axisLineWidth << ' ' << p.colorDimension << ' '
            << p.hasHighlightedRecord << p.highlightedRecord << '\n';
        out << "palette " << palette->selected << ' ' << palette->colorLevel << ' '
            << palette->transparencyLevel;
        for (double c : palette->currentColor) out << ' ' << c;
        for (const auto& b : axisBrushes)
            out << "\naxis brush " << b->axis->dimensionIndex << ' ' << b->low << ' ' << b->high << ' '
                << b->insideValue << ' ' << b->outsideValue;
        for (const auto& b : angularBrushes)
            out << "\nangular brush " << b->apexAxis->dimensionIndex << ' ' << b->farAxis->dimensionIndex << ' '
                << b->apexOnLeft << ' ' << b->upperBound << ' ' << b->lowerBound << ' ' << b->apex.x << ' '
                << b->upperEnd.y << ' ' << b->lowerEnd.y << ' ' << b->inverted;
        for (const auto& b : scatterPlotBrushes) {
            out << "\nscatterplot brush " << b->leftAxis->dimensionIndex << ' ' << b->rightAxis->dimensionIndex;
            for (Point q : b->outline) out << ' ' << q.x << ',' << q.y;
        }
        // The colours in use, from the oldest paint to the latest.
        std::vector<std::size_t> paints;
        for (std::size_t k = 1; k < p.recordColors.table().size(); ++k)
            for (int i = 0; i < p.recordCount; ++i)
                if (p.recordColors.indices()[static_cast<std::size_t>(i)] == k) {
                    paints.push_back(k);
                    break;
                }
        std::sort(paints.begin(), paints.end(),
                  [&](std::size_t a, std::size_t b) { return p.recordColors.paintedAt(a) < p.recordColors.paintedAt(b); });
        out << "\npaints";
        for (std::size_t k : paints)
            for (double c : p.recordColors.table()[k]) out << ' ' << c;
        for (int i = 0; i < p.recordCount; ++i) {
            out << "\nrecord " << p.recordSelection[i] << ' ' << p.recordColors.has(i);
            if (p.recordColors.has(i))
                for (double c : p.recordColors[i]) out << ' ' << c;
        }
        return out.str();
    }

    std::string tablePath;
};

// Flips, scales, brushes of every kind in both modes, paints, a reorder, an open
// scatterplot, an MDS plot, zoom and switches: saved, then opened over
// another table, the view and the export come back exactly.
TEST_F(SessionTest, RestoresTheSavedViewAndItsExport) {
    onKey('i', px(axis(3).position), regionY());  // flipped
    onKey('l', px(axis(1).position), regionY());  // symlog: the values reach zero
    palette->deselect(0, 0);  // selection mode
    brushAxis(0, 0.2, 0.7);
    brushAxis(1, 0.0, 0.3, ModCtrl);
    brushAxis(2, 0.4, 0.5, ModShift);
    // A "<" between axes 1 and 2, whose apex lies towards axis 1.
    const double a = axis(1).position, b = axis(2).position;
    dispatch({{b - 0.02, 0.75}, {a + 0.02, 0.5}, {b - 0.02, 0.25}});
    onKey('v', regionX(2), regionY());  // the scatterplot of region 2
    idleAt(now + 6000.0);
    std::vector<Point> circle;
    const double cx = (axis(2).position + axis(3).position) / 2.0;
    for (int k = 0; k <= 40; ++k)
        circle.push_back({cx + 0.03 * std::cos(k * 0.15), 0.5 + 0.2 * std::sin(k * 0.15)});
    dispatch(circle, ModCtrl);
    onKey('m', regionX(0), regionY());  // an MDS plot of region 0
    ASSERT_TRUE(axis(0).mdsLayout);
    shapes.push_back(std::make_unique<MDSShape>(plot, &axis(0), &axis(3)));
    shapes.back()->select(0, 0);  // its member switched off
    palette->select(0, 0);        // paint mode over the selection
    palette->pickAt(0.5, 0.7);
    palette->updateColor();
    plot->highlightRecord(17);
    brushAxis(3, 0.6, 1.0);
    axis(0).position = 0.7;  // the first axis moves between the third and the last
    plot->resortAxes();
    for (char key : {'c', 'w', 'x', 'g', 'b', '5'}) onKey(key, 0, 0);
    activeTexture = 2;
    axesLocked = true;
    shapes[1]->select(0, 0);
    ASSERT_EQ(axisBrushes.size(), 3u);
    ASSERT_EQ(angularBrushes.size(), 1u);
    ASSERT_EQ(scatterPlotBrushes.size(), 1u);

    const std::string facts = viewFacts();
    const std::string records = exported();
    ASSERT_TRUE(saveSessionTo(path("view.korvelline"), false));
    EXPECT_EQ(traceLines().back(), " session saved to " + path("view.korvelline"));
    ASSERT_NO_FATAL_FAILURE(loadTable(testsupport::smallTable, "other.txt"));

    ASSERT_TRUE(openChosenPath(path("view.korvelline").c_str()));  // as File/Open and the command line do
    EXPECT_FALSE(hoverEmphasis);
    EXPECT_EQ(traceLines().back(), " session restored from " + path("view.korvelline"));
    EXPECT_EQ(dataFileName, tablePath);
    EXPECT_EQ(viewFacts(), facts);
    EXPECT_EQ(exported(), records);
}

// Each of these is refused with its one line, and the view stays as it was.
TEST_F(SessionTest, RefusesChangedTablesAndMalformedSessionsWithOneLine) {
    palette->deselect(0, 0);
    brushAxis(0, 0.2, 0.7);
    ASSERT_TRUE(saveSessionTo(path("good.korvelline"), true));
    const std::string good = readFile(path("good.korvelline"));
    const std::string table = readFile(tablePath);
    const std::string changed = " session table changed: " + tablePath + ", session not loaded";
    std::string changedTable = table;
    changedTable[changedTable.find("r3 ") + 3] = '9';  // same size, other bytes
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const struct {
        const char* name;
        std::string session;
        std::string tableText;
        std::string line;
    } cases[] = {
        {"one value of the table differs", good, changedTable, changed},
        {"not JSON", "{\"format\": ", table, " bad session, not JSON, session not loaded"},
        {"another JSON file", "{\"name\": 1}", table, " bad session, not a session, session not loaded"},
        {"a later version", replaced("\"version\": 1", "\"version\": 2"), table,
         " bad session, version 2 not supported, session not loaded"},
        {"an axis shown twice", replaced("\"dimension\": 1", "\"dimension\": 0"), table,
         " bad session, axes[1].dimension shown twice, session not loaded"},
        {"a brush on no axis", replaced("\"axis\": 0", "\"axis\": 4"), table,
         " bad session, brushes.axis[0].axis out of range, session not loaded"},
        {"a highlight beyond the records", replaced("\"highlighted\": null", "\"highlighted\": 600"), table,
         " bad session, view.highlighted out of range, session not loaded"},
        {"another dimension count", replaced("\"dimensions\": 4", "\"dimensions\": 5"), table,
         " bad session, its table reads with another shape, session not loaded"},
        {"records cut short", replaced("\"encoding\": \"packed\"", "\"encoding\": \"runs\""), table,
         " bad session, records.colors.data does not match the records, session not loaded"},
    };
    const std::string facts = viewFacts();
    const PCPlot* shown = plot;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path("bad.korvelline"), std::ios::binary) << c.session;
        std::ofstream(tablePath, std::ios::binary) << c.tableText;
        clearTrace();
        EXPECT_FALSE(open(path("bad.korvelline")));
        EXPECT_EQ(traceLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(plot, shown);
        EXPECT_EQ(viewFacts(), facts);
    }
    // A table that no longer exists is missing, not changed.
    std::filesystem::remove(tablePath);
    clearTrace();
    EXPECT_FALSE(open(path("good.korvelline")));
    EXPECT_EQ(traceLines(),
              std::vector<std::string>{" session table missing: " + tablePath + ", session not loaded"});
}

// Mangled sessions: each is restored or refused with its one line, and a
// refusal leaves the view as it was.
TEST_F(SessionTest, MangledSessionsAreRestoredOrRefusedWithOneLine) {
    palette->deselect(0, 0);
    brushAxis(0, 0.2, 0.7);
    brushAxis(2, 0.4, 0.5, ModShift);
    onKey('m', regionX(1), regionY());
    shapes.push_back(std::make_unique<MDSShape>(plot, &axis(1), &axis(3)));
    ASSERT_TRUE(saveSessionTo(path("good.korvelline"), true));
    const std::string good = readFile(path("good.korvelline"));
    const nlohmann::json parsed = nlohmann::json::parse(good);
    const nlohmann::json flat = parsed.flatten();
    std::vector<std::string> leaves;
    for (const auto& leaf : flat.items()) leaves.push_back(leaf.key());
    const std::vector<nlohmann::json> odd = {nullptr,
                                             -1,
                                             0,
                                             1,
                                             2,
                                             601,
                                             1e308,
                                             -0.5,
                                             4294967296ULL,
                                             true,
                                             "",
                                             "AAAA",
                                             "runs",
                                             nlohmann::json::array(),
                                             nlohmann::json::object()};
    std::mt19937 random(20240611);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    std::string facts = viewFacts();
    int restored = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string text = good;
        if (round % 2 == 0) {
            nlohmann::json mangled = parsed;
            const nlohmann::json::json_pointer at(leaves[pick(leaves.size())]);
            nlohmann::json& parent = mangled[at.parent_pointer()];
            if (pick(4) == 0 && parent.is_object())
                parent.erase(at.back());
            else
                mangled[at] = odd[pick(odd.size())];
            text = mangled.dump(1);
        } else if (round % 4 == 1) {
            text.resize(pick(text.size()));
        } else {
            for (int k = 0; k < 3; ++k) text[pick(text.size())] = static_cast<char>(pick(256));
        }
        std::ofstream(path("mangled.korvelline"), std::ios::binary) << text;
        clearTrace();
        const PCPlot* before = plot;
        if (open(path("mangled.korvelline"))) {
            ++restored;
            EXPECT_EQ(traceLines().back(), " session restored from " + path("mangled.korvelline"));
            facts = viewFacts();
            continue;
        }
        const std::vector<std::string> lines = traceLines();
        ASSERT_EQ(lines.size(), 1u) << text;
        const bool bad = lines[0].rfind(" bad session, ", 0) == 0;
        EXPECT_TRUE(bad || lines[0].rfind(" session table changed: ", 0) == 0 ||
                    lines[0].rfind(" session table missing: ", 0) == 0)
            << lines[0];
        EXPECT_EQ(lines[0].substr(lines[0].size() - 20), ", session not loaded");
        ASSERT_EQ(plot, before);
        ASSERT_EQ(viewFacts(), facts) << lines[0];
    }
    EXPECT_GT(restored, 10);  // harmless changes (a position, a switch) still open
}

// With another table shown, a session that cannot be restored (its table
// reads with another shape, is no table, or is too large a file for its
// table) and a table that is refused leave the view and its name as they were.
TEST_F(SessionTest, RefusedSessionsAndTablesKeepTheSelectionShown) {
    ASSERT_TRUE(saveSessionTo(path("good.korvelline"), true));
    const std::string good = readFile(path("good.korvelline"));
    ASSERT_NO_FATAL_FAILURE(loadTable(testsupport::smallTable, "shown.txt"));
    palette->deselect(0, 0);
    brushAxis(1, 0.2, 0.7);
    const std::string shown = dataFileName, selection = exported();
    const std::string notATable = "no table at all\n";
    std::ofstream(path("words.txt"), std::ios::binary) << notATable;
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(XXH3_64bits(notATable.data(), notATable.size())));
    auto edited = [&](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    std::string words = edited(good, tablePath, path("words.txt"));
    words = edited(words, "\"bytes\": " + std::to_string(readFile(tablePath).size()), "\"bytes\": 16");
    words = edited(words, words.substr(words.find("\"xxh3\": \""), 26), std::string("\"xxh3\": \"") + hash + "\"");
    std::ofstream(path("ragged.csv"), std::ios::binary) << "a,b\n1,2\n3\n";
    const struct {
        std::string session;  // empty: the table is opened on its own
        std::vector<std::string> lines;
    } cases[] = {
        {edited(good, "\"records\": 600", "\"records\": 599"),
         {" bad session, its table reads with another shape, session not loaded"}},
        {words, {" bad header, file not loaded", " bad session, its table did not load, session not loaded"}},
        {good + std::string(17 << 20, ' '), {" bad session, too large for its table, session not loaded"}},
        {"", {" bad csv, row 2 has 1 fields, the header 2, file not loaded"}},
    };
    for (const auto& c : cases) {
        clearTrace();
        if (c.session.empty()) {
            ASSERT_TRUE(setDataFileName(path("ragged.csv").c_str()));
            EXPECT_FALSE(loadDataFile());
        } else {
            std::ofstream(path("bad.korvelline"), std::ios::binary) << c.session;
            EXPECT_FALSE(open(path("bad.korvelline")));
        }
        EXPECT_EQ(traceLines(), c.lines);
        EXPECT_EQ(dataFileName, shown);
        EXPECT_TRUE(exported() == selection);
    }
}

// Tables of no records, in every format and of one to three columns, are
// drawn (record by record and from bins), brushed, exported and saved.
TEST_F(SessionTest, TablesOfNoRecordsDrawBrushExportAndSave) {
    std::vector<std::string> files;
    for (const char* name : {"a.txt", "b.csv", "c.tsv", "d.json"}) files.push_back(path(name));
    std::ofstream(files[0]) << "0 3 3 1 name a b c";
    std::ofstream(files[1]) << "a\n";
    std::ofstream(files[2]) << "a\tb\n";
    std::ofstream(files[3]) << "[]";
    for (const char* columns : {"1.5 AS x", "1.5 AS x, 2.5 AS y", "1.5 AS x, 'a' AS t, DATE '2001-03-14' AS d"}) {
        files.push_back(path(("p" + std::to_string(files.size()) + ".parquet").c_str()));
        duckdb_database database = nullptr;
        duckdb_connection connection = nullptr;
        ASSERT_EQ(duckdb_open(nullptr, &database), DuckDBSuccess);
        ASSERT_EQ(duckdb_connect(database, &connection), DuckDBSuccess);
        const std::string sql = "COPY (SELECT " + std::string(columns) + " WHERE false) TO '" + files.back() + "'";
        EXPECT_EQ(duckdb_query(connection, sql.c_str(), nullptr), DuckDBSuccess) << sql;
        duckdb_disconnect(&connection);
        duckdb_close(&database);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(setDataFileName(file.c_str()));
        ASSERT_TRUE(loadDataFile());
        ASSERT_EQ(recordCount, 0);
        for (int threshold : {1, 1 << 30}) {
            setBinnedRecordThreshold(threshold);
            plot->straightLines = threshold > 1;
            if (plot->axisCount > 1) axis(0).scatterOn = true;
            FrameAxes frame;
            fillFrameAxes(*plot, frame);
            plot->captureAxisPositions();
            RasterImage image;
            image.resize(200, 100);
            rasteriseRecordLayer(*plot, frame, image, 2);
        }
        setBinnedRecordThreshold(0);
        if (plot->axisCount > 0) brushAxis(0, 0.2, 0.7);
        const std::string records = exported();
        ASSERT_TRUE(saveSessionTo(path("none.korvelline"), true));
        EXPECT_TRUE(open(path("none.korvelline")));
        EXPECT_EQ(exported(), records);
        loadTable(records, "again.txt");
        EXPECT_EQ(recordCount, 0);
    }
}

// A session records the column rules its table was read under; one that
// records none reads its table without the later rules (a date written with
// a month name is then a text), as it was read when it was saved.
TEST_F(SessionTest, SessionsReadTheirTableUnderTheRulesTheyWereSavedWith) {
    ASSERT_NO_FATAL_FAILURE(
        loadTable("when,x\nJan 1 2000,1\nJan 1 2000,2\nFeb 3 2001,3\nJan 1 2000,4\nFeb 3 2001,5\n", "rules.csv"));
    ASSERT_EQ(dimensionTable[0]->format, ValueFormat::Date);
    ASSERT_TRUE(saveSessionTo(path("rules.korvelline"), true));
    const std::string saved = readFile(path("rules.korvelline"));
    ASSERT_NE(saved.find("\"columnRules\": 2"), std::string::npos);
    const std::string from = ",\n  \"columnRules\": 2";
    std::ofstream(path("old.korvelline"), std::ios::binary) << std::string(saved).replace(saved.find(from), from.size(), "");
    ASSERT_TRUE(open(path("old.korvelline")));
    EXPECT_EQ(dimensionTable[0]->format, ValueFormat::Number);
    EXPECT_EQ(dimensionTable[0]->labelCount, 2);
    ASSERT_TRUE(saveSessionTo(path("again.korvelline"), true));
    EXPECT_NE(readFile(path("again.korvelline")).find("\"columnRules\": 1"), std::string::npos);
    ASSERT_TRUE(open(path("rules.korvelline")));
    EXPECT_EQ(dimensionTable[0]->format, ValueFormat::Date);
}

TEST(RecordCodecTest, StoresIndicesExactlyInTheSmallerForm) {
    std::mt19937 random(7);
    auto randomIndices = [&](std::size_t n, std::uint32_t distinct) {
        std::vector<std::uint32_t> v(n);
        for (auto& i : v) i = random() % distinct;
        return v;
    };
    std::vector<std::uint32_t> halves(1000, 0);
    std::fill(halves.begin() + 500, halves.end(), 1u);
    std::vector<std::uint32_t> alternating(1001);
    for (std::size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2;
    const struct {
        const char* name;
        std::vector<std::uint32_t> indices;
        std::uint32_t distinct;
        int bits;
        std::size_t bytes;
    } cases[] = {
        {"no records", {}, 0, 0, 0},
        {"one value", std::vector<std::uint32_t>(1000, 0), 1, 0, 0},
        {"two long runs", halves, 2, IndexedColumn::runBits, 6},
        {"alternating bits", alternating, 2, 1, 126},
        {"three values", randomIndices(999, 3), 3, 2, 250},
        {"thirty values", randomIndices(100, 30), 30, 8, 100},
        {"three hundred values", randomIndices(100, 300), 300, 16, 200},
        {"many values", {16384, 20000, 69999, 30000, 16384, 40000, 50000, 60000, 17000, 18000}, 70000, 32, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const IndexedColumn column = encodeIndices(c.indices, c.distinct);
        EXPECT_EQ(column.bits, c.bits);
        EXPECT_EQ(column.bytes.size(), c.bytes);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(fromBase64(toBase64(column.bytes), bytes));
        EXPECT_EQ(bytes, column.bytes);
        std::vector<std::uint32_t> decoded;
        EXPECT_TRUE(decodeIndices(
            column, c.indices.size(), c.distinct,
            [&](std::size_t, std::size_t n, std::uint32_t k) { decoded.insert(decoded.end(), n, k); }));
        EXPECT_EQ(decoded, c.indices);
        // Another record count (beyond a packed column's last byte), or an
        // index beyond the values, is refused.
        auto none = [](std::size_t, std::size_t, std::uint32_t) {};
        if (c.bits != 0) {
            EXPECT_FALSE(decodeIndices(column, c.indices.size() + 8, c.distinct, none));
        }
        if (!c.indices.empty()) {
            const std::uint32_t top = *std::max_element(c.indices.begin(), c.indices.end());
            EXPECT_FALSE(decodeIndices(column, c.indices.size(), top, none));
        }
    }
    std::vector<std::uint8_t> ignored;
    for (const char* bad : {"abc", "ab=c", "a===", "@@@@", "AA==AAAA"})
        EXPECT_FALSE(fromBase64(bad, ignored)) << bad;
}

}  // namespace
