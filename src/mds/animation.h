#pragma once
// Everything the idle callback advances: the axis layout glide, the
// scatterplot transitions and the hover fading.

#include <array>

#include "plot/types.h"

struct PCShowAxis;

extern bool layoutAnimating;
extern bool layoutAnimationPaused;
extern double layoutStartTime;
extern std::array<double, maxSlots> layoutStart;
extern std::array<double, maxSlots> layoutTarget;
extern bool layoutTargetsValid;
extern bool traceAnimation;

// Idle callback: advances what moves and asks for a frame only then.
void onIdle();
// Starts, or reverses from where it stands, the transition of axis's region;
// the caller has toggled axis.scatterOn already.
void startScatterTransition(double now, double duration, PCShowAxis& axis);
// Moves axis.scatterProgress to the time now or ends the transition.
void advanceScatterTransition(double now, PCShowAxis& axis);
