#pragma once
// What tests and the benchmarks ask of the record layer beyond what a frame
// needs: whether the layer the last frame showed was the whole layer.

// True when the last frame drew the record layer whole: every record at
// stride 1, nothing left to complete in slices. False before any frame, while
// an animation shows a subset and while a large layer is being completed.
bool recordLayerShownWhole();
