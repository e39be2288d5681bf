#pragma once
// What both fuzz targets share: table files held in memory, a quiet set-up of
// the program's hooks (the session's among them), a headless frame walk and
// the table's invariants.

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

#include "animation/animation.h"
#include "base/platform.h"
#include "data/data_file.h"
#include "data/dimension.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/capture_sink.h"
#include "records/records.h"
#include "render/record_layer.h"
#include "session/session.h"
#include "shapes/shape.h"

namespace fuzz {

// A data file without a disk: a memory file reached through /proc.
class MemoryFile {
public:
    MemoryFile() {
        fd_ = ::memfd_create("korvelline-fuzz.txt", MFD_CLOEXEC);
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }

    void write(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
    void write(const std::string& text) {
        write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    const char* path() const { return path_.c_str(); }

private:
    int fd_ = -1;
    std::string path_;
};

// Swallows the trace lines: they are behaviour, but millions of them are noise.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline void quietHooks() {
    installSessionHooks();
    installRecordLayerHooks();
    static NullBuffer buffer;
    static std::ostream sink(&buffer);
    setTraceStream(&sink);
    // Tables stay small enough that one input cannot take the fuzzer's memory.
    setLoadMemoryLimit(std::size_t(16) << 20);
}

// Stops the fuzzer with a message when an invariant breaks.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                    \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// The loaded table and plot agree with each other.
inline void checkTable() {
    FUZZ_CHECK(recordCount >= 0 && dimensionCount >= 0 && dimensionCount < maxSlots);
    for (int j = 0; j < maxSlots; ++j) FUZZ_CHECK((rawValues[j] != nullptr) == (j < dimensionCount && plot));
    if (plot == nullptr) return;
    FUZZ_CHECK(plot->recordCount == recordCount);
    FUZZ_CHECK(plot->capacity >= recordCount);
    FUZZ_CHECK(shownDimensionCount >= 0 && shownDimensionCount <= dimensionCount);
    FUZZ_CHECK(plot->axisCount >= 0 && plot->axisCount <= maxSlots);
    FUZZ_CHECK(recordLabels.size() == (hasRecordLabels ? static_cast<std::size_t>(recordCount) : 0u));
    for (int j = 0; j < dimensionCount; ++j) {
        FUZZ_CHECK(dimensionTable[j] != nullptr);
        FUZZ_CHECK(std::isfinite(dimensionTable[j]->minimum) && std::isfinite(dimensionTable[j]->maximum));
    }
}

// What a frame computes, without GL: the scatterplot transitions move on,
// removed shapes leave the list, and every record is walked through the
// renderers into a capture sink.
inline void walkFrame(double now, CaptureSink& sink, RecordPass& pass) {
    if (plot == nullptr) return;
    PCPlot& p = *plot;
    for (int i = 0; i < p.axisCount; ++i) {
        PCShowAxis* axis = p.axes[i];
        if (axis != nullptr && axis->scatterTransition) advanceScatterTransition(now, *axis);
    }
    for (std::size_t i = 0; i < shapes.size();) {
        if (!shapes[i] || shapes[i]->removed)
            shapes.erase(shapes.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    static FrameAxes frame;
    fillFrameAxes(p, frame);
    p.captureAxisPositions();
    sink.clear();
    if (!pass.prepare(p, frame)) return;
    renderRecordLayer(p, pass, curveStep, p.straightLines, sink);
    for (const CapturedVertex& v : sink.vertices) FUZZ_CHECK(std::isfinite(v.x) && std::isfinite(v.y));
}

}  // namespace fuzz
