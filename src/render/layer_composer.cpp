#include "render/layer_composer.h"

#include <algorithm>
#include <cmath>

#include "base/parallel.h"
#include "base/platform.h"
#include "data/dimension.h"
#include "data/table.h"
#include "mds/mds_axis.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "render/record_layer.h"
#include "render/signature.h"

namespace {

// Everything a record's colour follows from but the selection: bins are
// counted again when it changes.
std::uint64_t binColorKey(const PCPlot& plot) {
    Signature s;
    s.word(tableGeneration);
    s.word(plot.colorRevision);
    s.integer(plot.recordCount);
    s.flag(plot.useRecordColors);
    s.flag(plot.colorByFunction);
    s.flag(plot.colorBySelection);
    s.integer(plot.colorDimension);
    s.color(plot.recordColor);
    s.flag(plot.hasHighlightedRecord);
    s.integer(plot.highlightedRecord);
    s.function(plot.dimensionColorFn);
    s.function(plot.selectionColorFn);
    if (const Dimension* d = plot.dimensionAt(plot.colorDimension)) {
        // The ramp follows the dimension's scale, not its flip.
        s.number(d->minimum);
        s.number(d->maximum);
        s.integer(static_cast<int>(d->scale));
        s.number(d->scaledMinimum);
        s.number(d->scaledMaximum);
    }
    return s.value();
}

// Where region i's lines and points lie in the layer's pixels.
RegionGeometry regionGeometry(const PCPlot& plot, const RecordPass& pass, int i, const RasterView& view, int width,
                              int height) {
    RegionGeometry g;
    const RecordPass::AxisGeometry& a = pass.axes[static_cast<std::size_t>(i)];
    const RecordPass::AxisGeometry& b = pass.axes[static_cast<std::size_t>(i) + 1];
    g.x0 = (a.x - view.left) * view.scaleX;
    g.x1 = (b.x - view.left) * view.scaleX;
    g.p0 = (a.bottom - view.bottom) * view.scaleY;
    g.q0 = a.height * view.scaleY;
    g.p1 = (b.bottom - view.bottom) * view.scaleY;
    g.q1 = b.height * view.scaleY;
    // The scatterplot's inner 60 %, growing out of the left axis while its
    // transition runs; the points keep their left-axis height.
    const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(i)];
    const double gap = b.x - a.x;
    const double m = plot.regionMargin;
    const double t = region.transition ? region.t : 1.0;
    g.px = (a.x + t * m * gap - view.left) * view.scaleX;
    g.pw = t * (1.0 - 2.0 * m) * gap * view.scaleX;
    g.sx = 0.001 * view.scaleX;
    g.sy = -0.001 * view.scaleY;
    g.lineWidth = plot.curveLineWidth;
    g.pointSize = plot.pointSize;
    g.lineOpacity = region.curveOpacity;
    g.pointOpacity = region.pointOpacity;
    g.smooth = !plot.antialiasingOff;
    g.width = width;
    g.height = height;
    return g;
}

bool binnableLines(const RegionGeometry& g) {
    return std::isfinite(g.x0 + g.x1 + g.p0 + g.q0 + g.p1 + g.q1) && g.q0 > 0.0 && g.q1 > 0.0 &&
           std::fabs(g.x1 - g.x0) >= 0.5;
}

bool binnablePoints(const RegionGeometry& g) {
    return std::isfinite(g.px + g.pw + g.p0 + g.q0) && std::fabs(g.px) < 1e6 && std::fabs(g.p0) < 1e6 &&
           std::fabs(g.pw) < 1e6 && std::fabs(g.q0) < 1e6;
}

}  // namespace

double perRecordPixels(const PCPlot& plot, const FrameAxes& frame, int width, int height,
                       const std::vector<char>* binnedLines, const std::vector<char>* binnedPoints) {
    const int n = plot.axisCount;
    if (n < 2 || plot.recordCount <= 0) return 0.0;
    const RasterView view = RasterView::of(plot, width, height);
    const double across = std::max(plot.curveLineWidth, 1.0) + 2.0;
    const double disc = (plot.pointSize + 2.0) * (plot.pointSize + 2.0);
    // A curve costs its vertices on top of its pixels; measured about 2.5
    // times a straight line of the same length.
    constexpr double curveCost = 2.5;
    auto flagged = [](const std::vector<char>* flags, int i) {
        return flags != nullptr && i < static_cast<int>(flags->size()) && (*flags)[static_cast<std::size_t>(i)] != 0;
    };
    double perRecord = 0.0;
    for (int i = 0; i + 1 < n; ++i) {
        const PCShowAxis* axis = plot.axes[static_cast<std::size_t>(i)];
        if (axis == nullptr) continue;
        const bool open = axis->scatterOn || axis->scatterTransition;
        const double dx = std::fabs(plot.axisPositions[static_cast<std::size_t>(i) + 1] - plot.axisPositions[static_cast<std::size_t>(i)]);
        const double dy = 0.35 * std::max(frame.height[static_cast<std::size_t>(i)], 0.0);
        const double length = std::min(std::hypot(dx * view.scaleX, dy * view.scaleY), 4.0 * (width + height));
        if (!std::isfinite(length)) continue;
        if (!flagged(binnedLines, i)) perRecord += length * across * (!plot.straightLines || open ? curveCost : 1.0);
        if (open && !flagged(binnedPoints, i)) perRecord += 2.0 * disc;
    }
    return perRecord * plot.recordCount;
}

BinnedRegions prepareBins(const PCPlot& plot, const FrameAxes& frame, const RecordPass& pass, BinnedTable& bins,
                          int width, int height, int threads) {
    BinnedRegions out;
    out.highlight = plot.hasHighlightedRecord && plot.highlightedRecord >= 0 && plot.highlightedRecord < plot.recordCount
                        ? plot.highlightedRecord
                        : -1;
    out.colors = &bins.colors(plot, binColorKey(plot),
                              selectionColorsRecords(plot) ? plot.selectionRevision + 1 : 0, out.highlight, threads);
    if (out.colors->overflow) return out;
    const RasterView view = RasterView::of(plot, width, height);
    for (int i = 0; i + 1 < pass.axisCount; ++i) {
        const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(i)];
        const RegionGeometry g = regionGeometry(plot, pass, i, view, width, height);
        // An MDS plot places its points by the layout; curves take their
        // control points beyond the region: both keep to the records.
        const bool lines = plot.straightLines && !region.open && binnableLines(g);
        const bool points = region.open && usableLayout(*plot.axes[static_cast<std::size_t>(i)], plot.recordCount) == nullptr &&
                            binnablePoints(g);
        if (!lines && !points) continue;
        out.requests.push_back({i, lines});
        out.geometry.push_back(g);
    }
    out.regions = bins.prepare(plot, frame, out.requests, width, height, threads);
    return out;
}

void LayerComposer::setStride(int stride) {
    pass_.stride = std::max(1, stride);
    bool lineRegions = false;
    for (int i = 0; i + 1 < pass_.axisCount; ++i)
        lineRegions = lineRegions || !pass_.regions[static_cast<std::size_t>(i)].binnedLines;
    const double walked = std::ceil(static_cast<double>(pass_.recordCount) / pass_.stride);
    totalWork_ = walked * ((lineRegions ? 1.0 : 0.0) + static_cast<double>(pointRegions_.size())) + 1.0;
}

void LayerComposer::start(const PCPlot& plot, const FrameAxes& frame, BinnedTable& bins, const LayerOptions& options) {
    options_ = options;
    const int w = options.width;
    const int h = options.height;
    image_.resize(w, h);
    smooth_ = !plot.antialiasingOff;
    straight_ = plot.straightLines;
    view_ = RasterView::of(plot, w, h);
    rule_ = screenPieceRule(plot);
    highlight_ = -1;
    anyBinnedLines_ = anyBinnedPoints_ = usedBins_ = false;
    pointRegions_.clear();
    pointRegion_ = 0;
    next_ = 0;
    sliceRecords_ = 1024;
    recordPixels_ = 0.0;
    totalWork_ = doneWork_ = 0.0;
    stage_ = Stage::Done;
    const int threads = std::max(1, options.threads);
    runSplit(h, threads, [&](long long first, long long last, int) {
        image_.fillRows(static_cast<int>(first), static_cast<int>(last), plot.backgroundColor);
    });
    if (!pass_.prepare(plot, frame)) return;

    const bool accumulate = options.density;
    if (accumulate || options.binned) {
        lines_.reset(0, 0, w, h);
        points_.reset(0, 0, w, h);
    }
    if (options.binned) {
        const BinnedRegions binned = prepareBins(plot, frame, pass_, bins, w, h, threads);
        const BinColors& colors = *binned.colors;
        const std::vector<BinRequest>& requests = binned.requests;
        const std::vector<RegionGeometry>& geometry = binned.geometry;
        const std::vector<RegionBins*>& regions = binned.regions;
        const int highlight = binned.highlight;
        std::vector<const Accumulation*> drawnLines(requests.size(), nullptr);
        std::vector<const Accumulation*> drawnPoints(requests.size(), nullptr);
        runParts(static_cast<int>(requests.size()), threads, [&](int k) {
            RegionBins* region = regions[static_cast<std::size_t>(k)];
            if (region == nullptr) return;
            const BinRequest& q = requests[static_cast<std::size_t>(k)];
            if (q.lines)
                drawnLines[static_cast<std::size_t>(k)] = &region->drawLines(colors, geometry[static_cast<std::size_t>(k)]);
            else
                drawnPoints[static_cast<std::size_t>(k)] = &region->drawPoints(colors, geometry[static_cast<std::size_t>(k)]);
        });
        for (std::size_t k = 0; k < requests.size(); ++k) {
            RecordPass::RegionState& region = pass_.regions[static_cast<std::size_t>(requests[k].leftAxis)];
            if (drawnLines[k] != nullptr) {
                lines_.addFrom(*drawnLines[k], 0, h);
                region.binnedLines = anyBinnedLines_ = true;
            }
            if (drawnPoints[k] != nullptr) {
                points_.addFrom(*drawnPoints[k], 0, h);
                region.binnedPoints = anyBinnedPoints_ = true;
            }
        }
        usedBins_ = anyBinnedLines_ || anyBinnedPoints_;
        // The highlighted record is left out of the bins and drawn over everything.
        if (usedBins_) {
            highlight_ = highlight;
            pass_.skip = highlight;
        }
    }

    std::vector<char> binnedLines(static_cast<std::size_t>(std::max(pass_.axisCount - 1, 0)), 0);
    std::vector<char> binnedPoints(binnedLines.size(), 0);
    bool lineRegions = false;
    for (int i = 0; i + 1 < pass_.axisCount; ++i) {
        const RecordPass::RegionState& region = pass_.regions[static_cast<std::size_t>(i)];
        binnedLines[static_cast<std::size_t>(i)] = region.binnedLines;
        binnedPoints[static_cast<std::size_t>(i)] = region.binnedPoints;
        if (region.open && !region.binnedPoints) pointRegions_.push_back(i);
        lineRegions = lineRegions || !region.binnedLines;
    }
    recordPixels_ = perRecordPixels(plot, frame, w, h, &binnedLines, &binnedPoints);
    setStride(1);
    if (!lineRegions) next_ = pass_.recordCount;
    if (!accumulate && anyBinnedLines_) compositeAll(lines_);
    stage_ = Stage::Lines;
}

double LayerComposer::fraction() const {
    if (stage_ == Stage::Done || totalWork_ <= 0.0) return 1.0;
    return std::clamp(doneWork_ / totalWork_, 0.0, 1.0);
}

void LayerComposer::compositeAll(Accumulation& acc, const DensityScale* density) {
    runSplit(options_.height, std::max(1, options_.threads), [&](long long first, long long last, int) {
        compositeRows(acc, image_, static_cast<int>(first), static_cast<int>(last), density);
    });
}

void LayerComposer::walk(const PCPlot& plot, int first, int last) {
    const bool points = stage_ == Stage::Points;
    const bool blend = !options_.density || stage_ == Stage::Finish;
    const int h = options_.height;
    const int n = std::max(1, std::min(std::max(1, options_.threads), std::max(h, 1)));
    if (static_cast<int>(workers_.size()) < n - 1) workers_.resize(static_cast<std::size_t>(n - 1));
    pass_.first = first;
    pass_.last = last;
    pass_.pointsOf = points ? pointRegions_[pointRegion_] : -1;
    for (int k = 1; k < n; ++k) workers_[static_cast<std::size_t>(k - 1)].shareGeometry(pass_);
    Accumulation& target = points ? points_ : lines_;
    const float weight = static_cast<float>(pass_.stride);
    runSplit(h, n, [&](long long rowsFrom, long long rowsTo, int k) {
        RecordPass& pass = k == 0 ? pass_ : workers_[static_cast<std::size_t>(k - 1)];
        const int begin = static_cast<int>(rowsFrom);
        const int end = static_cast<int>(rowsTo);
        auto draw = [&](auto& sink) {
            if (stage_ == Stage::Finish) {
                renderRecordLayer(plot, pass, rule_, straight_, sink);
            } else if (points) {
                renderScatterPoints(plot, pass, sink);
            } else if (straight_) {
                renderRecordLines(plot, pass, rule_, sink);
            } else {
                renderRecordCurves(plot, pass, rule_, sink);
            }
        };
        if (blend) {
            RasterSink sink(image_, view_, smooth_, begin, end);
            draw(sink);
        } else {
            RasterSink sink(target, weight, options_.width, h, view_, smooth_, begin, end);
            draw(sink);
        }
    });
}

bool LayerComposer::run(const PCPlot& plot, double deadlineMs) {
    const int records = pass_.recordCount;
    const int stride = std::max(1, pass_.stride);
    const bool timed = std::isfinite(deadlineMs);
    // Walks of a few milliseconds each, sized by the pace measured so far,
    // and none started that would end well past the deadline.
    constexpr double walkMs = 10.0;
    bool walked = false;
    do {
        if (stage_ == Stage::Lines || stage_ == Stage::Points) {
            const bool points = stage_ == Stage::Points;
            if (points && pointRegion_ >= pointRegions_.size()) {
                stage_ = Stage::Finish;
                continue;
            }
            if (next_ >= records) {
                if (!points) {
                    // The lines are down: the binned points go over them.
                    if (!options_.density && anyBinnedPoints_) compositeAll(points_);
                    stage_ = Stage::Points;
                } else {
                    ++pointRegion_;
                }
                next_ = 0;
                continue;
            }
            const double begun = steadyMs();
            if (timed && walked && begun + walkMs * 0.5 > deadlineMs) break;
            walked = true;
            const int last = timed ? static_cast<int>(std::min<long long>(records, static_cast<long long>(next_) +
                                                                               static_cast<long long>(sliceRecords_) * stride))
                                   : records;
            walk(plot, next_, last);
            doneWork_ += std::ceil(static_cast<double>(last - next_) / stride);
            const double spent = steadyMs() - begun;
            if (timed) {
                // Records per walk follow the pace, growing at most by half at a time.
                const double pace = std::ceil(static_cast<double>(last - next_) / stride) / std::max(spent, 0.05);
                sliceRecords_ = std::clamp(static_cast<int>(std::min(pace * walkMs, sliceRecords_ * 1.5)), 64, 1 << 22);
            }
            next_ = last;
            continue;
        }
        if (stage_ == Stage::Finish) {
            finish(plot);
            stage_ = Stage::Done;
            doneWork_ = totalWork_;
        }
    } while (stage_ != Stage::Done && steadyMs() < deadlineMs);
    return stage_ == Stage::Done;
}

void LayerComposer::finish(const PCPlot& plot) {
    if (options_.density) {
        DensityScale scale;
        scale.build({&lines_, &points_});
        compositeAll(lines_, &scale);
        compositeAll(points_, &scale);
    }
    if (highlight_ < 0) return;
    // The highlighted record alone, every region drawn from its own values.
    std::vector<RecordPass::RegionState> kept = pass_.regions;
    for (RecordPass::RegionState& region : pass_.regions) region.binnedLines = region.binnedPoints = false;
    const int stride = pass_.stride;
    pass_.stride = 1;
    pass_.skip = -1;
    walk(plot, highlight_, highlight_ + 1);
    pass_.stride = stride;
    pass_.skip = highlight_;
    pass_.regions = kept;
}
