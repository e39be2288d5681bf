#include "listing/record_sort.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

#include "data/dimension.h"

namespace {

constexpr std::uint64_t last = ~std::uint64_t(0);
constexpr int digitBits = 11;
constexpr int digitCount = (64 + digitBits - 1) / digitBits;
constexpr std::size_t buckets = std::size_t(1) << digitBits;
// How many elements a pass handles between two looks at the stop flag.
constexpr std::size_t stopStep = std::size_t(1) << 18;
// Segments this short are sorted by comparison.
constexpr std::size_t shortSegment = 64;

// An unsigned key in the order of the doubles: negative ones reversed.
std::uint64_t orderedBits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t(1) << 63);
}

bool isAsciiUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

bool textBefore(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k) {
        unsigned char x = static_cast<unsigned char>(a[k]), y = static_cast<unsigned char>(b[k]);
        if (isAsciiUpper(x)) x = static_cast<unsigned char>(x + 32);
        if (isAsciiUpper(y)) y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// Stable LSD radix sort of keys with their indices, 11 bits a pass; passes
// in which every key has the same digit are skipped. Progress runs from
// `from` to `to`. False when told to stop.
bool radixSort(std::uint64_t* keys, std::uint32_t* index, std::size_t n, std::vector<std::uint64_t>& spareKeys,
               std::vector<std::uint32_t>& spareIndex, SortControl& control, double from, double to) {
    if (n < shortSegment) {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> pairs(n);
        for (std::size_t k = 0; k < n; ++k) pairs[k] = {keys[k], index[k]};
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t k = 0; k < n; ++k) {
            keys[k] = pairs[k].first;
            index[k] = pairs[k].second;
        }
        return true;
    }
    std::vector<std::size_t> counts(digitCount * buckets, 0);
    for (std::size_t k = 0; k < n; ++k)
        for (int d = 0; d < digitCount; ++d) ++counts[d * buckets + ((keys[k] >> (d * digitBits)) & (buckets - 1))];
    if (spareKeys.size() < n) spareKeys.resize(n);
    if (spareIndex.size() < n) spareIndex.resize(n);
    std::uint64_t* srcKeys = keys;
    std::uint32_t* srcIndex = index;
    std::uint64_t* dstKeys = spareKeys.data();
    std::uint32_t* dstIndex = spareIndex.data();
    for (int d = 0; d < digitCount; ++d) {
        std::size_t* count = counts.data() + d * buckets;
        if (std::count(count, count + buckets, n) == 1) continue;  // one digit for all
        std::size_t sum = 0;
        for (std::size_t b = 0; b < buckets; ++b) sum += std::exchange(count[b], sum);
        const int shift = d * digitBits;
        for (std::size_t first = 0; first < n; first += stopStep) {
            if (control.stop.load(std::memory_order_relaxed)) return false;
            const std::size_t end = std::min(n, first + stopStep);
            for (std::size_t k = first; k < end; ++k) {
                const std::size_t at = count[(srcKeys[k] >> shift) & (buckets - 1)]++;
                dstKeys[at] = srcKeys[k];
                dstIndex[at] = srcIndex[k];
            }
        }
        std::swap(srcKeys, dstKeys);
        std::swap(srcIndex, dstIndex);
        control.progress.store(from + (to - from) * (d + 1) / digitCount, std::memory_order_relaxed);
    }
    if (srcKeys != keys) {
        std::copy(srcKeys, srcKeys + n, keys);
        std::copy(srcIndex, srcIndex + n, index);
    }
    return true;
}

// Rank of a value's category text, or -1 for a value without one.
class RankLookup {
public:
    explicit RankLookup(const std::vector<std::pair<double, std::uint32_t>>& ranks) : ranks_(ranks) {
        // Category codes 0, 1, 2, ... are looked up by index.
        bool codes = !ranks.empty() && ranks.size() <= 65536;
        for (std::size_t k = 0; k < ranks.size() && codes; ++k) codes = ranks[k].first == static_cast<double>(k);
        if (codes)
            for (const auto& r : ranks) dense_.push_back(r.second);
    }
    long long operator()(double v) const {
        if (!dense_.empty() && v >= 0.0 && v < static_cast<double>(dense_.size()) && v == std::floor(v))
            return dense_[static_cast<std::size_t>(v)];
        const auto at = std::lower_bound(ranks_.begin(), ranks_.end(), v,
                                         [](const auto& entry, double x) { return entry.first < x; });
        return at != ranks_.end() && at->first == v ? static_cast<long long>(at->second) : -1;
    }

private:
    const std::vector<std::pair<double, std::uint32_t>>& ranks_;
    std::vector<std::uint32_t> dense_;
};

bool sortValues(const SortColumn& column, std::vector<std::uint32_t>& order, SortControl& control) {
    const std::size_t n = static_cast<std::size_t>(column.count);
    std::vector<std::uint64_t> keys(n);
    const RankLookup rank(column.ranks);
    const bool categories = !column.ranks.empty();
    for (std::size_t first = 0; first < n; first += stopStep) {
        if (control.stop.load(std::memory_order_relaxed)) return false;
        const std::size_t end = std::min(n, first + stopStep);
        for (std::size_t k = first; k < end; ++k) {
            const double v = column.values[k];
            std::uint64_t key = last;  // missing: last either way
            if (!std::isnan(v) && v != column.missing) {
                const long long r = categories ? rank(v) : -1;
                // Values without a text come after the texts, by value (to
                // within the last bit of their mantissa).
                key = r >= 0 ? static_cast<std::uint64_t>(r)
                             : categories ? (std::uint64_t(1) << 63) | (orderedBits(v) >> 1) : orderedBits(v);
                if (column.descending) key = last - 1 - key;
            }
            keys[k] = key;
        }
        control.progress.store(0.2 * static_cast<double>(end) / static_cast<double>(n), std::memory_order_relaxed);
    }
    std::vector<std::uint64_t> spareKeys;
    std::vector<std::uint32_t> spareIndex;
    return radixSort(keys.data(), order.data(), n, spareKeys, spareIndex, control, 0.2, 1.0);
}

// Eight bytes of a label from depth on, first byte highest; a label that
// ends fills with zeros, so it comes before every longer one.
std::uint64_t chunkOf(const std::string& label, std::size_t depth) {
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t at = depth + k;
        key = key << 8 | (at < label.size() ? static_cast<unsigned char>(label[at]) : 0u);
    }
    return key;
}

// Most significant digit first, eight bytes at a time: each run of labels
// alike so far is sorted again by its next eight bytes.
bool sortLabels(const SortColumn& column, std::vector<std::uint32_t>& order, SortControl& control) {
    const std::vector<std::string>& labels = *column.labels;
    const std::size_t n = static_cast<std::size_t>(column.count);
    const bool down = column.descending;
    std::vector<std::uint64_t> keys(n), spareKeys;
    std::vector<std::uint32_t> spareIndex;
    struct Segment {
        std::size_t first, end, depth;
    };
    std::vector<Segment> pending{{0, n, 0}};
    std::size_t settled = 0;
    while (!pending.empty()) {
        if (control.stop.load(std::memory_order_relaxed)) return false;
        const Segment s = pending.back();
        pending.pop_back();
        std::uint32_t* index = order.data() + s.first;
        const std::size_t length = s.end - s.first;
        if (length < shortSegment) {
            std::stable_sort(index, index + length, [&](std::uint32_t a, std::uint32_t b) {
                const std::string_view x = std::string_view(labels[a]).substr(std::min(s.depth, labels[a].size()));
                const std::string_view y = std::string_view(labels[b]).substr(std::min(s.depth, labels[b].size()));
                return down ? y < x : x < y;
            });
            settled += length;
            continue;
        }
        std::uint64_t* key = keys.data() + s.first;
        for (std::size_t k = 0; k < length; ++k) {
            key[k] = chunkOf(labels[index[k]], s.depth);
            if (down) key[k] = ~key[k];
        }
        if (!radixSort(key, index, length, spareKeys, spareIndex, control, 0.0, 0.0)) return false;
        for (std::size_t a = 0; a < length;) {
            std::size_t b = a + 1;
            while (b < length && key[b] == key[a]) ++b;
            // Alike in these eight bytes, and longer: the next eight decide.
            if (b - a > 1 && labels[index[a]].size() > s.depth + 8)
                pending.push_back({s.first + a, s.first + b, s.depth + 8});
            else
                settled += b - a;
            a = b;
        }
        control.progress.store(static_cast<double>(settled) / static_cast<double>(n), std::memory_order_relaxed);
    }
    return true;
}

}  // namespace

SortColumn sortColumnOf(const Dimension& dimension, int count, bool descending) {
    SortColumn column;
    column.count = count;
    column.values = dimension.values;
    column.missing = dimension.missingValue;
    column.descending = descending;
    const std::size_t labelled = std::min(static_cast<std::size_t>(std::max(dimension.labelCount, 0)),
                                          dimension.labels.size());
    std::vector<std::size_t> byText(labelled);
    std::iota(byText.begin(), byText.end(), std::size_t(0));
    std::stable_sort(byText.begin(), byText.end(), [&](std::size_t a, std::size_t b) {
        return textBefore(dimension.labels[a].text, dimension.labels[b].text);
    });
    std::vector<std::uint32_t> rankOf(labelled);
    for (std::size_t r = 0; r < byText.size(); ++r) rankOf[byText[r]] = static_cast<std::uint32_t>(r);
    // By value; of two entries for one value the first, as the cells show it.
    for (std::size_t k = 0; k < labelled; ++k)
        if (!std::isnan(dimension.labels[k].value)) column.ranks.emplace_back(dimension.labels[k].value, rankOf[k]);
    std::stable_sort(column.ranks.begin(), column.ranks.end(),
                     [&](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<double, std::uint32_t>> firsts;
    for (const auto& entry : column.ranks)
        if (firsts.empty() || firsts.back().first != entry.first) firsts.push_back(entry);
    column.ranks = std::move(firsts);
    return column;
}

bool sortRecords(const SortColumn& column, std::vector<std::uint32_t>& order, SortControl& control) {
    const std::size_t n = static_cast<std::size_t>(std::max(column.count, 0));
    order.resize(n);
    std::iota(order.begin(), order.end(), std::uint32_t(0));
    control.progress.store(0.0);
    const bool done = column.labels != nullptr ? sortLabels(column, order, control)
                      : column.values != nullptr ? sortValues(column, order, control)
                                                 : true;
    if (done) control.progress.store(1.0);
    return done;
}
