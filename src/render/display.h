#pragma once
// The display and reshape callbacks and the frame set-up; the per-frame axis
// scratch the layers share (filled once by drawPlotBody) is records/frame_axes.h.
// A frame draws the state as it stands: what moves with the clock moves in
// the idle step (idle/idle.h), and what an event changes changes there.

#include "records/frame_axes.h"

void onDisplay();
void onReshape(int width, int height);
void setUpFrame();
void drawPlotBody();
