#pragma once
// The order of the records by one column, for the records window: stable
// (records of equal value keep their order in the table), ascending or
// descending, missing values last either way, category values by their
// texts (ignoring ASCII case, ties by their bytes) and record labels by their
// bytes. It reads nothing but what the column points at, so it can run on a
// worker thread while the table stays.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct Dimension;

struct SortColumn {
    int count = 0;                                     // records
    const double* values = nullptr;                    // a dimension's values, or
    const std::vector<std::string>* labels = nullptr;  // the records' labels
    double missing = NAN;                              // the value of missing cells
    // Category values with the rank of their texts, ascending by value.
    std::vector<std::pair<double, std::uint32_t>> ranks;
    bool descending = false;
};

// The column of a dimension of count records, its category texts ranked.
SortColumn sortColumnOf(const Dimension& dimension, int count, bool descending);

// How a sort under way is told to stop, and how far it got (0 to 1).
struct SortControl {
    std::atomic<bool> stop{false};
    std::atomic<double> progress{0.0};
};

// Fills order with the records 0 .. count - 1 in the column's order. False,
// with order meaning nothing, when control.stop was set meanwhile.
bool sortRecords(const SortColumn& column, std::vector<std::uint32_t>& order, SortControl& control);
