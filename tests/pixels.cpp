#include "tests/pixels.h"

#include "render/bitmap_surface.h"
#include "render/mono_font.h"

int blackPixelsIn(DrawSurface* surface, int x0, int y0, int x1, int y1)
{
    int count = 0;
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            count += isBlackPixel(surface, x, y) ? 1 : 0;
        }
    }
    return count;
}

int blackPixels(DrawSurface* surface)
{
    int width = 0;
    int height = 0;
    surfaceArea(surface, &width, &height);
    return blackPixelsIn(surface, 0, 0, width, height);
}

int glyphBlackPixels(unsigned char character)
{
    int count = 0;
    for (int row = 0; row < monoFontCellHeight; row++) {
        for (int column = 0; column < monoFontCellWidth; column++) {
            count += monoFontPixel(character, column, row) ? 1 : 0;
        }
    }
    return count;
}
