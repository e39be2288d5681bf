#pragma once
// The idle step: everything that moves between events, the axis layout
// glide, the scatterplot transitions, the MDS iterations and the hover fading.

// Idle callback: advances what moves and asks for a frame only then.
void onIdle();
