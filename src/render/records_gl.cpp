#include "render/records_gl.h"

#include "base/parallel.h"
#include "records/draw_classes.h"
#include "render/gl_sink.h"

namespace {

RecordPass& sharedPass() {
    static RecordPass pass;
    return pass;
}

// The drawing order of the last call, its scratch kept for the next.
RecordOrder& sharedOrder() {
    static RecordOrder order;
    return order;
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
    // Class by class, so what is selected or painted goes over the rest.
    DrawClasses classes;
    classes.build(plot, pass.skip, threadsFor(0, 2));
    RecordOrder& order = sharedOrder();
    order.build(classes, pass.recordCount, pass.skip);
    pass.order = order.order();
    pass.last = order.positions();
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
