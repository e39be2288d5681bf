#pragma once
// Where a region's scatterplot square lies across the gap between its two
// axes: the gap less the region margin on either side, grown out of the
// left axis by the transition's progress (1 once the scatterplot is open).

struct ScatterSquare {
    double left = 0.0;   // view x of its left side
    double width = 0.0;  // view width, scaled by the progress
};

inline ScatterSquare scatterSquare(double leftAxisX, double rightAxisX, double margin, double progress = 1.0) {
    const double gap = rightAxisX - leftAxisX;
    return {leftAxisX + progress * margin * gap, progress * (1.0 - 2.0 * margin) * gap};
}
