// Times the evaluation of each brush kind and its fold into the selection
// against a floor of the same kind measured in the same run, on as many
// threads as the brush uses (count_floors.h): one pass that reads the
// brushed values (one column for an axis brush, two for the others), takes
// the test (an interval, a slope interval, a cell of a grid over the
// outline) and folds a byte per record into the selection codes.
//
//   brush_bench [records] [repeats]     (defaults 1000000 5; 8 dimensions)

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/parallel.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "brush/outline.h"
#include "data/dimension.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "session/session.h"
#include "bench_support.h"
#include "count_floors.h"

namespace {

constexpr int kDims = 8;

using bench::nowMs;
using bench::splitmix;

void writeTable(const std::string& path, long records) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string text = std::to_string(records) + ' ' + std::to_string(kDims) + ' ' +
                       std::to_string(kDims) + " 0\nid";
    for (int j = 0; j < kDims; ++j) text += " d" + std::to_string(j);
    text += '\n';
    std::uint64_t state = 7;
    char number[32];
    for (long i = 0; i < records; ++i) {
        for (int j = 0; j < kDims; ++j) {
            const double value = static_cast<double>(splitmix(state) % 1000000) / 1000.0;
            const auto end = std::to_chars(number, number + sizeof number, value,
                                           std::chars_format::general, 7).ptr;
            text.append(number, end);
            text += j + 1 < kDims ? ' ' : '\n';
        }
        if (text.size() > (1 << 20)) {
            std::fwrite(text.data(), 1, text.size(), file);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// Discards the bytes after the stream has formatted them.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

template <class Fn>
double timeMs(Fn&& fn) {
    const double start = nowMs();
    fn();
    return nowMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string path = "/tmp/korvelline_brush_bench_" + std::to_string(records) + ".txt";
    writeTable(path, records);
    if (!setDataFileName(path.c_str())) return 1;
    loadDataFile();
    std::remove(path.c_str());
    if (plot == nullptr || plot->recordCount != records || plot->axisCount != kDims) {
        std::fprintf(stderr, "brush_bench: could not load the synthetic table\n");
        return 1;
    }
    NullBuffer discard;
    std::ostream nullStream(&discard);
    setTraceStream(&nullStream);

    PCPlot& p = *plot;
    const int n = p.recordCount;
    std::vector<unsigned char> membership(static_cast<std::size_t>(p.capacity));
    // As many threads as a brush's evaluation takes: up to two, one per
    // 65,536 records.
    const int floorThreads = std::max(1, std::min(threadsFor(0, 2), n / 65536 + 1));

    // The brushes, built once; each timed run evaluates and folds again.
    // Values spread evenly over about 0.02 .. 0.98 of each axis.
    PCAxisBrush axisBrush(p.axes[0], 0.34, 0.66, 0.23, 1.0);
    PCAngularBrush angular(p.axes[0], p.axes[1], true, {0, 0}, {0, 0}, {0, 0}, 0.23, 1.0);
    angular.lowerBound = -0.15;  // |b - a| <= 0.15: about a quarter of the records
    angular.upperBound = 0.15;
    PCScatterPlotBrush scatter(p.axes[1], p.axes[2], 0.23, 1.0);
    const double radius = std::sqrt((0.96 * 0.96) / 3.0 / 3.14159265358979);
    for (int k = 0; k < 400; ++k) {
        const double t = 2.0 * 3.14159265358979 * k / 400;
        scatter.outline.push_back({0.5 + radius * std::cos(t), 0.5 + radius * std::sin(t)});
    }
    const Positions sx = p.dimensions[2]->positions();
    const Positions sy = p.dimensions[1]->positions();

    // The floors of the three kinds.
    const Dimension& d0 = *p.dimensions[0];
    const Dimension& d1 = *p.dimensions[1];
    const Dimension& d2 = *p.dimensions[2];
    const bench::BrushFloorInput axisFloor = bench::axisBrushInput(d0, 0.34, 0.66);
    const bench::BrushFloorInput slopeFloor = bench::twoAxisBrushInput(d0, d1, -0.15, 0.15);
    std::vector<unsigned char> grid(256 * 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            grid[static_cast<std::size_t>(y * 256 + x)] = insideOutline({(x + 0.5) / 256.0, (y + 0.5) / 256.0}, scatter.outline);
    const bench::BrushFloorInput outlineFloor = bench::twoAxisBrushInput(d2, d1, 0.0, 0.0, &grid);
    std::vector<unsigned char> codes(static_cast<std::size_t>(n), 1);
    std::vector<std::uint16_t> indices;

    double best[8];
    std::fill(best, best + 8, 1e300);
    for (int r = 0; r < repeats; ++r) {
        const double t[8] = {
            // Each kind right after its floor, so both see the same moment of the machine.
            bench::brushFloor(axisFloor, n, codes, indices, floorThreads),
            timeMs([&] {
                axisBrush.apply();
                p.intersectSelection(axisBrush.membership());
            }),
            bench::brushFloor(slopeFloor, n, codes, indices, floorThreads),
            timeMs([&] {
                angular.apply();
                p.intersectSelection(angular.membership());
            }),
            bench::brushFloor(outlineFloor, n, codes, indices, floorThreads),
            timeMs([&] {
                scatter.evaluate();
                p.intersectSelection(scatter.membership());
            }),
            timeMs([&] { scatter.traceAccepted(); }),
            // For comparison: the edge-by-edge crossing test the bands replace.
            timeMs([&] {
                unsigned char* m = membership.data();
                for (int i = 0; i < n; ++i) m[i] = insideOutline(Point{sx[i], sy[i]}, scatter.outline);
            }),
        };
        for (int k = 0; k < 8; ++k) best[k] = std::min(best[k], t[k]);
        p.recordSelection.fill(1.0);
    }

    long accepted[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        accepted[0] += axisBrush.value(i) == 1.0;
        accepted[1] += angular.value(i) == 1.0;
        accepted[2] += scatter.value(i) == 1.0;
    }
    auto line = [&](const char* name, double ms, double floor, const char* work, long count) {
        std::printf("bench=brush case=%s ms=%.2f floor_ms=%.2f ratio=%.2f records=%d accepted=%ld floor_work=%s "
                    "threads=%d\n",
                    name, ms, floor, ms / floor, n, count, work, floorThreads);
    };
    line("axis", best[1], best[0], "one-column-interval-folded", accepted[0]);
    line("angular", best[3], best[2], "two-columns-slope-interval-folded", accepted[1]);
    line("scatterplot", best[5], best[4], "two-columns-grid-cell-folded", accepted[2]);
    line("scatterplot_trace", best[6], best[4], "two-columns-grid-cell-folded", accepted[2]);
    line("outline_edge_by_edge", best[7], best[4], "two-columns-grid-cell-folded", accepted[2]);
    setTraceStream(nullptr);
    releasePlot();
    return 0;
}
