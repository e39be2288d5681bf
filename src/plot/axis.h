#pragma once
// One displayed axis and the state of the region right of it, plus the
// process-wide layout values.

#include <array>
#include <memory>

#include "base/types.h"

struct MDSLayout;
struct PCPlot;

// The MDS code makes a region's layout and hands it over together with the
// function that destroys it (mds/mds_axis.h), so the axis owns the layout
// knowing no more of it than its name.
struct MDSLayoutDeleter {
    void (*destroy)(MDSLayout*) = nullptr;
    void operator()(MDSLayout* layout) const;
};
using MDSLayoutPtr = std::unique_ptr<MDSLayout, MDSLayoutDeleter>;

struct PCShowAxis {
    bool isCategorical = false;
    int serial = 0;
    std::unique_ptr<std::array<PCShowAxis*, maxSlots>> mergedAxes;
    int mergedCount = 0;
    MDSLayoutPtr mdsLayout;
    bool mdsRunning = false;
    int mdsIteration = 0;
    int mdsIterationLimit = 0;
    bool mdsVisible = false;
    std::unique_ptr<std::array<unsigned char, maxSlots>> mergedFlags;
    PCPlot* owner = nullptr;
    int dimensionIndex = -1;
    double position = 0.0;
    double regionTop = 0.9;
    double regionBottom = 0.1;
    Rgba color{0, 0, 0, 1};
    bool showHistogram = true;
    bool selected = false;
    bool scatterOn = false;
    bool scatterTransition = false;
    bool fadingIn = false;
    bool fadingOut = false;
    double scatterProgress = 0.0;
    double transitionStart = 0.0;
    double transitionDuration = 0.0;
    double curveOpacity = 1.0;
    double pointOpacity = 1.0;
    bool hovered = false;

    PCShowAxis();
    ~PCShowAxis();

    // The region's MDS plot (this is its left axis); mds/mds_axis.cpp.
    // Builds it from the dimensions of first (vertical) and second
    // (horizontal); false, with no layout, when it would not fit in memory.
    bool startMds(PCShowAxis* first, PCShowAxis* second);
    void addMdsMember(PCShowAxis* member);
    void enableMdsMember(PCShowAxis* member);
    void disableMdsMember(PCShowAxis* member);
    void removeMdsMember(PCShowAxis* member);
    void mdsFrame();
    void stopMds();
    // Index of member among the added members (2 on), or -1.
    int findMdsMember(const PCShowAxis* member) const;
    PCShowAxis(const PCShowAxis&) = delete;
    PCShowAxis& operator=(const PCShowAxis&) = delete;
};

// Serial number the next axis gets; the first axis ever built gets 1.
extern int nextAxisSerial;

extern bool axesLocked;

