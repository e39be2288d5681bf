#pragma once
// The record layer made on the CPU, in stages that can stop after any slice
// of records and go on later from where they stopped. Records are composed
// class by class in the drawing order (draw_classes.h): the lines of each
// class, the binned ones laid over the image first and the ones drawn record
// by record (in record order) over them, then the points of each class
// likewise, then the highlighted record over everything. Under density
// shading the marks are accumulated instead of blended, each class ranked
// on its own, and composited in the same order at the end. A layer run in
// slices is pixel for pixel the layer run in one go.

#include <cstdint>
#include <vector>

#include "bins/binned_table.h"
#include "records/accumulation.h"
#include "records/draw_classes.h"
#include "records/frame_axes.h"
#include "records/raster.h"
#include "records/records.h"

struct PCPlot;

struct LayerOptions {
    int width = 0;
    int height = 0;
    int threads = 1;
    bool binned = false;   // draw from bins what bins can draw
    bool density = false;  // opacity from the records covering a pixel
};

// Builds (or keeps) the bins a layer of plot in width x height pixels needs
// and returns what they draw: per request its geometry (lines and points, or
// curve pieces) and its bins, none where a region is drawn record by record;
// `colors` is set to the record colours the bins count.
struct BinnedRegions {
    const BinColors* colors = nullptr;
    std::vector<BinRequest> requests;
    std::vector<RegionGeometry> geometry;
    std::vector<CellGeometry> pieces;
    std::vector<PreparedBins> bins;
};
BinnedRegions prepareBins(const PCPlot& plot, const FrameAxes& frame, const RecordPass& pass, BinnedTable& bins,
                          int width, int height, int threads);

// Pixels the records drawn one by one touch at stride 1, from the record
// count and the geometry alone: what a layer will cost before it is drawn.
// binnedLines / binnedPoints (per region, may be null) leave regions out.
double perRecordPixels(const PCPlot& plot, const FrameAxes& frame, int width, int height,
                       const std::vector<char>* binnedLines = nullptr, const std::vector<char>* binnedPoints = nullptr);

class LayerComposer {
public:
    // Plans the layer (which regions come from bins), builds what bins it
    // needs and lays down what needs no records. False when the plot has
    // nothing to draw but the background (the layer is then done).
    void start(const PCPlot& plot, const FrameAxes& frame, BinnedTable& bins, const LayerOptions& options);
    // Draws every stride-th record where records are drawn one by one (with
    // their alpha raised to stand for the rest); before the first run.
    void setStride(int stride);
    // Works until done or past deadline (steady-clock milliseconds); at least
    // one slice. True when the layer is complete.
    bool run(const PCPlot& plot, double deadlineMs);
    bool done() const { return stage_ == Stage::Done; }
    // Share of the work done, 0 to 1.
    double fraction() const;
    const RasterImage& image() const { return image_; }
    RasterImage& image() { return image_; }
    // Records drawn one by one at stride 1 (the level-of-detail estimate) and
    // whether any region came from bins.
    double recordPixels() const { return recordPixels_; }
    bool usedBins() const { return usedBins_; }
    // Regions whose lines are drawn record by record.
    int perRecordRegions() const { return perRecordRegions_; }
    // Gives back what is kept per record; the next start builds it again.
    void release();

private:
    enum class Stage { Lines, Points, Finish, Done };

    // Draws the positions [first, last) of the current class and stage on every band.
    void walk(const PCPlot& plot, int first, int last);
    void finish(const PCPlot& plot);
    // The lines, or the points, from bins and, unless binnedOnly, those
    // accumulated record by record under density shading.
    std::vector<LayerSource> sourcesOf(bool points, bool binnedOnly) const;
    // Lays their classes [first, last) over the image, class by class, on
    // every band; by density with scales[class] when given.
    void composite(const std::vector<LayerSource>& sources, int first, int last, const DensityScale* scales = nullptr);
    // Positions of the current class: [classBegin, classEnd).
    int classBegin() const;
    int classEnd() const;

    LayerOptions options_;
    RasterImage image_;
    // Shading density: the marks drawn record by record, a layer per class.
    Accumulation lines_;
    Accumulation points_;
    bool accumulatedLines_ = false;
    bool accumulatedPoints_ = false;
    // What the bins drew, per region, a layer per class: lines (or pieces),
    // points; with the lines the largest alpha of each class's marks there.
    struct Drawn {
        const Accumulation* acc = nullptr;
        std::vector<float> alpha;
    };
    std::vector<Drawn> binnedLines_;
    std::vector<Drawn> binnedPoints_;
    bool usedBins_ = false;
    RecordPass pass_;
    std::vector<RecordPass> workers_;
    RecordOrder order_;
    int classes_ = 0;
    int class_ = 0;          // the class being composed
    bool classBegun_ = false;  // its binned layers are down
    bool lineRegions_ = false;  // some region's lines are drawn record by record
    PieceRule rule_ = PieceRule::fixedStep(0.002);
    RasterView view_;
    bool smooth_ = true;
    bool straight_ = true;
    int highlight_ = -1;
    Stage stage_ = Stage::Done;
    std::vector<int> pointRegions_;  // open regions whose points are drawn one by one
    std::size_t pointRegion_ = 0;    // the one being drawn
    int next_ = 0;                   // first position of the next slice
    int sliceRecords_ = 1024;
    double recordPixels_ = 0.0;
    int perRecordRegions_ = 0;
    double totalWork_ = 0.0;
    double doneWork_ = 0.0;
};
