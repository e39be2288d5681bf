#include "render/slant_stack.h"

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
    const std::size_t rowFloats = static_cast<std::size_t>(2 * n) * channels;
    const std::size_t total = static_cast<std::size_t>(n) * rowFloats;
    a_.assign(total, 0.0f);
    b_.resize(total);

    // Width 1: every column is its own block with the flat line only; the
    // heights below the grid hold nothing.
    const std::size_t column = static_cast<std::size_t>(n) * channels;
    for (int x = 0; x < n; ++x)
        std::memcpy(a_.data() + x * rowFloats + column, in + x * column, column * sizeof(float));

    std::vector<float>* from = &a_;
    std::vector<float>* to = &b_;
    for (int width = 1; width < n; width *= 2) {
        const int merged = 2 * width;
        for (int block = 0; block < n / merged; ++block) {
            const float* left = from->data() + static_cast<std::size_t>(2 * block) * width * rowFloats;
            const float* right = left + static_cast<std::size_t>(width) * rowFloats;
            float* out = to->data() + static_cast<std::size_t>(block) * merged * rowFloats;
            for (int theta = 0; theta < merged; ++theta) {
                const int half = theta >> 1;
                const std::size_t shift = static_cast<std::size_t>(theta - half) * channels;
                addShifted(out + theta * rowFloats, left + half * rowFloats, right + half * rowFloats, rowFloats,
                           shift);
            }
        }
        std::swap(from, to);
    }
    out_ = from;
}

void SlantStack::release() {
    std::vector<float>().swap(a_);
    std::vector<float>().swap(b_);
    out_ = &a_;
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
