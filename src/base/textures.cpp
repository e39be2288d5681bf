#include "base/textures.h"

TextureImage textures[textureSlots];
int textureCount = 3;
int activeTexture = 1;
unsigned discTexture = 0;
