#pragma once
// A thin bar across the bottom of the drawing area telling how far a long
// piece of work has come.

// Draws the bar for fraction (0 to 1) over whatever the frame holds, in
// window pixels whatever the view box; leaves GL state as it found it.
void drawProgressBar(double fraction);
