#pragma once
// Writes a table in the whitespace-separated text format the loader reads.

#include <string>

struct TableContent;

// Writes content to path; false when the file cannot be written completely.
bool writeTableFile(const TableContent& content, const std::string& path);

// The same text in memory.
std::string tableText(const TableContent& content);
