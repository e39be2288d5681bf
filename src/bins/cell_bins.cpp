#include "bins/cell_bins.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/parallel.h"
#include "bins/column_marks.h"

namespace {

constexpr int kCoordinateBits = 16;
// Pooled cells of at most this many records are lone lines worth keeping fine.
constexpr std::uint32_t kSparseRecords = 16;
// Sub-rows of a pixel in a column's profile.
constexpr int kSubRows = 4;

constexpr int fineShift(int k) { return kCoordinateBits - fineCellBits[static_cast<std::size_t>(k)]; }
constexpr int fineIndexBits() { return fineCellBits[0] + fineCellBits[1] + fineCellBits[2] + fineCellBits[3]; }
constexpr std::size_t kFineCells = std::size_t(1) << fineIndexBits();

// The fine cell of four coordinates, the first value in the highest bits.
inline std::size_t fineIndex(const std::uint16_t* q) {
    std::size_t index = 0;
    for (int k = 0; k < cellValues; ++k)
        index = (index << fineCellBits[static_cast<std::size_t>(k)]) | (q[k] >> fineShift(k));
    return index;
}

// The fine cell of record r, a missing value (null) counting as 0.
inline std::size_t fineIndexOf(const std::uint16_t* const* v, int r) {
    std::uint16_t q[cellValues];
    for (int k = 0; k < cellValues; ++k) q[k] = v[k] ? v[k][r] : 0;
    return fineIndex(q);
}

// The four fields of a fine index.
inline void fineFields(std::size_t index, int* field) {
    for (int k = cellValues - 1; k >= 0; --k) {
        const int bits = fineCellBits[static_cast<std::size_t>(k)];
        field[k] = static_cast<int>(index & ((std::size_t(1) << bits) - 1));
        index >>= bits;
    }
}

// The pooled index of a fine cell that keeps `bits` bits of each value.
inline std::size_t pooledIndex(std::size_t fine, const std::array<int, cellValues>& bits) {
    int field[cellValues];
    fineFields(fine, field);
    std::size_t index = 0;
    for (int k = 0; k < cellValues; ++k) {
        const std::size_t kb = static_cast<std::size_t>(k);
        index = (index << bits[kb]) | static_cast<std::size_t>(field[k] >> (fineCellBits[kb] - bits[kb]));
    }
    return index;
}

// Coarser and coarser grids: the region's own values lose a bit, then the
// neighbours'.
std::vector<std::array<int, cellValues>> poolingLevels() {
    std::vector<std::array<int, cellValues>> levels;
    std::array<int, cellValues> bits = fineCellBits;
    levels.push_back(bits);
    for (bool own = true; bits[1] > 1; own = !own) {
        if (own || bits[0] == 0) {
            --bits[1];
            --bits[2];
        } else {
            --bits[0];
            --bits[3];
        }
        levels.push_back(bits);
    }
    return levels;
}

// The record's group and, for a class of several colours, its
// alpha-weighted colour as the bins count them; false for a record not drawn.
inline bool recordColor(const BinColors& colors, std::size_t r, int& group, float* rgb) {
    std::uint32_t p = colors.packed[r];
    if (colors.bySelection) {
        const bool selected = (colors.selected[r >> 6] >> (r & 63)) & 1u;
        group = selected ? colors.selectedGroup : colors.deselectedGroup;
        if (group < 0) return false;
    } else {
        group = static_cast<std::uint8_t>(p >> 24);
        if (group == BinColors::notDrawn) return false;
    }
    if (colors.channelOf(group) >= 0) {
        const float alpha = colors.groupAlpha[static_cast<std::size_t>(group)];
        for (int c = 0; c < 3; ++c) rgb[c] = alpha * static_cast<float>((p >> (8 * c)) & 0xFF) / 255.0f;
    }
    return true;
}

// floor of a value well inside the int range, without the library call the
// baseline instruction set needs.
inline int floorOf(float v) {
    const int i = static_cast<int>(v);
    return v < static_cast<float>(i) ? i - 1 : i;
}

// The cells crossing a column where every cell's piece is at the same
// parameter: their heights and box half-widths at the samples either side,
// f of the way from a to b, the segment's sigma, and their colours.
struct ColumnCells {
    const float* ya;
    const float* yb;
    const float* ha;
    const float* hb;
    const float* sigma;
    const float* colors;  // `channels` floats per cell
    const float* totals;
    std::size_t count;
    float f;
};

// Spreads a cell's records evenly over the sub-rows [from, to) of a
// column's profile (held as differences, subRows + 1 entries of `stride`
// doubles): per channel values[k] and in the last channel `lines`. A box
// takes the sub-rows from its rounded start to before its rounded end, so
// the boxes of neighbouring cells tile a band without seams; a box within
// a sub-row takes the one holding its middle.
template <int Fixed>
inline void spreadBox(double* profile, std::size_t stride, int channelsRuntime, int subRows, float from, float to,
                      const float* values, float lines) {
    const int channels = Fixed > 0 ? Fixed : channelsRuntime;
    int s0 = floorOf(from + 0.5f);
    int s1 = floorOf(to + 0.5f);
    if (s1 <= s0) {
        s0 = floorOf(0.5f * (from + to));
        s1 = s0 + 1;
    }
    const float density = 1.0f / static_cast<float>(s1 - s0);
    // What lies below the column still counts from its first sub-row.
    double* start = profile + static_cast<std::size_t>(std::clamp(s0, 0, subRows)) * stride;
    double* stop = profile + static_cast<std::size_t>(std::clamp(s1, 0, subRows)) * stride;
    if (stop == start) return;
    for (int k = 0; k < channels; ++k) {
        const float d = values[k] * density;
        start[k] += d;
        stop[k] -= d;
    }
    const float l = lines * density;
    start[channels] += l;
    stop[channels] -= l;
}

// Adds every cell's box to the profile of a column (sub-rows of `channels` +
// 1 floats, as differences). Fixed: the channels when known at compile time.
template <int Fixed>
bool depositCells(const ColumnCells& cells, int channelsRuntime, double* profile, int subRows) {
    const int channels = Fixed > 0 ? Fixed : channelsRuntime;
    const std::size_t stride = static_cast<std::size_t>(channels) + 1;
    const float last = static_cast<float>(subRows);
    const float f = cells.f;
    bool any = false;
    for (std::size_t c = 0; c < cells.count; ++c) {
        const float y = cells.ya[c] + f * (cells.yb[c] - cells.ya[c]);
        const float half = cells.ha[c] + f * (cells.hb[c] - cells.ha[c]);
        const float from = (y - half) * kSubRows;
        const float to = (y + half) * kSubRows;
        if (!(to >= 0.0f) || !(from < last)) continue;
        spreadBox<Fixed>(profile, stride, channels, subRows, from, to, cells.colors + c * static_cast<std::size_t>(channels),
                         cells.totals[c] * cells.sigma[c]);
        any = true;
    }
    return any;
}

// A vertex of a cell's piece in pixels, with the spread of its records
// across it (squared, in y and in x).
struct Vertex {
    float x;
    float y;
    float varY;
    float varX;
};

// A run of a piece whose vertices rise in x, so columns meet it in order.
// An end at an axis reaches a pixel further, where its faded cap falls.
struct Strand {
    std::int32_t cell;
    std::int32_t first;  // index of its first vertex in the strand vertices
    std::int32_t count;
    std::int32_t firstColumn;
    bool capLow;   // its leftmost vertex ends the record's line at an axis
    bool capHigh;  // and its rightmost
};

}  // namespace

bool CellGeometry::same(const CellGeometry& o) const {
    if (pieces.size() != o.pieces.size()) return false;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        if (pieces[p].basis != o.pieces[p].basis) return false;
        for (std::size_t j = 0; j < 4; ++j) {
            const AffinePoint& a = pieces[p].points[j];
            const AffinePoint& b = o.pieces[p].points[j];
            if (a.x.c != b.x.c || a.y.c != b.y.c || a.x.g != b.x.g || a.y.g != b.y.g) return false;
        }
    }
    return x0 == o.x0 && x1 == o.x1 && lineWidth == o.lineWidth && opacity == o.opacity && smooth == o.smooth &&
           width == o.width && height == o.height;
}

void CellBins::place(const std::array<const BinCoordinates*, cellValues>& values, int records,
                     const BinColors& colors, int skip) {
    fine_.assign(kFineCells, Fine{});
    // Counted per fine cell while the cells drawn are not known yet.
    startCounts(colors, kFineCells);
    const std::uint16_t* v[cellValues];
    for (int k = 0; k < cellValues; ++k) v[k] = values[static_cast<std::size_t>(k)] ? values[static_cast<std::size_t>(k)]->data() : nullptr;
    std::uint16_t mask[cellValues];
    for (int k = 0; k < cellValues; ++k) mask[k] = static_cast<std::uint16_t>((1u << fineShift(k)) - 1u);
    constexpr float scale = 1.0f / 65536.0f;
    // The places and, in the same pass, the colours.
    float rgb[3] = {0.0f, 0.0f, 0.0f};
    for (int r = 0; r < records; ++r) {
        const std::size_t index = fineIndexOf(v, r);
        Fine& f = fine_[index];
        ++f.records;
        float o[cellValues];
        for (int k = 0; k < cellValues; ++k) {
            o[k] = (static_cast<float>((v[k] ? v[k][r] : 0) & mask[k]) + 0.5f) * scale;
            f.sum[k] += o[k];
            f.squares[k] += o[k] * o[k];
        }
        f.crossLR += o[1] * o[2];
        int group = 0;
        if (r != skip && recordColor(colors, static_cast<std::size_t>(r), group, rgb)) countUnit(colors, index, group, rgb);
    }

    // The finest grid whose occupied cells a frame can afford.
    std::vector<std::size_t> occupied;
    for (std::size_t i = 0; i < kFineCells; ++i)
        if (fine_[i].records > 0) occupied.push_back(i);
    const auto levels = poolingLevels();
    std::vector<std::uint32_t> pooledRecords;
    std::vector<std::uint32_t> pooledFine;  // occupied fine cells per pooled cell
    std::size_t distinct = 0;
    bits_ = levels.back();
    for (const auto& bits : levels) {
        pooledRecords.assign(std::size_t(1) << (bits[0] + bits[1] + bits[2] + bits[3]), 0);
        pooledFine.assign(pooledRecords.size(), 0);
        distinct = 0;
        for (std::size_t i : occupied) {
            const std::size_t p = pooledIndex(i, bits);
            distinct += pooledFine[p] == 0;
            ++pooledFine[p];
            pooledRecords[p] += fine_[i].records;
        }
        bits_ = bits;
        if (distinct <= static_cast<std::size_t>(cellBudget)) break;
    }
    // Pooling hides what it merges only where records are many: the
    // sparsest pooled cells, lone lines in the tails, get their fine cells
    // back while the budget lasts.
    std::vector<char> expanded(pooledRecords.size(), 0);
    if (bits_ != fineCellBits) {
        std::vector<std::size_t> sparse;
        for (std::size_t p = 0; p < pooledRecords.size(); ++p)
            if (pooledFine[p] > 1 && pooledRecords[p] <= kSparseRecords) sparse.push_back(p);
        std::sort(sparse.begin(), sparse.end(), [&](std::size_t a, std::size_t b) {
            return pooledRecords[a] != pooledRecords[b] ? pooledRecords[a] < pooledRecords[b] : a < b;
        });
        std::size_t left = static_cast<std::size_t>(cellBudget) - std::min<std::size_t>(distinct, cellBudget);
        for (std::size_t p : sparse) {
            const std::size_t more = pooledFine[p] - 1;
            if (more > left) break;
            left -= more;
            expanded[p] = 1;
        }
    }

    // Pool the fine cells' sums (taken at their absolute values) into the cells drawn.
    std::vector<std::int32_t> cellOfPooled(pooledRecords.size(), -1);
    cellOf_.assign(kFineCells, -1);
    struct Sums {
        double n = 0.0;
        double s[cellValues] = {};
        double ss[cellValues] = {};
        double lr = 0.0;
    };
    std::vector<Sums> sums;
    for (std::size_t i : occupied) {
        const std::size_t p = pooledIndex(i, bits_);
        std::int32_t c;
        if (expanded[p]) {
            c = static_cast<std::int32_t>(sums.size());
            sums.emplace_back();
        } else {
            if (cellOfPooled[p] < 0) {
                cellOfPooled[p] = static_cast<std::int32_t>(sums.size());
                sums.emplace_back();
            }
            c = cellOfPooled[p];
        }
        cellOf_[i] = c;
        Sums& s = sums[static_cast<std::size_t>(c)];
        const Fine& f = fine_[i];
        int field[cellValues];
        fineFields(i, field);
        const double n = f.records;
        double corner[cellValues];
        for (int k = 0; k < cellValues; ++k) {
            corner[k] = static_cast<double>(field[k] << fineShift(k)) / 65536.0;
            s.s[k] += n * corner[k] + f.sum[k];
            s.ss[k] += n * corner[k] * corner[k] + 2.0 * corner[k] * f.sum[k] + f.squares[k];
        }
        s.lr += n * corner[1] * corner[2] + corner[1] * f.sum[2] + corner[2] * f.sum[1] + f.crossLR;
        s.n += n;
    }
    cells_.resize(sums.size());
    for (std::size_t c = 0; c < sums.size(); ++c) {
        const Sums& s = sums[c];
        Cell& cell = cells_[c];
        double mean[cellValues];
        for (int k = 0; k < cellValues; ++k) {
            mean[k] = s.s[k] / s.n;
            cell.mean[k] = static_cast<float>(mean[k]);
            cell.variance[k] = static_cast<float>(std::max(0.0, s.ss[k] / s.n - mean[k] * mean[k]));
        }
        cell.covarianceLR = static_cast<float>(s.lr / s.n - mean[1] * mean[2]);
    }
    // The drawn cells hold what the fine ones told.
    std::vector<Fine>().swap(fine_);
    const std::size_t groups = static_cast<std::size_t>(groups_);
    const std::size_t channels = static_cast<std::size_t>(sumChannels_);
    std::vector<std::uint32_t> counts(cells_.size() * groups, 0);
    std::vector<float> colorSums(cells_.size() * channels, 0.0f);
    for (std::size_t i : occupied) {
        const std::size_t c = static_cast<std::size_t>(cellOf_[i]);
        for (std::size_t g = 0; g < groups; ++g) counts[c * groups + g] += unitCounts_[i * groups + g];
        for (std::size_t k = 0; k < channels; ++k) colorSums[c * channels + k] += unitColors_[i * channels + k];
    }
    unitCounts_ = std::move(counts);
    unitColors_ = std::move(colorSums);
    placed_ = true;
    poolCounts();
}

void CellBins::startCounts(const BinColors& colors, std::size_t units) {
    groups_ = colors.groupCount;
    sumChannels_ = colors.colorChannels;
    channels_ = groups_ + sumChannels_;
    unitCounts_.assign(units * static_cast<std::size_t>(groups_), 0);
    unitColors_.assign(units * static_cast<std::size_t>(sumChannels_), 0.0f);
}

void CellBins::countUnit(const BinColors& colors, std::size_t unit, int group, const float* rgb) {
    ++unitCounts_[unit * static_cast<std::size_t>(groups_) + static_cast<std::size_t>(group)];
    const int channel = colors.channelOf(group);
    if (channel >= 0)
        for (int k = 0; k < 3; ++k)
            unitColors_[static_cast<std::size_t>(sumChannels_) * unit + static_cast<std::size_t>(channel + k)] += rgb[k];
}

void CellBins::count(const std::array<const BinCoordinates*, cellValues>& values, int records,
                     const BinColors& colors, int skip) {
    // Straight into the cells drawn: every record's fine cell has one.
    startCounts(colors, cells_.size());
    const std::uint16_t* v[cellValues];
    for (int k = 0; k < cellValues; ++k) v[k] = values[static_cast<std::size_t>(k)] ? values[static_cast<std::size_t>(k)]->data() : nullptr;
    float rgb[3] = {0.0f, 0.0f, 0.0f};
    for (int r = 0; r < records; ++r) {
        int group = 0;
        if (r == skip || !recordColor(colors, static_cast<std::size_t>(r), group, rgb)) continue;
        const std::int32_t cell = cellOf_[fineIndexOf(v, r)];
        if (cell >= 0) countUnit(colors, static_cast<std::size_t>(cell), group, rgb);
    }
    poolCounts();
}

void CellBins::poolCounts() {
    colors_.assign(cells_.size() * static_cast<std::size_t>(channels_), 0.0f);
    cellTotals_.assign(cells_.size(), 0.0f);
    const std::size_t groups = static_cast<std::size_t>(groups_);
    const std::size_t sums = static_cast<std::size_t>(sumChannels_);
    for (std::size_t c = 0; c < cells_.size(); ++c) {
        float* out = colors_.data() + c * static_cast<std::size_t>(channels_);
        for (std::size_t g = 0; g < groups; ++g) {
            const float n = static_cast<float>(unitCounts_[c * groups + g]);
            out[g] = n;
            cellTotals_[c] += n;
        }
        for (std::size_t k = 0; k < sums; ++k) out[groups + k] = unitColors_[c * sums + k];
    }
    pictureValid_ = false;
}

namespace {

// A piece sampled at parameters s / n: per sample the affine weights of the
// cell's values in x and in y.
struct SampledPiece {
    std::vector<Affine> x;
    std::vector<Affine> y;
    bool capsStart = false;  // its start ends the record's line at an axis
    bool capsEnd = false;
    bool sharedX = true;     // x does not depend on the values
};

// Enough samples for the most bent piece any cell draws.
SampledPiece samplePiece(const CellPiece& piece, const std::vector<std::array<float, cellValues>>& means) {
    int pieces = 1;
    for (const auto& mean : means) {
        const double v[cellValues] = {mean[0], mean[1], mean[2], mean[3]};
        CurvePoints p{};
        Point* at[4] = {&p.p0, &p.p1, &p.p2, &p.p3};
        for (std::size_t j = 0; j < 4; ++j) *at[j] = {piece.points[j].x.at(v), piece.points[j].y.at(v)};
        if (curve_detail::sameStart(p)) continue;
        pieces = std::max(pieces, flatnessPieceCount(piece.basis, p, 1.0, 1.0, curveTolerancePx(0.002)));
    }
    const int n = std::clamp(pieces, 1, 64);
    SampledPiece out;
    out.x.resize(static_cast<std::size_t>(n) + 1);
    out.y.resize(out.x.size());
    for (int s = 0; s <= n; ++s) {
        const double t = static_cast<double>(s) / n;
        const double powers[4] = {t * t * t, t * t, t, 1.0};
        Affine x;
        Affine y;
        for (std::size_t j = 0; j < 4; ++j) {
            double w = 0.0;
            for (std::size_t row = 0; row < 4; ++row) w += powers[row] * piece.basis[row][j];
            x = x + w * piece.points[j].x;
            y = y + w * piece.points[j].y;
        }
        out.x[static_cast<std::size_t>(s)] = x;
        out.y[static_cast<std::size_t>(s)] = y;
        for (double g : x.g) out.sharedX = out.sharedX && g == 0.0;
    }
    return out;
}

// Runs of a polyline whose x only rises or only falls: [first, last] vertex
// ranges; a turning vertex ends one run and starts the next.
template <class X>
void monotoneRuns(std::size_t count, X x, std::vector<std::pair<std::size_t, std::size_t>>& runs) {
    runs.clear();
    for (std::size_t s = 0; s + 1 < count;) {
        const bool rising = x(s + 1) >= x(s);
        std::size_t e = s + 1;
        while (e + 1 < count && ((x(e + 1) >= x(e)) == rising)) ++e;
        runs.emplace_back(s, e);
        s = e;
    }
}

}  // namespace

const Accumulation& CellBins::draw(const BinColors& colors, const CellGeometry& g, int threads) {
    if (pictureValid_ && g.same(drawn_)) return picture_;
    pictureValid_ = true;
    drawn_ = g;
    picture_.reset(0, 0, 0, 0);
    if (cells_.empty() || countedFor_ == 0 || g.height <= 0 || g.width <= 0 || g.pieces.empty()) return picture_;

    const std::size_t cellCount = cells_.size();
    std::vector<SampledPiece> sampled;
    bool sharedX = true;
    std::vector<std::array<float, cellValues>> means(cellCount);
    for (std::size_t c = 0; c < cellCount; ++c)
        for (std::size_t k = 0; k < cellValues; ++k) means[c][k] = cells_[c].mean[k];
    for (std::size_t p = 0; p < g.pieces.size(); ++p) {
        sampled.push_back(samplePiece(g.pieces[p], means));
        sampled.back().capsStart = p == 0;
        sampled.back().capsEnd = p + 1 == g.pieces.size();
        sharedX = sharedX && sampled.back().sharedX;
    }

    // Every cell's vertices, sample by sample: where a cell's records cross
    // and how far they spread across the line, in y and in x.
    auto vertexOf = [&](const Cell& cell, const Affine& x, const Affine& y, Vertex& v) {
        const double mean[cellValues] = {cell.mean[0], cell.mean[1], cell.mean[2], cell.mean[3]};
        v.x = static_cast<float>(x.at(mean));
        v.y = static_cast<float>(y.at(mean));
        double vy = 2.0 * y.g[1] * y.g[2] * cell.covarianceLR;
        double vx = 2.0 * x.g[1] * x.g[2] * cell.covarianceLR;
        for (std::size_t k = 0; k < cellValues; ++k) {
            vy += y.g[k] * y.g[k] * cell.variance[k];
            vx += x.g[k] * x.g[k] * cell.variance[k];
        }
        v.varY = static_cast<float>(std::max(0.0, vy));
        v.varX = static_cast<float>(std::max(0.0, vx));
    };

    // The profile of one column: per sub-row the records per class, (colour
    // sums,) and the sum of their lines' sigma; as differences, so a box of
    // records adds at its two ends.
    const int channels = channels_ + 1;
    const int subRows = g.height * kSubRows;
    // What a band of columns drawn by one thread works in.
    struct Band {
        // In doubles: a column's boxes add and take away millions of records,
        // and what is left where none are must come out as nothing.
        std::vector<double> profile;
        std::vector<double> running;
    };
    const int groups = groups_;
    const float lastSubRow = static_cast<float>(subRows);
    // Adds a cell's records spread over the sub-rows [first, end) at `density` each.
    auto deposit = [&](Band& band, std::size_t cell, float y, float varY, float varX, float slope) {
        const float slope2 = slope * slope;
        // The records spread over a box of their deviation's width across the column.
        const float spread = varY + slope2 * varX;
        const float half = spread > 0.0f ? std::sqrt(3.0f * spread) : 0.0f;
        const float from = (y - half) * kSubRows;
        const float to = (y + half) * kSubRows;
        if (!(to >= 0.0f) || !(from < lastSubRow)) return false;
        spreadBox<0>(band.profile.data(), static_cast<std::size_t>(channels), channels_, subRows, from, to,
                     colors_.data() + cell * static_cast<std::size_t>(channels_),
                     cellTotals_[cell] * std::sqrt(1.0f + slope2));
        return true;
    };

    const int layers = std::max(colors.classCount, 1);
    const column_marks::GroupDepths depths(colors, g.smooth, g.opacity, layers);
    const column_marks::LineStyle style(g.lineWidth, g.smooth, g.height);
    const double direction = g.x1 - g.x0 >= 0.0 ? 1.0 : -1.0;
    // Draws the column from its profile, a pixel row at a time: the row's
    // sub-rows' records as one group at their mean height (a box of a pixel
    // at most, drawn as a line there).
    auto drawColumn = [&](Band& band, int x) {
        std::vector<double>& running = band.running;
        const double xc = x + 0.5;
        const double before = (xc - g.x0) * direction;
        const double after = (g.x1 - xc) * direction;
        AccumulatedPixel* column = picture_.column(x);
        std::fill(running.begin(), running.end(), 0.0);
        column_marks::Marks marks;
        const double* p = band.profile.data();
        for (int row = 0; row < g.height; ++row) {
            double channelSums[maxBinGroups + 3 * maxBinClasses + 1] = {};
            double total = 0.0;
            double first = 0.0;
            for (int s = 0; s < kSubRows; ++s, p += channels) {
                double records = 0.0;
                for (int c = 0; c < channels; ++c) {
                    running[static_cast<std::size_t>(c)] += p[c];
                    channelSums[c] += running[static_cast<std::size_t>(c)];
                }
                for (int c = 0; c < groups; ++c) records += running[static_cast<std::size_t>(c)];
                total += records;
                first += records * (s + 0.5) / kSubRows;
            }
            if (!(total > 1e-3)) continue;
            float rowChannels[maxBinGroups + 3 * maxBinClasses + 1];
            for (int c = 0; c < channels; ++c) rowChannels[c] = static_cast<float>(channelSums[c]);
            marks.set(colors, rowChannels, rowChannels + groups);
            const float sigma = std::max(1.0f, rowChannels[channels_] / static_cast<float>(total));
            const float slope = std::sqrt(std::max(0.0f, sigma * sigma - 1.0f));
            column_marks::drawGroup(column, depths, style, marks, static_cast<float>(row + first / total), 0.0f, sigma,
                                    slope, style.ends(std::min(before, after), sigma));
        }
    };
    auto frameColumns = [&](double lowest, double highest) {
        const int xa = std::max(0, static_cast<int>(std::floor(std::min(lowest, std::min(g.x0, g.x1)) - 2.0)));
        const int xb = std::min(g.width, static_cast<int>(std::ceil(std::max(highest, std::max(g.x0, g.x1)) + 2.0)));
        if (xb > xa) picture_.reset(xa, 0, xb - xa, g.height, layers);
        return std::make_pair(xa, xb);
    };

    // Columns [xa, xb) in one band per thread; a band's columns draw into
    // its own profile, and bands write columns of their own.
    auto inBands = [&](int xa, int xb, auto&& columns) {
        const int parts = std::max(1, std::min(threads, (xb - xa) / 16));
        runSplit(xb - xa, parts, [&](long long first, long long last, int) {
            Band band;
            band.profile.resize(static_cast<std::size_t>(subRows + 1) * static_cast<std::size_t>(channels));
            band.running.resize(static_cast<std::size_t>(channels));
            columns(band, xa + static_cast<int>(first), xa + static_cast<int>(last));
        });
    };

    std::vector<std::pair<std::size_t, std::size_t>> runs;
    if (sharedX) {
        // Every cell's piece crosses a column at the same parameter: the
        // column's segment is found once, and the cells' vertices are read
        // side by side.
        struct Run {
            std::size_t piece;
            std::size_t first;
            std::size_t last;
            bool capLow;
            bool capHigh;
            bool rising;
        };
        std::vector<Run> allRuns;
        // Heights and the half-widths of the cells' boxes, sample by sample,
        // cell by cell; and each segment's sigma.
        std::vector<std::vector<float>> heights(sampled.size());
        std::vector<std::vector<float>> spreads(sampled.size());
        std::vector<std::vector<float>> sigmas(sampled.size());
        double lowest = 1e300;
        double highest = -1e300;
        for (std::size_t p = 0; p < sampled.size(); ++p) {
            const SampledPiece& piece = sampled[p];
            const std::size_t n = piece.x.size();
            heights[p].resize(n * cellCount);
            spreads[p].resize(n * cellCount);
            sigmas[p].resize((n - 1) * cellCount);
            for (std::size_t s = 0; s < n; ++s)
                for (std::size_t c = 0; c < cellCount; ++c) {
                    Vertex v;
                    vertexOf(cells_[c], piece.x[s], piece.y[s], v);
                    heights[p][s * cellCount + c] = v.y;
                    spreads[p][s * cellCount + c] = std::sqrt(3.0f * v.varY);
                }
            for (std::size_t s = 0; s + 1 < n; ++s) {
                const double span = piece.x[s + 1].c - piece.x[s].c;
                const float inverse = static_cast<float>(std::fabs(span) > 1e-6 ? 1.0 / span : 1e6);
                for (std::size_t c = 0; c < cellCount; ++c) {
                    const float slope = (heights[p][(s + 1) * cellCount + c] - heights[p][s * cellCount + c]) * inverse;
                    sigmas[p][s * cellCount + c] = std::sqrt(1.0f + slope * slope);
                }
            }
            monotoneRuns(n, [&](std::size_t s) { return piece.x[s].c; }, runs);
            for (const auto& run : runs) {
                const bool rising = piece.x[run.second].c >= piece.x[run.first].c;
                const bool atStart = piece.capsStart && run.first == 0;
                const bool atEnd = piece.capsEnd && run.second + 1 == n;
                allRuns.push_back({p, run.first, run.second, rising ? atStart : atEnd, rising ? atEnd : atStart, rising});
                lowest = std::min({lowest, piece.x[run.first].c, piece.x[run.second].c});
                highest = std::max({highest, piece.x[run.first].c, piece.x[run.second].c});
            }
        }
        if (!std::isfinite(lowest) || !std::isfinite(highest)) return picture_;
        const auto [xa, xb] = frameColumns(lowest, highest);
        inBands(xa, xb, [&](Band& band, int first, int last) {
            for (int x = first; x < last; ++x) {
                const double xc = x + 0.5;
                bool any = false;
                std::fill(band.profile.begin(), band.profile.end(), 0.0);
                for (const Run& run : allRuns) {
                    const std::vector<Affine>& px = sampled[run.piece].x;
                    // The run's vertices in rising x: from `low` towards `high`.
                    const std::size_t low = run.rising ? run.first : run.last;
                    const std::size_t high = run.rising ? run.last : run.first;
                    if (xc < px[low].c - (run.capLow ? 1.0 : 0.0) || xc > px[high].c + (run.capHigh ? 1.0 : 0.0))
                        continue;
                    // The segment holding xc: vertices a and b, a before b in x.
                    std::size_t a = low;
                    std::size_t b = low;
                    const std::ptrdiff_t step = run.rising ? 1 : -1;
                    while (b != high && px[b].c < xc) {
                        a = b;
                        b = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(b) + step);
                    }
                    if (a == b) b = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(a) + step);
                    const double span = px[b].c - px[a].c;
                    const float f = static_cast<float>(span > 0.0 ? std::clamp((xc - px[a].c) / span, 0.0, 1.0) : 0.0);
                    const float* ya = heights[run.piece].data() + a * cellCount;
                    const float* yb = heights[run.piece].data() + b * cellCount;
                    const float* ha = spreads[run.piece].data() + a * cellCount;
                    const float* hb = spreads[run.piece].data() + b * cellCount;
                    const float* sigma = sigmas[run.piece].data() + std::min(a, b) * cellCount;
                    const ColumnCells cells{ya, yb, ha, hb, sigma, colors_.data(), cellTotals_.data(), cellCount, f};
                    switch (channels_) {
                        case 1: any = depositCells<1>(cells, channels_, band.profile.data(), subRows) || any; break;
                        case 2: any = depositCells<2>(cells, channels_, band.profile.data(), subRows) || any; break;
                        default: any = depositCells<0>(cells, channels_, band.profile.data(), subRows) || any; break;
                    }
                }
                if (any) drawColumn(band, x);
            }
        });
        return picture_;
    }

    // Pieces whose x depends on the values. Most cells' pieces rise in x all
    // the way: their vertices are kept sample by sample across the cells,
    // each cell with a cursor on its segment, so a column reads the cells
    // side by side. A piece that folds back is cut into rising runs of its own.
    struct Rising {
        std::vector<Vertex> vertices;  // sample by sample, cell by cell
        std::vector<float> low;        // per cell: the columns it reaches
        std::vector<float> high;
        std::size_t samples = 0;
    };
    std::vector<Rising> rising(sampled.size());
    // Cells in the order of their x half way along the first piece: cells
    // side by side then meet a column at nearly the same segment, and the
    // vertices a column reads lie together.
    std::vector<std::uint32_t> order(cellCount);
    {
        std::vector<float> key(cellCount);
        const Affine& mid = sampled.front().x[sampled.front().x.size() / 2];
        for (std::size_t c = 0; c < cellCount; ++c) {
            const double mean[cellValues] = {cells_[c].mean[0], cells_[c].mean[1], cells_[c].mean[2], cells_[c].mean[3]};
            key[c] = static_cast<float>(mid.at(mean));
            order[c] = static_cast<std::uint32_t>(c);
        }
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return key[a] < key[b]; });
    }
    std::vector<Vertex> folded;  // vertices of the folded pieces' runs
    std::vector<Strand> strands;
    double lowest = 1e300;
    double highest = -1e300;
    std::vector<Vertex> line;
    for (std::size_t p = 0; p < sampled.size(); ++p) {
        const SampledPiece& piece = sampled[p];
        const std::size_t n = piece.x.size();
        Rising& r = rising[p];
        r.samples = n;
        r.vertices.resize(n * cellCount);
        r.low.assign(cellCount, 1.0f);  // empty until set
        r.high.assign(cellCount, 0.0f);
        line.resize(n);
        for (std::size_t c = 0; c < cellCount; ++c) {
            bool up = true;
            for (std::size_t s = 0; s < n; ++s) {
                vertexOf(cells_[order[c]], piece.x[s], piece.y[s], line[s]);
                up = up && (s == 0 || line[s].x >= line[s - 1].x);
            }
            if (!std::isfinite(line.front().x) || !std::isfinite(line.back().x)) continue;
            lowest = std::min({lowest, static_cast<double>(line.front().x), static_cast<double>(line.back().x)});
            highest = std::max({highest, static_cast<double>(line.front().x), static_cast<double>(line.back().x)});
            if (up) {
                for (std::size_t s = 0; s < n; ++s) r.vertices[s * cellCount + c] = line[s];
                r.low[c] = line.front().x - (piece.capsStart ? 1.0f : 0.0f);
                r.high[c] = line.back().x + (piece.capsEnd ? 1.0f : 0.0f);
                continue;
            }
            monotoneRuns(n, [&](std::size_t s) { return line[s].x; }, runs);
            for (const auto& run : runs) {
                const std::size_t first = run.first;
                const std::size_t last = run.second;
                const bool upwards = line[last].x >= line[first].x;
                const bool atStart = piece.capsStart && first == 0;
                const bool atEnd = piece.capsEnd && last + 1 == n;
                Strand strand{static_cast<std::int32_t>(order[c]), static_cast<std::int32_t>(folded.size()),
                              static_cast<std::int32_t>(last - first + 1), 0, upwards ? atStart : atEnd,
                              upwards ? atEnd : atStart};
                if (upwards) {
                    folded.insert(folded.end(), line.begin() + static_cast<std::ptrdiff_t>(first),
                                  line.begin() + static_cast<std::ptrdiff_t>(last) + 1);
                } else {
                    for (std::size_t k = last + 1; k-- > first;) folded.push_back(line[k]);
                }
                const float from = folded[static_cast<std::size_t>(strand.first)].x - (strand.capLow ? 1.0f : 0.0f);
                strand.firstColumn = static_cast<std::int32_t>(std::ceil(std::max(from, -2.0f) - 0.5f));
                strands.push_back(strand);
            }
        }
    }
    if (!(lowest <= highest)) return picture_;
    const auto [xa, xb] = frameColumns(lowest, highest);
    std::sort(strands.begin(), strands.end(),
              [](const Strand& a, const Strand& b) { return a.firstColumn < b.firstColumn; });
    // Interpolates a segment at xc; beyond a capped end the end vertex stands for the cap.
    auto depositSegment = [&](Band& band, std::size_t cell, const Vertex& a, const Vertex& b, float xc) {
        const float span = b.x - a.x;
        const float f = span > 0.0f ? std::clamp((xc - a.x) / span, 0.0f, 1.0f) : 0.0f;
        const float slope = span > 1e-6f ? (b.y - a.y) / span : 1e6f;
        return deposit(band, cell, a.y + f * (b.y - a.y), a.varY + f * (b.varY - a.varY),
                       a.varX + f * (b.varX - a.varX), slope);
    };
    inBands(xa, xb, [&](Band& band, int first, int end) {
        // Each band walks the segments from the start: cursors of its own.
        std::vector<std::vector<std::int32_t>> cells(rising.size(), std::vector<std::int32_t>(cellCount, 0));
        std::vector<std::int32_t> cursor;  // per active strand: its segment
        std::vector<std::int32_t> active;
        std::size_t next = 0;
        for (int x = first; x < end; ++x) {
            const float xc = static_cast<float>(x) + 0.5f;
            std::fill(band.profile.begin(), band.profile.end(), 0.0);
            bool any = false;
            for (std::size_t p = 0; p < rising.size(); ++p) {
                const Rising& r = rising[p];
                std::vector<std::int32_t>& at = cells[p];
                const std::size_t last = r.samples - 1;
                for (std::size_t c = 0; c < cellCount; ++c) {
                    if (!(xc >= r.low[c] && xc <= r.high[c])) continue;
                    std::size_t k = static_cast<std::size_t>(at[c]);
                    while (k + 1 < last && r.vertices[(k + 1) * cellCount + c].x < xc) ++k;
                    at[c] = static_cast<std::int32_t>(k);
                    const Vertex* v = r.vertices.data() + k * cellCount + c;
                    any = depositSegment(band, order[c], v[0], v[cellCount], xc) || any;
                }
            }
            while (next < strands.size() && strands[next].firstColumn <= x) {
                active.push_back(static_cast<std::int32_t>(next));
                cursor.push_back(0);
                ++next;
            }
            std::size_t kept = 0;
            for (std::size_t a = 0; a < active.size(); ++a) {
                const Strand& strand = strands[static_cast<std::size_t>(active[a])];
                const Vertex* v = folded.data() + strand.first;
                std::int32_t k = cursor[a];
                while (k + 1 < strand.count && v[k + 1].x < xc) ++k;
                const std::int32_t last = strand.count - 1;
                if (k >= last && !(strand.capHigh && xc - v[last].x <= 1.0f)) continue;  // past its end: dropped
                active[kept] = active[a];
                cursor[kept] = k;
                ++kept;
                if (v[0].x > xc && !strand.capLow) continue;
                k = std::min(k, last - 1);
                any = depositSegment(band, static_cast<std::size_t>(strand.cell), v[k], v[k + 1], xc) || any;
            }
            active.resize(kept);
            cursor.resize(kept);
            if (any) drawColumn(band, x);
        }
    });
    return picture_;
}

long long CellBins::countedRecords() const {
    double total = 0.0;
    for (float n : cellTotals_) total += n;
    return std::llround(total);
}

std::size_t CellBins::bytes() const {
    return fine_.capacity() * sizeof(Fine) + cellOf_.capacity() * sizeof(std::int32_t) +
           unitCounts_.capacity() * sizeof(std::uint32_t) + unitColors_.capacity() * sizeof(float) +
           cells_.capacity() * sizeof(Cell) + (colors_.capacity() + cellTotals_.capacity()) * sizeof(float) +
           picture_.bytes();
}

std::size_t CellBins::typicalBytes(int width, int height) {
    // The drawn cell of every fine cell (their places and counts go once the
    // cells are drawn from them), two groups' counts and a class's colours
    // per drawn cell, a picture of two classes.
    const std::size_t fine = kFineCells * sizeof(std::int32_t);
    const std::size_t drawn = static_cast<std::size_t>(cellBudget) * (sizeof(Cell) + 14 * sizeof(float));
    const std::size_t picture = 2 * static_cast<std::size_t>(std::max(width, 0) / 4 + 8) * std::max(height, 0) *
                                sizeof(AccumulatedPixel);
    return fine + drawn + picture;
}
