#pragma once
// Writes the drawing area as shown to a PNG file.

#include <string>

// Draws the current frame into the current GL context, reads it back and
// writes it through FreeImage; traces the outcome, false on failure.
bool exportPictureTo(const std::string& path);
