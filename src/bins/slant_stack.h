#pragma once
// Sums of a square grid of cells along digital lines of every slope from
// flat to diagonal, all at once, in n^2 log n additions (the fast slant
// stack): out(theta, h) is the sum of in(x, h + rise(theta, x)) over the n
// columns x, where rise(theta, x) follows the line of slope theta / (n - 1)
// from height h at x = 0 within about a cell and a half. Lines are defined
// recursively: over two halves of a block, a line of rise theta is the line
// of rise floor(theta / 2) in each half, the right one starting
// ceil(theta / 2) higher. Every cell carries `channels` floats, added alike.

#include <cstddef>
#include <vector>

class SlantStack {
public:
    // Transforms an n x n grid (n a power of two) laid out as in[(x * n + y)
    // * channels + c]. The result has n slopes and 2n intercepts h in
    // [-n, n): at((theta, h)) below.
    void compute(const float* in, int n, int channels);

    int size() const { return n_; }
    int channels() const { return channels_; }
    // The channels of the line of slope theta starting at height h; null
    // outside the stored range.
    const float* at(int theta, int h) const {
        if (theta < 0 || theta >= n_ || h < -n_ || h >= n_) return nullptr;
        return a_.data() + ((static_cast<std::size_t>(theta) * 2 * n_) + (h + n_)) * channels_;
    }
    std::size_t bytes() const { return (a_.capacity() + b_.capacity()) * sizeof(float); }
    // Gives back the memory of the result and the scratch.
    void release();

private:
    int n_ = 0;
    int channels_ = 0;
    std::vector<float> a_;  // the result, once computed
    std::vector<float> b_;  // scratch while computing
};

// Where the recursive line of slope theta over n columns lies at column x,
// as a rise over its start (for tests and for reading sums back).
int slantRise(int n, int theta, int x);
