#pragma once
// The display and reshape callbacks and the frame set-up; the per-frame axis
// scratch the layers share (filled once by drawPlotBody) is records/frame_axes.h.

#include "records/frame_axes.h"

void onDisplay();
void onReshape(int width, int height);
void setUpFrame();
void drawPlotBody();
