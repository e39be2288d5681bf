#include "animation/animation.h"

#include <algorithm>

#include "base/platform.h"
#include "plot/axis.h"
#include "plot/plot.h"

bool layoutAnimating = false;
bool layoutAnimationPaused = false;
double layoutStartTime = 0.0;
std::array<double, maxSlots> layoutStart{};
std::array<double, maxSlots> layoutTarget{};
bool layoutTargetsValid = false;
bool traceAnimation = false;

void animateToEvenSpacing() {
    if (plot == nullptr) return;
    layoutAnimating = true;
    const double* current = plot->captureAxisPositions();
    std::copy(current, current + plot->axisCount, layoutStart.begin());
    plot->spaceAxesEvenly();
    const double* even = plot->captureAxisPositions();
    std::copy(even, even + plot->axisCount, layoutTarget.begin());
    plot->setAxisPositions(layoutStart.data());
    layoutStartTime = clockMs();
}

namespace {

// The scatterplot's share at time now of a running transition.
double progressAt(double now, const PCShowAxis& axis) {
    const double p = axis.transitionDuration > 0.0 ? (now - axis.transitionStart) / axis.transitionDuration : 1.0;
    return axis.fadingIn ? p : 1.0 - p;
}

}  // namespace

void startScatterTransition(double now, double duration, PCShowAxis& axis) {
    axis.transitionDuration = duration;
    axis.transitionStart = now;
    if (axis.scatterTransition) {
        // Reverse from the progress already shown instead of jumping.
        if (axis.fadingIn && !axis.scatterOn)
            axis.transitionStart = now - duration * (1.0 - axis.scatterProgress);
        else if (axis.fadingOut && axis.scatterOn)
            axis.transitionStart = now - duration * axis.scatterProgress;
    }
    axis.scatterTransition = true;
    axis.fadingIn = axis.scatterOn;
    axis.fadingOut = !axis.scatterOn;
    // The frames drawn before the next step show the transition at its start.
    axis.scatterProgress = progressAt(now, axis);
}

void advanceScatterTransition(double now, PCShowAxis& axis) {
    ++axis.mdsIteration;
    const double end = axis.transitionStart + axis.transitionDuration;
    trace("nowtime  ", now, "     endtime ", end, "     begintime ", axis.transitionStart);
    if (now > end) {
        axis.scatterTransition = false;
        axis.fadingIn = false;
        axis.fadingOut = false;
        trace("total frame ", axis.mdsIteration);
        axis.mdsIteration = 0;
        return;
    }
    axis.scatterProgress = progressAt(now, axis);
}
