#include "render/records_gl.h"

#include "render/gl_sink.h"

namespace {

RecordPass& sharedPass() {
    static RecordPass pass;
    return pass;
}

// Both renderers share the preparation and the points drawn over the lines.
void drawRecords(const PCPlot& plot, const FrameAxes& frame, bool straight, int stride = 1) {
    RecordPass& pass = sharedPass();
    GlSink sink;
    if (!pass.prepare(plot, frame)) {
        sink.lineWidth(plot.curveLineWidth);
        sink.pointSize(plot.pointSize);
        return;
    }
    pass.stride = stride;
    pass.skip = highlightedRecordOf(plot);
    const PieceRule rule = screenPieceRule(plot);
    renderRecordLayer(plot, pass, rule, straight, sink);
    renderHighlightedRecord(plot, pass, rule, straight, sink);
}

}  // namespace

void drawRecordLines(const PCPlot& plot, const FrameAxes& frame) { drawRecords(plot, frame, true); }

void drawRecordCurves(const PCPlot& plot, const FrameAxes& frame) { drawRecords(plot, frame, false); }

void drawRecordsGl(const PCPlot& plot, const FrameAxes& frame, int stride) {
    drawRecords(plot, frame, plot.straightLines, stride);
}
