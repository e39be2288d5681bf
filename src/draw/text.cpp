#include "draw/text.h"

#include <FL/glut.H>
#include <GL/glx.h>

#include <algorithm>
#include <cmath>
#include <vector>

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

const Rgba& textColor() {
    static const Rgba black{0, 0, 0, 1};
    return plot ? plot->textColor : black;
}

// The view box, and the viewport the projection maps it to.
struct ViewSpace {
    double left = 0.0, right = 1.0, bottom = 0.0, top = 1.0;
    int x = 0, y = 0, width = 1, height = 1;

    bool holds(double vx, double vy) const {
        return vx >= std::min(left, right) && vx <= std::max(left, right) && vy >= std::min(bottom, top) &&
               vy <= std::max(bottom, top);
    }
    // Window pixels to view coordinates and back.
    double viewX(double wx) const { return left + (wx - x) / width * (right - left); }
    double viewY(double wy) const { return bottom + (wy - y) / height * (top - bottom); }
    double windowX(double vx) const { return x + (vx - left) / (right - left) * width; }
    double windowY(double vy) const { return y + (vy - bottom) / (top - bottom) * height; }
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
    s.x = viewport[0];
    s.y = viewport[1];
    s.width = viewport[2] > 0 ? viewport[2] : 1;
    s.height = viewport[3] > 0 ? viewport[3] : 1;
    return s;
}

// Every character of the toolkit's bitmap font, as glutBitmapCharacter draws
// it, copied once into a texture of 16 x 16 cells: a text is then one batch
// of textured quads instead of one bitmap per character, the same pixels at
// a fraction of the cost. Cell 0 is solid, for the halo.
struct GlyphAtlas {
    static constexpr int cell = 16;
    static constexpr int size = 16 * cell;
    static constexpr int originX = 2;  // columns of a cell left of the glyph's origin
    static constexpr int originY = 4;  // rows below its baseline
    GLXContext context = nullptr;      // whose texture it is
    GLuint texture = 0;
    bool usable = false;
};

GlyphAtlas atlas;
FontMetrics font;

// Draws the characters of text from the current raster position, a blank
// moved over as drawText moves it (the toolkit's font draws one without
// moving on, as in "2001-03-14 07:05").
void drawBitmapCharacters(std::string_view text) {
    for (char c : text) {
        if (c == ' ')
            glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(glutBitmapWidth(GLUT_BITMAP_HELVETICA_10, ' ')), 0.0f,
                     nullptr);
        else
            glutBitmapCharacter(GLUT_BITMAP_HELVETICA_10, static_cast<unsigned char>(c));
    }
}

// Measures every character and copies it into the atlas, a strip of cells at
// a time through the lower left of the viewport, whose pixels are put back.
void buildAtlas() {
    const GLXContext context = glXGetCurrentContext();
    if (atlas.context == context && context != nullptr) return;
    atlas = GlyphAtlas{};
    atlas.context = context;
    font = FontMetrics{};
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int perStrip = std::min(viewport[2], 512) / GlyphAtlas::cell;
    if (context == nullptr || perStrip < 1 || viewport[3] < GlyphAtlas::cell) return;

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, viewport[2], 0.0, viewport[3], -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    for (GLenum off : {GL_BLEND, GL_TEXTURE_2D, GL_DEPTH_TEST, GL_ALPHA_TEST, GL_DITHER, GL_LOGIC_OP})
        glDisable(off);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelZoom(1.0f, 1.0f);

    std::vector<unsigned char> pixels(static_cast<std::size_t>(GlyphAtlas::size) * GlyphAtlas::size, 0);
    for (int y = 0; y < GlyphAtlas::cell; ++y)
        for (int x = 0; x < GlyphAtlas::cell; ++x) pixels[static_cast<std::size_t>(y) * GlyphAtlas::size + x] = 255;
    const int stripWidth = perStrip * GlyphAtlas::cell;
    std::vector<unsigned char> kept(static_cast<std::size_t>(stripWidth) * GlyphAtlas::cell * 4);
    std::vector<unsigned char> drawn(static_cast<std::size_t>(stripWidth) * GlyphAtlas::cell * 4);
    int highest = 0, lowest = 0, widest = 0;
    for (int first = 1; first < 256; first += perStrip) {
        const int count = std::min(perStrip, 256 - first);
        glReadPixels(viewport[0], viewport[1], stripWidth, GlyphAtlas::cell, GL_RGBA, GL_UNSIGNED_BYTE, kept.data());
        glEnable(GL_SCISSOR_TEST);
        glScissor(viewport[0], viewport[1], stripWidth, GlyphAtlas::cell);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
        glColor3d(1.0, 1.0, 1.0);
        for (int k = 0; k < count; ++k) {
            const int c = first + k;
            glRasterPos2i(k * GlyphAtlas::cell + GlyphAtlas::originX, GlyphAtlas::originY);
            GLdouble before[4], after[4];
            glGetDoublev(GL_CURRENT_RASTER_POSITION, before);
            const char ch = static_cast<char>(c);
            drawBitmapCharacters(std::string_view(&ch, 1));
            glGetDoublev(GL_CURRENT_RASTER_POSITION, after);
            font.advance[static_cast<std::size_t>(c)] =
                static_cast<unsigned char>(std::clamp(after[0] - before[0], 0.0, 255.0) + 0.5);
        }
        glReadPixels(viewport[0], viewport[1], stripWidth, GlyphAtlas::cell, GL_RGBA, GL_UNSIGNED_BYTE, drawn.data());
        for (int k = 0; k < count; ++k) {
            const int c = first + k;
            for (int y = 0; y < GlyphAtlas::cell; ++y)
                for (int x = 0; x < GlyphAtlas::cell; ++x) {
                    if (drawn[(static_cast<std::size_t>(y) * stripWidth + k * GlyphAtlas::cell + x) * 4] < 128) continue;
                    pixels[static_cast<std::size_t>((c / 16) * GlyphAtlas::cell + y) * GlyphAtlas::size +
                           (c % 16) * GlyphAtlas::cell + x] = 255;
                    if (c > ' ' && c < 127) {
                        highest = std::max(highest, y - GlyphAtlas::originY + 1);
                        lowest = std::max(lowest, GlyphAtlas::originY - y);
                        widest = std::max(widest, x - GlyphAtlas::originX + 1);
                    }
                }
        }
        glRasterPos2i(0, 0);
        glDrawPixels(stripWidth, GlyphAtlas::cell, GL_RGBA, GL_UNSIGNED_BYTE, kept.data());
    }
    font.ascent = highest;
    font.descent = lowest;
    // A glyph that may reach out of its cell is left to glutBitmapCharacter.
    atlas.usable = highest < GlyphAtlas::cell - GlyphAtlas::originY && lowest < GlyphAtlas::originY &&
                   widest < GlyphAtlas::cell - GlyphAtlas::originX && highest > 0;
    if (atlas.usable) {
        glGenTextures(1, &atlas.texture);
        glBindTexture(GL_TEXTURE_2D, atlas.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, GlyphAtlas::size, GlyphAtlas::size, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                     pixels.data());
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

// One line of text with its lower left baseline end at window pixel (wx, wy)
// (already moved), optionally on a halo, from the atlas.
void drawFromAtlas(const ViewSpace& s, double wx, double wy, std::string_view text, const Rgba* halo) {
    // Where glBitmap would put the glyphs: whole pixels below the position.
    const double x0 = std::floor(wx), y0 = std::floor(wy);
    GLint bound = 0, envMode = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    const bool textured = glIsEnabled(GL_TEXTURE_2D), alphaTest = glIsEnabled(GL_ALPHA_TEST);
    GLint alphaFunc = GL_ALWAYS;
    GLfloat alphaRef = 0.0f;
    glGetIntegerv(GL_ALPHA_TEST_FUNC, &alphaFunc);
    glGetFloatv(GL_ALPHA_TEST_REF, &alphaRef);
    glBindTexture(GL_TEXTURE_2D, atlas.texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);
    // Glyph pixels are whole or nothing, with blending on or off.
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
    const double unit = 1.0 / GlyphAtlas::size;
    const auto quad = [&](double a, double b, double w, double h, double u, double v) {
        glTexCoord2d(u, v);
        glVertex2d(s.viewX(a), s.viewY(b));
        glTexCoord2d(u + w * unit, v);
        glVertex2d(s.viewX(a + w), s.viewY(b));
        glTexCoord2d(u + w * unit, v + h * unit);
        glVertex2d(s.viewX(a + w), s.viewY(b + h));
        glTexCoord2d(u, v + h * unit);
        glVertex2d(s.viewX(a), s.viewY(b + h));
    };
    glBegin(GL_QUADS);
    if (halo != nullptr) {
        // All from the middle of the solid cell.
        glColor4dv(halo->data());
        glTexCoord2d(GlyphAtlas::cell / 2.0 * unit, GlyphAtlas::cell / 2.0 * unit);
        const double a = x0 - 1.0, b = y0 - font.descent - 1.0;
        const double w = font.width(text) + 2.0, h = font.height() + 2.0;
        glVertex2d(s.viewX(a), s.viewY(b));
        glVertex2d(s.viewX(a + w), s.viewY(b));
        glVertex2d(s.viewX(a + w), s.viewY(b + h));
        glVertex2d(s.viewX(a), s.viewY(b + h));
    }
    glColor4dv(textColor().data());
    double pen = x0;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c != ' ')
            quad(pen - GlyphAtlas::originX, y0 - GlyphAtlas::originY, GlyphAtlas::cell, GlyphAtlas::cell,
                 (c % 16) * GlyphAtlas::cell * unit, (c / 16) * GlyphAtlas::cell * unit);
        pen += font.advance[c];
    }
    glEnd();
    glAlphaFunc(static_cast<GLenum>(alphaFunc), alphaRef);
    if (!alphaTest) glDisable(GL_ALPHA_TEST);
    if (!textured) glDisable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, envMode);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

// One line at (x, y) moved by dx and dy pixels, on a halo of that colour when
// given; nothing where (x, y) lies outside the view, as a raster position
// there would be invalid.
void drawLine(double x, double y, std::string_view text, double dx, double dy, const Rgba* halo) {
    const std::size_t cut = text.find('\n');
    if (cut != std::string_view::npos) text = text.substr(0, cut);
    if (text.size() >= textBufferSize) text = text.substr(0, textBufferSize - 1);
    buildAtlas();
    const ViewSpace s = currentViewSpace();
    if (!s.holds(x, y)) return;
    if (text.empty()) halo = nullptr;
    if (atlas.usable) {
        drawFromAtlas(s, s.windowX(x) + dx, s.windowY(y) + dy, text, halo);
        return;
    }
    if (halo != nullptr) {
        const double px = (s.right - s.left) / s.width, py = (s.top - s.bottom) / s.height;
        const double w = font.width(text);
        glColor4dv(halo->data());
        glBegin(GL_QUADS);
        glVertex2d(x + (dx - 1.0) * px, y + (dy - font.descent - 1.0) * py);
        glVertex2d(x + (dx + w + 1.0) * px, y + (dy - font.descent - 1.0) * py);
        glVertex2d(x + (dx + w + 1.0) * px, y + (dy + font.ascent + 1.0) * py);
        glVertex2d(x + (dx - 1.0) * px, y + (dy + font.ascent + 1.0) * py);
        glEnd();
    }
    // The raster position takes the current colour, so the colour comes first.
    glColor4dv(textColor().data());
    glRasterPos2d(x, y);
    if (dx != 0.0 || dy != 0.0)
        glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(dx), static_cast<GLfloat>(dy), nullptr);
    drawBitmapCharacters(text);
}

}  // namespace

void drawText(double x, double y, const char* text) {
    const std::size_t n = copyTextLine(text, textBuffer, textBufferSize);
    drawLine(x, y, std::string_view(textBuffer, n), 0.0, 0.0, nullptr);
}

void drawText(double x, double y, const std::string& text) { drawText(x, y, text.c_str()); }

const FontMetrics& textFont() {
    buildAtlas();
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
    if (align == TextAlign::Right) {
        const std::size_t cut = text.find('\n');
        dx -= textFont().width(text.substr(0, cut == std::string_view::npos ? text.size() : cut));
    }
    const Rgba b = plot ? plot->backgroundColor : Rgba{1, 1, 1, 1};
    const Rgba halo{b[0], b[1], b[2], 0.8};
    drawLine(x, y, text, dx, dy, textHalos ? &halo : nullptr);
}
