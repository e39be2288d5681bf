#pragma once
// Making the textures: loading the bitmap images, turning them into GL
// textures and building the disc.

#include <string>

#include "base/textures.h"

// Needs the drawing area's GL context to be current.
void initTextures();
bool loadImage(const std::string& fileName, TextureImage& image);
bool createTexture(TextureImage& image);

// Alpha of a pixel whose three colour bytes add up to sum.
int strokeTextureAlpha(int sum);   // entries 1 to 3: saturates at 42 % darkness
int strawTextureAlpha(int sum);    // entry 0: proportional to darkness
// One byte of the 64 by 64 disc texture at (row, column); all four channels are equal.
unsigned char discTexel(int row, int column);
