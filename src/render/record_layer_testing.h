#pragma once
// What tests and the benchmarks ask of the record layer beyond what a frame
// needs: pinned paths, thresholds and budgets, bins built without a frame,
// and whether the layer the last frame showed was the whole layer.

#include "render/record_layer.h"

// Pin a path; Auto returns to chooseRecordLayerPath.
enum class RecordLayerChoice { Auto, Gl, Software };
void setRecordLayerChoice(RecordLayerChoice choice);
// Threads of the software layer; 0 means one per core.
void setRecordLayerThreads(int threads);
// Frame time above which animations draw a subset; <= 0 restores 40 ms.
void setLevelOfDetailBudget(double ms);
// Moves the threshold of binned drawing; 0 restores the default.
void setBinnedRecordThreshold(int records);
// Off: every layer is drawn whole in the frame that needs it.
void setProgressiveDrawing(bool on);
// Builds the bins the next layer of plot needs without drawing it, and drops
// the kept layer and what was drawn from bins while keeping the bins, as a
// change of geometry does.
void buildRecordBins(const PCPlot& plot, const FrameAxes& frame);
void forgetDrawnRecordLayer();

// True when the last frame drew the record layer whole: every record at
// stride 1, nothing left to complete in slices. False before any frame, while
// an animation shows a subset and while a large layer is being completed.
bool recordLayerShownWhole();
