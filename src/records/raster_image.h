#pragma once
// The RGBA8 image the record layer is rasterised and composited into, rows
// bottom-up like a GL framebuffer, and how a colour component reaches 8 bits.
// Kept apart from the rasteriser so that the accumulation composites into it
// without reaching back into the rasteriser that fills the accumulation.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/types.h"

// A colour component as it reaches 8 bits.
inline std::uint8_t unorm8(double c) {
    const double v = (c > 0.0 ? (c < 1.0 ? c : 1.0) : 0.0) * 255.0 + 0.5;
    return static_cast<std::uint8_t>(v);
}

struct RasterImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4, row 0 at the bottom

    // Allocates only when the size grows.
    void resize(int w, int h) {
        width = w > 0 ? w : 0;
        height = h > 0 ? h : 0;
        rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    }
    // Opaque colour on the rows [rowBegin, rowEnd).
    void fillRows(int rowBegin, int rowEnd, const Rgba& color) {
        const std::uint8_t c[4] = {unorm8(color[0]), unorm8(color[1]), unorm8(color[2]), 255};
        rowBegin = std::max(rowBegin, 0);
        rowEnd = std::min(rowEnd, height);
        for (int y = rowBegin; y < rowEnd; ++y) {
            std::uint8_t* p = rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
            for (int x = 0; x < width; ++x, p += 4) std::copy(c, c + 4, p);
        }
    }
    const std::uint8_t* at(int x, int y) const {
        return rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x) * 4;
    }
};
