#pragma once
// One line of text in the plot's text colour, with the toolkit's bitmap
// font: the labels of the axes and the names under the MDS markers.

#include <cstddef>
#include <string>

void drawText(double x, double y, const std::string& text);
void drawText(double x, double y, const char* text);

// The text drawText is drawing: at most 99 characters and the terminator.
constexpr std::size_t textBufferSize = 100;
extern char textBuffer[textBufferSize];

// Copies the first line of text (up to a line feed) into out, cut to
// outSize - 1 characters and terminated; returns the characters copied.
std::size_t copyTextLine(const char* text, char* out, std::size_t outSize);
