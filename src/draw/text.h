#pragma once
// One line of text in the plot's text colour, with the toolkit's bitmap
// font: the labels of the axes and the names under the MDS markers. Text
// drawn over records sits on a halo, a translucent box of the background
// colour, so that it reads on any bundle of lines.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

void drawText(double x, double y, const std::string& text);
void drawText(double x, double y, const char* text);

// The text drawText is drawing: at most 99 characters and the terminator.
constexpr std::size_t textBufferSize = 100;
extern char textBuffer[textBufferSize];

// Copies the first line of text (up to a line feed) into out, cut to
// outSize - 1 characters and terminated; returns the characters copied.
std::size_t copyTextLine(const char* text, char* out, std::size_t outSize);

// How far each character advances the text, and how far the letters reach
// above and below the baseline, in pixels.
struct FontMetrics {
    std::array<unsigned char, 256> advance{};
    int ascent = 10;
    int descent = 2;

    int width(std::string_view text) const {
        int w = 0;
        for (char c : text) w += advance[static_cast<unsigned char>(c)];
        return w;
    }
    int height() const { return ascent + descent; }
};

// The font drawText uses: its advances measured once as drawn (needs a
// current GL context).
const FontMetrics& textFont();

// The longest start of text that fits in maxWidth pixels followed by "...",
// or text itself when it fits whole; without room for "..." the longest
// start that fits alone (possibly empty).
std::string fitText(const std::string& text, int maxWidth, const FontMetrics& font);

// Halos behind the texts drawn over records: on in the program; switched off
// only to see what they cost.
extern bool textHalos;

enum class TextAlign { Left, Right };

// One line of text over records, on its halo: (x, y) in view coordinates is
// the left (or, aligned right, the right) end of its baseline, moved by dx
// and dy pixels. Drawn only where (x, y) lies inside the view, as drawText.
void drawHaloText(double x, double y, std::string_view text, TextAlign align = TextAlign::Left, double dx = 0.0,
                  double dy = 0.0);

// The size of one pixel in the coordinates drawing uses now, across and up.
double pixelWidthInView();
double pixelHeightInView();
