#include "render/hover_gl.h"

#include <FL/glut.H>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "draw/text.h"
#include "interaction/hover.h"
#include "plot/plot.h"
#include "records/records.h"
#include "render/gl_sink.h"
#include "render/pixel_space.h"

namespace {

constexpr int lineHeight = 13;  // pixels a line of the Helvetica 10 font takes
constexpr int padding = 4;
constexpr int columnGap = 8;
constexpr int pointerGap = 14;

// Whatever colour the renderers ask for becomes the highlight's; lines and
// points are thinner than the highlighted record's.
class HoverSink {
public:
    void lineWidth(double w) { gl_.lineWidth(std::max(1.0, w * 0.5)); }
    void pointSize(double s) { gl_.pointSize(std::max(2.0, s * 0.6)); }
    void color(const double*) { gl_.color(highlightColor.data()); }
    void begin(Primitive p) { gl_.begin(p); }
    void vertex(double x, double y) { gl_.vertex(x, y); }
    void end(Primitive p) { gl_.end(p); }
    void finish() { gl_.finish(); }

private:
    GlSink gl_;
};

void drawRecord(const PCPlot& plot, int record) {
    static RecordPass pass;
    FrameAxes frame;
    fillFrameAxes(plot, frame);
    if (!pass.prepare(plot, frame)) return;
    pass.first = record;
    pass.last = record + 1;
    HoverSink sink;
    renderRecordLayer(plot, pass, screenPieceRule(plot), plot.straightLines, sink);
}

// How far drawText advances over text, in pixels.
int textWidth(const std::string& text) { return textFont().width(text); }

void drawBox(const PCPlot& plot, const HoverShown& shown) {
    std::vector<HoverLine> lines = hoverBoxLines(plot, shown.record);
    const int width = plot.viewportWidth, height = plot.viewportHeight;
    // As many lines as the area holds; the last one then says what is left out.
    const int fit = std::max(1, (height - 2 * padding) / lineHeight);
    if (static_cast<int>(lines.size()) > fit) {
        const std::size_t left = lines.size() - static_cast<std::size_t>(fit - 1);
        lines.resize(static_cast<std::size_t>(fit - 1));
        lines.push_back({"... " + std::to_string(left) + " more", ""});
    }

    glPushAttrib(GL_TRANSFORM_BIT | GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    pushPixelSpace(width, height);

    int names = 0, values = 0, whole = 0;
    for (const HoverLine& l : lines) {
        if (l.value.empty()) {
            whole = std::max(whole, textWidth(l.name));
        } else {
            names = std::max(names, textWidth(l.name));
            values = std::max(values, textWidth(l.value));
        }
    }
    const int boxWidth = std::max(whole, values > 0 ? names + columnGap + values : names) + 2 * padding;
    const int boxHeight = static_cast<int>(lines.size()) * lineHeight + 2 * padding;
    // Right of and below the pointer, else where it fits; always inside.
    const int px = shown.x - plot.viewportX;
    const int py = height - (shown.y - plot.viewportY);
    int left = px + pointerGap;
    if (left + boxWidth > width) left = px - pointerGap - boxWidth;
    left = std::clamp(left, 0, std::max(0, width - boxWidth));
    int top = py - pointerGap;
    if (top - boxHeight < 0) top = py + pointerGap + boxHeight;
    top = std::clamp(top, std::min(boxHeight, height), height);

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LINE_SMOOTH);
    glColor3d(1.0, 1.0, 0.9);
    glRecti(left, top - boxHeight, left + boxWidth, top);
    glColor3d(0.45, 0.45, 0.45);
    glLineWidth(1.0f);
    glBegin(GL_LINE_LOOP);
    glVertex2d(left + 0.5, top - boxHeight + 0.5);
    glVertex2d(left + boxWidth - 0.5, top - boxHeight + 0.5);
    glVertex2d(left + boxWidth - 0.5, top - 0.5);
    glVertex2d(left + 0.5, top - 0.5);
    glEnd();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const int baseline = top - padding - static_cast<int>(k + 1) * lineHeight + 3;
        drawText(left + padding, baseline, lines[k].name);
        if (!lines[k].value.empty()) drawText(left + padding + names + columnGap, baseline, lines[k].value);
    }
    popPixelSpace();
    glPopAttrib();
}

}  // namespace

void drawHoverDetails() {
    const HoverShown shown = hoverShown();
    if (plot == nullptr || shown.record < 0) return;
    drawRecord(*plot, shown.record);
    drawBox(*plot, shown);
}
