#pragma once
// The program's main loop, run in the benchmark's own process so that an
// action is timed from its event: a frame whenever one was asked for (the
// display callback, then glFinish, so the frame is on screen), the idle step
// in between (what animates, and the slices of a record layer too large for
// one frame), until a frame shows the picture complete.
//
// Complete means: a table is installed (no load under way), the last frame
// drew the record layer whole (every record, no subset of an animation, no
// slice left to complete; record_layer_testing.h) and nothing animates any
// more (no scatterplot transition, axis glide or MDS iteration). Fading
// stroke tracks and hover fading are overlays and do not hold it back.

#include <GL/gl.h>

#include <functional>
#include <vector>

#include "animation/animation.h"
#include "base/platform.h"
#include "data/load_progress.h"
#include "idle/idle.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/record_layer.h"
#include "render/record_layer_testing.h"

namespace bench {

// Whether the frame just drawn shows the whole picture of the state now.
inline bool pictureComplete() {
    return plot != nullptr && !loadInProgress() && recordLayerShownWhole() && !recordAnimationRunning(*plot) &&
           !layoutAnimating;
}

struct PumpResult {
    bool complete = false;    // a frame showed the complete picture
    double doneMs = 0.0;      // steadyMs() at the end of that frame
    int frames = 0;           // frames drawn, the complete one included
    std::vector<double> frameEnds;  // steadyMs() at the end of every frame
};

class FramePump {
public:
    // The idle step as the program's shell runs it; tests replace it.
    std::function<void()> idle = [] {
        onIdle();
        if (advanceRecordLayer(sliceMs)) requestRedraw();
    };
    static constexpr double sliceMs = 30.0;

    FramePump() {
        setRedrawHook([this] { ++requests_; });
    }
    ~FramePump() { setRedrawHook(nullptr); }
    FramePump(const FramePump&) = delete;
    FramePump& operator=(const FramePump&) = delete;

    // Forgets frames asked for before the event that is timed next.
    void discardRequests() { requests_ = 0; }

    // Runs frames and idle steps until a frame shows the complete picture,
    // or until timeoutMs of the steady clock have passed, or until nothing
    // asks for a frame any more without one having shown it complete.
    PumpResult untilComplete(double timeoutMs) {
        PumpResult result;
        const double deadline = steadyMs() + timeoutMs;
        int quietSteps = 0;
        while (steadyMs() < deadline) {
            if (requests_ > 0) {
                requests_ = 0;
                quietSteps = 0;
                onDisplay();
                glFinish();
                ++result.frames;
                result.frameEnds.push_back(steadyMs());
                if (pictureComplete()) {
                    result.complete = true;
                    result.doneMs = result.frameEnds.back();
                    return result;
                }
            }
            idle();
            // Nothing moves and nothing asks for a frame: the picture will
            // not become complete by waiting.
            if (requests_ == 0 && ++quietSteps > 1000) break;
        }
        return result;
    }

private:
    long requests_ = 0;
};

}  // namespace bench
