// Opens and closes one data file again and again, as File/Open and
// File/Close do, and reports the resident memory along the way, so a leak or
// a table that outgrows its file shows. The floor is reading the same file's
// bytes into memory once per cycle.
//
//   load_cycles <file> [cycles]        (default 100 cycles)
//
// Prints `rss cycle=<n> rss_kb=<k> peak_kb=<p>` after the first cycle and
// every tenth (peak_kb: the loads' peak so far), then one bench line.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/table.h"
#include "plot/plot.h"
#include "session/session.h"

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;  // 4 KiB pages
}

// The peak resident size so far: the loads' own peak, before the floor runs.
long peakKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

void closeTable() {
    dataFileName[0] = '\0';
    recordCount = dimensionCount = shownDimensionCount = 0;
    loadDataFile();
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    if (argc < 2) {
        std::fprintf(stderr, "usage: load_cycles <file> [cycles]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 100;
    if (!setDataFileName(path.c_str())) return 2;

    double loadMs = 0.0;
    for (int c = 1; c <= cycles; ++c) {
        const double start = nowMs();
        if (!setDataFileName(path.c_str())) return 2;
        loadDataFile();
        const int records = recordCount;
        closeTable();
        loadMs += nowMs() - start;
        if (c == 1 || c % 10 == 0)
            std::printf("rss cycle=%d rss_kb=%ld peak_kb=%ld records=%d ms=%.1f\n", c, residentKb(), peakKb(),
                        records, loadMs);
    }

    double floorMs = 0.0;
    std::size_t bytes = 0;
    for (int c = 0; c < cycles; ++c) {
        const double start = nowMs();
        std::ifstream in(path, std::ios::binary);
        std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bytes = data.size();
        floorMs += nowMs() - start;
    }
    const double ms = loadMs / cycles;
    const double floor = floorMs / cycles;
    std::printf("bench=load_cycles case=open_close ms=%.3f floor_ms=%.3f ratio=%.2f bytes=%zu cycles=%d\n", ms,
                floor, floor > 0 ? ms / floor : 0.0, bytes, cycles);
    return 0;
}
