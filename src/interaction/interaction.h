#pragma once
// Keyboard, mouse and motion handlers and the hover records. The mouse
// interaction record they write lies lower, in stroke/stroke.h.

#include <vector>

#include "base/types.h"
#include "stroke/stroke.h"

struct PCShowAxis;

// Hover tracking (motion). Each axis pointer travels with the axis's serial:
// a reload or reset rebuilds the axes, possibly at the same addresses, and the
// serial tells a new axis from the freed one.
struct HoverFadeEntry {
    PCShowAxis* axis = nullptr;
    int serial = 0;
};
extern bool hoverEmphasis;
extern PCShowAxis* hoveredAxis;
extern int hoveredAxisSerial;
extern std::vector<HoverFadeEntry> hoverFadeList;

// Ticks on the numeric and time axes (key T): on from the start; they belong
// to the viewer, not the table.
extern bool axisTicksShown;
// The pointer's last view x over the drawing area (NaN before it moved):
// the axis nearest it shows its whole name, whatever key D is set to.
extern double pointerViewX;
// Set by each frame: whether some axis name is drawn cut. The pointer moving
// nearer to another axis asks for a frame only then.
extern bool axisNamesCut;

// Mouse buttons as the GLUT layer delivers them; the wheel arrives as 3 and 4.
enum MouseButton : int { LeftButton = 0, MiddleButton = 1, RightButton = 2, WheelUp = 3, WheelDown = 4 };
enum ButtonState : int { ButtonPress = 0, ButtonRelease = 1 };

// Special keys, as the GLUT layer reports them.
enum SpecialKey : int { KeyHome = 0xFF50, KeyPageUp = 0xFF55, KeyPageDown = 0xFF56, KeyEnd = 0xFF57 };

// Timing and distance constants of the mouse and motion handlers.
constexpr double doubleClickMs = 250.0;
constexpr double minAxisDragPosition = 0.07;   // an axis never goes into the leftmost 7 %
constexpr double wheelMinPosition = 0.07;
constexpr double wheelMaxPosition = 0.99;
constexpr double maxPickSquaredPixels = 50.0;  // a middle click reaches about 7 pixels
constexpr double strokeMinStep = 0.002;        // view units between two stroke points
constexpr double strokeMaxLength = 4.0;        // view units of stroke kept

void onKey(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);
void onMouseButton(int button, int state, int x, int y);
void onMouseDrag(int x, int y);
void onMouseHover(int x, int y);
// Adds the release point to the stroke without testing it for a crossing:
// the drag has recorded that outcome already.
void completeStroke(int x, int y);

// Moves the axes' targets so that region r grows by about factor, then glides there.
void zoomRegion(double factor, double minPosition, double maxPosition, int region);

struct PickResult {
    bool found = false;
    int record = -1;
    double squaredPixelDistance = 0.0;
};
PickResult pickScatterPoint(double u, double v);
PickResult pickAxisPoint(double u, double v);

// Index of the region (its left axis) whose box holds (u, v), or -1.
int regionContaining(double u, double v);

// Forgets hover pointers to axes the current plot no longer has, so nothing
// walks freed records.
void pruneHoverState();
// Makes axis (or nothing) the hovered axis, remembering its serial.
void setHoveredAxis(PCShowAxis* axis);
// Puts axis on hoverFadeList unless it is there already.
void addHoverFade(PCShowAxis* axis);

// Restores every interaction, hover and animation global to its start value.
void resetInteractionState();
