#pragma once
// Reads comma- or tab-separated text with a header row into a table: numeric
// columns become dimensions, text columns of dates and times become time
// dimensions, text columns with few distinct values become category
// dimensions, the first all-distinct text column becomes the record labels.

#include <cstddef>

#include "data/text_columns.h"

struct TableContent;
class DataFile;

enum class CsvResult { Read, TooManyDimensions, Refused };

// The field delimiter of a table file by its name (any case): ',' for
// ".csv", a tab for ".tsv" and ".tab", 0 for any other name.
char delimiterForPath(const char* path);

// Builds content from size bytes of text whose fields are separated by
// delimiter (',' or '\t'). Writes one trace line per column left out, read
// as times or holding missing cells, and one line when the text is refused
// (content is then left empty).
// A file of more than 1,000 columns is refused from its header
// (" too many axis"), and a row longer than maxPieceBytes as it is met.
CsvResult readCsv(const char* data, std::size_t size, TableContent& content, char delimiter = ',',
                  ColumnRules rules = ColumnRules());
// The same for an open file, read in pieces on all cores without ever
// holding all of it; content's sourceBytes and sourceHash tell the file. A
// table estimated from its first megabyte to exceed loadMemoryLimit() is
// refused before the rest is read; while it is read, everything it
// allocates is charged to the load's account, which throws LoadTooLarge
// before an allocation would pass that limit.
CsvResult readCsvFile(const DataFile& file, TableContent& content, char delimiter, ColumnRules rules = ColumnRules());

// Most distinct texts a column may have to become a category dimension (it
// must also have fewer distinct texts than half its rows).
constexpr int maxCategories = 1000;
