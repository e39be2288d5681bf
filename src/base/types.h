#pragma once
// Small value types shared by every layer.

#include <array>
#include <cmath>
#include <deque>

// RGBA with components in [0, 1]; data() feeds glColor4dv directly.
using Rgba = std::array<double, 4>;

// A position, in view coordinates unless stated otherwise.
struct Point {
    double x = 0.0;
    double y = 0.0;
};

inline double distance(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

// Strokes grow at the back and lose their oldest points at the front.
using PointList = std::deque<Point>;

// Slots of the dimension and axis tables; a file may hold one dimension fewer.
constexpr int maxSlots = 1000;
