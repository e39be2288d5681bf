#pragma once
// The display and reshape callbacks and the primitives every layer shares.

#include <array>
#include <cstddef>
#include <string>

#include "plot/types.h"

struct PCPlot;

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
void drawText(double x, double y, const char* text);

// The text drawText is drawing: at most 99 characters and the terminator.
constexpr std::size_t textBufferSize = 100;
extern char textBuffer[textBufferSize];

// Copies the first line of text (up to a line feed) into out, cut to
// outSize - 1 characters and terminated; returns the characters copied.
std::size_t copyTextLine(const char* text, char* out, std::size_t outSize);

// Fills frame from plot's axes and the normalised values they show.
void fillFrameAxes(const PCPlot& plot, FrameAxes& frame);
