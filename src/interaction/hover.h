#pragma once
// Details on hover: once the pointer has rested over the drawing area, the
// record whose line passes nearest it within a few pixels (in an open
// scatterplot, whose point lies nearest), and the lines of the box listing
// its values. The search runs a slice at a time between events, each slice
// on every core, so no frame waits longer than a slice for it; it keeps
// nothing per record. The render layer draws the record and the box.

#include <cstdint>
#include <string>
#include <vector>

struct PCPlot;

constexpr double hoverRestMs = 300.0;  // how long the pointer rests first
constexpr double hoverReachPx = 4.0;   // how far from it a line may pass

// Key H: hover details on (the default) or off.
extern bool hoverDetails;
// Bumped by resetInteractionState: what hover details had found goes.
extern std::uint64_t hoverResets;

// Events of the drawing area, in its window pixels.
void noteHoverMotion(int x, int y);  // a move without a button held
void noteHoverLeave();               // the pointer left the drawing area
// Any button or wheel event: nothing shows while a button is held, and the
// pointer rests again from the release on.
void noteHoverButton(int button, int state, int x, int y);
void noteHoverDrag();  // a move with a button held
// Forgets the record shown and any search under way.
void clearHoverDetails();

// The idle step's part: starts a search once the pointer has rested, goes on
// with one slice of it, and drops a record that the view, changed since, no
// longer shows there. True when it did work.
bool advanceHoverDetails();

// The record shown and the pointer position it was found at; -1 for none.
struct HoverShown {
    int record = -1;
    int x = 0;
    int y = 0;
};
HoverShown hoverShown();

// The whole search at once, for tests and the benchmark: the record nearest
// the drawing-area pixel (x, y) within hoverReachPx, and how far it is in
// pixels; threads 0 means one per core.
struct HoverHit {
    int record = -1;
    double pixels = 0.0;
};
HoverHit findHoverRecord(const PCPlot& plot, double x, double y, int threads = 0);

// The box: the record's label (when the table has labels, with an empty
// value), then per shown axis, left to right, the dimension's name and the
// record's value as the records window writes it.
struct HoverLine {
    std::string name;
    std::string value;
};
std::vector<HoverLine> hoverBoxLines(const PCPlot& plot, int record);
