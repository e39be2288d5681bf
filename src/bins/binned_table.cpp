#include "bins/binned_table.h"

#include <algorithm>

#include "base/parallel.h"
#include "data/dimension.h"
#include "plot/plot.h"

void BinnedTable::clear() {
    colorsValid_ = false;
    baseHeld_ = false;
    pairs_.clear();
    cells_.clear();
    coordinates_.clear();
    colors_ = BinColors{};
}

void BinnedTable::forgetPictures() {
    for (auto& entry : pairs_) entry.second.bins->forgetPictures();
    for (auto& entry : cells_) entry.second.bins->forgetPicture();
}

const BinColors& BinnedTable::colors(const PCPlot& plot, std::uint64_t baseKey, std::uint64_t selectionKey, int skip,
                                     int threads) {
    const bool baseChanged = !colorsValid_ || baseKey != baseKey_ || skip != skip_;
    if (!baseChanged && selectionKey == selectionKey_) return colors_;
    if (baseChanged) {
        baseHeld_ = false;
        baseEligible_ = skip < 0;
    }
    bool split = false;
    if (baseEligible_) {
        if (!baseHeld_) {
            baseHeld_ = colors_.computeBase(plot, threads);
            baseEligible_ = baseHeld_;
            if (baseHeld_) ++baseGeneration_;
        }
        split = baseHeld_ && colors_.splitSelection(plot, threads);
    }
    if (!split) {
        colors_.compute(plot, skip, threads);
        colors_.bySelection = false;
        baseHeld_ = false;
    }
    baseKey_ = baseKey;
    selectionKey_ = selectionKey;
    skip_ = skip;
    colorsValid_ = true;
    ++colorGeneration_;
    return colors_;
}

const BinCoordinates* BinnedTable::coordinatesOf(int dimension) const {
    if (dimension < 0) return nullptr;
    auto found = coordinates_.find(dimension);
    return found != coordinates_.end() ? &found->second.values : nullptr;
}

bool BinnedTable::makeRoom(std::size_t more) {
    std::size_t used = binBytes();
    while (used + more > limit_) {
        // The least recently used entry not used in this frame.
        std::uint64_t oldest = frame_;
        auto pair = pairs_.end();
        auto cell = cells_.end();
        for (auto it = pairs_.begin(); it != pairs_.end(); ++it)
            if (it->second.lastUsed < oldest) {
                oldest = it->second.lastUsed;
                pair = it;
            }
        for (auto it = cells_.begin(); it != cells_.end(); ++it)
            if (it->second.lastUsed < oldest) {
                oldest = it->second.lastUsed;
                cell = it;
                pair = pairs_.end();
            }
        if (cell != cells_.end()) {
            used -= std::min(used, cell->second.bins->bytes());
            cells_.erase(cell);
        } else if (pair != pairs_.end()) {
            used -= std::min(used, pair->second.bins->bytes());
            pairs_.erase(pair);
        } else {
            return false;
        }
    }
    return true;
}

namespace {

// Where a dimension's records lie on its axis, upright.
Placement uprightOf(const FrameAxes& frame, int dimension) {
    Placement p = frame.normalized[static_cast<std::size_t>(dimension)].placement;
    p.flipped = false;
    return p;
}

bool flippedIn(const FrameAxes& frame, int dimension) {
    return dimension >= 0 && frame.normalized[static_cast<std::size_t>(dimension)].placement.flipped;
}

}  // namespace

CellGeometry uprightPieces(const CellGeometry& g, unsigned flippedValues) {
    if (flippedValues == 0) return g;
    CellGeometry out = g;
    for (CellPiece& piece : out.pieces)
        for (AffinePoint& point : piece.points)
            for (Affine* f : {&point.x, &point.y})
                for (std::size_t k = 0; k < cellValues; ++k)
                    if ((flippedValues >> k) & 1u) {
                        // c + g v on the flipped axis is (c + g) - g v on the upright one.
                        f->c += f->g[k];
                        f->g[k] = -f->g[k];
                    }
    return out;
}

std::vector<PreparedBins> BinnedTable::prepare(const PCPlot& plot, const FrameAxes& frame,
                                               const std::vector<BinRequest>& requests, int width, int height,
                                               int threads) {
    ++frame_;
    std::vector<PreparedBins> out(requests.size());
    const int n = plot.axisCount;
    auto dimensionOfAxis = [&](int axis) {
        return axis >= 0 && axis < n && static_cast<bool>(frame.normalized[static_cast<std::size_t>(frame.dimensionOf[axis])])
                   ? frame.dimensionOf[axis]
                   : -1;
    };
    // Entries already held are this frame's before anything makes room.
    auto keyOf = [&](const BinRequest& q) {
        const int i = q.leftAxis;
        return CellKey{i > 0 ? dimensionOfAxis(i - 1) : -1, dimensionOfAxis(i), dimensionOfAxis(i + 1),
                       i + 2 < n ? dimensionOfAxis(i + 2) : -1};
    };
    constexpr int maxCopies = 8;  // orientations of a pair: two orders by four flips
    for (const BinRequest& q : requests) {
        const CellKey key = keyOf(q);
        if (q.kind == BinKind::Pieces) {
            auto found = cells_.find(key);
            if (found != cells_.end()) found->second.lastUsed = frame_;
        } else {
            const int low = std::min(key[1], key[2]);
            const int high = std::max(key[1], key[2]);
            for (int copy = 0; copy < maxCopies; ++copy) {
                auto found = pairs_.find({low, high, copy});
                if (found == pairs_.end()) break;
                found->second.lastUsed = frame_;
            }
        }
    }

    std::vector<int> dimensions;
    auto need = [&](int d) {
        if (d >= 0 && std::find(dimensions.begin(), dimensions.end(), d) == dimensions.end()) dimensions.push_back(d);
    };
    auto currentPlacements = [&](const int* dims, int count) {
        std::vector<Placement> p(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k)
            if (dims[k] >= 0) p[static_cast<std::size_t>(k)] = uprightOf(frame, dims[k]);
        return p;
    };
    // Regions whose kept bins are read in a new orientation.
    std::vector<std::pair<RegionBins*, BinOrientation>> oriented;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const BinRequest& q = requests[i];
        const CellKey key = keyOf(q);
        if (key[1] < 0 || key[2] < 0) continue;
        if (q.kind == BinKind::Pieces) {
            const std::vector<Placement> placements = currentPlacements(key.data(), cellValues);
            auto found = cells_.find(key);
            if (found != cells_.end() && found->second.placements != placements) {
                cells_.erase(found);
                found = cells_.end();
            }
            if (found == cells_.end()) {
                if (!makeRoom(CellBins::typicalBytes(width, height))) continue;
                Entry<CellBins> entry;
                entry.bins = std::make_unique<CellBins>();
                entry.bins->dimensions = key;
                entry.placements = placements;
                found = cells_.emplace(key, std::move(entry)).first;
            }
            found->second.lastUsed = frame_;
            out[i].cells = found->second.bins.get();
            for (std::size_t k = 0; k < cellValues; ++k)
                if (flippedIn(frame, key[k])) out[i].flippedCellValues |= 1u << k;
            for (int d : key) need(d);
        } else {
            const int low = std::min(key[1], key[2]);
            const int high = std::max(key[1], key[2]);
            const int dims[2] = {low, high};
            const std::vector<Placement> placements = currentPlacements(dims, 2);
            const BinOrientation orientation{key[1] > key[2], flippedIn(frame, key[1]), flippedIn(frame, key[2])};
            // The first copy not asked for in another orientation in this frame.
            auto found = pairs_.end();
            int copy = 0;
            for (; copy < maxCopies; ++copy) {
                found = pairs_.find({low, high, copy});
                if (found != pairs_.end() && found->second.placements != placements) {
                    pairs_.erase(found);
                    found = pairs_.end();
                }
                if (found == pairs_.end() || found->second.orientedIn != frame_ ||
                    found->second.orientation == orientation)
                    break;
            }
            if (copy == maxCopies) continue;
            if (found == pairs_.end()) {
                if (!makeRoom(RegionBins::typicalBytes(width, height))) continue;
                Entry<RegionBins> entry;
                entry.bins = std::make_unique<RegionBins>();
                entry.bins->left = low;
                entry.bins->right = high;
                entry.placements = placements;
                found = pairs_.emplace(PairKey{low, high, copy}, std::move(entry)).first;
            }
            found->second.lastUsed = frame_;
            found->second.orientedIn = frame_;
            found->second.orientation = orientation;
            RegionBins* bins = found->second.bins.get();
            if (bins->orientation() != orientation &&
                std::find_if(oriented.begin(), oriented.end(), [&](const auto& o) { return o.first == bins; }) ==
                    oriented.end())
                oriented.emplace_back(bins, orientation);
            out[i].pair = bins;
            need(low);
            need(high);
        }
    }

    // Coordinates of the dimensions in use, upright, computed again after a
    // change of their placement; those of dimensions no bins read any more
    // go.
    for (auto it = coordinates_.begin(); it != coordinates_.end();) {
        bool used = false;
        for (const auto& entry : pairs_) used = used || entry.first[0] == it->first || entry.first[1] == it->first;
        for (const auto& entry : cells_)
            used = used || std::find(entry.first.begin(), entry.first.end(), it->first) != entry.first.end();
        it = used ? std::next(it) : coordinates_.erase(it);
    }
    for (int d : dimensions) {
        const Positions& positions = frame.normalized[static_cast<std::size_t>(d)];
        const Placement placement = uprightOf(frame, d);
        auto found = coordinates_.find(d);
        if (found != coordinates_.end() && found->second.of == positions.values && found->second.placement == placement)
            continue;
        Coordinates& c = coordinates_[d];
        c.of = positions.values;
        c.placement = placement;
        computeBinCoordinates(Positions{positions.values, placement}, plot.recordCount, c.values, threads);
    }

    // Kept bins read in a new orientation are summed along the lines again
    // from what they hold, with the counts when they are of these colours;
    // bins not placed yet only take the orientation.
    runParts(static_cast<int>(oriented.size()), threads, [&](int k) {
        const auto& o = oriented[static_cast<std::size_t>(k)];
        o.first->orient(o.second, o.first->countedFor() == colorGeneration_ ? &colors_ : nullptr);
    });

    // Pair bins: regions run side by side; a region's counting and its two
    // line sums are parts of their own, so two threads share seven regions
    // evenly.
    std::vector<RegionBins*> work;
    for (const PreparedBins& p : out)
        if (p.pair != nullptr && (!p.pair->placed() || p.pair->countedFor() != colorGeneration_) &&
            std::find(work.begin(), work.end(), p.pair) == work.end())
            work.push_back(p.pair);
    std::vector<CellBins*> cellWork;
    for (const PreparedBins& p : out)
        if (p.cells != nullptr && (!p.cells->placed() || p.cells->countedFor() != colorGeneration_) &&
            std::find(cellWork.begin(), cellWork.end(), p.cells) == cellWork.end())
            cellWork.push_back(p.cells);

    const int records = plot.recordCount;
    const int regions = static_cast<int>(work.size());
    auto pairCoordinates = [this](const RegionBins& bins) {
        return std::make_pair(coordinatesOf(bins.left), coordinatesOf(bins.right));
    };
    auto cellCoordinates = [this](const CellBins& bins) {
        std::array<const BinCoordinates*, cellValues> values{};
        for (std::size_t k = 0; k < cellValues; ++k) values[k] = coordinatesOf(bins.dimensions[k]);
        return values;
    };
    const int cellRegions = static_cast<int>(cellWork.size());
    runParts(regions + cellRegions, threads, [&](int k) {
        if (k >= regions) {
            CellBins& cells = *cellWork[static_cast<std::size_t>(k - regions)];
            const auto values = cellCoordinates(cells);
            if (!cells.placed())
                cells.place(values, records, colors_, skip_);
            else
                cells.count(values, records, colors_, skip_);
            cells.setCountedFor(colorGeneration_);
            return;
        }
        RegionBins& bins = *work[static_cast<std::size_t>(k)];
        if (bins.placed()) return;
        const auto uw = pairCoordinates(bins);
        bins.place(*uw.first, *uw.second, records);
    });
    if (colors_.bySelection) {
        constexpr int parts = RegionBins::kCountParts;
        runParts(regions * parts, threads, [&](int k) {
            RegionBins& bins = *work[static_cast<std::size_t>(k / parts)];
            const auto uw = pairCoordinates(bins);
            bins.countPart(*uw.first, *uw.second, records, colors_, baseGeneration_, k % parts);
        });
        runParts(regions, threads,
                 [&](int k) { work[static_cast<std::size_t>(k)]->finishBySelection(colors_, baseGeneration_); });
    } else {
        runParts(regions, threads, [&](int k) {
            RegionBins& bins = *work[static_cast<std::size_t>(k)];
            const auto uw = pairCoordinates(bins);
            bins.count(*uw.first, *uw.second, records, colors_, skip_);
        });
    }
    runParts(regions * 2, threads, [&](int k) { work[static_cast<std::size_t>(k / 2)]->stackCounts(k % 2); });
    for (RegionBins* bins : work) bins->setCountedFor(colorGeneration_);
    rebuilds_ += regions + cellRegions;
    recordPasses_ += regions + cellRegions;
    for (const auto& o : oriented)
        if (std::find(work.begin(), work.end(), o.first) == work.end()) rebuilds_ += o.first->placed();
    // What was built may hold more than its estimate: the others make room.
    makeRoom(0);
    return out;
}

std::size_t BinnedTable::binBytes() const {
    std::size_t total = 0;
    for (const auto& entry : pairs_) total += entry.second.bins->bytes();
    for (const auto& entry : cells_) total += entry.second.bins->bytes();
    return total;
}

std::size_t BinnedTable::recordBytes() const {
    std::size_t total = colors_.packed.capacity() * sizeof(std::uint32_t) + colors_.selected.capacity() * sizeof(std::uint64_t);
    for (const auto& entry : coordinates_) total += entry.second.values.capacity() * sizeof(std::uint16_t);
    return total;
}
