#pragma once
// The record layer of large tables drawn from binned records. Per region (two
// neighbouring axes) the records are counted on a fixed grid of their two
// normalised values, and each cell keeps, per alpha value in use, its count,
// the sums of its records' offsets (so what it draws sits at their mean) and
// of their alpha-weighted colours. A region's straight lines are then drawn
// column by column: the records crossing a column at one height are the
// cells on one line of the grid, and the slant stack sums every such line of
// the grid at once, with the moments that place each group exactly and give
// its spread and its mean slope. Points of open regions are drawn bin by bin,
// or a dense block of bins at a time. What the marks cover is accumulated per
// pixel and composited once (accumulation.h). Curves and the pieces of open
// regions come from cells of four values instead (cell_bins.h).
//
// Bins are counted again when the table, the selection or the colours
// change; the lines and points are drawn again from kept bins when only the
// geometry changes; regions are composited again with new opacities without
// being drawn again. binned_table.h keeps them per pair of dimensions.

#include <array>
#include <cstdint>
#include <vector>

#include "bins/slant_stack.h"
#include "records/accumulation.h"
#include "records/draw_classes.h"

struct PCPlot;
struct RasterView;
struct Positions;

constexpr int binsPerAxis = 512;
// The grid the slant stack groups lines on: two by two bins per cell.
constexpr int stackCells = 256;
// Alpha groups the bins count apart; a class whose records have more
// distinct alphas than its share of groups draws neighbouring ones as one.
constexpr int maxBinGroups = 24;
// Bins, their line sums, cells and pictures together stay below this: what
// two views of eight axes need at once (straight lines and curves, an open
// region) and the bins of about thirty more pairs of dimensions shown
// before. A region beyond it draws each record.
constexpr std::size_t binnedMemoryLimit = std::size_t(512) << 20;

// Record colours as the bins count them: 8 bits per channel, and per record
// its alpha group. Groups belong to the classes of the drawing order
// (draw_classes.h, at most maxBinClasses): each class is counted, drawn and
// accumulated on its own and composited over the classes before it, so what
// is selected or painted lies on top. A class holds one group per distinct
// alpha of its records, neighbouring alphas sharing one (at their records'
// mean alpha) beyond maxBinGroups in all. A class whose records share one
// colour keeps it (classColor); the others sum their colours per cell in
// three channels of their own.
//
// A plot coloured by the selection alone (no record with a colour of its
// own) is kept in two parts instead: every record's colour as if selected
// (its base colour) and which records are selected, the others all sharing
// one grey. A brush then changes the second part only, and the bins count
// whichever side of it is smaller against totals counted once.
struct BinColors {
    static constexpr std::uint8_t notDrawn = 0xFF;
    std::vector<std::uint32_t> packed;  // per record: r, g, b bytes (little end first), then its group
    int classCount = 0;                 // composited in this order
    int groupCount = 0;                 // counted per bin, in class order
    std::array<float, maxBinGroups> groupAlpha{};
    std::array<std::uint8_t, maxBinGroups> groupClass{};
    // Per class: the first of its colour-sum channels, or -1 where its
    // records share one colour, classColor.
    std::array<std::int8_t, maxBinClasses> colorChannel{};
    std::array<std::array<float, 3>, maxBinClasses> classColor{};
    int colorChannels = 0;  // three per class of several colours

    bool bySelection = false;               // packed holds base colours
    std::vector<std::uint64_t> selected;    // a bit per record
    long long selectedCount = 0;
    std::uint8_t deselectedAlpha = 0;       // the others' grey, 8 bits each
    std::uint8_t deselectedGrey = 0;
    int selectedGroup = -1;                 // their groups, -1 when none is drawn
    int deselectedGroup = -1;

    // What the bins count per cell: records per group, then colour sums.
    int channels() const { return groupCount + colorChannels; }
    // The colour-sum channel of group g's class, -1 for a class of one colour.
    int channelOf(int g) const { return colorChannel[groupClass[static_cast<std::size_t>(g)]]; }
    // Colours and classes of every record but `skip` (-1 for none), on
    // `threads` threads.
    void compute(const PCPlot& plot, int skip, int threads);
    // The groups for the records per class and alpha byte (byte 0 draws
    // nothing): classAlphas[class][alpha]; returns each pair's group.
    std::vector<std::array<std::uint8_t, 256>> assignGroups(const std::vector<std::array<long long, 256>>& classAlphas);
    // The base colours of a plot coloured by the selection alone; false (and
    // nothing kept) for any other plot.
    bool computeBase(const PCPlot& plot, int threads);
    // Which records are selected, after computeBase; false when the others
    // do not all share one grey or the table is too large for 32-bit sums.
    bool splitSelection(const PCPlot& plot, int threads);
    // Whether the smaller side of the selection is the selected one.
    bool countSelected() const { return 2 * selectedCount <= static_cast<long long>(packed.size()); }
};

// A dimension's normalised values on the bins' grid, 16 bits each: the top
// 9 bits are the bin, the rest the offset within it. Read instead of the
// doubles, they cut what a rebuild streams fourfold.
using BinCoordinates = std::vector<std::uint16_t>;
void computeBinCoordinates(const Positions& normalized, int records, BinCoordinates& out, int threads);

// Where one region's lines and points go in the frame's pixels.
struct RegionGeometry {
    // Lines: axis i at column x0 with heights y = p0 + q0 * u, axis i + 1 at x1.
    double x0 = 0.0, x1 = 0.0;
    double p0 = 0.0, q0 = 0.0, p1 = 0.0, q1 = 0.0;
    // Points of an open region: x = px + pw * w, y = p0 + q0 * u; the shadow
    // sits (sx, sy) pixels away.
    double px = 0.0, pw = 0.0;
    double sx = 0.0, sy = 0.0;
    double lineWidth = 1.0;
    double pointSize = 5.0;
    // The region's opacities (hover fading, Page Up/Down, Home/End): they
    // multiply its records' alphas, so a change draws the region again.
    double lineOpacity = 1.0;
    double pointOpacity = 1.0;
    bool smooth = true;
    // Marks laid one over another in order; under density shading they
    // only add up.
    bool ordered = true;
    int width = 0;  // of the frame
    int height = 0;

    bool sameLines(const RegionGeometry& o) const;
    bool samePoints(const RegionGeometry& o) const;
};

// How a region reads the bins of its pair of dimensions. The bins are
// counted once per pair, the lower dimension first and both axes upright;
// a region showing them the other way round or on a flipped axis reads
// them transposed or mirrored.
struct BinOrientation {
    bool transposed = false;  // the counted right dimension is on the left axis
    bool flipLeft = false;    // the left axis runs from its top down
    bool flipRight = false;
    bool operator==(const BinOrientation& o) const {
        return transposed == o.transposed && flipLeft == o.flipLeft && flipRight == o.flipRight;
    }
    bool operator!=(const BinOrientation& o) const { return !(*this == o); }
};

// Pixel columns [first, last) of a picture still to be drawn.
struct ColumnRange {
    int first = 0;
    int last = 0;
    bool empty() const { return last <= first; }
};

class RegionBins {
public:
    int left = -1;  // dimensions counted, left axis (vertical in the scatterplot) first
    int right = -1;

    // The orientation the line sums and pictures are made in. Changing it
    // sums the kept places (and, given the colours they were counted with,
    // the kept counts) along the lines again, reading no record; counts
    // made later follow it. True when something was summed again.
    bool orient(const BinOrientation& o, const BinColors* counted);
    const BinOrientation& orientation() const { return orientation_; }

    // Where the records sit: per bin the count of all records and the sums
    // of their offsets within it, and the line sums of their moments.
    // Depends on the values alone.
    void place(const BinCoordinates& u, const BinCoordinates& w, int records);
    bool placed() const { return !places_.empty(); }
    // Counts the records of colors per bin and group (and the colour sums
    // of classes of several colours per stack cell), all but the skipped
    // one; stackCounts(0) and (1) then sum them along the lines, each on its
    // own, with the moments of each class's places but the largest class's,
    // which are what the other classes leave of all records' moments.
    void count(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors, int skip);
    // The same for colours by the selection, in kCountParts parts that may
    // run side by side, then finishBySelection: the base colours' totals
    // once per base colouring (baseFor), then only the smaller side of the
    // selection. Tables of 2^32 / 255 records or more are counted by count().
    static constexpr int kCountParts = 2;
    void countPart(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors,
                   std::uint64_t baseFor, int part);
    void finishBySelection(const BinColors& colors, std::uint64_t baseFor);
    void stackCounts(int which);
    // Which colours the counts are of (0: not counted).
    std::uint64_t countedFor() const { return countedFor_; }
    void setCountedFor(std::uint64_t colors) { countedFor_ = colors; }
    // Draws the region's lines or points into the accumulations kept here,
    // unless the geometry is the one drawn last, a layer per class: begin
    // readies the picture and gives the columns to draw (none when the
    // picture drawn last serves); the columns are then drawn in ranges, each
    // column by one call, and ranges may be drawn side by side. A region
    // narrower than half a pixel draws each bin's records as lines across
    // its column, between their two heights.
    ColumnRange beginLines(const BinColors& colors, const RegionGeometry& g);
    void drawLines(const BinColors& colors, int columnBegin, int columnEnd);
    ColumnRange beginPoints(const BinColors& colors, const RegionGeometry& g);
    void drawPoints(const BinColors& colors, int columnBegin, int columnEnd);
    const Accumulation& lines() const { return lines_; }
    const Accumulation& points() const { return points_; }
    // Both steps, every column, on the calling thread.
    const Accumulation& drawLines(const BinColors& colors, const RegionGeometry& g);
    const Accumulation& drawPoints(const BinColors& colors, const RegionGeometry& g);
    std::size_t bytes() const;
    // The next draw draws again, as after a change of geometry.
    void forgetPictures() { linesValid_ = pointsValid_ = false; }
    // Estimated bytes of one region at full use.
    static std::size_t typicalBytes(int width, int height);

private:
    struct Place {
        std::uint32_t records;
        float sumU;  // offsets within the bin, in bins
        float sumW;
    };
    // Records per bin, and their colour sums per channel in 8-bit units per
    // stack cell: a colour is only ever read for two by two bins together,
    // and the sums of a quarter as many cells stay in the cache.
    struct Side {
        std::vector<std::uint32_t> records;  // per bin
        std::vector<std::uint32_t> colors;   // red, green, blue per stack cell
    };
    // The bin counted that holds the records of bin (j, k) as oriented.
    std::size_t heldBin(std::size_t bin) const;
    // The records' mean position in bin (j, k) as oriented, in normalised units.
    void meanOf(std::size_t bin, double& u, double& w) const;
    void countSide(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors, Side& out,
                   bool all, int part, int parts);
    void stackPlaces();
    void poolCounts(const BinColors& colors);
    // Lines of a region narrower than half a pixel, columns [first, last).
    void drawNarrow(const BinColors& colors, int first, int last);
    // Per stack cell, each class's alpha-weighted records (cellWeights_).
    void weighCells(const BinColors& colors, int classes);
    // The points' marks, a block of bins each (pointMarks_).
    void gatherPointMarks(const BinColors& colors, const RegionGeometry& g, int classes);
    std::size_t sideBytes() const;

    std::vector<Place> places_;          // binsPerAxis^2, row j (left value) by column k
    std::vector<std::uint32_t> counts_;  // per group, then per bin
    // Per stack cell, the alpha-weighted red, green and blue of each class
    // of several colours (sumChannels_ floats).
    std::vector<float> colorSums_;
    Side base_;                          // colouring by selection: all records
    Side baseParts_[kCountParts];        // ... as parts count them
    Side sideParts_[kCountParts];        // and the counted side
    std::vector<float> pooled_[2];       // the counts on the stack grid, until stacked
    std::vector<float> cellWeights_;     // points: per stack cell, each class's weight; empty until drawn
    // Points: per block of bins with records, its counts per group, colour
    // sums, and its centre (x, y), in the order they go down.
    std::vector<float> pointMarks_;
    std::vector<double> pointCentres_;
    int pointMarkStride_ = 0;
    std::uint64_t baseFor_ = 0;
    int groups_ = 0;
    int classes_ = 0;
    int sumChannels_ = 0;
    std::uint64_t countedFor_ = 0;
    BinOrientation orientation_;
    // The class whose moments are left over from all records' (the largest;
    // -1 while some record placed is not counted), and where each other
    // class's moments lie among the counted channels.
    int restClass_ = -1;
    int momentSlot_[maxBinClasses] = {};
    // What the line sums of the counts carry per cell: records per group,
    // the moments of every class but the rest class (5 each), the colour
    // sums.
    int stackChannels_ = 0;
    // Line sums of the places (records and moments) and of the counts, each
    // for lines nearer the left axis's heights (summed along the right
    // value) and nearer the right axis's (summed along the left value).
    SlantStack placesAlongRight_;
    SlantStack placesAlongLeft_;
    SlantStack countsAlongRight_;
    SlantStack countsAlongLeft_;
    Accumulation lines_;
    Accumulation points_;
    bool linesValid_ = false;
    bool pointsValid_ = false;
    RegionGeometry linesDrawn_;
    RegionGeometry pointsDrawn_;
};
