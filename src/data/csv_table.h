#pragma once
// Reads comma-separated text with a header row into a table: numeric columns
// become dimensions, text columns with few distinct values become category
// dimensions, the first all-distinct text column becomes the record labels.

#include <cstddef>

struct TableContent;

enum class CsvResult { Read, TooManyDimensions, Refused };

// True for a path whose name ends in ".csv" (any case).
bool isCsvPath(const char* path);

// Builds content from size bytes of CSV text. Writes one trace line per
// column left out or holding missing cells, and one line when the text is
// refused (content is then left empty).
CsvResult readCsv(const char* data, std::size_t size, TableContent& content);

// Most distinct texts a column may have to become a category dimension (it
// must also have fewer distinct texts than half its rows).
constexpr int maxCategories = 50;
