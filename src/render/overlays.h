#pragma once
// What the frame lays over everything else: the band at the bottom of the
// drawing area that shows the latest refusal, and the legends in the margin
// right of the last axis position.

struct PCPlot;

// How long a refusal stays in the band unless a load comes first.
constexpr double messageShownMs = 8000.0;

// The latest refusal of something the user asked for, right-aligned in a
// band at the bottom of the drawing area on a halo, until the next load or
// for messageShownMs; nothing when there is none. Drawn in pixels over
// whatever the frame holds, with or without a plot.
void drawMessageBand();
// Whether the band has changed since it was last drawn (a new refusal, or
// one that has run its time or gone with a load), so a frame must show it.
bool messageBandChanged();
// The text the band shows now, empty when it shows nothing.
const char* messageBandText();

// While records are coloured by a dimension, a colour bar with its name and
// ticks; under density shading a bar from the fewest to the most records.
// Both stand in the margin right of 0.93 of the width.
void drawLegends(const PCPlot& plot);
// Whether some records take their colour from the colour dimension.
bool recordsColoredByDimension(const PCPlot& plot);
