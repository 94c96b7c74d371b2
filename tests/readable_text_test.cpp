// The rule that keeps printed text readable: a default smaller than 9 points
// becomes 12 points, within the line advance; anything readable stays as it
// is. Cases are the devices the program meets: a screen at 96 dpi, Wine's
// PostScript printers at 300 and 600 dpi (whose default "Courier" is 16
// pixels, 14 of them character, and whose own font spaces lines 99 pixels
// apart), and the old printers that gave 10 to 12 points.
#include "render/readable_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadableText, PointsToPixelsRoundsAsMulDiv)
{
    const struct {
        int points;
        int dpi;
        int pixels;
    } cases[] = {
        {12, 96, 16}, {9, 96, 12}, {12, 300, 50}, {9, 300, 38},  // 37.5 rounds up
        {12, 600, 100}, {9, 600, 75}, {12, 72, 12}, {10, 120, 17},  // 16.67
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pointsToPixels(c.points, c.dpi), c.pixels) << c.points << " pt at " << c.dpi << " dpi";
    }
}

TEST(ReadableText, OnlyADefaultUnderNinePointsGrowsToTwelve)
{
    const struct {
        const char* device;
        int defaultHeight;
        int dpi;
        int height;
    } cases[] = {
        {"screen, Courier 10 pt", 13, 96, 13},
        {"screen, 14 pixels (Wine's default Courier)", 14, 96, 14},
        {"screen, exactly 9 pt", 12, 96, 12},
        {"screen, just under 9 pt", 11, 96, 16},
        {"300 dpi, 14 pixels (3.4 pt)", 14, 300, 50},
        {"300 dpi, 37 pixels (8.9 pt)", 37, 300, 50},
        {"300 dpi, 38 pixels (9.1 pt)", 38, 300, 38},
        {"300 dpi, Courier 10 pt", 42, 300, 42},
        {"600 dpi, 14 pixels (1.7 pt)", 14, 600, 100},
        {"600 dpi, 74 pixels (8.9 pt)", 74, 600, 100},
        {"600 dpi, exactly 9 pt", 75, 600, 75},
        {"1200 dpi, 14 pixels", 14, 1200, 200},
        {"no resolution known", 14, 0, 14},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readableCharacterHeight(c.defaultHeight, c.dpi), c.height) << c.device;
    }
}

TEST(ReadableText, ACellNeverOutgrowsTheLineAdvanceNorShrinksBelowTheDefault)
{
    const struct {
        const char* page;
        int cell;
        int defaultCell;
        int lineAdvance;
        int kept;
    } cases[] = {
        {"12 pt at 300 dpi, lines 99 apart", 57, 16, 99, 57},
        {"12 pt at 600 dpi, lines 99 apart", 113, 16, 99, 99},
        {"exactly the line advance", 99, 16, 99, 99},
        {"line advance below the default cell", 113, 16, 12, 16},
        {"no line advance measured", 57, 16, 0, 16},
        {"the default itself overflows the line", 16, 16, 12, 16},
        {"a screen's unchanged default", 16, 16, 16, 16},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cellWithinLineAdvance(c.cell, c.defaultCell, c.lineAdvance), c.kept) << c.page;
    }
}

}  // namespace
