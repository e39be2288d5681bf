#include "render/overlays.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/platform.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "draw/text.h"
#include "plot/plot.h"
#include "render/axis_ticks.h"
#include "render/layers.h"
#include "render/progress.h"
#include "render/pixel_space.h"

namespace {

// Draws what fn draws in drawing-area pixels, from the lower left, and
// puts the frame's own projection back afterwards.
template <class Draw>
void inPixels(Draw draw) {
    const int width = std::max(windowWidth, 1), height = std::max(windowHeight, 1);
    glPushAttrib(GL_VIEWPORT_BIT | GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_LINE_BIT);
    glViewport(0, 0, width, height);
    pushPixelSpace(width, height);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw(static_cast<double>(width), static_cast<double>(height));
    popPixelSpace();
    glPopAttrib();
}

// ---------------------------------------------------------------- message band

struct Band {
    long serial = 0;
    std::string text;
    double since = 0.0;             // when the band first saw it
    std::uint64_t generation = 0;   // the table then: a load ends it
    bool drawn = false;             // what the last frame showed
    long drawnSerial = 0;
};

Band band;

void observeRefusals() {
    const UserRefusal latest = latestRefusal();
    if (latest.serial == band.serial) return;
    band.serial = latest.serial;
    // Trace lines start with a blank, which the band leaves out.
    const std::size_t first = latest.text.find_first_not_of(' ');
    band.text = first == std::string::npos ? std::string() : latest.text.substr(first);
    band.since = clockMs();
    band.generation = tableGeneration;
}

bool bandVisible() {
    return band.serial > 0 && !band.text.empty() && band.generation == tableGeneration && !loadInProgress() &&
           clockMs() - band.since < messageShownMs;
}

// ---------------------------------------------------------------- legends

constexpr double barWidthPx = 8.0;
constexpr double barRightPx = 6.0;  // from the window's right edge
constexpr double legendMarkPx = 4.0;

// Pixels of the drawing area left free right of the axes: from 0.93 of the
// width, or from the rightmost axis where one stands further right.
double marginLeftPx(const PCPlot& plot, double width) {
    double right = 0.93;
    for (int i = 0; i < plot.axisCount; ++i) right = std::max(right, plot.axisPositions[i]);
    const double span = plot.viewRight - plot.viewLeft;
    return span > 0.0 ? (right - plot.viewLeft) / span * width : 0.93 * width;
}

void drawBarFrame(double x0, double y0, double x1, double y1) {
    glLineWidth(1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2d(x0, y0);
    glVertex2d(x1, y0);
    glVertex2d(x1, y1);
    glVertex2d(x0, y1);
    glEnd();
}

// Marks at the positions along a bar from y0 to y1, and their labels left of
// them unless the widest does not fit into room pixels.
void drawBarTicks(const std::vector<double>& positions, const std::vector<std::string>& labels, double x0, double y0,
                  double y1, double room, const Rgba& color) {
    const FontMetrics& font = textFont();
    glColor4dv(color.data());
    glBegin(GL_LINES);
    for (double t : positions) {
        glVertex2d(x0 - legendMarkPx, y0 + t * (y1 - y0));
        glVertex2d(x0, y0 + t * (y1 - y0));
    }
    glEnd();
    int widest = 0;
    for (const std::string& l : labels) widest = std::max(widest, font.width(l));
    if (widest + legendMarkPx + 3.0 > room) return;
    for (std::size_t k = 0; k < positions.size() && k < labels.size(); ++k)
        drawHaloText(x0 - legendMarkPx - 2.0, y0 + positions[k] * (y1 - y0), labels[k], TextAlign::Right, 0.0,
                     -font.ascent / 2.0);
}

void drawColorLegend(const PCPlot& plot, const Dimension& d, double width, double y0, double y1) {
    const FontMetrics& font = textFont();
    const double x1 = width - barRightPx, x0 = x1 - barWidthPx;
    const double room = x0 - marginLeftPx(plot, width) - 2.0;
    // Along the dimension's scale, bottom to top, as the records take it.
    Placement along = d.placement();
    along.flipped = false;
    glShadeModel(GL_SMOOTH);
    glBegin(GL_QUAD_STRIP);
    for (int k = 0; k <= 4; ++k) {
        Rgba c{0.0, 0.0, 0.0, 1.0};
        rampColor(k / 4.0, c);
        glColor4dv(c.data());
        glVertex2d(x0, y0 + k / 4.0 * (y1 - y0));
        glVertex2d(x1, y0 + k / 4.0 * (y1 - y0));
    }
    glEnd();
    glColor4dv(plot.textColor.data());
    drawBarFrame(x0, y0, x1, y1);

    std::vector<double> positions;
    std::vector<std::string> labels;
    if (d.labelCount > 0) {
        // Categories: as many labels as stand apart, the most frequent first.
        const int count = std::min(d.labelCount, static_cast<int>(d.labels.size()));
        std::vector<double> heights;
        for (int k = 0; k < count; ++k) heights.push_back(along.position(d.labels[k].value) * (y1 - y0));
        std::vector<int> order = d.labelsByFrequency;
        if (static_cast<int>(order.size()) != count) {
            order.resize(static_cast<std::size_t>(count));
            for (int k = 0; k < count; ++k) order[k] = k;
        }
        for (int k : thinLabels(heights, order, -1, labelGapPx)) {
            positions.push_back(along.position(d.labels[k].value));
            labels.push_back(d.labels[k].text);
        }
    } else {
        for (const AxisTick& t : axisTicks(along, d.format, along.valueAtEnd(false), along.valueAtEnd(true), y1 - y0)) {
            positions.push_back(t.position);
            labels.push_back(t.label);
        }
    }
    drawBarTicks(positions, labels, x0, y0, y1, room, plot.textColor);
    // The name above the bar, ending at the window's edge.
    const std::string name = fitText(d.name, static_cast<int>(width - 2.0 - marginLeftPx(plot, width) - 2.0), font);
    drawHaloText(width - 2.0, y1 + font.descent + 4.0, name, TextAlign::Right);
}

void drawDensityLegend(const PCPlot& plot, double width, double y0, double y1) {
    const FontMetrics& font = textFont();
    const double x1 = width - barRightPx, x0 = x1 - barWidthPx;
    // From nearly the background to the darkest shade of unpainted records.
    const Rgba& b = plot.backgroundColor;
    const Rgba dark{0.2, 0.2, 0.2, 1.0};
    glShadeModel(GL_SMOOTH);
    glBegin(GL_QUADS);
    glColor4d(b[0] * 0.9 + dark[0] * 0.1, b[1] * 0.9 + dark[1] * 0.1, b[2] * 0.9 + dark[2] * 0.1, 1.0);
    glVertex2d(x0, y0);
    glVertex2d(x1, y0);
    glColor4dv(dark.data());
    glVertex2d(x1, y1);
    glVertex2d(x0, y1);
    glEnd();
    glColor4dv(plot.textColor.data());
    drawBarFrame(x0, y0, x1, y1);
    drawHaloText(width - 2.0, y1 + font.descent + 4.0, "more records", TextAlign::Right);
    drawHaloText(width - 2.0, y0 - font.ascent - 4.0, "fewer", TextAlign::Right);
}

}  // namespace

void drawMessageBand() {
    observeRefusals();
    band.drawn = bandVisible();
    band.drawnSerial = band.serial;
    if (!band.drawn) return;
    inPixels([](double width, double) {
        const FontMetrics& font = textFont();
        const std::string text = fitText(band.text, static_cast<int>(width) - 12, font);
        // Above the progress bar; the lower left holds the highlighted record's label.
        drawHaloText(width - 6.0, progressBarHeight + font.descent + 3.0, text, TextAlign::Right);
    });
}

bool messageBandChanged() {
    observeRefusals();
    const bool visible = bandVisible();
    return visible != band.drawn || (visible && band.drawnSerial != band.serial);
}

const char* messageBandText() {
    observeRefusals();
    return bandVisible() ? band.text.c_str() : "";
}

bool recordsColoredByDimension(const PCPlot& plot) {
    if (!plot.colorByFunction || plot.dimensionAt(plot.colorDimension) == nullptr || plot.recordCount <= 0) return false;
    if (!plot.useRecordColors) return true;
    // Read once per colour revision, not per frame.
    static const PCPlot* owner = nullptr;
    static std::uint64_t generation = 0, revision = 0;
    static int records = -1;
    static bool answer = false;
    if (owner != &plot || generation != tableGeneration || revision != plot.colorRevision ||
        records != plot.recordCount) {
        answer = plot.recordColors.anyWithout(plot.recordCount);
        owner = &plot;
        generation = tableGeneration;
        revision = plot.colorRevision;
        records = plot.recordCount;
    }
    return answer;
}

void drawLegends(const PCPlot& plot) {
    const Dimension* colored = recordsColoredByDimension(plot) ? plot.dimensionAt(plot.colorDimension) : nullptr;
    const bool density = densityShading && plot.recordCount > 0 && plot.axisCount > 0;
    if (!readingAids || (colored == nullptr && !density)) return;
    inPixels([&](double width, double height) {
        if (colored != nullptr && density) {
            drawColorLegend(plot, *colored, width, 0.5 * height, 0.84 * height);
            drawDensityLegend(plot, width, 0.16 * height, 0.38 * height);
        } else if (colored != nullptr) {
            drawColorLegend(plot, *colored, width, 0.2 * height, 0.84 * height);
        } else {
            drawDensityLegend(plot, width, 0.2 * height, 0.8 * height);
        }
    });
}
