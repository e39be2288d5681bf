#include "render/picture.h"

#include <FreeImage.h>
#include <GL/gl.h>

#include <vector>

#include "base/platform.h"
#include "plot/plot.h"
#include "render/display.h"
#include "render/record_layer.h"

bool exportPictureTo(const std::string& path) {
    const int width = windowWidth;
    const int height = windowHeight;
    if (width <= 0 || height <= 0) {
        trace(" no picture to write");
        return false;
    }
    // The layer being completed is finished first: the picture shows it whole.
    onDisplay();
    finishRecordLayer();
    // Two frames: whether the swap copies or exchanges the buffers, the back
    // buffer then holds the frame being shown.
    onDisplay();
    onDisplay();
    glFinish();
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());

    FIBITMAP* bitmap = FreeImage_Allocate(width, height, 24);
    if (bitmap == nullptr) {
        traceRefusal(" could not write picture ", path);
        return false;
    }
    // GL rows and FreeImage scan lines both start at the bottom.
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        const unsigned char* source = &pixels[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
            line[x * 3 + FI_RGBA_RED] = source[x * 3];
            line[x * 3 + FI_RGBA_GREEN] = source[x * 3 + 1];
            line[x * 3 + FI_RGBA_BLUE] = source[x * 3 + 2];
        }
    }
    const bool saved = FreeImage_Save(FIF_PNG, bitmap, path.c_str(), PNG_DEFAULT) != 0;
    FreeImage_Unload(bitmap);
    if (!saved) {
        traceRefusal(" could not write picture ", path);
        return false;
    }
    trace(" picture written to ", path);
    return true;
}
