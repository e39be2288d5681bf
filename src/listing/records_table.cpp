#include "listing/records_table.h"

#include <algorithm>
#include <system_error>

#include "base/parallel.h"
#include "base/platform.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "plot/axis.h"
#include "plot/plot.h"

RecordsTable recordsTable;

void openRecordsTable() { recordsTable.open(); }

RecordsTable::~RecordsTable() { stopSort(); }

void RecordsTable::open() {
    ++opens_;
    if (open_) return;
    open_ = true;
    counted_ = false;
}

void RecordsTable::close() {
    open_ = false;
    stopSort();
    dropOrder();
    clearRows();
}

void RecordsTable::releaseTable() {
    stopSort();
    dropOrder();
    clearRows();
    generation_ = 0;
    plot_ = nullptr;
}

void RecordsTable::setSort(int by, bool descending) {
    if (by < labelSort) by = noSort;
    if (by == sortBy_ && descending == descending_) return;
    sortBy_ = by;
    descending_ = descending;
    // The rows keep their order until the new one is in.
    stopSort();
}

void RecordsTable::clickHeading(std::size_t k) {
    if (k >= columns_.size() || loading_) return;
    const int by = columns_[k].dimension < 0 ? labelSort : columns_[k].dimension;
    setSort(by, by == sortBy_ ? !descending_ : false);
}

double RecordsTable::sortProgress() const {
    return job_ ? job_->control.progress.load(std::memory_order_relaxed) : 0.0;
}

double RecordsTable::sortRunningMs() const { return job_ ? clockMs() - job_->startedMs : 0.0; }

// ---------------------------------------------------------------- following

bool RecordsTable::current() const {
    return open_ && !loading_ && plot != nullptr && plot == plot_ && generation_ == tableGeneration && counted_;
}

bool RecordsTable::selected(int record) const {
    return plot->recordSelection.selected(record);
}

bool RecordsTable::orderIsCurrent() const {
    return !order_.empty() && orderGeneration_ == tableGeneration && plot != nullptr &&
           order_.size() == static_cast<std::size_t>(std::max(plot->recordCount, 0));
}

void RecordsTable::clearRows() {
    total_ = rows_ = 0;
    std::vector<int>().swap(blockRows_);
    columns_.clear();
    formats_.clear();
    columnsKey_.clear();
    picked_.clear();
    anchor_ = cursor_ = -1;
    seenHighlight_ = highlightedRow_ = scrollTarget_ = -1;
    counted_ = false;
}

void RecordsTable::dropOrder() {
    std::vector<std::uint32_t>().swap(order_);
    orderBy_ = noSort;
    orderDescending_ = false;
    orderGeneration_ = 0;
}

void RecordsTable::recount() {
    total_ = std::max(plot->recordCount, 0);
    const long long blocks = (static_cast<long long>(total_) + blockSize - 1) / blockSize;
    blockRows_.assign(static_cast<std::size_t>(blocks) + 1, 0);
    const unsigned char* codes = plot->recordSelection.codes().data();
    const int first = plot->recordSelection.firstSelected();
    const bool sorted = !order_.empty();
    const std::uint32_t* order = order_.data();
    const int parts = total_ >= (1 << 20) ? threadsFor(0, 16) : 1;
    runSplit(blocks, parts, [&](long long from, long long to, int) {
        for (long long b = from; b < to; ++b) {
            const long long begin = b * blockSize;
            const long long end = std::min<long long>(begin + blockSize, total_);
            int count = 0;
            if (sorted)
                for (long long p = begin; p < end; ++p) count += codes[order[p]] >= first;
            else
                for (long long p = begin; p < end; ++p) count += codes[p] >= first;
            blockRows_[static_cast<std::size_t>(b) + 1] = count;
        }
    });
    for (std::size_t b = 1; b < blockRows_.size(); ++b) blockRows_[b] += blockRows_[b - 1];
    rows_ = blockRows_.back();
    picked_.clear();
    anchor_ = cursor_ = -1;
    counted_ = true;
}

void RecordsTable::rebuildColumns() {
    columns_.clear();
    formats_.clear();
    if (hasRecordLabels) columns_.push_back({plot->labelColumnName, -1});
    for (int i = 0; i < plot->axisCount; ++i) {
        const Dimension* d = plot->dimensionAt(plot->axes[i]->dimensionIndex);
        if (d == nullptr) continue;
        columns_.push_back({d->name, plot->axes[i]->dimensionIndex});
    }
    formats_.reserve(columns_.size());
    for (const RecordsColumn& c : columns_)
        formats_.push_back(c.dimension < 0 ? CellFormat() : CellFormat(*plot->dimensionAt(c.dimension)));
}

bool RecordsTable::follow() {
    bool changed = collectSort();
    const bool loadingNow = loadInProgress();
    if (loadingNow != loading_) {
        loading_ = loadingNow;
        changed = true;
    }
    if (!open_) return changed;
    if (loading_ || plot == nullptr) {
        // Nothing of the table may be read: it is being replaced, or there is none.
        if (counted_ || total_ != 0 || !columns_.empty()) {
            clearRows();
            changed = true;
        }
        if (!loading_ && generation_ != tableGeneration) {
            generation_ = tableGeneration;
            plot_ = nullptr;
            changed = true;
        }
        return changed;
    }
    if (generation_ != tableGeneration || plot_ != plot) {
        // Another table: whatever was counted or sorted was of the old one.
        stopSort();
        dropOrder();
        clearRows();
        generation_ = tableGeneration;
        plot_ = plot;
        changed = true;
    }
    if (sortBy_ != noSort && !(orderIsCurrent() && orderBy_ == sortBy_ && orderDescending_ == descending_) &&
        job_ == nullptr)
        startSort();
    if (sorting()) changed = true;  // its progress

    std::vector<std::uint64_t> key{hasRecordLabels ? 1u : 0u};
    for (int i = 0; i < plot->axisCount; ++i) {
        const int d = plot->axes[i]->dimensionIndex;
        key.push_back(static_cast<std::uint64_t>(d));
        if (const Dimension* dimension = plot->dimensionAt(d)) key.push_back(dimension->displayRevision);
    }
    if (key != columnsKey_ || columns_.empty()) {
        columnsKey_ = std::move(key);
        rebuildColumns();
        changed = true;
    }
    const bool rowsChanged = !counted_ || selectionRevision_ != plot->selectionRevision;
    if (rowsChanged) {
        selectionRevision_ = plot->selectionRevision;
        recount();
        changed = true;
    }
    if (colorRevision_ != plot->colorRevision) {
        colorRevision_ = plot->colorRevision;
        changed = true;
    }
    const int h = plot->hasHighlightedRecord ? plot->highlightedRecord : -1;
    if (h != seenHighlight_ || rowsChanged) {
        const bool moved = h != seenHighlight_;
        seenHighlight_ = h;
        highlightedRow_ = rowOf(h);
        if (moved && highlightedRow_ >= 0) scrollTarget_ = highlightedRow_;
        changed = true;
    }
    return changed;
}

// ---------------------------------------------------------------- sorting

std::string RecordsTable::columnName(int by) const {
    if (by == labelSort) return plot != nullptr ? plot->labelColumnName : std::string();
    const Dimension* d = plot != nullptr ? plot->dimensionAt(by) : nullptr;
    return d != nullptr ? d->name : std::string();
}

void RecordsTable::startSort() {
    stopSort();
    if (plot == nullptr || sortBy_ == noSort) return;
    auto job = std::make_unique<SortJob>();
    if (sortBy_ == labelSort) {
        if (!hasRecordLabels || recordLabels.size() < static_cast<std::size_t>(plot->recordCount)) return;
        job->column.count = plot->recordCount;
        job->column.labels = &recordLabels;
        job->column.descending = descending_;
    } else {
        const Dimension* d = plot->dimensionAt(sortBy_);
        if (d == nullptr || d->values == nullptr) return;
        job->column = sortColumnOf(*d, plot->recordCount, descending_);
    }
    job->generation = tableGeneration;
    job->by = sortBy_;
    job->descending = descending_;
    job->startedMs = clockMs();
    SortJob* running = job.get();
    try {
        worker_ = std::thread([running] {
            running->sorted = sortRecords(running->column, running->order, running->control);
            running->done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        traceRefusal(" no thread to sort the records on, records not sorted");
        return;
    }
    job_ = std::move(job);
}

void RecordsTable::stopSort() {
    if (!job_) return;
    job_->control.stop.store(true);
    if (worker_.joinable()) worker_.join();
    job_.reset();
}

bool RecordsTable::collectSort() {
    if (!job_ || !job_->done.load(std::memory_order_acquire)) return false;
    worker_.join();
    const std::unique_ptr<SortJob> job = std::move(job_);
    // Taken only while it is still the order asked for, of the table shown.
    if (!job->sorted || !open_ || loading_ || plot == nullptr || job->generation != tableGeneration ||
        job->by != sortBy_ || job->descending != descending_ ||
        job->order.size() != static_cast<std::size_t>(std::max(plot->recordCount, 0)))
        return false;
    order_ = std::move(job->order);
    orderBy_ = job->by;
    orderDescending_ = job->descending;
    orderGeneration_ = job->generation;
    counted_ = false;  // the rows come in the new order
    trace(" records sorted by ", columnName(orderBy_), orderDescending_ ? " descending" : " ascending");
    return true;
}

// ---------------------------------------------------------------- rows

std::string RecordsTable::countLine() const {
    if (loading_) return "loading";
    return std::to_string(rows_) + " of " + std::to_string(total_) + " records";
}

int RecordsTable::recordAt(int row) const {
    int record = -1;
    forRows(row, 1, [&](int, int r) { record = r; });
    return record;
}

int RecordsTable::rowOf(int record) const {
    if (!current() || record < 0 || record >= total_ || !selected(record)) return -1;
    long long position = record;
    if (!order_.empty()) {
        const auto at = std::find(order_.begin(), order_.end(), static_cast<std::uint32_t>(record));
        if (at == order_.end()) return -1;
        position = at - order_.begin();
    }
    const long long block = position / blockSize;
    int row = blockRows_[static_cast<std::size_t>(block)];
    for (long long p = block * blockSize; p < position; ++p) row += selected(entry(p));
    return row;
}

std::string_view RecordsTable::cellText(int record, std::size_t k, char* buffer) const {
    if (!current() || k >= columns_.size() || record < 0 || record >= total_) return {};
    if (columns_[k].dimension < 0)
        return static_cast<std::size_t>(record) < recordLabels.size() ? std::string_view(recordLabels[record])
                                                                       : std::string_view();
    return formats_[k].text(plot->dimensionAt(columns_[k].dimension)->values[record], buffer);
}

bool RecordsTable::paintOf(int record, Rgba& out) const {
    if (!current() || record < 0 || record >= total_ || !plot->recordColors.has(record)) return false;
    out = plot->recordColors[record];
    return out != recordColorAtLoad;
}

// ---------------------------------------------------------------- picked rows

void RecordsTable::pick(int from, int to) {
    picked_.assign(1, {std::min(from, to), std::max(from, to) + 1});
}

void RecordsTable::highlightRow(int row) {
    const int record = recordAt(row);
    if (record < 0) return;
    // What a middle click on the record writes.
    trace(record, "  distance  ", 0);
    plot->highlightKeepingColors(record);
    seenHighlight_ = record;
    highlightedRow_ = row;
    requestRedraw();
}

void RecordsTable::clickRow(int row, int modifiers) {
    if (!current() || row < 0 || row >= rows_) return;
    if (modifiers == ModShift && anchor_ >= 0) {
        pick(anchor_, row);
    } else if (modifiers == ModCtrl) {
        // Toggles the row alone.
        std::vector<std::pair<int, int>> next;
        bool was = false;
        for (const auto& [first, end] : picked_) {
            if (row < first || row >= end) {
                next.emplace_back(first, end);
                continue;
            }
            was = true;
            if (first < row) next.emplace_back(first, row);
            if (row + 1 < end) next.emplace_back(row + 1, end);
        }
        if (!was) {
            next.emplace_back(row, row + 1);
            std::sort(next.begin(), next.end());
        }
        picked_ = std::move(next);
        anchor_ = row;
    } else {
        pick(row, row);
        anchor_ = row;
    }
    cursor_ = row;
    highlightRow(row);
}

void RecordsTable::pickAllRows() {
    if (!current() || rows_ == 0) return;
    picked_.assign(1, {0, rows_});
}

void RecordsTable::moveTo(int row, int modifiers) {
    if (!current() || rows_ == 0) return;
    clickRow(std::clamp(row, 0, rows_ - 1), modifiers == ModShift ? ModShift : 0);
}

bool RecordsTable::rowPicked(int row) const {
    for (const auto& [first, end] : picked_)
        if (row >= first && row < end) return true;
    return false;
}

long long RecordsTable::pickedRowCount() const {
    long long n = 0;
    for (const auto& [first, end] : picked_) n += end - first;
    return n;
}

std::string RecordsTable::copyPickedRows() {
    const long long picked = pickedRowCount();
    std::string text;
    if (!current() || picked == 0) return text;
    for (std::size_t k = 0; k < columns_.size(); ++k) {
        if (k > 0) text += '\t';
        text += columns_[k].name;
    }
    text += '\n';
    long long copied = 0;
    char buffer[cellBufferSize];
    for (const auto& [first, end] : picked_) {
        const long long count = std::min<long long>(end - first, maxCopiedRows - copied);
        forRows(first, static_cast<int>(count), [&](int, int record) {
            for (std::size_t k = 0; k < columns_.size(); ++k) {
                if (k > 0) text += '\t';
                text += cellText(record, k, buffer);
            }
            text += '\n';
        });
        copied += count;
        if (copied >= maxCopiedRows) break;
    }
    if (picked > copied)
        traceRefusal(" copied ", copied, " of ", picked, " rows, at most ", maxCopiedRows, " at once");
    else
        trace(" copied ", copied, " rows");
    return text;
}

void RecordsTable::listedRecords(std::vector<std::size_t>& out) const {
    out.clear();
    if (plot == nullptr || loadInProgress()) return;
    const int n = std::min(plot->recordCount, recordCount);
    const bool sorted = open_ && orderIsCurrent();
    for (int p = 0; p < n; ++p) {
        const int record = sorted ? static_cast<int>(order_[static_cast<std::size_t>(p)]) : p;
        if (plot->recordSelection.selected(record)) out.push_back(static_cast<std::size_t>(record));
    }
}
