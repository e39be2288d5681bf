#pragma once
// The record layer drawn by GL in immediate mode, record by record.

#include "records/records.h"

// Both draw the points after the lines and leave the line width at
// curveLineWidth and the point size at pointSize.
void drawRecordLines(const PCPlot& plot, const FrameAxes& frame);
void drawRecordCurves(const PCPlot& plot, const FrameAxes& frame);
// The renderer the plot's `straightLines` picks, drawing every stride-th record.
void drawRecordsGl(const PCPlot& plot, const FrameAxes& frame, int stride);
