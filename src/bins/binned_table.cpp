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

std::uint64_t BinnedTable::revisionOf(const PCPlot& plot, int dimension) const {
    const Dimension* d = dimension >= 0 ? plot.dimensionAt(dimension) : nullptr;
    return d != nullptr ? d->displayRevision : 0;
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
    for (const BinRequest& q : requests) {
        const CellKey key = keyOf(q);
        if (q.kind == BinKind::Pieces) {
            auto found = cells_.find(key);
            if (found != cells_.end()) found->second.lastUsed = frame_;
        } else {
            auto found = pairs_.find({key[1], key[2]});
            if (found != pairs_.end()) found->second.lastUsed = frame_;
        }
    }

    std::vector<int> dimensions;
    auto need = [&](int d) {
        if (d >= 0 && std::find(dimensions.begin(), dimensions.end(), d) == dimensions.end()) dimensions.push_back(d);
    };
    auto currentRevisions = [&](const int* dims, int count) {
        std::vector<std::uint64_t> r(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) r[static_cast<std::size_t>(k)] = revisionOf(plot, dims[k]);
        return r;
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const BinRequest& q = requests[i];
        const CellKey key = keyOf(q);
        if (key[1] < 0 || key[2] < 0) continue;
        if (q.kind == BinKind::Pieces) {
            const std::vector<std::uint64_t> revisions = currentRevisions(key.data(), cellValues);
            auto found = cells_.find(key);
            if (found != cells_.end() && found->second.revisions != revisions) {
                cells_.erase(found);
                found = cells_.end();
            }
            if (found == cells_.end()) {
                if (!makeRoom(CellBins::typicalBytes(width, height))) continue;
                Entry<CellBins> entry;
                entry.bins = std::make_unique<CellBins>();
                entry.bins->dimensions = key;
                entry.revisions = revisions;
                found = cells_.emplace(key, std::move(entry)).first;
            }
            found->second.lastUsed = frame_;
            out[i].cells = found->second.bins.get();
            for (int d : key) need(d);
        } else {
            const PairKey pair{key[1], key[2]};
            const std::vector<std::uint64_t> revisions = currentRevisions(&key[1], 2);
            auto found = pairs_.find(pair);
            if (found != pairs_.end() && found->second.revisions != revisions) {
                pairs_.erase(found);
                found = pairs_.end();
            }
            if (found == pairs_.end()) {
                if (!makeRoom(RegionBins::typicalBytes(width, height))) continue;
                Entry<RegionBins> entry;
                entry.bins = std::make_unique<RegionBins>();
                entry.bins->left = pair.first;
                entry.bins->right = pair.second;
                entry.revisions = revisions;
                found = pairs_.emplace(pair, std::move(entry)).first;
            }
            found->second.lastUsed = frame_;
            out[i].pair = found->second.bins.get();
            need(pair.first);
            need(pair.second);
        }
    }

    // Coordinates of the dimensions in use, computed again after a display
    // change; those of dimensions no bins read any more go.
    for (auto it = coordinates_.begin(); it != coordinates_.end();) {
        bool used = false;
        for (const auto& entry : pairs_) used = used || entry.first.first == it->first || entry.first.second == it->first;
        for (const auto& entry : cells_)
            used = used || std::find(entry.first.begin(), entry.first.end(), it->first) != entry.first.end();
        it = used ? std::next(it) : coordinates_.erase(it);
    }
    for (int d : dimensions) {
        const std::uint64_t revision = revisionOf(plot, d);
        auto found = coordinates_.find(d);
        if (found != coordinates_.end() && found->second.revision == revision) continue;
        Coordinates& c = coordinates_[d];
        c.revision = revision;
        computeBinCoordinates(frame.normalized[static_cast<std::size_t>(d)], plot.recordCount, c.values, threads);
    }

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
