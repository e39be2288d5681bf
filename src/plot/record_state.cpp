#include "plot/record_state.h"

#include <algorithm>
#include <cmath>

#include "base/parallel.h"

// ---------------------------------------------------------------- colours

void RecordColors::reset(int capacity, std::size_t colorLimit) {
    limit_ = std::clamp<std::size_t>(colorLimit, 1, maxColors);
    index_.assign(static_cast<std::size_t>(std::max(capacity, 0)), 0);
    table_.assign(1, Rgba{0, 0, 0, 0});
    painted_.assign(1, 0);
    full_.clear();
}

void RecordColors::set(int i, const Rgba& color) { place(i, paintWith(color), color); }

void RecordColors::clear(int i) { index_[static_cast<std::size_t>(i)] = 0; }

void RecordColors::setRange(int first, int count, const Rgba* color) {
    const auto from = index_.begin() + first;
    if (color == nullptr) {
        std::fill(from, from + count, 0);
        return;
    }
    const std::uint16_t k = paintWith(*color);
    std::fill(from, from + count, full_.empty() ? k : 1);
    if (!full_.empty()) std::fill(full_.begin() + first, full_.begin() + first + count, *color);
}

void RecordColors::clearAll() {
    std::fill(index_.begin(), index_.end(), 0);
    table_.assign(1, Rgba{0, 0, 0, 0});
    painted_.assign(1, 0);
    full_.clear();
}

void RecordColors::setAll(const Rgba& color) {
    table_.assign({Rgba{0, 0, 0, 0}, color});
    painted_.assign({0, ++clock_});
    full_.clear();
    std::fill(index_.begin(), index_.end(), 1);
}

void RecordColors::repaint(const std::vector<Rgba>& oldestFirst) {
    if (!full_.empty()) return;
    // The table's entries by colour, so that each colour is found by a search.
    std::vector<std::size_t> byColor(table_.size() - 1);
    for (std::size_t k = 0; k < byColor.size(); ++k) byColor[k] = k + 1;
    std::sort(byColor.begin(), byColor.end(), [&](std::size_t a, std::size_t b) { return table_[a] < table_[b]; });
    for (const Rgba& color : oldestFirst) {
        const auto at = std::lower_bound(byColor.begin(), byColor.end(), color,
                                         [&](std::size_t k, const Rgba& c) { return table_[k] < c; });
        if (at != byColor.end() && table_[*at] == color) painted_[*at] = ++clock_;
    }
}

bool RecordColors::anyWith(int count) const {
    const auto end = index_.begin() + std::clamp<std::ptrdiff_t>(count, 0, static_cast<std::ptrdiff_t>(index_.size()));
    return std::any_of(index_.begin(), end, [](std::uint16_t k) { return k != 0; });
}

bool RecordColors::anyWithout(int count) const {
    if (count > size()) return true;
    const auto end = index_.begin() + std::max(count, 0);
    return std::any_of(index_.begin(), end, [](std::uint16_t k) { return k == 0; });
}

std::uint16_t RecordColors::indexOf(const Rgba& color) {
    if (!full_.empty()) return 1;
    if (last_ > 0 && last_ < table_.size() && table_[last_] == color) return last_;
    for (std::size_t k = 1; k < table_.size(); ++k)
        if (table_[k] == color) return last_ = static_cast<std::uint16_t>(k);
    if (table_.size() > limit_ && !compact()) {
        // Every colour an index can name is in use: keep each record's own.
        full_.resize(index_.size());
        for (std::size_t i = 0; i < index_.size(); ++i) {
            full_[i] = table_[index_[i]];
            index_[i] = index_[i] != 0;
        }
        table_.resize(1);
        painted_.resize(1);
        return 1;
    }
    table_.push_back(color);
    painted_.push_back(0);
    return last_ = static_cast<std::uint16_t>(table_.size() - 1);
}

std::uint16_t RecordColors::paintWith(const Rgba& color) {
    const std::uint16_t k = indexOf(color);
    if (full_.empty()) painted_[k] = ++clock_;
    return k;
}

bool RecordColors::compact() {
    std::vector<std::uint16_t> remap(table_.size(), 0);
    for (std::uint16_t k : index_) remap[k] = 1;
    remap[0] = 0;  // "none" stays "none"
    std::vector<Rgba> kept{table_[0]};
    std::vector<std::uint64_t> keptTimes{painted_[0]};
    for (std::size_t k = 1; k < table_.size(); ++k) {
        if (remap[k] == 0) continue;
        remap[k] = static_cast<std::uint16_t>(kept.size());
        kept.push_back(table_[k]);
        keptTimes.push_back(painted_[k]);
    }
    if (kept.size() == table_.size()) return false;
    for (std::uint16_t& k : index_) k = remap[k];
    table_ = std::move(kept);
    painted_ = std::move(keptTimes);
    last_ = 0;
    return true;
}

std::size_t RecordColors::bytes() const {
    return index_.capacity() * sizeof(std::uint16_t) + (table_.capacity() + full_.capacity()) * sizeof(Rgba) +
           painted_.capacity() * sizeof(std::uint64_t);
}

// ---------------------------------------------------------------- selection

void RecordSelection::reset(int capacity) {
    codes_.assign(static_cast<std::size_t>(std::max(capacity, 0)), 0);
    levels_.assign(1, 1.0);
    settle();
}

void RecordSelection::settle() {
    const auto at = std::upper_bound(levels_.begin(), levels_.end(), fullySelected);
    firstSelected_ = static_cast<int>(at - levels_.begin());
}

unsigned char RecordSelection::codeOf(double degree) {
    if (std::isnan(degree)) degree = 0.0;
    if (last_ < levels_.size() && levels_[last_] == degree) return last_;
    auto at = std::lower_bound(levels_.begin(), levels_.end(), degree);
    if (at != levels_.end() && *at == degree) return last_ = static_cast<unsigned char>(at - levels_.begin());
    if (levels_.size() == maxLevels) {
        // Drop the degrees no record holds any more.
        std::vector<unsigned char> remap(levels_.size(), 0);
        for (unsigned char c : codes_) remap[c] = 1;
        std::vector<double> kept;
        for (std::size_t k = 0; k < levels_.size(); ++k) {
            if (remap[k] == 0) continue;
            remap[k] = static_cast<unsigned char>(kept.size());
            kept.push_back(levels_[k]);
        }
        for (unsigned char& c : codes_) c = remap[c];
        levels_ = std::move(kept);
        at = std::lower_bound(levels_.begin(), levels_.end(), degree);
        if (levels_.size() == maxLevels) {
            if (at == levels_.end() || (at != levels_.begin() && degree - *(at - 1) < *at - degree)) --at;
            settle();
            return static_cast<unsigned char>(at - levels_.begin());
        }
    }
    const auto code = static_cast<unsigned char>(at - levels_.begin());
    levels_.insert(at, degree);
    // The codes of the larger degrees move up one.
    for (unsigned char& c : codes_) c = static_cast<unsigned char>(c + (c >= code));
    settle();
    return last_ = code;
}

void RecordSelection::set(int i, double degree) { codes_[static_cast<std::size_t>(i)] = codeOf(degree); }

void RecordSelection::setRange(int first, int count, double degree) {
    const auto from = codes_.begin() + first;
    std::fill(from, from + count, codeOf(degree));
}

void RecordSelection::fill(double degree) {
    levels_.assign(1, std::isnan(degree) ? 0.0 : degree);
    std::fill(codes_.begin(), codes_.end(), 0);
    settle();
}

template <class Fold>
void RecordSelection::fold(int count, const Membership& m, Fold pick) {
    codeOf(m.outsideValue);
    // Adding the second degree may move the first one's code.
    const unsigned char inside = codeOf(m.insideValue);
    const unsigned char outside = codeOf(m.outsideValue);
    unsigned char* codes = codes_.data();
    const unsigned char* passed = m.passed;
    count = std::clamp(count, 0, size());
    runRanges(count, threadsFor(0, 2), [=](long long first, long long last) {
        // Copies of everything read: a byte store could alias a captured
        // reference and keep the loop from running on vector registers.
        unsigned char* __restrict out = codes;
        const unsigned char* __restrict in = passed;
        const unsigned char yes = inside, no = outside;
        for (long long i = first; i < last; ++i) out[i] = pick(out[i], in[i] ? yes : no);
    });
}

void RecordSelection::intersect(int count, const Membership& m) {
    fold(count, m, [](unsigned char a, unsigned char b) { return std::min(a, b); });
}

void RecordSelection::unite(int count, const Membership& m) {
    fold(count, m, [](unsigned char a, unsigned char b) { return std::max(a, b); });
}
