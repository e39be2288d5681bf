#pragma once
// The texture handles: the bitmap textures of strokes and the palette
// marker, which of them strokes are drawn with, and the procedural disc of
// the dimension indicators. The application makes them (app/textures.h);
// the shapes and the renderers draw with them; key Z switches the stroke's.

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
