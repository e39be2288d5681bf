#pragma once
// Showing how far a long piece of work got: a thin bar along the bottom of
// the drawing area, and the frame drawn while a table loads.

// How long a load runs before the drawing area shows its progress.
constexpr double loadProgressDelayMs = 500.0;
// Height of the bar in pixels.
constexpr int progressBarHeight = 4;

// A light grey track across the bottom of the current viewport and a dark
// grey fill over the first fraction (0..1) of it, in pixels whatever the
// projection or zoom. Sets and restores every piece of GL state it changes.
void drawProgressBar(double fraction);

// The frame while a table loads: cleared to white; once the load has run
// loadProgressDelayMs, one line "loading <file name>" and the bar with the
// share read so far. Swaps the buffers.
void drawLoadingFrame();
