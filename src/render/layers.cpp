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
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"

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

void drawValue(double x, double y, const Dimension& d, double value) {
    char buffer[40];
    formatValue(d, value, buffer, sizeof buffer);
    drawText(x, y, buffer);
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
    for (int k : thinLabels(pixels, order, pinned, labelGapPx))
        drawText(plot.axisPositions[i] + 0.005, heightOnAxis(d, frame, i, d.labels[k].value), d.labels[k].text);
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
        drawText(left + w / 2.0, top + 0.02, d->name);
        drawValue(left - 0.02, top - 0.025, *d, placement.valueAtEnd(false));
        drawValue(left + w - 0.02, top - 0.025, *d, placement.valueAtEnd(true));
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

void drawAxes(const PCPlot& plot, const FrameAxes& frame) {
    const int n = plot.axisCount;
    glLineWidth(static_cast<GLfloat>(plot.axisLineWidth));
    glBegin(GL_LINES);
    for (int i = 0; i < n; ++i) {
        glColor4dv(plot.axes[i]->color.data());
        glVertex2d(plot.axisPositions[i], frame.bottom[i]);
        glVertex2d(plot.axisPositions[i], frame.top[i]);
    }
    glEnd();

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
    for (int i = 0; i < n; ++i) {
        const double x = plot.axisPositions[i];
        if (const Dimension* d = dimensionOfAxis(plot, frame, i)) {
            // Data values at the ends: the minimum on top of a flipped axis.
            const Placement placement = d->placement();
            drawText(x, 0.97, d->name);
            drawValue(x, 0.93, *d, placement.valueAtEnd(true));
            drawValue(x, 0.07, *d, placement.valueAtEnd(false));
        }
        if (plot.axes[i]->mdsLayout && i < n - 1)
            drawText((x + plot.axisPositions[i + 1]) / 2.0, 0.08, "MDS");
    }

    for (int i = 0; i < n; ++i) {
        if (!plot.axes[i]->isCategorical) continue;
        if (const Dimension* d = dimensionOfAxis(plot, frame, i)) drawCategoryLabels(plot, frame, i, *d);
    }

    if (!plot.hasHighlightedRecord) return;
    const int h = plot.highlightedRecord;
    if (h < 0 || h >= plot.recordCount) return;
    if (plot.recordLabels != nullptr && h < static_cast<int>(plot.recordLabels->size()))
        drawText(0.0, 0.0, (*plot.recordLabels)[h]);
    else
        drawText(0.0, 0.0, "");
    for (int i = 0; i < n; ++i) {
        if (plot.axes[i]->isCategorical) continue;
        const Dimension* d = dimensionOfAxis(plot, frame, i);
        const Positions values = valuesOfAxis(frame, i);
        if (d == nullptr || d->values == nullptr || !values) continue;
        drawValue(plot.axisPositions[i] + 0.005, values[h] * frame.height[i] + frame.bottom[i], *d,
                  d->values[h]);
    }
}
