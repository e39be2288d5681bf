#pragma once
// The MDS layout of one region. Only its output is used so far: where each
// record's point of the region's MDS plot stands, in the units of the
// region's two base dimensions.

#include <cstdint>
#include <vector>

struct MDSLayout {
    std::vector<double> outX;
    std::vector<double> outY;
    // Raised whenever outX or outY change, so a cached frame is not reused.
    std::uint64_t revision = 0;

    struct Output {
        const double* outX;
        const double* outY;
    };
    Output layoutOutput() const { return {outX.data(), outY.data()}; }
};
