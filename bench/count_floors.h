#pragma once
// Floors of the counting and brushing an action needs: the least that has
// to be read and written to give what the program computes, in the program's
// own layout and on as many threads as it uses.
//
// A count reads, per record, what its colour follows from (its colour index,
// or its selection code while colours come from the selection) and the
// 16-bit coordinates the bins keep of each value, region by region, and adds
// one to its class's count in its cell (with its alpha-weighted colour where
// colours differ). A place (bins of a pair or cells never counted before)
// adds each record's offsets within its cell instead. A column puts one
// dimension's values on the bins' grid again (log10 or symlog per record for
// a new scale, with the range of the transformed values found first). A brush
// reads the brushed columns and folds a byte per record into the selection
// (or the colour indices, painting).
//
// Every floor splits the records evenly over the threads, each counting into
// tables of its own that are then added up, and never allocates while timed.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/parallel.h"
#include "base/platform.h"
#include "data/dimension.h"
#include "plot/plot.h"
#include "records/raster.h"

namespace bench {

using Coordinates = std::vector<std::uint16_t>;

// Threads the program's passes over the records use: one per core.
inline int programThreads() { return threadsFor(0, 1 << 20); }

// A dimension's records on the bins' grid, 16 bits each, as the bins keep them.
inline Coordinates coordinatesOf(const Positions& positions, int records) {
    Coordinates out(static_cast<std::size_t>(records));
    for (int r = 0; r < records; ++r) {
        const double f = positions[r] * 65536.0;
        out[static_cast<std::size_t>(r)] =
            f >= 0.0 ? (f < 65535.0 ? static_cast<std::uint16_t>(f) : std::uint16_t(65535)) : std::uint16_t(0);
    }
    return out;
}

// What a record's colour follows from, as a key per record, and per key the
// class the bins count it in (by its alpha; `classes` for a record not drawn)
// and its alpha-weighted colour. Painting, the key is the record's colour
// index; while colours come from the selection, its selection code (selected
// or the others' grey: the base colours of the selected are left out).
struct ColourKeys {
    const std::uint16_t* index = nullptr;
    const unsigned char* code = nullptr;
    std::vector<std::uint8_t> classOf;
    std::vector<std::array<float, 3>> rgb;
    int classes = 1;
    bool uniform = true;
};

inline ColourKeys colourKeysOf(const PCPlot& plot, bool bySelection) {
    ColourKeys keys;
    if (bySelection) {
        keys.code = plot.recordSelection.codes().data();
        const std::vector<double>& levels = plot.recordSelection.levels();
        const int first = plot.recordSelection.firstSelected();
        keys.classes = 2;
        for (std::size_t k = 0; k < levels.size(); ++k) {
            keys.classOf.push_back(static_cast<int>(k) >= first ? 1 : (unorm8(levels[k]) > 0 ? 0 : 2));
            keys.rgb.push_back({0.0f, 0.0f, 0.0f});
        }
        return keys;
    }
    keys.index = plot.recordColors.indices().data();
    const std::vector<Rgba>& table = plot.recordColors.table();
    std::vector<int> alphas;
    for (const Rgba& c : table)
        if (unorm8(c[3]) > 0) alphas.push_back(unorm8(c[3]));
    std::sort(alphas.begin(), alphas.end());
    alphas.erase(std::unique(alphas.begin(), alphas.end()), alphas.end());
    keys.classes = std::max<int>(1, static_cast<int>(alphas.size()));
    bool first = true;
    std::array<float, 3> seen{};
    for (const Rgba& c : table) {
        const int a = unorm8(c[3]);
        const auto at = std::find(alphas.begin(), alphas.end(), a);
        keys.classOf.push_back(a == 0 ? static_cast<std::uint8_t>(keys.classes)
                                      : static_cast<std::uint8_t>(at - alphas.begin()));
        const float weight = static_cast<float>(a) / 255.0f;
        const std::array<float, 3> rgb{weight * unorm8(c[0]) / 255.0f, weight * unorm8(c[1]) / 255.0f,
                                       weight * unorm8(c[2]) / 255.0f};
        keys.rgb.push_back(rgb);
        if (a == 0) continue;
        const std::array<float, 3> plain{static_cast<float>(unorm8(c[0])), static_cast<float>(unorm8(c[1])),
                                         static_cast<float>(unorm8(c[2]))};
        if (!first && plain != seen) keys.uniform = false;
        seen = plain;
        first = false;
    }
    return keys;
}

// The cell of a pair's record for lines (two by two bins, 256 x 256) or
// points (a bin, 512 x 512), and of a region's record for curve pieces (3, 6,
// 6 and 3 bits of its four values).
inline std::size_t pairCell(std::uint16_t u, std::uint16_t w, bool fine) {
    return fine ? (static_cast<std::size_t>(u >> 7) << 9) | (w >> 7) : (static_cast<std::size_t>(u >> 8) << 8) | (w >> 8);
}
inline std::size_t fourValueCell(const std::array<const std::uint16_t*, 4>& v, std::size_t r) {
    const std::size_t a = v[0] ? v[0][r] >> 13 : 0;
    const std::size_t b = v[1][r] >> 10;
    const std::size_t c = v[2][r] >> 10;
    const std::size_t d = v[3] ? v[3][r] >> 13 : 0;
    return (a << 15) | (b << 9) | (c << 3) | d;
}
constexpr std::size_t kFourValueCells = std::size_t(1) << 18;

using Pair = std::array<const std::uint16_t*, 2>;
using Quad = std::array<const std::uint16_t*, 4>;

class CountFloor {
public:
    explicit CountFloor(int threads = programThreads()) : threads_(std::max(1, threads)), parts_(threads_) {}

    // Counts the records of every pair (lines, or points when fine); ms.
    double countPairs(const ColourKeys& keys, const std::vector<Pair>& pairs, int records, bool fine) {
        const std::size_t cells = fine ? std::size_t(512) * 512 : std::size_t(256) * 256;
        reserve(keys, cells);
        const double start = steadyMs();
        for (const Pair& p : pairs) {
            const std::uint16_t* u = p[0];
            const std::uint16_t* w = p[1];
            if (fine)
                count(keys, cells, records, [u, w](std::size_t r) { return pairCell(u[r], w[r], true); });
            else
                count(keys, cells, records, [u, w](std::size_t r) { return pairCell(u[r], w[r], false); });
        }
        return steadyMs() - start;
    }

    // Counts the records of every region's four values; ms.
    double countCells(const ColourKeys& keys, const std::vector<Quad>& quads, int records) {
        reserve(keys, kFourValueCells);
        const double start = steadyMs();
        for (const Quad& q : quads) count(keys, kFourValueCells, records, [q](std::size_t r) { return fourValueCell(q, r); });
        return steadyMs() - start;
    }

    // Places the records of every pair in its bins: count and offset sums.
    double placePairs(const std::vector<Pair>& pairs, int records) {
        constexpr std::size_t bins = std::size_t(512) * 512;
        for (Part& part : parts_) part.places.resize(bins);
        const double start = steadyMs();
        for (const Pair& p : pairs) {
            runSplit(records, threads_, [&](long long first, long long last, int k) {
                Place* out = parts_[static_cast<std::size_t>(k)].places.data();
                std::fill(out, out + bins, Place{});
                for (long long r = first; r < last; ++r) {
                    const std::uint16_t u = p[0][r], w = p[1][r];
                    Place& b = out[pairCell(u, w, true)];
                    ++b.records;
                    b.sumU += static_cast<float>(u & 127);
                    b.sumW += static_cast<float>(w & 127);
                }
            });
            mergeParts(bins, [&](std::size_t i, const Part& from) {
                Place& to = parts_[0].places[i];
                to.records += from.places[i].records;
                to.sumU += from.places[i].sumU;
                to.sumW += from.places[i].sumW;
            });
        }
        return steadyMs() - start;
    }

    // Places the records of every region in its cells of four values: count,
    // sums and squares of the offsets and the cross term of the region's own
    // two, with the colour count of the same pass.
    double placeCells(const ColourKeys& keys, const std::vector<Quad>& quads, int records) {
        reserve(keys, kFourValueCells);
        for (Part& part : parts_) part.fine.resize(kFourValueCells);
        const double start = steadyMs();
        for (const Quad& q : quads) {
            runSplit(records, threads_, [&](long long first, long long last, int k) {
                Part& part = parts_[static_cast<std::size_t>(k)];
                std::fill(part.fine.begin(), part.fine.end(), Fine{});
                for (long long r = first; r < last; ++r) {
                    Fine& f = part.fine[fourValueCell(q, static_cast<std::size_t>(r))];
                    ++f.records;
                    float o[4];
                    for (int v = 0; v < 4; ++v) {
                        const int bits = v == 0 || v == 3 ? 13 : 10;
                        o[v] = q[static_cast<std::size_t>(v)] ? static_cast<float>(q[static_cast<std::size_t>(v)][r] & ((1 << bits) - 1)) : 0.0f;
                        f.sum[v] += o[v];
                        f.squares[v] += o[v] * o[v];
                    }
                    f.cross += o[1] * o[2];
                }
            });
            mergeParts(kFourValueCells, [&](std::size_t i, const Part& from) {
                Fine& to = parts_[0].fine[i];
                to.records += from.fine[i].records;
                for (int v = 0; v < 4; ++v) {
                    to.sum[v] += from.fine[i].sum[v];
                    to.squares[v] += from.fine[i].squares[v];
                }
                to.cross += from.fine[i].cross;
            });
            count(keys, kFourValueCells, records, [q](std::size_t r) { return fourValueCell(q, r); });
        }
        return steadyMs() - start;
    }

private:
    struct Place {
        std::uint32_t records = 0;
        float sumU = 0.0f;
        float sumW = 0.0f;
    };
    struct Fine {
        std::uint32_t records = 0;
        float sum[4] = {};
        float squares[4] = {};
        float cross = 0.0f;
    };
    struct Part {
        std::vector<std::uint32_t> counts;  // per class (and one for records not drawn), then per cell
        std::vector<float> colours;         // alpha-weighted red, green, blue per cell
        std::vector<Place> places;
        std::vector<Fine> fine;
    };

    void reserve(const ColourKeys& keys, std::size_t cells) {
        for (Part& part : parts_) {
            part.counts.resize(static_cast<std::size_t>(keys.classes + 1) * cells);
            if (!keys.uniform) part.colours.resize(3 * cells);
        }
    }

    // Adds the threads' tables into the first one, cells split among the threads.
    template <class Add>
    void mergeParts(std::size_t cells, Add add) {
        runSplit(static_cast<long long>(cells), threads_, [&](long long first, long long last, int) {
            for (std::size_t t = 1; t < parts_.size(); ++t)
                for (long long i = first; i < last; ++i) add(static_cast<std::size_t>(i), parts_[t]);
        });
    }

    // One thread's records into its tables: every input a local value, so
    // the stores into the tables cannot make the loop read them again.
    template <bool Uniform, class Key, class CellOf>
    static void countRange(const Key* __restrict keys, const std::uint8_t* __restrict classOf,
                           const std::array<float, 3>* __restrict rgb, long long first, long long last, std::size_t cells,
                           CellOf cellOf, std::uint32_t* __restrict counts, float* __restrict colours) {
        for (long long r = first; r < last; ++r) {
            const std::size_t key = keys[r];
            const std::size_t cell = cellOf(static_cast<std::size_t>(r));
            ++counts[classOf[key] * cells + cell];
            if constexpr (!Uniform) {
                float* c = colours + 3 * cell;
                c[0] += rgb[key][0];
                c[1] += rgb[key][1];
                c[2] += rgb[key][2];
            }
        }
    }

    template <class CellOf>
    void count(const ColourKeys& keys, std::size_t cells, int records, CellOf cellOf) {
        const std::size_t tables = static_cast<std::size_t>(keys.classes + 1) * cells;
        runSplit(records, threads_, [&](long long first, long long last, int k) {
            Part& part = parts_[static_cast<std::size_t>(k)];
            std::uint32_t* counts = part.counts.data();
            std::fill(counts, counts + tables, 0u);
            float* colours = part.colours.data();
            if (!keys.uniform) std::fill(colours, colours + 3 * cells, 0.0f);
            const std::uint8_t* classOf = keys.classOf.data();
            const std::array<float, 3>* rgb = keys.rgb.data();
            if (keys.index != nullptr) {
                if (keys.uniform)
                    countRange<true>(keys.index, classOf, rgb, first, last, cells, cellOf, counts, colours);
                else
                    countRange<false>(keys.index, classOf, rgb, first, last, cells, cellOf, counts, colours);
            } else {
                countRange<true>(keys.code, classOf, rgb, first, last, cells, cellOf, counts, colours);
            }
        });
        const int classes = keys.classes;
        const bool uniform = keys.uniform;
        runSplit(static_cast<long long>(cells), threads_, [&](long long first, long long last, int) {
            std::uint32_t* to = parts_[0].counts.data();
            float* toColours = parts_[0].colours.data();
            for (std::size_t t = 1; t < parts_.size(); ++t) {
                const std::uint32_t* from = parts_[t].counts.data();
                for (int c = 0; c < classes; ++c)
                    for (long long i = first; i < last; ++i) to[static_cast<std::size_t>(c) * cells + i] += from[static_cast<std::size_t>(c) * cells + i];
                if (!uniform)
                    for (long long i = 3 * first; i < 3 * last; ++i) toColours[i] += parts_[t].colours[static_cast<std::size_t>(i)];
            }
        });
    }

    int threads_;
    std::vector<Part> parts_;
};

// One column put on the bins' grid again under a scale: for log or symlog
// the transformed values and their range first, then the 16-bit
// coordinates; for a linear scale the coordinates from the range known.
// `scratch` holds a float per record. ms.
inline double columnFloor(const Dimension& dimension, AxisScale scale, std::vector<float>& scratch, Coordinates& out,
                          int threads = programThreads()) {
    const int records = dimension.recordCount;
    const double* values = dimension.values;
    scratch.resize(static_cast<std::size_t>(records));
    out.resize(static_cast<std::size_t>(records));
    std::vector<std::array<double, 2>> ranges(static_cast<std::size_t>(std::max(threads, 1)));
    std::vector<double> sample;
    sample.reserve(std::size_t(1) << 20);
    const double start = steadyMs();
    // symlog's c: the median of the non-zero magnitudes of an even sample of
    // about a million values.
    double c = 1.0;
    if (scale == AxisScale::Symlog) {
        const long long step = std::max<long long>(1, records >> 20);
        for (long long r = 0; r < records; r += step)
            if (values[r] != 0.0) sample.push_back(std::fabs(values[r]));
        if (!sample.empty()) {
            std::nth_element(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(sample.size() / 2), sample.end());
            c = sample[sample.size() / 2];
        }
    }
    double low = dimension.minimum, high = dimension.maximum;
    if (scale != AxisScale::Linear) {
        runSplit(records, threads, [&](long long first, long long last, int k) {
            double lo = HUGE_VAL, hi = -HUGE_VAL;
            for (long long r = first; r < last; ++r) {
                const double v = values[r];
                const double t = scale == AxisScale::Log ? std::log10(v) : Placement::symlog(v, c);
                scratch[static_cast<std::size_t>(r)] = static_cast<float>(t);
                lo = std::min(lo, t);
                hi = std::max(hi, t);
            }
            ranges[static_cast<std::size_t>(k)] = {lo, hi};
        });
        low = HUGE_VAL;
        high = -HUGE_VAL;
        for (const auto& r : ranges) {
            low = std::min(low, r[0]);
            high = std::max(high, r[1]);
        }
    }
    const double scaleBy = high > low ? 65536.0 / (high - low) : 0.0;
    runSplit(records, threads, [&](long long first, long long last, int) {
        for (long long r = first; r < last; ++r) {
            const double t = scale != AxisScale::Linear ? scratch[static_cast<std::size_t>(r)] : values[r];
            const double f = (t - low) * scaleBy;
            out[static_cast<std::size_t>(r)] =
                f >= 0.0 ? (f < 65535.0 ? static_cast<std::uint16_t>(f) : std::uint16_t(65535)) : std::uint16_t(0);
        }
    });
    return steadyMs() - start;
}

// A brush over one column (axis) or two (angular, outline): each record's
// values read, its test taken (an interval of values; an interval of the
// difference of its two positions; a cell of a 256 x 256 grid over its two
// positions, inside or not) and the outcome folded into a byte per record
// (the lesser of its selection code and the brush's code, or its colour
// index replaced, painting). ms.
struct BrushFloorInput {
    const double* a = nullptr;
    const double* b = nullptr;  // null for an axis brush
    double aMinimum = 0.0, aSpan = 1.0, bMinimum = 0.0, bSpan = 1.0;
    double low = 0.0, high = 0.0;  // the accepted interval (of values, or of the slope)
    const std::vector<unsigned char>* grid = nullptr;  // outline: 256 x 256 cells, 1 inside
    bool paint = false;
};

// An axis brush over positions [low, high] of a linear axis.
inline BrushFloorInput axisBrushInput(const Dimension& d, double low, double high) {
    BrushFloorInput in;
    in.a = d.values;
    in.low = d.minimum + low * (d.maximum - d.minimum);
    in.high = d.minimum + high * (d.maximum - d.minimum);
    return in;
}
// A brush over two linear axes: the difference of the positions within
// [low, high], or with a grid given, the cell under (a, b).
inline BrushFloorInput twoAxisBrushInput(const Dimension& a, const Dimension& b, double low, double high,
                                         const std::vector<unsigned char>* grid = nullptr) {
    BrushFloorInput in;
    in.a = a.values;
    in.b = b.values;
    in.aMinimum = a.minimum;
    in.aSpan = a.maximum - a.minimum;
    in.bMinimum = b.minimum;
    in.bSpan = b.maximum - b.minimum;
    in.low = low;
    in.high = high;
    in.grid = grid;
    return in;
}

namespace detail {
// Folds inside(r) into the selection codes (the lesser) or, painting, sets
// the colour index of the records inside. The test takes what it reads by
// value: byte stores could alias anything it read through a reference.
template <class Inside>
void foldBrush(long long first, long long last, bool paint, Inside inside, unsigned char* __restrict code,
               std::uint16_t* __restrict index) {
    if (paint) {
        for (long long r = first; r < last; ++r) index[r] = inside(r) ? std::uint16_t(7) : index[r];
    } else {
        for (long long r = first; r < last; ++r) code[r] = std::min<unsigned char>(code[r], inside(r));
    }
}
}  // namespace detail

inline double brushFloor(const BrushFloorInput& in, int records, std::vector<unsigned char>& codes,
                         std::vector<std::uint16_t>& indices, int threads = programThreads()) {
    codes.resize(static_cast<std::size_t>(records));
    indices.resize(static_cast<std::size_t>(records));
    unsigned char* code = codes.data();
    std::uint16_t* index = indices.data();
    const double* __restrict a = in.a;
    const double* __restrict b = in.b;
    const double low = in.low, high = in.high, am = in.aMinimum, bm = in.bMinimum;
    const double ia = 1.0 / in.aSpan, ib = 1.0 / in.bSpan;
    const unsigned char* grid = in.grid ? in.grid->data() : nullptr;
    const double start = steadyMs();
    runSplit(records, threads, [&](long long first, long long last, int) {
        if (b == nullptr) {
            detail::foldBrush(first, last, in.paint, [=](long long r) { return (a[r] >= low) & (a[r] <= high); }, code, index);
        } else if (grid == nullptr) {
            detail::foldBrush(first, last, in.paint, [=](long long r) {
                const double slope = (b[r] - bm) * ib - (a[r] - am) * ia;
                return (slope >= low) & (slope <= high);
            }, code, index);
        } else {
            detail::foldBrush(first, last, in.paint, [=](long long r) {
                const int x = std::clamp(static_cast<int>((a[r] - am) * ia * 256.0), 0, 255);
                const int y = std::clamp(static_cast<int>((b[r] - bm) * ib * 256.0), 0, 255);
                return grid[y * 256 + x] != 0;
            }, code, index);
        }
    });
    return steadyMs() - start;
}

}  // namespace bench
