#pragma once
// Brushes and the per-record selection they fold into. Three kinds exist;
// each list owns its brushes in creation order.

#include <deque>
#include <memory>
#include <vector>

#include "plot/types.h"

struct PCPlot;
struct PCShowAxis;

class PCBrush {
public:
    std::vector<double> values;
    PCPlot* plot = nullptr;
    double outsideValue = 0.23;
    double insideValue = 1.0;
    bool inverted = false;
    int capacity = 0;

    PCBrush();
    virtual ~PCBrush() = default;
    virtual void apply() {}
    virtual void draw() {}
    void invert();
};

class PCAxisBrush : public PCBrush {
public:
    double high = 0.0;
    double low = 0.0;
    PCShowAxis* axis = nullptr;
    Rgba color{1.0, 0.0, 0.0, 0.7};
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
};

class PCScatterPlotBrush : public PCBrush {
public:
    Rgba color{1.0, 0.0, 0.0, 0.7};
    PCShowAxis* leftAxis = nullptr;
    PCShowAxis* rightAxis = nullptr;
    std::vector<Point> outline;
};

// A finished stroke that fades out after it made a brush.
struct VanishingTrack {
    PointList points;
    double startTime = 0.0;
    double lifetime = 0.0;
};

extern std::vector<std::unique_ptr<PCAxisBrush>> axisBrushes;
extern std::vector<std::unique_ptr<PCAngularBrush>> angularBrushes;
extern std::vector<std::unique_ptr<PCScatterPlotBrush>> scatterPlotBrushes;
extern std::deque<VanishingTrack> vanishingTracks;

// Deletes every brush and track and selects every record again.
void clearBrushes();
// Draws one axis brush as a frame of half-width w around its interval.
void drawAxisBrush(const PCAxisBrush& brush, double w);
