// The software surface: clipping at every edge, fills, pixels, the fonts'
// cells and glyphs, GDI's stretching (checked against results taken from
// Wine), unscaled copies, image bitmaps and sizes that can't be had.
#include "render/bitmap_surface.h"
#include "render/mono_font.h"
#include "render/readable_text.h"
#include "tests/pixels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Rows;  // '#' black, '.' white, top row first

// Every surface and bitmap a test makes is released when it ends.
class BitmapSurfaceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (DrawSurface* surface : opened) {
            closeBitmapSurface(surface);
        }
        for (SurfaceBitmap* bitmap : bitmaps) {
            destroySurfaceBitmap(bitmap);
        }
        for (DrawSurface* surface : pages) {
            destroyPageSurface(surface);
        }
    }

    DrawSurface* page(int width, int height, int dpiX = 96, int dpiY = 96)
    {
        DrawSurface* surface = createPageSurface(width, height, dpiX, dpiY, 0, 0);
        EXPECT_NE(surface, nullptr);
        if (surface != nullptr) {
            pages.push_back(surface);
        }
        return surface;
    }

    DrawSurface* open(SurfaceBitmap* bitmap)
    {
        bitmaps.push_back(bitmap);
        DrawSurface* surface = openBitmapSurface(bitmap);
        EXPECT_NE(surface, nullptr);
        opened.push_back(surface);
        return surface;
    }

    // A bitmap surface holding the picture.
    DrawSurface* picture(const Rows& rows)
    {
        int width = static_cast<int>(rows[0].size());
        int height = static_cast<int>(rows.size());
        DrawSurface* surface = open(createSurfaceBitmap(width, height));
        fillWhite(surface, 0, 0, width, height);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                if (rows[y][x] == '#') {
                    setBlackPixel(surface, x, y);
                }
            }
        }
        return surface;
    }

    DrawSurface* blackPage(int width, int height, int dpi = 96)
    {
        DrawSurface* surface = page(width, height, dpi, dpi);
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                setBlackPixel(surface, x, y);
            }
        }
        return surface;
    }

    std::vector<DrawSurface*> pages;
    std::vector<DrawSurface*> opened;
    std::vector<SurfaceBitmap*> bitmaps;
};

Rows pixelRows(DrawSurface* surface)
{
    int width, height;
    surfaceArea(surface, &width, &height);
    Rows rows;
    for (int y = 0; y < height; y++) {
        std::string row;
        for (int x = 0; x < width; x++) {
            row += isBlackPixel(surface, x, y) ? '#' : '.';
        }
        rows.push_back(row);
    }
    return rows;
}

// The part of a picture at (x, y), width x height.
Rows cropRows(const Rows& rows, int x, int y, int width, int height)
{
    Rows cropped;
    for (int row = y; row < y + height; row++) {
        cropped.push_back(rows[row].substr(x, width));
    }
    return cropped;
}

// ---------------------------------------------------------------------------
// Surfaces and their measures

TEST_F(BitmapSurfaceTest, PageSurfaceReportsItsMeasuresAndStartsWhite)
{
    DrawSurface* surface = createPageSurface(850, 1100, 100, 120, 25, 30);
    ASSERT_NE(surface, nullptr);
    pages.push_back(surface);
    int width, height, dpiX, dpiY, offsetX, offsetY;
    surfaceArea(surface, &width, &height);
    surfaceDpi(surface, &dpiX, &dpiY);
    surfacePhysicalOffset(surface, &offsetX, &offsetY);
    EXPECT_EQ(width, 850);
    EXPECT_EQ(height, 1100);
    EXPECT_EQ(dpiX, 100);
    EXPECT_EQ(dpiY, 120);
    EXPECT_EQ(offsetX, 25);
    EXPECT_EQ(offsetY, 30);
    EXPECT_EQ(surfaceRowBytes(surface), 107);
    EXPECT_EQ(blackPixels(surface), 0);
}

TEST_F(BitmapSurfaceTest, BitmapSurfaceDrawsIntoTheBitmapThatOutlivesIt)
{
    SurfaceBitmap* bitmap = createSurfaceBitmap(20, 10);
    ASSERT_NE(bitmap, nullptr);
    bitmaps.push_back(bitmap);
    DrawSurface* first = openBitmapSurface(bitmap);
    ASSERT_NE(first, nullptr);
    int width, height, dpiX, dpiY, offsetX, offsetY;
    surfaceArea(first, &width, &height);
    surfaceDpi(first, &dpiX, &dpiY);
    surfacePhysicalOffset(first, &offsetX, &offsetY);
    EXPECT_EQ(width, 20);
    EXPECT_EQ(height, 10);
    EXPECT_EQ(dpiX, 96);
    EXPECT_EQ(dpiY, 96);
    EXPECT_EQ(offsetX, 0);
    EXPECT_EQ(offsetY, 0);
    fillWhite(first, 0, 0, 20, 10);
    setBlackPixel(first, 19, 9);
    closeBitmapSurface(first);

    DrawSurface* second = openBitmapSurface(bitmap);
    ASSERT_NE(second, nullptr);
    opened.push_back(second);
    EXPECT_TRUE(isBlackPixel(second, 19, 9));
    EXPECT_EQ(blackPixels(second), 1);
}

TEST_F(BitmapSurfaceTest, RowsHoldPixelsMostSignificantBitLeftWithWhitePadding)
{
    DrawSurface* surface = blackPage(11, 2);
    fillWhite(surface, 1, 0, 1, 1);
    ASSERT_EQ(surfaceRowBytes(surface), 2);
    const unsigned char* row = surfaceRow(surface, 0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row[0], 0xBF);
    EXPECT_EQ(row[1], 0xE0);  // the five bits past the width stay white
    EXPECT_EQ(surfaceRow(surface, -1), nullptr);
    EXPECT_EQ(surfaceRow(surface, 2), nullptr);
}

// ---------------------------------------------------------------------------
// Fill and pixels, clipped at every edge

struct FillCase {
    const char* name;
    int x, y, width, height;
};

class FillWhiteClipping : public BitmapSurfaceTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(FillWhiteClipping, WhitensExactlyTheRectangleOnTheSurface)
{
    const FillCase& fill = GetParam();
    const int width = 20, height = 12;
    DrawSurface* surface = blackPage(width, height);
    fillWhite(surface, fill.x, fill.y, fill.width, fill.height);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            bool inside = fill.width > 0 && fill.height > 0 && x >= fill.x && y >= fill.y &&
                          static_cast<int64_t>(x) < static_cast<int64_t>(fill.x) + fill.width &&
                          static_cast<int64_t>(y) < static_cast<int64_t>(fill.y) + fill.height;
            ASSERT_EQ(isBlackPixel(surface, x, y), !inside) << "pixel " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, FillWhiteClipping,
    ::testing::Values(FillCase{"Inside", 3, 2, 5, 4}, FillCase{"OneByteSpan", 9, 1, 3, 1},
                      FillCase{"AcrossBytes", 5, 0, 13, 1}, FillCase{"OverLeftEdge", -4, 3, 7, 2},
                      FillCase{"OverTopEdge", 2, -5, 3, 7}, FillCase{"OverRightEdge", 17, 1, 10, 3},
                      FillCase{"OverBottomEdge", 4, 10, 2, 9}, FillCase{"CoversEverything", -1, -1, 30, 30},
                      FillCase{"LeftOfSurface", -9, 0, 9, 12}, FillCase{"AboveSurface", 0, -12, 20, 12},
                      FillCase{"RightOfSurface", 20, 0, 5, 12}, FillCase{"BelowSurface", 0, 12, 20, 1},
                      FillCase{"ZeroWidth", 3, 3, 0, 5}, FillCase{"NegativeHeight", 3, 3, 5, -2},
                      FillCase{"HugeFromFarLeft", INT_MIN, 2, INT_MAX, 3},
                      FillCase{"HugeRunningPastIntMax", 15, 4, INT_MAX, INT_MAX}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST_F(BitmapSurfaceTest, SetBlackPixelOnlyTouchesPixelsOnTheSurface)
{
    DrawSurface* surface = page(10, 6);
    const int outside[][2] = {{-1, 0}, {0, -1}, {10, 0}, {0, 6}, {10, 6}, {INT_MIN, INT_MIN}, {INT_MAX, 3}};
    for (const auto& point : outside) {
        setBlackPixel(surface, point[0], point[1]);
        EXPECT_FALSE(isBlackPixel(surface, point[0], point[1]));
    }
    EXPECT_EQ(blackPixels(surface), 0);

    const int corners[][2] = {{0, 0}, {9, 0}, {0, 5}, {9, 5}};
    for (const auto& point : corners) {
        setBlackPixel(surface, point[0], point[1]);
        EXPECT_TRUE(isBlackPixel(surface, point[0], point[1]));
    }
    EXPECT_EQ(blackPixels(surface), 4);
}

// ---------------------------------------------------------------------------
// Fonts

struct TextHeightCase {
    int dpi;
    int defaultHeight;
    int monospacedHeight;
    int monospacedWidth;
};

class TextHeights : public BitmapSurfaceTest, public ::testing::WithParamInterface<TextHeightCase> {};

// Cells round to the nearest pixel: 15 * 300 / 96 = 46.875 gives 47.
TEST_P(TextHeights, FollowTheVerticalResolution)
{
    const TextHeightCase& expected = GetParam();
    // A different horizontal resolution shows the height follows dpiY only.
    DrawSurface* surface = page(400, 200, expected.dpi * 2, expected.dpi);
    EXPECT_EQ(currentTextHeight(surface), expected.defaultHeight);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(currentTextHeight(surface), expected.monospacedHeight);
    restoreFont(surface, font);
    EXPECT_EQ(currentTextHeight(surface), expected.defaultHeight);
}

// The monospaced cell's width, seen as the white cell of a blank character
// drawn onto black.
TEST_P(TextHeights, MonospacedCellIsPaintedWhiteAtItsScaledSize)
{
    const TextHeightCase& expected = GetParam();
    DrawSurface* surface = blackPage(150, 120, expected.dpi);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    drawText(surface, 7, 5, " ", 1);
    restoreFont(surface, font);
    for (int y = 0; y < 120; y++) {
        for (int x = 0; x < 150; x++) {
            bool inCell = x >= 7 && x < 7 + expected.monospacedWidth && y >= 5 && y < 5 + expected.monospacedHeight;
            ASSERT_EQ(isBlackPixel(surface, x, y), !inCell) << "pixel " << x << "," << y;
        }
    }
}

// Printed text must be readable: the monospaced characters (the glyphs have
// no internal leading, so the whole cell) are at least 9 points at every
// resolution, and never taller than the line advance of the page's own font.
TEST_P(TextHeights, MonospacedTextIsReadableWithinTheLineAdvance)
{
    const TextHeightCase& expected = GetParam();
    DrawSurface* surface = page(40, 40, expected.dpi, expected.dpi);
    int lineAdvance = currentTextHeight(surface);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    int characterHeight = currentTextHeight(surface);
    restoreFont(surface, font);
    EXPECT_GE(characterHeight * 72, smallestReadablePoints * expected.dpi) << characterHeight << " pixels";
    EXPECT_LE(characterHeight, lineAdvance);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, TextHeights,
                         ::testing::Values(TextHeightCase{96, 16, 15, 9}, TextHeightCase{72, 12, 11, 7},
                                           TextHeightCase{300, 50, 47, 28}, TextHeightCase{600, 100, 94, 56}),
                         [](const ::testing::TestParamInfo<TextHeightCase>& info) {
                             return "Dpi" + std::to_string(info.param.dpi);
                         });

TEST_F(BitmapSurfaceTest, BitmapSurfacesMeasureTextAtScreenResolution)
{
    DrawSurface* surface = open(createSurfaceBitmap(30, 30));
    EXPECT_EQ(currentTextHeight(surface), 16);
}

TEST_F(BitmapSurfaceTest, NestedFontSelectionsRestoreInTurn)
{
    DrawSurface* surface = page(100, 100, 300, 300);
    SurfaceFont* outer = selectMonospacedFont(surface);
    SurfaceFont* inner = selectMonospacedFont(surface);
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(currentTextHeight(surface), 47);
    restoreFont(surface, inner);
    EXPECT_EQ(currentTextHeight(surface), 47);  // the outer selection still holds
    restoreFont(surface, outer);
    EXPECT_EQ(currentTextHeight(surface), 50);

    // Each page measures its lines afresh after the last page's text.
    SurfaceFont* again = selectMonospacedFont(surface);
    ASSERT_NE(again, nullptr);
    restoreFont(surface, again);
    EXPECT_EQ(currentTextHeight(surface), 50);
    restoreFont(surface, nullptr);
    EXPECT_EQ(currentTextHeight(surface), 50);
}

TEST_F(BitmapSurfaceTest, GlyphInkSitsInItsCellAtNativeSize)
{
    DrawSurface* surface = page(60, 40);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    drawText(surface, 10, 5, "Ag", 2);
    restoreFont(surface, font);
    for (int y = 0; y < 40; y++) {
        for (int x = 0; x < 60; x++) {
            bool ink = false;
            if (y >= 5 && y < 5 + monoFontCellHeight && x >= 10 && x < 10 + 2 * monoFontCellWidth) {
                int cell = (x - 10) / monoFontCellWidth;
                ink = monoFontPixel("Ag"[cell], (x - 10) % monoFontCellWidth, y - 5);
            }
            ASSERT_EQ(isBlackPixel(surface, x, y), ink) << "pixel " << x << "," << y;
        }
    }
}

TEST_F(BitmapSurfaceTest, DoubleResolutionDoublesEveryGlyphPixel)
{
    DrawSurface* surface = page(60, 40, 192, 192);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    drawText(surface, 3, 4, "W", 1);
    restoreFont(surface, font);
    for (int y = 0; y < 40; y++) {
        for (int x = 0; x < 60; x++) {
            bool ink = x >= 3 && y >= 4 && monoFontPixel('W', (x - 3) / 2, (y - 4) / 2);
            ASSERT_EQ(isBlackPixel(surface, x, y), ink) << "pixel " << x << "," << y;
        }
    }
}

// At 300 dpi a glyph pixel covers three or so page pixels each way: every
// glyph pixel must show, and nothing else.
TEST_F(BitmapSurfaceTest, ScaledGlyphShowsEveryGlyphPixelAndNoOtherInk)
{
    const int cellWidth = 28, cellHeight = 47, left = 5, top = 6;
    DrawSurface* surface = page(100, 80, 300, 300);
    SurfaceFont* font = selectMonospacedFont(surface);
    ASSERT_NE(font, nullptr);
    drawText(surface, left, top, "M&", 2);
    restoreFont(surface, font);
    for (int cell = 0; cell < 2; cell++) {
        unsigned char character = "M&"[cell];
        std::vector<int> shown(monoFontCellWidth * monoFontCellHeight, 0);
        for (int y = 0; y < cellHeight; y++) {
            for (int x = 0; x < cellWidth; x++) {
                int column = x * monoFontCellWidth / cellWidth;
                int row = y * monoFontCellHeight / cellHeight;
                bool black = isBlackPixel(surface, left + cell * cellWidth + x, top + y);
                ASSERT_EQ(black, monoFontPixel(character, column, row));
                shown[row * monoFontCellWidth + column] += 1;
            }
        }
        for (int count : shown) {
            EXPECT_GE(count, 6);  // at least 2 x 3 page pixels per glyph pixel
        }
    }
    int width, height;
    surfaceArea(surface, &width, &height);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            bool inCells = x >= left && x < left + 2 * cellWidth && y >= top && y < top + cellHeight;
            if (!inCells) {
                ASSERT_FALSE(isBlackPixel(surface, x, y)) << "pixel " << x << "," << y;
            }
        }
    }
}

TEST_F(BitmapSurfaceTest, DefaultFontDrawsTheGlyphsInItsTallerCell)
{
    DrawSurface* surface = blackPage(40, 30);
    drawText(surface, 2, 3, "H ", 2);
    int inkInCells = 0;
    for (int y = 0; y < 30; y++) {
        for (int x = 0; x < 40; x++) {
            bool inCells = x >= 2 && x < 2 + 2 * 9 && y >= 3 && y < 3 + 16;
            if (!inCells) {
                ASSERT_TRUE(isBlackPixel(surface, x, y)) << "pixel " << x << "," << y;
            } else {
                inkInCells += isBlackPixel(surface, x, y) ? 1 : 0;
            }
        }
    }
    // 'H' has ink, the blank cell none: the cells were whitened first.
    EXPECT_GT(inkInCells, 20);
    EXPECT_LT(inkInCells, 9 * 16);
    for (int y = 3; y < 19; y++) {
        for (int x = 11; x < 20; x++) {
            ASSERT_FALSE(isBlackPixel(surface, x, y));
        }
    }
}

// Text cut off by an edge shows exactly the part of it that lies on the
// surface.
TEST_F(BitmapSurfaceTest, TextClipsAtEveryEdge)
{
    const char* text = "Wg|Q";
    const int margin = 60;
    DrawSurface* large = page(30 + 2 * margin, 20 + 2 * margin, 150, 150);
    SurfaceFont* largeFont = selectMonospacedFont(large);
    ASSERT_NE(largeFont, nullptr);
    const int offsets[][2] = {{-7, -9}, {-30, 5}, {10, -20}, {18, 12}, {25, -3}, {-40, 15}};
    for (const auto& offset : offsets) {
        fillWhite(large, 0, 0, 30 + 2 * margin, 20 + 2 * margin);
        drawText(large, margin + offset[0], margin + offset[1], text, 4);
        DrawSurface* small = page(30, 20, 150, 150);
        SurfaceFont* font = selectMonospacedFont(small);
        ASSERT_NE(font, nullptr);
        drawText(small, offset[0], offset[1], text, 4);
        restoreFont(small, font);
        EXPECT_EQ(pixelRows(small), cropRows(pixelRows(large), margin, margin, 30, 20))
            << "offset " << offset[0] << "," << offset[1];
    }
    restoreFont(large, largeFont);
}

TEST_F(BitmapSurfaceTest, NothingToDrawLeavesTheSurfaceAlone)
{
    DrawSurface* surface = blackPage(30, 20);
    drawText(surface, 2, 2, "AB", 0);
    drawText(surface, 2, 2, "AB", -3);
    drawText(surface, 2, 2, nullptr, 2);
    drawText(surface, INT_MIN, INT_MIN, "AB", 2);
    drawText(surface, INT_MAX, 2, "AB", 2);
    drawText(surface, 2, INT_MAX, "AB", 2);
    EXPECT_EQ(blackPixels(surface), 30 * 20);
}

// ---------------------------------------------------------------------------
// Stretching

struct StretchLineCase {
    const char* source;
    int width;
    const char* expected;
};

class StretchOneRow : public BitmapSurfaceTest, public ::testing::WithParamInterface<StretchLineCase> {};

// Worked out by hand: a shrunk pixel takes every source pixel whose centre
// falls in it, black winning; an enlarged one takes the source pixel under
// its centre (the lower one on a tie).
TEST_P(StretchOneRow, MapsPixelCentres)
{
    const StretchLineCase& line = GetParam();
    DrawSurface* source = picture({line.source});
    DrawSurface* destination = page(line.width, 1);
    stretchCopy(destination, 0, 0, line.width, 1, source);
    EXPECT_EQ(pixelRows(destination)[0], line.expected);

    // The same along a column.
    Rows column;
    for (const char* pixel = line.source; *pixel; pixel++) {
        column.push_back(std::string(1, *pixel));
    }
    DrawSurface* down = page(1, line.width);
    stretchCopy(down, 0, 0, 1, line.width, picture(column));
    std::string stretched;
    for (const std::string& row : pixelRows(down)) {
        stretched += row;
    }
    EXPECT_EQ(stretched, line.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StretchOneRow,
    ::testing::Values(StretchLineCase{"#..", 2, "#."}, StretchLineCase{".#.", 2, "#."},
                      StretchLineCase{"..#", 2, ".#"}, StretchLineCase{"...", 2, ".."},
                      StretchLineCase{".#..", 2, "#."}, StretchLineCase{"...#", 2, ".#"},
                      StretchLineCase{"......#.", 2, ".#"}, StretchLineCase{"#.", 4, "##.."},
                      StretchLineCase{".#", 4, "..##"}, StretchLineCase{"#", 3, "###"},
                      StretchLineCase{"#.", 3, "##."}, StretchLineCase{".#", 3, "..#"},
                      StretchLineCase{"#.#", 3, "#.#"}));

TEST_F(BitmapSurfaceTest, EnlargingTwiceMakesEveryPixelABlock)
{
    DrawSurface* destination = page(4, 4);
    stretchCopy(destination, 0, 0, 4, 4, picture({"#.", ".#"}));
    EXPECT_EQ(pixelRows(destination), (Rows{"##..", "##..", "..##", "..##"}));
}

// Any single black pixel of a 4 x 4 source survives halving, in its quadrant.
TEST_F(BitmapSurfaceTest, HalvingKeepsEveryLoneBlackPixel)
{
    for (int blackY = 0; blackY < 4; blackY++) {
        for (int blackX = 0; blackX < 4; blackX++) {
            Rows rows(4, "....");
            rows[blackY][blackX] = '#';
            DrawSurface* destination = page(2, 2);
            stretchCopy(destination, 0, 0, 2, 2, picture(rows));
            Rows expected(2, "..");
            expected[blackY / 2][blackX / 2] = '#';
            EXPECT_EQ(pixelRows(destination), expected) << "black at " << blackX << "," << blackY;
        }
    }
}

// Results of StretchBlt(SRCCOPY) between 1-bit memory DCs in the default
// stretching mode, captured under Wine 8.0 (not produced by this code). The
// destination starts all black, so what the stretch leaves alone shows, and
// so does the white it writes.
struct WineStretchCase {
    const char* name;
    int x, y, width, height;
    Rows source;
    Rows expected;
};

class StretchLikeWine : public BitmapSurfaceTest, public ::testing::WithParamInterface<WineStretchCase> {};

TEST_P(StretchLikeWine, GivesTheSamePixels)
{
    const WineStretchCase& stretch = GetParam();
    int width = static_cast<int>(stretch.expected[0].size());
    int height = static_cast<int>(stretch.expected.size());
    DrawSurface* destination = blackPage(width, height);
    stretchCopy(destination, stretch.x, stretch.y, stretch.width, stretch.height, picture(stretch.source));
    EXPECT_EQ(pixelRows(destination), stretch.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Captured, StretchLikeWine,
    ::testing::Values(
        WineStretchCase{"Shrink6x4To4x3", 1, 1, 4, 3,
                        {"#.....", "..#...", ".....#", "...#.."},
                        {"######", "##...#", "#.#.##", "#..#.#", "######"}},
        WineStretchCase{"Enlarge3x2To7x5", 1, 1, 7, 5,
                        {"#.#", ".#."},
                        {"#########", "###...###", "###...###", "###...###", "#..###..#", "#..###..#",
                         "#########"}},
        WineStretchCase{"ShrinkAcrossEnlargeDown", 1, 1, 4, 5,
                        {"#........", "....#...#"},
                        {"######", "##...#", "##...#", "##...#", "#.#.##", "#.#.##", "######"}},
        WineStretchCase{"EnlargeAcrossShrinkDown", 1, 1, 5, 4,
                        {"#.", "..", "..", ".#", "..", "..", "#.", "..", ".."},
                        {"#######", "####..#", "#...###", "####..#", "#.....#", "#######"}},
        WineStretchCase{"CutOffAtTheTopLeft", -3, -2, 8, 8,
                        {"#...#", ".#.#.", "..#..", ".#.#.", "#...#"},
                        {"..#..#", "##...#", "##...#", "..#..#", "...###", "...###"}},
        WineStretchCase{"CutOffAtTheBottomRight", 2, 3, 8, 8,
                        {"#...#", ".#.#.", "..#..", ".#.#.", "#...#"},
                        {"######", "######", "######", "####..", "####..", "##..#."}},
        WineStretchCase{"OnePixelWideCopiesFromARowEarly", 1, -1, 1, 4,
                        {".#", "#.", ".#", "#."},
                        {"#.#", "###", "#.#", "###"}},
        WineStretchCase{"LoneBlackPixelSurvives", 1, 1, 3, 1,
                        {".......#...."},
                        {"#####", "#.#.#", "#####"}}),
    [](const ::testing::TestParamInfo<WineStretchCase>& info) { return std::string(info.param.name); });

// Cutting a stretch off at an edge shows the same pixels as the whole
// stretch cropped there: the walk does not restart at the edge.
TEST_F(BitmapSurfaceTest, StretchCutOffAtAnEdgeMatchesTheWholeStretch)
{
    DrawSurface* source = picture({"#..#..#.#...#", "..#....#..#..", "#....#....#.#", ".#.#...#.....", "...#.#....##."});
    const int sizes[][2] = {{31, 17}, {7, 3}, {5, 11}, {13, 2}, {40, 4}};
    const int offsets[][2] = {{-6, -2}, {-1, 3}, {4, -5}, {9, 1}, {-20, -8}};
    const int margin = 50, width = 24, height = 12;
    for (const auto& size : sizes) {
        for (const auto& offset : offsets) {
            DrawSurface* whole = page(width + 2 * margin, height + 2 * margin);
            stretchCopy(whole, margin + offset[0], margin + offset[1], size[0], size[1], source);
            DrawSurface* cut = page(width, height);
            stretchCopy(cut, offset[0], offset[1], size[0], size[1], source);
            EXPECT_EQ(pixelRows(cut), cropRows(pixelRows(whole), margin, margin, width, height))
                << size[0] << "x" << size[1] << " at " << offset[0] << "," << offset[1];
        }
    }
}

TEST_F(BitmapSurfaceTest, StretchOffTheSurfaceOrEmptyDrawsNothing)
{
    DrawSurface* source = picture({"#.#", "###"});
    DrawSurface* destination = page(10, 8);
    const int rectangles[][4] = {{-5, 0, 5, 8},    {10, 0, 4, 4},    {0, -9, 6, 9},         {0, 8, 6, 2},
                                 {2, 2, 0, 4},     {2, 2, 4, 0},     {2, 2, -4, 4},         {2, 2, 4, -4},
                                 {INT_MIN, 0, 7, 3}, {INT_MAX, 0, 7, 3}, {0, INT_MAX, 7, INT_MAX}};
    for (const auto& rectangle : rectangles) {
        stretchCopy(destination, rectangle[0], rectangle[1], rectangle[2], rectangle[3], source);
    }
    EXPECT_EQ(blackPixels(destination), 0);

    SurfaceBitmap* empty = createSurfaceBitmap(0, 0);
    ASSERT_NE(empty, nullptr);
    stretchCopy(destination, 0, 0, 10, 8, open(empty));
    EXPECT_EQ(blackPixels(destination), 0);
}

TEST_F(BitmapSurfaceTest, StretchFromFarOffTheSurfaceStillLandsRight)
{
    // A 1-pixel source stretched from far left across the whole surface.
    DrawSurface* destination = page(16, 4);
    stretchCopy(destination, -1000000, 1, 1000008, 2, picture({"#"}));
    EXPECT_EQ(pixelRows(destination), (Rows{"................", "########........", "########........",
                                            "................"}));
}

// ---------------------------------------------------------------------------
// Unscaled copies

struct CopyCase {
    const char* name;
    int x, y, width, height;
    Rows expected;
};

class CopyUnscaled : public BitmapSurfaceTest, public ::testing::WithParamInterface<CopyCase> {};

// The source's top left lands at (x, y); what lies off either surface is
// left alone, as GDI's copies do.
TEST_P(CopyUnscaled, CopiesTheSourcesTopLeftClipped)
{
    const CopyCase& copy = GetParam();
    DrawSurface* source = picture({"#.#.", "....", "##.#"});
    DrawSurface* destination = blackPage(6, 4);
    copyUnscaled(destination, copy.x, copy.y, copy.width, copy.height, source);
    EXPECT_EQ(pixelRows(destination), copy.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, CopyUnscaled,
    ::testing::Values(CopyCase{"Whole", 1, 0, 4, 3, {"##.#.#", "#....#", "###.##", "######"}},
                      CopyCase{"Part", 2, 1, 2, 2, {"######", "###.##", "##..##", "######"}},
                      CopyCase{"LargerThanTheSource", 0, 0, 9, 9, {"#.#.##", "....##", "##.###", "######"}},
                      CopyCase{"OverTheLeftAndTop", -1, -1, 4, 3, {"...###", "#.####", "######", "######"}},
                      CopyCase{"OverTheRightAndBottom", 4, 2, 4, 3, {"######", "######", "#####.", "####.."}},
                      CopyCase{"Empty", 1, 1, 0, 3, {"######", "######", "######", "######"}},
                      CopyCase{"Negative", 1, 1, -2, 3, {"######", "######", "######", "######"}},
                      CopyCase{"FarOff", INT_MAX, INT_MIN, INT_MAX, INT_MAX,
                               {"######", "######", "######", "######"}}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

TEST_F(BitmapSurfaceTest, CopyShiftedAcrossByteBoundariesKeepsEveryPixel)
{
    Rows rows = {"#..##.#.###..#.#.##...#", ".##..#.#...##.#.#..###.", "#.#.#.#.#.#.#.#.#.#.#.#"};
    DrawSurface* source = picture(rows);
    for (int shift = 0; shift < 9; shift++) {
        DrawSurface* destination = page(40, 3);
        copyUnscaled(destination, shift, 0, 23, 3, source);
        Rows expected(3, std::string(40, '.'));
        for (int y = 0; y < 3; y++) {
            expected[y].replace(shift, 23, rows[y]);
        }
        EXPECT_EQ(pixelRows(destination), expected) << "shift " << shift;
    }
}

// ---------------------------------------------------------------------------
// Image bitmaps

struct ImageCase {
    int width;
    int height;
    int rowBytes;
};

class ImageBitmaps : public BitmapSurfaceTest, public ::testing::WithParamInterface<ImageCase> {};

// Same pixels as painting every set bit onto white, whatever the padding
// bits and padding bytes hold.
TEST_P(ImageBitmaps, MatchPaintingEverySetBit)
{
    const ImageCase& image = GetParam();
    std::vector<unsigned char> data(static_cast<size_t>(image.rowBytes) * image.height);
    uint32_t seed = 0x2545F491u + image.width * 977u + image.height;
    for (unsigned char& byte : data) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(seed >> 24);
    }
    ImageBits bits = {data.data(), image.width, image.height, image.rowBytes};

    SurfaceBitmap* bitmap = createImageBitmap(bits);
    ASSERT_NE(bitmap, nullptr);
    DrawSurface* made = open(bitmap);
    DrawSurface* painted = open(createSurfaceBitmap(image.width, image.height));
    fillWhite(painted, 0, 0, image.width, image.height);
    for (int y = 0; y < image.height; y++) {
        for (int x = 0; x < image.width; x++) {
            if ((data[y * image.rowBytes + x / 8] >> (7 - x % 8)) & 1) {
                setBlackPixel(painted, x, y);
            }
        }
    }
    EXPECT_EQ(pixelRows(made), pixelRows(painted));
    for (int y = 0; y < image.height; y++) {
        const unsigned char* madeRow = surfaceRow(made, y);
        const unsigned char* paintedRow = surfaceRow(painted, y);
        ASSERT_EQ(std::string(madeRow, madeRow + surfaceRowBytes(made)),
                  std::string(paintedRow, paintedRow + surfaceRowBytes(painted)))
            << "row " << y << ": padding bits must be white";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageBitmaps,
                         ::testing::Values(ImageCase{1, 1, 1}, ImageCase{7, 3, 1}, ImageCase{8, 2, 1},
                                           ImageCase{13, 5, 2}, ImageCase{17, 4, 4}, ImageCase{64, 3, 8},
                                           ImageCase{100, 9, 13}));

TEST_F(BitmapSurfaceTest, EmptyOrUnusableImagesGiveEmptyBitmapsOrNone)
{
    ImageBits noWidth = {nullptr, 0, 5, 0};
    SurfaceBitmap* empty = createImageBitmap(noWidth);
    ASSERT_NE(empty, nullptr);
    DrawSurface* surface = open(empty);
    int width, height;
    surfaceArea(surface, &width, &height);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 5);

    unsigned char row[1] = {0xFF};
    ImageBits missingBits = {nullptr, 8, 1, 1};
    ImageBits rowsTooShort = {row, 9, 1, 1};
    ImageBits negative = {row, -8, 1, 1};
    EXPECT_EQ(createImageBitmap(missingBits), nullptr);
    EXPECT_EQ(createImageBitmap(rowsTooShort), nullptr);
    EXPECT_EQ(createImageBitmap(negative), nullptr);
}

// ---------------------------------------------------------------------------
// Sizes that can't be had

TEST_F(BitmapSurfaceTest, ImpossibleSizesGiveNothing)
{
    EXPECT_EQ(createPageSurface(100000, 100000, 600, 600, 0, 0), nullptr);  // over the 1 GiB cap
    EXPECT_EQ(createPageSurface(INT_MAX, INT_MAX, 96, 96, 0, 0), nullptr);
    EXPECT_EQ(createPageSurface(-1, 10, 96, 96, 0, 0), nullptr);
    EXPECT_EQ(createPageSurface(10, 10, 0, 96, 0, 0), nullptr);
    EXPECT_EQ(createPageSurface(10, 10, 96, -300, 0, 0), nullptr);
    EXPECT_EQ(createSurfaceBitmap(INT_MAX, INT_MAX), nullptr);
    EXPECT_EQ(createSurfaceBitmap(INT_MAX, 9), nullptr);
    EXPECT_EQ(createSurfaceBitmap(10, -1), nullptr);
    EXPECT_EQ(openBitmapSurface(nullptr), nullptr);
}

// The largest image a spool file can describe is within the cap; if the
// memory is there, the bitmap works at its far corner.
TEST_F(BitmapSurfaceTest, LargestImageBitmapWorksOrIsRefused)
{
    SurfaceBitmap* bitmap = createSurfaceBitmap(65535, 65535);
    if (bitmap == nullptr) {
        GTEST_SKIP() << "no memory for a 512 MiB bitmap here";
    }
    DrawSurface* surface = open(bitmap);
    fillWhite(surface, 65530, 65530, 10, 10);
    setBlackPixel(surface, 65534, 65534);
    EXPECT_TRUE(isBlackPixel(surface, 65534, 65534));
    EXPECT_FALSE(isBlackPixel(surface, 65533, 65534));
    EXPECT_EQ(surfaceRowBytes(surface), 8192);
}

}  // namespace
