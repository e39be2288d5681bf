#include "brush/outline.h"

#include <algorithm>

namespace {

constexpr double outlineReach = OutlineBands::reach;

}  // namespace

OutlineBands::OutlineBands(const std::vector<Point>& polygon, int bandCount) {
    const int n = static_cast<int>(polygon.size());
    double low = 0.0, high = 0.0;
    quick_ = n > 0;
    for (int k = 0; k < n; ++k) {
        const Point q = polygon[k];
        low = k == 0 ? q.y : std::min(low, q.y);
        high = k == 0 ? q.y : std::max(high, q.y);
        if (!(std::fabs(q.x) <= outlineReach && std::fabs(q.y) <= outlineReach)) quick_ = false;
    }
    bottom_ = low;
    const double span = high - low;
    if (n > 0 && bandCount > 1 && span > 0.0 && std::isfinite(span)) {
        bands_ = bandCount;
        scale_ = bands_ / span;
    }
    // bandOf is monotonic in y, so an edge spanning [y0, y1] covers every
    // band a point with y0 <= y <= y1 falls into.
    start_.assign(static_cast<std::size_t>(bands_) + 1, 0);
    std::vector<int> fill;
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < n; ++k) {
            const Point a = polygon[k];
            const Point b = polygon[k + 1 == n ? 0 : k + 1];
            const Edge e{a, b, std::min(a.x, b.x), std::max(a.x, b.x), std::min(a.y, b.y),
                         std::max(a.y, b.y)};
            if (pass == 0) all_.push_back(e);
            const int first = bandOf(e.minY);
            const int last = bandOf(e.maxY);
            for (int band = first; band <= last; ++band) {
                if (pass == 0)
                    ++start_[static_cast<std::size_t>(band) + 1];
                else
                    edges_[static_cast<std::size_t>(fill[band]++)] = e;
            }
        }
        if (pass == 0) {
            for (int band = 0; band < bands_; ++band) start_[band + 1] += start_[band];
            edges_.resize(static_cast<std::size_t>(start_[bands_]));
            fill.assign(start_.begin(), start_.end() - 1);
        }
    }
}

bool OutlineBands::inside(Point p) const {
    const int band = bandOf(p.y);
    const int first = start_[band], last = start_[band + 1];
    // The ray ends at x = 2: the shortcuts hold only for points and edges
    // clearly left of that end. An edge clearly left of, above or below the
    // point counts 0; one clearly right of it that spans its height strictly
    // counts 1. The sums run without branches; any other edge sends the
    // point through the full test.
    if (quick_ && 2.0 - p.x > clearMargin) {
        int count = 0;
        bool unsure = false;
        for (int j = first; j < last; ++j) {
            const Edge& e = edges_[j];
            const bool zero = (p.x - e.maxX > clearMargin) | (p.y - e.maxY > clearMargin) |
                              (e.minY - p.y > clearMargin);
            const bool one = (e.minX - p.x > clearMargin) & (e.minY < p.y) & (p.y < e.maxY) &
                             (2.0 - e.maxX > clearMargin);
            count += one;
            unsure |= !(zero | one);
        }
        if (!unsure) return (count & 1) != 0;
    }
    int count = 0;
    for (int j = first; j < last; ++j) {
        const int c = edgeCrossing(p, edges_[j].a, edges_[j].b);
        if (c < 0) return true;
        count += c;
    }
    return (count & 1) != 0;
}

OutlineGrid::OutlineGrid(const std::vector<Point>& polygon, int cells) : bands_(polygon, static_cast<int>(polygon.size())) {
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
    for (std::size_t k = 0; k < polygon.size(); ++k) {
        const Point q = polygon[k];
        minX = k == 0 ? q.x : std::min(minX, q.x);
        maxX = k == 0 ? q.x : std::max(maxX, q.x);
        minY = k == 0 ? q.y : std::min(minY, q.y);
        maxY = k == 0 ? q.y : std::max(maxY, q.y);
    }
    if (!polygon.empty()) {
        box_[0] = minX;
        box_[1] = maxX;
        box_[2] = minY;
        box_[3] = maxY;
    }
    const double width = maxX - minX, height = maxY - minY;
    if (!bands_.marginsHold() || cells < 2 || !(width > 0.0) || !(height > 0.0)) {
        cells_.assign(1, unsettled);
        cells_.push_back(outsideCell);
        return;
    }
    size_ = cells;
    left_ = minX;
    bottom_ = minY;
    scaleX_ = size_ / width;
    scaleY_ = size_ / height;
    // One more cell after the grid stands for "outside the box".
    cells_.assign(static_cast<std::size_t>(size_) * size_ + 1, unsettled);
    cells_.back() = outsideCell;

    // A cell holds every point whose computed index falls on it: its bounds
    // are widened by far more than the rounding of that index.
    const double m = OutlineBands::clearMargin;
    const double padX = width / size_ * 1e-6 + 1e-12, padY = height / size_ * 1e-6 + 1e-12;
    // An edge clearly left of a cell counts 0 for its points. One clearly
    // right of it counts 1 exactly for points with minY <= y < maxY (the
    // crossing test's box check and its lower-end rule are exact
    // comparisons), so its count flips only at its end heights: a cell is
    // settled when every flip inside it is undone at the same height.
    //
    // Within a row, sorted by their right ends, the edges clearly left of a
    // cell are a prefix that grows with the column; the cell is settled when
    // the rest lie clearly right of it and their flips pair up, which depends
    // on the prefix alone. So each row settles its cells with one verdict per
    // prefix length instead of one look at every edge per cell.
    std::vector<const OutlineBands::Edge*> near;
    std::vector<double> restMinX;          // least left end of near[k..]
    std::vector<signed char> verdict;      // per prefix length: -1 unknown, 0 unsettled, 1 outside, 2 inside
    std::vector<double> flips;
    const auto byRightEnd = [](const OutlineBands::Edge* a, const OutlineBands::Edge* b) { return a->maxX < b->maxX; };
    for (int row = 0; row < size_; ++row) {
        const double y0 = bottom_ + row / scaleY_ - padY, y1 = bottom_ + (row + 1) / scaleY_ + padY;
        near.clear();
        for (const OutlineBands::Edge& e : bands_.edges()) {
            if (y0 - e.maxY > m || e.minY - y1 > m) continue;  // never counts in this row
            near.push_back(&e);
        }
        std::sort(near.begin(), near.end(), byRightEnd);
        const std::size_t k = near.size();
        restMinX.assign(k + 1, 2.0 * outlineReach + 1.0);
        for (std::size_t j = k; j-- > 0;) restMinX[j] = std::min(restMinX[j + 1], near[j]->minX);
        // The edge reaching furthest right decides whether any rest stays clear of the ray's end.
        const bool rayEndClear = k == 0 || 2.0 - near[k - 1]->maxX > m;
        verdict.assign(k + 1, -1);

        auto settle = [&](std::size_t left) -> signed char {
            if (left < k && !rayEndClear) return 0;
            int count = 0;
            flips.clear();
            for (std::size_t j = left; j < k; ++j) {
                const OutlineBands::Edge* e = near[j];
                if (e->minY == e->maxY) continue;  // horizontal: never counts
                count += e->minY <= y0 && y0 < e->maxY;
                if (y0 < e->minY && e->minY <= y1) flips.push_back(e->minY);
                if (y0 < e->maxY && e->maxY <= y1) flips.push_back(e->maxY);
            }
            std::sort(flips.begin(), flips.end());
            for (std::size_t f = 0; f < flips.size(); f += 2)
                if (f + 1 >= flips.size() || flips[f] != flips[f + 1]) return 0;
            return (count & 1) ? 2 : 1;
        };

        std::size_t left = 0;
        for (int column = 0; column < size_; ++column) {
            const double x0 = left_ + column / scaleX_ - padX, x1 = left_ + (column + 1) / scaleX_ + padX;
            while (left < k && x0 - near[left]->maxX > m) ++left;
            if (!(2.0 - x1 > m) || !(restMinX[left] - x1 > m)) continue;
            if (verdict[left] < 0) verdict[left] = settle(left);
            if (verdict[left] > 0)
                cells_[static_cast<std::size_t>(row * size_ + column)] = verdict[left] == 2 ? insideCell : outsideCell;
        }
    }
}

void OutlineGrid::classify(int n, const double* xs, const double* ys, const double box[4],
                           unsigned char* out, std::vector<int>& scratch) const {
    // Blocks small enough that the unsettled points, read again for the band
    // test, are still in the cache from the first pass.
    constexpr int block = 4096;
    scratch.resize(static_cast<std::size_t>(std::clamp(n, 0, block)));
    int* code = scratch.data();
    const int outsideCode = static_cast<int>(cells_.size()) - 1;
    const double left = left_, bottom = bottom_, sx = scaleX_, sy = scaleY_, last = size_ - 1;
    const double minU = std::max(box[0], box_[0]), maxU = std::min(box[1], box_[1]);
    const double minV = std::max(box[2], box_[2]), maxV = std::min(box[3], box_[3]);
    const int size = size_;
    const unsigned char* cells = cells_.data();
    // A table rather than a choice: the compiler keeps the loop free of branches.
    const unsigned char value[3] = {0, 1, 0};
    for (int base = 0; base < n; base += block) {
        const int m = std::min(block, n - base);
        const double* x = xs + base;
        const double* y = ys + base;
        unsigned char* o = out + base;
        for (int i = 0; i < m; ++i) {
            double tx = (x[i] - left) * sx, ty = (y[i] - bottom) * sy;
            tx = tx > 0.0 ? tx : 0.0;  // NaN too
            tx = tx < last ? tx : last;
            ty = ty > 0.0 ? ty : 0.0;
            ty = ty < last ? ty : last;
            const bool inBox = (x[i] >= minU) & (x[i] <= maxU) & (y[i] >= minV) & (y[i] <= maxV);
            const int cell = static_cast<int>(ty) * size + static_cast<int>(tx);
            code[i] = inBox ? cell : outsideCode;
        }
        // Unsettled points are listed at the front of the same scratch array:
        // entry k is written only after entry i >= k was read.
        int unsure = 0;
        for (int i = 0; i < m; ++i) {
            const int state = cells[code[i]];
            o[i] = value[state];
            code[unsure] = i;
            unsure += state == unsettled;
        }
        for (int k = 0; k < unsure; ++k) {
            const int i = code[k];
            o[i] = bands_.inside(Point{x[i], y[i]});
        }
    }
}
