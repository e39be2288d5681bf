#pragma once
// The kept brushes in GL, each where it selected: an axis brush as a frame
// around its interval, an angular brush as its two legs, a scatterplot
// brush as its outline inside the region's square.

class PCAxisBrush;
class PCAngularBrush;
class PCScatterPlotBrush;

// One axis brush as a frame of half-width w around its interval.
void drawAxisBrush(const PCAxisBrush& brush, double w);
void drawAngularBrush(const PCAngularBrush& brush);
void drawScatterPlotBrush(const PCScatterPlotBrush& brush);
// Every kept brush, axis brushes first.
void drawBrushes();
