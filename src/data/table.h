#pragma once
// The loaded table and the loader that replaces it.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plot/types.h"

struct Dimension;
struct TableContent;

constexpr int dataFileNameSize = 1000;
extern char dataFileName[dataFileNameSize];

extern int recordCount;
extern int dimensionCount;
extern int shownDimensionCount;
extern bool hasRecordLabels;
extern std::vector<std::string> recordLabels;
// rawValues[j][i]: value of record i in dimension j; null at and above dimensionCount.
extern std::array<std::unique_ptr<double[]>, maxSlots> rawValues;
extern std::array<Dimension*, maxSlots> dimensionTable;
// New at every load, close and refusal: whatever was computed from the
// table's values is stale once it moves, even where the new arrays landed at
// the old addresses.
extern std::uint64_t tableGeneration;

// Copies path into dataFileName; refuses (false, name unchanged) a path that does not fit.
bool setDataFileName(const char* path);

// Reads dataFileName and rebuilds the table, the plot and the default view.
// The file is read on a worker thread (data/load_progress.h) after the old
// table is released; the new one is installed on the calling thread.
void loadDataFile();
// Makes content (moved from) the loaded table and builds its plot and view,
// as a load does.
void installTable(TableContent& content);

// Bytes a table of this size keeps per load (values, normalised copies,
// per-record plot arrays, labels).
unsigned long long tableBytes(long long records, long long dimensions, bool labelled);

// Building the plot over the loaded table, as installTable does: buildPlot
// with the label-column heading and the D names, category labels for
// dimensionTable, then finishPlot. Either may throw std::bad_alloc;
// loadDataFile turns that into a refusal.
void buildPlot(const std::vector<std::string>& names);
void finishPlot();
// Deletes the plot and every Dimension.
void releasePlot();
