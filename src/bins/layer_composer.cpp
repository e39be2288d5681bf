#include "bins/layer_composer.h"

#include <algorithm>
#include <cmath>

#include "base/parallel.h"
#include "base/platform.h"
#include "base/signature.h"
#include "plot/scatter_square.h"
#include "bins/cell_bins.h"
#include "data/dimension.h"
#include "data/table.h"
#include "mds/mds_axis.h"
#include "plot/axis.h"
#include "plot/plot.h"

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
    const ScatterSquare square = scatterSquare(a.x, b.x, plot.regionMargin, region.transition ? region.t : 1.0);
    g.px = (square.left - view.left) * view.scaleX;
    g.pw = square.width * view.scaleX;
    g.sx = 0.001 * view.scaleX;
    g.sy = -0.001 * view.scaleY;
    g.lineWidth = plot.curveLineWidth;
    g.pointSize = plot.pointSize;
    g.lineOpacity = region.curveOpacity;
    g.pointOpacity = region.pointOpacity;
    g.smooth = !plot.antialiasingOff;
    g.ordered = !densityShading;
    g.width = width;
    g.height = height;
    return g;
}

// Columns of one region's lines or points drawn as one part of a frame:
// narrow enough that the parts of all regions share out evenly among threads.
constexpr int kBandColumns = 16;
struct ColumnBand {
    std::size_t request;
    int first;
    int last;
};

// Lines of any width, down to none (a region narrower than half a pixel
// draws each bin's lines up its column).
bool binnableLines(const RegionGeometry& g) {
    return std::isfinite(g.x0 + g.x1 + g.p0 + g.q0 + g.p1 + g.q1) && g.q0 > 0.0 && g.q1 > 0.0;
}

bool binnablePoints(const RegionGeometry& g) {
    return std::isfinite(g.px + g.pw + g.p0 + g.q0) && std::fabs(g.px) < 1e6 && std::fabs(g.p0) < 1e6 &&
           std::fabs(g.pw) < 1e6 && std::fabs(g.q0) < 1e6;
}

// The pieces of region i as every cell draws them: control points affine
// in the cell's values on axes i - 1, i, i + 1 and i + 2, in pixels, as the
// renderers of records.h place them. False where a piece takes a point of
// an MDS plot, which only the records know.
bool pieceGeometry(const PCPlot& plot, const RecordPass& pass, int i, const RasterView& view, int width, int height,
                   CellGeometry& out) {
    const int n = pass.axisCount;
    auto slot = [i](int axis) { return axis - (i - 1); };
    auto px = [&](double x) { return (x - view.left) * view.scaleX; };
    auto axisPoint = [&](int k) {
        const RecordPass::AxisGeometry& a = pass.axes[static_cast<std::size_t>(k)];
        return AffinePoint{Affine::constant(px(a.x)),
                           Affine::linear((a.bottom - view.bottom) * view.scaleY, slot(k), a.height * view.scaleY)};
    };
    auto mds = [&](int j) {
        return usableLayout(*plot.axes[static_cast<std::size_t>(j)], plot.recordCount) != nullptr;
    };
    // The point of region j's scatterplot: across by the right value, at the left value's height.
    auto scatterPoint = [&](int j) {
        const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(j)];
        const ScatterSquare square =
            scatterSquare(pass.axes[static_cast<std::size_t>(j)].x, pass.axes[static_cast<std::size_t>(j) + 1].x,
                          plot.regionMargin, region.transition ? region.t : 1.0);
        AffinePoint s = axisPoint(j);
        s.x = Affine::linear(px(square.left), slot(j + 1), square.width * view.scaleX);
        return s;
    };
    bool usable = true;
    auto neighbour = [&](int j, const AffinePoint& closed) {
        const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(j)];
        if (!region.open) return closed;
        usable = usable && !mds(j);
        const AffinePoint s = scatterPoint(j);
        return region.transition ? blend(closed, s, region.t) : s;
    };
    const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(i)];
    const CurveBasis regionBasis = region.transition ? region.transitionBasis : catmullRomBasis;
    const AffinePoint a = axisPoint(i);
    const AffinePoint b = axisPoint(i + 1);
    out.pieces.clear();
    if (!plot.straightLines) {
        const AffinePoint before = i > 0 ? neighbour(i - 1, axisPoint(i - 1)) : a;
        const AffinePoint after = i < n - 2 ? neighbour(i + 1, axisPoint(i + 2)) : b;
        if (!region.open) {
            out.pieces.push_back({catmullRomBasis, {before, a, b, after}});
        } else {
            const AffinePoint s = scatterPoint(i);
            out.pieces.push_back({regionBasis, {before, a, s, b}});
            const AffinePoint lead = region.transition ? blend(before, a, region.t) : a;
            out.pieces.push_back({catmullRomBasis, {lead, s, b, after}});
        }
    } else if (region.open) {
        // Straight lines bend through the point; beyond it a neighbour is
        // the point moved one region over.
        const AffinePoint s = scatterPoint(i);
        AffinePoint before = a;
        if (i > 0) before = neighbour(i - 1, {s.x - a.x + axisPoint(i - 1).x, s.y - a.y + axisPoint(i - 1).y});
        out.pieces.push_back({regionBasis, {before, a, s, b}});
        AffinePoint after = b;
        if (i < n - 2) after = neighbour(i + 1, {s.x - b.x + axisPoint(i + 2).x, s.y - b.y + axisPoint(i + 2).y});
        out.pieces.push_back({regionBasis, {a, s, b, after}});
    }
    out.x0 = px(pass.axes[static_cast<std::size_t>(i)].x);
    out.x1 = px(pass.axes[static_cast<std::size_t>(i) + 1].x);
    out.lineWidth = plot.curveLineWidth;
    out.opacity = region.lineFactor * region.curveOpacity;
    out.smooth = !plot.antialiasingOff;
    out.width = width;
    out.height = height;
    bool finite = std::isfinite(out.x0 + out.x1);
    for (const CellPiece& piece : out.pieces)
        for (const AffinePoint& p : piece.points)
            for (const Affine* f : {&p.x, &p.y}) {
                double sum = f->c;
                for (double g : f->g) sum += std::fabs(g);
                finite = finite && std::isfinite(sum) && std::fabs(sum) < 1e7;
            }
    return usable && finite && !out.pieces.empty();
}

// Draws what bins draw of each request (null where nothing is drawn).
std::vector<const Accumulation*> drawBinned(const BinnedRegions& binned, int threads) {
    const BinColors& colors = *binned.colors;
    const std::vector<BinRequest>& requests = binned.requests;
    std::vector<const Accumulation*> drawn(requests.size(), nullptr);
    // Pieces each on every thread, in bands of columns, as they take
    // longest. Lines and points are readied region by region, then drawn
    // in bands of columns of all regions together, so that no thread
    // waits while another draws a wide region.
    std::vector<ColumnBand> bands;
    for (std::size_t q = 0; q < requests.size(); ++q) {
        const PreparedBins& b = binned.bins[q];
        if (requests[q].kind == BinKind::Pieces) {
            if (b.cells != nullptr)
                drawn[q] = &b.cells->draw(colors, uprightPieces(binned.pieces[q], b.flippedCellValues), threads);
        } else if (b.pair != nullptr) {
            const bool lines = requests[q].kind == BinKind::Lines;
            const ColumnRange columns = lines ? b.pair->beginLines(colors, binned.geometry[q])
                                              : b.pair->beginPoints(colors, binned.geometry[q]);
            drawn[q] = lines ? &b.pair->lines() : &b.pair->points();
            for (int x = columns.first; x < columns.last; x += kBandColumns)
                bands.push_back({q, x, std::min(columns.last, x + kBandColumns)});
        }
    }
    runParts(static_cast<int>(bands.size()), threads, [&](int k) {
        const ColumnBand& band = bands[static_cast<std::size_t>(k)];
        RegionBins& pair = *binned.bins[band.request].pair;
        if (requests[band.request].kind == BinKind::Lines)
            pair.drawLines(colors, band.first, band.last);
        else
            pair.drawPoints(colors, band.first, band.last);
    });
    return drawn;
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
    // The highlighted record is left out of the bins: it is drawn over them.
    out.colors = &bins.colors(plot, binColorKey(plot), selectionOrdersRecords(plot) ? plot.selectionRevision + 1 : 0,
                              highlightedRecordOf(plot), threads);
    const RasterView view = RasterView::of(plot, width, height);
    auto request = [&](int i, BinKind kind, const RegionGeometry& g, const CellGeometry& pieces) {
        out.requests.push_back({i, kind});
        out.geometry.push_back(g);
        out.pieces.push_back(pieces);
    };
    for (int i = 0; i + 1 < pass.axisCount; ++i) {
        const RecordPass::RegionState& region = pass.regions[static_cast<std::size_t>(i)];
        // An MDS plot places its points by the layout, which only the
        // records know: that region stays with them.
        if (region.open && usableLayout(*plot.axes[static_cast<std::size_t>(i)], plot.recordCount) != nullptr) continue;
        const RegionGeometry g = regionGeometry(plot, pass, i, view, width, height);
        CellGeometry pieces;
        if (plot.straightLines && !region.open) {
            if (binnableLines(g)) request(i, BinKind::Lines, g, pieces);
        } else if (pieceGeometry(plot, pass, i, view, width, height, pieces)) {
            request(i, BinKind::Pieces, g, pieces);
        }
        if (region.open && binnablePoints(g)) request(i, BinKind::Points, g, CellGeometry{});
    }
    out.bins = bins.prepare(plot, frame, out.requests, width, height, threads);
    return out;
}

void LayerComposer::setStride(int stride) {
    pass_.stride = std::max(1, stride);
    const double walked = std::ceil(static_cast<double>(order_.positions()) / pass_.stride);
    totalWork_ = walked * ((lineRegions_ ? 1.0 : 0.0) + static_cast<double>(pointRegions_.size())) + 1.0;
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
    usedBins_ = lineRegions_ = accumulatedLines_ = accumulatedPoints_ = false;
    binnedLines_.clear();
    binnedPoints_.clear();
    order_.records.clear();
    order_.binStart.clear();
    classes_ = class_ = 0;
    classBegun_ = false;
    pointRegions_.clear();
    pointRegion_ = 0;
    next_ = 0;
    sliceRecords_ = 1024;
    recordPixels_ = 0.0;
    perRecordRegions_ = 0;
    totalWork_ = doneWork_ = 0.0;
    stage_ = Stage::Done;
    const int threads = std::max(1, options.threads);
    runSplit(h, threads, [&](long long first, long long last, int) {
        image_.fillRows(static_cast<int>(first), static_cast<int>(last), plot.backgroundColor);
    });
    if (!pass_.prepare(plot, frame)) return;

    if (options.binned) {
        const BinnedRegions binned = prepareBins(plot, frame, pass_, bins, w, h, threads);
        const BinColors& colors = *binned.colors;
        const std::vector<BinRequest>& requests = binned.requests;
        const std::vector<const Accumulation*> drawn = drawBinned(binned, threads);
        bins.trim();
        for (std::size_t k = 0; k < requests.size(); ++k) {
            if (drawn[k] == nullptr) continue;
            RecordPass::RegionState& region = pass_.regions[static_cast<std::size_t>(requests[k].leftAxis)];
            if (requests[k].kind == BinKind::Points) {
                // Points mix with their shadows: no one colour to settle at.
                binnedPoints_.push_back({drawn[k], {}});
                region.binnedPoints = true;
                continue;
            }
            const double opacity =
                requests[k].kind == BinKind::Pieces ? binned.pieces[k].opacity : binned.geometry[k].lineOpacity;
            // Aliased marks are opaque: nothing to settle.
            std::vector<float> alpha(static_cast<std::size_t>(std::max(colors.classCount, 1)), 0.0f);
            for (int g = 0; smooth_ && g < colors.groupCount; ++g) {
                float& a = alpha[colors.groupClass[static_cast<std::size_t>(g)]];
                a = std::max(a, static_cast<float>(std::min(1.0, colors.groupAlpha[static_cast<std::size_t>(g)] * opacity)));
            }
            binnedLines_.push_back({drawn[k], std::move(alpha)});
            region.binnedLines = true;
        }
        usedBins_ = !binnedLines_.empty() || !binnedPoints_.empty();
        classes_ = colors.classCount;
    }
    // The highlighted record is left out of the rest and drawn over everything.
    highlight_ = highlightedRecordOf(plot);
    pass_.skip = highlight_;

    std::vector<char> binnedLines(static_cast<std::size_t>(std::max(pass_.axisCount - 1, 0)), 0);
    std::vector<char> binnedPoints(binnedLines.size(), 0);
    for (int i = 0; i + 1 < pass_.axisCount; ++i) {
        const RecordPass::RegionState& region = pass_.regions[static_cast<std::size_t>(i)];
        binnedLines[static_cast<std::size_t>(i)] = region.binnedLines;
        binnedPoints[static_cast<std::size_t>(i)] = region.binnedPoints;
        if (region.open && !region.binnedPoints) pointRegions_.push_back(i);
        lineRegions_ = lineRegions_ || !region.binnedLines;
        perRecordRegions_ += !region.binnedLines;
    }
    recordPixels_ = perRecordPixels(plot, frame, w, h, &binnedLines, &binnedPoints);
    if (lineRegions_ || !pointRegions_.empty()) {
        // Records drawn one by one go class by class, each class of theirs
        // among the bins' class it belongs to.
        DrawClasses classes;
        classes.build(plot, highlight_, threads);
        order_.build(classes, pass_.recordCount, highlight_);
        pass_.order = order_.order();
        classes_ = std::max(classes_, classes.binClasses());
        if (options.density) {
            // Marks accumulated record by record, a layer per class.
            if (lineRegions_) lines_.reset(0, 0, w, h, classes_);
            if (!pointRegions_.empty()) points_.reset(0, 0, w, h, classes_);
            accumulatedLines_ = lineRegions_;
            accumulatedPoints_ = !pointRegions_.empty();
        }
    }
    setStride(1);
    stage_ = Stage::Lines;
}

void LayerComposer::release() {
    pass_ = RecordPass{};
    workers_.clear();
    order_ = RecordOrder{};
    binnedLines_.clear();
    binnedPoints_.clear();
    stage_ = Stage::Done;
}

double LayerComposer::fraction() const {
    if (stage_ == Stage::Done || totalWork_ <= 0.0) return 1.0;
    return std::clamp(doneWork_ / totalWork_, 0.0, 1.0);
}

int LayerComposer::classBegin() const {
    return class_ + 1 < static_cast<int>(order_.binStart.size()) ? order_.binStart[static_cast<std::size_t>(class_)] : 0;
}

int LayerComposer::classEnd() const {
    return class_ + 1 < static_cast<int>(order_.binStart.size()) ? order_.binStart[static_cast<std::size_t>(class_) + 1] : 0;
}

std::vector<LayerSource> LayerComposer::sourcesOf(bool points, bool binnedOnly) const {
    std::vector<LayerSource> sources;
    for (const Drawn& d : points ? binnedPoints_ : binnedLines_)
        sources.push_back({d.acc, d.alpha.empty() ? nullptr : d.alpha.data()});
    if (!binnedOnly && (points ? accumulatedPoints_ : accumulatedLines_))
        sources.push_back({points ? &points_ : &lines_, nullptr});
    return sources;
}

void LayerComposer::composite(const std::vector<LayerSource>& sources, int first, int last,
                              const DensityScale* scales) {
    if (sources.empty() || first >= last) return;
    runSplit(options_.height, std::max(1, options_.threads), [&](long long rowsFrom, long long rowsTo, int) {
        compositeLayers(sources, first, last, image_, static_cast<int>(rowsFrom), static_cast<int>(rowsTo), scales);
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
                renderHighlightedRecord(plot, pass, rule_, straight_, sink);
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
            RasterSink sink(target, class_, weight, options_.width, h, view_, smooth_, begin, end);
            draw(sink);
        }
    });
}

bool LayerComposer::run(const PCPlot& plot, double deadlineMs) {
    const int stride = std::max(1, pass_.stride);
    const bool timed = std::isfinite(deadlineMs);
    // Walks of a few milliseconds each, sized by the pace measured so far,
    // and none started that would end well past the deadline.
    constexpr double walkMs = 10.0;
    bool walked = false;
    do {
        if (stage_ == Stage::Lines || stage_ == Stage::Points) {
            const bool points = stage_ == Stage::Points;
            if (class_ >= classes_) {
                // Every class's lines are down: the points go over them.
                stage_ = points ? Stage::Finish : Stage::Points;
                class_ = 0;
                classBegun_ = false;
                continue;
            }
            const bool anyRecords = points ? !pointRegions_.empty() : lineRegions_;
            if (!classBegun_) {
                // The class's marks from bins go down before its records
                // drawn one by one; with none of those, every class at once.
                if (!options_.density && (anyRecords || class_ == 0))
                    composite(sourcesOf(points, true), class_, anyRecords ? class_ + 1 : classes_);
                classBegun_ = true;
                pointRegion_ = 0;
                next_ = classBegin();
            }
            const bool perRecord = points ? pointRegion_ < pointRegions_.size() : lineRegions_;
            if (!perRecord || next_ >= classEnd()) {
                if (perRecord && points && ++pointRegion_ < pointRegions_.size()) {
                    next_ = classBegin();
                } else {
                    ++class_;
                    classBegun_ = false;
                }
                continue;
            }
            const double begun = steadyMs();
            if (timed && walked && begun + walkMs * 0.5 > deadlineMs) break;
            walked = true;
            const int end = classEnd();
            const int last = timed ? static_cast<int>(std::min<long long>(end, static_cast<long long>(next_) +
                                                                              static_cast<long long>(sliceRecords_) * stride))
                                   : end;
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
        // Each class ranked among its own pixels, composited over the ones before it.
        const std::vector<LayerSource> lines = sourcesOf(false, false);
        const std::vector<LayerSource> points = sourcesOf(true, false);
        std::vector<LayerSource> all = lines;
        all.insert(all.end(), points.begin(), points.end());
        std::vector<DensityScale> scales(static_cast<std::size_t>(classes_));
        for (int c = 0; c < classes_; ++c) scales[static_cast<std::size_t>(c)].build(all, c);
        composite(lines, 0, classes_, scales.data());
        composite(points, 0, classes_, scales.data());
    }
    if (highlight_ >= 0) {
        pass_.order = nullptr;
        walk(plot, highlight_, highlight_ + 1);
        pass_.order = order_.order();
    }
}
