#pragma once
// The records window without its window: which records it lists (exactly
// those Export/"Selected records..." writes, in the window's order while it
// is sorted), its columns and cells, the rows picked in it, the text CTRL-C
// copies, and the sort, which runs on a worker thread and is taken in only
// while the table it sorted is still the one shown. The window
// (app/records_window.cpp) shows what this holds and hands it the user's
// clicks and keys; nothing here needs a display.
//
// Rows are the records of an order (the table's own, or the sorted one)
// that are fully selected. They are found through a count of the selected
// records per block of the order, so a row is reached without a list of the
// rows: the window keeps nothing per record while the table is unsorted, and
// the order's four bytes a record while it is sorted.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/types.h"
#include "listing/cell_text.h"
#include "listing/record_sort.h"

struct PCPlot;

// What the rows are sorted by: a dimension (its index), the record labels,
// or nothing (the table's own order).
constexpr int noSort = -1;
constexpr int labelSort = -2;

// At most this many rows go to the clipboard at once.
constexpr long long maxCopiedRows = 1000000;
// A sort that has run this long shows its progress.
constexpr double sortProgressDelayMs = 500.0;

struct RecordsColumn {
    std::string name;
    int dimension = -1;  // -1: the record labels
};

class RecordsTable {
public:
    RecordsTable() = default;
    ~RecordsTable();
    RecordsTable(const RecordsTable&) = delete;
    RecordsTable& operator=(const RecordsTable&) = delete;

    // The window. Closing it gives back what its rows took. Every open
    // counts, so that one of an open window can bring it to the front.
    bool isOpen() const { return open_; }
    void open();
    void close();
    long opens() const { return opens_; }

    // The sort, kept while the window is closed (sessions save it).
    int sortedBy() const { return sortBy_; }
    bool sortedDescending() const { return descending_; }
    void setSort(int by, bool descending);
    // A click on the heading of column k: sorts by it; again: descending.
    void clickHeading(std::size_t k);
    bool sorting() const { return job_ != nullptr; }
    double sortProgress() const;
    double sortRunningMs() const;

    // Catches up with the table, the plot and a finished sort; call it
    // between events. True when what the window shows changed.
    bool follow();

    bool loading() const { return loading_; }
    // "N of M records", or "loading" while a table loads.
    std::string countLine() const;
    int rowCount() const { return rows_; }
    int recordTotal() const { return total_; }
    const std::vector<RecordsColumn>& columns() const { return columns_; }
    // fn(row, record) for the rows first .. first + count - 1 there are.
    template <class Fn>
    void forRows(int first, int count, Fn&& fn) const;
    int recordAt(int row) const;
    // The row of a record, -1 when it is not listed.
    int rowOf(int record) const;
    // The record's cell in column k (buffer: cellBufferSize characters).
    std::string_view cellText(int record, std::size_t k, char* buffer) const;
    // The record's own colour when it carries a paint: a colour other than
    // the one every record gets at load.
    bool paintOf(int record, Rgba& out) const;
    int highlightedRow() const { return highlightedRow_; }
    // The row of a record the plot highlighted, once, to bring into view; -1
    // for none.
    int takeScrollTarget() { return std::exchange(scrollTarget_, -1); }

    // Rows picked in the table (click, SHIFT click, CTRL click, CTRL-A,
    // keys). A click or a key highlights the row's record in the plot and
    // keeps every record's paint.
    void clickRow(int row, int modifiers);
    void pickAllRows();
    void moveTo(int row, int modifiers);
    int cursorRow() const { return cursor_; }
    bool rowPicked(int row) const;
    long long pickedRowCount() const;
    // The picked rows, at most maxCopiedRows, as tab-separated text under a
    // line of the column names; traces how many it took.
    std::string copyPickedRows();

    // The records Export writes, in the order the window lists them.
    void listedRecords(std::vector<std::size_t>& out) const;

    // The table goes: a sort under way stops, and the order goes with it.
    void releaseTable();

private:
    static constexpr int blockSize = 4096;

    bool current() const;
    bool selected(int record) const;
    int entry(long long position) const { return order_.empty() ? static_cast<int>(position) : static_cast<int>(order_[static_cast<std::size_t>(position)]); }
    bool orderIsCurrent() const;
    void clearRows();
    void dropOrder();
    void recount();
    void rebuildColumns();
    bool collectSort();
    void startSort();
    void stopSort();
    void highlightRow(int row);
    void pick(int from, int to);
    std::string columnName(int by) const;

    bool open_ = false;
    long opens_ = 0;
    bool loading_ = false;
    int sortBy_ = noSort;
    bool descending_ = false;

    // What the rows were counted from.
    std::uint64_t generation_ = 0;
    const PCPlot* plot_ = nullptr;
    std::uint64_t selectionRevision_ = 0;
    std::uint64_t colorRevision_ = 0;
    std::vector<std::uint64_t> columnsKey_;
    bool counted_ = false;

    std::vector<std::uint32_t> order_;  // empty: the table's own order
    int orderBy_ = noSort;
    bool orderDescending_ = false;
    std::uint64_t orderGeneration_ = 0;

    int total_ = 0;
    int rows_ = 0;
    std::vector<int> blockRows_;  // rows before each block of the order
    std::vector<RecordsColumn> columns_;
    std::vector<CellFormat> formats_;  // per column (unused for labels)

    int seenHighlight_ = -1;
    int highlightedRow_ = -1;
    int scrollTarget_ = -1;

    std::vector<std::pair<int, int>> picked_;  // disjoint [first, end), ascending
    int anchor_ = -1;
    int cursor_ = -1;

    struct SortJob {
        SortColumn column;
        SortControl control;
        std::vector<std::uint32_t> order;
        std::atomic<bool> done{false};
        bool sorted = false;
        std::uint64_t generation = 0;
        int by = noSort;
        bool descending = false;
        double startedMs = 0.0;
    };
    std::unique_ptr<SortJob> job_;
    std::thread worker_;
};

// The one records window of the program.
extern RecordsTable recordsTable;

// Key O and View/Records.
void openRecordsTable();

template <class Fn>
void RecordsTable::forRows(int first, int count, Fn&& fn) const {
    if (!current() || first >= rows_ || count <= 0) return;
    if (first < 0) first = 0;
    const int end = static_cast<int>(std::min<long long>(static_cast<long long>(first) + count, rows_));
    if (rows_ == total_) {
        for (int row = first; row < end; ++row) fn(row, entry(row));
        return;
    }
    // The block holding the first row, then its records one by one.
    int block = static_cast<int>(std::upper_bound(blockRows_.begin(), blockRows_.end(), first) - blockRows_.begin()) - 1;
    if (block < 0) block = 0;
    int row = blockRows_[static_cast<std::size_t>(block)];
    for (long long position = static_cast<long long>(block) * blockSize; position < total_ && row < end; ++position) {
        const int record = entry(position);
        if (!selected(record)) continue;
        if (row >= first) fn(row, record);
        ++row;
    }
}
