#pragma once
// Where an axis gets its ticks and what they say: nice values on linear
// axes, decades on logarithmic ones, 0 and decades on symlog ones, calendar
// steps on time axes. No window system: the frame draws what this chooses.

#include <string>
#include <vector>

#include "data/dimension.h"

struct AxisTick {
    double value = 0.0;     // the data value
    double position = 0.0;  // on the axis as its records lie: 0 bottom, 1 top
    std::string label;
};

// Least distance in pixels between the baselines of two tick labels.
constexpr double tickGapPx = 15.0;
// How many ticks an axis aims at.
constexpr int fewestTicks = 4;
constexpr int mostTicks = 8;

// The ticks of an axis that places values by placement over axisPixels
// pixels and writes them as format, on the data values from low to high
// (the range ticks may take: without the missing values' place below it).
// From fewestTicks to mostTicks ticks at least tickGapPx apart where they
// fit, as few as fit where they do not. One axis writes all its labels with
// one number of decimals (or as whole decades). An axis of whole numbers
// (integers) gets no ticks between them.
std::vector<AxisTick> axisTicks(const Placement& placement, ValueFormat format, double low, double high,
                                double axisPixels, bool integers = false);

// A number with the given decimals, never "-0".
std::string fixedLabel(double value, int decimals);
