#pragma once
// The display and reshape callbacks and the primitives every layer shares.

#include <array>
#include <string>

#include "plot/types.h"

// Per-frame scratch the layers share; filled once by drawPlotBody.
struct FrameAxes {
    std::array<const double*, maxSlots> normalized{};
    std::array<int, maxSlots> dimensionOf{};
    std::array<double, maxSlots> top{};
    std::array<double, maxSlots> bottom{};
    std::array<double, maxSlots> height{};
};

void onDisplay();
void onReshape(int width, int height);
void setUpFrame();
void drawPlotBody();
void drawText(double x, double y, const std::string& text);
