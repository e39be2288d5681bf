#include "records/draw_classes.h"

#include <algorithm>

#include "base/parallel.h"
#include "data/table.h"

bool selectionOrdersRecords(const PCPlot& plot) {
    if (!plot.colorByFunction) return false;
    if (!plot.useRecordColors) return true;
    static std::uint64_t generation = 0, revision = 0;
    static const PCPlot* owner = nullptr;
    static int records = -1;
    static bool answer = true;
    if (owner != &plot || generation != tableGeneration || revision != plot.colorRevision ||
        records != plot.recordCount) {
        answer = plot.recordColors.anyWithout(plot.recordCount);
        owner = &plot;
        records = plot.recordCount;
        generation = tableGeneration;
        revision = plot.colorRevision;
    }
    return answer;
}

void DrawClasses::build(const PCPlot& plot, int skip, int threads) {
    const int records = std::max(plot.recordCount, 0);
    const RecordColors& colors = plot.recordColors;
    const bool own = plot.useRecordColors && colors.size() >= records;
    colorIndex_ = own ? colors.indices().data() : nullptr;
    fullColors_ = own && colors.fallsBack() ? &colors : nullptr;
    degreeCode_ = plot.recordSelection.codes().data();
    const int degrees = static_cast<int>(plot.recordSelection.levels().size());

    // Paints in the order they were last painted with.
    const std::vector<Rgba>& table = colors.table();
    std::vector<std::size_t> paints;
    if (own && fullColors_ == nullptr)
        for (std::size_t k = 1; k < table.size(); ++k)
            if (table[k] != unpaintedColor) paints.push_back(k);
    std::stable_sort(paints.begin(), paints.end(),
                     [&](std::size_t a, std::size_t b) { return colors.paintedAt(a) < colors.paintedAt(b); });
    ofColor_.assign(table.size(), -1);
    for (std::size_t j = 0; j < paints.size(); ++j) ofColor_[paints[j]] = degrees + static_cast<int>(j);
    fallbackClass_ = degrees;
    const int classes = degrees + (fullColors_ != nullptr ? 1 : static_cast<int>(paints.size()));

    const bool byDegree = selectionOrdersRecords(plot);
    ofDegree_.assign(256, 0);
    for (int code = 0; code < 256; ++code) ofDegree_[static_cast<std::size_t>(code)] = byDegree ? std::min(code, degrees - 1) : 0;

    const int parts = std::max(1, std::min(threads, records / 65536 + 1));
    std::vector<std::vector<long long>> counted(static_cast<std::size_t>(parts));
    runSplit(records, parts, [&](long long first, long long last, int part) {
        std::vector<long long>& n = counted[static_cast<std::size_t>(part)];
        n.assign(static_cast<std::size_t>(classes), 0);
        for (int r = static_cast<int>(first); r < static_cast<int>(last); ++r)
            if (r != skip) ++n[static_cast<std::size_t>(classOf(r))];
    });
    sizes_.assign(static_cast<std::size_t>(classes), 0);
    for (const std::vector<long long>& n : counted)
        for (std::size_t c = 0; c < n.size(); ++c) sizes_[c] += n[c];

    // The bins' classes: the degrees in use (neighbours sharing beyond
    // maxDegreeClasses), the older paints in use as one, the latest each.
    int usedDegrees = 0, usedPaints = 0;
    for (int c = 0; c < classes; ++c)
        if (sizes_[static_cast<std::size_t>(c)] > 0) ++(c < degrees ? usedDegrees : usedPaints);
    const int degreeBins = std::min(usedDegrees, maxDegreeClasses);
    const int older = std::max(usedPaints - maxPaintClasses, 0);
    binClass_.assign(static_cast<std::size_t>(classes), 0);
    int degree = 0, paint = 0, current = 0;
    binClasses_ = 0;
    for (int c = 0; c < classes; ++c) {
        if (sizes_[static_cast<std::size_t>(c)] > 0) {
            if (c < degrees)
                current = degree++ * maxDegreeClasses / std::max(usedDegrees, maxDegreeClasses);
            else if (paint++ < older)
                current = degreeBins;
            else
                current = degreeBins + (older > 0 ? 1 : 0) + (paint - 1 - older);
            binClasses_ = current + 1;
        }
        binClass_[static_cast<std::size_t>(c)] = current;
    }
}

void RecordOrder::build(const DrawClasses& classes, int recordCount, int skip) {
    const int bins = classes.binClasses();
    binStart.assign(static_cast<std::size_t>(bins) + 1, 0);
    int used = 0, only = -1;
    for (int c = 0; c < classes.count(); ++c)
        if (classes.size(c) > 0) {
            ++used;
            only = c;
        }
    records.clear();
    if (used == 0) return;
    if (used == 1) {
        // Record order is drawing order: positions are the records.
        for (int b = classes.binClassOf(only) + 1; b <= bins; ++b) binStart[static_cast<std::size_t>(b)] = recordCount;
        return;
    }
    std::vector<int> next(static_cast<std::size_t>(classes.count()), 0);
    int at = 0;
    for (int c = 0; c < classes.count(); ++c) {
        next[static_cast<std::size_t>(c)] = at;
        at += static_cast<int>(classes.size(c));
        binStart[static_cast<std::size_t>(classes.binClassOf(c)) + 1] = at;
    }
    for (int b = 1; b <= bins; ++b)
        binStart[static_cast<std::size_t>(b)] = std::max(binStart[static_cast<std::size_t>(b)], binStart[static_cast<std::size_t>(b) - 1]);
    records.resize(static_cast<std::size_t>(at));
    for (int r = 0; r < recordCount; ++r)
        if (r != skip) records[static_cast<std::size_t>(next[static_cast<std::size_t>(classes.classOf(r))]++)] = r;
}
