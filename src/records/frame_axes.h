#pragma once
// The per-frame axis scratch every layer that draws records reads: where
// each axis stands vertically and the normalised values it shows.

#include <array>

#include "base/types.h"

struct PCPlot;

struct FrameAxes {
    std::array<const double*, maxSlots> normalized{};
    std::array<int, maxSlots> dimensionOf{};
    std::array<double, maxSlots> top{};
    std::array<double, maxSlots> bottom{};
    std::array<double, maxSlots> height{};
};

// Fills frame from plot's axes and the normalised values they show.
void fillFrameAxes(const PCPlot& plot, FrameAxes& frame);
