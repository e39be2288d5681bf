#pragma once
// The loaded table and the loader that replaces it.

#include <array>
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

// Copies path into dataFileName; refuses (false, name unchanged) a path that does not fit.
bool setDataFileName(const char* path);

// Reads dataFileName and rebuilds the table, the plot and the default view.
void loadDataFile();
// Makes content (moved from) the loaded table and builds its plot and view,
// as a load does.
void installTable(TableContent& content);
// Deletes the plot and every Dimension.
void releasePlot();
