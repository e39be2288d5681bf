#pragma once
// The idle step: everything that moves between events, the axis layout
// glide, the scatterplot transitions, the MDS iterations and the hover
// fading, and what the next frame needs settled: expired stroke tracks and
// removed shapes dropped, shapes placed where their axes stand. The display
// only reads what this leaves.

// Idle callback: advances what moves and asks for a frame only then.
void onIdle();
// The part of the idle step a frame shows, alone: the scatterplot
// transitions moved to the clock's reading and the overlays settled. For
// whoever draws frames without the main loop.
void advanceFrameState();
