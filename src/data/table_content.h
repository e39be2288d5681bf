#pragma once
// A whole table held apart from the loaded one: what the CSV reader produces,
// what the loader installs and what the text writer writes.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/dimension.h"

struct LabelSection {
    int dimension = 0;  // index into TableContent::names
    std::vector<LabelEntry> entries;
    // Per entry, the records holding its value, where the reader counted
    // them as it coded the texts; empty otherwise.
    std::vector<int> records;
};

struct TableContent {
    int recordCount = 0;
    int shownCount = 0;  // leading dimensions shown as axes
    bool hasLabels = false;
    std::string labelColumnName;
    std::vector<std::string> names;                   // one per dimension
    std::vector<std::unique_ptr<double[]>> columns;   // one per dimension, recordCount values each
    // One per dimension, or none when all are numbers. Times are stored as
    // seconds in columns; the text format writes them as such.
    std::vector<ValueFormat> formats;
    // One per dimension, or none: the value missing cells were given (below
    // the column's present values), NaN for a column without missing cells.
    std::vector<double> missingValues;
    // One pair per dimension, or none: the least and the largest value of
    // the column as its reader found them.
    std::vector<std::array<double, 2>> extremes;
    std::vector<std::string> labels;                  // recordCount entries when hasLabels
    std::vector<LabelSection> sections;
    // The file the table was read from, as read: its size in bytes and a
    // hash of all of them, so a saved view can tell whether it changed.
    std::uint64_t sourceBytes = 0;
    std::uint64_t sourceHash = 0;
    // The version of the column rules it was read under.
    int columnRules = 0;
};

// A text token of the data file: blanks and other whitespace become
// underscores, and an empty text becomes "_".
std::string tokenFrom(std::string_view text);
