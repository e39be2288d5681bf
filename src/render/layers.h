#pragma once
// The layers drawn over the records: histograms on the axes, the axes with
// their selection frames and the rulers of hovered scatterplots, and text.

#include <cstddef>
#include <string>
#include <vector>

#include "draw/text.h"
#include "render/display.h"

struct PCPlot;
struct Dimension;
struct Positions;

// The marks of scales and of missing values and the legends: on in the
// program; switched off only to see what they cost.
extern bool readingAids;

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

// Least distance in pixels between the names of neighbouring axes.
constexpr double nameGapPx = 6.0;

// Where an axis name is drawn: its text (cut with "..." where it would not
// fit), moved dx pixels from its axis, with room pixels for it and the mark
// of the axis's scale under it.
struct NamePlace {
    std::string text;
    double dx = 0.0;
    double room = 0.0;
    bool cut = false;
};

// The names of axes at pixel columns xs in a drawing area width pixels wide:
// each from its axis rightwards, cut to the room before the next axis to its
// right; the rightmost moves left, into what its neighbour leaves, rather
// than run past the window's edge. The name of axis `whole` (-1: none) is
// kept whole and moved inside the window, to be drawn over the others.
std::vector<NamePlace> placeNames(const std::vector<double>& xs, const std::vector<std::string>& names, double width,
                                  int whole, const FontMetrics& font);
