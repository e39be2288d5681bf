#pragma once
// The life of a data file in the viewer: reading it into the table, building
// its plot and default view, resetting that view, writing out the selected
// records, and releasing the plot again. Whatever points at a plot's axes
// (the shapes, the kept brushes) goes before the axes do; each axis takes
// its MDS layout with it.

#include <string>
#include <vector>

struct TableContent;

// Installs the hooks through which lower layers hand work to the session:
// the release of the axes drops the kept brushes first. Call it once before
// any plot is built (start-up, and every test fixture or tool that builds
// one); the hooks stop the program when they are missing.
void installSessionHooks();
// Called as the plot and its table are released (every load, before the next
// file is read, and every close), so that what a higher layer computed from
// them goes with them. The record layer sets it; null for none.
void setTableReleaseHook(void (*hook)());

// Reads dataFileName and rebuilds the table, the plot and the default view.
// The file is read on a worker thread (data/load_progress.h) after the old
// table is released; the new one is installed on the calling thread.
void loadDataFile();
// Makes content (moved from) the loaded table and builds its plot and view,
// as a load does.
void installTable(TableContent& content);

// Building the plot over the loaded table, as installTable does: buildPlot
// with the label-column heading and the D names, category labels for
// dimensionTable, then finishPlot. Either may throw std::bad_alloc;
// loadDataFile turns that into a refusal.
void buildPlot(const std::vector<std::string>& names);
void finishPlot();
// Deletes the shapes, the plot and every Dimension.
void releasePlot();

// Rebuilds the default view of the current plot: axes, shapes, colours, brushes.
void resetPlot();

// A copy of the loaded table holding only the records whose selection degree
// is above 0.99999 (all of them while nothing is brushed), in the records
// window's order while it is open and sorted, else in the table's.
TableContent selectedRecords();

// Writes selectedRecords() to path and traces the outcome; false on failure.
bool exportSelectedRecordsTo(const std::string& path);
