#pragma once
// The state of what animates and the operations that start it: the glide of
// the axes to their targets and the scatterplot transitions of the regions.
// Brushes, shapes, keys and the mouse start them; the idle step advances them.

#include <array>

#include "base/types.h"

struct PCShowAxis;

extern bool layoutAnimating;
extern bool layoutAnimationPaused;
extern double layoutStartTime;
extern std::array<double, maxSlots> layoutStart;
extern std::array<double, maxSlots> layoutTarget;
extern bool layoutTargetsValid;
extern bool traceAnimation;

// Starts the glide of every axis back to even spacing.
void animateToEvenSpacing();
// Starts, or reverses from where it stands, the transition of axis's region;
// the caller has toggled axis.scatterOn already.
void startScatterTransition(double now, double duration, PCShowAxis& axis);
// Moves axis.scatterProgress to the time now or ends the transition.
void advanceScatterTransition(double now, PCShowAxis& axis);
