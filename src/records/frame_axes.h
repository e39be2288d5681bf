#pragma once
// The per-frame axis scratch every layer that draws records reads: where
// each axis stands vertically and where its records lie on it.

#include <array>

#include "base/types.h"
#include "data/dimension.h"

struct PCPlot;

struct FrameAxes {
    // Per plot dimension shown by some axis: its records' positions.
    std::array<Positions, maxSlots> normalized{};
    std::array<int, maxSlots> dimensionOf{};
    std::array<double, maxSlots> top{};
    std::array<double, maxSlots> bottom{};
    std::array<double, maxSlots> height{};
};

// Fills frame from plot's axes and the normalised values they show.
void fillFrameAxes(const PCPlot& plot, FrameAxes& frame);
