#pragma once
// The one central record of the view: table sizes, the listed dimensions,
// the displayed axes, viewport and view box, drawing sizes and colours, and
// the per-record colour and selection state.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/types.h"
#include "plot/record_state.h"

struct Dimension;
struct PCShowAxis;
struct Positions;
enum class AxisScale : unsigned char;
struct PCPlot;

using DimensionColorFn = void (*)(const PCPlot& plot, int recordIndex, Rgba& out);
using SelectionColorFn = void (*)(const PCPlot& plot, int recordIndex, double selection, Rgba& out);

// Blue-green-yellow-red ramp over the colour dimension.
void dimensionColorFn(const PCPlot& plot, int recordIndex, Rgba& out);
// The ramp's colour at t from 0 (red, the least values) over yellow, green
// and cyan to 1 (blue); out keeps its colour for t outside [0, 1].
void rampColor(double t, Rgba& out);
// Ramp colour for a fully selected record, fading grey below; selection is
// the record's degree.
void selectionColorFn(const PCPlot& plot, int recordIndex, double selection, Rgba& out);

// Process-wide drawing values.
extern int windowWidth;      // drawing-area width in pixels
extern int windowHeight;     // drawing-area height in pixels
extern double curveStep;     // length of one straight piece of a drawn curve
// Density shading (key G): opacity from how many records cover a pixel.
// Belongs to the viewer, not the table: loads and key F leave it as it is.
extern bool densityShading;
extern double aspectRatio;   // drawing-area height / width, set on reshape

// The highlighted record's colour, and the colour every record gets at load.
constexpr Rgba highlightColor{0.8, 0.0, 0.0, 0.9};
constexpr Rgba recordColorAtLoad{0.2, 0.2, 0.2, 0.2};

struct PCPlot {
    std::string labelColumnName;
    int recordCount = 0;
    int dimensionCount = 0;
    int axisCount = 0;
    int capacity = 0;
    std::array<PCShowAxis*, maxSlots> axes{};  // owned, left to right
    bool straightLines = false;
    int histogramBins = 10;
    bool showHistograms = true;
    double histogramScale = 1.0 / 30.0;
    const std::vector<std::string>* recordLabels = nullptr;
    std::array<double, maxSlots> axisPositions{};
    bool colorBySelection = false;
    std::array<Dimension*, maxSlots> dimensions{};  // not owned
    int viewportX = 0;
    int viewportY = 0;
    int viewportWidth = 0;
    int viewportHeight = 0;
    double viewLeft = 0.0;
    double viewRight = 1.0;
    double viewBottom = 0.0;
    double viewTop = 1.0;
    double viewFar = 1.0;
    double viewNear = -1.0;
    int colorDimension = 0;
    bool colorByFunction = true;
    bool antialiasingOff = false;
    Rgba textColor{0, 0, 0, 1};
    Rgba axisColor{0, 0, 0, 1};
    Rgba backgroundColor{1, 1, 1, 1};
    Rgba recordColor{0, 0, 0, 1};
    Rgba histogramColor{0, 0, 0, 0.5};
    Rgba selectedAxisColor{0, 0, 0, 0.9};
    // Each record's own colour where it has one (what the colour flag says).
    RecordColors recordColors;
    bool useRecordColors = true;
    double pointSize = 5.0;
    double axisLineWidth = 2.0;
    double curveLineWidth = 1.0;
    double regionMargin = 0.2;
    RecordSelection recordSelection;
    DimensionColorFn dimensionColorFn = ::dimensionColorFn;
    SelectionColorFn selectionColorFn = ::selectionColorFn;
    bool hasHighlightedRecord = false;
    int highlightedRecord = 0;
    // The record highlighted by highlightKeepingColors, drawn in the
    // highlight's colour while every record keeps its own; -1 for none.
    int colorKeepingHighlight = -1;
    // Change counters: every writer of what colorOfRecord reads bumps one,
    // so the caches of the record layer compare two numbers instead of
    // reading arrays of millions of records. recordSelection bumps
    // selectionRevision; recordColors, the highlight, colorDimension and
    // colorBySelection bump colorRevision.
    std::uint64_t selectionRevision = 0;
    std::uint64_t colorRevision = 0;

    // Sizes the per-record arrays for max(requestedCapacity, the loader's recordCount).
    explicit PCPlot(int requestedCapacity);
    ~PCPlot();
    PCPlot(const PCPlot&) = delete;
    PCPlot& operator=(const PCPlot&) = delete;

    PCShowAxis* axisAt(int i) const;
    Dimension* dimensionAt(int i) const;
    // Positions of the records on an axis (its dimension's normalised
    // values); empty for no axis or dimension.
    Positions normalizedOn(const PCShowAxis* axis) const;
    void setViewBox(double left, double right, double bottom, double top, double near, double far);
    std::array<int, 4> getViewport() const {
        return {viewportX, viewportY, viewportWidth, viewportHeight};
    }
    double* captureAxisPositions();

    // Colour of record i as the renderers draw it.
    void colorOfRecord(int i, Rgba& out) const;
    void setAllRecordColors(const Rgba& color);
    void highlightRecord(int index);
    // Highlights a record without touching any record's colour: the
    // records window's row click, which must not wipe the user's paints.
    void highlightKeepingColors(int index);
    // Folds per-record values into the selection by the lesser or the larger
    // of the two, or paints the records whose value is fully selected.
    void intersectSelection(const Membership& values);
    void uniteSelection(const Membership& values);
    void paintSelected(const Membership& values, const Rgba& color);
    // The same for any values, one per record.
    void intersectSelection(const double* values);
    void uniteSelection(const double* values);
    void paintSelected(const double* values, const Rgba& color);

    // Layout of the axes (axis.cpp).
    void buildDimensionList();
    void buildAxes();
    void deleteAxes();
    void spaceAxesEvenly();
    void setAxisPositions(const double* values);
    void selectOnlyAxis(int index);
    // Window pixels to view coordinates. A drawing area without extent maps
    // as if it were one pixel wide and high, so no event yields NaN or
    // infinity.
    Point toViewCoordinates(double x, double y) const;
    int nearestAxis(double vx) const;
    int regionAt(double vx) const;
    void dragAxisTo(double x, int index);
    void resortAxes();
    // Per plot dimension: its records' positions when some axis shows it, else empty.
    void normalizedForAxes(Positions* out) const;

    // An axis's flip and scale belong to the dimension it shows, so that
    // whatever is keyed on the dimension (histograms, bins) follows them.
    // Each setter traces what it did and is false when the axis shows no
    // dimension or the change is refused; a scale other than linear is
    // refused for time and category axes (with a line) and log for values
    // at or below zero.
    bool axisFlipped(const PCShowAxis& axis) const;
    AxisScale axisScale(const PCShowAxis& axis) const;
    bool setAxisFlipped(const PCShowAxis& axis, bool flipped);
    bool setAxisScale(const PCShowAxis& axis, AxisScale scale);
    // Key L: linear, then log (every present value positive) or symlog,
    // then linear again.
    bool cycleAxisScale(const PCShowAxis& axis);
};

// The current plot; null only between releasePlot and the next construction.
extern PCPlot* plot;

// Called whenever a plot is about to free its axes (deleteAxes, and so every
// rebuild of the axes and every destruction of a plot), so that what points
// at them goes first. The session installs it; freeing axes without it stops
// the program with a message.
void setAxesReleaseHook(void (*hook)());
