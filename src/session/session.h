#pragma once
// The life of a data file in the viewer: reading it into the table, building
// its plot and default view, resetting that view, writing out the selected
// records, and releasing the plot again. Whatever points at a plot's axes
// (the shapes, the kept brushes) goes before the axes do; each axis takes
// its MDS layout with it.

#include <array>
#include <string>
#include <vector>

#include "data/table.h"

struct TableContent;

// Installs the hooks through which lower layers hand work to the session:
// the release of the axes drops the kept brushes first. Call it once before
// any plot is built (start-up, and every test fixture or tool that builds
// one); the hooks stop the program when they are missing.
void installSessionHooks();
// Called as the plot and its table are released (every install and close),
// so that what a higher layer computed from them goes with them, and before
// another file is read beside them, so that what can be computed again
// leaves room for it. The record layer sets it; null for none.
void setTableReleaseHook(void (*hook)());

// Reads dataFileName and rebuilds the table, the plot and the default view;
// an empty name loads the empty table. The file is read on a worker thread
// (data/load_progress.h) beside the table shown, which stays until the new
// one is accepted: a refused file (its line traced) leaves the view, the
// table and dataFileName as they were. The new table is installed on the
// calling thread. False when nothing new was installed.
bool loadDataFile();

// The steps of a load, for a caller that checks the table read before it
// is installed (a session). readTableKeepingView reads path as loadDataFile
// does, under the given version of the column rules, while a RunningLoad lives;
// installReadTable makes content the loaded table (false, with the empty
// table, when memory ran out); keepShownFileName puts back dataFileName of
// the table shown after a refusal.
LoadResult readTableKeepingView(const std::string& path, int columnRules, TableContent& content);
bool installReadTable(TableContent& content);
void keepShownFileName();
// Makes content (moved from) the loaded table and builds its plot and view,
// as a load does.
void installTable(TableContent& content);

// Building the plot over the loaded table, as installTable does: buildPlot
// with the label-column heading and the D names, category labels for
// dimensionTable, then finishPlot. Either may throw std::bad_alloc;
// loadDataFile turns that into a refusal.
// extremes: per dimension, the least and largest value where the reader
// found them (none: they are read from the values).
void buildPlot(const std::vector<std::string>& names, const std::vector<std::array<double, 2>>& extremes = {});
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
