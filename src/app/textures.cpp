#include "app/textures.h"

#include <FL/gl.h>
#include <FreeImage.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/platform.h"

int strokeTextureAlpha(int sum) {
    const int level = static_cast<int>((765 - sum) / 765.0 * 255 * 0.8);
    return std::min(255, 3 * level);
}

int strawTextureAlpha(int sum) { return static_cast<int>((765 - sum) / 765.0 * 255); }

unsigned char discTexel(int row, int column) {
    const double dr = row - 31.5;
    const double dc = column - 31.5;
    if (dr * dr + dc * dc >= 1024.0) return 0;
    // Shaded from a highlight at (41.5, 21.5) towards the far rim.
    const double hr = row - 41.5;
    const double hc = column - 21.5;
    return static_cast<unsigned char>(255.0 * std::sqrt(hr * hr + hc * hc) /
                                      (10.0 * std::sqrt(2.0) + 32.0));
}

namespace {

void traceMasks(FIBITMAP* bitmap) {
    trace(FreeImage_GetRedMask(bitmap), ' ', FreeImage_GetGreenMask(bitmap), ' ',
          FreeImage_GetBlueMask(bitmap));
}

// Dark pixels become opaque, white ones transparent.
template <class AlphaRule>
void setAlphaFromBrightness(TextureImage& image, AlphaRule alphaOf) {
    if (image.bitmap == nullptr) return;
    BYTE* bits = FreeImage_GetBits(image.bitmap);
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    for (size_t k = 0; k < pixels; ++k) {
        BYTE* pixel = bits + 4 * k;
        const int sum = pixel[0] + pixel[1] + pixel[2];
        pixel[3] = static_cast<BYTE>(alphaOf(sum));
    }
}

void buildDiscTexture() {
    std::vector<unsigned char> image(64 * 64 * 4);
    for (int r = 0; r < 64; ++r) {
        for (int c = 0; c < 64; ++c) {
            const unsigned char v = discTexel(r, c);
            std::fill_n(image.begin() + (r * 64 + c) * 4, 4, v);
        }
    }
    glGenTextures(1, &discTexture);
    glBindTexture(GL_TEXTURE_2D, discTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
}

}  // namespace

bool loadImage(const std::string& fileName, TextureImage& image) {
    image.fileName = fileName;
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(fileName.c_str(), 0);
    if (format == FIF_UNKNOWN) format = FreeImage_GetFIFFromFilename(fileName.c_str());
    if (format == FIF_UNKNOWN) return false;
    if (!FreeImage_FIFSupportsReading(format)) return false;
    FIBITMAP* loaded = FreeImage_Load(format, fileName.c_str(), 0);
    if (loaded == nullptr) return false;
    const int width = static_cast<int>(FreeImage_GetWidth(loaded));
    const int height = static_cast<int>(FreeImage_GetHeight(loaded));
    if (FreeImage_GetBits(loaded) == nullptr || width == 0 || height == 0) {
        FreeImage_Unload(loaded);
        return false;
    }
    traceMasks(loaded);
    FIBITMAP* converted = FreeImage_ConvertTo32Bits(loaded);
    FreeImage_Unload(loaded);
    if (converted == nullptr) return false;
    image.bitmap = converted;
    trace("load successful ", fileName);
    traceMasks(converted);
    image.width = width;
    image.height = height;
    return true;
}

bool createTexture(TextureImage& image) {
    glGenTextures(1, &image.textureId);
    if (image.textureId == 0) {
        trace(" init texture ERROR!!!", image.fileName);
        return false;
    }
    glBindTexture(GL_TEXTURE_2D, image.textureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const void* bits = image.bitmap ? FreeImage_GetBits(image.bitmap) : nullptr;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, bits);
    trace(" init texture success ", image.fileName);
    return true;
}

void initTextures() {
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    textureCount = 3;
    activeTexture = 1;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    static const char* const strokeTextureNames[] = {"1.bmp", "2.bmp", "3.bmp"};
    for (int i = 0; i < textureCount; ++i) {
        TextureImage& image = textures[i + 1];
        loadImage(strokeTextureNames[i], image);
        setAlphaFromBrightness(image, strokeTextureAlpha);
        createTexture(image);
    }
    buildDiscTexture();
    loadImage("straw.bmp", textures[0]);
    setAlphaFromBrightness(textures[0], strawTextureAlpha);
    createTexture(textures[0]);
}
