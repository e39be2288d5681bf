#include "render/record_layer.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/platform.h"
#include "data/dimension.h"
#include "data/table.h"
#include "mds/animation.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/records.h"

namespace {

// ---------------------------------------------------------------- signature

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;

inline std::uint64_t rotate(std::uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

// Every step is a bijection of the running value for a fixed input and of
// the input for a fixed running value, so changing any one word changes the
// result.
class Signature {
public:
    std::uint64_t value() const {
        std::uint64_t h = h_;
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 29;
        return h;
    }

    void word(std::uint64_t w) { h_ = rotate((h_ ^ w) * kMultiplier, 27); }
    void number(double v) {
        std::uint64_t w;
        std::memcpy(&w, &v, sizeof w);
        word(w);
    }
    void flag(bool b) { word(b ? 1 : 0); }
    void integer(long long v) { word(static_cast<std::uint64_t>(v)); }
    template <class Fn>
    void function(Fn fn) {
        std::uint64_t w = 0;
        std::memcpy(&w, &fn, std::min(sizeof fn, sizeof w));
        word(w);
    }
    void color(const Rgba& c) {
        for (double v : c) number(v);
    }

private:
    std::uint64_t h_ = 0x243F6A8885A308D3ULL;
};

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

    bool valid = false;
    std::uint64_t signature = 0;
    GLuint texture = 0;
    int textureWidth = 0;
    int textureHeight = 0;
    RasterImage image;
    RecordPass pass;
    std::vector<RecordPass> workers;
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

int threadCount(const LayerState& s, int rows) {
    int n = s.threads;
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    n = std::clamp(n, 1, 16);
    return std::max(1, std::min(n, rows));
}

double nowMs() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double, std::milli>(clock::now().time_since_epoch()).count();
}

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

void uploadImage(LayerState& s) {
    ensureTexture(s, s.image.width, s.image.height);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s.image.width, s.image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                    s.image.rgba.data());
    glPopClientAttrib();
}

void rasterise(LayerState& s, const PCPlot& plot, const FrameAxes& frame, RasterImage& image, int threads,
               int stride) {
    const int h = image.height;
    const bool ready = s.pass.prepare(plot, frame);
    s.pass.stride = stride;
    const RasterView view = RasterView::of(plot, image.width, image.height);
    const PieceRule rule = screenPieceRule(plot);
    const bool smooth = !plot.antialiasingOff;
    const int n = std::max(1, std::min(threads, std::max(h, 1)));
    if (static_cast<int>(s.workers.size()) < n - 1) s.workers.resize(static_cast<std::size_t>(n - 1));

    auto band = [&](int k, RecordPass& pass) {
        const int begin = static_cast<int>(static_cast<long long>(h) * k / n);
        const int end = static_cast<int>(static_cast<long long>(h) * (k + 1) / n);
        image.fillRows(begin, end, plot.backgroundColor);
        if (!ready) return;
        RasterSink sink(image, view, smooth, begin, end);
        renderRecordLayer(plot, pass, rule, plot.straightLines, sink);
    };

    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(n - 1));
    for (int k = 1; k < n; ++k) {
        RecordPass& worker = s.workers[static_cast<std::size_t>(k - 1)];
        if (ready) worker.shareGeometry(s.pass);
        try {
            pool.emplace_back(band, k, std::ref(worker));
        } catch (const std::system_error&) {
            band(k, worker);  // no thread to spare: this band waits its turn
        }
    }
    band(0, s.pass);
    for (std::thread& t : pool) t.join();
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
    s.word(selectionColorsRecords(plot) ? plot.selectionRevision + 1 : 0);
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

    // The normalised values follow from a dimension's values and its range.
    const int dims = std::clamp(plot.dimensionCount, 0, maxSlots);
    for (int d = 0; d < dims; ++d) {
        s.flag(frame.normalized[d] != nullptr);
        if (const Dimension* dimension = plot.dimensionAt(d)) {
            s.integer(dimension->recordCount);
            s.number(dimension->minimum);
            s.number(dimension->maximum);
        }
    }
    return s.value();
}

bool selectionColorsRecords(const PCPlot& plot) {
    if (!plot.colorByFunction || !plot.colorBySelection) return false;
    if (!plot.useRecordColors) return true;
    // Read once per colour revision, not per frame.
    static std::uint64_t generation = 0, revision = 0;
    static const PCPlot* owner = nullptr;
    static int records = -1;
    static bool answer = true;
    if (owner != &plot || generation != tableGeneration || revision != plot.colorRevision ||
        records != plot.recordCount) {
        const std::size_t n = std::min(static_cast<std::size_t>(std::max(plot.recordCount, 0)),
                                       plot.recordHasColor.size());
        answer = n < static_cast<std::size_t>(std::max(plot.recordCount, 0)) ||
                 std::any_of(plot.recordHasColor.begin(), plot.recordHasColor.begin() + n,
                             [](unsigned char c) { return c != 1; });
        owner = &plot;
        records = plot.recordCount;
        generation = tableGeneration;
        revision = plot.colorRevision;
    }
    return answer;
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

void forgetRecordLayer() {
    LayerState& s = state();
    s.valid = false;
    s.resolved = false;
    s.stats = RecordLayerStats{};
}

void rasteriseRecordLayer(const PCPlot& plot, const FrameAxes& frame, RasterImage& image, int threads,
                          int stride) {
    rasterise(state(), plot, frame, image, threads, stride);
}

void drawRecordLayer(const PCPlot& plot, const FrameAxes& frame) {
    LayerState& s = state();
    resolve(s);
    const RecordLayerPath path = s.path;
    const int w = plot.viewportWidth;
    const int h = plot.viewportHeight;
    const GLint largest = s.largestTexture;
    // No texture can keep a layer this size: GL draws it every frame.
    if (w <= 0 || h <= 0 || w > largest || h > largest) {
        drawRecordsGl(plot, frame, 1);
        return;
    }
    const int stride = recordAnimationRunning(plot) ? levelOfDetailStride(s.stats.fullMs, s.budgetMs) : 1;

    Signature key;
    key.word(recordLayerSignature(plot, frame));
    key.integer(path == RecordLayerPath::Software ? 1 : 0);
    key.integer(stride);
    const std::uint64_t signature = key.value();

    if (s.valid && signature == s.signature && s.textureWidth == w && s.textureHeight == h) {
        drawKeptLayer(s);
        ++s.stats.cachedLayers;
    } else {
        const double start = nowMs();
        if (path == RecordLayerPath::Software) {
            s.image.resize(w, h);
            rasterise(s, plot, frame, s.image, threadCount(s, h), stride);
            uploadImage(s);
            drawKeptLayer(s);
        } else {
            drawRecordsGl(plot, frame, stride);
            ensureTexture(s, w, h);
            glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plot.viewportX, plot.viewportY, w, h);
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        const double spent = nowMs() - start;
        // A subset layer stands for stride times its records.
        s.stats.fullMs = spent * stride;
        s.stats.stride = stride;
        s.stats.path = path;
        ++s.stats.freshLayers;
        s.signature = signature;
        s.valid = true;
    }
    glLineWidth(static_cast<GLfloat>(plot.curveLineWidth));
    glPointSize(static_cast<GLfloat>(plot.pointSize));
}
