#include "render/layers.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "data/dimension.h"
#include "data/table.h"
#include "data/time_text.h"
#include "draw/rectangle.h"
#include "draw/text.h"
#include "interaction/interaction.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/axis_ticks.h"

bool readingAids = true;

namespace {

const Dimension* dimensionOfAxis(const PCPlot& plot, const FrameAxes& frame, int i) {
    return plot.dimensionAt(frame.dimensionOf[i]);
}

Positions valuesOfAxis(const FrameAxes& frame, int i) {
    const int d = frame.dimensionOf[i];
    return d >= 0 && d < maxSlots ? frame.normalized[d] : Positions{};
}

// Where a value of the dimension meets axis i, as its records are drawn.
double heightOnAxis(const Dimension& d, const FrameAxes& frame, int i, double value) {
    return d.placement().position(value) * frame.height[i] + frame.bottom[i];
}

// Where view coordinates land in the drawing area, in pixels.
struct FramePixels {
    double left = 0.0;
    double perX = 1.0;  // pixels per view unit across
    double perY = 1.0;  // and up
    double width = 1.0;

    explicit FramePixels(const PCPlot& p) : left(p.viewLeft) {
        const double w = p.viewRight - p.viewLeft, h = p.viewTop - p.viewBottom;
        width = std::max(p.viewportWidth, 1);
        perX = w != 0.0 && std::isfinite(w) ? width / w : 1.0;
        perY = h != 0.0 && std::isfinite(h) ? std::max(p.viewportHeight, 1) / h : 1.0;
    }
    double x(double vx) const { return (vx - left) * perX; }
};

// Least distance of text from the window's edges, in pixels.
constexpr double edgePx = 2.0;

// How far a text of width w starting at view x moves left to end inside the window.
double keepInside(const FramePixels& px, double x, double w) { return std::min(0.0, px.width - edgePx - (px.x(x) + w)); }

// A value as its axis writes it, on a halo, kept inside the window.
void drawValue(const FramePixels& px, double x, double y, const Dimension& d, double value) {
    char buffer[40];
    formatValue(d, value, buffer, sizeof buffer);
    drawHaloText(x, y, buffer, TextAlign::Left, keepInside(px, x, textFont().width(buffer)));
}

// Category labels of axis i, thinned so that none overlaps another; the
// highlighted record's category is always among them.
void drawCategoryLabels(const PCPlot& plot, const FrameAxes& frame, int i, const Dimension& d) {
    const int count = std::min(d.labelCount, static_cast<int>(d.labels.size()));
    if (count <= 0) return;
    const double span = plot.viewTop - plot.viewBottom;
    const double pixelsPerUnit =
        span != 0.0 && std::isfinite(span) ? std::fabs(plot.viewportHeight / span) : 0.0;
    std::vector<double> pixels(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) pixels[k] = heightOnAxis(d, frame, i, d.labels[k].value) * pixelsPerUnit;

    int pinned = -1;
    const int h = plot.highlightedRecord;
    if (plot.hasHighlightedRecord && d.values != nullptr && h >= 0 && h < d.recordCount)
        for (int k = 0; k < count && pinned < 0; ++k)
            if (d.labels[k].value == d.values[h]) pinned = k;
    std::vector<int> order = d.labelsByFrequency;
    if (static_cast<int>(order.size()) != count) {
        order.resize(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) order[k] = k;
    }
    // Cut where they would run past the window's right edge.
    const FramePixels px(plot);
    const double x = plot.axisPositions[i] + 0.005;
    const int room = static_cast<int>(px.width - edgePx - px.x(x));
    for (int k : thinLabels(pixels, order, pinned, labelGapPx))
        drawHaloText(x, heightOnAxis(d, frame, i, d.labels[k].value), fitText(d.labels[k].text, room, textFont()));
}

void drawRuler(const PCPlot& plot, const FrameAxes& frame, int i) {
    const PCShowAxis& axis = *plot.axes[i];
    const double x = plot.axisPositions[i];
    const double g = plot.axisPositions[i + 1] - x;
    const double left = x + g * plot.regionMargin;
    const double w = g * (1.0 - 2.0 * plot.regionMargin);
    const double top = frame.top[i];

    Rgba color = axis.color;
    // The ruler fades with its scatterplot.
    if (axis.scatterTransition) color[3] = axis.scatterProgress;
    glColor4dv(color.data());
    glLineWidth(1.0f);
    glBegin(GL_LINES);
    glVertex2d(left - 0.05 * w, top);
    glVertex2d(left + 1.05 * w, top);
    glVertex2d(left, top);
    glVertex2d(left, top + 0.02);
    glVertex2d(left + w, top);
    glVertex2d(left + w, top + 0.02);
    glVertex2d(left + w / 2.0, top);
    glVertex2d(left + w / 2.0, top + 0.015);
    for (int k = 1; k <= 9; ++k) {
        glVertex2d(left + k * w / 10.0, top);
        glVertex2d(left + k * w / 10.0, top + 0.01);
    }
    glEnd();

    if (const Dimension* d = dimensionOfAxis(plot, frame, i + 1)) {
        // The values at the plot's left and right edges, which a flipped
        // axis swaps and a scaled one transforms back.
        const Placement placement = d->placement();
        const FramePixels px(plot);
        drawHaloText(left + w / 2.0, top + 0.02, d->name, TextAlign::Left,
                     keepInside(px, left + w / 2.0, textFont().width(d->name)));
        drawValue(px, left - 0.02, top - 0.025, *d, placement.valueAtEnd(false));
        drawValue(px, left + w - 0.02, top - 0.025, *d, placement.valueAtEnd(true));
    }
}

}  // namespace

void formatNumber(double value, char* out, std::size_t outSize) {
    std::snprintf(out, outSize, "%g", value);
}

void formatValue(const Dimension& d, double value, char* out, std::size_t outSize) {
    if (d.format == ValueFormat::Number)
        formatNumber(value, out, outSize);
    else
        formatTime(value, d.format == ValueFormat::Date, out, outSize);
}

std::vector<int> thinLabels(const std::vector<double>& y, const std::vector<int>& order, int pinned,
                            double gap) {
    const int count = static_cast<int>(y.size());
    std::vector<char> taken(y.size(), 0);
    std::vector<double> used;  // heights of the labels taken, ascending
    const auto take = [&](int k) {
        if (k < 0 || k >= count || taken[k]) return;
        const auto at = std::lower_bound(used.begin(), used.end(), y[k]);
        // A label on the same pixel as a taken one (or at NaN) never fits.
        if (!(std::isfinite(y[k])) || (at != used.end() && !(*at - y[k] >= gap)) ||
            (at != used.begin() && !(y[k] - *(at - 1) >= gap)))
            return;
        used.insert(at, y[k]);
        taken[k] = 1;
    };
    take(pinned);
    for (int k : order) take(k);
    std::vector<int> chosen;
    for (int k = 0; k < count; ++k)
        if (taken[k]) chosen.push_back(k);
    return chosen;
}

namespace {

void addToHistogram(const double* values, long long count, int bins, int* counts) {
    for (long long r = 0; r < count; ++r) {
        const double v = values[r];
        if (v >= 0.0 && v <= 1.0) {
            // Rounding can carry a value just below 1 to the extra slot,
            // which is folded into the top bin at the end.
            int j = static_cast<int>(v * bins);
            if (j > bins) j = bins;
            ++counts[j];
        } else if (v < 0.0) {
            ++counts[0];
        } else if (v > 1.0) {
            ++counts[bins];
        }
    }
}

// Zeroes the counters, lets add count into them, folds the extra slot.
template <class Add>
void countInto(int bins, int* counts, Add add) {
    if (bins < 1) return;
    for (int j = 0; j <= bins; ++j) counts[j] = 0;
    add();
    counts[bins - 1] += counts[bins];
    counts[bins] = 0;
}

}  // namespace

void countHistogram(const double* values, int recordCount, int bins, int* counts) {
    countInto(bins, counts, [&] { addToHistogram(values, recordCount, bins, counts); });
}

void countHistogram(const Positions& positions, int recordCount, int bins, int* counts) {
    countInto(bins, counts, [&] {
        double block[placementBlock];
        for (long long first = 0; first < recordCount; first += placementBlock) {
            const long long n = std::min<long long>(placementBlock, recordCount - first);
            positions.fill(first, n, block);
            addToHistogram(block, n, bins, counts);
        }
    });
}

namespace {

// One dimension's bin counts, kept until the table, the dimension's range or
// the bin count changes: a frame over millions of records must not read them
// all again.
struct HistogramCache {
    bool valid = false;
    std::uint64_t generation = 0;
    int records = 0;
    int bins = 0;
    std::uint64_t display = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    std::vector<int> counts;
};

std::vector<HistogramCache>& histogramCaches() {
    static std::vector<HistogramCache> caches;
    return caches;
}

long recounts = 0;

const int* histogramOf(const PCPlot& plot, const FrameAxes& frame, int axis) {
    const int d = frame.dimensionOf[axis];
    const Dimension* dimension = plot.dimensionAt(d);
    const Positions values = valuesOfAxis(frame, axis);
    if (dimension == nullptr || !values) return nullptr;
    std::vector<HistogramCache>& caches = histogramCaches();
    if (caches.size() < static_cast<std::size_t>(plot.dimensionCount))
        caches.resize(static_cast<std::size_t>(plot.dimensionCount));
    HistogramCache& c = caches[static_cast<std::size_t>(d)];
    const int bins = plot.histogramBins;
    if (!c.valid || c.generation != tableGeneration || c.records != plot.recordCount || c.bins != bins ||
        c.display != dimension->displayRevision || c.minimum != dimension->minimum ||
        c.maximum != dimension->maximum) {
        c.counts.resize(static_cast<std::size_t>(bins) + 1);
        countHistogram(values, plot.recordCount, bins, c.counts.data());
        c.valid = true;
        c.generation = tableGeneration;
        c.records = plot.recordCount;
        c.bins = bins;
        c.display = dimension->displayRevision;
        c.minimum = dimension->minimum;
        c.maximum = dimension->maximum;
        ++recounts;
    }
    return c.counts.data();
}

}  // namespace

long histogramRecounts() { return recounts; }

void drawHistograms(const PCPlot& plot, const FrameAxes& frame) {
    const int bins = plot.histogramBins;
    // An empty table has no proportions to show.
    if (plot.recordCount <= 0 || bins < 1) return;
    for (int i = 0; i < plot.axisCount; ++i) {
        const PCShowAxis& axis = *plot.axes[i];
        if (!axis.showHistogram) continue;
        const int* counts = histogramOf(plot, frame, i);
        if (counts == nullptr) continue;
        glColor4dv(plot.histogramColor.data());
        const double x = plot.axisPositions[i];
        for (int j = 0; j < bins; ++j) {
            const double half = histogramHalfLength(counts[j], plot.recordCount, plot.histogramScale);
            const double lower = frame.bottom[i] + frame.height[i] * j / bins;
            const double upper = frame.bottom[i] + frame.height[i] * (j + 1) / bins;
            drawRectangle(GL_QUADS, x - half, lower, x + half, upper);
            drawRectangle(GL_LINE_LOOP, x - half, lower, x + half, upper);
        }
    }
}

std::vector<NamePlace> placeNames(const std::vector<double>& xs, const std::vector<std::string>& names, double width,
                                  int whole, const FontMetrics& font) {
    const int n = static_cast<int>(std::min(xs.size(), names.size()));
    std::vector<NamePlace> placed(static_cast<std::size_t>(n));
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return xs[a] < xs[b]; });
    const double right = width - edgePx;
    double previousEnd = -HUGE_VAL;
    for (int k = 0; k < n; ++k) {
        const int i = order[k];
        const std::string& name = names[i];
        NamePlace& p = placed[i];
        const double w = font.width(name);
        if (k + 1 < n) {
            // Closely set axes keep a narrower gap, so each name keeps a letter.
            const double spacing = xs[order[k + 1]] - xs[i];
            p.room = std::floor(spacing - std::clamp(spacing / 4.0, 2.0, nameGapPx));
            p.text = fitText(name, static_cast<int>(p.room), font);
        } else {
            // The rightmost may move left, into what its neighbour leaves, to
            // stay inside the window.
            const double from = std::max(previousEnd + nameGapPx, std::min(xs[i], edgePx));
            if (xs[i] + w <= right) {
                p.text = name;
            } else if (right - from >= w) {
                p.text = name;
                p.dx = right - w - xs[i];
            } else {
                p.text = fitText(name, static_cast<int>(std::floor(right - std::min(from, xs[i]))), font);
                p.dx = std::min(from, xs[i]) - xs[i];
            }
            p.room = std::floor(right - xs[i] - p.dx);
        }
        p.cut = p.text != name;
        previousEnd = xs[i] + p.dx + font.width(p.text);
    }
    if (whole >= 0 && whole < n) {
        NamePlace& p = placed[static_cast<std::size_t>(whole)];
        const double w = font.width(names[whole]);
        p.text = names[whole];
        p.dx = std::min(0.0, right - w - xs[whole]);
        if (xs[whole] + p.dx < edgePx) p.dx = edgePx - xs[whole];
        p.room = HUGE_VAL;
        p.cut = false;
    }
    return placed;
}

namespace {

// How far the marks of ticks reach left of the axis line (beyond its half
// width, which the zoom keys make thicker), and where their labels end, in
// pixels.
double tickMarkPx(const PCPlot& plot) { return plot.axisLineWidth / 2.0 + 4.0; }
double tickLabelPx(const PCPlot& plot) { return tickMarkPx(plot) + 3.0; }

// Per dimension, once per table: how many records miss a value, the range
// of those that have one, and whether they look like whole numbers (from an
// even sample of them).
struct ValueSummary {
    std::uint64_t generation = 0;
    const double* values = nullptr;
    int records = -1;
    int missing = 0;
    double low = NAN;
    double high = NAN;
    bool integers = false;
};

const ValueSummary& summaryOf(const Dimension& d, int index) {
    static std::vector<ValueSummary> summaries(maxSlots);
    ValueSummary& c = summaries[static_cast<std::size_t>(index)];
    if (c.generation == tableGeneration && c.values == d.values && c.records == d.recordCount) return c;
    c = ValueSummary{tableGeneration, d.values, d.recordCount, 0, NAN, NAN, false};
    if (d.values == nullptr || d.recordCount <= 0) return c;
    if (!std::isnan(d.missingValue)) {
        double low = HUGE_VAL, high = -HUGE_VAL;
        int count = 0;
        for (int r = 0; r < d.recordCount; ++r) {
            const double v = d.values[r];
            if (v == d.missingValue) {
                ++count;
            } else {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
        c.missing = count;
        if (low <= high) {
            c.low = low;
            c.high = high;
        }
    }
    const int step = std::max(1, d.recordCount / 65536);
    bool integers = true;
    for (int r = 0; r < d.recordCount && integers; r += step) {
        const double v = d.values[r];
        integers = v == d.missingValue || (v == std::floor(v) && std::fabs(v) < 1e15);
    }
    c.integers = integers;
    return c;
}

// Per dimension: its ticks, kept while the axis places and measures them alike.
struct TickCache {
    std::uint64_t generation = 0;
    std::uint64_t display = 0;
    double pixels = -1.0;
    double low = 0.0;
    double high = 0.0;
    ValueFormat format = ValueFormat::Number;
    std::vector<AxisTick> ticks;
};

// What axis i shows besides its line: ticks, and the place of its missing
// values with the gap that parts them from the range (positions 0 to 1).
struct AxisMarks {
    const std::vector<AxisTick>* ticks = nullptr;
    const Dimension* dimension = nullptr;
    int missing = 0;
    double missingAt = 0.0;
    double gapLow = 0.0;
    double gapHigh = 0.0;
};

AxisMarks marksOf(const PCPlot& plot, const FrameAxes& frame, int i) {
    AxisMarks m;
    const int index = frame.dimensionOf[i];
    const Dimension* d = plot.dimensionAt(index);
    if (d == nullptr || plot.recordCount <= 0) return m;
    m.dimension = d;
    const Placement p = d->placement();
    const double axisPixels = std::fabs(frame.height[i] * FramePixels(plot).perY);
    double low = p.valueAtEnd(p.flipped), high = p.valueAtEnd(!p.flipped);
    const ValueSummary& values = summaryOf(*d, index);
    const ValueSummary& missing = readingAids ? values : ValueSummary{};
    if (missing.missing > 0) {
        m.missing = missing.missing;
        m.missingAt = p.position(d->missingValue);
        if (!std::isnan(missing.low)) {
            low = missing.low;
            // The gap lies halfway between the missing values and the least
            // present one: at most 6 pixels, less where they stand closer.
            const double lowest = p.position(missing.low);
            const double half = std::min(3.0 / std::max(axisPixels, 1.0), std::fabs(lowest - m.missingAt) * 0.3);
            const double middle = (lowest + m.missingAt) / 2.0;
            m.gapLow = middle - half;
            m.gapHigh = middle + half;
        }
    }
    const bool ticked = axisTicksShown && !plot.axes[i]->isCategorical && d->labelCount == 0;
    if (!ticked) return m;
    // Never resized: the frame holds pointers to the ticks of every axis.
    static std::vector<TickCache> caches(maxSlots);
    TickCache& c = caches[static_cast<std::size_t>(index)];
    if (c.generation != tableGeneration || c.display != d->displayRevision || c.pixels != axisPixels ||
        c.low != low || c.high != high || c.format != d->format) {
        c = TickCache{tableGeneration, d->displayRevision, axisPixels, low, high, d->format,
                      axisTicks(p, d->format, low, high, axisPixels, values.integers)};
    }
    m.ticks = &c.ticks;
    return m;
}

double heightAt(const FrameAxes& frame, int i, double position) { return position * frame.height[i] + frame.bottom[i]; }

// "log", "symlog", "flipped" or both, for what the axis does to its values.
std::string scaleMark(const Dimension& d) {
    std::string mark = d.scale == AxisScale::Log ? "log" : d.scale == AxisScale::Symlog ? "symlog" : "";
    if (d.flipped) mark += mark.empty() ? "flipped" : ", flipped";
    return mark;
}

// The names of the axes with the marks of their scales: each cut to the room
// before its right neighbour, the one nearest the pointer whole and on top.
void drawNames(const PCPlot& plot, const FramePixels& px) {
    const int n = plot.axisCount;
    const FontMetrics& font = textFont();
    std::vector<double> xs, topLabels;
    std::vector<std::string> names, marks;
    for (int i = 0; i < n; ++i) {
        const Dimension* d = plot.dimensionAt(plot.axes[i]->dimensionIndex);
        xs.push_back(px.x(plot.axisPositions[i]));
        names.push_back(d != nullptr ? d->name : std::string());
        marks.push_back(d != nullptr && readingAids ? scaleMark(*d) : std::string());
        char top[40] = "";
        if (d != nullptr && !marks.back().empty()) formatValue(*d, d->placement().valueAtEnd(true), top, sizeof top);
        topLabels.push_back(font.width(top));
    }
    // Where the line under a name reaches down to the range label's line,
    // the mark starts after that label.
    const bool crowded = (0.97 - 0.93) * px.perY < 2.0 * font.height();
    const int whole = std::isnan(pointerViewX) ? -1 : plot.nearestAxis(pointerViewX);
    const std::vector<NamePlace> placed = placeNames(xs, names, px.width, whole, font);
    bool cut = false;
    const auto draw = [&](int i) {
        const NamePlace& p = placed[static_cast<std::size_t>(i)];
        drawHaloText(plot.axisPositions[i], 0.97, p.text, TextAlign::Left, p.dx);
        cut = cut || p.cut;
        if (marks[i].empty()) return;
        const double from = crowded ? std::max(p.dx, topLabels[i] + 2.0 * font.advance[' ']) : p.dx;
        const double room = std::min(p.dx + p.room, px.width - edgePx - xs[i]) - from;
        drawHaloText(plot.axisPositions[i], 0.97, fitText(marks[i], static_cast<int>(std::min(room, 1e6)), font),
                     TextAlign::Left, from, -font.height());
    };
    for (int i = 0; i < n; ++i)
        if (i != whole) draw(i);
    if (whole >= 0 && whole < n) draw(whole);
    axisNamesCut = cut;
}

// Pixels left of axis i up to its nearest neighbour on that side (and the
// category labels right of that one), or up to the window's edge.
double roomLeftOf(const PCPlot& plot, const FramePixels& px, int i) {
    double nearest = plot.viewLeft;
    int neighbour = -1;
    for (int k = 0; k < plot.axisCount; ++k)
        if (k != i && plot.axisPositions[k] < plot.axisPositions[i] && plot.axisPositions[k] >= nearest) {
            nearest = plot.axisPositions[k];
            neighbour = k;
        }
    double room = (plot.axisPositions[i] - nearest) * px.perX;
    const Dimension* d = neighbour >= 0 ? plot.dimensionAt(plot.axes[neighbour]->dimensionIndex) : nullptr;
    if (d != nullptr && plot.axes[neighbour]->isCategorical) {
        int widest = 0;
        for (const LabelEntry& label : d->labels) widest = std::max(widest, textFont().width(label.text));
        room -= 0.005 * px.perX + widest;
    }
    return room;
}

// Tick labels and the missing values' label, left of the axis; each kind
// dropped where the axis stands closer to its left neighbour than its
// labels are wide.
void drawTickLabels(const PCPlot& plot, const FrameAxes& frame, const FramePixels& px, int i) {
    const AxisMarks m = marksOf(plot, frame, i);
    if (m.ticks == nullptr && m.missing == 0) return;
    const FontMetrics& font = textFont();
    const double room = roomLeftOf(plot, px, i) - tickLabelPx(plot) - edgePx;
    const double x = plot.axisPositions[i];
    // Centred on their marks.
    const double dy = -font.ascent / 2.0 + 1.0;
    char missing[48] = "";
    if (m.missing > 0) std::snprintf(missing, sizeof missing, "missing (%d)", m.missing);
    const bool missingShown = m.missing > 0 && font.width(missing) <= room;
    int widest = 0;
    if (m.ticks != nullptr)
        for (const AxisTick& t : *m.ticks) widest = std::max(widest, font.width(t.label));
    if (m.ticks != nullptr && widest <= room)
        for (const AxisTick& t : *m.ticks) {
            // A tick label never covers the missing values' label.
            if (missingShown && std::fabs(t.position - m.missingAt) * std::fabs(frame.height[i]) * px.perY < tickGapPx)
                continue;
            drawHaloText(x, heightAt(frame, i, t.position), t.label, TextAlign::Right, -tickLabelPx(plot), dy);
        }
    if (missingShown) drawHaloText(x, heightAt(frame, i, m.missingAt), missing, TextAlign::Right, -tickLabelPx(plot), dy);
}

}  // namespace

void drawAxes(const PCPlot& plot, const FrameAxes& frame) {
    const int n = plot.axisCount;
    std::vector<AxisMarks> marks(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) marks[static_cast<std::size_t>(i)] = marksOf(plot, frame, i);
    glLineWidth(static_cast<GLfloat>(plot.axisLineWidth));
    glBegin(GL_LINES);
    for (int i = 0; i < n; ++i) {
        glColor4dv(plot.axes[i]->color.data());
        const double x = plot.axisPositions[i];
        const AxisMarks& m = marks[static_cast<std::size_t>(i)];
        if (m.gapHigh > m.gapLow) {
            // A gap parts the missing values from the range.
            glVertex2d(x, frame.bottom[i]);
            glVertex2d(x, heightAt(frame, i, m.gapLow));
            glVertex2d(x, heightAt(frame, i, m.gapHigh));
        } else {
            glVertex2d(x, frame.bottom[i]);
        }
        glVertex2d(x, frame.top[i]);
    }
    glEnd();

    // Tick marks, and one where the missing values lie, left of the line.
    const double mark = tickMarkPx(plot) / FramePixels(plot).perX;
    glLineWidth(1.0f);
    glBegin(GL_LINES);
    for (int i = 0; i < n; ++i) {
        const AxisMarks& m = marks[static_cast<std::size_t>(i)];
        glColor4dv(plot.axes[i]->color.data());
        const double x = plot.axisPositions[i];
        if (m.ticks != nullptr)
            for (const AxisTick& t : *m.ticks) {
                glVertex2d(x - mark, heightAt(frame, i, t.position));
                glVertex2d(x, heightAt(frame, i, t.position));
            }
        if (m.missing > 0) {
            glVertex2d(x - mark, heightAt(frame, i, m.missingAt));
            glVertex2d(x, heightAt(frame, i, m.missingAt));
        }
    }
    glEnd();
    glLineWidth(static_cast<GLfloat>(plot.axisLineWidth));

    for (int i = 0; i < n; ++i) {
        if (!plot.axes[i]->selected) continue;
        const double x = plot.axisPositions[i];
        glColor4dv(plot.selectedAxisColor.data());
        drawRectangle(GL_LINE_LOOP, x - 0.005, frame.bottom[i], x + 0.005, frame.top[i]);
    }

    for (int i = 0; i + 1 < n; ++i) {
        const PCShowAxis& axis = *plot.axes[i];
        const bool open = axis.scatterOn || axis.scatterTransition;
        const bool showsMds = axis.mdsVisible && axis.mdsLayout;
        if (open && !showsMds && axis.hovered) drawRuler(plot, frame, i);
    }
}

void drawLabels(const PCPlot& plot, const FrameAxes& frame) {
    const int n = plot.axisCount;
    const FramePixels px(plot);
    for (int i = 0; i < n; ++i) drawTickLabels(plot, frame, px, i);
    for (int i = 0; i < n; ++i) {
        const double x = plot.axisPositions[i];
        if (const Dimension* d = dimensionOfAxis(plot, frame, i)) {
            // Data values at the ends: the minimum on top of a flipped axis.
            const Placement placement = d->placement();
            drawValue(px, x, 0.93, *d, placement.valueAtEnd(true));
            drawValue(px, x, 0.07, *d, placement.valueAtEnd(false));
        }
        if (plot.axes[i]->mdsLayout && i < n - 1) drawHaloText((x + plot.axisPositions[i + 1]) / 2.0, 0.08, "MDS");
    }
    drawNames(plot, px);

    for (int i = 0; i < n; ++i) {
        if (!plot.axes[i]->isCategorical) continue;
        if (const Dimension* d = dimensionOfAxis(plot, frame, i)) drawCategoryLabels(plot, frame, i, *d);
    }

    if (!plot.hasHighlightedRecord) return;
    const int h = plot.highlightedRecord;
    if (h < 0 || h >= plot.recordCount) return;
    if (plot.recordLabels != nullptr && h < static_cast<int>(plot.recordLabels->size()))
        drawHaloText(0.0, 0.0, (*plot.recordLabels)[h]);
    else
        drawHaloText(0.0, 0.0, "");
    for (int i = 0; i < n; ++i) {
        if (plot.axes[i]->isCategorical) continue;
        const Dimension* d = dimensionOfAxis(plot, frame, i);
        const Positions values = valuesOfAxis(frame, i);
        if (d == nullptr || d->values == nullptr || !values) continue;
        drawValue(px, plot.axisPositions[i] + 0.005, values[h] * frame.height[i] + frame.bottom[i], *d, d->values[h]);
    }
}
