#include "records/frame_axes.h"

#include "plot/axis.h"
#include "plot/plot.h"

void fillFrameAxes(const PCPlot& p, FrameAxes& frame) {
    frame.normalized.fill(Positions{});
    p.normalizedForAxes(frame.normalized.data());
    for (int i = 0; i < p.axisCount; ++i) {
        const PCShowAxis& axis = *p.axes[i];
        frame.dimensionOf[i] = axis.dimensionIndex;
        frame.top[i] = axis.regionTop;
        frame.bottom[i] = axis.regionBottom;
        frame.height[i] = axis.regionTop - axis.regionBottom;
    }
}
