// The process-wide hover records, the reset of every interaction, hover and
// animation global, and which region holds a view position.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "animation/animation.h"
#include "interaction/hover.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"

bool hoverEmphasis = true;
bool hoverDetails = true;
std::uint64_t hoverResets = 0;
PCShowAxis* hoveredAxis = nullptr;
int hoveredAxisSerial = 0;
std::vector<HoverFadeEntry> hoverFadeList;
bool axisTicksShown = true;
double pointerViewX = NAN;
bool axisNamesCut = false;

namespace {

// A stale pointer is only compared, never dereferenced: the serial is read
// from the live axis found at that address.
bool isCurrentAxis(const PCShowAxis* axis, int serial) {
    if (!plot || !axis) return false;
    for (int i = 0; i < plot->axisCount; ++i)
        if (plot->axes[i] == axis) return plot->axes[i]->serial == serial;
    return false;
}

}  // namespace

void pruneHoverState() {
    if (hoveredAxis && !isCurrentAxis(hoveredAxis, hoveredAxisSerial)) setHoveredAxis(nullptr);
    hoverFadeList.erase(
        std::remove_if(hoverFadeList.begin(), hoverFadeList.end(),
                       [](const HoverFadeEntry& e) { return !isCurrentAxis(e.axis, e.serial); }),
        hoverFadeList.end());
}

void setHoveredAxis(PCShowAxis* axis) {
    hoveredAxis = axis;
    hoveredAxisSerial = axis ? axis->serial : 0;
}

void addHoverFade(PCShowAxis* axis) {
    const bool listed = std::any_of(hoverFadeList.begin(), hoverFadeList.end(),
                                    [axis](const HoverFadeEntry& e) { return e.axis == axis; });
    if (!listed) hoverFadeList.push_back({axis, axis->serial});
}

void resetInteractionState() {
    interaction = InteractionState{};
    hoverEmphasis = true;
    setHoveredAxis(nullptr);
    hoverFadeList.clear();
    layoutAnimating = false;
    layoutAnimationPaused = false;
    layoutStartTime = 0.0;
    layoutStart.fill(0.0);
    layoutTarget.fill(0.0);
    layoutTargetsValid = false;
    traceAnimation = false;
    axisTicksShown = true;
    pointerViewX = NAN;
    axisNamesCut = false;
    hoverDetails = true;
    ++hoverResets;
}

int regionContaining(double u, double v) {
    for (int i = 0; i + 1 < plot->axisCount; ++i) {
        const PCShowAxis& left = *plot->axes[i];
        const PCShowAxis& right = *plot->axes[i + 1];
        if (left.position <= u && u <= right.position && left.regionBottom <= v &&
            v <= left.regionTop)
            return i;
    }
    return -1;
}
