#pragma once
// The loaded table and the reader of data files. Loading one (replacing the
// table, its plot and the view) is the session's: session/session.h.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/types.h"
#include "data/text_columns.h"

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
// The loaded table's file as it was read: its size in bytes and the XXH3 hash
// of all of them (zero while no table is loaded).
extern std::uint64_t tableSourceBytes;
extern std::uint64_t tableSourceHash;
// The version of the column rules the loaded table was read under
// (data/text_columns.h), which a session saved of it records.
extern int tableColumnRules;

// Copies path into dataFileName; refuses (false, name unchanged) a path that does not fit.
bool setDataFileName(const char* path);

// What reading a data file came to: a table; a refusal (" too many axis"
// or a file that cannot be opened); nothing, which for an empty path is the
// empty table and otherwise a refusal too. Every refusal has traced its line.
enum class LoadResult { Loaded, Refused, Empty };

struct LoadOptions {
    bool otherNamesAsCsv = false;           // names of no known format read as CSV
    int columnRules = columnRulesVersion;  // how text cells read as numbers and dates
    // Bytes of the table shown, kept beside the one being read until it is
    // accepted (data/data_file.h, LoadMemoryScope).
    std::size_t heldBytes = 0;
};

// Opens, judges and parses path into content, touching nothing else: this
// runs on the load's worker thread (data/load_progress.h). Whatever it
// refuses leaves content empty, with the refusal's trace line written. The
// format follows the name: ".csv", ".tsv" or ".tab", ".parquet", ".json",
// else the text format, or CSV with otherNamesAsCsv. A table whose reading
// would pass the load's memory is refused before the allocation that would.
LoadResult readTableFileOrRefuse(const std::string& path, TableContent& content, const LoadOptions& options = {});

// Frees the values and labels of the loaded table; sets its counts to zero.
void releaseTable();
void clearTableCounts();
// Makes content's counts, labels and values (moved from) the loaded table.
void takeTable(TableContent& content);

// Bytes a table of this size keeps per load (values, per-record plot
// state, labels). Inline: the readers ask it of the file that calls them.
inline unsigned long long tableBytes(long long records, long long dimensions, bool labelled) {
    if (records <= 0) return 0;
    // Raw values per dimension (positions on the axes are computed from
    // them, not kept); the plot's colour index and selection byte per
    // record; a label string when labelled.
    const unsigned long long perRecord = sizeof(double) * static_cast<unsigned long long>(dimensions) +
                                         sizeof(std::uint16_t) + sizeof(unsigned char) +
                                         (labelled ? sizeof(std::string) : 0);
    return static_cast<unsigned long long>(records) * perRecord;
}
