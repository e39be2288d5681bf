#include "interaction/input_help.h"

#include <cstring>

#include "interaction/interaction.h"

namespace {

const std::vector<InputHelp> rows = {
    {"Left drag on the palette (paint mode)", "Pick a colour (height: red, green, blue, black) and its transparency (width)", "", {0, 0}},
    {"SHIFT click on the palette", "Switch between painting (brushes paint what they accept) and selecting (the rest turns light grey)", "", {0, 0}},
    {"Left double click in a region", "Open or close its scatterplot (animated)", "", {0, 0}},
    {"Short vertical stroke along an axis", "Axis brush: the records whose value lies in the stroked interval", "", {0, 0}},
    {"\"<\" or \">\" stroke between two axes", "Angular brush: the records whose line's slope lies within the legs' angle", "", {0, 0}},
    {"Nearly closed loop in an open scatterplot", "Scatterplot brush: the points inside it", "", {0, 0}},
    {"Plain / CTRL / SHIFT / SHIFT+CTRL stroke", "Intersect with the selection / unite / remove (cyan) / unite with the complement", "", {0, 0}},
    {"Closed loop below the regions or outside them", "Toggle the dimension indicators and MDS markers inside it (CTRL only selects, SHIFT only deselects)", "", {0, 0}},
    {"Click a dimension indicator (disc under an axis)", "Select it alone; CTRL adds it; CTRL double click selects all", "", {0, 0}},
    {"ALT drag an indicator onto a region", "Merge its dimension into the region's MDS plot", "", {0, 0}},
    {"Click an MDS marker", "Switch its dimension off (orange) and on again", "", {0, 0}},
    {"ALT drag an MDS marker away", "Remove its dimension from the MDS plot", "", {0, 0}},
    {"ALT drag an axis", "Move it (axes re-sort on release)", "", {0, 0}},
    {"ALT click an axis", "Select it and colour records by its dimension (a colour bar shows the values)", "", {0, 0}},
    {"Middle click near a record on an axis or in a scatterplot", "Highlight it", "", {0, 0}},
    {"Pointer resting 300 ms over the drawing area", "Details of the record whose line passes within 4 pixels", "", {0, 0}},
    {"Wheel", "Widen or narrow the region under the pointer", "", {0, 0}},
    {"Right drag", "Rubber-band rectangle (reported on the console)", "", {0, 0}},
    {"ALT right click", "Report the whole view", "", {0, 0}},
    {"Pointer nearest an axis", "Show its whole name where it is cut short", "", {0, 0}},
    {"Export / Session...", "Save the view as a session file; File / Open opens it again with its table", "", {0, 0}},
    {"R", "Reset", "R", {0, 0}},
    {"Q", "Lock axes and glide back to even spacing (again to unlock)", "Q", {0, 0}},
    {"W", "Histograms", "W", {0, 0}},
    {"B", "Colour by selection / by the selected dimension", "B", {0, 0}},
    {"F", "Remove every brush and select every record again (painted colours stay)", "F", {0, 0}},
    {"C", "Straight lines / curves", "C", {0, 0}},
    {"G", "Density shading: each pixel as dark as the number of records crossing it ranks", "G", {0, 0}},
    {"I", "Flip the axis nearest the pointer (again to stand it upright)", "I", {0, 0}},
    {"L", "Scale of the axis nearest the pointer: linear, log or symlog, linear again", "L", {0, 0}},
    {"T", "Axis ticks on and off", "T", {0, 0}},
    {"H", "Hover details off, and on again", "H", {0, 0}},
    {"O", "Open the records window (also View / Records)", "O", {0, 0}},
    {"X", "Anti-aliasing (and finer or coarser curves)", "X", {0, 0}},
    {"Z", "Stroke texture", "Z", {0, 0}},
    {"S", "Scatterplot of the selected axis's region", "S", {0, 0}},
    {"V", "Slow scatterplot toggle at the pointer", "V", {0, 0}},
    {"M", "Open the scatterplot at the pointer and start (or resume) its MDS plot", "M", {0, 0}},
    {"N", "Back from the MDS plot at the pointer to the plain scatterplot", "N", {0, 0}},
    {"D", "Hover fading", "D", {0, 0}},
    {"A", "Animation trace (on the console)", "A", {0, 0}},
    {"1-9", "Zoom into a cell of the view", "123456789", {0, 0}},
    {"` (backquote)", "Back out of the zoom", "`", {0, 0}},
    {"Page Up / Page Down", "Curve opacity of the region under the pointer", "", {KeyPageUp, KeyPageDown}},
    {"Home / End", "Point opacity of the scatterplot under the pointer", "", {KeyHome, KeyEnd}},
    {"Delete", "Restore both opacities of the region under the pointer", "\x7f", {0, 0}},
};

}  // namespace

const std::vector<InputHelp>& inputHelp() { return rows; }

const InputHelp* helpForKey(unsigned char key) {
    if (key == 0) return nullptr;
    for (const InputHelp& row : rows)
        if (std::strchr(row.characters, key) != nullptr) return &row;
    return nullptr;
}

const InputHelp* helpForSpecialKey(int key) {
    if (key == 0) return nullptr;
    for (const InputHelp& row : rows)
        if (row.special[0] == key || row.special[1] == key) return &row;
    return nullptr;
}
