#include "brush/brush.h"

#include <FL/gl.h>

#include <algorithm>
#include <utility>

#include "interaction/interaction.h"
#include "mds/animation.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/rectangle.h"

std::vector<std::unique_ptr<PCAxisBrush>> axisBrushes;
std::vector<std::unique_ptr<PCAngularBrush>> angularBrushes;
std::vector<std::unique_ptr<PCScatterPlotBrush>> scatterPlotBrushes;
std::deque<VanishingTrack> vanishingTracks;

PCBrush::PCBrush()
    : values(::plot ? static_cast<size_t>(::plot->capacity) : 0, 0.0),
      plot(::plot),
      capacity(::plot ? ::plot->capacity : 0) {}

void PCBrush::invert() {
    if (inverted) return;
    std::swap(insideValue, outsideValue);
    inverted = true;
}

void clearBrushes() {
    interaction.strokeLength = 0.0;
    if (plot != nullptr) {
        plot->colorBySelection = true;
        std::fill(plot->recordSelection.begin(), plot->recordSelection.end(), 1.0);
        plot->straightLines = true;
    }
    axisBrushes.clear();
    angularBrushes.clear();
    scatterPlotBrushes.clear();
    vanishingTracks.clear();
    interaction.strokePoints.clear();
    layoutAnimationPaused = false;
    layoutAnimating = false;
}

void drawAxisBrush(const PCAxisBrush& brush, double w) {
    const PCShowAxis& axis = *brush.axis;
    glLineWidth(2.0);
    Rgba color = brush.color;
    if (brush.inverted) {
        for (int k = 0; k < 3; ++k) color[k] = 1.0 - color[k];
    }
    glColor4dv(color.data());
    const double x = axis.position;
    const double span = axis.regionTop - axis.regionBottom;
    const double low = axis.regionBottom + span * brush.low;
    const double high = axis.regionBottom + span * brush.high;
    drawRectangle(GL_LINE_LOOP, x - w, low, x + w, high);
    glLineWidth(1.0);
}
