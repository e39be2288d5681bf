#pragma once
// Overlay shapes: small interactive marks drawn over the plot. The list
// `shapes` owns them; the display draws them in list order
// (render/shapes_gl.h). A shape holds its state and geometry only.

#include <memory>
#include <vector>

#include "base/types.h"

struct PCPlot;
struct PCShowAxis;

class Shape {
public:
    PCPlot* plot = nullptr;
    double x = 0.0;
    double y = 0.0;
    bool removed = false;
    bool selected = false;
    bool dragging = false;
    double size = 0.0;

    // (px, py) is a window pixel; the shape stores its view coordinates.
    Shape(int px, int py);
    virtual ~Shape() = default;

    virtual bool hitTest(int px, int py) { (void)px; (void)py; return false; }
    virtual void drag(int px, int py) { (void)px; (void)py; }
    virtual void press(int px, int py) { (void)px; (void)py; }
    virtual void release(int px, int py) { (void)px; (void)py; }
    // Moves the shape to where what it stands for lies now; returns the new x.
    virtual double place() { return x; }
    virtual int type() const { return 0; }
    virtual bool select(int px, int py);
    virtual bool deselect(int px, int py);
    virtual Point getPosition() const { return {x, y}; }
};

enum ShapeType : int { AxisIndicatorType = 1, MdsMarkerType = 2, PaletteType = 3 };

// The colour palette: a vertical strip whose height picks a colour on a
// red-green-blue-black ramp and whose width picks the transparency.
class ColorSquareShape : public Shape {
public:
    double paletteHeight = 0.1;
    double pointerX = 0.0;
    double pointerY = 0.0;
    double colorLevel = 0.2;
    double transparencyLevel = 0.5;
    Rgba currentColor{0, 0, 0, 1};

    ColorSquareShape();

    bool hitTest(int px, int py) override;
    void drag(int px, int py) override;
    void press(int px, int py) override;
    void release(int px, int py) override;
    int type() const override { return PaletteType; }
    bool deselect(int px, int py) override;

    void pickAt(double u, double v);
    void updateColor();
};

// The disc under an axis that stands for its dimension.
class AxisMDSShape : public Shape {
public:
    PCShowAxis* axis = nullptr;
    double grabOffsetX = 0.0;
    double grabOffsetY = 0.0;
    double dragX = 0.0;
    double dragY = 0.0;

    explicit AxisMDSShape(PCShowAxis* axis);

    bool hitTest(int px, int py) override;
    void drag(int px, int py) override;
    void press(int px, int py) override;
    void release(int px, int py) override;
    // The disc stands under its axis.
    double place() override;
    int type() const override { return AxisIndicatorType; }
};

// The marker of a dimension merged into a region's MDS plot; it stands
// between the region's axes. Selected means switched off.
class MDSShape : public Shape {
public:
    PCShowAxis* mdsAxis = nullptr;
    PCShowAxis* memberAxis = nullptr;
    double grabOffsetX = 0.0;
    double grabOffsetY = 0.0;
    double dragX = 0.0;
    double dragY = 0.0;
    int memberSlot = 0;

    // Adds memberAxis's dimension to mdsAxis's MDS plot.
    MDSShape(PCPlot* plot, PCShowAxis* mdsAxis, PCShowAxis* memberAxis);

    bool hitTest(int px, int py) override;
    void drag(int px, int py) override;
    void press(int px, int py) override;
    void release(int px, int py) override;
    int type() const override { return MdsMarkerType; }
    bool select(int px, int py) override;
    bool deselect(int px, int py) override;

    // Places the marker among the region's members.
    double place() override;
    // Where place puts the marker (x as it stands while the region has
    // fewer than two members), and the member slot it takes there.
    double placedX(int* slot = nullptr) const;
};

extern std::vector<std::unique_ptr<Shape>> shapes;
extern ColorSquareShape* palette;

// Deletes every shape.
void clearShapes();
// Deletes the shapes marked removed, keeping the order of the rest.
void pruneRemovedShapes();
// Places every shape where what it stands for lies now.
void placeShapes();
// Deletes the markers of the MDS plot of axis's region, keeping the order of the rest.
void removeMdsMarkers(const PCShowAxis* axis);
