#pragma once
// Reads Parquet and JSON tables through DuckDB's C library, column by
// column in chunks, under the column rules of CSV files: numbers and
// booleans become dimensions, dates and timestamps time axes, texts
// categories or labels, NULL a missing value, nested columns are left out.

#include "data/csv_table.h"

class DataFile;
struct TableContent;

// The format of a file DuckDB reads, by its name (any case): "parquet" for
// ".parquet", "json" for ".json"; null for any other name.
const char* typedFormatForPath(const char* path);

// Builds content from file (named path, for messages) in the given format.
// Writes the column lines (" parquet column ...") and one refusal line
// (" bad parquet, <why>, file not loaded") as a CSV file would.
// A file of more than 1,000 columns (or a JSON record of more keys) is
// refused before its rows are read; what the reader allocates, and the
// chunks DuckDB hands over, are charged to the load's memory account.
CsvResult readTypedFile(const DataFile& file, const char* path, const char* format, TableContent& content,
                        ColumnRules rules = ColumnRules());
