// Times saving and restoring a session of a large table with a few brushes.
//
//   session_bench [records] [repeats]    (defaults 10000000 3; 8 dimensions)
//
// save-<records>: saveSessionTo, against the least any saver must do: one
// pass packing the selection into bits and the colours into a byte per
// record, and writing those bytes to a file.
// restore-<records>: openSessionFrom, against loading the table alone.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "brush/brush.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "session/saved_view.h"
#include "session/session.h"
#include "shapes/shape.h"
#include "bench_support.h"

namespace {

using bench::nowMs;

// Three kept brushes in selection mode, then one painting brush.
void brushTheTable() {
    palette->deselect(0, 0);
    const struct {
        int axis;
        double low, high;
    } brushes[] = {{0, 0.1, 0.8}, {3, 0.2, 0.9}, {5, 0.0, 0.6}};
    for (const auto& b : brushes)
        commitBrush(std::make_unique<PCAxisBrush>(plot->axes[b.axis], b.low, b.high, 0.23, 1.0),
                    BrushKind::Axis, axisTrackMs);
    palette->select(0, 0);
    palette->currentColor = {0.9, 0.2, 0.1, 0.8};
    commitBrush(std::make_unique<PCAxisBrush>(plot->axes[6], 0.4, 0.7, 0.23, 1.0), BrushKind::Axis,
                axisTrackMs);
}

double floorSave(const std::string& path) {
    const double start = nowMs();
    const PCPlot& p = *plot;
    const auto n = static_cast<std::size_t>(p.recordCount);
    std::vector<unsigned char> bytes((n + 7) / 8 + n, 0);
    const Rgba first = p.recordColors[0];
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i / 8] = static_cast<unsigned char>(bytes[i / 8] | ((p.recordSelection[i] > 0.99999) << (i % 8)));
        bytes[(n + 7) / 8 + i] = static_cast<unsigned char>(p.recordColors.has(static_cast<int>(i)) + (p.recordColors[static_cast<int>(i)] == first));
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return nowMs() - start;
}

double timed(bool (*run)(const std::string&), const std::string& path) {
    const double start = nowMs();
    if (!run(path)) {
        std::fprintf(stderr, "failed: %s\n", path.c_str());
        std::exit(1);
    }
    return nowMs() - start;
}

bool save(const std::string& path) { return saveSessionTo(path, true); }
bool restore(const std::string& path) {
    bool fading = true;
    return openSessionFrom(path, fading);
}
bool load(const std::string& path) {
    setDataFileName(path.c_str());
    loadDataFile();
    return plot != nullptr && recordCount > 0;
}

long fileBytes(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    const long records = argc > 1 ? std::atol(argv[1]) : 10000000;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string table = "session_bench_table.txt";
    const std::string session = "session_bench.korvelline";
    const std::string floorFile = "session_bench_floor.bin";
    bench::writeTable(table, records, 8, false);
    if (!load(table)) return 1;
    brushTheTable();

    double bestSave = 1e300, bestFloor = 1e300, bestRestore = 1e300, bestLoad = 1e300;
    for (int r = 0; r < repeats; ++r) {
        bestFloor = std::min(bestFloor, floorSave(floorFile));
        bestSave = std::min(bestSave, timed(save, session));
    }
    std::printf("bench=session case=save-%ld ms=%.1f floor_ms=%.1f ratio=%.2f bytes=%ld table_bytes=%ld\n",
                records, bestSave, bestFloor, bestSave / bestFloor, fileBytes(session), fileBytes(table));
    std::fflush(stdout);
    // Interleaved, so both see the same cache and machine load.
    for (int r = 0; r < repeats; ++r) {
        bestLoad = std::min(bestLoad, timed(load, table));
        bestRestore = std::min(bestRestore, timed(restore, session));
    }
    std::printf("bench=session case=restore-%ld ms=%.1f floor_ms=%.1f ratio=%.2f\n", records, bestRestore,
                bestLoad, bestRestore / bestLoad);
    for (const std::string& path : {table, session, floorFile}) std::remove(path.c_str());
    return 0;
}
