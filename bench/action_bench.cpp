// action_bench: times what the user waits for after each action, from the
// event to the complete picture on screen, on tables of 8 dimensions.
//
//   action_bench [--large] [--repeats n] [--load-repeats n] [--drags n] [--work dir]
//                [--only case,case...] [records...]
//
// Sizes: 1,000,000 and 10,000,000 records (or those given), and with --large
// also 100,000,000. Each table is written once by make_table (seed 7, no
// labels) into the working folder (default /tmp/korvelline_action_bench),
// with a Parquet copy made by DuckDB, and reused by later runs.
//
// The real handlers are driven in this process: keys (onKey), mouse buttons
// and drags (onMouseButton, onMouseDrag), the reshape callback, the load and
// the session restore; frames and idle steps then run as the program's main
// loop runs them (action_pump.h) until a frame shows the complete picture:
// the table installed, the record layer drawn whole and nothing animating.
// Every action is repeated (20 times unless --repeats; 5, loads 3 and 10
// drags at 100,000,000 records) from varied states, so
// that a repeat never finds what the one before it counted: a new paint
// colour or brushed interval, another region, axis or size.
//
// --drags: ALT drags of an axis (default 50), each ten moves and a drop.
// --only: the cases whose names start with one of the words given.
//
// Each case prints one line
//   bench=action case=<action>-<records> first_ms= median_ms= p90_ms= max_ms=
//         geometry_ms= floor_ms= goal_ms= p90_over_goal= max_over_goal= ms= ratio=
//         floor_work= counted= width= height= records= reps=
// first_ms is the first repetition, the rest are over the others. geometry_ms
// is the median frame of the states reached redrawn from kept bins (what a
// change of geometry costs); floor_ms the median over the repetitions of the
// least the action has to count (count_floors.h; floor_work says what: new
// pairs placed and counted, cells placed and counted, columns, the brush), 0
// for an action that counts nothing new. goal_ms: for actions that count,
// geometry + 2 x floor; for those that count nothing new, 1.5 x geometry;
// for loads, 1.3 x the floor (the parse on every core, or DuckDB's fetch);
// for the geometry-* frames 30 ms straight, 45 ms with curves or a region
// open. ms and ratio repeat the p90 and p90 / goal.
// counted is the median of the regions and cells the program counted.
// Transitions print fps= worst_frame_ms= frames= instead of a goal.
//
// Bad input (no display, a table that does not fit in memory or on disk)
// ends the run with one line saying so and no figure.
//
// Under valgrind --tool=callgrind --collect-atstart=no only the timed part
// of every repetition (the event to the complete picture, and the frames of
// the geometry cases) is collected, so the instruction counts are the
// actions' own.

#include <FL/Fl.H>
#include <FL/glut.H>
#include <GL/gl.h>
#include <duckdb.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <streambuf>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "action_pump.h"
#include "animation/animation.h"
#include "base/memory.h"
#include "bench_support.h"
#include "base/platform.h"
#include "bins/binned_table.h"
#include "records/draw_classes.h"
#include "brush/brush.h"
#include "count_floors.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/progress.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "session/saved_view.h"
#include "session/session.h"
#include "shapes/shape.h"

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define KORVELLINE_TOGGLE_COLLECT() CALLGRIND_TOGGLE_COLLECT
#endif
#endif
#ifndef KORVELLINE_TOGGLE_COLLECT
#define KORVELLINE_TOGGLE_COLLECT() ((void)0)
#endif

namespace fs = std::filesystem;

// Xlib's own header defines macros (ButtonPress, None) that clash with the
// program's names; the two calls that find the display are all it needs.
extern "C" {
struct _XDisplay;
_XDisplay* XOpenDisplay(const char* name);
int XCloseDisplay(_XDisplay* display);
}

namespace {

constexpr int kWidth = 1180;
constexpr int kHeight = 500;
constexpr int kDims = 8;
constexpr double kTimeoutMs = 600000.0;
constexpr double kTransitionMs = 1000.0;

// ---------------------------------------------------------------- hooks

// The program's clock runs with the steady clock; between repetitions it is
// moved on, so that no press is taken for the second half of a double click
// and every fading track is gone.
double clockOffset = 0.0;
int heldModifiers = 0;

void moveClockOn() { clockOffset += 5000.0; }

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

[[noreturn]] void refuse(const std::string& why) {
    std::printf("action_bench: %s, no figures\n", why.c_str());
    std::fflush(stdout);
    std::exit(2);
}

// What callgrind collects while one lives (nothing outside valgrind).
struct Collected {
    Collected() { KORVELLINE_TOGGLE_COLLECT(); }
    ~Collected() { KORVELLINE_TOGGLE_COLLECT(); }
    Collected(const Collected&) = delete;
    Collected& operator=(const Collected&) = delete;
};

// ---------------------------------------------------------------- figures

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(at);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (at - static_cast<double>(lo)) * (v[hi] - v[lo]);
}
double median(const std::vector<double>& v) { return percentile(v, 0.5); }

// The least an action counts, by kind of work, and what each costs here.
struct Work {
    int pairsPlaced = 0;
    int pairsCounted = 0;
    int pairsCountedFine = 0;
    int cellsPlaced = 0;
    int cellsCounted = 0;
    int columns = 0;
    const char* brush = nullptr;  // "axis", "angular", "outline", "paint"

    bool none() const {
        return pairsPlaced + pairsCounted + pairsCountedFine + cellsPlaced + cellsCounted + columns == 0 && !brush;
    }
    std::string text() const {
        if (none()) return "none";
        char out[160];
        std::snprintf(out, sizeof out, "pairs_placed:%d,pairs_counted:%d,points_counted:%d,cells_placed:%d,"
                                       "cells_counted:%d,columns:%d,brush:%s",
                      pairsPlaced, pairsCounted, pairsCountedFine, cellsPlaced, cellsCounted, columns,
                      brush ? brush : "none");
        return out;
    }
};

struct Repetition {
    double ms = 0.0;
    double geometryMs = 0.0;
    double floorMs = 0.0;
    long counted = 0;
    int perRecordRegions = 0;  // regions the complete picture drew record by record
    Work work;
};

// Geometry: the frame from kept bins, at most 30 ms straight and 45 ms with
// curves or an open region.
enum class Goal { Counts, NothingNew, Load, Geometry, GeometryCurved, None };

void printCase(const std::string& name, long records, const std::vector<Repetition>& reps, Goal goal,
               const std::string& extra = "") {
    if (reps.empty()) return;
    std::vector<double> rest, geometry, floors, counted;
    int perRecord = 0;
    for (std::size_t k = 0; k < reps.size(); ++k) {
        perRecord = std::max(perRecord, reps[k].perRecordRegions);
        if (k > 0) rest.push_back(reps[k].ms);
        geometry.push_back(reps[k].geometryMs);
        floors.push_back(reps[k].floorMs);
        counted.push_back(static_cast<double>(reps[k].counted));
    }
    if (rest.empty()) rest.push_back(reps[0].ms);
    const double g = median(geometry);
    const double f = median(floors);
    double goalMs = 0.0;
    switch (goal) {
    case Goal::Counts: goalMs = f > 0.0 ? g + 2.0 * f : 1.5 * g; break;
    case Goal::NothingNew: goalMs = 1.5 * g; break;
    case Goal::Load: goalMs = 1.3 * f; break;
    case Goal::Geometry: goalMs = 30.0; break;
    case Goal::GeometryCurved: goalMs = 45.0; break;
    case Goal::None: break;
    }
    // The work of the median repetition's floor.
    std::size_t at = 0;
    for (std::size_t k = 0; k < reps.size(); ++k)
        if (std::fabs(reps[k].floorMs - f) < std::fabs(reps[at].floorMs - f)) at = k;
    const std::string work = goal == Goal::Load ? extra.substr(0, 0) : reps[at].work.text();
    std::printf("bench=action case=%s-%ld first_ms=%.1f median_ms=%.1f p90_ms=%.1f max_ms=%.1f geometry_ms=%.1f "
                "floor_ms=%.1f",
                name.c_str(), records, reps[0].ms, median(rest), percentile(rest, 0.9),
                *std::max_element(rest.begin(), rest.end()), g, f);
    // ms and ratio: the p90 and its share of the goal.
    if (goal != Goal::None)
        std::printf(" goal_ms=%.1f p90_over_goal=%.2f max_over_goal=%.2f ms=%.1f ratio=%.2f", goalMs,
                    percentile(rest, 0.9) / goalMs, *std::max_element(rest.begin(), rest.end()) / goalMs,
                    percentile(rest, 0.9), percentile(rest, 0.9) / goalMs);
    if (!work.empty()) std::printf(" floor_work=%s", work.c_str());
    std::printf(" counted=%.0f most_per_record_regions=%d width=%d height=%d records=%ld reps=%zu%s\n", median(counted),
                perRecord, plot ? plot->viewportWidth : 0, plot ? plot->viewportHeight : 0, records, reps.size(),
                extra.c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------- tables

std::string runCommand(const std::string& command) {
    if (std::system(command.c_str()) != 0) refuse("\"" + command + "\" failed");
    return command;
}

struct Duck {
    duckdb_database database = nullptr;
    duckdb_connection connection = nullptr;
    explicit Duck(int threads) {
        duckdb_config config = nullptr;
        duckdb_create_config(&config);
        duckdb_set_config(config, "threads", std::to_string(threads).c_str());
        if (duckdb_open_ext(nullptr, &database, config, nullptr) == DuckDBError ||
            duckdb_connect(database, &connection) == DuckDBError)
            refuse("DuckDB did not open");
        duckdb_destroy_config(&config);
    }
    ~Duck() {
        duckdb_disconnect(&connection);
        duckdb_close(&database);
    }
    void run(const std::string& sql) {
        duckdb_result result;
        if (duckdb_query(connection, sql.c_str(), &result) == DuckDBError)
            refuse("DuckDB refused " + sql + ": " + duckdb_result_error(&result));
        duckdb_destroy_result(&result);
    }
    // Every chunk of a streaming result, converting nothing: rows.
    long long fetchAll(const std::string& sql) {
        duckdb_prepared_statement prepared = nullptr;
        duckdb_pending_result pending = nullptr;
        duckdb_result result;
        if (duckdb_prepare(connection, sql.c_str(), &prepared) == DuckDBError ||
            duckdb_pending_prepared_streaming(prepared, &pending) == DuckDBError ||
            duckdb_execute_pending(pending, &result) == DuckDBError)
            refuse("DuckDB could not run " + sql);
        long long rows = 0;
        while (duckdb_data_chunk chunk = duckdb_fetch_chunk(result)) {
            rows += static_cast<long long>(duckdb_data_chunk_get_size(chunk));
            duckdb_destroy_data_chunk(&chunk);
        }
        duckdb_destroy_result(&result);
        duckdb_destroy_pending(&pending);
        duckdb_destroy_prepare(&prepared);
        return rows;
    }
};

struct TableFiles {
    std::string text;
    std::string parquet;
};

// The table of `records` x 8 in the working folder, written when missing.
TableFiles tableFiles(const std::string& work, const std::string& makeTable, long records) {
    TableFiles files{work + "/t-" + std::to_string(records) + ".txt", work + "/t-" + std::to_string(records) + ".parquet"};
    std::error_code error;
    fs::create_directories(work, error);
    // About 58 bytes of text and 64 of Parquet a record.
    const double needed = (fs::exists(files.text) ? 0.0 : 60.0 * records) + (fs::exists(files.parquet) ? 0.0 : 70.0 * records);
    const fs::space_info space = fs::space(work, error);
    if (error || static_cast<double>(space.available) < needed + 1e9)
        refuse("the table of " + std::to_string(records) + " records does not fit on the disk of " + work);
    if (!fs::exists(files.text)) {
        const std::string partial = files.text + ".partial";
        runCommand("'" + makeTable + "' " + std::to_string(records) + " 8 '" + partial + "' 7");
        fs::rename(partial, files.text);
    }
    if (!fs::exists(files.parquet)) {
        std::string columns;
        for (int d = 1; d <= kDims; ++d) columns += (d > 1 ? ", 'x" : "'x") + std::to_string(d) + "': 'DOUBLE'";
        Duck duck(bench::programThreads());
        const std::string partial = files.parquet + ".partial";
        duck.run("COPY (SELECT * FROM read_csv('" + files.text + "', delim=' ', skip=2, header=false, columns={" +
                 columns + "})) TO '" + partial + "' (FORMAT parquet)");
        fs::rename(partial, files.parquet);
    }
    return files;
}

// The parse floor of the text format on every core: the file cut into as
// many parts as threads at blanks, each read in blocks of 4 MB and every
// token parsed once as a number.
double parseFloor(const std::string& path) {
    const int threads = bench::programThreads();
    const double start = steadyMs();
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) refuse("cannot read " + path);
    const long long size = ::lseek(fd, 0, SEEK_END);
    std::vector<long long> cuts(static_cast<std::size_t>(threads) + 1, size);
    cuts[0] = 0;
    for (int k = 1; k < threads; ++k) {
        long long at = size * k / threads;
        char c = 'x';
        while (at < size && ::pread(fd, &c, 1, at) == 1 && c != ' ' && c != '\n') ++at;
        cuts[static_cast<std::size_t>(k)] = at;
    }
    std::vector<double> sums(static_cast<std::size_t>(threads), 0.0);
    runParts(threads, threads, [&](int k) {
        std::vector<char> block(std::size_t(4) << 20);
        std::string carry;
        double sum = 0.0;
        for (long long at = cuts[static_cast<std::size_t>(k)], to = cuts[static_cast<std::size_t>(k) + 1]; at < to;) {
            const long long n = std::min<long long>(static_cast<long long>(block.size()) - static_cast<long long>(carry.size()), to - at);
            std::copy(carry.begin(), carry.end(), block.begin());
            const ssize_t got = ::pread(fd, block.data() + carry.size(), static_cast<std::size_t>(n), at);
            if (got != n) break;
            at += n;
            std::size_t end = carry.size() + static_cast<std::size_t>(n);
            const std::size_t filled = end;
            if (at < to)
                while (end > 0 && block[end - 1] != ' ' && block[end - 1] != '\n') --end;
            carry.assign(block.data() + end, block.data() + filled);
            const char* p = block.data();
            const char* stop = p + end;
            while (p < stop) {
                while (p < stop && (*p == ' ' || *p == '\n')) ++p;
                const char* token = p;
                while (p < stop && *p != ' ' && *p != '\n') ++p;
                double value = 0.0;
                std::from_chars(token, p, value);
                sum += value;
            }
        }
        sums[static_cast<std::size_t>(k)] = sum;
    });
    ::close(fd);
    return steadyMs() - start;
}

double parquetFloor(const std::string& path) {
    Duck duck(bench::programThreads());
    const double start = steadyMs();
    if (duck.fetchAll("SELECT * FROM read_parquet('" + path + "')") <= 0) refuse("DuckDB read no rows of " + path);
    return steadyMs() - start;
}

// ---------------------------------------------------------------- the view in pixels

int pixelX(double u) { return static_cast<int>(std::lround((u - plot->viewLeft) / (plot->viewRight - plot->viewLeft) * plot->viewportWidth)); }
int pixelY(double v) {
    return static_cast<int>(std::lround((1.0 - (v - plot->viewBottom) / (plot->viewTop - plot->viewBottom)) * plot->viewportHeight));
}
double axisX(int i) { return plot->axes[static_cast<std::size_t>(i)]->position; }

// ---------------------------------------------------------------- what must be counted

// What the bins of a state are counted from, and what has been counted so
// far since the table was loaded: a pair's bins serve either order of its
// dimensions, a flip changes no count (the bins mirror), a scale does.
class CountModel {
public:
    void reset() {
        placedPairs_.clear();
        countedPairs_.clear();
        placedCells_.clear();
        countedCells_.clear();
        columns_.clear();
        for (int d = 0; d < maxSlots; ++d) columns_.insert(key(d, AxisScale::Linear));
    }

    // What the state now needs that nothing counted before gives; marks it counted.
    Work need() {
        Work w;
        const PCPlot& p = *plot;
        const Colouring colouring{p.colorRevision, selectionOrdersRecords(p) ? p.selectionRevision + 1 : 0};
        for (int i = 0; i < p.axisCount; ++i) {
            const int d = p.axes[static_cast<std::size_t>(i)]->dimensionIndex;
            if (columns_.insert(dimensionKey(d)).second) ++w.columns;
        }
        for (int i = 0; i + 1 < p.axisCount; ++i) {
            const bool open = p.axes[static_cast<std::size_t>(i)]->scatterOn;
            if (p.straightLines && !open)
                needPair(i, false, colouring, w);
            else
                needCells(i, colouring, w);
            if (open) needPair(i, true, colouring, w);
        }
        return w;
    }

private:
    using Colouring = std::pair<std::uint64_t, std::uint64_t>;
    static int key(int d, AxisScale s) { return d * 4 + static_cast<int>(s); }
    static int dimensionKey(int d) {
        const Dimension* dim = plot->dimensionAt(d);
        return key(d, dim ? dim->scale : AxisScale::Linear);
    }
    static int axisKey(int i) {
        if (i < 0 || i >= plot->axisCount) return -1;
        return dimensionKey(plot->axes[static_cast<std::size_t>(i)]->dimensionIndex);
    }

    void needPair(int i, bool fine, const Colouring& colouring, Work& w) {
        const int a = axisKey(i), b = axisKey(i + 1);
        const std::pair<int, int> pair{std::min(a, b), std::max(a, b)};
        if (placedPairs_.insert(pair).second) ++w.pairsPlaced;
        auto found = countedPairs_.find(pair);
        if (found == countedPairs_.end() || found->second.first != colouring || (fine && !found->second.second)) {
            ++(fine ? w.pairsCountedFine : w.pairsCounted);
            countedPairs_[pair] = {colouring, fine || (found != countedPairs_.end() && found->second.first == colouring &&
                                                       found->second.second)};
        }
    }

    void needCells(int i, const Colouring& colouring, Work& w) {
        std::array<int, 4> quad{axisKey(i - 1), axisKey(i), axisKey(i + 1), axisKey(i + 2)};
        std::array<int, 4> reversed{quad[3], quad[2], quad[1], quad[0]};
        const std::array<int, 4> canonical = std::min(quad, reversed);
        if (placedCells_.insert(canonical).second) {
            ++w.cellsPlaced;  // counted in the same pass
            countedCells_[canonical] = colouring;
            return;
        }
        auto found = countedCells_.find(canonical);
        if (found == countedCells_.end() || found->second != colouring) {
            ++w.cellsCounted;
            countedCells_[canonical] = colouring;
        }
    }

    std::set<std::pair<int, int>> placedPairs_;
    std::map<std::pair<int, int>, std::pair<Colouring, bool>> countedPairs_;
    std::set<std::array<int, 4>> placedCells_;
    std::map<std::array<int, 4>, Colouring> countedCells_;
    std::set<int> columns_;
};

// What each kind of work costs on this table now, measured in the same run:
// sampled every few repetitions of a case, between them, so that the floors
// see the machine as the repetitions do; the medians of a case's samples.
class Floors {
public:
    void reset() {
        for (std::vector<double>& t : samples_) t.clear();
    }
    // One timing of each kind of work on the current state.
    void sample() {
        const PCPlot& p = *plot;
        const int records = p.recordCount;
        // Four axes' coordinates are enough to time a pair and a region's cells.
        coordinates_.resize(4);
        for (int i = 0; i < 4; ++i) {
            const Dimension* d = p.dimensionAt(p.axes[static_cast<std::size_t>(i)]->dimensionIndex);
            coordinates_[static_cast<std::size_t>(i)] = bench::coordinatesOf(d->positions(), records);
        }
        const bench::ColourKeys keys = bench::colourKeysOf(p, selectionOrdersRecords(p));
        auto c = [&](int i) { return coordinates_[static_cast<std::size_t>(i)].data(); };
        const std::vector<bench::Pair> pairs{{c(0), c(1)}, {c(2), c(3)}};
        const std::vector<bench::Quad> quads{{c(0), c(1), c(2), c(3)}, {c(1), c(2), c(3), c(0)}};
        samples_[0].push_back(counter_.placePairs(pairs, records) / 2.0);
        samples_[1].push_back(counter_.countPairs(keys, pairs, records, false) / 2.0);
        samples_[2].push_back(counter_.countPairs(keys, pairs, records, true) / 2.0);
        samples_[3].push_back(counter_.placeCells(keys, quads, records) / 2.0);
        samples_[4].push_back(counter_.countCells(keys, quads, records) / 2.0);
        const Dimension* d = p.dimensionAt(p.axes[3]->dimensionIndex);
        samples_[5].push_back(bench::columnFloor(*d, d->logarithmicScale(), scratch_, column_));
    }
    // At least three samples for the case.
    void complete() {
        while (samples_[0].size() < 3) sample();
    }
    std::size_t samples() const { return samples_[0].size(); }

    // The brush's own floor on the current table: median of three.
    double brush(const bench::BrushFloorInput& in) {
        std::vector<double> t;
        for (int k = 0; k < 3; ++k) t.push_back(bench::brushFloor(in, plot->recordCount, codes_, indices_));
        return median(t);
    }

    double of(const Work& w, double brushMs = 0.0) const {
        return w.pairsPlaced * unit(0) + w.pairsCounted * unit(1) + w.pairsCountedFine * unit(2) +
               w.cellsPlaced * unit(3) + w.cellsCounted * unit(4) + w.columns * unit(5) + brushMs;
    }

    std::string units() const {
        char text[240];
        std::snprintf(text, sizeof text, " unit_pair_place_ms=%.1f unit_pair_count_ms=%.1f unit_points_count_ms=%.1f "
                                         "unit_cells_place_ms=%.1f unit_cells_count_ms=%.1f unit_column_ms=%.1f samples=%zu",
                      unit(0), unit(1), unit(2), unit(3), unit(4), unit(5), samples_[0].size());
        return text;
    }

private:
    bench::CountFloor counter_;
    std::vector<bench::Coordinates> coordinates_;
    std::vector<float> scratch_;
    bench::Coordinates column_;
    std::vector<unsigned char> codes_;
    std::vector<std::uint16_t> indices_;
    // Per kind: pair placed, pair counted, points counted, cells placed,
    // cells counted, column.
    std::array<std::vector<double>, 6> samples_;

    double unit(std::size_t kind) const { return median(samples_[kind]); }
};

// ---------------------------------------------------------------- the session of one table

class Actions {
public:
    Actions(long records, const TableFiles& files, int repeats, int loadRepeats, int drags)
        : records_(records), files_(files), repeats_(repeats), loadRepeats_(loadRepeats), drags_(drags) {}

    bool wanted(const std::string& name) const {
        if (only_.empty()) return true;
        for (const std::string& o : only_)
            if (name.rfind(o, 0) == 0) return true;
        return false;
    }
    void only(std::vector<std::string> names) { only_ = std::move(names); }

    void run() {
        if (wanted("load")) loads();
        if (plot == nullptr || plot->recordCount != records_) loadOnce(files_.text);
        geometryCases();
        if (wanted("key-c")) keyC();
        if (wanted("region")) regions();
        if (wanted("axis-brush") || wanted("angular-brush") || wanted("scatter-brush")) selectionBrushes();
        if (wanted("paint-brush")) paintBrushes();
        if (wanted("alt-drag")) altDrags();
        if (wanted("key-i")) keyI();
        if (wanted("key-l")) keyL();
        if (wanted("key-g")) keyG();
        if (wanted("resize")) resizes();
        if (wanted("session-restore")) sessionRestores();
    }

private:
    // ------------------------------------------------------------ driving

    // Every frame asked for is drawn and the picture is complete, with no
    // track fading: where the next timed event starts.
    void settle() {
        vanishingTracks.clear();
        requestRedraw();
        const bench::PumpResult r = pump_.untilComplete(kTimeoutMs);
        if (!r.complete) refuse("the picture never became complete before an action");
        moveClockOn();
    }

    // The event, then frames until the complete picture; ms from the event.
    double timed(const std::function<void()>& event, bench::PumpResult* out = nullptr) {
        bench::PumpResult r;
        const double start = steadyMs();
        {
            const Collected collected;
            event();
            r = pump_.untilComplete(kTimeoutMs);
        }
        if (!r.complete) refuse("an action's picture never became complete");
        if (out) *out = r;
        return r.doneMs - start;
    }

    // A frame of the state now redrawn from kept bins: nothing counted.
    // Collected by callgrind only where it is the case timed.
    double geometryFrame(bool collect = false) {
        forgetDrawnRecordLayer();
        if (collect) KORVELLINE_TOGGLE_COLLECT();
        const double start = steadyMs();
        onDisplay();
        glFinish();
        const double ms = steadyMs() - start;
        if (collect) KORVELLINE_TOGGLE_COLLECT();
        return ms;
    }

    // One repetition: settle, note what the state will need, time the
    // event, then the geometry frame of the state reached.
    // Every fourth repetition first samples the floors, untimed, up to six
    // samples a case.
    void sampleFloors() {
        if (repetitions_++ % 4 == 0 && floors_.samples() < 6) floors_.sample();
    }

    Repetition repetition(const std::function<void()>& event, bench::PumpResult* out = nullptr) {
        sampleFloors();
        settle();
        Repetition rep;
        const long before = binnedTable().rebuilds();
        rep.ms = timed(event, out);
        rep.counted = binnedTable().rebuilds() - before;
        rep.perRecordRegions = recordLayerStats().perRecordRegions;
        rep.work = model_.need();
        rep.geometryMs = geometryFrame();
        return rep;
    }

    void key(unsigned char k, double u, double v) { onKey(k, pixelX(u), pixelY(v)); }

    void press(double u, double v, int mods) {
        heldModifiers = mods;
        onMouseButton(LeftButton, ButtonPress, pixelX(u), pixelY(v));
    }
    void release(double u, double v, int mods) {
        heldModifiers = mods;
        onMouseButton(LeftButton, ButtonRelease, pixelX(u), pixelY(v));
        heldModifiers = 0;
    }
    void doubleClick(double u, double v) {
        press(u, v, 0);
        release(u, v, 0);
        press(u, v, 0);
        release(u, v, 0);
    }

    // A stroke through the points, drawn as the motion handler sees it (a
    // frame after every step, not timed); returns the release as the event.
    std::function<void()> stroke(const std::vector<Point>& points, int mods) {
        settle();
        press(points.front().x, points.front().y, mods);
        for (std::size_t k = 1; k + 1 < points.size(); ++k) {
            onMouseDrag(pixelX(points[k].x), pixelY(points[k].y));
            pump_.untilComplete(kTimeoutMs);
        }
        const Point last = points.back();
        return [this, last, mods] { release(last.x, last.y, mods); };
    }

    // A timed stroke repetition: the stroke drawn, then its release timed.
    Repetition strokeRepetition(const std::vector<Point>& points, int mods) {
        sampleFloors();
        const std::function<void()> letGo = stroke(points, mods);
        Repetition rep;
        const long before = binnedTable().rebuilds();
        rep.ms = timed(letGo);
        rep.counted = binnedTable().rebuilds() - before;
        rep.perRecordRegions = recordLayerStats().perRecordRegions;
        rep.work = model_.need();
        rep.geometryMs = geometryFrame();
        return rep;
    }

    void loadOnce(const std::string& path) {
        setDataFileName(path.c_str());
        loadDataFile();
        if (plot == nullptr || plot->recordCount != records_ || plot->axisCount != kDims)
            refuse("the program did not take the table of " + std::to_string(records_) + " records (" + path + ")");
        onReshape(kWidth, kHeight);
        model_.reset();
        settle();
        model_.need();
    }

    // ------------------------------------------------------------ cases

    void loads() {
        for (int format = 0; format < 2; ++format) {
            const std::string& path = format == 0 ? files_.text : files_.parquet;
            if (!wanted(format == 0 ? "load-text" : "load-parquet")) continue;
            std::vector<Repetition> reps;
            std::vector<double> floors;
            for (int k = 0; k < loadRepeats_; ++k) {
                settle_if_plot();
                Repetition rep;
                rep.ms = timed([&] {
                    setDataFileName(path.c_str());
                    loadDataFile();
                    requestRedraw();
                });
                if (plot == nullptr || plot->recordCount != records_)
                    refuse("the program did not take the table of " + std::to_string(records_) + " records (" + path + ")");
                model_.reset();
                rep.work = model_.need();
                rep.geometryMs = geometryFrame();
                if (k < 3 || k % 5 == 0) floors.push_back(format == 0 ? parseFloor(path) : parquetFloor(path));
                reps.push_back(rep);
            }
            for (Repetition& rep : reps) rep.floorMs = median(floors);
            printCase(format == 0 ? "load-text" : "load-parquet", records_, reps, Goal::Load,
                      format == 0 ? " floor_work=parse-every-token-on-every-core" : " floor_work=duckdb-streaming-fetch");
        }
    }
    void settle_if_plot() {
        if (plot != nullptr && plot->recordCount > 0) settle();
    }

    // Today's frames from kept bins: straight lines, curves, an open region.
    void geometryCases() {
        struct Mode {
            const char* name;
            bool curves;
            bool open;
        };
        for (const Mode& m : {Mode{"geometry", false, false}, Mode{"geometry-curves", true, false},
                              Mode{"geometry-region", false, true}}) {
            if (!wanted(m.name)) continue;
            plot->straightLines = !m.curves;
            plot->axes[3]->scatterOn = m.open;
            std::vector<Repetition> reps;
            // The first frame counts what the mode needs that is not kept.
            Repetition first;
            forgetDrawnRecordLayer();
            first.ms = timed([] { requestRedraw(); });
            model_.need();
            reps.push_back(first);
            for (int k = 0; k < repeats_; ++k) {
                Repetition rep;
                rep.ms = geometryFrame(true);
                rep.geometryMs = rep.ms;
                reps.push_back(rep);
            }
            reps[0].geometryMs = reps[1].ms;
            printCase(m.name, records_, reps, m.curves || m.open ? Goal::GeometryCurved : Goal::Geometry);
        }
        plot->straightLines = true;
        plot->axes[3]->scatterOn = false;
        settle();
    }

    // A paint brush over a new interval of an axis in a new colour, not
    // timed: the colours every later count works on change.
    void repaint(int k) {
        palette->currentColor = paintColour(k);
        const int axis = k % plot->axisCount;
        const double low = 0.15 + 0.05 * (k % 9);
        const std::function<void()> letGo = stroke(axisStroke(axis, low, low + 0.2), 0);
        letGo();
        settle();
        model_.need();
    }
    static Rgba paintColour(int k) {
        const double hue = 0.1 + 0.37 * k;
        return {0.5 + 0.5 * std::sin(hue * 6.28), 0.5 + 0.5 * std::sin(hue * 6.28 + 2.1),
                0.5 + 0.5 * std::sin(hue * 6.28 + 4.2), 0.5};
    }

    std::vector<Point> axisStroke(int axis, double low, double high) const {
        const PCShowAxis& a = *plot->axes[static_cast<std::size_t>(axis)];
        const double bottom = a.regionBottom + low * (a.regionTop - a.regionBottom);
        const double top = a.regionBottom + high * (a.regionTop - a.regionBottom);
        std::vector<Point> points;
        for (int k = 0; k <= 12; ++k) points.push_back({a.position, bottom + (top - bottom) * k / 12.0});
        return points;
    }

    void keyC() {
        floors_.reset();
        std::vector<Repetition> toCurves, toStraight;
        plot->straightLines = true;
        for (int k = 0; k < repeats_; ++k) {
            repaint(2 * k);
            toCurves.push_back(repetition([this] { key('c', 0.5, 0.5); }));
            repaint(2 * k + 1);
            toStraight.push_back(repetition([this] { key('c', 0.5, 0.5); }));
        }
        floors_.complete();
        for (auto* reps : {&toCurves, &toStraight})
            for (Repetition& r : *reps) r.floorMs = floors_.of(r.work);
        printCase("key-c-curves", records_, toCurves, Goal::Counts, floors_.units());
        printCase("key-c-straight", records_, toStraight, Goal::Counts, floors_.units());
    }

    // A double click in each region in turn opens it, another closes it; a
    // paint before each opening gives the cells new colours to count.
    void regions() {
        floors_.reset();
        std::vector<Repetition> opens, closes;
        std::vector<double> openFrames, closeFrames, openWorst, closeWorst, openFps, closeFps;
        for (int k = 0; k < repeats_; ++k) {
            repaint(k);
            const int region = k % (plot->axisCount - 1);
            const double u = (axisX(region) + axisX(region + 1)) / 2.0;
            for (int phase = 0; phase < 2; ++phase) {
                bench::PumpResult r;
                Repetition rep = repetition([this, u] { doubleClick(u, 0.55); }, &r);
                // The frames of the transition: up to the first one after its end.
                std::vector<double> frames;
                double previous = r.doneMs - rep.ms;
                double worst = 0.0;
                for (double end : r.frameEnds) {
                    frames.push_back(end - previous);
                    worst = std::max(worst, end - previous);
                    previous = end;
                }
                const double span = r.frameEnds.empty() ? 0.0 : r.frameEnds.back() - (r.doneMs - rep.ms);
                (phase == 0 ? openFrames : closeFrames).insert((phase == 0 ? openFrames : closeFrames).end(),
                                                                frames.begin(), frames.end());
                (phase == 0 ? openWorst : closeWorst).push_back(worst);
                (phase == 0 ? openFps : closeFps).push_back(span > 0.0 ? 1000.0 * r.frames / span : 0.0);
                rep.ms -= kTransitionMs;
                (phase == 0 ? opens : closes).push_back(rep);
            }
        }
        floors_.complete();
        for (auto* reps : {&opens, &closes})
            for (Repetition& r : *reps) r.floorMs = floors_.of(r.work);
        printCase("region-open", records_, opens, Goal::Counts, " less_transition_ms=1000" + floors_.units());
        printCase("region-close", records_, closes, Goal::Counts, " less_transition_ms=1000" + floors_.units());
        auto transition = [&](const char* name, const std::vector<double>& frames, const std::vector<double>& worst,
                              const std::vector<double>& fps) {
            std::printf("bench=action case=%s-%ld fps=%.1f worst_frame_ms=%.1f median_frame_ms=%.1f p90_frame_ms=%.1f "
                        "frames=%zu reps=%zu fps_goal=20 worst_goal_ms=80\n",
                        name, records_, median(fps), *std::max_element(worst.begin(), worst.end()), median(frames),
                        percentile(frames, 0.9), frames.size(), fps.size());
        };
        transition("transition-open", openFrames, openWorst, openFps);
        transition("transition-close", closeFrames, closeWorst, closeFps);
        std::fflush(stdout);
    }

    // Axis, angular and outline brushes in selection mode; each from every
    // record selected (key F, not timed) over a new interval.
    void selectionBrushes() {
        floors_.reset();
        palette->deselect(0, 0);
        settle();
        model_.need();
        const int regions = plot->axisCount - 1;
        std::vector<Repetition> axis, angular, outline;
        std::vector<double> axisFloors, angularFloors, outlineFloors;
        for (int k = 0; k < repeats_ && wanted("axis-brush"); ++k) {
            clearAll();
            const int a = k % plot->axisCount;
            const double low = 0.1 + 0.04 * (k % 11);
            axis.push_back(strokeRepetition(axisStroke(a, low, low + 0.25), 0));
            axis.back().work.brush = "axis";
            axisFloors.push_back(axisBrushFloor(a, low, low + 0.25));
        }
        for (int k = 0; k < repeats_ && wanted("angular-brush"); ++k) {
            clearAll();
            const int r = k % regions;
            const double spread = 0.08 + 0.02 * (k % 7);
            angular.push_back(strokeRepetition(angularStroke(r, spread), 0));
            angular.back().work.brush = "angular";
            angularFloors.push_back(slopeBrushFloor(r, spread));
        }
        if (wanted("scatter-brush")) {
            clearAll();
            const int open = 3;
            const double u = (axisX(open) + axisX(open + 1)) / 2.0;
            settle();
            timed([this, u] { doubleClick(u, 0.55); });
            model_.need();
            for (int k = 0; k < repeats_; ++k) {
                clearAll();
                const double radius = 0.12 + 0.02 * (k % 6);
                const double centre = 0.4 + 0.03 * (k % 7);
                outline.push_back(strokeRepetition(loopStroke(open, centre, radius), 0));
                outline.back().work.brush = "outline";
                outlineFloors.push_back(outlineBrushFloor(open, centre, radius));
            }
            settle();
            timed([this, u] { doubleClick(u, 0.55); });
            model_.need();
        }
        floors_.complete();
        auto finish = [&](const char* name, std::vector<Repetition>& reps, const std::vector<double>& brushFloors) {
            for (std::size_t k = 0; k < reps.size(); ++k) reps[k].floorMs = floors_.of(reps[k].work, brushFloors[k]);
            printCase(name, records_, reps, Goal::Counts, floors_.units());
        };
        finish("axis-brush", axis, axisFloors);
        finish("angular-brush", angular, angularFloors);
        finish("scatter-brush", outline, outlineFloors);
        clearAll();
        // Back to paint mode: SHIFT click on the palette.
        palette->select(0, 0);
        settle();
        model_.need();
    }

    // Key F, not timed: every brush gone, every record selected.
    void clearAll() {
        settle();
        key('f', 0.5, 0.5);
        settle();
        model_.need();
    }

    std::vector<Point> angularStroke(int region, double spread) const {
        const double l = axisX(region), r = axisX(region + 1);
        const double mid = 0.5;
        std::vector<Point> points;
        for (int k = 0; k <= 10; ++k) points.push_back({r - 0.1 * (r - l) - 0.7 * (r - l) * k / 10.0, mid + spread * (10 - k) / 10.0});
        for (int k = 1; k <= 10; ++k) points.push_back({l + 0.2 * (r - l) + 0.7 * (r - l) * k / 10.0, mid - spread * k / 10.0});
        return points;
    }

    std::vector<Point> loopStroke(int region, double centre, double radius) const {
        const PCShowAxis& a = *plot->axes[static_cast<std::size_t>(region)];
        const double l = axisX(region), r = axisX(region + 1);
        const double m = plot->regionMargin;
        const double cx = l + (r - l) * (m + (1.0 - 2.0 * m) * centre);
        const double cy = a.regionBottom + (a.regionTop - a.regionBottom) * 0.5;
        const double rx = radius * (r - l) * (1.0 - 2.0 * m);
        const double ry = radius * (a.regionTop - a.regionBottom);
        std::vector<Point> points;
        for (int k = 0; k <= 40; ++k) {
            const double t = 6.0 * k / 40.0;
            points.push_back({cx + rx * std::cos(t), cy + ry * std::sin(t)});
        }
        return points;
    }

    const Dimension& dimensionOnAxis(int i) const { return *plot->dimensionAt(plot->axes[static_cast<std::size_t>(i)]->dimensionIndex); }

    double axisBrushFloor(int axis, double low, double high) {
        bench::BrushFloorInput in = bench::axisBrushInput(dimensionOnAxis(axis), low, high);
        in.paint = !selectionOrdersRecords(*plot);
        return floors_.brush(in);
    }
    double slopeBrushFloor(int region, double spread) {
        return floors_.brush(bench::twoAxisBrushInput(dimensionOnAxis(region), dimensionOnAxis(region + 1), -spread, spread));
    }
    double outlineBrushFloor(int region, double centre, double radius) {
        static std::vector<unsigned char> grid;
        grid.assign(256 * 256, 0);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const double dx = (x + 0.5) / 256.0 - centre, dy = (y + 0.5) / 256.0 - 0.5;
                grid[static_cast<std::size_t>(y * 256 + x)] = dx * dx + dy * dy < radius * radius;
            }
        return floors_.brush(bench::twoAxisBrushInput(dimensionOnAxis(region + 1), dimensionOnAxis(region), 0.0, 0.0, &grid));
    }

    // Paint brushes (the palette out, as after a load): a new colour and
    // interval each time.
    void paintBrushes() {
        floors_.reset();
        std::vector<Repetition> reps;
        std::vector<double> brushFloors;
        for (int k = 0; k < repeats_; ++k) {
            palette->currentColor = paintColour(100 + k);
            const int a = (3 * k) % plot->axisCount;
            const double low = 0.1 + 0.04 * (k % 13);
            reps.push_back(strokeRepetition(axisStroke(a, low, low + 0.2), 0));
            reps.back().work.brush = "paint";
            brushFloors.push_back(axisBrushFloor(a, low, low + 0.2));
        }
        floors_.complete();
        for (std::size_t k = 0; k < reps.size(); ++k) reps[k].floorMs = floors_.of(reps[k].work, brushFloors[k]);
        printCase("paint-brush", records_, reps, Goal::Counts, floors_.units());
    }

    // ALT drags (50 unless --drags): a random axis taken to the middle of the
    // widest gap not beside it in ten motion steps, each timed, then the drop.
    void altDrags() {
        floors_.reset();
        std::vector<Repetition> moves, drops;
        std::uint64_t seed = 0xC0FFEE;
        for (int drag = 0; drag < drags_; ++drag) {
            const int n = plot->axisCount;
            const int from = 1 + static_cast<int>(bench::splitmix(seed) % static_cast<std::uint64_t>(n - 1));
            int gap = -1;
            double widest = 0.0;
            for (int j = 0; j + 1 < n; ++j) {
                if (j == from || j + 1 == from) continue;
                const double w = axisX(j + 1) - axisX(j);
                if (w > widest) {
                    widest = w;
                    gap = j;
                }
            }
            if (gap < 0) continue;
            const double x0 = axisX(from);
            const double x1 = (axisX(gap) + axisX(gap + 1)) / 2.0;
            const double y = 0.5;
            settle();
            press(x0, y, ModAlt);
            for (int step = 1; step <= 10; ++step) {
                const double x = x0 + (x1 - x0) * step / 10.0;
                moves.push_back(repetition([this, x, y] { onMouseDrag(pixelX(x), pixelY(y)); }));
            }
            drops.push_back(repetition([this, x1, y] { release(x1, y, ModAlt); }));
        }
        floors_.complete();
        for (auto* reps : {&moves, &drops})
            for (Repetition& r : *reps) r.floorMs = floors_.of(r.work);
        printCase("alt-drag-move", records_, moves, Goal::Counts, floors_.units());
        printCase("alt-drag-drop", records_, drops, Goal::Counts, floors_.units());
        // Even spacing again for the cases after.
        plot->spaceAxesEvenly();
        settle();
        model_.need();
    }

    // Key I on each axis in turn, its pointer on the axis: flipped, then
    // upright again in the next round.
    void keyI() {
        std::vector<Repetition> reps;
        for (int k = 0; k < repeats_; ++k) {
            const int a = k % plot->axisCount;
            reps.push_back(repetition([this, a] { key('i', axisX(a), 0.5); }));
        }
        printCase("key-i", records_, reps, Goal::NothingNew);
    }

    // Key L on each axis in turn: log or symlog, then linear again.
    void keyL() {
        floors_.reset();
        std::vector<Repetition> reps;
        for (int k = 0; k < repeats_; ++k) {
            const int a = k % plot->axisCount;
            reps.push_back(repetition([this, a] { key('l', axisX(a), 0.5); }));
        }
        floors_.complete();
        for (Repetition& r : reps) r.floorMs = floors_.of(r.work);
        printCase("key-l", records_, reps, Goal::Counts, floors_.units());
        onKey('r', 0, 0);  // reset: every axis linear and upright again
        settle();
        model_.need();
    }

    // Key G on and off, in turn over the straight view and the curves.
    void keyG() {
        std::vector<Repetition> reps;
        for (int k = 0; k < repeats_; ++k) {
            if (k % 4 == 0) {
                plot->straightLines = !plot->straightLines;
                settle();
                model_.need();
            }
            reps.push_back(repetition([this] { key('g', 0.5, 0.5); }));
        }
        if (densityShading) key('g', 0.5, 0.5);
        plot->straightLines = true;
        settle();
        model_.need();
        printCase("key-g", records_, reps, Goal::NothingNew);
    }

    // The window resized to a new size each time: the X window first, not
    // timed, then the reshape callback as the event.
    void resizes() {
        std::vector<Repetition> reps;
        for (int k = 0; k < repeats_; ++k) {
            const int w = 900 + (k * 137) % 420;
            const int h = 400 + (k * 71) % 180;
            resizeWindow(w, h);
            reps.push_back(repetition([w, h] {
                onReshape(w, h);
                requestRedraw();
            }));
        }
        printCase("resize", records_, reps, Goal::NothingNew);
        resizeWindow(kWidth, kHeight);
        onReshape(kWidth, kHeight);
        settle();
    }
    static void resizeWindow(int w, int h) {
        glut_window->size(w, h);
        Fl::flush();
        for (int i = 0; i < 5; ++i) Fl::wait(0.01);
        glut_window->make_current();
    }

    // Sessions of varied views saved first; each restore reads the table
    // again and rebuilds the view to its complete picture.
    void sessionRestores() {
        floors_.reset();
        std::vector<std::string> paths;
        const std::string base = fs::path(files_.text).parent_path().string() + "/session-" + std::to_string(records_);
        for (int s = 0; s < 4; ++s) {
            if (s == 1) palette->deselect(0, 0);
            if (s >= 1) {
                const double low = 0.1 + 0.15 * s;
                stroke(axisStroke(s, low, low + 0.3), 0)();
            }
            if (s == 2) plot->straightLines = false;
            settle();
            paths.push_back(base + "-" + std::to_string(s) + ".korvelline");
            if (!saveSessionTo(paths.back(), hoverEmphasis)) refuse("the session could not be saved to " + paths.back());
        }
        std::vector<Repetition> reps;
        std::vector<double> floors;
        for (int k = 0; k < loadRepeats_; ++k) {
            const std::string& path = paths[static_cast<std::size_t>(k) % paths.size()];
            settle();
            Repetition rep;
            rep.ms = timed([&path] {
                bool fading = hoverEmphasis;
                if (!openSessionFrom(path, fading)) refuse("the session " + path + " was not restored");
                hoverEmphasis = fading;
                pruneHoverState();
                requestRedraw();
            });
            model_.reset();
            rep.work = model_.need();
            rep.geometryMs = geometryFrame();
            if (k < 3 || k % 5 == 0) floors.push_back(parseFloor(files_.text));
            reps.push_back(rep);
        }
        floors_.complete();
        for (Repetition& r : reps) r.floorMs = median(floors) + floors_.of(r.work);
        printCase("session-restore", records_, reps, Goal::None, " floor_plus=parse-every-token-on-every-core");
        for (const std::string& p : paths) std::remove(p.c_str());
    }

    long records_;
    TableFiles files_;
    int repeats_;
    int loadRepeats_;
    int drags_;
    std::vector<std::string> only_;
    bench::FramePump pump_;
    CountModel model_;
    Floors floors_;
    long repetitions_ = 0;
};

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (!item.empty()) out.push_back(item);
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    bool large = false;
    int repeats = -1;
    int loadRepeats = -1;
    int drags = 50;
    std::string work = "/tmp/korvelline_action_bench";
    std::vector<std::string> only;
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--large")
            large = true;
        else if (a == "--repeats" && i + 1 < argc)
            repeats = std::max(2, std::atoi(argv[++i]));
        else if (a == "--load-repeats" && i + 1 < argc)
            loadRepeats = std::max(2, std::atoi(argv[++i]));
        else if (a == "--drags" && i + 1 < argc)
            drags = std::max(1, std::atoi(argv[++i]));
        else if (a == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (a == "--only" && i + 1 < argc)
            only = splitList(argv[++i]);
        else if (std::atol(a.c_str()) > 0)
            sizes.push_back(std::atol(a.c_str()));
        else
            refuse("unknown argument " + a);
    }
    if (sizes.empty()) sizes = {1000000, 10000000};
    if (large) sizes.push_back(100000000);

    // No display: one line, before the toolkit would end the process its own way.
    if (_XDisplay* display = XOpenDisplay(nullptr))
        XCloseDisplay(display);
    else
        refuse("no X display (run it under tests/gui/with_xvfb.sh)");
    const std::string makeTable = (fs::path(argv[0]).parent_path() / "make_table").string();
    if (!fs::exists(makeTable)) refuse("make_table is not beside action_bench");

    // Each table must fit beside what the program keeps of it (the values,
    // about 25 bytes a record of per-record state and the bins' coordinates
    // and colours, the bins' budget) and the floors' copies of four columns'
    // coordinates, in the memory the program takes as available.
    for (long records : sizes) {
        const double bytes = static_cast<double>(tableBytes(records, kDims, false)) + 33.0 * records +
                             static_cast<double>(binnedMemoryLimit);
        if (bytes > static_cast<double>(availableMemory()))
            refuse("a table of " + std::to_string(records) + " x 8 does not fit in the memory available (" +
                   std::to_string(availableMemory() >> 20) + " MB)");
    }

    installSessionHooks();
    installRecordLayerHooks();
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(kWidth, kHeight);
    char title[] = "action bench";
    glutCreateWindow(title);
    for (int i = 0; i < 100 && !glut_window->visible(); ++i) Fl::wait(0.02);
    glut_window->make_current();
    std::printf("GL renderer: %s, %u cores\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                std::thread::hardware_concurrency());
    std::fflush(stdout);

    NullBuffer discard;
    std::ostream nullStream(&discard);
    setTraceStream(&nullStream);
    setClockHook([] { return steadyMs() + clockOffset; });
    setModifierHook([] { return heldModifiers; });
    // The shell's wait: the loading frame once a load has run a while.
    setLoadWaitHook([](double) {
        if (clockMs() - loadStartedMs() >= loadProgressDelayMs) {
            onDisplay();
            glFinish();
        }
    });

    for (long records : sizes) {
        const TableFiles files = tableFiles(work, makeTable, records);
        // 100,000,000 records take seconds an action: fewer repetitions unless asked.
        const bool huge = records > 20000000;
        const int reps = repeats > 0 ? repeats : (huge ? 5 : 20);
        const int loads = loadRepeats > 0 ? loadRepeats : (huge ? 3 : reps);
        Actions actions(records, files, reps, loads, huge && drags == 50 ? 10 : drags);
        actions.only(only);
        actions.run();
        releasePlot();
    }
    setLoadWaitHook(nullptr);
    setTraceStream(nullptr);
    return 0;
}
