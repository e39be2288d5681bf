#include "brush/outline.h"

#include <algorithm>

OutlineBands::OutlineBands(const std::vector<Point>& polygon, int bandCount) : polygon_(polygon) {
    const int n = static_cast<int>(polygon.size());
    double low = 0.0, high = 0.0;
    for (int k = 0; k < n; ++k) {
        low = k == 0 ? polygon[k].y : std::min(low, polygon[k].y);
        high = k == 0 ? polygon[k].y : std::max(high, polygon[k].y);
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
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<int> fill(start_.begin(), start_.end() - 1);
        for (int k = 0; k < n; ++k) {
            const Point a = polygon[k];
            const Point b = polygon[k + 1 == n ? 0 : k + 1];
            const int first = bandOf(std::min(a.y, b.y));
            const int last = bandOf(std::max(a.y, b.y));
            for (int band = first; band <= last; ++band) {
                if (pass == 0)
                    ++start_[static_cast<std::size_t>(band) + 1];
                else
                    edges_[static_cast<std::size_t>(fill[band]++)] = k;
            }
        }
        if (pass == 0) {
            for (int band = 0; band < bands_; ++band) start_[band + 1] += start_[band];
            edges_.assign(static_cast<std::size_t>(start_[bands_]), 0);
        }
    }
}

int OutlineBands::bandOf(double y) const {
    if (bands_ == 1) return 0;
    const double t = std::floor((y - bottom_) * scale_);
    if (!(t > 0.0)) return 0;
    if (t >= bands_ - 1) return bands_ - 1;
    return static_cast<int>(t);
}

bool OutlineBands::inside(Point p) const {
    const int band = bandOf(p.y);
    const int n = static_cast<int>(polygon_.size());
    int count = 0;
    for (int j = start_[band]; j < start_[band + 1]; ++j) {
        const int k = edges_[j];
        const int c = edgeCrossing(p, polygon_[k], polygon_[k + 1 == n ? 0 : k + 1]);
        if (c < 0) return true;
        count += c;
    }
    return (count & 1) != 0;
}
