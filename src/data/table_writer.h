#pragma once
// Writes a table in the whitespace-separated text format the loader reads.

#include <string>

struct TableContent;

// Writes content to path; false when the file cannot be written completely.
bool writeTableFile(const TableContent& content, const std::string& path);

// The same text in memory.
std::string tableText(const TableContent& content);

// A copy of the loaded table holding only the records whose selection degree
// is above 0.99999 (all of them while nothing is brushed).
TableContent selectedRecords();

// Writes selectedRecords() to path and traces the outcome; false on failure.
bool exportSelectedRecordsTo(const std::string& path);
