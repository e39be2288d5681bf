#pragma once
// The overlay shapes in GL: the palette, the dimension indicators and the
// MDS markers, each as its model says, in list order over the plot.

#include <memory>
#include <vector>

class Shape;

void drawShape(const Shape& shape);
// Every shape not marked removed, in list order.
void drawShapes(const std::vector<std::unique_ptr<Shape>>& list);
