#pragma once
// A saved view as plain data: what a .korvelline file holds, apart from the
// plot it is taken from or restored to (session/saved_view.h). The file is
// JSON. Reading it checks every field and the fields against each other, so
// a session that reads can be restored onto its table without a second look.
// Axes, brushes and MDS members name axes by the dimension they show.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/types.h"
#include "data/dimension.h"
#include "session/record_codec.h"

struct SavedAxis {
    int dimension = 0;
    double position = 0.0;
    bool selected = false;           // framed (ALT click; key S uses it)
    bool indicatorSelected = false;  // its dimension indicator
    bool scatter = false;            // the region right of it shows its scatterplot
    double curveOpacity = 1.0;
    double pointOpacity = 1.0;
    // How the axis places its dimension's values (keys I and L).
    bool flipped = false;
    AxisScale scale = AxisScale::Linear;
    // The region's MDS plot: its members' dimensions (the base pair first)
    // and which of them are switched on. No members: no MDS plot.
    std::vector<int> mdsMembers;
    std::vector<bool> mdsActive;
};

struct SavedAxisBrush {
    int axis = 0;
    double low = 0.0;
    double high = 0.0;
    bool inverted = false;
};

struct SavedAngularBrush {
    int apexAxis = 0;
    int farAxis = 0;
    bool apexOnLeft = true;
    double upperBound = 0.0;
    double lowerBound = 0.0;
    Point apex, upperEnd, lowerEnd;  // brush coordinates
    bool inverted = false;
};

struct SavedScatterPlotBrush {
    int leftAxis = 0;
    int rightAxis = 0;
    std::vector<Point> outline;  // scatterplot coordinates
    bool inverted = false;
};

struct SessionFile {
    // The table: its path, the fingerprint of its file and its shape.
    std::string tablePath;
    std::uint64_t tableBytes = 0;
    std::uint64_t tableHash = 0;
    int records = 0;
    int dimensions = 0;
    // The column rules the table was read under (data/text_columns.h); a
    // session that records none was saved before the rules had versions.
    int columnRules = 1;
    std::vector<SavedAxis> axes;  // left to right, one per shown dimension
    bool axesLocked = false;

    // The keys' switches and the zoom.
    bool straightLines = true;
    bool showHistograms = false;
    bool colorBySelection = true;
    bool antialiasingOff = false;
    bool densityShading = false;
    bool hoverFading = true;
    int strokeTexture = 1;
    std::array<double, 4> viewBox{0.0, 1.0, 0.0, 1.0};  // left, right, bottom, top
    double pointSize = 5.0;
    double curveLineWidth = 2.0;
    double axisLineWidth = 2.0;
    int colorDimension = 0;
    int highlightedRecord = -1;  // none

    // The palette: paint mode (selected) or selection mode, and its colour.
    bool paintMode = true;
    double colorLevel = 0.2;
    double transparencyLevel = 0.5;
    Rgba paintColor{0.2, 0.2, 0.2, 0.2};

    std::vector<SavedAxisBrush> axisBrushes;
    std::vector<SavedAngularBrush> angularBrushes;
    std::vector<SavedScatterPlotBrush> scatterPlotBrushes;

    // Per record, as indices into the distinct values: the selection degree,
    // and the own colour (none: the colour functions colour the record).
    std::vector<double> selectionValues;
    IndexedColumn selection;
    std::vector<std::optional<Rgba>> colorValues;
    IndexedColumn colors;

    // The records window, in sessions that tell of it: whether it is open
    // and what its rows are sorted by (-1: nothing, -2: the record labels,
    // else a dimension).
    struct RecordsWindow {
        bool open = false;
        int sortBy = -1;
        bool descending = false;
    };
    std::optional<RecordsWindow> recordsWindow;
};

// The file's text; empty when the table path is not UTF-8, which JSON cannot hold.
std::string writeSessionJson(const SessionFile& session);
// Reads and checks text; false with why set to a short phrase when it is no
// session this viewer can restore.
bool readSessionJson(const std::string& text, SessionFile& session, std::string& why);

// What reading a session's text as JSON events finds without building it:
// its table's record count (-1 when it states none) and about how many bytes
// the parsed JSON would take.
struct SessionScan {
    long long records = -1;
    std::uint64_t parsedBytes = 0;
};
// Scans text (a whole file, or the first part of one) until it ends or
// stops being JSON.
SessionScan scanSessionJson(const char* text, std::size_t size);

// The most bytes a session file of a table of this many records may have:
// 64 bytes a record and 16 MB, more than any view of it needs.
inline std::uint64_t sessionBytesFor(long long records) {
    return (std::uint64_t(16) << 20) + 64 * static_cast<std::uint64_t>(records < 0 ? 0 : records);
}
