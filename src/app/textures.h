#pragma once
// The bitmap textures of strokes and the palette marker, and the
// procedural disc of the dimension indicators.

#include <string>

struct FIBITMAP;

struct TextureImage {
    FIBITMAP* bitmap = nullptr;
    std::string fileName;
    unsigned textureId = 0;
    int width = 0;
    int height = 0;
};

constexpr int textureSlots = 30;
extern TextureImage textures[textureSlots];
extern int textureCount;
extern int activeTexture;
extern unsigned discTexture;

// Needs the drawing area's GL context to be current.
void initTextures();
bool loadImage(const std::string& fileName, TextureImage& image);
bool createTexture(TextureImage& image);

// Alpha of a pixel whose three colour bytes add up to sum.
int strokeTextureAlpha(int sum);   // entries 1 to 3: saturates at 42 % darkness
int strawTextureAlpha(int sum);    // entry 0: proportional to darkness
// One byte of the 64 by 64 disc texture at (row, column); all four channels are equal.
unsigned char discTexel(int row, int column);
