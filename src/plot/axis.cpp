#include "plot/axis.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "data/dimension.h"
#include "data/table.h"
#include "plot/plot.h"

int nextAxisSerial = 1;
bool axesLocked = false;

namespace {

void (*axesReleaseHook)() = nullptr;

// A hook left unset would skip work that keeps pointers valid: stop instead.
[[noreturn]] void missingHook(const char* message) {
    std::fprintf(stderr, "korvelline: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

void setAxesReleaseHook(void (*hook)()) { axesReleaseHook = hook; }

void MDSLayoutDeleter::operator()(MDSLayout* layout) const {
    if (destroy == nullptr) missingHook("an MDS layout without its deleter: make layouts with makeMdsLayout");
    destroy(layout);
}

PCShowAxis::PCShowAxis() : serial(nextAxisSerial++) {}

PCShowAxis::~PCShowAxis() = default;

void PCPlot::buildDimensionList() {
    dimensionCount = std::clamp(shownDimensionCount, 0, ::dimensionCount);
    for (int i = 0; i < dimensionCount; ++i) dimensions[i] = dimensionTable[i];
    buildAxes();
}

void PCPlot::deleteAxes() {
    // Kept brushes point at these axes: they go first.
    if (axesReleaseHook == nullptr) missingHook("axes freed with no release hook: call installSessionHooks first");
    axesReleaseHook();
    for (PCShowAxis*& axis : axes) {
        delete axis;
        axis = nullptr;
    }
    axisCount = 0;
}

void PCPlot::buildAxes() {
    deleteAxes();
    axisCount = dimensionCount;
    for (int i = 0; i < axisCount; ++i) {
        auto* axis = new PCShowAxis();
        axis->dimensionIndex = i;
        axis->isCategorical = dimensions[i]->labelCount > 0;
        axis->color = axisColor;
        axes[i] = axis;
    }
    spaceAxesEvenly();
}

void PCPlot::spaceAxesEvenly() {
    const int n = axisCount;
    if (n > 1) {
        for (int i = 0; i < n; ++i)
            axes[i]->position = std::clamp(static_cast<double>(i) / (n - 1) * 0.83 + 0.1, 0.0, 1.0);
    } else if (n == 1) {
        axes[0]->position = 0.5;
    }
}

void PCPlot::setAxisPositions(const double* values) {
    for (int i = 0; i < axisCount; ++i) axes[i]->position = std::clamp(values[i], 0.0, 1.0);
}

void PCPlot::selectOnlyAxis(int index) {
    if (index < 0 || index >= axisCount) return;
    for (int i = 0; i < axisCount; ++i) axes[i]->selected = false;
    axes[index]->selected = true;
}

Point PCPlot::toViewCoordinates(double x, double y) const {
    const double width = viewportWidth > 0 ? viewportWidth : 1.0;
    const double height = viewportHeight > 0 ? viewportHeight : 1.0;
    return {(x - viewportX) / width, 1.0 - (y - viewportY) / height};
}

int PCPlot::nearestAxis(double vx) const {
    double best = 1.0;
    int nearest = -1;
    for (int i = 0; i < axisCount; ++i) {
        const double distance = std::abs(axes[i]->position - vx);
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

int PCPlot::regionAt(double vx) const {
    int i = nearestAxis(vx);
    if (i < 0) return -1;
    // A pointer exactly on an axis belongs to the region right of it.
    if (vx < axes[i]->position) --i;
    if (i < 0 || i + 1 >= axisCount) return -1;
    return i;
}

void PCPlot::dragAxisTo(double x, int index) {
    if (index < 0 || index >= axisCount) return;
    axes[index]->position = std::clamp(toViewCoordinates(x, 0.0).x, 0.0, 1.0);
}

void PCPlot::resortAxes() {
    const int n = axisCount;
    // Axes joined by an MDS plot move as one group: a run of marked axes,
    // ordered by the position of its leftmost axis.
    std::array<bool, maxSlots> marked{};
    for (int i = 0; i + 1 < n; ++i) {
        if (axes[i]->mdsLayout) marked[i] = marked[i + 1] = true;
    }
    std::array<int, maxSlots> head{};
    for (int i = 0; i < n; ++i) head[i] = (i > 0 && marked[i] && marked[i - 1]) ? head[i - 1] : i;
    std::array<int, maxSlots> order{};
    for (int i = 0; i < n; ++i) order[i] = i;
    for (int a = 0; a < n - 1; ++a) {
        for (int j = n - 1; j > a; --j) {
            const int hx = head[order[j - 1]];
            const int hy = head[order[j]];
            if (hx != hy && axes[hy]->position < axes[hx]->position) std::swap(order[j - 1], order[j]);
        }
    }
    std::array<PCShowAxis*, maxSlots> sorted{};
    for (int k = 0; k < n; ++k) sorted[k] = axes[order[k]];
    std::copy(sorted.begin(), sorted.begin() + n, axes.begin());
}
