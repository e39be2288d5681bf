// The MDS plot of a region as its left axis holds it: start, members,
// animation frames and shutdown.

#include "mds/mds_axis.h"

#include <new>
#include <vector>

#include "base/platform.h"
#include "data/dimension.h"
#include "mds/mds_layout.h"
#include "plot/axis.h"
#include "plot/plot.h"

namespace {

constexpr int iterationLimit = 500;

// The records' positions on an axis as an array, as the layout copies them;
// empty when the axis shows no dimension.
std::vector<double> normalizedOf(const PCShowAxis* axis) {
    const Positions positions = plot ? plot->normalizedOn(axis) : Positions{};
    if (!positions) return {};
    std::vector<double> out(static_cast<std::size_t>(plot->recordCount));
    positions.fill(0, plot->recordCount, out.data());
    return out;
}

void restart(PCShowAxis& axis) {
    axis.mdsIteration = 0;
    axis.mdsRunning = true;
    axis.mdsIterationLimit = iterationLimit;
}

// Merges or takes out member's dimension, if there is a layout to change.
void changeDimension(PCShowAxis& axis, const PCShowAxis* member, bool add) {
    if (!axis.mdsLayout) return;
    const std::vector<double> values = normalizedOf(member);
    if (!values.empty()) axis.mdsLayout->updateDimension(values.data(), add);
}

}  // namespace

void destroyMdsLayout(MDSLayout* layout) { delete layout; }

const MDSLayout* usableLayout(const PCShowAxis& axis, int recordCount) {
    if (!axis.mdsVisible || !axis.mdsLayout) return nullptr;
    const MDSLayout& layout = *axis.mdsLayout;
    const std::size_t need = recordCount > 0 ? static_cast<std::size_t>(recordCount) : 0;
    if (layout.outX.size() < need || layout.outY.size() < need) return nullptr;
    return &layout;
}

bool PCShowAxis::startMds(PCShowAxis* first, PCShowAxis* second) {
    if (!mergedAxes) mergedAxes = std::make_unique<std::array<PCShowAxis*, maxSlots>>();
    if (!mergedFlags) mergedFlags = std::make_unique<std::array<unsigned char, maxSlots>>();
    mdsLayout.reset();
    mdsRunning = false;
    const int n = plot ? plot->recordCount : 0;
    // The budget covers every region's layout together.
    std::size_t need = MDSLayout::bytesNeeded(n);
    for (int i = 0; plot && i < plot->axisCount; ++i) {
        const PCShowAxis* other = plot->axes[i];
        if (other && other != this && other->mdsLayout)
            need += MDSLayout::bytesNeeded(other->mdsLayout->recordCount);
    }
    const std::size_t budget = mdsMemoryBudget(need - MDSLayout::bytesNeeded(n));
    if (n > 0 && (!plot->normalizedOn(second) || !plot->normalizedOn(first))) {
        mdsVisible = false;
        return false;
    }
    if (need > budget) {
        traceRefusal(" MDS plot refused: ", n, " records need ", need / 1048576.0,
              " MB with the other MDS plots, more than the memory budget of ", budget / 1048576.0,
              " MB");
        mdsVisible = false;
        return false;
    }
    try {
        const std::vector<double> xs = normalizedOf(second);
        const std::vector<double> ys = normalizedOf(first);
        const double* base[2] = {xs.data(), ys.data()};
        mdsLayout = makeMdsLayout(n, base);
    } catch (const std::bad_alloc&) {
        traceRefusal(" MDS plot refused: out of memory for ", n, " records");
        mdsLayout.reset();
        mdsVisible = false;
        return false;
    }
    restart(*this);
    owner = plot;
    trace("MDS stress  ", mdsLayout->stress);
    mergedCount = 2;
    (*mergedAxes)[0] = first;
    (*mergedAxes)[1] = second;
    (*mergedFlags)[0] = (*mergedFlags)[1] = 1;
    return true;
}

int PCShowAxis::findMdsMember(const PCShowAxis* member) const {
    if (!mergedAxes) return -1;
    for (int k = 2; k < mergedCount; ++k)
        if ((*mergedAxes)[k] == member) return k;
    return -1;
}

void PCShowAxis::addMdsMember(PCShowAxis* member) {
    if (!mergedAxes || !mergedFlags || mergedCount < 2 || mergedCount >= maxSlots) return;
    restart(*this);
    changeDimension(*this, member, true);
    (*mergedAxes)[mergedCount] = member;
    (*mergedFlags)[mergedCount] = 1;
    ++mergedCount;
}

void PCShowAxis::enableMdsMember(PCShowAxis* member) {
    if (mergedCount <= 2) {
        trace(" error remove MDS SHOWAXIS");
        return;
    }
    const int k = findMdsMember(member);
    // Only an added member that is switched off can be switched on: merging
    // a dimension twice would count it twice in every distance.
    if (k < 0 || (*mergedFlags)[k] == 1) return;
    (*mergedFlags)[k] = 1;
    restart(*this);
    changeDimension(*this, member, true);
}

void PCShowAxis::disableMdsMember(PCShowAxis* member) {
    const int k = findMdsMember(member);
    if (k < 0 || (*mergedFlags)[k] == 0) return;
    (*mergedFlags)[k] = 0;
    restart(*this);
    changeDimension(*this, member, false);
}

void PCShowAxis::removeMdsMember(PCShowAxis* member) {
    if (mergedCount <= 2) {
        trace(" error remove MDS SHOWAXIS");
        return;
    }
    const int k = findMdsMember(member);
    if (k < 0) return;
    const bool wasActive = (*mergedFlags)[k] == 1;
    for (int j = k; j + 1 < mergedCount; ++j) {
        (*mergedAxes)[j] = (*mergedAxes)[j + 1];
        (*mergedFlags)[j] = (*mergedFlags)[j + 1];
    }
    --mergedCount;
    if (wasActive) {
        restart(*this);
        changeDimension(*this, member, false);
    }
}

void PCShowAxis::mdsFrame() {
    if (!mdsLayout || !mdsRunning) return;
    mdsLayout->step();
    trace("ShowAxis ", serial, "  frame  ", mdsIteration, "    MDS stress  ", mdsLayout->stress);
    ++mdsIteration;
    if (mdsIteration > mdsIterationLimit) mdsRunning = false;
}

void PCShowAxis::stopMds() {
    mdsLayout.reset();
    mdsRunning = false;
    mdsVisible = false;
    trace(" MDS shutdown");
}
