#include "bins/slant_stack.h"

#include <algorithm>
#include <cstring>

namespace {

// out[i] = left[i] + right[i + shift] over `count` floats, right read only
// where it exists: the sums a block passes on to the next level.
void addShifted(float* __restrict out, const float* __restrict left, const float* __restrict right,
                std::size_t count, std::size_t shift) {
    const std::size_t both = count > shift ? count - shift : 0;
    for (std::size_t i = 0; i < both; ++i) out[i] = left[i] + right[i + shift];
    std::memcpy(out + both, left + both, (count - both) * sizeof(float));
}

}  // namespace

void SlantStack::compute(const float* in, int n, int channels) {
    n_ = n;
    channels_ = channels;
    const std::size_t c = static_cast<std::size_t>(channels);
    const std::size_t rowFloats = static_cast<std::size_t>(2 * n) * c;
    const std::size_t total = static_cast<std::size_t>(n) * rowFloats;
    a_.resize(total);
    b_.resize(total);

    // A line over a block of `width` columns rises at most width - 1, so
    // only heights from -(width - 1) up can hold anything: each level sums
    // those and writes zeros over the few heights the next level reads below
    // them. Width 1: every column is its own block with the flat line only.
    const std::size_t column = static_cast<std::size_t>(n) * c;
    for (int x = 0; x < n; ++x) {
        float* row = a_.data() + x * rowFloats;
        std::fill(row + column - c, row + column, 0.0f);
        std::memcpy(row + column, in + x * column, column * sizeof(float));
    }

    std::vector<float>* from = &a_;
    std::vector<float>* to = &b_;
    for (int width = 1; width < n; width *= 2) {
        const int merged = 2 * width;
        const std::size_t low = static_cast<std::size_t>(n - merged + 1) * c;         // first height that may hold a sum
        const std::size_t below = static_cast<std::size_t>(std::max(n - 2 * merged + 1, 0)) * c;  // the next level reads from
        for (int block = 0; block < n / merged; ++block) {
            const float* left = from->data() + static_cast<std::size_t>(2 * block) * width * rowFloats;
            const float* right = left + static_cast<std::size_t>(width) * rowFloats;
            float* out = to->data() + static_cast<std::size_t>(block) * merged * rowFloats;
            for (int theta = 0; theta < merged; ++theta) {
                const int half = theta >> 1;
                const std::size_t shift = static_cast<std::size_t>(theta - half) * c;
                float* row = out + theta * rowFloats;
                std::fill(row + below, row + low, 0.0f);
                addShifted(row + low, left + half * rowFloats + low, right + half * rowFloats + low, rowFloats - low,
                           shift);
            }
        }
        std::swap(from, to);
    }
    // The result stays; the scratch goes.
    if (from != &a_) std::swap(a_, b_);
    std::vector<float>().swap(b_);
}

void SlantStack::release() {
    std::vector<float>().swap(a_);
    std::vector<float>().swap(b_);
    n_ = 0;
}

int slantRise(int n, int theta, int x) {
    int rise = 0;
    // Walk down the halves that hold x, adding the right half's start.
    for (int width = n; width > 1; width /= 2) {
        const int half = theta >> 1;
        if (x >= width / 2) {
            rise += theta - half;
            x -= width / 2;
        }
        theta = half;
    }
    return rise;
}
