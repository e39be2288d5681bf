#pragma once
// The MDS layout as a region's left axis holds it: made here with the
// function that destroys it, and read by the renderers and the scatterplot
// brush. The axis's own MDS operations (startMds and the member operations)
// are members of PCShowAxis, defined in mds_axis.cpp.

#include <utility>

#include "mds/mds_layout.h"
#include "plot/axis.h"

// Destroys a layout made by makeMdsLayout.
void destroyMdsLayout(MDSLayout* layout);

// MDSLayout(args...) for an axis to own. Throws std::bad_alloc like any container.
template <class... Args>
MDSLayoutPtr makeMdsLayout(Args&&... args) {
    return MDSLayoutPtr(new MDSLayout(std::forward<Args>(args)...), MDSLayoutDeleter{destroyMdsLayout});
}

// The region's MDS layout once it has an output for every record; until
// then (or while hidden) the region shows the plain scatterplot. Renderers
// and the scatterplot brush place points by the same rule.
const MDSLayout* usableLayout(const PCShowAxis& axis, int recordCount);
