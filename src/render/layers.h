#pragma once
// The layers drawn over the records: histograms on the axes, the axes with
// their selection frames and the rulers of hovered scatterplots, and text.

#include <cstddef>
#include <vector>

#include "render/display.h"

struct PCPlot;
struct Dimension;
struct Positions;

// Counts each shown dimension once per table, range and bin count, not per frame.
void drawHistograms(const PCPlot& plot, const FrameAxes& frame);
// How often drawHistograms has counted a dimension's records.
long histogramRecounts();
void drawAxes(const PCPlot& plot, const FrameAxes& frame);
void drawLabels(const PCPlot& plot, const FrameAxes& frame);

// Counts normalised values into bins: counts needs bins + 1 slots. A value of
// exactly 1 (or above) lands in the top bin, anything below 0 in the bottom
// one; NaN is not counted. Does nothing when bins < 1.
void countHistogram(const double* values, int recordCount, int bins, int* counts);
// The same for the records' positions on an axis.
void countHistogram(const Positions& positions, int recordCount, int bins, int* counts);

// Half-length of the bar of a bin holding count of recordCount records; 0 for
// an empty table.
inline double histogramHalfLength(int count, int recordCount, double scale) {
    if (recordCount <= 0) return 0.0;
    return static_cast<double>(count) / recordCount * scale;
}

// A number as the text stream's default format writes it (%g, six digits).
void formatNumber(double value, char* out, std::size_t outSize);

// A value as d's axis shows it: a number, or for a time axis a date or a
// date and time of day.
void formatValue(const Dimension& d, double value, char* out, std::size_t outSize);

// Least vertical distance in pixels between two category labels of an axis.
constexpr double labelGapPx = 11.0;

// The category labels an axis draws, at heights y (pixels): in order (most
// frequent first), each label that lies at least gap from every label taken
// before it; pinned (-1 for none) is taken first. Their indices, ascending.
std::vector<int> thinLabels(const std::vector<double>& y, const std::vector<int>& order, int pinned,
                            double gap);
