#pragma once
// The record of the mouse interaction: the stroke being drawn and whether it
// crossed itself, the drags under way, the right-button rectangle and the
// modifiers of the last stroke. The mouse handlers write it; the brushes and
// the renderers read it.

#include <array>

#include "base/types.h"

struct InteractionState {
    double lastPressTime = 0.0;
    bool isDoubleClick = false;
    bool axisDragActive = false;
    int dragAxis = 0;
    bool dragAxisWasSelected = false;
    int pressX = 0;
    int pressY = 0;
    bool strokeActive = false;
    int strokeLastX = 0;
    int strokeLastY = 0;
    PointList strokePoints;
    double strokeLength = 0.0;
    bool strokeCrossed = false;
    bool shapeDragActive = false;
    bool rubberBandActive = false;
    int rubberBandAnchorX = 0;
    int rubberBandAnchorY = 0;
    int rubberBandX = 0;
    int rubberBandY = 0;
    std::array<int, 4> snapRect{0, 0, 1, 1};
    int brushModifiers = 0;
};

extern InteractionState interaction;

// Whether segment a-b crosses a segment of the stroke, skipping its first
// segment when skipFirst; writes the outcome as a trace line.
bool strokeCrossesItself(bool skipFirst, Point a, Point b);
bool segmentsIntersect(Point p1, Point p2, Point q1, Point q2);
