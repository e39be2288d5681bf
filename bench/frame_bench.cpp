// frame_bench: times whole frames of the drawing area on synthetic tables
// and compares each with a floor measured in the same run: the identical
// record-layer vertex stream drawn from prebuilt arrays with one draw call
// per primitive type.
//
//   frame_bench [records...]        (default: 10000 100000)
//
// Needs an X display with GLX (run it under tests/gui/with_xvfb.sh). Every
// table has 8 dimensions, all shown, in a 1180 x 500 drawing area.

#define GL_GLEXT_PROTOTYPES 1

#include <FL/Fl.H>
#include <FL/glut.H>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/platform.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/records.h"
#include "render/sink.h"

namespace {

constexpr int kWidth = 1180;
constexpr int kHeight = 500;
constexpr int kDims = 8;

double nowMs() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(clock::now().time_since_epoch()).count();
}

// A table of a few correlated clusters, deterministic for a given size.
void writeTable(const std::string& path, int records) {
    std::uint64_t state = 0x2545F4914F6CDD1DULL + static_cast<std::uint64_t>(records);
    auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0);
    };
    std::ofstream out(path);
    out << records << ' ' << kDims << ' ' << kDims << " 0\nid";
    for (int d = 0; d < kDims; ++d) out << " d" << d;
    out << '\n';
    for (int r = 0; r < records; ++r) {
        const int cluster = static_cast<int>(uniform() * 4);
        const double latent = uniform();
        for (int d = 0; d < kDims; ++d) {
            const double centre = 10.0 * ((cluster * 7 + d * 3) % 5);
            const double v = centre + 8.0 * latent * ((d % 2) ? 1.0 : -1.0) + 4.0 * uniform();
            out << v << ' ';
        }
        out << '\n';
    }
}

// Collects the record layer's stream into one flat array per primitive type.
// Counts what FloorSink will hold, so its arrays are sized once.
struct CountingSink {
    std::size_t lines = 0, strips = 0, points = 0, stripCount = 0;
    Primitive open = Primitive::Lines;
    void lineWidth(double) {}
    void pointSize(double) {}
    void color(const double*) {}
    void begin(Primitive p) {
        open = p;
        if (p == Primitive::LineStrip) ++stripCount;
    }
    void vertex(double, double) {
        (open == Primitive::Lines ? lines : open == Primitive::LineStrip ? strips : points)++;
    }
    void end(Primitive) {}
    void finish() {}
};

class FloorSink {
public:
    struct Batch {
        std::vector<double> xy;
        std::vector<double> rgba;
        void add(double x, double y, const double* c) {
            xy.push_back(x);
            xy.push_back(y);
            rgba.insert(rgba.end(), c, c + 4);
        }
        GLsizei count() const { return static_cast<GLsizei>(xy.size() / 2); }
        void reserve(std::size_t n) {
            xy.reserve(2 * n);
            rgba.reserve(4 * n);
        }
    };
    Batch lines, strips, points;
    std::vector<GLint> stripFirst;
    std::vector<GLsizei> stripCount;
    double lineWidthValue = 1.0;
    double pointSizeValue = 1.0;

    void lineWidth(double w) { lineWidthValue = w; }
    void pointSize(double s) { pointSizeValue = s; }
    void color(const double* c) { std::copy(c, c + 4, current_); }
    void begin(Primitive p) {
        open_ = p;
        if (p == Primitive::LineStrip) {
            stripFirst.push_back(strips.count());
            stripCount.push_back(0);
        }
    }
    void vertex(double x, double y) {
        switch (open_) {
            case Primitive::Lines: lines.add(x, y, current_); break;
            case Primitive::LineStrip:
                strips.add(x, y, current_);
                ++stripCount.back();
                break;
            case Primitive::Points: points.add(x, y, current_); break;
        }
    }
    void end(Primitive) {}
    void finish() {}

    void reserve(const CountingSink& c) {
        lines.reserve(c.lines);
        strips.reserve(c.strips);
        points.reserve(c.points);
        stripFirst.reserve(c.stripCount);
        stripCount.reserve(c.stripCount);
    }

    std::size_t vertexCount() const {
        return static_cast<std::size_t>(lines.count()) + strips.count() + points.count();
    }

private:
    Primitive open_ = Primitive::Lines;
    double current_[4] = {0, 0, 0, 1};
};

// Mesa's software renderer faults on client arrays of more than a few
// hundred megabytes, so a very long stream goes down in a few large slices.
constexpr GLsizei kSliceVertices = 1 << 22;

void drawBatch(const FloorSink::Batch& b, GLenum mode) {
    const GLsizei total = b.count();
    const GLsizei unit = mode == GL_LINES ? 2 : 1;
    for (GLsizei first = 0; first < total;) {
        const GLsizei n = std::min(total - first, kSliceVertices / unit * unit);
        glVertexPointer(2, GL_DOUBLE, 0, b.xy.data() + 2 * static_cast<std::size_t>(first));
        glColorPointer(4, GL_DOUBLE, 0, b.rgba.data() + 4 * static_cast<std::size_t>(first));
        glDrawArrays(mode, 0, n);
        first += n;
    }
}

void drawStrips(const FloorSink& s) {
    std::vector<GLint> firsts;
    const std::size_t strips = s.stripFirst.size();
    for (std::size_t k = 0; k < strips;) {
        // A slice of whole strips, rebased onto its own pointer.
        const GLint base = s.stripFirst[k];
        std::size_t end = k;
        while (end < strips && (end == k || s.stripFirst[end] + s.stripCount[end] - base <= kSliceVertices)) ++end;
        firsts.clear();
        for (std::size_t j = k; j < end; ++j) firsts.push_back(s.stripFirst[j] - base);
        glVertexPointer(2, GL_DOUBLE, 0, s.strips.xy.data() + 2 * static_cast<std::size_t>(base));
        glColorPointer(4, GL_DOUBLE, 0, s.strips.rgba.data() + 4 * static_cast<std::size_t>(base));
        glMultiDrawArrays(GL_LINE_STRIP, firsts.data(), s.stripCount.data() + k, static_cast<GLsizei>(end - k));
        k = end;
    }
}

// The floor frame: the same clear, projection, blending and swap as a real
// frame, with the record layer drawn from the prebuilt arrays.
void drawFloor(const FloorSink& s) {
    setUpFrame();
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glLineWidth(static_cast<GLfloat>(s.lineWidthValue));
    drawBatch(s.lines, GL_LINES);
    drawStrips(s);
    glPointSize(static_cast<GLfloat>(s.pointSizeValue));
    drawBatch(s.points, GL_POINTS);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glutSwapBuffers();
}

template <class Sink>
void renderRecordLayer(Sink& sink) {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    RecordPass pass;
    if (!pass.prepare(*plot, frame)) return;
    if (plot->straightLines)
        renderRecordLines(*plot, pass, curveStep, sink);
    else
        renderRecordCurves(*plot, pass, curveStep, sink);
    renderScatterPoints(*plot, pass, sink);
}

void captureFloor(FloorSink& sink) {
    CountingSink counts;
    renderRecordLayer(counts);
    sink.reserve(counts);
    renderRecordLayer(sink);
}

struct Mode {
    const char* name;
    bool curves;
    bool scatter;
    bool histograms;
};

void applyMode(const Mode& m) {
    plot->straightLines = !m.curves;
    plot->showHistograms = m.histograms;
    for (int i = 0; i < plot->axisCount; ++i) plot->axes[i]->scatterOn = false;
    if (m.scatter) {
        plot->axes[1]->scatterOn = true;
        plot->axes[4]->scatterOn = true;
    }
}

template <class Draw>
double bestOf(int runs, Draw&& draw) {
    double best = 1e300;
    for (int k = 0; k < runs; ++k) {
        const double start = nowMs();
        draw();
        glFinish();
        best = std::min(best, nowMs() - start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000};

    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(kWidth, kHeight);
    char title[] = "frame bench";
    glutCreateWindow(title);
    for (int i = 0; i < 100 && !glut_window->visible(); ++i) Fl::wait(0.02);
    glut_window->make_current();
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    const Mode modes[] = {
        {"straight lines", false, false, false},
        {"curves", true, false, false},
        {"two scatterplots", false, true, false},
        {"histograms on", false, false, true},
    };
    const std::string dir = std::filesystem::temp_directory_path().string();
    std::ostringstream ignored;
    setTraceStream(&ignored);

    std::printf("| mode | size | ms/frame | floor ms | ratio | vertices |\n|---|---|---|---|---|---|\n");
    for (int records : sizes) {
        const std::string path = dir + "/korvelline_frame_bench_" + std::to_string(records) + ".txt";
        writeTable(path, records);
        setDataFileName(path.c_str());
        loadDataFile();
        std::filesystem::remove(path);
        if (plot == nullptr || plot->axisCount != kDims) {
            std::fprintf(stderr, "frame_bench: could not load the synthetic table\n");
            return 1;
        }
        onReshape(kWidth, kHeight);
        // Frames of the largest table take many seconds on a software renderer.
        const int runs = records > 50000 ? 1 : 5;
        for (const Mode& m : modes) {
            applyMode(m);
            FloorSink floor;
            captureFloor(floor);
            if (runs > 1) {  // warm up caches and the driver
                onDisplay();
                drawFloor(floor);
            }
            double frame = 1e300, base = 1e300;
            // Interleaved so a slow spell of the machine hits both alike.
            for (int k = 0; k < runs; ++k) {
                frame = std::min(frame, bestOf(1, [] { onDisplay(); }));
                base = std::min(base, bestOf(1, [&floor] { drawFloor(floor); }));
            }
            std::printf("| %s | %d x %d | %.1f | %.1f | %.2f | %zu |\n", m.name, records, kDims, frame, base,
                        frame / base, floor.vertexCount());
            std::string caseName = m.name;  // one token: key=value fields split at blanks
            std::replace(caseName.begin(), caseName.end(), ' ', '_');
            std::printf("bench=frame case=%s ms=%.2f floor_ms=%.2f ratio=%.2f records=%d\n", caseName.c_str(),
                        frame, base, frame / base, records);
            std::fflush(stdout);
        }
    }
    setTraceStream(nullptr);
    return 0;
}
