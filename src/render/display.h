#pragma once
// The display and reshape callbacks, the frame set-up and the per-frame
// axis scratch the layers share.

#include <array>

#include "base/types.h"
#include "data/dimension.h"

struct PCPlot;

// Per-frame scratch the layers share; filled once by drawPlotBody.
struct FrameAxes {
    // Per plot dimension shown by some axis: its records' positions.
    std::array<Positions, maxSlots> normalized{};
    std::array<int, maxSlots> dimensionOf{};
    std::array<double, maxSlots> top{};
    std::array<double, maxSlots> bottom{};
    std::array<double, maxSlots> height{};
};

void onDisplay();
void onReshape(int width, int height);
void setUpFrame();
void drawPlotBody();

// Fills frame from plot's axes and the normalised values they show.
void fillFrameAxes(const PCPlot& plot, FrameAxes& frame);
