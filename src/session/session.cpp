#include "session/session.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <new>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"
#include "data/text_columns.h"
#include "listing/records_table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "shapes/shape.h"
#include "stroke/stroke.h"

void installSessionHooks() {
    // Every kept brush points at axes: none outlives them.
    setAxesReleaseHook(dropBrushes);
}

namespace {

void (*tableReleaseHook)() = nullptr;
// The file of the table shown: dataFileName names the file being read while
// a load runs, and again this one when that file is refused.
std::string shownFileName;

// The empty table: no records, no dimensions, a fresh plot.
void loadEmptyTable() {
    ++tableGeneration;
    shownFileName.clear();
    releasePlot();
    releaseTable();
    clearTableCounts();
    buildPlot({});
    finishPlot();
}

}  // namespace

LoadResult readTableKeepingView(const std::string& path, int columnRules, TableContent& content) {
    // What was computed from the table shown and can be again (the bins
    // and pictures of its records) goes first: it never takes memory
    // together with the table being read.
    if (tableReleaseHook != nullptr) tableReleaseHook();
    // The view shown stays whole while the worker reads: the plot is put
    // aside, so the input handlers find none and change nothing meanwhile
    // (as while no table is loaded), and comes back unchanged.
    PCPlot* const shown = plot;
    plot = nullptr;
    struct Restore {
        PCPlot* shown;
        ~Restore() {
            plot = shown;
            if (plot == nullptr) return;
            // The window may have changed size meanwhile.
            plot->viewportX = 0;
            plot->viewportY = 0;
            plot->viewportWidth = windowWidth;
            plot->viewportHeight = windowHeight;
        }
    } restore{shown};
    LoadOptions options;
    options.columnRules = columnRules;
    // Beside the table shown, which stays until the new one is accepted.
    options.heldBytes = static_cast<std::size_t>(tableBytes(recordCount, dimensionCount, hasRecordLabels));
    LoadResult result = LoadResult::Empty;
    runLoadWorker([&] { result = readTableFileOrRefuse(path, content, options); });
    return result;
}

bool installReadTable(TableContent& content) {
    try {
        installTable(content);
        return true;
    } catch (const std::bad_alloc&) {
        // The view shown went as the new one was built: the empty table
        // takes its place.
        releasePlot();
        traceRefusal(" out of memory, file not loaded");
        loadEmptyTable();
        return false;
    }
}

void keepShownFileName() { setDataFileName(shownFileName.c_str()); }

// Builds the plot and its dimensions over whatever the table holds now.
void buildPlot(const std::vector<std::string>& names, const std::vector<std::array<double, 2>>& extremes) {
    const long long requested = static_cast<long long>(recordCount) + 100;
    plot = new PCPlot(static_cast<int>(std::min<long long>(requested, INT_MAX)));
    plot->labelColumnName = names.empty() ? std::string() : names[0];
    plot->recordLabels = &recordLabels;
    // Key X switches the step with the smoothing; a new plot starts smooth.
    curveStep = plot->antialiasingOff ? 0.01 : 0.002;
    for (int j = 0; j < dimensionCount; ++j) {
        const size_t nameIndex = static_cast<size_t>(j) + 1;
        const std::string& name = nameIndex < names.size() ? names[nameIndex] : std::string();
        const std::size_t at = static_cast<std::size_t>(j);
        dimensionTable[j] = new Dimension(name, plot->recordCount, plot->capacity, rawValues[j].get(), 0.0, 0.0,
                                          at < extremes.size() ? extremes[at].data() : nullptr);
    }
}

void finishPlot() {
    resetPlot();
    plot->colorBySelection = true;
    ++plot->colorRevision;
}

void installTable(TableContent& content) {
    ++tableGeneration;
    shownFileName = dataFileName;
    releasePlot();
    releaseTable();
    takeTable(content);
    std::vector<std::string> names{content.labelColumnName};
    names.insert(names.end(), content.names.begin(), content.names.end());
    buildPlot(names, content.extremes);
    for (std::size_t j = 0; j < content.formats.size() && j < content.names.size(); ++j)
        dimensionTable[j]->format = content.formats[j];
    for (std::size_t j = 0; j < content.missingValues.size() && j < content.names.size(); ++j)
        dimensionTable[j]->missingValue = content.missingValues[j];
    for (const LabelSection& section : content.sections)
        dimensionTable[section.dimension]->setLabels(
            static_cast<int>(section.entries.size()), section.entries.data(),
            section.records.size() == section.entries.size() ? section.records.data() : nullptr);
    finishPlot();
}

void setTableReleaseHook(void (*hook)()) { tableReleaseHook = hook; }

void releasePlot() {
    // A sort of the records window reads the table on its worker: it stops first.
    recordsTable.releaseTable();
    if (tableReleaseHook != nullptr) tableReleaseHook();
    // Shapes point at the plot's axes: they go first.
    clearShapes();
    delete plot;
    plot = nullptr;
    for (Dimension*& dimension : dimensionTable) {
        delete dimension;
        dimension = nullptr;
    }
}

bool loadDataFile() {
    // One table at a time: the commands that load check loadInProgress()
    // first, and this keeps a nested call from pulling the table away.
    if (loadInProgress()) return false;
    const std::string path = dataFileName;
    if (path.empty()) {
        loadEmptyTable();
        return true;
    }
    RunningLoad running;
    TableContent content;
    if (readTableKeepingView(path, columnRulesVersion, content) != LoadResult::Loaded) {
        // Refused, with its line: the view shown stays, and so does its name.
        keepShownFileName();
        return false;
    }
    return installReadTable(content);
}

void resetPlot() {
    if (plot == nullptr) return;
    PCPlot& p = *plot;
    p.pointSize = 5.0;
    p.curveLineWidth = 2.0;
    p.axisLineWidth = 2.0;
    axesLocked = false;
    layoutTargetsValid = false;
    interaction.shapeDragActive = false;
    p.recordColors.clearAll();
    p.hasHighlightedRecord = false;
    // Every axis upright and linear again.
    for (Dimension* d : dimensionTable) {
        if (d == nullptr) continue;
        d->setScale(AxisScale::Linear);
        d->setFlipped(false);
    }
    clearShapes();
    p.buildDimensionList();
    p.showHistograms = false;
    p.buildAxes();
    for (int i = 0; i < p.axisCount; ++i) shapes.push_back(std::make_unique<AxisMDSShape>(p.axes[i]));

    auto newPalette = std::make_unique<ColorSquareShape>();
    newPalette->x = 0.01;
    newPalette->y = 0.3;
    newPalette->size = 0.04;
    newPalette->paletteHeight = 0.5;
    if (newPalette->selected)
        newPalette->deselect(0, 0);
    else
        newPalette->select(0, 0);
    newPalette->currentColor = {0.2, 0.2, 0.2, 0.2};
    palette = newPalette.get();
    shapes.push_back(std::move(newPalette));

    p.recordColors.setAll({0.2, 0.2, 0.2, 0.2});
    ++p.colorRevision;
    clearBrushes();
    layoutAnimationPaused = false;
    layoutAnimating = false;
}

TableContent selectedRecords() {
    TableContent content;
    if (plot == nullptr) return content;
    // In the records window's order while it is sorted.
    std::vector<std::size_t> chosen;
    recordsTable.listedRecords(chosen);
    content.recordCount = static_cast<int>(chosen.size());
    content.shownCount = shownDimensionCount;
    content.hasLabels = hasRecordLabels;
    content.labelColumnName = plot->labelColumnName;
    for (int j = 0; j < dimensionCount; ++j) {
        const Dimension& dimension = *dimensionTable[j];
        content.names.push_back(dimension.name);
        std::unique_ptr<double[]> values(new double[chosen.size()]);
        for (std::size_t k = 0; k < chosen.size(); ++k) values[k] = rawValues[j][chosen[k]];
        content.columns.push_back(std::move(values));
        if (dimension.labelCount > 0)
            content.sections.push_back(LabelSection{
                j, {dimension.labels.begin(), dimension.labels.begin() + dimension.labelCount}, {}});
    }
    if (hasRecordLabels)
        for (std::size_t i : chosen) content.labels.push_back(recordLabels[i]);
    return content;
}

bool exportSelectedRecordsTo(const std::string& path) {
    const TableContent content = selectedRecords();
    if (!writeTableFile(content, path)) {
        traceRefusal(" could not write ", path, ", records not exported");
        return false;
    }
    trace(" exported ", content.recordCount, " records to ", path);
    return true;
}
