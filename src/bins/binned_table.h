#pragma once
// Every region's bins of the current table, kept between frames within a
// memory budget: the least recently shown go first when a region needs room.
// Whatever was counted from a dimension's positions is keyed on its
// placement on an upright axis, so a new range or scale recounts only the
// regions that show it. A pair's bins serve both its orders and any flip of
// its axes (BinOrientation): a region made by moving an axis next to one it
// stood beside before, or beside a flipped axis, reads no record.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "bins/binned_layer.h"
#include "bins/cell_bins.h"
#include "records/frame_axes.h"

struct PCPlot;

// What the bins draw of a region (region i lies right of axis i): its
// straight lines from line sums, the points of its scatterplot, or its curve
// pieces from cells.
enum class BinKind { Lines, Points, Pieces };

struct BinRequest {
    int leftAxis = 0;
    BinKind kind = BinKind::Lines;
};

// The bins a request draws from: the region's pair bins (lines, points) or
// its cells (pieces); both null for a region left to be drawn record by record.
struct PreparedBins {
    RegionBins* pair = nullptr;
    CellBins* cells = nullptr;
    // The cells count upright values: bit k set where value k's axis is
    // flipped, for uprightPieces().
    unsigned flippedCellValues = 0;
};

class BinnedTable {
public:
    // Drops everything and gives its memory back; the next use rebuilds.
    void clear();
    // The colours for these keys, recomputed (and every region counted
    // again) when one changed: baseKey covers everything a record's colour
    // follows from but the selection, selectionKey the selection.
    const BinColors& colors(const PCPlot& plot, std::uint64_t baseKey, std::uint64_t selectionKey, int skip,
                            int threads);
    // The bins of each request, built and counted when missing or stale,
    // regions side by side on `threads` threads. Bins not requested here
    // make room, least recently used first; a request that still does not
    // fit under the budget gets none. Needs colors() first.
    std::vector<PreparedBins> prepare(const PCPlot& plot, const FrameAxes& frame,
                                      const std::vector<BinRequest>& requests, int width, int height, int threads);
    void forgetPictures();
    // Makes the bins fit the budget again once this frame's pictures are
    // drawn, dropping bins not used in it.
    void trim() { makeRoom(0); }
    // The budget the bins are held under; binnedMemoryLimit unless set.
    void setMemoryLimit(std::size_t bytes) { limit_ = bytes; }
    std::size_t memoryLimit() const { return limit_; }
    // Bytes of the bins (held below the budget) and of what is kept
    // per record (coordinates, colours), which grows with the table instead.
    std::size_t binBytes() const;
    std::size_t recordBytes() const;
    // Regions and cells counted, placed or oriented anew so far, and of
    // those the ones that read the records (counted or placed).
    long rebuilds() const { return rebuilds_; }
    long recordPasses() const { return recordPasses_; }
    // Regions and cells held now.
    int heldPairs() const { return static_cast<int>(pairs_.size()); }
    int heldCells() const { return static_cast<int>(cells_.size()); }

private:
    template <class Bins>
    struct Entry {
        std::unique_ptr<Bins> bins;
        std::vector<Placement> placements;  // of its dimensions when placed, upright
        std::uint64_t lastUsed = 0;
        std::uint64_t orientedIn = 0;  // the frame that last asked for it
        BinOrientation orientation;    // in which orientation
    };
    // The lower dimension, the higher, and which copy: a frame that shows
    // one pair in two orientations holds a copy per orientation.
    using PairKey = std::array<int, 3>;
    using CellKey = std::array<int, cellValues>;
    struct Coordinates {
        const double* of = nullptr;  // the values they were computed from
        Placement placement;         // upright
        BinCoordinates values;
    };

    // Makes room for `more` bytes by dropping entries not used in this
    // frame, least recently used first; false when that is not enough.
    bool makeRoom(std::size_t more);
    const BinCoordinates* coordinatesOf(int dimension) const;

    std::uint64_t baseKey_ = 0;
    std::uint64_t selectionKey_ = 0;
    std::uint64_t colorGeneration_ = 0;
    std::uint64_t baseGeneration_ = 0;
    bool colorsValid_ = false;
    bool baseEligible_ = false;  // the plot is coloured by the selection alone
    bool baseHeld_ = false;      // colors_.packed holds its base colours
    int skip_ = -1;
    BinColors colors_;
    std::map<PairKey, Entry<RegionBins>> pairs_;
    std::map<CellKey, Entry<CellBins>> cells_;
    std::map<int, Coordinates> coordinates_;  // per dimension
    std::size_t limit_ = binnedMemoryLimit;
    std::uint64_t frame_ = 0;  // prepare() calls so far
    long rebuilds_ = 0;
    long recordPasses_ = 0;
};

// Pieces drawn from cells of upright values: each flipped value v is read
// as 1 - v.
CellGeometry uprightPieces(const CellGeometry& g, unsigned flippedValues);
