#pragma once
// The record layer as a frame gets it. The last layer drawn is kept (the GL
// renderer's pixels copied into a texture, or the software layer's image) and
// reused while nothing it reads has changed, so frames in which only overlays
// move cost a textured quad. Drawn afresh, it comes either from GL
// (drawRecordLines / drawRecordCurves) or from the CPU rasteriser
// (raster.h) on every core, which is far faster than a software GL driver.
// While an animation runs and a full layer would take too long, a
// stratified subset of the records stands in for the whole.

#include <cstdint>

#include "records/raster.h"
#include "render/display.h"

struct PCPlot;

enum class RecordLayerPath { Gl, Software };

// The path for a setting of KORVELLINE_RECORD_LAYER ("software" or "gl"; null
// when unset) and the GL_RENDERER string: software on llvmpipe, softpipe and
// swrast unless the setting says otherwise. `known` is cleared for a setting
// that is neither value.
RecordLayerPath chooseRecordLayerPath(const char* setting, const char* glRenderer, bool* known = nullptr);


constexpr double defaultFrameBudgetMs = 40.0;
// A layer estimated to take longer is completed in slices between frames.
constexpr double progressiveLayerMs = 50.0;
// Tables of at least this many records are drawn from bins where bins can
// draw them; below it drawing each record costs less than a binned frame.
constexpr int defaultBinnedRecordThreshold = 5000;

int binnedRecordThreshold();

// Fingerprint of everything the record layer reads: the table generation,
// the plot's selection and colour revisions, switches, colours, sizes, view
// box and viewport, the axis geometry and region states (transitions, hover
// opacities, MDS layouts by id and revision), the dimension ranges, the
// highlighted record and the curve step. It reads no per-record array.
// Equal fingerprints draw equal layers.
std::uint64_t recordLayerSignature(const PCPlot& plot, const FrameAxes& frame);

// True while a scatterplot transition, the layout glide or an MDS iteration runs.
bool recordAnimationRunning(const PCPlot& plot);
// Every how many records a frame draws so that one estimated to take
// fullFrameMs fits budgetMs: 1 when it fits.
int levelOfDetailStride(double fullFrameMs, double budgetMs);

struct RecordLayerStats {
    long freshLayers = 0;   // layers drawn from the records
    long cachedLayers = 0;  // layers taken from the cache
    int stride = 1;         // of the last layer drawn afresh
    double fullMs = 0.0;    // estimated cost of a full layer
    RecordLayerPath path = RecordLayerPath::Gl;
    bool binned = false;       // some region came from bins
    int perRecordRegions = 0;  // regions whose lines were drawn record by record
    bool progressive = false;  // the layer shown is a subset being completed
};
const RecordLayerStats& recordLayerStats();
// Drops the kept layer and the statistics; the next frame draws afresh.
void forgetRecordLayer();

// Draws the frame's record layer (records and scatterplot points) and leaves
// the line width at curveLineWidth and the point size at pointSize.
void drawRecordLayer(const PCPlot& plot, const FrameAxes& frame);

// Goes on completing the record layer for about budgetMs; true when it did
// work and a frame should show it (or the progress made).
bool advanceRecordLayer(double budgetMs);
// How far the layer being completed is, 0 to 1; -1 when none is.
double recordLayerProgress();
// Completes the layer now (the picture export wants it whole).
void finishRecordLayer();
// Draws the progress of the layer being completed, if any, over the frame.
void drawRecordLayerProgress();

// Gives back everything the record layer computed from the current table:
// its bins and its per-record scratch.
void releaseRecordLayerTable();
// Has the session release that with every table it releases, so a load
// frees it before the next file is read. Call once at start-up.
void installRecordLayerHooks();

class BinnedTable;
const BinnedTable& binnedTable();

// The software layer without GL: the records over the background in
// image.width x image.height pixels, from bins where the table is binned,
// density-shaded while that is on, with `threads` threads. The image does
// not depend on the thread count. Sets the statistics' binned and
// perRecordRegions.
void rasteriseRecordLayer(const PCPlot& plot, const FrameAxes& frame, RasterImage& image, int threads,
                          int stride = 1);
