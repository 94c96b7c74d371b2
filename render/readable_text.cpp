#include "render/readable_text.h"

#include <cstdint>

int pointsToPixels(int points, int dpi)
{
    int64_t pixels = (static_cast<int64_t>(points) * dpi + 36) / 72;
    return static_cast<int>(pixels);
}

// Compared exactly, in points times pixels per inch, so no rounding lets a
// default just under 9 points pass.
int readableCharacterHeight(int defaultHeight, int dpiY)
{
    if (static_cast<int64_t>(defaultHeight) * 72 >= static_cast<int64_t>(smallestReadablePoints) * dpiY) {
        return defaultHeight;
    }
    int readable = pointsToPixels(readablePoints, dpiY);
    return readable > defaultHeight ? readable : defaultHeight;
}

int cellWithinLineAdvance(int cellHeight, int defaultCellHeight, int lineAdvance)
{
    if (cellHeight <= lineAdvance || cellHeight <= defaultCellHeight) {
        return cellHeight;
    }
    return lineAdvance > defaultCellHeight ? lineAdvance : defaultCellHeight;
}
