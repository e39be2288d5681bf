#include "session/saved_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "animation/animation.h"
#include "base/memory.h"
#include "base/platform.h"
#include "base/textures.h"
#include "brush/brush.h"
#include "data/data_file.h"
#include "data/dimension.h"
#include "data/load_progress.h"
#include "data/table.h"
#include "data/table_content.h"
#include "listing/records_table.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "session/session.h"
#include "session/session_file.h"
#include "shapes/shape.h"

namespace {

// Indices of keys in the order they first appear. A column has few
// distinct values, which records often take at random: up to fewKeys of them
// are compared without a branch per value, and only a column of many values
// uses the map (trying the last value found first).
template <std::size_t N>
class DistinctKeys {
public:
    using Key = std::array<std::uint64_t, N>;

    std::uint32_t indexOf(const Key& key) {
        if (keys_.size() <= fewKeys) {
            std::uint32_t index = 0;
            bool found = false;
            for (std::uint32_t k = 0; k < keys_.size(); ++k) {
                const bool equal = same(keys_[k], key);
                index |= equal ? k : 0;
                found |= equal;
            }
            if (found) return index;
        } else if (same(keys_[last_], key)) {
            return last_;
        } else if (const auto at = map_.find(key); at != map_.end()) {
            return last_ = at->second;
        }
        last_ = static_cast<std::uint32_t>(keys_.size());
        keys_.push_back(key);
        if (keys_.size() > fewKeys)
            for (std::uint32_t k = map_.empty() ? 0 : last_; k <= last_; ++k) map_.emplace(keys_[k], k);
        return last_;
    }
    const std::vector<Key>& keys() const { return keys_; }

private:
    // Word by word: std::array's == calls memcmp.
    static bool same(const Key& a, const Key& b) {
        bool equal = true;
        for (std::size_t w = 0; w < N; ++w) equal &= a[w] == b[w];
        return equal;
    }
    struct Hash {
        std::size_t operator()(const Key& key) const {
            std::uint64_t h = 0;
            for (std::uint64_t w : key) h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    static constexpr std::size_t fewKeys = 16;
    std::vector<Key> keys_;
    std::unordered_map<Key, std::uint32_t, Hash> map_;
    std::uint32_t last_ = 0;
};

std::uint64_t bitsOf(double v) {
    std::uint64_t w;
    std::memcpy(&w, &v, sizeof w);
    return w;
}

double doubleOf(std::uint64_t w) {
    double v;
    std::memcpy(&v, &w, sizeof v);
    return v;
}

// Records without an own colour: a NaN pattern no palette colour has.
constexpr std::array<std::uint64_t, 4> noColor{~0ULL, ~0ULL, ~0ULL, ~0ULL};

void captureRecords(const PCPlot& p, SessionFile& s) {
    const auto n = static_cast<std::size_t>(p.recordCount);
    std::vector<std::uint32_t> indices(n);
    DistinctKeys<1> degrees;
    for (std::size_t i = 0; i < n; ++i) indices[i] = degrees.indexOf({bitsOf(p.recordSelection[i])});
    for (const auto& key : degrees.keys()) s.selectionValues.push_back(doubleOf(key[0]));
    s.selection = encodeIndices(indices, static_cast<std::uint32_t>(degrees.keys().size()));

    DistinctKeys<4> colors;
    for (std::size_t i = 0; i < n; ++i) {
        const Rgba& c = p.recordColors[i];
        indices[i] =
            colors.indexOf(p.recordColors.has(static_cast<int>(i))
                               ? std::array<std::uint64_t, 4>{bitsOf(c[0]), bitsOf(c[1]), bitsOf(c[2]), bitsOf(c[3])}
                               : noColor);
    }
    for (const auto& key : colors.keys()) {
        if (key == noColor)
            s.colorValues.emplace_back();
        else
            s.colorValues.push_back(
                Rgba{doubleOf(key[0]), doubleOf(key[1]), doubleOf(key[2]), doubleOf(key[3])});
    }
    s.colors = encodeIndices(indices, static_cast<std::uint32_t>(colors.keys().size()));
}

// Brushes as drawn: an axis brush's interval where it lies on its axis now,
// and no angular or scatterplot brush that a flip or scale has hidden.
void captureBrushes(SessionFile& s) {
    for (const auto& b : axisBrushes) {
        if (!b->axis) continue;
        double low = 0.0, high = 0.0;
        axisBrushInterval(*b, low, high);
        s.axisBrushes.push_back({b->axis->dimensionIndex, low, high, b->inverted});
    }
    for (const auto& b : angularBrushes)
        if (b->apexAxis && b->farAxis && drawnAsMade(*b))
            s.angularBrushes.push_back({b->apexAxis->dimensionIndex, b->farAxis->dimensionIndex, b->apexOnLeft,
                                        b->upperBound, b->lowerBound, b->apex, b->upperEnd, b->lowerEnd,
                                        b->inverted});
    for (const auto& b : scatterPlotBrushes)
        if (b->leftAxis && b->rightAxis && drawnAsMade(*b))
            s.scatterPlotBrushes.push_back(
                {b->leftAxis->dimensionIndex, b->rightAxis->dimensionIndex, b->outline, b->inverted});
}

std::string absolutePath(const char* path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? std::string(path) : absolute.lexically_normal().string();
}

SessionFile captureView(bool hoverFading) {
    const PCPlot& p = *plot;
    SessionFile s;
    s.tablePath = absolutePath(dataFileName);
    s.tableBytes = tableSourceBytes;
    s.tableHash = tableSourceHash;
    s.columnRules = tableColumnRules;
    s.records = p.recordCount;
    s.dimensions = dimensionCount;
    // A glide under way is saved where it ends.
    const bool gliding = layoutAnimating || layoutAnimationPaused;
    std::vector<int> slotOf(static_cast<std::size_t>(p.axisCount), 0);
    for (int i = 0; i < p.axisCount; ++i) {
        const PCShowAxis& a = *p.axes[i];
        SavedAxis saved;
        saved.dimension = a.dimensionIndex;
        saved.position = std::clamp(gliding ? layoutTarget[i] : a.position, 0.0, 1.0);
        saved.selected = a.selected;
        saved.scatter = a.scatterOn;
        saved.curveOpacity = a.curveOpacity;
        saved.pointOpacity = a.pointOpacity;
        saved.flipped = p.axisFlipped(a);
        saved.scale = p.axisScale(a);
        if (a.mdsLayout && a.mergedAxes && a.mergedFlags) {
            for (int k = 0; k < a.mergedCount; ++k) {
                saved.mdsMembers.push_back((*a.mergedAxes)[k]->dimensionIndex);
                saved.mdsActive.push_back((*a.mergedFlags)[k] == 1);
            }
        }
        slotOf[static_cast<std::size_t>(a.dimensionIndex)] = i;
        s.axes.push_back(std::move(saved));
    }
    for (const auto& shape : shapes)
        if (shape && shape->type() == AxisIndicatorType)
            if (const PCShowAxis* axis = static_cast<const AxisMDSShape&>(*shape).axis)
                s.axes[static_cast<std::size_t>(slotOf[static_cast<std::size_t>(axis->dimensionIndex)])]
                    .indicatorSelected = shape->selected;
    s.axesLocked = axesLocked;
    s.straightLines = p.straightLines;
    s.showHistograms = p.showHistograms;
    s.colorBySelection = p.colorBySelection;
    s.antialiasingOff = p.antialiasingOff;
    s.densityShading = densityShading;
    s.hoverFading = hoverFading;
    s.strokeTexture = activeTexture;
    s.viewBox = {p.viewLeft, p.viewRight, p.viewBottom, p.viewTop};
    s.pointSize = p.pointSize;
    s.curveLineWidth = p.curveLineWidth;
    s.axisLineWidth = p.axisLineWidth;
    s.colorDimension = p.colorDimension;
    s.highlightedRecord = p.hasHighlightedRecord ? p.highlightedRecord : -1;
    if (palette != nullptr) {
        s.paintMode = palette->selected;
        s.colorLevel = palette->colorLevel;
        s.transparencyLevel = palette->transparencyLevel;
        s.paintColor = palette->currentColor;
    }
    captureBrushes(s);
    captureRecords(p, s);
    s.recordsWindow = SessionFile::RecordsWindow{recordsTable.isOpen(), recordsTable.sortedBy(),
                                                 recordsTable.sortedDescending()};
    return s;
}

// ---------------------------------------------------------------- restoring

using AxesByDimension = std::array<PCShowAxis*, maxSlots>;

// A restored brush is drawn as it was made and never evaluated again: the
// selection it left came with the session. So it holds no values.
template <class Brush>
std::unique_ptr<Brush> keptBrush(bool inverted) {
    auto brush = std::make_unique<Brush>();
    if (inverted) brush->invert();
    decltype(brush->values)().swap(brush->values);
    return brush;
}

// Saved brushes lie where their axes place values now (flips and scales
// restored first).
Placement placementOn(const PCShowAxis* axis) { return plot->dimensionAt(axis->dimensionIndex)->placement(); }

void restoreBrushes(const SessionFile& s, const AxesByDimension& axis) {
    for (const SavedAxisBrush& saved : s.axisBrushes) {
        auto b = keptBrush<PCAxisBrush>(saved.inverted);
        b->axis = axis[saved.axis];
        b->low = saved.low;
        b->high = saved.high;
        b->madeOn = placementOn(b->axis);
        axisBrushes.push_back(std::move(b));
    }
    for (const SavedAngularBrush& saved : s.angularBrushes) {
        auto b = keptBrush<PCAngularBrush>(saved.inverted);
        b->apexAxis = axis[saved.apexAxis];
        b->farAxis = axis[saved.farAxis];
        b->apexOnLeft = saved.apexOnLeft;
        b->upperBound = saved.upperBound;
        b->lowerBound = saved.lowerBound;
        b->apex = saved.apex;
        b->upperEnd = saved.upperEnd;
        b->lowerEnd = saved.lowerEnd;
        b->apexMadeOn = placementOn(b->apexAxis);
        b->farMadeOn = placementOn(b->farAxis);
        angularBrushes.push_back(std::move(b));
    }
    for (const SavedScatterPlotBrush& saved : s.scatterPlotBrushes) {
        auto b = keptBrush<PCScatterPlotBrush>(saved.inverted);
        b->leftAxis = axis[saved.leftAxis];
        b->rightAxis = axis[saved.rightAxis];
        b->outline = saved.outline;
        b->leftMadeOn = placementOn(b->leftAxis);
        b->rightMadeOn = placementOn(b->rightAxis);
        scatterPlotBrushes.push_back(std::move(b));
    }
}

void restoreRecords(PCPlot& p, const SessionFile& s) {
    const auto n = static_cast<std::size_t>(p.recordCount);
    decodeIndices(s.selection, n, static_cast<std::uint32_t>(s.selectionValues.size()),
                  [&](std::size_t first, std::size_t count, std::uint32_t k) {
                      p.recordSelection.setRange(static_cast<int>(first), static_cast<int>(count),
                                                 s.selectionValues[k]);
                  });
    decodeIndices(s.colors, n, static_cast<std::uint32_t>(s.colorValues.size()),
                  [&](std::size_t first, std::size_t count, std::uint32_t k) {
                      const std::optional<Rgba>& color = s.colorValues[k];
                      p.recordColors.setRange(static_cast<int>(first), static_cast<int>(count),
                                              color ? &*color : nullptr);
                  });
    ++p.selectionRevision;
    ++p.colorRevision;
}

// The axes in the saved order with their saved state, then their MDS plots.
void restoreAxes(PCPlot& p, const SessionFile& s, AxesByDimension& axis) {
    for (int i = 0; i < p.axisCount; ++i) axis[p.axes[i]->dimensionIndex] = p.axes[i];
    for (std::size_t i = 0; i < s.axes.size(); ++i) {
        const SavedAxis& saved = s.axes[i];
        PCShowAxis& a = *axis[saved.dimension];
        p.axes[i] = &a;
        a.position = saved.position;
        a.selected = saved.selected;
        a.scatterOn = saved.scatter;
        a.curveOpacity = saved.curveOpacity;
        a.pointOpacity = saved.pointOpacity;
        // Without the keys' trace lines: the view is put back, not changed.
        Dimension& d = *p.dimensionAt(saved.dimension);
        d.setFlipped(saved.flipped);
        d.setScale(saved.scale);
    }
    for (const auto& shape : shapes)
        if (shape && shape->type() == AxisIndicatorType)
            for (const SavedAxis& saved : s.axes)
                if (axis[saved.dimension] == static_cast<const AxisMDSShape&>(*shape).axis)
                    shape->selected = saved.indicatorSelected;
    for (const SavedAxis& saved : s.axes) {
        if (saved.mdsMembers.empty()) continue;
        PCShowAxis& a = *axis[saved.dimension];
        a.mdsVisible = true;
        if (!a.startMds(axis[saved.mdsMembers[0]], axis[saved.mdsMembers[1]])) continue;
        for (std::size_t k = 2; k < saved.mdsMembers.size(); ++k) {
            auto marker = std::make_unique<MDSShape>(&p, &a, axis[saved.mdsMembers[k]]);
            if (!saved.mdsActive[k]) marker->select(0, 0);
            shapes.push_back(std::move(marker));
        }
    }
}

void restoreView(const SessionFile& s) {
    PCPlot& p = *plot;
    AxesByDimension axis{};
    restoreAxes(p, s, axis);
    axesLocked = s.axesLocked;
    p.straightLines = s.straightLines;
    p.showHistograms = s.showHistograms;
    p.colorBySelection = s.colorBySelection;
    p.antialiasingOff = s.antialiasingOff;
    curveStep = s.antialiasingOff ? 0.01 : 0.002;
    densityShading = s.densityShading;
    activeTexture = s.strokeTexture;
    p.setViewBox(s.viewBox[0], s.viewBox[1], s.viewBox[2], s.viewBox[3], -1.0, 1.0);
    p.pointSize = s.pointSize;
    p.curveLineWidth = s.curveLineWidth;
    p.axisLineWidth = s.axisLineWidth;
    p.colorDimension = s.colorDimension;
    p.hasHighlightedRecord = s.highlightedRecord >= 0;
    p.highlightedRecord = std::max(s.highlightedRecord, 0);
    if (palette != nullptr) {
        palette->selected = s.paintMode;
        palette->colorLevel = s.colorLevel;
        palette->transparencyLevel = s.transparencyLevel;
        palette->currentColor = s.paintColor;
    }
    restoreBrushes(s, axis);
    restoreRecords(p, s);
    // Sessions that tell nothing of the records window leave it as it is.
    if (const auto& w = s.recordsWindow) {
        recordsTable.setSort(w->sortBy == labelSort && !hasRecordLabels ? noSort : w->sortBy, w->descending);
        if (w->open)
            recordsTable.open();
        else
            recordsTable.close();
    }
}

// ---------------------------------------------------------------- files

bool readSessionFile(const std::string& path, SessionFile& s, std::string& why) {
    DataFile file;
    switch (file.open(path.c_str())) {
        case DataFile::Status::Opened:
            break;
        case DataFile::Status::Unopenable:
            why = "cannot read the file";
            return false;
        case DataFile::Status::NotRegular:
            why = "not a regular file";
            return false;
        case DataFile::Status::TooLarge:
            why = "file too large";
            return false;
    }
    // A session is read whole only up to the size its table justifies: a
    // larger one is refused from its first part, where its table states
    // its record count (or from its size, where it states none there).
    const std::size_t firstPart = static_cast<std::size_t>(sessionBytesFor(0));
    std::vector<char> bytes;
    if (file.size() > firstPart) {
        if (!file.readPrefix(firstPart, bytes)) {
            why = "cannot read the file";
            return false;
        }
        if (file.size() > sessionBytesFor(scanSessionJson(bytes.data(), bytes.size()).records)) {
            why = "too large for its table";
            return false;
        }
    }
    if (!file.readAll(bytes)) {
        why = "cannot read the file";
        return false;
    }
    // Parsed, it must fit beside the table shown; it is not kept once read.
    const SessionScan scan = scanSessionJson(bytes.data(), bytes.size());
    if (file.size() > sessionBytesFor(scan.records)) {
        why = "too large for its table";
        return false;
    }
    if (scan.parsedBytes > availableMemory()) {
        why = "too large for memory";
        return false;
    }
    return readSessionJson(std::string(bytes.begin(), bytes.end()), s, why);
}

// The saved path, or when nothing is there, a file of its name beside the
// session: the two may have moved together. Empty when neither exists.
std::string locateTable(const std::string& saved, const std::string& sessionPath) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(saved, error)) return saved;
    const fs::path beside = fs::path(sessionPath).parent_path() / fs::path(saved).filename();
    return fs::exists(beside, error) ? beside.string() : std::string();
}

// Whether the file at path has this size and hash. It is read a step at a
// time, so checking a table takes no memory beside the table shown.
bool hasFingerprint(const std::string& path, std::uint64_t bytes, std::uint64_t hash) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) != bytes)
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    const std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(),
                                                                                XXH3_freeState);
    std::vector<char> step(std::size_t(8) << 20);
    std::uint64_t read = 0;
    bool ok = state != nullptr && XXH3_64bits_reset(state.get()) == XXH_OK;
    while (ok) {
        const ssize_t got = ::read(fd, step.data(), step.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        XXH3_64bits_update(state.get(), step.data(), static_cast<std::size_t>(got));
        read += static_cast<std::uint64_t>(got);
    }
    ::close(fd);
    return ok && read == bytes && XXH3_64bits_digest(state.get()) == hash;
}

bool writeWhole(const std::string& path, const std::string& text) {
    // Written beside it first, so a failure never leaves half a session.
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::remove(part.c_str());
            return false;
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return false;
    }
    return true;
}

bool refuse(const std::string& why) {
    traceRefusal(" bad session, ", why, ", session not loaded");
    return false;
}

bool tableChanged(const std::string& table) {
    traceRefusal(" session table changed: ", table, ", session not loaded");
    return false;
}

// Whether the table read has the shape the session was saved of: its
// records, dimensions and the axes they make.
bool sameShape(const SessionFile& s, const TableContent& content) {
    const int dimensions = static_cast<int>(content.names.size());
    return content.recordCount == s.records && dimensions == s.dimensions &&
           std::clamp(content.shownCount, 0, dimensions) == static_cast<int>(s.axes.size());
}

}  // namespace

bool isSessionPath(const std::string& path) {
    constexpr std::string_view extension = ".korvelline";
    if (path.size() < extension.size()) return false;
    return std::equal(extension.begin(), extension.end(),
                      path.end() - static_cast<std::ptrdiff_t>(extension.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

bool saveSessionTo(const std::string& path, bool hoverFading) {
    if (plot == nullptr || tableSourceBytes == 0 || dataFileName[0] == '\0') {
        traceRefusal(" no table open, session not saved");
        return false;
    }
    const std::string text = writeSessionJson(captureView(hoverFading));
    if (text.empty()) {
        traceRefusal(" table path is not UTF-8, session not saved");
        return false;
    }
    if (!writeWhole(path, text)) {
        traceRefusal(" could not write ", path, ", session not saved");
        return false;
    }
    trace(" session saved to ", path);
    return true;
}

bool openSessionFrom(const std::string& path, bool& hoverFading) {
    // One table at a time, as for every load.
    if (loadInProgress()) return false;
    SessionFile s;
    std::string why;
    if (!readSessionFile(path, s, why)) return refuse(why);
    const std::string table = locateTable(s.tablePath, path);
    if (table.empty()) {
        traceRefusal(" session table missing: ", s.tablePath, ", session not loaded");
        return false;
    }
    if (!hasFingerprint(table, s.tableBytes, s.tableHash)) return tableChanged(table);
    if (!setDataFileName(table.c_str())) return refuse("table path too long");
    {
        // The session's table is read into a table of its own beside the
        // view shown, under the column rules the session was saved with,
        // and replaces it only once everything about it fits the session.
        RunningLoad running;
        TableContent content;
        const LoadResult read = readTableKeepingView(table, s.columnRules, content);
        bool accepted = false;
        if (read != LoadResult::Loaded)
            refuse("its table did not load");  // after the load's own line
        else if (content.sourceBytes != s.tableBytes || content.sourceHash != s.tableHash)
            tableChanged(table);  // since it was checked
        else if (!sameShape(s, content))
            refuse("its table reads with another shape");
        else
            accepted = true;
        if (!accepted) {
            keepShownFileName();
            return false;
        }
        if (!installReadTable(content)) return false;
    }
    restoreView(s);
    hoverFading = s.hoverFading;
    trace(" session restored from ", path);
    requestRedraw();
    return true;
}
