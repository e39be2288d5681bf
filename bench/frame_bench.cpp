// frame_bench: times whole frames of the drawing area on synthetic tables.
//
//   frame_bench [--quick] [--overlays] [records...]   (default: 10000 100000)
//   frame_bench --binned [--quick] [records...]       (default: 1000000 10000000)
//   frame_bench --pictures [records...]               (default: 20000 1000000)
//   frame_bench --classes [records | table file]...   (default: 1000000)
//   frame_bench --aids [--quick] [records...]         (default: 1000000 10000000)
//   frame_bench --peak [records]                      (default: 10000000)
//
// Every case prints one line
//   bench=frame case=<mode>-<records> ms=<t> gl_ms=<g> floor_ms=<f> ratio=<r> ...
//
// The default cases draw complete frames record by record (progressive
// drawing off, bins off), so GL and the rasteriser draw the same records:
// ms: the frame as the program draws it (record layer drawn afresh on the
// software path, all cores); gl_ms: the same frame with the record layer as
// it used to be drawn, every curve piece by the fixed curve step through GL,
// kept here unchanged as the reference; floor_ms: the program's frame with
// its record layer restricted to one thread (the same records: stride and
// floor_stride are printed); ratio = ms / floor_ms. Two more cases have
// another frame as their floor: stroke-<n>, a frame while a stroke is drawn
// over the table (floor: the same frame over an empty table), and
// animate-<n>, a frame during a scatterplot transition (floor: the full
// frame of that state). mean_diff and far_share compare the program's
// picture with the reference picture (mean absolute difference per channel,
// share of pixels more than 8 levels off); flat_gl_* compare the GL layer
// with flatness pieces with it, the tessellation alone. With AGG available,
// agg_ms times the record layer rasterised by AGG on one thread and own_ms
// the program's own rasteriser on one thread, both without GL.
//
// --binned: complete frames of large tables from bins. geometry-<n>,
// geometry-curves-<n> and geometry-scatter-<n> (the region between axes 1
// and 2 open, straight mode) redraw every region from kept bins (floor: the
// per-record frame of 10,000 records); picture-<mode>-<n> compares the
// binned record layer of a table of 20,000 (and, with --pictures,
// 1,000,000) records with its per-record layer over the pixels either
// draws (floor: the per-record frame, or layer);
// rebuild-<n> runs from a paint brush's per-record colours to the complete
// frame (floor: the count of every region from the colour indices and the
// bins' 16-bit coordinates, region by region on every core, count_floors.h);
// scale-<n> runs from key L on one axis to the complete frame (floor:
// rebuild-<n>);
// reorder-<n> times the frame after each of 50 axis moves (ms: the last;
// median, p90 and max over all; floor: geometry-<n>); aids-binned-<n> and
// aids-kept-<n> the frame with ticks, halos, scale marks and a colour legend
// (floor: the same frame without them), on the mixed tables and on 3,000,000
// flights (aids-*-flights-3000000); brush and stroke as described at their
// cases. Each floor prints its work as floor_work.
// --aids [--quick] [records...]: only the aids-* cases, on the mixed tables
// of the given sizes (default 1000000 10000000) and the flights.
// --classes: frames of several classes from kept bins (a selection, three
// paints over it, in straight lines, curves and with an open region) on
// tables built in memory and table files.
// --peak [records]: only the peak memory of a table of 10,000,000 records
// (or `records`) after straight lines, curves, an open region and 50 axis
// moves, in a process of its own.
//
// --quick: 10,000 records (1,000,000 with --binned), one run per case, for
// checking the benchmark. --overlays: only the stroke and animate cases, on
// the largest table. Needs an X display with GLX (run it under
// tests/gui/with_xvfb.sh). Tables have 8 dimensions, all shown, in a 1180 x
// 500 drawing area.

#include <FL/Fl.H>
#include <FL/glut.H>
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/platform.h"
#include "bench_support.h"
#include "count_floors.h"
#include "flights.h"
#include "bins/binned_table.h"
#include "brush/brush.h"
#include "data/table.h"
#include "data/table_content.h"
#include "draw/text.h"
#include "idle/idle.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/raster.h"
#include "records/records.h"
#include "render/display.h"
#include "render/gl_sink.h"
#include "render/layers.h"
#include "render/overlays.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"
#include "render/shapes_gl.h"
#include "render/strokes.h"
#include "session/session.h"
#include "shapes/shape.h"

#ifdef KORVELLINE_HAVE_AGG
#include <agg_conv_stroke.h>
#include <agg_ellipse.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>
#endif

namespace {

constexpr int kWidth = 1180;
constexpr int kHeight = 500;
constexpr int kDims = 8;

double nowMs() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(clock::now().time_since_epoch()).count();
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1.0e6;
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

bool loadTable(int records) {
    const std::string path = std::filesystem::temp_directory_path().string() + "/korvelline_frame_bench_" +
                             std::to_string(records) + ".txt";
    writeTable(path, records);
    setDataFileName(path.c_str());
    loadDataFile();
    std::filesystem::remove(path);
    if (plot == nullptr || plot->axisCount != kDims) return false;
    onReshape(kWidth, kHeight);
    return true;
}

template <class Sink>
void renderReferenceLayer(Sink& sink) {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    RecordPass pass;
    if (!pass.prepare(*plot, frame)) return;
    renderRecordLayer(*plot, pass, curveStep, plot->straightLines, sink);
}

// The frame as it was drawn before the kept and software layers: the
// records through GL with the fixed curve step, then the same layers on top.
void referenceFrame() {
    setUpFrame();
    {
        GlSink sink;
        renderReferenceLayer(sink);
    }
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    glLineWidth(1.0f);
    if (plot->showHistograms) drawHistograms(*plot, frame);
    drawAxes(*plot, frame);
    drawLabels(*plot, frame);
    drawStrokeRibbon(interaction.strokePoints, 1.0);
    for (const auto& shape : shapes)
        if (shape && !shape->removed) drawShape(*shape);
    glutSwapBuffers();
}

// What the idle step settles before a frame (a transition's step among it),
// then the frame.
void programFrame() {
    advanceFrameState();
    onDisplay();
}

// The record layer drawn afresh: the kept one is dropped first.
void freshProgramFrame() {
    forgetRecordLayer();
    onDisplay();
}

template <class Draw>
double timed(Draw&& draw) {
    const double start = nowMs();
    draw();
    glFinish();
    return nowMs() - start;
}

template <class Draw>
double bestOf(int runs, Draw&& draw) {
    double best = 1e300;
    for (int k = 0; k < runs; ++k) best = std::min(best, timed(draw));
    return best;
}

std::vector<unsigned char> readFrame() {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

struct Difference {
    double mean = 0.0;
    double far = 0.0;
};

Difference compare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    double sum = 0.0;
    std::size_t far = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(a[i + c] - b[i + c]);
            sum += d;
            worst = std::max(worst, d);
        }
        if (worst > 8) ++far;
    }
    return {sum / static_cast<double>(a.size()), static_cast<double>(far) / static_cast<double>(a.size() / 3)};
}

#ifdef KORVELLINE_HAVE_AGG
// The record layer through AGG: every primitive its own stroked path, so
// blending follows the drawing order as GL and the own rasteriser do.
class AggSink {
public:
    using PixelFormat = agg::pixfmt_rgba32;
    explicit AggSink(RasterImage& image)
        : buffer_(image.rgba.data(), static_cast<unsigned>(image.width), static_cast<unsigned>(image.height),
                  image.width * 4),
          pixels_(buffer_),
          base_(pixels_),
          renderer_(base_),
          view_(RasterView::of(*plot, image.width, image.height)) {}

    void lineWidth(double w) { width_ = w; }
    void pointSize(double s) { pointSize_ = s; }
    void color(const double* c) {
        color_ = agg::rgba8(static_cast<unsigned>(c[0] * 255.0 + 0.5), static_cast<unsigned>(c[1] * 255.0 + 0.5),
                            static_cast<unsigned>(c[2] * 255.0 + 0.5),
                            static_cast<unsigned>(std::clamp(c[3], 0.0, 1.0) * 255.0 + 0.5));
    }
    void begin(Primitive p) {
        open_ = p;
        count_ = 0;
        path_.remove_all();
    }
    void vertex(double x, double y) {
        const double px = (x - view_.left) * view_.scaleX;
        const double py = (y - view_.bottom) * view_.scaleY;
        switch (open_) {
            case Primitive::Points: {
                agg::ellipse disc(px, py, pointSize_ / 2.0, pointSize_ / 2.0);
                rasterizer_.reset();
                rasterizer_.add_path(disc);
                renderer_.color(color_);
                agg::render_scanlines(rasterizer_, scanline_, renderer_);
                return;
            }
            case Primitive::Lines:
                if (count_++ % 2 == 0) {
                    path_.remove_all();
                    path_.move_to(px, py);
                } else {
                    path_.line_to(px, py);
                    stroke();
                }
                return;
            case Primitive::LineStrip:
                if (count_++ == 0)
                    path_.move_to(px, py);
                else
                    path_.line_to(px, py);
                return;
        }
    }
    void end(Primitive p) {
        if (p == Primitive::LineStrip && count_ > 1) stroke();
    }
    void finish() {}

private:
    void stroke() {
        agg::conv_stroke<agg::path_storage> outline(path_);
        outline.width(width_);
        rasterizer_.reset();
        rasterizer_.add_path(outline);
        renderer_.color(color_);
        agg::render_scanlines(rasterizer_, scanline_, renderer_);
    }

    agg::rendering_buffer buffer_;
    PixelFormat pixels_;
    agg::renderer_base<PixelFormat> base_;
    agg::renderer_scanline_aa_solid<agg::renderer_base<PixelFormat>> renderer_;
    agg::rasterizer_scanline_aa<> rasterizer_;
    agg::scanline_u8 scanline_;
    agg::path_storage path_;
    RasterView view_;
    agg::rgba8 color_;
    double width_ = 1.0;
    double pointSize_ = 1.0;
    Primitive open_ = Primitive::Lines;
    int count_ = 0;
};

// AGG's layer and the own rasteriser's, both on one thread and without GL,
// with the same flatness pieces.
void layerTimes(double& aggMs, double& ownMs) {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    RasterImage image;
    image.resize(kWidth, kHeight);
    ownMs = nowMs();
    rasteriseRecordLayer(*plot, frame, image, 1);
    ownMs = nowMs() - ownMs;

    image.fillRows(0, kHeight, plot->backgroundColor);
    aggMs = nowMs();
    RecordPass pass;
    AggSink sink(image);
    if (pass.prepare(*plot, frame)) {
        renderRecordLayer(*plot, pass, screenPieceRule(*plot), plot->straightLines, sink);
    }
    aggMs = nowMs() - aggMs;
}
#endif

// --layer: the software layer alone on one thread, per mode, without a
// display; for profiling the rasteriser.
int layerTimesOnly(int records) {
    std::ostringstream ignored;
    setTraceStream(&ignored);
    if (!loadTable(records)) return 1;
    for (bool curves : {false, true}) {
        plot->straightLines = !curves;
        FrameAxes frame;
        fillFrameAxes(*plot, frame);
        plot->captureAxisPositions();
        RasterImage image;
        image.resize(kWidth, kHeight);
        double best = 1e300, bestCpu = 1e300;
        for (int k = 0; k < 3; ++k) {
            const double start = nowMs();
            const double cpuStart = threadCpuMs();
            rasteriseRecordLayer(*plot, frame, image, 1);
            bestCpu = std::min(bestCpu, threadCpuMs() - cpuStart);
            best = std::min(best, nowMs() - start);
        }
        // CPU time is what a busy shared machine does not inflate.
        std::printf("bench=frame_layer case=%s-%d ms=%.1f cpu_ms=%.1f\n", curves ? "curves" : "straight", records,
                    best, bestCpu);
    }
    setTraceStream(nullptr);
    return 0;
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
    for (int i = 0; i < plot->axisCount; ++i) {
        plot->axes[i]->scatterOn = false;
        plot->axes[i]->scatterTransition = false;
    }
    if (m.scatter) {
        plot->axes[1]->scatterOn = true;
        plot->axes[4]->scatterOn = true;
    }
}

void report(const std::string& name, double ms, double glMs, double floorMs, const Difference& d,
            const std::string& extra = "") {
    std::printf("bench=frame case=%s ms=%.1f gl_ms=%.1f floor_ms=%.1f ratio=%.3f gl_over_ms=%.1f mean_diff=%.3f "
                "far_share=%.4f%s\n",
                name.c_str(), ms, glMs, floorMs, ms / floorMs, glMs / ms, d.mean, d.far, extra.c_str());
    std::fflush(stdout);
}

// A wavy stroke across the middle of the view, as the motion handler records it.
void fillStroke() {
    interaction.strokePoints.clear();
    for (int k = 0; k < 80; ++k)
        interaction.strokePoints.push_back({0.2 + 0.006 * k, 0.5 + 0.1 * std::sin(k * 0.2)});
}

// ---------------------------------------------------------------- binned tables

// A table of `records` x 8 named d0 .. d7, labelled by "id", its values
// still to be filled.
TableContent tableOfRecords(int records) {
    TableContent content;
    content.recordCount = records;
    content.shownCount = kDims;
    content.labelColumnName = "id";
    for (int d = 0; d < kDims; ++d) {
        content.names.push_back("d" + std::to_string(d));
        content.columns.emplace_back(new double[static_cast<std::size_t>(records)]);
    }
    return content;
}

// A table of `records` x 8 built in memory: even dimensions follow one
// latent value with noise, odd ones are uniform, so every region pairs a
// correlated dimension with an uncorrelated one (about 100,000 occupied bins
// per region at a million records): a hard case for bins.
void installMixedTable(int records) {
    TableContent content = tableOfRecords(records);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL ^ static_cast<std::uint64_t>(records);
    auto uniform = [&state] { return static_cast<double>(bench::splitmix(state) >> 11) * (1.0 / 9007199254740992.0); };
    for (int r = 0; r < records; ++r) {
        const double latent = uniform() + uniform() + uniform();
        for (int d = 0; d < kDims; ++d)
            content.columns[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] =
                d % 2 == 0 ? latent + 0.25 * (uniform() - 0.5) * (1 + d) : uniform();
    }
    installTable(content);
    onReshape(kWidth, kHeight);
}

// What a brush and its recount must do at the least: the brushed column's
// values read and a byte per record folded into the selection codes, then
// every region counted again from the selection codes and the bins' 16-bit
// coordinates (count_floors.h), on every core.
double brushRecountFloor(bench::CountFloor& counter, const std::vector<bench::Pair>& pairs, const Dimension& brushed,
                         double low, double high) {
    const bench::BrushFloorInput in = bench::axisBrushInput(brushed, low, high);
    static std::vector<unsigned char> codes;
    static std::vector<std::uint16_t> indices;
    const double brush = bench::brushFloor(in, plot->recordCount, codes, indices);
    return brush + counter.countPairs(bench::colourKeysOf(*plot, true), pairs, plot->recordCount, false);
}

// The other way to draw from bins: every occupied bin of every region drawn
// as one line through its records' mean, weighted by their count, into a
// per-pixel accumulation (the rasteriser's coverage, without the depth
// tables, so a bound from below). The bins themselves are not timed.
double splatFrameMs() {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    struct Bin {
        double count = 0.0, u = 0.0, w = 0.0;
    };
    std::vector<std::vector<Bin>> regions(static_cast<std::size_t>(plot->axisCount - 1),
                                          std::vector<Bin>(512 * 512));
    for (int i = 0; i + 1 < plot->axisCount; ++i) {
        const Positions u = frame.normalized[frame.dimensionOf[i]];
        const Positions w = frame.normalized[frame.dimensionOf[i + 1]];
        std::vector<Bin>& bins = regions[static_cast<std::size_t>(i)];
        for (int r = 0; r < plot->recordCount; ++r) {
            const int j = std::min(511, std::max(0, static_cast<int>(u[r] * 512.0)));
            const int k = std::min(511, std::max(0, static_cast<int>(w[r] * 512.0)));
            Bin& b = bins[static_cast<std::size_t>(j * 512 + k)];
            b.count += 1.0;
            b.u += u[r];
            b.w += w[r];
        }
    }
    const RasterView view = RasterView::of(*plot, kWidth, kHeight);
    Accumulation acc;
    const double start = nowMs();
    acc.reset(0, 0, kWidth, kHeight);
    auto part = [&](int band) {
        const int begin = kHeight * band / 2, end = kHeight * (band + 1) / 2;
        for (int i = 0; i + 1 < plot->axisCount; ++i) {
            const double x0 = plot->axisPositions[i], x1 = plot->axisPositions[i + 1];
            for (const Bin& b : regions[static_cast<std::size_t>(i)]) {
                if (b.count <= 0.0) continue;
                RasterSink sink(acc, 0, static_cast<float>(b.count), kWidth, kHeight, view, true, begin, end);
                const double color[4] = {0.2, 0.2, 0.2, 0.2};
                sink.lineWidth(plot->curveLineWidth);
                sink.color(color);
                sink.begin(Primitive::Lines);
                sink.vertex(x0, b.u / b.count * frame.height[i] + frame.bottom[i]);
                sink.vertex(x1, b.w / b.count * frame.height[i + 1] + frame.bottom[i + 1]);
                sink.end(Primitive::Lines);
                sink.finish();
            }
        }
    };
    std::thread worker(part, 1);
    part(0);
    worker.join();
    return nowMs() - start;
}

// A complete frame from kept bins, as after a change of geometry: every
// region drawn again from its sums, composited, uploaded, axes and labels.
void frameFromBins() {
    forgetDrawnRecordLayer();
    onDisplay();
}

// The processor time of all threads of a frame from kept bins, best of
// runs: steadier than the clock while other work shares the machine.
double frameCpuMs(int runs) {
    double best = 1e300;
    for (int k = 0; k < runs; ++k) {
        const std::clock_t start = std::clock();
        frameFromBins();
        glFinish();
        best = std::min(best, 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    return best;
}

// The extra fields every binned case prints: whether the layer came from
// bins, how many regions were drawn record by record, the stride, the bins'
// memory.
std::string binnedFields() {
    const RecordLayerStats& stats = recordLayerStats();
    char text[160];
    std::snprintf(text, sizeof text, " binned=%s per_record_regions=%d stride=%d bins_mb=%.1f record_cache_mb=%.1f",
                  stats.binned ? "yes" : "no", stats.perRecordRegions, stats.stride, binnedTable().binBytes() / 1.0e6,
                  binnedTable().recordBytes() / 1.0e6);
    return text;
}

// The straight frame from bins, the curves (key C) and the region between
// axes 1 and 2 opened in straight mode, each a complete frame from kept
// bins; the bins are built by a frame drawn first. Returns the straight ms.
double modeCases(int records, int runs, double perRecordFloor) {
    struct BinnedMode {
        const char* name;
        bool curves;
        bool scatter;
    };
    const BinnedMode modes[] = {{"geometry", false, false}, {"geometry-curves", true, false}, {"geometry-scatter", false, true}};
    double straight = 0.0;
    for (const BinnedMode& m : modes) {
        plot->straightLines = !m.curves;
        plot->axes[1]->scatterOn = m.scatter;
        // The first frame builds what the mode's bins need: key C or the
        // open region (here without its transition) to the complete frame.
        const double first = timed(programFrame);
        const double ms = bestOf(runs, frameFromBins);
        if (!m.curves && !m.scatter) straight = ms;
        char built[64];
        std::snprintf(built, sizeof built, " first_ms=%.1f cpu_ms=%.1f", first, frameCpuMs(runs));
        std::string extra = binnedFields() + built;
        if (straight > 0.0 && (m.curves || m.scatter)) {
            char text[64];
            std::snprintf(text, sizeof text, " over_binned=%.2f", ms / straight);
            extra += text;
        } else {
            // The table size from which bins cost less than drawing each record
            // (per-record frames grow with the records, from the 10,000-record one).
            extra += " crossover_records=" + std::to_string(static_cast<long>(10000.0 * ms / perRecordFloor));
        }
        report(std::string(m.name) + "-" + std::to_string(records), ms, 0.0, perRecordFloor, Difference{}, extra);
    }
    plot->straightLines = true;
    plot->axes[1]->scatterOn = false;
    return straight;
}

// Clustered records with sparse tails, the kind of table where single lines
// show beside saturated bands: the hardest case for pictures from bins.
// reversed: the same records in the opposite order of the file.
void installClusteredTable(int records, bool reversed = false) {
    TableContent content = tableOfRecords(records);
    std::uint64_t state = 0x5DEECE66DULL;
    auto uniform = [&state] { return static_cast<double>(bench::splitmix(state) >> 11) * (1.0 / 9007199254740992.0); };
    auto normal = [&uniform] { return std::sqrt(-2.0 * std::log(1.0 - uniform())) * std::cos(6.283185307179586 * uniform()); };
    for (int r = 0; r < records; ++r) {
        const double base = normal() + 3.0 * (r % 3);
        for (int d = 0; d < kDims; ++d)
            content.columns[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] = base * (d % 2 ? -1 : 1) + normal();
    }
    if (reversed)
        for (auto& column : content.columns) std::reverse(column.get(), column.get() + records);
    installTable(content);
    onReshape(kWidth, kHeight);
}

// Difference per channel and share of pixels more than 8 levels off, over
// the pixels either frame draws (the white background left out); `drawn`
// is that share of the frame.
struct DrawnDifference {
    double mean = 0.0;
    double far = 0.0;
    double drawn = 0.0;
};

DrawnDifference compareDrawn(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    auto isBackground = [](const unsigned char* p) { return p[0] == 255 && p[1] == 255 && p[2] == 255; };
    double sum = 0.0;
    long drawn = 0, far = 0;
    for (std::size_t i = 0; i + 2 < a.size(); i += 3) {
        if (isBackground(&a[i]) && isBackground(&b[i])) continue;
        ++drawn;
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(a[i + c] - b[i + c]);
            sum += d;
            worst = std::max(worst, d);
        }
        far += worst > 8;
    }
    if (drawn == 0) return {};
    return {sum / (3.0 * drawn), static_cast<double>(far) / drawn, static_cast<double>(drawn) / static_cast<double>(a.size() / 3)};
}

// The share of the reference's red pixels (red at least 64 levels above
// green and blue) that the other frame shows within 16 levels.
double redKept(const std::vector<unsigned char>& reference, const std::vector<unsigned char>& other, long& redPixels) {
    long kept = 0;
    redPixels = 0;
    for (std::size_t i = 0; i + 2 < reference.size(); i += 3) {
        const unsigned char* p = &reference[i];
        if (p[0] < std::max(p[1], p[2]) + 64) continue;
        ++redPixels;
        int worst = 0;
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(p[c] - other[i + c]));
        kept += worst <= 16;
    }
    return redPixels > 0 ? static_cast<double>(kept) / redPixels : 0.0;
}

// The per-record frame of the current table, timed.
std::vector<unsigned char> perRecordFrame(double* ms = nullptr) {
    setBinnedRecordThreshold(std::numeric_limits<int>::max());
    const double t = timed(freshProgramFrame);
    if (ms != nullptr) *ms = t;
    std::vector<unsigned char> frame = readFrame();
    setBinnedRecordThreshold(0);
    return frame;
}

// The binned frame of a table of clustered values against the same frame
// drawn record by record, in the same order of classes: straight lines,
// curves, an open region, three paint colours, a selection after a brush,
// and a painted minority (one record in 200, picked by its values, red).
// Compared over the pixels either frame draws. At 20,000 records the
// records blend as shown; at larger sizes in density shading, which does
// not saturate, so the bins' pooled cells must show what the records show.
// ms is the binned frame from kept bins, floor_ms the per-record frame. At
// 20,000 records the per-record frame of the same records in the opposite
// order of the file is compared too (order_mean_diff, order_far_share):
// what record order alone changes, within each class.
void pictureCases(int records, bool density) {
    struct Picture {
        const char* name;
        void (*arrange)();
    };
    const Picture pictures[] = {
        {"straight", [] {}},
        {"curves", [] { plot->straightLines = false; }},
        {"scatter", [] { plot->axes[1]->scatterOn = true; }},
        {"paint",
         [] {
             const Rgba paints[] = {{0.9, 0.1, 0.1, 0.6}, {0.1, 0.3, 0.9, 0.35}, {0.1, 0.7, 0.2, 0.8}};
             const double from[] = {0.2, 0.5, 0.75};
             for (int k = 0; k < 3; ++k) {
                 palette->currentColor = paints[k];
                 commitBrush(std::make_unique<PCAxisBrush>(plot->axes[2 * k + 1], from[k], from[k] + 0.15, 0.23, 1.0),
                             BrushKind::Axis, axisTrackMs);
             }
         }},
        {"selection",
         [] {
             palette->deselect(0, 0);
             commitBrush(std::make_unique<PCAxisBrush>(plot->axes[3], 0.35, 0.6, 0.23, 1.0), BrushKind::Axis,
                         axisTrackMs);
         }},
        {"minority",
         [] {
             const double* last = plot->dimensionAt(kDims - 1)->values;
             std::vector<double> painted(static_cast<std::size_t>(plot->recordCount), 0.0);
             for (std::size_t r = 0; r < painted.size(); ++r) {
                 std::uint64_t bits = 0;
                 std::memcpy(&bits, &last[r], sizeof bits);
                 painted[r] = bench::splitmix(bits) % 200 == 0 ? 1.0 : 0.0;
             }
             plot->paintSelected(painted.data(), {0.9, 0.05, 0.05, 0.8});
         }},
    };
    const std::string size = std::to_string(records);
    const bool small = records <= 20000;
    for (const Picture& p : pictures) {
        if (!small && std::strcmp(p.name, "minority") == 0) continue;
        auto arrange = [&](bool reversed) {
            densityShading = false;
            installClusteredTable(records, reversed);
            p.arrange();
            vanishingTracks.clear();
            densityShading = density;
        };
        DrawnDifference order;
        if (small) {
            arrange(true);
            const std::vector<unsigned char> reversed = perRecordFrame();
            arrange(false);
            order = compareDrawn(perRecordFrame(), reversed);
        } else {
            arrange(false);
        }
        double floor = 0.0;
        const std::vector<unsigned char> reference = perRecordFrame(&floor);
        const bool recordsBinned = recordLayerStats().binned;
        freshProgramFrame();
        const double ms = bestOf(3, frameFromBins);
        const std::vector<unsigned char> binned = readFrame();
        const DrawnDifference d = compareDrawn(reference, binned);
        char text[256];
        std::snprintf(text, sizeof text, " over=drawn drawn_share=%.3f density=%s", d.drawn, density ? "yes" : "no");
        std::string extra = binnedFields() + (recordsBinned ? " floor_binned=yes" : " floor_binned=no") + text;
        if (small) {
            std::snprintf(text, sizeof text, " order_mean_diff=%.3f order_far_share=%.4f", order.mean, order.far);
            extra += text;
        }
        if (std::strcmp(p.name, "minority") == 0) {
            long red = 0;
            const double kept = redKept(reference, binned, red);
            std::snprintf(text, sizeof text, " red_pixels=%ld red_kept=%.4f", red, kept);
            extra += text;
        }
        report("picture-" + std::string(p.name) + "-" + size, ms, 0.0, floor, Difference{d.mean, d.far}, extra);
    }
    densityShading = false;
    clearBrushes();
}

// A lone painted point in an open region, far from the others: its colour
// in the binned frame against its colour drawn record by record.
void lonePointCase() {
    TableContent content = tableOfRecords(20000);
    std::uint64_t state = 0x1234567ULL;
    for (int r = 0; r < 20000; ++r)
        for (int d = 0; d < kDims; ++d)
            content.columns[static_cast<std::size_t>(d)][static_cast<std::size_t>(r)] =
                r == 0 ? 1.0 : 0.5 * static_cast<double>(bench::splitmix(state) >> 11) * (1.0 / 9007199254740992.0);
    installTable(content);
    onReshape(kWidth, kHeight);
    plot->axes[1]->scatterOn = true;
    std::vector<double> painted(20000, 0.0);
    painted[0] = 1.0;
    plot->paintSelected(painted.data(), {0.95, 0.05, 0.0, 0.9});
    vanishingTracks.clear();
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    ScatterPlace place;
    scatterPlaceOf(*plot, frame, 1, place);
    const Point at = place.at(0);
    const std::size_t pixel = (static_cast<std::size_t>(at.y * kHeight) * kWidth + static_cast<std::size_t>(at.x * kWidth)) * 3;
    const std::vector<unsigned char> records = perRecordFrame();
    freshProgramFrame();
    const std::vector<unsigned char> bins = readFrame();
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(records[pixel + c] - bins[pixel + c]));
    std::printf("bench=frame case=picture-lone-point records=#%02X%02X%02X bins=#%02X%02X%02X levels=%d\n",
                records[pixel], records[pixel + 1], records[pixel + 2], bins[pixel], bins[pixel + 1], bins[pixel + 2],
                worst);
}

// Frames of several classes, each drawn again from kept bins as after a
// change of geometry, on the table installed now: a selection brush (the
// records outside it light grey), then three paint brushes over that
// selection, in straight lines, curves and with an open region. first_ms is
// the frame that counts them; floor_ms is the straight frame of the same
// table before any brush (one class).
void classCases(const std::string& label, int runs) {
    resetPlot();
    vanishingTracks.clear();
    const int n = plot->axisCount;
    if (n < 3) {
        std::printf("bench=frame case=classes-%s: fewer than three axes, no figure\n", label.c_str());
        return;
    }
    onDisplay();
    const double one = bestOf(runs, frameFromBins);
    auto timedCase = [&](const char* name, bool curves, bool scatter) {
        plot->straightLines = !curves;
        plot->axes[1]->scatterOn = scatter;
        const double first = timed(programFrame);
        const double ms = bestOf(runs, frameFromBins);
        char text[64];
        std::snprintf(text, sizeof text, " first_ms=%.1f cpu_ms=%.1f", first, frameCpuMs(runs));
        report(std::string("classes-") + name + "-" + label, ms, 0.0, one, Difference{}, binnedFields() + text);
    };
    palette->deselect(0, 0);
    commitBrush(std::make_unique<PCAxisBrush>(plot->axes[2], 0.3, 0.6, 0.23, 1.0), BrushKind::Axis, axisTrackMs);
    vanishingTracks.clear();
    timedCase("selection", false, false);
    palette->select(0, 0);
    const Rgba paints[] = {{0.9, 0.1, 0.1, 0.6}, {0.1, 0.3, 0.9, 0.35}, {0.1, 0.7, 0.2, 0.8}};
    for (int k = 0; k < 3; ++k) {
        palette->currentColor = paints[k];
        const double from = 0.2 + 0.25 * k;
        commitBrush(std::make_unique<PCAxisBrush>(plot->axes[(2 * k + 1) % n], from, from + 0.15, 0.23, 1.0),
                    BrushKind::Axis, axisTrackMs);
    }
    vanishingTracks.clear();
    timedCase("paint", false, false);
    timedCase("paint-curves", true, false);
    timedCase("paint-scatter", false, true);
    plot->straightLines = true;
    plot->axes[1]->scatterOn = false;
    clearBrushes();
}

// The shown dimensions' coordinates as the bins keep them (16 bits), and the
// pairs of neighbouring axes over them.
std::vector<bench::Coordinates> shownCoordinates() {
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    std::vector<bench::Coordinates> out;
    for (int i = 0; i < plot->axisCount; ++i)
        out.push_back(bench::coordinatesOf(frame.normalized[static_cast<std::size_t>(frame.dimensionOf[i])], plot->recordCount));
    return out;
}
std::vector<bench::Pair> neighbourPairs(const std::vector<bench::Coordinates>& coordinates) {
    std::vector<bench::Pair> pairs;
    for (std::size_t i = 0; i + 1 < coordinates.size(); ++i) pairs.push_back({coordinates[i].data(), coordinates[i + 1].data()});
    return pairs;
}

// The table of `records` in straight mode with its first complete frame
// drawn, the palette out (paint mode): where the rebuild case starts from,
// and any case that times a change to a complete frame.
void prepareCompleteFrame(int records) {
    installMixedTable(records);
    vanishingTracks.clear();
    onDisplay();
}

// A paint brush over a quarter of an axis changes the colours of about a
// third of the records; ms runs from the painted per-record state to the
// complete frame: the colours read again, every region counted, summed and
// drawn.
double rebuildCase(int records, int runs) {
    prepareCompleteFrame(records);
    const auto coordinates = shownCoordinates();
    const std::vector<bench::Pair> pairs = neighbourPairs(coordinates);
    bench::CountFloor counter;
    double ms = 1e300, floor = 1e300;
    const Rgba paints[] = {{0.8, 0.2, 0.1, 0.5}, {0.1, 0.4, 0.8, 0.5}};
    for (int k = 0; k < runs; ++k) {
        palette->currentColor = paints[k % 2];
        commitBrush(std::make_unique<PCAxisBrush>(plot->axes[2], 0.55, 0.8, 0.23, 1.0), BrushKind::Axis, axisTrackMs);
        vanishingTracks.clear();
        ms = std::min(ms, timed(programFrame));
        floor = std::min(floor, counter.countPairs(bench::colourKeysOf(*plot, false), pairs, records, false));
    }
    report("rebuild-" + std::to_string(records), ms, 0.0, floor, Difference{},
           binnedFields() + " floor_work=count-" + std::to_string(pairs.size()) +
               "-regions-from-colour-index-and-16-bit-coordinates threads=" + std::to_string(bench::programThreads()));
    return ms;
}

// Key L on axis 4 to the complete frame, linear to log (or symlog) and back
// in turns: one column placed again and the two regions beside it counted,
// against rebuild-<n> of the same run, which counts every region. The same
// in curve mode as curves_ms.
void scaleCase(int records, int runs, double rebuildMs) {
    prepareCompleteFrame(records);
    double regionsCounted = 0.0;
    auto best = [&](bool curves) {
        plot->straightLines = !curves;
        programFrame();
        double ms = 1e300;
        const long before = binnedTable().rebuilds();
        for (int k = 0; k < 2 * runs; ++k) {
            const double start = nowMs();
            if (!plot->cycleAxisScale(*plot->axes[4])) {
                std::fprintf(stderr, "scale case: axis 4 refused its scale\n");
                std::exit(1);
            }
            programFrame();
            ms = std::min(ms, nowMs() - start);
        }
        regionsCounted = static_cast<double>(binnedTable().rebuilds() - before) / (2 * runs);
        return ms;
    };
    const double straight = best(false);
    const double straightRegions = regionsCounted;
    const double curves = best(true);
    plot->straightLines = true;
    // Key I on axis 4 and back, in turns: the kept bins read mirrored.
    programFrame();
    double flip = 1e300;
    const long passes = binnedTable().recordPasses();
    for (int k = 0; k < 2 * runs; ++k) {
        const double start = nowMs();
        plot->setAxisFlipped(*plot->axes[4], !plot->axisFlipped(*plot->axes[4]));
        programFrame();
        flip = std::min(flip, nowMs() - start);
    }
    const double flipRegions = static_cast<double>(binnedTable().recordPasses() - passes) / (2 * runs);
    char extra[160];
    std::snprintf(extra, sizeof extra,
                  " curves_ms=%.1f regions_counted=%.1f curves_regions_counted=%.1f flip_ms=%.1f flip_regions_counted=%.1f",
                  curves, straightRegions, regionsCounted, flip, flipRegions);
    report("scale-" + std::to_string(records), straight, 0.0, rebuildMs, Difference{}, binnedFields() + extra);
}

// Peak resident memory of the process so far, in MB.
double peakMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0.0;
}

// Curves, an open region, then 50 axis moves from a fixed seed, each
// dropped past another axis and followed by a frame, as a user drags them;
// the last frame is timed (it builds the bins of the pairs the move made).
void reorderCase(int records, double straightMs) {
    prepareCompleteFrame(records);
    plot->straightLines = false;
    onDisplay();
    plot->straightLines = true;
    plot->axes[1]->scatterOn = true;
    onDisplay();
    plot->axes[1]->scatterOn = false;
    onDisplay();
    std::uint64_t seed = 0xC0FFEE;
    double last = 0.0;
    std::vector<double> moves;
    int worst = 0;
    const long passes = binnedTable().recordPasses();
    for (int move = 0; move < 50; ++move) {
        const int n = plot->axisCount;
        const int from = static_cast<int>(bench::splitmix(seed) % static_cast<std::uint64_t>(n));
        int to = static_cast<int>(bench::splitmix(seed) % static_cast<std::uint64_t>(n - 1));
        if (to >= from) ++to;
        const double past = to > from ? 0.01 : -0.01;
        plot->axes[from]->position = plot->axes[to]->position + past;
        plot->resortAxes();
        plot->spaceAxesEvenly();
        last = timed(programFrame);
        moves.push_back(last);
        worst = std::max(worst, recordLayerStats().perRecordRegions);
        if (binnedTable().binBytes() > binnedMemoryLimit) worst = std::max(worst, 1000);
    }
    const double kept = bestOf(3, frameFromBins);
    const long counted = binnedTable().recordPasses() - passes;
    std::sort(moves.begin(), moves.end());
    char extra[280];
    std::snprintf(extra, sizeof extra,
                  " median_ms=%.1f p90_ms=%.1f max_ms=%.1f most_per_record_regions=%d kept_frame_ms=%.1f peak_mb=%.0f "
                  "limit_mb=%.0f regions_counted=%ld",
                  moves[moves.size() / 2], moves[moves.size() * 9 / 10], moves.back(), worst, kept, peakMb(),
                  binnedMemoryLimit / 1.0e6, counted);
    report("reorder-" + std::to_string(records), last, 0.0, straightMs, Difference{}, binnedFields() + extra);
}

// The peak memory of the process with a table of `records` x 8 built in
// memory (no file read): straight lines, curves, the region between axes 1
// and 2 opened, then 50 axis moves, each with its frame.
int peakCase(int records) {
    setProgressiveDrawing(false);
    prepareCompleteFrame(records);
    const double afterLoad = peakMb();
    plot->straightLines = false;
    onDisplay();
    plot->axes[1]->scatterOn = true;
    onDisplay();
    std::uint64_t seed = 0xC0FFEE;
    for (int move = 0; move < 50; ++move) {
        const int n = plot->axisCount;
        const int from = static_cast<int>(bench::splitmix(seed) % static_cast<std::uint64_t>(n));
        const int to = static_cast<int>(bench::splitmix(seed) % static_cast<std::uint64_t>(n));
        plot->axes[from]->position = plot->axes[to]->position + (to >= from ? 0.01 : -0.01);
        plot->resortAxes();
        plot->spaceAxesEvenly();
        onDisplay();
    }
    std::printf("bench=memory case=peak-%d peak_mb=%.0f after_first_frame_mb=%.0f bins_mb=%.1f record_cache_mb=%.1f "
                "per_record_regions=%d\n",
                records, peakMb(), afterLoad, binnedTable().binBytes() / 1.0e6, binnedTable().recordBytes() / 1.0e6,
                recordLayerStats().perRecordRegions);
    setTraceStream(nullptr);
    return 0;
}

// --classes: the class frames on tables of `sizes` records built in memory
// and on table files (a file that does not load ends the run with one line).
int classTables(std::vector<int> sizes, const std::vector<std::string>& files, bool quick) {
    if (sizes.empty() && files.empty()) sizes = {1000000};
    setProgressiveDrawing(false);
    setBinnedRecordThreshold(0);
    const int runs = quick ? 2 : 5;
    for (int records : sizes) {
        installMixedTable(records);
        classCases(std::to_string(records), runs);
    }
    for (const std::string& file : files) {
        setDataFileName(file.c_str());
        loadDataFile();
        if (plot == nullptr || plot->recordCount <= 0) {
            std::printf("bench=frame case=classes: %s did not load, no figure\n", file.c_str());
            return 1;
        }
        onReshape(kWidth, kHeight);
        classCases(std::to_string(plot->recordCount) + "-" + std::filesystem::path(file).stem().string(), runs);
    }
    setTraceStream(nullptr);
    return 0;
}

void showReadingAids(bool on) {
    axisTicksShown = on;
    textHalos = on;
    readingAids = on;
}

double medianOf(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The frame with every reading aid (ticks, halos behind the texts, the marks
// of scales and missing values, the colour legend) against the same frame
// without them: records coloured by the dimension of the second axis
// (selection mode), that axis on a log or symlog scale and the third one
// flipped. Both as complete frames from kept bins (aids-binned-<name>) and
// as frames over the kept record layer (aids-kept-<name>). The two are taken
// in pairs, in turn first, so that drift of the machine cancels: ms and
// floor_ms are the best of each, added_ms the median of the pairs'
// differences.
void readingAidsCases(const std::string& name, int runs) {
    // Selection mode: the painted colours go, as the palette's deselect drops them.
    plot->recordColors.clearAll();
    plot->colorDimension = plot->axes[1]->dimensionIndex;
    ++plot->colorRevision;
    plot->cycleAxisScale(*plot->axes[1]);
    plot->setAxisFlipped(*plot->axes[2], true);
    plot->straightLines = true;
    showReadingAids(true);
    freshProgramFrame();
    const std::string extra = binnedFields() + (recordsColoredByDimension(*plot) ? " legend=yes" : " legend=no");
    const auto pairs = [](const std::string& which, int count, void (*frame)(), const std::string& extra) {
        std::vector<double> on, off, added;
        for (int k = 0; k < count; ++k) {
            double withAids = 0.0, without = 0.0;
            for (int turn = 0; turn < 2; ++turn) {
                const bool aids = (k + turn) % 2 == 0;
                showReadingAids(aids);
                (aids ? withAids : without) = timed(frame);
            }
            on.push_back(withAids);
            off.push_back(without);
            added.push_back(withAids - without);
        }
        showReadingAids(true);
        char text[96];
        std::snprintf(text, sizeof text, " added_ms=%.2f median_ms=%.1f median_floor_ms=%.1f", medianOf(added),
                      medianOf(on), medianOf(off));
        report(which, *std::min_element(on.begin(), on.end()), 0.0, *std::min_element(off.begin(), off.end()),
               Difference{}, extra + text);
    };
    pairs("aids-binned-" + name, 4 * runs, frameFromBins, extra);
    pairs("aids-kept-" + name, 20 * runs, programFrame, extra);
}

// The same on a table shaped like a public table of flights (a time axis,
// the delay, the distance, origin and destination among 230 airports), read
// from its CSV as File/Open reads it.
void flightsReadingAidsCase(long long records, int runs) {
    const std::string path = std::filesystem::temp_directory_path().string() + "/korvelline_frame_bench_flights.csv";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && bench::writeFlights(file, records, 1);
    if (file != nullptr) std::fclose(file);
    if (written) {
        setDataFileName(path.c_str());
        loadDataFile();
    }
    std::filesystem::remove(path);
    if (!written || plot == nullptr || plot->axisCount < 3) {
        std::printf("bench=frame case=aids-flights-%lld skipped: the table was not loaded\n", records);
        return;
    }
    onReshape(kWidth, kHeight);
    clearShapes();
    readingAidsCases("flights-" + std::to_string(records), runs);
}

int binnedCases(std::vector<int> sizes, bool quick, bool pictures) {
    if (sizes.empty() && !pictures) sizes = quick ? std::vector<int>{1000000} : std::vector<int>{1000000, 10000000};
    setProgressiveDrawing(false);
    const int runs = quick ? 2 : 5;

    // Floor of the frames: the per-record frame of a 10,000-record table of the same kind.
    installMixedTable(10000);
    clearShapes();
    setBinnedRecordThreshold(std::numeric_limits<int>::max());
    freshProgramFrame();
    const double perRecord = bestOf(runs, freshProgramFrame);
    setBinnedRecordThreshold(0);

    if (pictures) {
        // The picture cases alone, at the sizes asked for: 20,000 records as
        // shown, larger ones under density shading.
        if (sizes.empty()) sizes = {20000, 1000000};
        for (int records : sizes) pictureCases(records, records > 20000);
        lonePointCase();
        setTraceStream(nullptr);
        return 0;
    }
    pictureCases(20000, false);
    lonePointCase();

    double millionMs = 0.0;
    double straightMs = 0.0;
    for (int records : sizes) {
        installMixedTable(records);
        clearShapes();
        straightMs = modeCases(records, runs, perRecord);
        if (records == 1000000) millionMs = straightMs;
        if (records == 10000000 && millionMs > 0.0)
            std::printf("bench=frame case=geometry-per-1m ratio=%.3f\n", straightMs / millionMs);
        const double splat = splatFrameMs();
        report("splat-" + std::to_string(records), splat, 0.0, perRecord, Difference{}, " (bins drawn one line each)");
        readingAidsCases(std::to_string(records), runs);
    }
    flightsReadingAidsCase(quick ? 300000 : 3000000, runs);

    const int records = sizes.back();
    scaleCase(records, runs, rebuildCase(records, runs));

    // A brush over a quarter of an axis on the largest table, in selection
    // mode (the palette put away, so the records take their colours from the
    // selection and every brush changes what the bins count). What a rebuild
    // counts grows with the smaller side of the selection, so the share
    // selected is printed too.
    installMixedTable(records);
    if (palette != nullptr) palette->deselect(0, 0);
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    const auto coordinates = shownCoordinates();
    const std::vector<bench::Pair> pairs = neighbourPairs(coordinates);
    bench::CountFloor counter;
    double floor = 1e300, brush = 1e300, evaluate = 0.0;
    for (int k = 0; k < runs; ++k) {
        clearBrushes();
        buildRecordBins(*plot, frame);
        const double start = nowMs();
        commitBrush(std::make_unique<PCAxisBrush>(plot->axes[2], 0.55, 0.8, 0.23, 1.0), BrushKind::Axis,
                    axisTrackMs);
        const double brushed = nowMs();
        buildRecordBins(*plot, frame);
        if (nowMs() - start < brush) {
            brush = nowMs() - start;
            evaluate = brushed - start;
        }
        floor = std::min(floor, brushRecountFloor(counter, pairs, *plot->dimensionAt(plot->axes[2]->dimensionIndex), 0.55, 0.8));
    }
    long long selected = 0;
    for (int r = 0; r < records; ++r) selected += plot->recordSelection.selected(r);
    std::printf("bench=brush case=binned-%d ms=%.1f floor_ms=%.1f ratio=%.3f selected=%.3f brush_ms=%.1f recount_ms=%.1f "
                "floor_work=axis-brush-fold-and-count-%zu-regions-from-selection-codes threads=%d\n",
                records, brush, floor, brush / floor, static_cast<double>(selected) / records, evaluate, brush - evaluate,
                pairs.size(), bench::programThreads());

    // A stroke being drawn over the largest table, against the same frame
    // over an empty table; a frame lasts a few milliseconds, so the two take
    // turns in blocks and the best of each counts.
    clearBrushes();
    const int frames = quick ? 10 : 40;
    double stroke = 1e300, empty = 1e300;
    bool kept = true;
    for (int round = 0; round < (quick ? 1 : 4); ++round) {
        if (round > 0) installMixedTable(records);
        fillStroke();
        freshProgramFrame();
        const long cachedBefore = recordLayerStats().cachedLayers;
        stroke = std::min(stroke, bestOf(frames, programFrame));
        kept = kept && recordLayerStats().cachedLayers == cachedBefore + frames;
        loadTable(0);
        fillStroke();
        freshProgramFrame();
        empty = std::min(empty, bestOf(frames, programFrame));
    }
    report("stroke-" + std::to_string(records), stroke, 0.0, empty, Difference{}, kept ? " kept=yes" : " kept=no");
    interaction.strokePoints.clear();

    reorderCase(records, straightMs);
    setTraceStream(nullptr);
    return 0;
}

// Only the reading-aid cases of --binned, to repeat them.
int readingAidsOnly(std::vector<int> sizes, bool quick) {
    if (sizes.empty()) sizes = quick ? std::vector<int>{1000000} : std::vector<int>{1000000, 10000000};
    setProgressiveDrawing(false);
    setBinnedRecordThreshold(0);
    const int runs = quick ? 2 : 5;
    for (int records : sizes) {
        installMixedTable(records);
        clearShapes();
        readingAidsCases(std::to_string(records), runs);
    }
    flightsReadingAidsCase(quick ? 300000 : 3000000, runs);
    setTraceStream(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    installSessionHooks();
    installRecordLayerHooks();
    bool quick = false;
    bool layerOnly = false;
    bool overlaysOnly = false;
    bool binnedOnly = false;
    bool aidsOnly = false;
    bool peakOnly = false;
    bool classesOnly = false;
    bool picturesOnly = false;
    std::vector<int> sizes;
    std::vector<std::string> tables;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--layer") == 0)
            layerOnly = true;
        else if (std::strcmp(argv[i], "--overlays") == 0)
            overlaysOnly = true;
        else if (std::strcmp(argv[i], "--binned") == 0)
            binnedOnly = true;
        else if (std::strcmp(argv[i], "--aids") == 0)
            aidsOnly = true;
        else if (std::strcmp(argv[i], "--peak") == 0)
            peakOnly = true;
        else if (std::strcmp(argv[i], "--classes") == 0)
            classesOnly = true;
        else if (std::strcmp(argv[i], "--pictures") == 0)
            binnedOnly = picturesOnly = true;
        else if (classesOnly && std::atoi(argv[i]) <= 0)
            tables.emplace_back(argv[i]);
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty() && !binnedOnly && !aidsOnly && !peakOnly)
        sizes = quick || layerOnly ? std::vector<int>{10000} : std::vector<int>{10000, 100000};
    if (layerOnly) return layerTimesOnly(sizes.front());

    glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGB);
    glutInitWindowPosition(0, 0);
    glutInitWindowSize(kWidth, kHeight);
    char title[] = "frame bench";
    glutCreateWindow(title);
    for (int i = 0; i < 100 && !glut_window->visible(); ++i) Fl::wait(0.02);
    glut_window->make_current();
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::ostringstream ignored;
    setTraceStream(&ignored);
    setRecordLayerChoice(RecordLayerChoice::Software);
    if (peakOnly) return peakCase(sizes.empty() ? 10000000 : sizes.front());
    if (classesOnly) return classTables(sizes, tables, quick);
    if (binnedOnly) return binnedCases(sizes, quick, picturesOnly);
    if (aidsOnly) return readingAidsOnly(sizes, quick);
    // Complete frames, record by record: what GL and the reference draw.
    setProgressiveDrawing(false);
    setBinnedRecordThreshold(std::numeric_limits<int>::max());

    const Mode modes[] = {
        {"straight", false, false, false},
        {"curves", true, false, false},
        {"scatter", false, true, false},
        {"histograms", false, false, true},
    };
    for (int records : sizes) {
        if (overlaysOnly) break;
        if (!loadTable(records)) {
            std::fprintf(stderr, "frame_bench: could not load the synthetic table\n");
            return 1;
        }
        // One reference frame per case on large tables: it takes many seconds.
        const int glRuns = quick || records > 50000 ? 1 : 3;
        const int runs = quick ? 1 : 3;
        for (const Mode& m : modes) {
            applyMode(m);
            const double gl = bestOf(glRuns, referenceFrame);
            const std::vector<unsigned char> reference = readFrame();
            setRecordLayerThreads(0);
            freshProgramFrame();  // warm up
            double ms = 1e300, floor = 1e300;
            int floorStride = 1;
            // Interleaved so a slow spell of the shared machine hits both alike.
            for (int k = 0; k < runs; ++k) {
                setRecordLayerThreads(0);
                ms = std::min(ms, timed(freshProgramFrame));
                setRecordLayerThreads(1);
                floor = std::min(floor, timed(freshProgramFrame));
                floorStride = recordLayerStats().stride;
            }
            setRecordLayerThreads(0);
            freshProgramFrame();
            const Difference d = compare(reference, readFrame());
            char fields[96];
            std::snprintf(fields, sizeof fields, " binned=%s stride=%d floor_stride=%d",
                          recordLayerStats().binned ? "yes" : "no", recordLayerStats().stride, floorStride);
            std::string extra = fields;
            if (m.curves || m.scatter) {
                // The same flatness pieces drawn by GL: the tessellation alone
                // against the fixed-step reference.
                setRecordLayerChoice(RecordLayerChoice::Gl);
                freshProgramFrame();
                const Difference flat = compare(reference, readFrame());
                setRecordLayerChoice(RecordLayerChoice::Software);
                char text[96];
                std::snprintf(text, sizeof text, " flat_gl_mean_diff=%.3f flat_gl_far_share=%.4f", flat.mean, flat.far);
                extra += text;
            }
#ifdef KORVELLINE_HAVE_AGG
            if (std::strcmp(m.name, "straight") == 0 || std::strcmp(m.name, "curves") == 0) {
                double aggMs = 0.0, ownMs = 0.0;
                layerTimes(aggMs, ownMs);
                char text[96];
                std::snprintf(text, sizeof text, " agg_ms=%.1f own_ms=%.1f", aggMs, ownMs);
                extra += text;
            }
#endif
            report(std::string(m.name) + "-" + std::to_string(records), ms, gl, floor, d, extra);
        }
    }

    // The overlay and animation cases on the largest table.
    const int records = sizes.back();
    if (!loadTable(records)) return 1;
    const int runs = quick ? 2 : 5;
    setRecordLayerThreads(0);

    // A scatterplot transition in region 1, half way, under a clock that moves
    // on by a millisecond per frame so every frame draws its layer afresh.
    applyMode(modes[0]);
    freshProgramFrame();  // at rest: full, and its cost measured
    double clock = 5.0e8;
    setClockHook([&clock] { return clock; });
    PCShowAxis& axis = *plot->axes[1];
    axis.scatterOn = true;
    axis.scatterTransition = true;
    axis.fadingIn = true;
    axis.transitionStart = 0.0;
    axis.transitionDuration = 1.0e9;
    double animate = 1e300;
    for (int k = 0; k < runs; ++k) {
        clock += 1.0;
        animate = std::min(animate, timed(programFrame));
    }
    const int stride = recordLayerStats().stride;
    const std::vector<unsigned char> subset = readFrame();
    setLevelOfDetailBudget(1e12);
    clock += 1.0;
    const double full = timed(programFrame);
    const std::vector<unsigned char> whole = readFrame();
    const double glAnimate = timed(referenceFrame);
    setLevelOfDetailBudget(0.0);
    setClockHook({});
    report("animate-" + std::to_string(records), animate, glAnimate, full, compare(whole, subset),
           " stride=" + std::to_string(stride));

    // A stroke being drawn: only the ribbon changes, the records come from
    // the kept layer. A cached frame costs a few milliseconds, short enough
    // for the shared machine's slow spells to swamp it, so the table and the
    // empty table take turns in blocks of many frames.
    const int rounds = quick ? 1 : 4;
    const int frames = quick ? 5 : 40;
    double stroke = 1e300, empty = 1e300, glStroke = 0.0;
    bool kept = true;
    Difference strokeDiff;
    for (int round = 0; round < rounds; ++round) {
        if (round > 0 && !loadTable(records)) return 1;
        applyMode(modes[0]);
        fillStroke();
        freshProgramFrame();
        const long cachedBefore = recordLayerStats().cachedLayers;
        stroke = std::min(stroke, bestOf(frames, programFrame));
        kept = kept && recordLayerStats().cachedLayers == cachedBefore + frames;
        if (round == 0) {
            glStroke = timed(referenceFrame);
            const std::vector<unsigned char> strokeReference = readFrame();
            programFrame();
            strokeDiff = compare(strokeReference, readFrame());
        }
        if (!loadTable(0) && plot == nullptr) return 1;
        fillStroke();
        freshProgramFrame();
        empty = std::min(empty, bestOf(frames, programFrame));
    }
    report("stroke-" + std::to_string(records), stroke, glStroke, empty, strokeDiff,
           kept ? " kept=yes" : " kept=no");

    interaction.strokePoints.clear();
    setTraceStream(nullptr);
    return 0;
}
