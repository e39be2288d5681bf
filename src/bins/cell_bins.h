#pragma once
// Curve pieces of large tables drawn from cells. A record's piece in region i
// depends on at most four of its values: on axis i - 1, i, i + 1 and i + 2
// (the neighbours' values move only the ends' tangents). The records are
// counted on a grid of those four values, fine on the region's own two and
// coarse on the neighbours', and every occupied cell draws its pieces once,
// through its records' mean values and spread by their deviation: curves
// (key C), the two pieces through the points of an open region, transitions.
// Where cells are many, neighbouring ones are pooled until a frame can afford
// them.
//
// A cell's pieces are walked column by column: what crosses a pixel column
// is summed into a profile of the column at a quarter pixel, then drawn
// like the groups of straight lines (column_marks.h).

#include <array>
#include <cstdint>
#include <vector>

#include "bins/binned_layer.h"
#include "plot/curve.h"
#include "records/accumulation.h"

// The values a cell of region i holds: on axis i - 1, i, i + 1, i + 2.
constexpr int cellValues = 4;
// The fine grid: bits of a coordinate kept per value.
constexpr std::array<int, cellValues> fineCellBits = {3, 7, 7, 3};
// Cells a region draws at most; more are pooled into coarser ones.
constexpr int cellBudget = 16384;

// A quantity affine in a cell's four values: c + g . v.
struct Affine {
    double c = 0.0;
    std::array<double, cellValues> g{};

    double at(const double* v) const { return c + g[0] * v[0] + g[1] * v[1] + g[2] * v[2] + g[3] * v[3]; }
    static Affine constant(double c) {
        Affine a;
        a.c = c;
        return a;
    }
    // c + scale * v[k]
    static Affine linear(double c, int k, double scale) {
        Affine a;
        a.c = c;
        a.g[static_cast<std::size_t>(k)] = scale;
        return a;
    }
};
inline Affine operator+(const Affine& a, const Affine& b) {
    Affine r;
    r.c = a.c + b.c;
    for (std::size_t k = 0; k < cellValues; ++k) r.g[k] = a.g[k] + b.g[k];
    return r;
}
inline Affine operator*(double s, const Affine& a) {
    Affine r;
    r.c = s * a.c;
    for (std::size_t k = 0; k < cellValues; ++k) r.g[k] = s * a.g[k];
    return r;
}
inline Affine operator-(const Affine& a, const Affine& b) { return a + (-1.0) * b; }

struct AffinePoint {
    Affine x;
    Affine y;
};
inline AffinePoint blend(const AffinePoint& from, const AffinePoint& to, double t) {
    return {(1.0 - t) * from.x + t * to.x, (1.0 - t) * from.y + t * to.y};
}

// One cubic piece every record of the region draws, its control points in
// the frame's pixels.
struct CellPiece {
    CurveBasis basis{};
    std::array<AffinePoint, 4> points{};
};

// Where a region's pieces go.
struct CellGeometry {
    std::vector<CellPiece> pieces;
    double x0 = 0.0;  // the region's axes, where the pieces' ends fade
    double x1 = 0.0;
    double lineWidth = 1.0;
    double opacity = 1.0;  // the region's alpha factor for its lines
    bool smooth = true;
    int width = 0;  // of the frame
    int height = 0;

    bool same(const CellGeometry& o) const;
};

class CellBins {
public:
    // The dimensions whose values the cells count (-1 for a neighbour the
    // region does not have), as they lie on upright axes.
    std::array<int, cellValues> dimensions{-1, -1, -1, -1};

    // Counts the records per fine cell with the sums of their values and
    // squares (a null coordinate array counts as value 0) and chooses how
    // far cells are pooled; in the same pass, counts them as count() does.
    void place(const std::array<const BinCoordinates*, cellValues>& values, int records, const BinColors& colors,
               int skip);
    bool placed() const { return placed_; }
    // Counts the records of colors (all but `skip`) per cell and group, with
    // the colour sums of classes of several colours.
    void count(const std::array<const BinCoordinates*, cellValues>& values, int records, const BinColors& colors,
               int skip);
    std::uint64_t countedFor() const { return countedFor_; }
    void setCountedFor(std::uint64_t colors) { countedFor_ = colors; }
    // The region's pieces in the accumulation kept here, a layer per class,
    // drawn again unless the geometry is the one drawn last, in bands of
    // columns on `threads` threads.
    const Accumulation& draw(const BinColors& colors, const CellGeometry& g, int threads);
    void forgetPicture() { pictureValid_ = false; }
    // Records counted in the cells drawn.
    long long countedRecords() const;
    // Cells drawn (after pooling) and the bits per value they keep.
    int drawnCells() const { return static_cast<int>(cells_.size()); }
    const std::array<int, cellValues>& pooledBits() const { return bits_; }
    std::size_t bytes() const;
    // Estimated bytes of one region's cells.
    static std::size_t typicalBytes(int width, int height);

private:
    struct Fine {
        std::uint32_t records = 0;
        float sum[cellValues] = {};  // offsets within the cell, in normalised units
        float squares[cellValues] = {};
        float crossLR = 0.0f;  // left value times right value, of the offsets
    };
    // A pooled cell: its records' means and (co)variances of the values.
    struct Cell {
        float mean[cellValues];
        float variance[cellValues];
        float covarianceLR;
    };

    // Counts per unit (a fine cell while placing, a drawn cell after).
    void startCounts(const BinColors& colors, std::size_t units);
    void countUnit(const BinColors& colors, std::size_t unit, int group, const float* rgb);
    // The drawn cells' counts and colours from the fine cells'.
    void poolCounts();

    std::vector<Fine> fine_;  // while placing
    bool placed_ = false;
    std::vector<std::uint32_t> unitCounts_;  // per unit, then per group
    // Per unit, the alpha-weighted red, green and blue of each class of
    // several colours (sumChannels_ floats).
    std::vector<float> unitColors_;
    std::vector<std::int32_t> cellOf_;  // fine cell -> drawn cell, -1 when empty
    std::vector<Cell> cells_;
    std::array<int, cellValues> bits_ = fineCellBits;
    // Per drawn cell: records per group, then the colour sums; `channels_`
    // floats each.
    std::vector<float> colors_;
    std::vector<float> cellTotals_;  // records per drawn cell
    int channels_ = 0;
    int groups_ = 0;
    int sumChannels_ = 0;
    std::uint64_t countedFor_ = 0;
    Accumulation picture_;
    bool pictureValid_ = false;
    CellGeometry drawn_;
};
