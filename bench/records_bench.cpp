// Times what hover details and the records window make the user wait for,
// on tables of 8 dimensions built in memory, against floors measured in the
// same run. No display is needed.
//
//   records_bench [--only <case prefix>] [records...]    (default: 1000000 10000000)
//
// hover-<n> (straight lines), hover-curves-<n> (key C) and hover-scatter-<n>
// (the region open): the search for the record under the pointer at 60
// pointer positions across one region, ms = p90 of findHoverRecord on all
// cores; floor_ms = p90 of one pass on the same threads over the same
// records reading the region's two columns and taking each record's
// vertical distance to the pointer (less than any search reads and computes).
// sort-<n>: sorting the records by one dimension as the window's worker does
// (keys, radix passes, the order of all records), against std::sort of a
// copy of the column's values on one thread (the copy not counted). Best
// of 3.
// table-open-<n>: opening the window on every record selected until its
// first 40 rows are formatted; table-follow-<n>: an axis brush in selection
// mode has changed the selection, until the window has counted its rows
// and formatted its first 40; table-follow-sorted-<n>: the same while the
// rows are sorted. Floor of all three: one pass on the same threads counting
// the selected records, in the table's order or through the sorted order.
// Best of 5.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "base/parallel.h"
#include "base/platform.h"
#include "bench_support.h"
#include "brush/brush.h"
#include "data/table.h"
#include "data/table_content.h"
#include "interaction/hover.h"
#include "listing/record_sort.h"
#include "listing/records_table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/record_layer.h"
#include "session/session.h"
#include "shapes/shape.h"

namespace {

using bench::nowMs;

constexpr int kDims = 8;
constexpr int kWidth = 1180;
constexpr int kHeight = 500;
constexpr int kRegion = 3;  // between axes 3 and 4

// Discards the trace lines of brushes and sorts.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Cases whose name does not start with this are skipped (--only).
std::string only;
bool wanted(const std::string& name) { return name.compare(0, only.size(), only) == 0; }

void report(const std::string& name, double ms, double floorMs, const std::string& extra = "") {
    std::printf("bench=records case=%s ms=%.2f floor_ms=%.2f ratio=%.2f%s\n", name.c_str(), ms, floorMs,
                floorMs > 0.0 ? ms / floorMs : 0.0, extra.c_str());
    std::fflush(stdout);
}

// Even dimensions follow one latent value with noise, odd ones are uniform.
void installBenchTable(int records) {
    TableContent content;
    content.recordCount = records;
    content.shownCount = kDims;
    content.labelColumnName = "id";
    for (int d = 0; d < kDims; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[static_cast<std::size_t>(records)]);
    }
    std::uint64_t state = 0x5EED ^ static_cast<std::uint64_t>(records);
    auto uniform = [&state] { return static_cast<double>(bench::splitmix(state) >> 11) * (1.0 / 9007199254740992.0); };
    for (int r = 0; r < records; ++r) {
        const double latent = uniform() + uniform() + uniform();
        for (int d = 0; d < kDims; ++d)
            content.columns[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] =
                d % 2 == 0 ? latent + 0.25 * (uniform() - 0.5) * (1 + d) : uniform();
    }
    ::installTable(content);
    onReshape(kWidth, kHeight);
}

double p90(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(0.9 * static_cast<double>(v.size() - 1) + 0.5)];
}

// Pointer positions (drawing-area pixels) spread over the region's box.
std::vector<std::pair<double, double>> pointerPositions() {
    const PCShowAxis& a = *plot->axes[kRegion];
    const PCShowAxis& b = *plot->axes[kRegion + 1];
    std::vector<std::pair<double, double>> out;
    std::uint64_t state = 99;
    for (int k = 0; k < 60; ++k) {
        const double u = a.position + (b.position - a.position) * (0.05 + 0.9 * (bench::splitmix(state) % 1000) / 1000.0);
        const double v = a.regionBottom + (a.regionTop - a.regionBottom) * ((bench::splitmix(state) % 1000) / 1000.0);
        out.emplace_back(u * kWidth, (1.0 - v) * kHeight);
    }
    return out;
}

// A linear axis's positions as the search computes them: value times scale plus shift.
void affine(const PCShowAxis& axis, double& scale, double& shift) {
    const Placement p = plot->dimensionAt(axis.dimensionIndex)->placement();
    scale = 1.0 / (p.maximum - p.minimum);
    shift = -p.minimum * scale;
}

// One pass over the columns the region's lines depend on (its two axes, and
// for curves the axes either side): where each record's line meets the
// pointer's column, by straight interpolation or by the curve's weights
// there, and the nearest such height to the pointer.
double hoverFloor(double x, double y, bool curves) {
    const int i = kRegion;
    const int first = curves ? i - 1 : i, count = curves ? 4 : 2;
    const PCShowAxis& a = *plot->axes[i];
    const PCShowAxis& b = *plot->axes[i + 1];
    const double t = (x / kWidth - a.position) / (b.position - a.position);
    double w[4] = {1.0 - t, t, 0.0, 0.0};
    if (curves)
        for (int j = 0; j < 4; ++j) w[j] = -0.5 * t * (1 - t) * (1 - t) * (j == 0) + (1.5 * t * t * t - 2.5 * t * t + 1) * (j == 1) +
                                            (-1.5 * t * t * t + 2 * t * t + 0.5 * t) * (j == 2) - 0.5 * t * t * (1 - t) * (j == 3);
    double scale[4], shift[4];
    const double* values[4];
    for (int j = 0; j < count; ++j) {
        affine(*plot->axes[first + j], scale[j], shift[j]);
        values[j] = plot->dimensionAt(plot->axes[first + j]->dimensionIndex)->values;
    }
    const double bottom = a.regionBottom * kHeight, height = (a.regionTop - a.regionBottom) * kHeight;
    const double py = kHeight - y;
    const int records = plot->recordCount;
    const int parts = threadsFor(0, 16);
    std::vector<double> best(static_cast<std::size_t>(parts), 1e300);
    const double start = nowMs();
    runSplit(records, parts, [&](long long from, long long to, int part) {
        double nearest = 1e300;
        for (long long r = from; r < to; ++r) {
            double h = 0.0;
            for (int j = 0; j < count; ++j) h += w[j] * (values[j][r] * scale[j] + shift[j]);
            const double e = std::abs(h * height + bottom - py);
            nearest = e < nearest ? e : nearest;
        }
        best[static_cast<std::size_t>(part)] = nearest;
    });
    const double ms = nowMs() - start;
    if (*std::min_element(best.begin(), best.end()) < -1.0) std::puts("");  // keep the pass
    return ms;
}

void benchHover(int records, const std::string& mode) {
    if (!wanted(mode == "straight" ? "hover-" + std::to_string(records) : "hover-" + mode)) return;
    plot->straightLines = mode != "curves";
    plot->axes[kRegion]->scatterOn = mode == "scatter";
    std::vector<double> times, floors;
    int found = 0;
    for (const auto& [x, y] : pointerPositions()) {
        const double start = nowMs();
        const HoverHit hit = findHoverRecord(*plot, x, y);
        times.push_back(nowMs() - start);
        found += hit.record >= 0;
        floors.push_back(hoverFloor(x, y, mode == "curves"));
    }
    plot->straightLines = true;
    plot->axes[kRegion]->scatterOn = false;
    const std::string name = mode == "straight" ? "hover-" : "hover-" + mode + "-";
    report(name + std::to_string(records), p90(times), p90(floors),
           " found=" + std::to_string(found) + "/" + std::to_string(times.size()));
}

void benchSort(int records) {
    if (!wanted("sort-")) return;
    const Dimension& d = *plot->dimensionAt(1);
    double best = 1e300, floorBest = 1e300;
    for (int run = 0; run < 3; ++run) {
        SortControl control;
        std::vector<std::uint32_t> order;
        double start = nowMs();
        const SortColumn column = sortColumnOf(d, records, false);
        sortRecords(column, order, control);
        best = std::min(best, nowMs() - start);
        std::vector<double> copy(d.values, d.values + records);
        start = nowMs();
        std::sort(copy.begin(), copy.end());
        floorBest = std::min(floorBest, nowMs() - start);
    }
    report("sort-" + std::to_string(records), best, floorBest);
}

// Counting the selected records, in the table's order or through order.
double countFloor(const std::vector<std::uint32_t>* order) {
    const unsigned char* codes = plot->recordSelection.codes().data();
    const int first = plot->recordSelection.firstSelected();
    const int records = plot->recordCount;
    const int parts = threadsFor(0, 16);
    std::vector<long long> counts(static_cast<std::size_t>(parts), 0);
    const double start = nowMs();
    runSplit(records, parts, [&](long long from, long long to, int part) {
        long long n = 0;
        if (order != nullptr)
            for (long long p = from; p < to; ++p) n += codes[(*order)[static_cast<std::size_t>(p)]] >= first;
        else
            for (long long p = from; p < to; ++p) n += codes[p] >= first;
        counts[static_cast<std::size_t>(part)] = n;
    });
    const double ms = nowMs() - start;
    if (counts[0] < 0) std::puts("");
    return ms;
}

// The window's first screen of rows, as it formats them.
void formatFirstRows() {
    char buffer[cellBufferSize];
    std::size_t characters = 0;
    recordsTable.forRows(0, 40, [&](int, int record) {
        for (std::size_t k = 0; k < recordsTable.columns().size(); ++k)
            characters += recordsTable.cellText(record, k, buffer).size();
    });
    if (characters == 0) std::puts("no rows formatted");
}

void benchTable(int records) {
    if (!wanted("table-")) return;
    // Opening on every record.
    double open = 1e300, openFloor = 1e300;
    for (int run = 0; run < 5; ++run) {
        recordsTable.close();
        const double start = nowMs();
        recordsTable.open();
        recordsTable.follow();
        formatFirstRows();
        open = std::min(open, nowMs() - start);
        openFloor = std::min(openFloor, countFloor(nullptr));
    }
    report("table-open-" + std::to_string(records), open, openFloor);

    // A brush in selection mode, then the window catching up.
    palette->deselect(0, 0);
    auto follow = [&](const std::string& name, const std::vector<std::uint32_t>* order) {
        double best = 1e300, floorBest = 1e300;
        for (int run = 0; run < 5; ++run) {
            clearBrushes();
            recordsTable.follow();
            commitBrush(std::make_unique<PCAxisBrush>(plot->axes[2], 0.2 + 0.05 * run, 0.7, 0.23, 1.0),
                        BrushKind::Axis, axisTrackMs);
            const double start = nowMs();
            recordsTable.follow();
            formatFirstRows();
            best = std::min(best, nowMs() - start);
            floorBest = std::min(floorBest, countFloor(order));
        }
        report(name + std::to_string(records), best, floorBest,
               " rows=" + std::to_string(recordsTable.rowCount()));
    };
    follow("table-follow-", nullptr);

    recordsTable.setSort(1, false);
    while (recordsTable.follow(), recordsTable.sorting()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    recordsTable.follow();
    std::vector<std::uint32_t> order;
    SortControl control;
    sortRecords(sortColumnOf(*plot->dimensionAt(1), records, false), order, control);
    follow("table-follow-sorted-", &order);
    recordsTable.close();
    recordsTable.setSort(noSort, false);
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    installRecordLayerHooks();
    NullBuffer discard;
    std::ostream quiet(&discard);
    setTraceStream(&quiet);
    std::vector<int> sizes;
    for (int k = 1; k < argc; ++k) {
        if (std::string(argv[k]) == "--only" && k + 1 < argc)
            only = argv[++k];
        else
            sizes.push_back(std::atoi(argv[k]));
    }
    if (sizes.empty()) sizes = {1000000, 10000000};
    for (int records : sizes) {
        installBenchTable(records);
        for (const char* mode : {"straight", "curves", "scatter"}) benchHover(records, mode);
        benchSort(records);
        benchTable(records);
        releasePlot();
        releaseTable();
    }
    return 0;
}
