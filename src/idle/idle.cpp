#include "idle/idle.h"

#include <array>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"

namespace {

constexpr double layoutDurationMs = 200.0;
constexpr double hoverFadeStep = 0.03;
constexpr double hoverFadeFloor = 0.1;

// Scratch for the interpolated positions; static so an idle call allocates nothing.
std::array<double, maxSlots> layoutCurrent{};

// Moves the axes along the glide; returns true when it reached its targets
// (the rest of the idle work then waits for the next call).
bool advanceLayout() {
    const double elapsed = clockMs() - layoutStartTime;
    trace("time pass  ", elapsed);
    if (elapsed > layoutDurationMs) {
        plot->setAxisPositions(layoutTarget.data());
        requestRedraw();
        layoutAnimating = false;
        layoutAnimationPaused = false;
        layoutTargetsValid = false;
        return true;
    }
    for (int k = 0; k < maxSlots; ++k)
        layoutCurrent[k] =
            layoutStart[k] + elapsed * (layoutTarget[k] - layoutStart[k]) / layoutDurationMs;
    plot->setAxisPositions(layoutCurrent.data());
    return false;
}

bool advanceScatterTransitions() {
    bool moved = false;
    for (int i = 0; i < plot->axisCount; ++i) {
        PCShowAxis* axis = plot->axes[i];
        if (!axis || !axis->scatterTransition) continue;
        if (traceAnimation && axis->mdsIteration > 10) {
            std::ostream& os = traceStream();
            os << axis->mdsIteration;
            os.flush();
            // The time spent writing is not animation time.
            const double before = clockMs();
            const double after = clockMs();
            axis->transitionStart += after - before;
            axis->mdsIteration = 0;
        }
        moved = true;
        advanceScatterTransition(clockMs(), *axis);
    }
    return moved;
}

bool advanceHoverFading() {
    // A region opened under a resting pointer (double click, V, S) has left
    // the list already, and no motion will put it back: let it fade as well.
    if (hoverEmphasis && hoveredAxis && hoveredAxis->hovered && hoveredAxis->scatterOn)
        addHoverFade(hoveredAxis);
    bool moved = false;
    for (std::size_t k = 0; k < hoverFadeList.size();) {
        PCShowAxis* axis = hoverFadeList[k].axis;
        if (axis->scatterOn && axis == hoveredAxis && hoverEmphasis) {
            const double c = axis->curveOpacity - hoverFadeStep;
            if (c < hoverFadeFloor) {
                axis->curveOpacity = hoverFadeFloor;  // arrived: nothing moves any more
            } else {
                axis->curveOpacity = c;
                moved = true;
            }
            ++k;
            continue;
        }
        moved = true;
        const double c = axis->curveOpacity + hoverFadeStep;
        if (c >= 1.0) {
            axis->curveOpacity = 1.0;
            hoverFadeList.erase(hoverFadeList.begin() + static_cast<std::ptrdiff_t>(k));
        } else {
            axis->curveOpacity = c;
            ++k;
        }
    }
    return moved;
}

// The shapes follow their axes; expired tracks and removed shapes go.
void settleOverlays() {
    dropExpiredTracks(vanishingTracks, clockMs());
    placeShapes();
    pruneRemovedShapes();
}

}  // namespace

void advanceFrameState() {
    if (!plot) return;
    advanceScatterTransitions();
    settleOverlays();
}

void onIdle() {
    if (!plot) return;
    pruneHoverState();
    bool moved = false;

    if (layoutAnimating) {
        if (advanceLayout()) {
            placeShapes();
            return;
        }
        moved = true;
    }
    // A track that expires now still needs the frame that no longer shows it.
    if (!vanishingTracks.empty()) moved = true;
    if (advanceScatterTransitions()) moved = true;

    for (int i = 0; i < plot->axisCount; ++i) {
        PCShowAxis* axis = plot->axes[i];
        if (axis && axis->mdsVisible && axis->mdsLayout && axis->mdsRunning) {
            axis->mdsFrame();
            moved = true;
        }
    }

    if (advanceHoverFading()) moved = true;
    settleOverlays();
    if (moved) requestRedraw();
}
