#pragma once
// Brushes and the per-record selection they fold into. Three kinds exist;
// each list owns its brushes in creation order.

#include <array>
#include <deque>
#include <memory>
#include <vector>

#include "base/large_array.h"
#include "base/types.h"
#include "data/dimension.h"
#include "plot/record_state.h"

struct PCPlot;
struct PCShowAxis;

class PCBrush {
public:
    // Per record, 1 where the brush's test accepted it (its value is then
    // insideValue) and 0 where it did not (outsideValue). Written by apply;
    // a brush kept in its list has folded them and holds none.
    std::vector<unsigned char, LargeArrayAllocator<unsigned char>> values;
    PCPlot* plot = nullptr;
    double outsideValue = 0.23;
    double insideValue = 1.0;
    bool inverted = false;
    int capacity = 0;
    // Set once its trace said the brush is no longer drawn: an axis it
    // touches places its values differently now (flip, scale).
    bool hidden = false;

    PCBrush();
    virtual ~PCBrush() = default;
    virtual void apply() {}
    void invert();
    // Record i's membership value, and all of them as the plot folds them.
    double value(int i) const { return values[static_cast<std::size_t>(i)] ? insideValue : outsideValue; }
    Membership membership() const { return {values.data(), insideValue, outsideValue}; }
};

class PCAxisBrush : public PCBrush {
public:
    double high = 0.0;
    double low = 0.0;
    PCShowAxis* axis = nullptr;
    Rgba color{1.0, 0.0, 0.0, 0.7};
    // How the axis placed its values when the brush was made: the interval
    // is drawn at the same values when the axis is flipped or scaled later.
    Placement madeOn;

    PCAxisBrush() = default;
    PCAxisBrush(PCShowAxis* axis, double low, double high, double outsideValue, double insideValue);
    void apply() override;
};

class PCAngularBrush : public PCBrush {
public:
    Rgba color{1.0, 0.0, 0.0, 0.7};
    PCShowAxis* apexAxis = nullptr;
    PCShowAxis* farAxis = nullptr;
    double upperBound = 0.0;
    double lowerBound = 0.0;
    bool apexOnLeft = true;
    Point apex;
    Point upperEnd;
    Point lowerEnd;
    // How both axes placed their values when the brush was made.
    Placement apexMadeOn;
    Placement farMadeOn;

    PCAngularBrush() = default;
    // The three points are in view coordinates.
    PCAngularBrush(PCShowAxis* apexAxis, PCShowAxis* farAxis, bool apexOnLeft, Point apex,
                   Point upperEnd, Point lowerEnd, double outsideValue, double insideValue);
    void apply() override;
    void computeAngularBounds(Point apexView, Point upperView, Point lowerView);
};

class PCScatterPlotBrush : public PCBrush {
public:
    Rgba color{1.0, 0.0, 0.0, 0.7};
    PCShowAxis* leftAxis = nullptr;
    PCShowAxis* rightAxis = nullptr;
    std::vector<Point> outline;
    Placement leftMadeOn;
    Placement rightMadeOn;

    PCScatterPlotBrush() = default;
    // Takes the outline from the current stroke.
    PCScatterPlotBrush(PCShowAxis* leftAxis, PCShowAxis* rightAxis, double outsideValue,
                       double insideValue);
    void apply() override;
    void captureOutline();
    // The membership part of apply: values only, no trace.
    void evaluate();
    // The trace part of apply: the outline and every accepted record, one
    // line each, flushed once at the end.
    void traceAccepted() const;
    // Where apply finds the records' points: the MDS layout's output where
    // the region shows one, else the positions on the region's two axes.
    struct PointSource {
        const double* layoutX = nullptr;
        const double* layoutY = nullptr;
        Positions across;  // the right axis
        Positions up;      // the left axis

        explicit operator bool() const { return layoutX != nullptr || (across && up); }
        Point operator[](long long i) const {
            return layoutX ? Point{layoutX[i], layoutY[i]} : Point{across[i], up[i]};
        }
        // Records first .. first + count - 1, into x and y.
        void fill(long long first, long long count, double* x, double* y) const;
    };
    PointSource recordPoints() const;
};

// A finished stroke that fades out after it made a brush.
struct VanishingTrack {
    PointList points;
    double startTime = 0.0;
    double lifetime = 0.0;
};

// Opacity of a track at time now, falling linearly from 1 to 0 over its
// lifetime; negative once the lifetime has run out.
inline double trackAlpha(const VanishingTrack& track, double now) {
    if (!(track.startTime + track.lifetime > now)) return -1.0;
    if (track.lifetime <= 0.0) return 1.0;  // only a track from a later clock reading gets here
    const double alpha = 1.0 - (now - track.startTime) / track.lifetime;
    return alpha > 1.0 ? 1.0 : alpha;
}

// Calls draw(track, alpha) for every live track in order and erases the
// expired ones without drawing them.
template <class Draw>
void walkVanishingTracks(std::deque<VanishingTrack>& tracks, double now, Draw&& draw) {
    for (auto it = tracks.begin(); it != tracks.end();) {
        const double alpha = trackAlpha(*it, now);
        if (alpha < 0.0) {
            it = tracks.erase(it);
            continue;
        }
        draw(*it, alpha);
        ++it;
    }
}

// Erases the tracks expired at time now.
void dropExpiredTracks(std::deque<VanishingTrack>& tracks, double now);

extern std::vector<std::unique_ptr<PCAxisBrush>> axisBrushes;
extern std::vector<std::unique_ptr<PCAngularBrush>> angularBrushes;
extern std::vector<std::unique_ptr<PCScatterPlotBrush>> scatterPlotBrushes;
extern std::deque<VanishingTrack> vanishingTracks;

enum class BrushKind { Axis, Angular, ScatterPlot };
constexpr double axisTrackMs = 2000.0;
constexpr double otherTrackMs = 1000.0;

// Inverts (SHIFT), evaluates, then paints (palette selected) or keeps the
// brush and folds it into the selection (CTRL: union, else intersection);
// leaves a track of the stroke and writes the kind's trace lines.
void commitBrush(std::unique_ptr<PCBrush> brush, BrushKind kind, double lifetime);

// Deletes every brush and track and selects every record again.
void clearBrushes();
// Deletes the kept brushes only; whoever frees axes calls it first, since
// every kept brush points at axes.
void dropBrushes();
// A brush's colour as drawn: its own, or the opposite one when inverted.
Rgba brushColor(const Rgba& color, bool inverted);
// Where the axis brush's interval ends (low, high) lie on its axis now: as
// made, or at the values they stood for when the axis was flipped or scaled.
void axisBrushInterval(const PCAxisBrush& brush, double& low, double& high);
// Whether an angular or scatterplot brush can still be drawn where it
// selected: both its axes place their values as when it was made.
bool drawnAsMade(const PCAngularBrush& brush);
bool drawnAsMade(const PCScatterPlotBrush& brush);
// After a flip or scale: traces " brush on <name> hidden: its axis changed"
// once for each kept angular or scatterplot brush that can no longer be
// drawn truthfully.
void reportHiddenBrushes();

// Brush coordinates: u = 0 on the apex axis and 1 on the far axis, v over the
// mean height of the two axes. Degenerate axes leave the outputs untouched.
void toBrushCoordinates(const PCAngularBrush& brush, double x, double y, double& u, double& v);
void fromBrushCoordinates(const PCAngularBrush& brush, double u, double v, double& x, double& y);

// Stroke recognition: each returns true when it made a brush (or, for the
// outline, lassoed a shape). The axes are the plot's, left to right.
using AxisSlots = std::array<PCShowAxis*, maxSlots>;
bool createAxisBrush(const AxisSlots& axes, int axisCount, double minX, double minY, double maxX,
                     double maxY, double pathLength);
bool createAngularBrush(const AxisSlots& axes, int axisCount, double minX, double minY,
                        double maxX, double maxY, double pathLength);
bool createScatterPlotBrush(const AxisSlots& axes, int axisCount, double minX, double minY,
                            double maxX, double maxY, double pathLength);
// Toggles the indicators and MDS markers the closed stroke encloses.
bool lassoShapes(double minX, double minY, double maxX, double maxY);
// Turns the finished stroke into at most one brush.
void dispatchStroke();
