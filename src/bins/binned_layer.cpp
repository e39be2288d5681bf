#include "bins/binned_layer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/parallel.h"
#include "bins/column_marks.h"
#include "data/dimension.h"
#include "data/table.h"
#include "plot/plot.h"
#include "records/raster.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kPool = binsPerAxis / stackCells;
static_assert(kPool * stackCells == binsPerAxis, "the stack grid pools whole bins");

// Points go down in blocks of bins at most this many a side and a pixel wide.
constexpr int kPointBlock = 8;

// The most bins, a power of two up to kPointBlock, that span at most a
// pixel when `pixels` cover all of them.
int pointBlock(double pixels) {
    int block = 1;
    while (block < kPointBlock && 2.0 * block * std::fabs(pixels) <= binsPerAxis) block *= 2;
    return block;
}

// Moments kept per stack cell after the class counts.
enum Moment { SumU, SumW, SumUU, SumWW, SumUW, MomentCount };

constexpr int kOffsetBits = 16 - 9;
static_assert(binsPerAxis == 1 << 9, "coordinates keep 9 bits for the bin");
constexpr float kOffsetScale = 1.0f / (1 << kOffsetBits);

inline std::size_t binOf(std::uint16_t u, std::uint16_t w) {
    return (static_cast<std::size_t>(u >> kOffsetBits) << 9) | (w >> kOffsetBits);
}
// Offset of a coordinate within its bin, in bins, at the middle of its step.
inline float offsetOf(std::uint16_t q) {
    return (static_cast<float>(q & ((1 << kOffsetBits) - 1)) + 0.5f) * kOffsetScale;
}

// The stack cell (two by two bins) a bin lies in.
inline std::size_t stackCellOf(std::size_t bin) { return ((bin >> 10) << 8) | ((bin & (binsPerAxis - 1)) >> 1); }
constexpr std::size_t kStackCellCount = static_cast<std::size_t>(stackCells) * stackCells;

inline float channelValue(std::uint32_t packed, int c) { return static_cast<float>((packed >> (8 * c)) & 0xFF) / 255.0f; }

// Counts per group and bin, and the colour sums of classes of several
// colours per stack cell (Sums).
template <bool Sums>
void countRecords(std::uint32_t* counts, float* colorSums, std::size_t units, const std::uint16_t* u,
                  const std::uint16_t* w, int records, const BinColors& colors, int skip) {
    const std::uint32_t* packed = colors.packed.data();
    const std::size_t sumChannels = static_cast<std::size_t>(colors.colorChannels);
    int channel[maxBinGroups];
    for (int g = 0; g < colors.groupCount; ++g) channel[g] = colors.channelOf(g);
    for (int r = 0; r < records; ++r) {
        const std::uint32_t p = packed[r];
        const std::uint8_t group = static_cast<std::uint8_t>(p >> 24);
        if (group == BinColors::notDrawn || r == skip) continue;
        const std::size_t bin = binOf(u[r], w[r]);
        ++counts[static_cast<std::size_t>(group) * units + bin];
        if constexpr (Sums) {
            if (channel[group] < 0) continue;
            const float a = colors.groupAlpha[group];
            float* sum = colorSums + sumChannels * stackCellOf(bin) + static_cast<std::size_t>(channel[group]);
            sum[0] += a * channelValue(p, 0);
            sum[1] += a * channelValue(p, 1);
            sum[2] += a * channelValue(p, 2);
        }
    }
}

// r, g and b as they reach 8 bits, red in the lowest byte.
inline std::uint32_t packRgb(const Rgba& c) {
    return unorm8(c[0]) | (static_cast<std::uint32_t>(unorm8(c[1])) << 8) |
           (static_cast<std::uint32_t>(unorm8(c[2])) << 16);
}

// Threads for a pass over the records: one per 64 Ki records, at most `threads`.
inline int recordParts(int threads, int records) { return std::max(1, std::min(threads, records / 65536 + 1)); }

}  // namespace

// ---------------------------------------------------------------- colours

std::vector<std::array<std::uint8_t, 256>> BinColors::assignGroups(
    const std::vector<std::array<long long, 256>>& classAlphas) {
    struct Used {
        int cls;
        int alpha;
    };
    std::vector<Used> used;
    for (std::size_t c = 0; c < classAlphas.size(); ++c)
        for (int a = 1; a < 256; ++a)
            if (classAlphas[c][static_cast<std::size_t>(a)] > 0) used.push_back({static_cast<int>(c), a});
    // The narrowest span of alpha bytes that groups the alphas in use into
    // at most maxBinGroups runs, none across two classes, each run starting
    // at its lowest alpha: every alpha is then drawn within that span of its
    // own. Classes are fewer than groups, so a span of 255 always fits.
    auto runsFor = [&](int span) {
        int runs = 0;
        for (std::size_t k = 0; k < used.size();) {
            const Used start = used[k];
            while (k < used.size() && used[k].cls == start.cls && used[k].alpha - start.alpha <= span) ++k;
            ++runs;
        }
        return runs;
    };
    int span = 0;
    while (runsFor(span) > maxBinGroups) ++span;
    std::vector<std::array<std::uint8_t, 256>> groupOf(classAlphas.size());
    for (auto& row : groupOf) row.fill(notDrawn);
    groupCount = 0;
    for (std::size_t k = 0; k < used.size();) {
        // A group draws at its records' mean alpha, which keeps their ink.
        const Used start = used[k];
        double count = 0.0;
        double sum = 0.0;
        for (; k < used.size() && used[k].cls == start.cls && used[k].alpha - start.alpha <= span; ++k) {
            const double n = static_cast<double>(classAlphas[static_cast<std::size_t>(start.cls)][static_cast<std::size_t>(used[k].alpha)]);
            count += n;
            sum += n * used[k].alpha;
            groupOf[static_cast<std::size_t>(start.cls)][static_cast<std::size_t>(used[k].alpha)] = static_cast<std::uint8_t>(groupCount);
        }
        groupAlpha[static_cast<std::size_t>(groupCount)] = static_cast<float>(sum / count / 255.0);
        groupClass[static_cast<std::size_t>(groupCount)] = static_cast<std::uint8_t>(start.cls);
        ++groupCount;
    }
    return groupOf;
}

void BinColors::compute(const PCPlot& plot, int skip, int threads) {
    bySelection = false;
    groupCount = colorChannels = 0;
    colorChannel.fill(-1);
    const int records = std::max(plot.recordCount, 0);
    packed.resize(static_cast<std::size_t>(records));
    DrawClasses classes;
    classes.build(plot, skip, threads);
    classCount = std::min(classes.binClasses(), maxBinClasses);
    const std::size_t classSlots = static_cast<std::size_t>(std::max(classCount, 1));
    const int parts = recordParts(threads, records);
    // Per part and class: records per alpha byte, and whether they share one colour.
    struct Seen {
        std::array<long long, 256> alpha{};
        bool mixed = false;
        bool any = false;
        std::uint32_t rgb = 0;
    };
    std::vector<std::vector<Seen>> seen(static_cast<std::size_t>(parts), std::vector<Seen>(classSlots));
    auto binClassOf = [&](int r) { return std::min(classes.binClassOf(classes.classOf(r)), maxBinClasses - 1); };
    // The colour, with its alpha byte where the group goes later.
    runSplit(records, parts, [&](long long first, long long last, int part) {
        std::vector<Seen>& mine = seen[static_cast<std::size_t>(part)];
        Rgba c{0.0, 0.0, 0.0, 1.0};
        for (int r = static_cast<int>(first); r < static_cast<int>(last); ++r) {
            plot.colorOfRecord(r, c);
            const std::uint32_t rgb = packRgb(c);
            const std::uint8_t a = r == skip ? 0 : unorm8(c[3]);
            packed[static_cast<std::size_t>(r)] = rgb | (static_cast<std::uint32_t>(a) << 24);
            if (a == 0) continue;
            Seen& s = mine[static_cast<std::size_t>(binClassOf(r))];
            ++s.alpha[a];
            if (!s.any) {
                s.any = true;
                s.rgb = rgb;
            } else if (rgb != s.rgb) {
                s.mixed = true;
            }
        }
    });

    // Groups in order of class and alpha, so they do not depend on how records were split.
    std::vector<std::array<long long, 256>> used(classSlots);
    for (std::size_t c = 0; c < classSlots; ++c) {
        used[c].fill(0);
        bool any = false, mixed = false;
        std::uint32_t rgb = 0;
        for (const std::vector<Seen>& part : seen) {
            const Seen& s = part[c];
            for (std::size_t a = 0; a < 256; ++a) used[c][a] += s.alpha[a];
            if (!s.any) continue;
            if (s.mixed || (any && s.rgb != rgb)) mixed = true;
            any = true;
            rgb = s.rgb;
        }
        colorChannel[c] = -1;
        for (int k = 0; k < 3; ++k) classColor[c][static_cast<std::size_t>(k)] = channelValue(rgb, k);
        if (mixed) {
            colorChannel[c] = static_cast<std::int8_t>(colorChannels);
            colorChannels += 3;
        }
    }
    const std::vector<std::array<std::uint8_t, 256>> groupOf = assignGroups(used);
    runSplit(records, parts, [&](long long first, long long last, int) {
        for (int r = static_cast<int>(first); r < static_cast<int>(last); ++r) {
            std::uint32_t& p = packed[static_cast<std::size_t>(r)];
            const std::uint8_t a = static_cast<std::uint8_t>(p >> 24);
            const std::uint8_t group = a == 0 ? notDrawn : groupOf[static_cast<std::size_t>(binClassOf(r))][a];
            p = (p & 0x00FFFFFFu) | (static_cast<std::uint32_t>(group) << 24);
        }
    });
}

bool BinColors::computeBase(const PCPlot& plot, int threads) {
    bySelection = false;
    // Only the default colouring by selection and ramp is split in two.
    if (!plot.colorByFunction || !plot.colorBySelection || plot.hasHighlightedRecord ||
        plot.selectionColorFn != ::selectionColorFn || plot.dimensionColorFn != ::dimensionColorFn ||
        plot.dimensionAt(plot.colorDimension) == nullptr)
        return false;
    const int records = std::max(plot.recordCount, 0);
    if (plot.useRecordColors && plot.recordColors.anyWith(records)) return false;
    packed.resize(static_cast<std::size_t>(records));
    const int parts = recordParts(threads, records);
    runSplit(records, parts, [&](long long first, long long last, int) {
        const int begin = static_cast<int>(first);
        const int end = static_cast<int>(last);
        Rgba c{0.0, 0.0, 0.0, 1.0};
        for (int r = begin; r < end; ++r) {
            plot.dimensionColorFn(plot, r, c);
            packed[static_cast<std::size_t>(r)] = packRgb(c) | 0xFF000000u;
        }
    });
    bySelection = true;
    return true;
}

bool BinColors::splitSelection(const PCPlot& plot, int threads) {
    const std::size_t records = packed.size();
    // 32-bit colour sums hold 2^32 / 255 records of one bin.
    if (records >= 0xFFFFFFFFu / 255u) return false;
    // The selected records are one class of the drawing order only while
    // they share one degree.
    if (plot.recordSelection.levels().size() > static_cast<std::size_t>(plot.recordSelection.firstSelected()) + 1)
        return false;
    const std::size_t words = (records + 63) / 64;
    selected.resize(words);
    // Each record's selection is a byte naming one of the degrees in use, in
    // ascending order: the selected ones are the codes from `first` on.
    const unsigned char* codes = plot.recordSelection.codes().data();
    const int first = plot.recordSelection.firstSelected();
    const int parts = std::max(1, std::min<int>(threads, static_cast<int>(words / 1024) + 1));
    // The others' degrees are one grey when their least code is their largest.
    struct Part {
        long long count = 0;
        int least = 255;
        int largest = 0;
    };
    std::vector<Part> found(static_cast<std::size_t>(parts));
    runParts(parts, parts, [&](int part) {
        Part& f = found[static_cast<std::size_t>(part)];
        const std::size_t firstWord = words * static_cast<std::size_t>(part) / parts;
        const std::size_t lastWord = words * static_cast<std::size_t>(part + 1) / parts;
        int least = 255;
        int largest = 0;
        std::size_t k = firstWord;
#if defined(__SSE2__)
        // Sixteen records a step over whole words; the selected ones take
        // codes that leave the others' least and largest be.
        if (first <= 255) {
            const __m128i threshold = _mm_set1_epi8(static_cast<char>(first));
            __m128i low = _mm_set1_epi8(static_cast<char>(0xFF));
            __m128i high = _mm_setzero_si128();
            for (; k < lastWord && 64 * k + 64 <= records; ++k) {
                std::uint64_t bits = 0;
                const unsigned char* c = codes + 64 * k;
                for (int i = 0; i < 64; i += 16) {
                    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
                    const __m128i in = _mm_cmpeq_epi8(_mm_max_epu8(x, threshold), x);
                    bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(in))) << i;
                    low = _mm_min_epu8(low, _mm_or_si128(x, in));
                    high = _mm_max_epu8(high, _mm_andnot_si128(in, x));
                }
                selected[k] = bits;
                f.count += __builtin_popcountll(bits);
            }
            unsigned char lanes[16];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), low);
            least = *std::min_element(lanes, lanes + 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), high);
            largest = *std::max_element(lanes, lanes + 16);
        }
#endif
        for (; k < lastWord; ++k) {
            std::uint64_t bits = 0;
            const std::size_t end = std::min(records, 64 * k + 64);
            for (std::size_t r = 64 * k; r < end; ++r) {
                const int c = codes[r];
                const bool in = c >= first;
                bits |= static_cast<std::uint64_t>(in) << (r - 64 * k);
                least = std::min(least, in ? 255 : c);
                largest = std::max(largest, in ? 0 : c);
            }
            selected[k] = bits;
            f.count += __builtin_popcountll(bits);
        }
        f.least = least;
        f.largest = largest;
    });
    selectedCount = 0;
    int least = 255;
    int largest = 0;
    for (const Part& f : found) {
        selectedCount += f.count;
        least = std::min(least, f.least);
        largest = std::max(largest, f.largest);
    }
    const bool anyOthers = selectedCount < static_cast<long long>(records);
    if (anyOthers && least != largest) return false;  // more than one grey: counted record by record
    const double others = anyOthers ? plot.recordSelection.levels()[static_cast<std::size_t>(largest)] : -1.0;
    // The colours selectionColorFn gives, as they reach 8 bits.
    deselectedAlpha = others >= 0.0 ? unorm8(others) : 0;
    deselectedGrey = others >= 0.0 ? unorm8(1.0 - others) : 0;
    // The classes of the drawing order: the others' degree below the
    // selected one; the others in their grey, the selected in the colours
    // of their dimension, summed per cell.
    classCount = groupCount = colorChannels = 0;
    colorChannel.fill(-1);
    deselectedGroup = selectedGroup = -1;
    if (anyOthers) {
        const int cls = classCount++;
        classColor[static_cast<std::size_t>(cls)].fill(deselectedGrey / 255.0f);
        if (deselectedAlpha > 0) {
            deselectedGroup = groupCount++;
            groupClass[static_cast<std::size_t>(deselectedGroup)] = static_cast<std::uint8_t>(cls);
            groupAlpha[static_cast<std::size_t>(deselectedGroup)] = deselectedAlpha / 255.0f;
        }
    }
    if (selectedCount > 0) {
        const int cls = classCount++;
        colorChannel[static_cast<std::size_t>(cls)] = 0;
        colorChannels = 3;
        selectedGroup = groupCount++;
        groupClass[static_cast<std::size_t>(selectedGroup)] = static_cast<std::uint8_t>(cls);
        groupAlpha[static_cast<std::size_t>(selectedGroup)] = 1.0f;
    }
    return true;
}

// ---------------------------------------------------------------- geometry

bool RegionGeometry::sameLines(const RegionGeometry& o) const {
    return x0 == o.x0 && x1 == o.x1 && p0 == o.p0 && q0 == o.q0 && p1 == o.p1 && q1 == o.q1 &&
           lineWidth == o.lineWidth && smooth == o.smooth && width == o.width && height == o.height &&
           lineOpacity == o.lineOpacity;
}

bool RegionGeometry::samePoints(const RegionGeometry& o) const {
    return px == o.px && pw == o.pw && p0 == o.p0 && q0 == o.q0 && sx == o.sx && sy == o.sy &&
           pointSize == o.pointSize && smooth == o.smooth && ordered == o.ordered && width == o.width &&
           height == o.height && pointOpacity == o.pointOpacity;
}

// ---------------------------------------------------------------- bins

void computeBinCoordinates(const Positions& normalized, int records, BinCoordinates& out, int threads) {
    out.resize(static_cast<std::size_t>(std::max(records, 0)));
    const int parts = recordParts(threads, records);
    runSplit(records, parts, [&](long long first, long long last, int) {
        double block[placementBlock];
        for (long long from = first; from < last; from += placementBlock) {
            const long long n = std::min<long long>(placementBlock, last - from);
            normalized.fill(from, n, block);
            std::uint16_t* o = out.data() + from;
            for (long long k = 0; k < n; ++k) {
                const double f = block[k] * 65536.0;
                // A value just outside [0, 1] (or not a number) joins the nearest end bin.
                o[k] = f >= 0.0 ? (f < 65535.0 ? static_cast<std::uint16_t>(f) : std::uint16_t(65535)) : std::uint16_t(0);
            }
        }
    });
}

void RegionBins::place(const BinCoordinates& u, const BinCoordinates& w, int records) {
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    places_.assign(bins, Place{0, 0.0f, 0.0f});
    for (int r = 0; r < records; ++r) {
        Place& p = places_[binOf(u[static_cast<std::size_t>(r)], w[static_cast<std::size_t>(r)])];
        ++p.records;
        p.sumU += offsetOf(u[static_cast<std::size_t>(r)]);
        p.sumW += offsetOf(w[static_cast<std::size_t>(r)]);
    }
    stackPlaces();
    countedFor_ = 0;
    linesValid_ = pointsValid_ = false;
}

void RegionBins::count(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors,
                       int skip) {
    const std::size_t n = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    counts_.assign(static_cast<std::size_t>(colors.groupCount) * n, 0);
    colorSums_.assign(static_cast<std::size_t>(colors.colorChannels) * kStackCellCount, 0.0f);
    std::uint32_t* counts = counts_.data();
    float* sums = colorSums_.data();
    if (colors.colorChannels == 0)
        countRecords<false>(counts, sums, n, u.data(), w.data(), records, colors, skip);
    else
        countRecords<true>(counts, sums, n, u.data(), w.data(), records, colors, skip);
    poolCounts(colors);
}

void RegionBins::countSide(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors,
                           Side& out, bool all, int part, int parts) {
    out.records.assign(static_cast<std::size_t>(binsPerAxis) * binsPerAxis, 0);
    out.colors.assign(3 * kStackCellCount, 0);
    const std::uint32_t* packed = colors.packed.data();
    const std::uint16_t* uu = u.data();
    const std::uint16_t* ww = w.data();
    std::uint32_t* counts = out.records.data();
    std::uint32_t* sums = out.colors.data();
    auto add = [&](std::size_t r) {
        const std::size_t bin = binOf(uu[r], ww[r]);
        ++counts[bin];
        std::uint32_t* sum = sums + 3 * stackCellOf(bin);
        const std::uint32_t p = packed[r];
        sum[0] += p & 0xFF;
        sum[1] += (p >> 8) & 0xFF;
        sum[2] += (p >> 16) & 0xFF;
    };
    // Parts split the records at whole words of the selection's bits.
    const std::size_t words = (static_cast<std::size_t>(records) + 63) / 64;
    const std::size_t first = words * static_cast<std::size_t>(part) / static_cast<std::size_t>(parts);
    const std::size_t last = words * static_cast<std::size_t>(part + 1) / static_cast<std::size_t>(parts);
    if (all) {
        const std::size_t end = std::min(64 * last, static_cast<std::size_t>(records));
        for (std::size_t r = 64 * first; r < end; ++r) add(r);
        return;
    }
    // Set bits are the side counted: the selected records, or the others.
    const bool selected = colors.countSelected();
    for (std::size_t k = first; k < last; ++k) {
        std::uint64_t bits = selected ? colors.selected[k] : ~colors.selected[k];
        if (k + 1 == words && records % 64 != 0) bits &= (std::uint64_t(1) << (records % 64)) - 1;
        while (bits != 0) {
            add(k * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
            bits &= bits - 1;
        }
    }
}

void RegionBins::countPart(const BinCoordinates& u, const BinCoordinates& w, int records, const BinColors& colors,
                           std::uint64_t baseFor, int part) {
    if (baseFor_ != baseFor) countSide(u, w, records, colors, baseParts_[part], true, part, kCountParts);
    countSide(u, w, records, colors, sideParts_[part], false, part, kCountParts);
}

namespace {

void mergeInto(std::vector<std::uint32_t>& into, const std::vector<std::uint32_t>& from) {
    for (std::size_t k = 0; k < into.size(); ++k) into[k] += from[k];
}

}  // namespace

void RegionBins::finishBySelection(const BinColors& colors, std::uint64_t baseFor) {
    if (baseFor_ != baseFor) {
        std::swap(base_, baseParts_[0]);
        for (int p = 1; p < kCountParts; ++p) {
            mergeInto(base_.records, baseParts_[p].records);
            mergeInto(base_.colors, baseParts_[p].colors);
        }
        baseFor_ = baseFor;
    }
    Side& side = sideParts_[0];
    for (int p = 1; p < kCountParts; ++p) {
        mergeInto(side.records, sideParts_[p].records);
        mergeInto(side.colors, sideParts_[p].colors);
    }

    // The selected records' counts and sums, directly or as the rest of the
    // totals; the others take the one grey of their class.
    const std::size_t n = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    counts_.assign(static_cast<std::size_t>(colors.groupCount) * n, 0);
    colorSums_.assign(static_cast<std::size_t>(colors.colorChannels) * kStackCellCount, 0.0f);
    const bool counted = colors.countSelected();
    auto pick = [counted](std::uint32_t all, std::uint32_t part) { return counted ? part : all - part; };
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t all = base_.records[k];
        const std::uint32_t picked = pick(all, side.records[k]);
        if (colors.selectedGroup >= 0) counts_[static_cast<std::size_t>(colors.selectedGroup) * n + k] = picked;
        if (colors.deselectedGroup >= 0) counts_[static_cast<std::size_t>(colors.deselectedGroup) * n + k] = all - picked;
    }
    const std::size_t sums = static_cast<std::size_t>(colors.colorChannels);
    if (sums > 0)
        for (std::size_t cell = 0; cell < kStackCellCount; ++cell)
            for (std::size_t c = 0; c < 3; ++c)
                colorSums_[sums * cell + c] =
                    static_cast<float>(pick(base_.colors[3 * cell + c], side.colors[3 * cell + c])) / 255.0f;
    poolCounts(colors);
}

std::size_t RegionBins::heldBin(std::size_t bin) const {
    const BinOrientation& o = orientation_;
    std::size_t j = bin >> 9;
    std::size_t k = bin & (binsPerAxis - 1);
    if (o.flipLeft) j = binsPerAxis - 1 - j;
    if (o.flipRight) k = binsPerAxis - 1 - k;
    return o.transposed ? (k << 9) | j : (j << 9) | k;
}

void RegionBins::meanOf(std::size_t bin, double& u, double& w) const {
    const std::size_t held = heldBin(bin);
    const Place& p = places_[held];
    const double n = p.records > 0 ? p.records : 1.0;
    u = (static_cast<double>(held >> 9) + p.sumU / n) / binsPerAxis;
    w = (static_cast<double>(held & (binsPerAxis - 1)) + p.sumW / n) / binsPerAxis;
    const BinOrientation& o = orientation_;
    if (o.transposed) std::swap(u, w);
    if (o.flipLeft) u = 1.0 - u;
    if (o.flipRight) w = 1.0 - w;
}

bool RegionBins::orient(const BinOrientation& o, const BinColors* counted) {
    if (o == orientation_) return false;
    orientation_ = o;
    linesValid_ = pointsValid_ = false;
    if (!placed()) return false;
    stackPlaces();
    if (counted != nullptr && countedFor_ != 0) {
        poolCounts(*counted);
        stackCounts(0);
        stackCounts(1);
    } else {
        countedFor_ = 0;
    }
    return true;
}

namespace {

// Pools kPool x kPool bins into each stack cell, channel by channel from
// `cell`, into the grids both slant stacks sum. Summed along the right value,
// x runs over it and y over the left value from the top, so every line
// rises; along the left value, x runs over the left value from the top and y
// over the right value.
template <class Cell>
void poolBoth(int channels, Cell cell, std::vector<float>& right, std::vector<float>& left) {
    const int n = stackCells;
    const std::size_t cellFloats = static_cast<std::size_t>(channels);
    // Per group a count, per class its moments, the colour sums.
    double pooled[maxBinGroups + MomentCount * maxBinClasses + 3 * maxBinClasses];
    right.assign(static_cast<std::size_t>(n) * n * cellFloats, 0.0f);
    left.assign(right.size(), 0.0f);
    for (int jc = 0; jc < n; ++jc) {
        for (int kc = 0; kc < n; ++kc) {
            std::fill(pooled, pooled + cellFloats, 0.0);
            for (int dj = 0; dj < kPool; ++dj)
                for (int dk = 0; dk < kPool; ++dk)
                    cell(static_cast<std::size_t>(jc * kPool + dj) * binsPerAxis + static_cast<std::size_t>(kc * kPool + dk),
                         pooled);
            const int flipped = n - 1 - jc;
            float* a = right.data() + (static_cast<std::size_t>(kc) * n + flipped) * cellFloats;
            float* b = left.data() + (static_cast<std::size_t>(flipped) * n + kc) * cellFloats;
            for (std::size_t q = 0; q < cellFloats; ++q) a[q] = b[q] = static_cast<float>(pooled[q]);
        }
    }
}

}  // namespace

void RegionBins::stackPlaces() {
    // Records, then the moments of their normalised values (a bin's records
    // taken at their mean).
    std::vector<float> right;
    std::vector<float> left;
    poolBoth(1 + MomentCount,
             [this](std::size_t bin, double* out) {
                 const double n = places_[heldBin(bin)].records;
                 if (n <= 0.0) return;
                 double u = 0.0;
                 double w = 0.0;
                 meanOf(bin, u, w);
                 out[0] += n;
                 out[1 + SumU] += n * u;
                 out[1 + SumW] += n * w;
                 out[1 + SumUU] += n * u * u;
                 out[1 + SumWW] += n * w * w;
                 out[1 + SumUW] += n * u * w;
             },
             right, left);
    placesAlongRight_.compute(right.data(), stackCells, 1 + MomentCount);
    placesAlongLeft_.compute(left.data(), stackCells, 1 + MomentCount);
}

void RegionBins::poolCounts(const BinColors& colors) {
    const std::size_t n = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    groups_ = colors.groupCount;
    classes_ = std::clamp(colors.classCount, 0, maxBinClasses);
    sumChannels_ = colors.colorChannels;
    const int groups = groups_;
    const std::size_t sums = static_cast<std::size_t>(sumChannels_);
    int classOf[maxBinGroups];
    for (int q = 0; q < groups; ++q) classOf[q] = colors.groupClass[static_cast<std::size_t>(q)];
    // The largest class takes what the others leave of all records'
    // moments, where every record placed is counted.
    long long inClass[maxBinClasses] = {};
    long long counted = 0, placed = 0;
    for (std::size_t bin = 0; bin < n; ++bin) placed += places_[bin].records;
    for (int q = 0; q < groups; ++q) {
        long long k = 0;
        for (std::size_t bin = 0; bin < n; ++bin) k += counts_[static_cast<std::size_t>(q) * n + bin];
        inClass[classOf[q]] += k;
        counted += k;
    }
    restClass_ = -1;
    if (counted == placed && classes_ > 0)
        restClass_ = static_cast<int>(std::max_element(inClass, inClass + classes_) - inClass);
    int slots = 0;
    for (int c = 0; c < classes_; ++c) momentSlot_[c] = c == restClass_ ? -1 : slots++;
    const int moments = slots * MomentCount;
    stackChannels_ = groups + moments + sumChannels_;
    countsAlongRight_.release();
    countsAlongLeft_.release();
    cellWeights_.clear();
    if (stackChannels_ > 0)
        poolBoth(stackChannels_,
                 [&](std::size_t bin, double* out) {
                     // Each class's records in the bin, taken at the mean of all of them.
                     double records[maxBinClasses] = {};
                     bool any = false;
                     const std::size_t held = heldBin(bin);
                     for (int q = 0; q < groups; ++q) {
                         const double k = counts_[static_cast<std::size_t>(q) * n + held];
                         out[q] += k;
                         records[classOf[q]] += k;
                         any = any || k > 0.0;
                     }
                     if (any && moments > 0) {
                         double u = 0.0;
                         double w = 0.0;
                         meanOf(bin, u, w);
                         const double moment[MomentCount] = {u, w, u * u, w * w, u * w};
                         for (int c = 0; c < classes_; ++c)
                             if (momentSlot_[c] >= 0 && records[c] > 0.0)
                                 for (int m = 0; m < MomentCount; ++m)
                                     out[groups + MomentCount * momentSlot_[c] + m] += records[c] * moment[m];
                     }
                     // What is kept per stack cell is taken at its first bin.
                     if ((bin & ((std::size_t(1) << 9) | 1)) == 0)
                         for (std::size_t c = 0; c < sums; ++c)
                             out[static_cast<std::size_t>(groups + moments) + c] += colorSums_[sums * stackCellOf(held) + c];
                 },
                 pooled_[0], pooled_[1]);
    linesValid_ = pointsValid_ = false;
}

void RegionBins::stackCounts(int which) {
    std::vector<float>& pooled = pooled_[which];
    if (stackChannels_ > 0 && !pooled.empty())
        (which == 0 ? countsAlongRight_ : countsAlongLeft_).compute(pooled.data(), stackCells, stackChannels_);
    std::vector<float>().swap(pooled);
}

const Accumulation& RegionBins::drawLines(const BinColors& colors, const RegionGeometry& g) {
    const ColumnRange columns = beginLines(colors, g);
    drawLines(colors, columns.first, columns.last);
    return lines_;
}

ColumnRange RegionBins::beginLines(const BinColors& colors, const RegionGeometry& g) {
    if (linesValid_ && g.sameLines(linesDrawn_)) return {};
    linesValid_ = true;
    linesDrawn_ = g;
    const double dx = g.x1 - g.x0;
    // A narrow region's lines reach their width beyond it on either side.
    const double reach = std::fabs(dx) >= 0.5 ? 2.0 : std::max(2.0, g.lineWidth * 0.5 + 1.5);
    const int xa = std::max(0, static_cast<int>(std::floor(std::min(g.x0, g.x1) - reach)));
    const int xb = std::min(g.width, static_cast<int>(std::ceil(std::max(g.x0, g.x1) + reach)));
    const int layers = std::max(colors.classCount, 1);
    // Each range drawn clears its own columns.
    lines_.reshape(xa, 0, std::max(0, xb - xa), g.height, layers);
    if (stackChannels_ == 0 || places_.empty() || !std::isfinite(dx) || !(g.q0 > 0.0) || !(g.q1 > 0.0)) {
        lines_.clearColumns(xa, xb);
        return {};
    }
    // A narrow region reads each bin's colours, as points do.
    if (!(std::fabs(dx) >= 0.5)) weighCells(colors, layers);
    return {xa, std::max(xa, xb)};
}

void RegionBins::drawLines(const BinColors& colors, int columnBegin, int columnEnd) {
    const RegionGeometry& g = linesDrawn_;
    const double dx = g.x1 - g.x0;
    if (columnBegin >= columnEnd) return;
    lines_.clearColumns(columnBegin, columnEnd);
    if (!(std::fabs(dx) >= 0.5)) {
        drawNarrow(colors, columnBegin, columnEnd);
        return;
    }
    const int layers = std::max(colors.classCount, 1);
    const column_marks::GroupDepths depths(colors, g.smooth, g.lineOpacity, layers);
    const column_marks::LineStyle style(g.lineWidth, g.smooth, g.height);
    const int groups = groups_;
    const int classes = classes_;
    const int n = stackCells;
    const float cap = style.cap;
    const double inverseDx2 = 1.0 / (dx * dx);
    column_marks::Marks marks;
    // Each class's groups.
    int classGroups[maxBinClasses][maxBinGroups];
    int classGroupCount[maxBinClasses] = {};
    for (int k = 0; k < groups; ++k) {
        const int c = colors.groupClass[static_cast<std::size_t>(k)];
        classGroups[c][classGroupCount[c]++] = k;
    }

    for (int x = columnBegin; x < columnEnd; ++x) {
        const double xc = x + 0.5;
        const double s = std::clamp((xc - g.x0) / dx, 0.0, 1.0);
        // Distances beyond the two ends, in pixels along x.
        const double before = (xc - g.x0) * (dx > 0 ? 1.0 : -1.0);
        const double after = (g.x1 - xc) * (dx > 0 ? 1.0 : -1.0);
        const double a = (1.0 - s) * g.q0;  // pixels per unit of the left value
        const double b = s * g.q1;          // and of the right value
        const double base = (1.0 - s) * g.p0 + s * g.p1;
        const bool alongRight = a >= b;
        const SlantStack& placeStack = alongRight ? placesAlongRight_ : placesAlongLeft_;
        const SlantStack& stack = alongRight ? countsAlongRight_ : countsAlongLeft_;
        const double ratio = alongRight ? (a > 0.0 ? b / a : 0.0) : a / b;
        const int theta = std::clamp(static_cast<int>(std::lround(ratio * (n - 1))), 0, n - 1);
        AccumulatedPixel* column = lines_.column(x);

        const int slots = (stackChannels_ - groups - sumChannels_) / MomentCount;
        for (int h = -n; h < n; ++h) {
            const float* place = placeStack.at(theta, h);
            if (place[0] < 0.5f) continue;
            const float* cell = stack.at(theta, h);
            float inClass[maxBinClasses] = {};
            float total = 0.0f;
            for (int k = 0; k < groups; ++k) {
                inClass[colors.groupClass[static_cast<std::size_t>(k)]] += cell[k];
                total += cell[k];
            }
            if (total < 0.5f) continue;
            // Each class's records as a group of their own, placed and spread
            // by their own moments.
            struct Placed {
                float y, box, sigma, slope, ends;
            };
            Placed placed[maxBinClasses];
            bool drawn[maxBinClasses] = {};
            // The rest class's moments: all records' less the others'.
            float rest[MomentCount];
            if (restClass_ >= 0) {
                for (int k = 0; k < MomentCount; ++k) rest[k] = place[1 + k];
                for (int c = 0; c < classes; ++c)
                    if (momentSlot_[c] >= 0)
                        for (int k = 0; k < MomentCount; ++k) rest[k] -= cell[groups + MomentCount * momentSlot_[c] + k];
            }
            for (int c = 0; c < classes; ++c) {
                drawn[c] = true;
                if (inClass[c] < 0.5f) continue;
                const float* m = momentSlot_[c] >= 0 ? cell + groups + MomentCount * momentSlot_[c] : rest;
                const double inv = 1.0 / inClass[c];
                const double mu = m[SumU] * inv;
                const double mw = m[SumW] * inv;
                const double varU = std::max(0.0, m[SumUU] * inv - mu * mu);
                const double varW = std::max(0.0, m[SumWW] * inv - mw * mw);
                const double cov = m[SumUW] * inv - mu * mw;
                const double varY = std::max(0.0, a * a * varU + b * b * varW + 2.0 * a * b * cov);
                const double meanSlope = (g.p1 - g.p0 + g.q1 * mw - g.q0 * mu) / dx;
                const double slopeSpread = std::max(0.0, g.q1 * g.q1 * varW + g.q0 * g.q0 * varU - 2.0 * g.q0 * g.q1 * cov);
                const double slope2 = meanSlope * meanSlope + slopeSpread * inverseDx2;
                const float sigma = static_cast<float>(std::sqrt(1.0 + slope2));
                // The ends fade over half a pixel beyond each axis, as a line's do.
                const float ends = g.smooth ? column_marks::clamp01(static_cast<float>(std::min(before, after)) * sigma + cap)
                                            : (before >= 0.0 && after > 0.0 ? 1.0f : 0.0f);
                if (ends <= 0.0f) continue;
                // The group's records spread over a box of their standard deviation's width.
                placed[c] = {static_cast<float>(base + a * mu + b * mw), static_cast<float>(std::sqrt(12.0 * varY)), sigma,
                             static_cast<float>(meanSlope), ends};
                drawn[c] = false;
            }
            // Classes lying where an earlier one lies go down with it, each
            // into its own layer.
            for (int c = 0; c < classes; ++c) {
                if (drawn[c]) continue;
                const Placed& p = placed[c];
                marks.clear();
                for (int d = c; d < classes; ++d) {
                    const Placed& q = placed[d];
                    if (drawn[d] || std::fabs(q.y - p.y) > 0.125f || std::fabs(q.box - p.box) > 0.25f ||
                        std::fabs(q.sigma - p.sigma) > 0.02f * p.sigma)
                        continue;
                    drawn[d] = true;
                    marks.add(colors, d, classGroups[d], classGroupCount[d], cell, cell + groups + MomentCount * slots);
                }
                column_marks::drawGroup(column, depths, style, marks, p.y, p.box, p.sigma, p.slope, p.ends);
            }
        }
    }
}

const Accumulation& RegionBins::drawPoints(const BinColors& colors, const RegionGeometry& g) {
    const ColumnRange columns = beginPoints(colors, g);
    drawPoints(colors, columns.first, columns.last);
    return points_;
}

void RegionBins::drawNarrow(const BinColors& colors, int first, int last) {
    const RegionGeometry& g = linesDrawn_;
    const int classes = std::max(colors.classCount, 1);
    const int groups = colors.groupCount;
    const std::size_t sums = static_cast<std::size_t>(sumChannels_);
    const std::size_t channels = static_cast<std::size_t>(groups) + sums;
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    if (countedFor_ == 0 || counts_.size() < static_cast<std::size_t>(groups) * bins || g.height <= 0) return;
    // Each record's line runs up its column between its two heights: per
    // quarter row, the records whose lines cross it, as differences.
    constexpr int subRows = 4;
    const int rows = g.height * subRows;
    const double cap = g.smooth ? 0.5 : 0.0;
    std::vector<double> profile((static_cast<std::size_t>(rows) + 1) * channels, 0.0);
    float counts[maxBinGroups];
    float classWeight[maxBinClasses];
    for (std::size_t bin = 0; bin < bins; ++bin) {
        const std::size_t held = heldBin(bin);
        float total = 0.0f;
        std::fill(classWeight, classWeight + classes, 0.0f);
        for (int q = 0; q < groups; ++q) {
            counts[q] = static_cast<float>(counts_[static_cast<std::size_t>(q) * bins + held]);
            total += counts[q];
            classWeight[colors.groupClass[static_cast<std::size_t>(q)]] += counts[q] * colors.groupAlpha[static_cast<std::size_t>(q)];
        }
        if (total <= 0.0f) continue;
        double u = 0.0;
        double w = 0.0;
        meanOf(bin, u, w);
        const double ya = g.p0 + g.q0 * u;
        const double yb = g.p1 + g.q1 * w;
        int s0 = static_cast<int>(std::floor((std::min(ya, yb) - cap) * subRows + 0.5));
        int s1 = static_cast<int>(std::floor((std::max(ya, yb) + cap) * subRows + 0.5));
        if (s1 <= s0) s1 = s0 + 1;
        s0 = std::clamp(s0, 0, rows);
        s1 = std::clamp(s1, 0, rows);
        if (s1 == s0) continue;
        double* start = profile.data() + static_cast<std::size_t>(s0) * channels;
        double* stop = profile.data() + static_cast<std::size_t>(s1) * channels;
        for (int q = 0; q < groups; ++q) {
            start[q] += counts[q];
            stop[q] -= counts[q];
        }
        const std::size_t cell = stackCellOf(held);
        for (int c = 0; c < classes && sums > 0; ++c) {
            const int channel = colors.colorChannel[static_cast<std::size_t>(c)];
            if (channel < 0) continue;
            const float cellWeight = cellWeights_[cell * static_cast<std::size_t>(classes) + static_cast<std::size_t>(c)];
            const float share = cellWeight > 0.0f ? classWeight[c] / cellWeight : 0.0f;
            for (std::size_t k = 0; k < 3; ++k) {
                const double sum = colorSums_[sums * cell + static_cast<std::size_t>(channel) + k] * share;
                start[static_cast<std::size_t>(groups + channel) + k] += sum;
                stop[static_cast<std::size_t>(groups + channel) + k] -= sum;
            }
        }
    }
    // Each row's records (a quarter for each quarter row crossed) across the
    // columns the lines' width covers about the region.
    const column_marks::GroupDepths depths(colors, g.smooth, g.lineOpacity, lines_.layers());
    const column_marks::LineStyle style(g.lineWidth, g.smooth, g.height);
    const double middle = 0.5 * (g.x0 + g.x1);
    column_marks::Marks marks;
    double running[maxBinGroups + 3 * maxBinClasses] = {};
    float row[maxBinGroups + 3 * maxBinClasses];
    const double* p = profile.data();
    for (int y = 0; y < g.height; ++y) {
        double sum[maxBinGroups + 3 * maxBinClasses] = {};
        for (int s = 0; s < subRows; ++s, p += channels)
            for (std::size_t c = 0; c < channels; ++c) {
                running[c] += p[c];
                sum[c] += running[c];
            }
        float total = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) row[c] = static_cast<float>(sum[c] / subRows);
        for (int q = 0; q < groups; ++q) total += row[q];
        if (!(total > 1e-3f)) continue;
        marks.set(colors, row, row + groups);
        for (int x = first; x < last; ++x) {
            const float d = static_cast<float>(std::fabs(x + 0.5 - middle));
            const float c = style.smooth ? column_marks::clamp01(style.half - d) : (d < style.half ? 1.0f : 0.0f);
            if (c > 0.0f)
                column_marks::addMarks(lines_.column(x) + static_cast<std::size_t>(y) * static_cast<std::size_t>(lines_.layers()),
                                       depths, marks, c);
        }
    }
}

ColumnRange RegionBins::beginPoints(const BinColors& colors, const RegionGeometry& g) {
    if (pointsValid_ && g.samePoints(pointsDrawn_)) return {};
    pointsValid_ = true;
    pointsDrawn_ = g;
    const double radius = g.pointSize * 0.5;
    const double reach = g.smooth ? radius + 0.5 : radius;
    const double margin = reach + 1.0 + std::max(std::fabs(g.sx), std::fabs(g.sy));
    const int xa = std::max(0, static_cast<int>(std::floor(std::min(g.px, g.px + g.pw) - margin)));
    const int xb = std::min(g.width, static_cast<int>(std::ceil(std::max(g.px, g.px + g.pw) + margin)));
    const int ya = std::max(0, static_cast<int>(std::floor(std::min(g.p0, g.p0 + g.q0) - margin)));
    const int yb = std::min(g.height, static_cast<int>(std::ceil(std::max(g.p0, g.p0 + g.q0) + margin)));
    const int classes = std::max(colors.classCount, 1);
    // Each range drawn clears its own columns.
    points_.reshape(xa, ya, std::max(0, xb - xa), std::max(0, yb - ya), classes);
    pointMarks_.clear();
    pointCentres_.clear();
    if (countedFor_ == 0 || points_.width() == 0 || points_.height() == 0) {
        points_.clearColumns(xa, xb);
        return {};
    }
    weighCells(colors, classes);
    gatherPointMarks(colors, g, classes);
    return {points_.x0(), points_.x0() + points_.width()};
}

void RegionBins::weighCells(const BinColors& colors, int classes) {
    // The colour sums are per stack cell: each class's weight there, to give
    // each bin its share of the cell's colours. They change with the counts,
    // not the geometry.
    if (sumChannels_ == 0 || !cellWeights_.empty()) return;
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    cellWeights_.assign(kStackCellCount * static_cast<std::size_t>(classes), 0.0f);
    for (std::size_t bin = 0; bin < bins; ++bin)
        for (int q = 0; q < colors.groupCount; ++q)
            cellWeights_[stackCellOf(bin) * static_cast<std::size_t>(classes) + colors.groupClass[static_cast<std::size_t>(q)]] +=
                counts_[static_cast<std::size_t>(q) * bins + bin] * colors.groupAlpha[static_cast<std::size_t>(q)];
}

void RegionBins::gatherPointMarks(const BinColors& colors, const RegionGeometry& g, int classes) {
    const int groups = colors.groupCount;
    const std::size_t sums = static_cast<std::size_t>(sumChannels_);
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    pointMarkStride_ = groups + static_cast<int>(sums);
    // Bins go down in blocks no wider or higher than a pixel, each block's
    // records as one mark at their mean: a point moves by less than a pixel,
    // and a dense scatterplot costs a fraction of its bins.
    const int blockU = pointBlock(g.q0);
    const int blockW = pointBlock(g.pw);
    float counts[maxBinGroups];
    float classWeight[maxBinClasses];
    float blockCounts[maxBinGroups];
    float blockSums[3 * maxBinClasses];
    for (int bj = 0; bj < binsPerAxis; bj += blockU) {
        for (int bk = 0; bk < binsPerAxis; bk += blockW) {
            std::fill(blockCounts, blockCounts + groups, 0.0f);
            std::fill(blockSums, blockSums + sums, 0.0f);
            double blockRecords = 0.0;
            double sumU = 0.0;
            double sumW = 0.0;
            for (int j = bj; j < bj + blockU; ++j) {
                for (int k = bk; k < bk + blockW; ++k) {
                    const std::size_t bin = static_cast<std::size_t>(j) * binsPerAxis + static_cast<std::size_t>(k);
                    const std::size_t held = heldBin(bin);
                    float total = 0.0f;
                    std::fill(classWeight, classWeight + classes, 0.0f);
                    for (int q = 0; q < groups; ++q) {
                        counts[q] = static_cast<float>(counts_[static_cast<std::size_t>(q) * bins + held]);
                        total += counts[q];
                        classWeight[colors.groupClass[static_cast<std::size_t>(q)]] +=
                            counts[q] * colors.groupAlpha[static_cast<std::size_t>(q)];
                    }
                    if (total <= 0.0f) continue;
                    double u = 0.0;
                    double w = 0.0;
                    meanOf(bin, u, w);
                    const std::size_t cell = stackCellOf(held);
                    for (int c = 0; c < classes; ++c) {
                        const int channel = colors.colorChannel[static_cast<std::size_t>(c)];
                        if (channel < 0) continue;
                        const float cellWeight = cellWeights_[cell * static_cast<std::size_t>(classes) + static_cast<std::size_t>(c)];
                        const float share = cellWeight > 0.0f ? classWeight[c] / cellWeight : 0.0f;
                        for (int q = 0; q < 3; ++q)
                            blockSums[channel + q] += colorSums_[sums * cell + static_cast<std::size_t>(channel + q)] * share;
                    }
                    for (int q = 0; q < groups; ++q) blockCounts[q] += counts[q];
                    blockRecords += total;
                    sumU += total * u;
                    sumW += total * w;
                }
            }
            if (!(blockRecords > 0.0)) continue;
            pointMarks_.insert(pointMarks_.end(), blockCounts, blockCounts + groups);
            pointMarks_.insert(pointMarks_.end(), blockSums, blockSums + sums);
            pointCentres_.push_back(g.px + g.pw * sumW / blockRecords);
            pointCentres_.push_back(g.p0 + g.q0 * sumU / blockRecords);
        }
    }
}

void RegionBins::drawPoints(const BinColors& colors, int columnBegin, int columnEnd) {
    const RegionGeometry& g = pointsDrawn_;
    points_.clearColumns(columnBegin, columnEnd);
    if (columnBegin >= columnEnd || pointCentres_.empty()) return;
    const double radius = g.pointSize * 0.5;
    const double reach = g.smooth ? radius + 0.5 : radius;
    const int classes = std::max(colors.classCount, 1);
    const column_marks::GroupDepths depths(colors, g.smooth, g.pointOpacity, classes);
    // Shadows are black at half the region's point opacity, whatever the record's alpha.
    const double shadowOpacity = g.smooth ? std::min(1.0, 0.5 * std::max(g.pointOpacity, 0.0)) : 1.0;
    const DepthTable shadowDepth(shadowOpacity);
    const float shadowAlpha = static_cast<float>(shadowOpacity);
    const int groups = colors.groupCount;

    // The share of pixel (x, y) a disc of the point size at (cx, cy) covers:
    // its edge fades over a pixel (or the square of pixel centres it covers,
    // aliased).
    auto coverage = [&](int x, int y, double cx, double cy) {
        const double ox = x + 0.5 - cx;
        const double oy = y + 0.5 - cy;
        if (g.smooth) return static_cast<float>(std::clamp(reach - std::sqrt(ox * ox + oy * oy), 0.0, 1.0));
        return (ox >= -radius && ox < radius && oy >= -radius && oy < radius) ? 1.0f : 0.0f;
    };
    const int columnFirst = std::max(points_.x0(), columnBegin);
    const int columnLast = std::min(points_.x0() + points_.width(), columnEnd) - 1;
    // The disc at (cx, cy), added by `add` to the pixels it covers in the columns drawn.
    auto disc = [&](double cx, double cy, auto&& add) {
        const int x0 = std::max(columnFirst, static_cast<int>(std::floor(cx - reach)));
        const int x1 = std::min(columnLast, static_cast<int>(std::ceil(cx + reach)));
        const int y0 = std::max(points_.y0(), static_cast<int>(std::floor(cy - reach)));
        const int y1 = std::min(points_.y0() + points_.height() - 1, static_cast<int>(std::ceil(cy + reach)));
        for (int x = x0; x <= x1; ++x)
            for (int y = y0; y <= y1; ++y) {
                const float c = coverage(x, y, cx, cy);
                if (c > 0.0f) add(&points_.at(x, y), c, x, y);
            }
    };
    column_marks::Marks marks;
    // One record's shadow goes down first, then its point: where its point
    // covers its shadow, the shadow shows only through the point. Taken
    // record by record as one mark, the two add up as the marks of one
    // colour do; only under density shading, where nothing is laid in
    // order, do they mix as they come.
    float pointAlpha[maxBinClasses];
    const std::size_t stride = static_cast<std::size_t>(pointMarkStride_);
    const double shadowReach = reach + 1.0 + std::max(std::fabs(g.sx), std::fabs(g.sy));
    for (std::size_t mark = 0; 2 * mark + 1 < pointCentres_.size(); ++mark) {
        const float* m = pointMarks_.data() + mark * stride;
        const double cx = pointCentres_[2 * mark];
        const double cy = pointCentres_[2 * mark + 1];
        if (cx + shadowReach < columnFirst || cx - shadowReach > columnLast + 1) continue;
        marks.set(colors, m, m + groups);
        for (int k = 0; k < marks.active; ++k) {
            const int cls = marks.classes[k];
            pointAlpha[cls] = g.ordered ? std::min(1.0f, marks.weight[cls] / marks.total[cls] * depths.opacity) : 0.0f;
            if (!g.smooth) pointAlpha[cls] = g.ordered ? 1.0f : 0.0f;
        }
        disc(cx + g.sx, cy + g.sy, [&](AccumulatedPixel* px, float c, int x, int y) {
            const float under = coverage(x, y, cx, cy);
            for (int k = 0; k < marks.active; ++k) {
                const int cls = marks.classes[k];
                AccumulatedPixel& shadow = px[cls];
                const float n = marks.total[cls];
                shadow.depth += n * shadowDepth(c);
                // Black: no colour to add.
                shadow.weight += n * shadowAlpha * c * (1.0f - pointAlpha[cls] * under);
            }
        });
        disc(cx, cy, [&](AccumulatedPixel* px, float c, int, int) { column_marks::addMarks(px, depths, marks, c); });
    }
}

std::size_t RegionBins::bytes() const {
    return places_.capacity() * sizeof(Place) + counts_.capacity() * sizeof(std::uint32_t) +
           (colorSums_.capacity() + cellWeights_.capacity() + pointMarks_.capacity()) * sizeof(float) + pointCentres_.capacity() * sizeof(double) + sideBytes() +
           placesAlongRight_.bytes() + placesAlongLeft_.bytes() + countsAlongRight_.bytes() + countsAlongLeft_.bytes() +
           lines_.bytes() + points_.bytes();
}

std::size_t RegionBins::sideBytes() const {
    std::size_t words = base_.records.capacity() + base_.colors.capacity();
    for (const Side* parts : {baseParts_, sideParts_})
        for (int p = 0; p < kCountParts; ++p) words += parts[p].records.capacity() + parts[p].colors.capacity();
    return words * sizeof(std::uint32_t);
}

std::size_t RegionBins::typicalBytes(int width, int height) {
    // Places, two groups of counts, colour sums and the two sides' sums per
    // bin; the line sums of the places, and of two groups' counts, one
    // class's moments and one class's colours, both ways; pictures of two
    // classes.
    const std::size_t bins = static_cast<std::size_t>(binsPerAxis) * binsPerAxis;
    const std::size_t sides = 1 + 2 * RegionBins::kCountParts;
    const std::size_t cells = bins * (sizeof(Place) + 2 * sizeof(std::uint32_t) + sides * sizeof(std::uint32_t)) +
                              kStackCellCount * 3 * (sizeof(float) + sides * sizeof(std::uint32_t));
    const std::size_t channels = 1 + MomentCount + 2 + MomentCount + 3;
    const std::size_t stacks = 2 * static_cast<std::size_t>(stackCells) * 2 * stackCells * channels * sizeof(float);
    const std::size_t pictures = 2 * static_cast<std::size_t>(std::max(width, 0) / 4 + 8) * std::max(height, 0) *
                                 sizeof(AccumulatedPixel);
    return cells + stacks + pictures;
}
