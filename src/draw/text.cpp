#include "draw/text.h"

#include <FL/glut.H>

#include "base/types.h"
#include "plot/plot.h"

char textBuffer[textBufferSize] = {};

std::size_t copyTextLine(const char* text, char* out, std::size_t outSize) {
    if (outSize == 0) return 0;
    std::size_t n = 0;
    if (text != nullptr) {
        // Only the first line is drawn, and a longer text is cut to what fits.
        while (n + 1 < outSize && text[n] != '\0' && text[n] != '\n') {
            out[n] = text[n];
            ++n;
        }
    }
    out[n] = '\0';
    return n;
}

void drawText(double x, double y, const char* text) {
    const std::size_t n = copyTextLine(text, textBuffer, textBufferSize);
    // The raster position takes the current colour, so the colour comes first.
    glColor4dv(plot ? plot->textColor.data() : Rgba{0, 0, 0, 1}.data());
    glRasterPos2d(x, y);
    for (std::size_t i = 0; i < n; ++i) {
        if (textBuffer[i] == ' ') {
            // The toolkit's bitmap font draws a blank without moving on (as in
            // "2001-03-14 07:05"); the raster position is moved by its width.
            glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(glutBitmapWidth(GLUT_BITMAP_HELVETICA_10, ' ')), 0.0f,
                     nullptr);
            continue;
        }
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<unsigned char>(textBuffer[i]));
    }
}

void drawText(double x, double y, const std::string& text) { drawText(x, y, text.c_str()); }
