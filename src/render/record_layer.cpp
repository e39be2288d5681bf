#include "render/record_layer.h"
#include "render/record_layer_testing.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "base/parallel.h"
#include "base/platform.h"
#include "base/signature.h"
#include "bins/layer_composer.h"
#include "data/dimension.h"
#include "data/table.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "records/records.h"
#include "render/progress.h"
#include "session/session.h"
#include "render/records_gl.h"

namespace {

// ---------------------------------------------------------------- state

struct LayerState {
    RecordLayerChoice choice = RecordLayerChoice::Auto;
    int threads = 0;
    double budgetMs = defaultFrameBudgetMs;
    bool warnedSetting = false;
    RecordLayerStats stats;
    // The renderer and the setting do not change while a context lives:
    // read once, again after forgetRecordLayer or a new choice.
    bool resolved = false;
    RecordLayerPath path = RecordLayerPath::Gl;
    GLint largestTexture = 0;

    // The kept layer: complete, or the subset shown while `full` completes it.
    bool valid = false;
    bool complete = false;
    std::uint64_t signature = 0;
    GLuint texture = 0;
    int textureWidth = 0;
    int textureHeight = 0;

    int binnedThreshold = defaultBinnedRecordThreshold;
    bool progressive = true;
    std::uint64_t binsGeneration = 0;
    BinnedTable bins;
    LayerComposer shown;
    LayerComposer full;
    bool completing = false;  // full is being completed in slices
    std::uint64_t completingSignature = 0;
};

LayerState& state() {
    static LayerState s;
    return s;
}

bool contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

RecordLayerPath choosePath(LayerState& s) {
    if (s.choice == RecordLayerChoice::Gl) return RecordLayerPath::Gl;
    if (s.choice == RecordLayerChoice::Software) return RecordLayerPath::Software;
    const char* setting = std::getenv("KORVELLINE_RECORD_LAYER");
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    bool known = true;
    const RecordLayerPath path = chooseRecordLayerPath(setting, renderer, &known);
    if (!known && !s.warnedSetting) {
        trace(" unknown KORVELLINE_RECORD_LAYER ", setting, ", record layer chosen by renderer");
        s.warnedSetting = true;
    }
    return path;
}

void resolve(LayerState& s) {
    if (s.resolved) return;
    s.path = choosePath(s);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &s.largestTexture);
    s.resolved = true;
}

int threadCount(const LayerState& s, int rows) { return threadsFor(s.threads, std::max(rows, 1)); }

// ---------------------------------------------------------------- GL helpers

void ensureTexture(LayerState& s, int w, int h) {
    if (s.texture == 0) glGenTextures(1, &s.texture);
    glBindTexture(GL_TEXTURE_2D, s.texture);
    if (s.textureWidth == w && s.textureHeight == h) return;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    s.textureWidth = w;
    s.textureHeight = h;
}

// The kept layer over the whole viewport, texel for pixel, replacing what is there.
void drawKeptLayer(const LayerState& s) {
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, s.texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor4d(1.0, 1.0, 1.0, 1.0);
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    glVertex2d(-1.0, -1.0);
    glTexCoord2d(1.0, 0.0);
    glVertex2d(1.0, -1.0);
    glTexCoord2d(1.0, 1.0);
    glVertex2d(1.0, 1.0);
    glTexCoord2d(0.0, 1.0);
    glVertex2d(-1.0, 1.0);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void uploadImage(LayerState& s, const RasterImage& image) {
    ensureTexture(s, image.width, image.height);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE, image.rgba.data());
    glPopClientAttrib();
}

// Milliseconds the CPU takes per pixel the records drawn one by one touch,
// on one thread (measured with frame_bench on the development machine).
constexpr double msPerRecordPixel = 4.0e-6;

double estimateMs(double pixels, int threads) { return pixels * msPerRecordPixel / std::max(threads, 1); }

LayerOptions optionsFor(const LayerState& s, const PCPlot& plot, int width, int height) {
    LayerOptions o;
    o.width = width;
    o.height = height;
    o.threads = threadCount(s, height);
    o.binned = plot.recordCount >= s.binnedThreshold;
    o.density = densityShading;
    return o;
}

// The kept layer's key: what the layer shows and how it was made.
std::uint64_t layerKey(const PCPlot& plot, const FrameAxes& frame, bool cpu, int stride, const LayerOptions& o) {
    Signature key;
    key.word(recordLayerSignature(plot, frame));
    key.flag(cpu);
    key.integer(stride);
    key.flag(o.binned);
    key.flag(o.density);
    return key.value();
}

void forgetBinsOfOldTables(LayerState& s) {
    if (s.binsGeneration == tableGeneration) return;
    s.bins.clear();
    s.binsGeneration = tableGeneration;
    s.completing = false;
}

}  // namespace

RecordLayerPath chooseRecordLayerPath(const char* setting, const char* glRenderer, bool* known) {
    if (known) *known = true;
    if (setting != nullptr && *setting != '\0') {
        std::string v(setting);
        for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (v == "software") return RecordLayerPath::Software;
        if (v == "gl") return RecordLayerPath::Gl;
        if (known) *known = false;
    }
    std::string r(glRenderer ? glRenderer : "");
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool software = contains(r, "llvmpipe") || contains(r, "softpipe") || contains(r, "swrast");
    return software ? RecordLayerPath::Software : RecordLayerPath::Gl;
}

void setRecordLayerChoice(RecordLayerChoice choice) {
    state().choice = choice;
    state().resolved = false;
}
void setRecordLayerThreads(int threads) { state().threads = threads; }
void setLevelOfDetailBudget(double ms) { state().budgetMs = ms > 0.0 ? ms : defaultFrameBudgetMs; }

std::uint64_t recordLayerSignature(const PCPlot& plot, const FrameAxes& frame) {
    Signature s;
    // Values, labels and per-record arrays belong to one table generation;
    // within it, their writers bump the plot's revisions. Nothing here reads
    // a per-record array, so a frame that only redraws overlays costs the
    // same for ten records as for ten million.
    s.word(tableGeneration);
    s.word(plot.colorRevision);
    s.word(selectionOrdersRecords(plot) ? plot.selectionRevision + 1 : 0);
    s.integer(plot.recordCount);
    s.integer(plot.axisCount);
    s.integer(plot.dimensionCount);
    s.flag(plot.straightLines);
    s.flag(plot.antialiasingOff);
    s.flag(plot.colorBySelection);
    s.flag(plot.colorByFunction);
    s.flag(plot.useRecordColors);
    s.integer(plot.colorDimension);
    s.color(plot.recordColor);
    s.color(plot.backgroundColor);
    s.number(plot.pointSize);
    s.number(plot.curveLineWidth);
    s.number(plot.regionMargin);
    for (int v : plot.getViewport()) s.integer(v);
    for (double v : {plot.viewLeft, plot.viewRight, plot.viewBottom, plot.viewTop}) s.number(v);
    s.flag(plot.hasHighlightedRecord);
    s.integer(plot.highlightedRecord);
    s.function(plot.dimensionColorFn);
    s.function(plot.selectionColorFn);
    s.number(curveStep);

    const int axes = std::clamp(plot.axisCount, 0, maxSlots);
    for (int i = 0; i < axes; ++i) {
        s.number(plot.axisPositions[i]);
        s.integer(frame.dimensionOf[i]);
        s.number(frame.top[i]);
        s.number(frame.bottom[i]);
        const PCShowAxis* axis = plot.axes[i];
        // Axes are told apart by serial: a rebuilt axis may reuse a freed address.
        s.integer(axis != nullptr ? axis->serial : -1);
        if (axis == nullptr) continue;
        s.flag(axis->scatterOn);
        s.flag(axis->scatterTransition);
        s.number(axis->scatterProgress);
        s.number(axis->curveOpacity);
        s.number(axis->pointOpacity);
        s.flag(axis->mdsVisible);
        const MDSLayout* layout = axis->mdsLayout.get();
        s.word(layout != nullptr ? layout->id : 0);
        if (layout != nullptr) {
            s.word(layout->revision);
            s.integer(static_cast<long long>(layout->outX.size()));
            s.integer(static_cast<long long>(layout->outY.size()));
        }
    }

    // The records' positions follow from a dimension's values, its range,
    // its scale and its flip (the last two by its displayRevision).
    const int dims = std::clamp(plot.dimensionCount, 0, maxSlots);
    for (int d = 0; d < dims; ++d) {
        s.flag(static_cast<bool>(frame.normalized[d]));
        if (const Dimension* dimension = plot.dimensionAt(d)) {
            s.integer(dimension->recordCount);
            s.number(dimension->minimum);
            s.number(dimension->maximum);
            s.word(dimension->displayRevision);
        }
    }
    return s.value();
}

bool recordAnimationRunning(const PCPlot& plot) {
    if (layoutAnimating) return true;
    for (int i = 0; i < plot.axisCount; ++i) {
        const PCShowAxis* axis = plot.axes[i];
        if (axis == nullptr) continue;
        if (axis->scatterTransition) return true;
        if (axis->mdsVisible && axis->mdsLayout && axis->mdsRunning) return true;
    }
    return false;
}

int levelOfDetailStride(double fullFrameMs, double budgetMs) {
    if (!(fullFrameMs > budgetMs) || !(budgetMs > 0.0)) return 1;
    const double k = std::ceil(fullFrameMs / budgetMs);
    return k >= 4096.0 ? 4096 : static_cast<int>(k);
}

const RecordLayerStats& recordLayerStats() { return state().stats; }

bool recordLayerShownWhole() {
    const LayerState& s = state();
    return s.valid && s.complete && s.stats.stride == 1;
}

void forgetRecordLayer() {
    LayerState& s = state();
    s.valid = false;
    s.complete = false;
    s.resolved = false;
    s.completing = false;
    s.stats = RecordLayerStats{};
    s.bins.clear();
}

void releaseRecordLayerTable() {
    LayerState& s = state();
    s.bins.clear();
    s.shown.release();
    s.full.release();
    s.completing = false;
    s.valid = false;
}

void installRecordLayerHooks() { setTableReleaseHook(releaseRecordLayerTable); }

void setBinnedRecordThreshold(int records) {
    state().binnedThreshold = records > 0 ? records : defaultBinnedRecordThreshold;
    state().valid = false;
}
int binnedRecordThreshold() { return state().binnedThreshold; }
void setProgressiveDrawing(bool on) { state().progressive = on; }
const BinnedTable& binnedTable() { return state().bins; }

void buildRecordBins(const PCPlot& plot, const FrameAxes& frame) {
    LayerState& s = state();
    forgetBinsOfOldTables(s);
    RecordPass pass;
    if (!pass.prepare(plot, frame)) return;
    const int threads = threadCount(s, plot.viewportHeight);
    prepareBins(plot, frame, pass, s.bins, plot.viewportWidth, plot.viewportHeight, threads);
}

void forgetDrawnRecordLayer() {
    LayerState& s = state();
    s.valid = false;
    s.completing = false;
    s.bins.forgetPictures();
}

void rasteriseRecordLayer(const PCPlot& plot, const FrameAxes& frame, RasterImage& image, int threads, int stride) {
    LayerState& s = state();
    forgetBinsOfOldTables(s);
    LayerOptions o = optionsFor(s, plot, image.width, image.height);
    o.threads = std::max(1, threads);
    LayerComposer composer;
    composer.start(plot, frame, s.bins, o);
    composer.setStride(stride);
    composer.run(plot, std::numeric_limits<double>::infinity());
    std::swap(image, composer.image());
    s.stats.binned = composer.usedBins();
    s.stats.perRecordRegions = composer.perRecordRegions();
}

void drawRecordLayer(const PCPlot& plot, const FrameAxes& frame) {
    LayerState& s = state();
    resolve(s);
    forgetBinsOfOldTables(s);
    const int w = plot.viewportWidth;
    const int h = plot.viewportHeight;
    const GLint largest = s.largestTexture;
    // No texture can keep a layer this size: GL draws it every frame.
    if (w <= 0 || h <= 0 || w > largest || h > largest) {
        drawRecordsGl(plot, frame, 1);
        return;
    }
    const LayerOptions options = optionsFor(s, plot, w, h);
    const bool animating = recordAnimationRunning(plot);
    // Tables drawn from bins, density shading and layers too slow for one
    // frame are made on the CPU; the rest by GL where the renderer is one.
    const double allRecordsMs = estimateMs(perRecordPixels(plot, frame, w, h), options.threads);
    const bool cpu = s.path == RecordLayerPath::Software || options.binned || options.density ||
                     (!animating && s.progressive && allRecordsMs > progressiveLayerMs);
    int stride = 1;
    if (animating) stride = levelOfDetailStride(cpu ? allRecordsMs : s.stats.fullMs, s.budgetMs);
    const std::uint64_t signature = layerKey(plot, frame, cpu, stride, options);
    const bool sameSize = s.textureWidth == w && s.textureHeight == h;

    if (s.valid && signature == s.signature && sameSize) {
        if (!s.complete && s.completing && s.completingSignature == signature) {
            // Export and tests want the whole layer now, not its subset.
            if (!s.progressive) s.full.run(plot, std::numeric_limits<double>::infinity());
            if (s.full.done()) {
                uploadImage(s, s.full.image());
                s.complete = true;
                s.completing = false;
                ++s.stats.freshLayers;
            }
        }
        drawKeptLayer(s);
        ++s.stats.cachedLayers;
    } else {
        const double start = steadyMs();
        s.completing = false;
        s.complete = true;
        if (!cpu) {
            drawRecordsGl(plot, frame, stride);
            ensureTexture(s, w, h);
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plot.viewportX, plot.viewportY, w, h);
            s.stats.binned = false;
            s.stats.perRecordRegions = std::max(plot.axisCount - 1, 0);
        } else {
            s.shown.start(plot, frame, s.bins, options);
            const double recordsMs = estimateMs(s.shown.recordPixels(), options.threads);
            const bool progressive = !animating && s.progressive && recordsMs > progressiveLayerMs;
            if (animating) stride = levelOfDetailStride(recordsMs, s.budgetMs);
            // While the whole layer is completed in slices, frames show the
            // evenly spread subset a frame can afford.
            s.shown.setStride(progressive ? levelOfDetailStride(recordsMs, s.budgetMs) : stride);
            s.shown.run(plot, std::numeric_limits<double>::infinity());
            uploadImage(s, s.shown.image());
            drawKeptLayer(s);
            if (progressive) {
                s.full.start(plot, frame, s.bins, options);
                s.completing = true;
                s.complete = false;
                s.completingSignature = signature;
            }
            s.stats.binned = s.shown.usedBins();
            s.stats.perRecordRegions = s.shown.perRecordRegions();
            s.stats.fullMs = recordsMs;
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        const double spent = steadyMs() - start;
        // A subset layer stands for stride times its records.
        if (!cpu) s.stats.fullMs = spent * stride;
        s.stats.stride = stride;
        s.stats.path = cpu ? RecordLayerPath::Software : RecordLayerPath::Gl;
        s.stats.progressive = s.completing;
        ++s.stats.freshLayers;
        s.signature = signature;
        s.valid = true;
    }
    glLineWidth(static_cast<GLfloat>(plot.curveLineWidth));
    glPointSize(static_cast<GLfloat>(plot.pointSize));
}

bool advanceRecordLayer(double budgetMs) {
    LayerState& s = state();
    if (!s.completing || plot == nullptr || s.full.done()) return false;
    // Only the state the layer was started for is worth completing; a frame
    // of the state now starts the layer that one needs.
    FrameAxes frame;
    fillFrameAxes(*plot, frame);
    plot->captureAxisPositions();
    const LayerOptions options = optionsFor(s, *plot, plot->viewportWidth, plot->viewportHeight);
    if (layerKey(*plot, frame, true, 1, options) != s.completingSignature) {
        s.completing = false;
        return true;
    }
    s.full.run(*plot, steadyMs() + budgetMs);
    return true;
}

double recordLayerProgress() {
    const LayerState& s = state();
    if (!s.completing || s.complete || !s.progressive) return -1.0;
    return s.full.fraction();
}

void drawRecordLayerProgress() {
    const double progress = recordLayerProgress();
    if (progress >= 0.0) drawProgressBar(progress);
}

void finishRecordLayer() {
    LayerState& s = state();
    if (s.completing && plot != nullptr) s.full.run(*plot, std::numeric_limits<double>::infinity());
}
