#include "draw/text.h"

#include <FL/glut.H>

#include <algorithm>

#include "base/types.h"
#include "plot/plot.h"

char textBuffer[textBufferSize] = {};
bool textHalos = true;

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

namespace {

// Draws the n characters of textBuffer from the current raster position.
void drawBufferedCharacters(std::size_t n) {
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

const Rgba& textColor() {
    static const Rgba black{0, 0, 0, 1};
    return plot ? plot->textColor : black;
}

// The view box and the viewport the projection maps it to.
struct ViewSpace {
    double left = 0.0, right = 1.0, bottom = 0.0, top = 1.0;
    int width = 1, height = 1;
};

ViewSpace currentViewSpace() {
    GLdouble m[16];
    GLint viewport[4];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    glGetIntegerv(GL_VIEWPORT, viewport);
    ViewSpace s;
    if (m[0] != 0.0 && m[5] != 0.0) {
        s.left = (-1.0 - m[12]) / m[0];
        s.right = (1.0 - m[12]) / m[0];
        s.bottom = (-1.0 - m[13]) / m[5];
        s.top = (1.0 - m[13]) / m[5];
    }
    s.width = viewport[2] > 0 ? viewport[2] : 1;
    s.height = viewport[3] > 0 ? viewport[3] : 1;
    return s;
}

}  // namespace

void drawText(double x, double y, const char* text) {
    const std::size_t n = copyTextLine(text, textBuffer, textBufferSize);
    // The raster position takes the current colour, so the colour comes first.
    glColor4dv(textColor().data());
    glRasterPos2d(x, y);
    drawBufferedCharacters(n);
}

void drawText(double x, double y, const std::string& text) { drawText(x, y, text.c_str()); }

const FontMetrics& textFont() {
    static FontMetrics font;
    static bool measured = false;
    if (!measured) {
        // What each character moves the raster position by, as drawn, with
        // nothing written; a blank moves as drawText moves it.
        GLboolean mask[4];
        glGetBooleanv(GL_COLOR_WRITEMASK, mask);
        glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
        const ViewSpace s = currentViewSpace();
        for (int c = 1; c < 256; ++c) {
            if (c == ' ') {
                font.advance[' '] = static_cast<unsigned char>(glutBitmapWidth(GLUT_BITMAP_HELVETICA_10, ' '));
                continue;
            }
            glRasterPos2d((s.left + s.right) / 2.0, (s.bottom + s.top) / 2.0);
            GLdouble before[4], after[4];
            glGetDoublev(GL_CURRENT_RASTER_POSITION, before);
            glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, c);
            glGetDoublev(GL_CURRENT_RASTER_POSITION, after);
            font.advance[static_cast<std::size_t>(c)] =
                static_cast<unsigned char>(std::clamp(after[0] - before[0], 0.0, 255.0) + 0.5);
        }
        glColorMask(mask[0], mask[1], mask[2], mask[3]);
        measured = true;
    }
    return font;
}

std::string fitText(const std::string& text, int maxWidth, const FontMetrics& font) {
    if (font.width(text) <= maxWidth) return text;
    const int dots = font.width("...");
    std::size_t n = 0;
    for (int w = 0; n < text.size() && w + font.advance[static_cast<unsigned char>(text[n])] + dots <= maxWidth; ++n)
        w += font.advance[static_cast<unsigned char>(text[n])];
    if (n > 0) return text.substr(0, n) + "...";
    for (int w = 0; n < text.size() && w + font.advance[static_cast<unsigned char>(text[n])] <= maxWidth; ++n)
        w += font.advance[static_cast<unsigned char>(text[n])];
    return text.substr(0, n);
}

double pixelWidthInView() {
    const ViewSpace s = currentViewSpace();
    return (s.right - s.left) / s.width;
}

double pixelHeightInView() {
    const ViewSpace s = currentViewSpace();
    return (s.top - s.bottom) / s.height;
}

void drawHaloText(double x, double y, std::string_view text, TextAlign align, double dx, double dy) {
    const std::size_t cut = text.find('\n');
    if (cut != std::string_view::npos) text = text.substr(0, cut);
    if (text.size() >= textBufferSize) text = text.substr(0, textBufferSize - 1);
    const ViewSpace s = currentViewSpace();
    // A raster position outside the view is invalid and draws nothing: the
    // halo goes with its text.
    const double lowX = std::min(s.left, s.right), highX = std::max(s.left, s.right);
    const double lowY = std::min(s.bottom, s.top), highY = std::max(s.bottom, s.top);
    if (!(x >= lowX && x <= highX && y >= lowY && y <= highY)) return;
    const FontMetrics& font = textFont();
    const int width = font.width(text);
    const double left = dx - (align == TextAlign::Right ? width : 0);
    if (textHalos && width > 0) {
        const double px = (s.right - s.left) / s.width, py = (s.top - s.bottom) / s.height;
        const Rgba b = plot ? plot->backgroundColor : Rgba{1, 1, 1, 1};
        glColor4d(b[0], b[1], b[2], 0.8);
        glBegin(GL_QUADS);
        glVertex2d(x + (left - 1.0) * px, y + (dy - font.descent - 1.0) * py);
        glVertex2d(x + (left + width + 1.0) * px, y + (dy - font.descent - 1.0) * py);
        glVertex2d(x + (left + width + 1.0) * px, y + (dy + font.ascent + 1.0) * py);
        glVertex2d(x + (left - 1.0) * px, y + (dy + font.ascent + 1.0) * py);
        glEnd();
    }
    text.copy(textBuffer, text.size());
    textBuffer[text.size()] = '\0';
    glColor4dv(textColor().data());
    glRasterPos2d(x, y);
    if (left != 0.0 || dy != 0.0)
        glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(left), static_cast<GLfloat>(dy), nullptr);
    drawBufferedCharacters(text.size());
}
