// The GDI drawing surface on real memory device contexts: fills and pixels,
// image bitmaps against the pixel-by-pixel way of making them, stretching,
// the monospaced font, on memory surfaces and on the test printers, and the
// print calls where there is no printer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "render/gdi_surface.h"
#include "tests/memory_surface.h"
#include "tests/win_test_support.h"

namespace {

// Row-major, 1 for black; anything but pure black or white fails the test.
std::vector<int> blackPixels(HDC dc, int width, int height)
{
    std::vector<int> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF colour = GetPixel(dc, x, y);
            EXPECT_TRUE(colour == RGB(0, 0, 0) || colour == RGB(255, 255, 255)) << x << "," << y;
            pixels.push_back(colour == RGB(0, 0, 0));
        }
    }
    return pixels;
}

std::vector<int> bitmapPixels(SurfaceBitmap* bitmap, int width, int height)
{
    DrawSurface* surface = openBitmapSurface(bitmap);
    EXPECT_NE(surface, nullptr);
    if (!surface) {
        return {};
    }
    std::vector<int> pixels = blackPixels(surfaceDeviceContext(surface), width, height);
    closeBitmapSurface(surface);
    return pixels;
}

// A decoded image owning its bits; padding bits past the width are set, to
// show they are never drawn.
struct TestImage {
    std::vector<unsigned char> storage;
    ImageBits bits;

    TestImage(int width, int height) : storage(static_cast<size_t>((width + 7) / 8) * height, 0)
    {
        bits = ImageBits{storage.data(), width, height, (width + 7) / 8};
        for (int y = 0; y < height; ++y) {
            for (int x = width; x < bits.rowBytes * 8; ++x) {
                setBlack(x, y);
            }
        }
    }
    void setBlack(int x, int y)
    {
        storage[static_cast<size_t>(y) * bits.rowBytes + x / 8] |= 0x80 >> (x % 8);
    }
    bool isBlack(int x, int y) const
    {
        return storage[static_cast<size_t>(y) * bits.rowBytes + x / 8] & (0x80 >> (x % 8));
    }
};

// The slow way an image becomes a bitmap: white, then one black pixel per set bit.
SurfaceBitmap* pixelByPixelBitmap(const TestImage& image)
{
    SurfaceBitmap* bitmap = createSurfaceBitmap(image.bits.width, image.bits.height);
    DrawSurface* surface = openBitmapSurface(bitmap);
    fillWhite(surface, 0, 0, image.bits.width, image.bits.height);
    for (int y = 0; y < image.bits.height; ++y) {
        for (int x = 0; x < image.bits.width; ++x) {
            if (image.isBlack(x, y)) {
                setBlackPixel(surface, x, y);
            }
        }
    }
    closeBitmapSurface(surface);
    return bitmap;
}

// What stretchCopy() of the bitmap leaves on a white width x height surface
// when it fills the rectangle (x, y, w, h).
std::vector<int> stretchedPixels(SurfaceBitmap* bitmap, int width, int height, int x, int y, int w, int h)
{
    MemorySurface target(width, height);
    DrawSurface* source = openBitmapSurface(bitmap);
    stretchCopy(target.surface, x, y, w, h, source);
    closeBitmapSurface(source);
    return blackPixels(target.dc, width, height);
}

TEST(GdiSurfacePixels, FillWhiteAndBlackPixel)
{
    MemorySurface memory(20, 10);
    PatBlt(memory.dc, 0, 0, 20, 10, BLACKNESS);
    fillWhite(memory.surface, 2, 3, 5, 4);
    setBlackPixel(memory.surface, 4, 5);
    std::vector<int> pixels = blackPixels(memory.dc, 20, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            bool white = x >= 2 && x < 7 && y >= 3 && y < 7 && !(x == 4 && y == 5);
            EXPECT_EQ(pixels[y * 20 + x], white ? 0 : 1) << x << "," << y;
        }
    }
}

TEST(GdiSurfacePixels, MeasuresLikeTheDevice)
{
    MemorySurface memory(8, 8);
    int width = 0, height = 0, dpiX = 0, dpiY = 0, offsetX = -1, offsetY = -1;
    surfaceArea(memory.surface, &width, &height);
    surfaceDpi(memory.surface, &dpiX, &dpiY);
    surfacePhysicalOffset(memory.surface, &offsetX, &offsetY);
    EXPECT_EQ(width, GetDeviceCaps(memory.dc, HORZRES));
    EXPECT_EQ(height, GetDeviceCaps(memory.dc, VERTRES));
    EXPECT_GT(width, 0);
    EXPECT_EQ(dpiX, GetDeviceCaps(memory.dc, LOGPIXELSX));
    EXPECT_EQ(dpiY, GetDeviceCaps(memory.dc, LOGPIXELSY));
    EXPECT_GT(dpiY, 0);
    EXPECT_EQ(offsetX, 0);
    EXPECT_EQ(offsetY, 0);
}

TEST(GdiSurfacePixels, CopyUnscaledCopiesOnlyTheRectangle)
{
    TestImage image(6, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            if ((x + y) % 2 == 0) {
                image.setBlack(x, y);
            }
        }
    }
    SurfaceBitmap* bitmap = createImageBitmap(image.bits);
    ASSERT_NE(bitmap, nullptr);
    MemorySurface memory(12, 10);
    DrawSurface* source = openBitmapSurface(bitmap);
    copyUnscaled(memory.surface, 3, 2, 4, 3, source);
    closeBitmapSurface(source);
    std::vector<int> pixels = blackPixels(memory.dc, 12, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            bool inside = x >= 3 && x < 7 && y >= 2 && y < 5;
            EXPECT_EQ(pixels[y * 12 + x], inside && image.isBlack(x - 3, y - 2) ? 1 : 0) << x << "," << y;
        }
    }
    destroySurfaceBitmap(bitmap);
}

// ---- Image bitmaps ----------------------------------------------------------

class ImageBitmapTest : public testing::TestWithParam<int> {};

TEST_P(ImageBitmapTest, SameAsWhiteBitmapWithBlackPixels)
{
    int width = GetParam();
    int height = 13;
    std::mt19937 random(width);
    TestImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (random() % 3 == 0) {
                image.setBlack(x, y);
            }
        }
    }
    image.setBlack(width - 1, height - 1);  // the last bit of the last row counts too

    SurfaceBitmap* fast = createImageBitmap(image.bits);
    SurfaceBitmap* slow = pixelByPixelBitmap(image);
    ASSERT_NE(fast, nullptr);
    ASSERT_NE(slow, nullptr);

    std::vector<int> pixels = bitmapPixels(fast, width, height);
    EXPECT_EQ(pixels, bitmapPixels(slow, width, height));
    EXPECT_EQ(pixels[width * height - 1], 1);

    // Enlarged, shrunk and squeezed by uneven factors, the two still agree.
    const int sizes[][2] = {{width * 3 + 1, height * 2}, {(width + 1) / 2, (height + 2) / 3}, {width + 5, height - 4}};
    for (const auto& size : sizes) {
        EXPECT_EQ(stretchedPixels(fast, width * 3 + 4, height * 2 + 3, 2, 1, size[0], size[1]),
                  stretchedPixels(slow, width * 3 + 4, height * 2 + 3, 2, 1, size[0], size[1]))
            << size[0] << "x" << size[1];
    }
    destroySurfaceBitmap(fast);
    destroySurfaceBitmap(slow);
}

INSTANTIATE_TEST_SUITE_P(Widths, ImageBitmapTest, testing::Values(1, 7, 8, 9, 15, 16, 17, 33, 100));

TEST(ImageBitmap, WithoutDecodedBitsIsWhite)
{
    ImageBits bits = {nullptr, 9, 4, 2};
    SurfaceBitmap* bitmap = createImageBitmap(bits);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmapPixels(bitmap, 9, 4), std::vector<int>(36, 0));
    destroySurfaceBitmap(bitmap);
}

TEST(ImageBitmap, EmptyImageDrawsNothing)
{
    ImageBits noWidth = {nullptr, 0, 5, 0};
    ImageBits noHeight = {nullptr, 5, 0, 1};
    for (const ImageBits& bits : {noWidth, noHeight}) {
        SurfaceBitmap* bitmap = createImageBitmap(bits);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(stretchedPixels(bitmap, 8, 8, 1, 1, 6, 6), std::vector<int>(64, 0));
        destroySurfaceBitmap(bitmap);
    }
    EXPECT_EQ(createSurfaceBitmap(-1, 5), nullptr);
}

// The largest size a spool file can give: either there is no bitmap, or it
// holds the image to its far corner.
TEST(ImageBitmap, LargestImageFailsOrHoldsTheImage)
{
    const int side = 65535;
    ImageBits bits = {nullptr, side, side, (side + 7) / 8};
    size_t bytes = static_cast<size_t>(bits.rowBytes) * side;
    bits.bits = static_cast<unsigned char*>(calloc(bytes, 1));
    ASSERT_NE(bits.bits, nullptr);
    bits.bits[bytes - 1] = 0x02;  // pixel (side - 1, side - 1)
    SurfaceBitmap* bitmap = createImageBitmap(bits);
    if (bitmap) {
        DrawSurface* surface = openBitmapSurface(bitmap);
        ASSERT_NE(surface, nullptr);
        HDC dc = surfaceDeviceContext(surface);
        EXPECT_EQ(GetPixel(dc, side - 1, side - 1), RGB(0, 0, 0));
        EXPECT_EQ(GetPixel(dc, side - 2, side - 1), RGB(255, 255, 255));
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
        closeBitmapSurface(surface);
        destroySurfaceBitmap(bitmap);
    }
    free(bits.bits);
}

TEST(ImageBitmap, OneSurfaceAtATime)
{
    SurfaceBitmap* bitmap = createSurfaceBitmap(4, 4);
    ASSERT_NE(bitmap, nullptr);
    DrawSurface* first = openBitmapSurface(bitmap);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(openBitmapSurface(bitmap), nullptr);
    closeBitmapSurface(first);
    DrawSurface* again = openBitmapSurface(bitmap);
    EXPECT_NE(again, nullptr);
    closeBitmapSurface(again);
    destroySurfaceBitmap(bitmap);
}

// ---- Stretching -------------------------------------------------------------

TEST(StretchCopy, EnlargingRepeatsEachPixel)
{
    TestImage image(3, 2);
    image.setBlack(0, 0);
    image.setBlack(2, 0);
    image.setBlack(1, 1);
    SurfaceBitmap* bitmap = createImageBitmap(image.bits);
    ASSERT_NE(bitmap, nullptr);
    std::vector<int> pixels = stretchedPixels(bitmap, 40, 30, 5, 7, 30, 20);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            bool inside = x >= 5 && x < 35 && y >= 7 && y < 27;
            int expected = inside && image.isBlack((x - 5) / 10, (y - 7) / 10);
            EXPECT_EQ(pixels[y * 40 + x], expected) << x << "," << y;
        }
    }
    destroySurfaceBitmap(bitmap);
}

TEST(StretchCopy, ShrinkingKeepsThinBlackLines)
{
    TestImage image(100, 100);
    for (int i = 0; i < 100; ++i) {
        image.setBlack(i, 37);
        image.setBlack(62, i);
    }
    SurfaceBitmap* bitmap = createImageBitmap(image.bits);
    ASSERT_NE(bitmap, nullptr);
    std::vector<int> pixels = stretchedPixels(bitmap, 10, 10, 0, 0, 10, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            EXPECT_EQ(pixels[y * 10 + x], y == 3 || x == 6) << x << "," << y;
        }
    }
    destroySurfaceBitmap(bitmap);
}

// A wrapped memory context is measured by its bitmap, as a bitmap surface is.
TEST(StretchCopy, WrappedMemorySourceCopiesItsWholeBitmap)
{
    MemorySurface source(4, 4);
    setBlackPixel(source.surface, 3, 3);
    MemorySurface target(8, 8);
    stretchCopy(target.surface, 0, 0, 8, 8, source.surface);
    std::vector<int> pixels = blackPixels(target.dc, 8, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(pixels[y * 8 + x], x >= 6 && y >= 6) << x << "," << y;
        }
    }
}

// ---- Fonts and text ---------------------------------------------------------

struct Metrics {
    TEXTMETRICA text;
    char face[LF_FACESIZE];
};

Metrics currentMetrics(HDC dc)
{
    Metrics metrics = {};
    EXPECT_TRUE(GetTextMetricsA(dc, &metrics.text));
    EXPECT_GT(GetTextFaceA(dc, LF_FACESIZE, metrics.face), 0);
    return metrics;
}

// What the program draws text with must be what Courier at the device's
// default size gives: same face, same cell, same glyphs.
TEST(MonospacedFont, SameAsDefaultSizedCourier)
{
    MemorySurface plain(120, 40);
    HFONT defaultCourier = CreateFontA(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Courier");
    ASSERT_NE(defaultCourier, nullptr);
    HGDIOBJ previous = SelectObject(plain.dc, defaultCourier);
    Metrics expected = currentMetrics(plain.dc);
    TextOutA(plain.dc, 2, 2, "Hgw|0", 5);
    SelectObject(plain.dc, previous);
    DeleteObject(defaultCourier);

    MemorySurface ours(120, 40);
    SurfaceFont* font = selectMonospacedFont(ours.surface);
    ASSERT_NE(font, nullptr);
    Metrics actual = currentMetrics(ours.dc);
    drawText(ours.surface, 2, 2, "Hgw|0", 5);
    restoreFont(ours.surface, font);

    EXPECT_GT(actual.text.tmHeight, 0);
    EXPECT_EQ(actual.text.tmHeight, expected.text.tmHeight);
    EXPECT_EQ(actual.text.tmAscent, expected.text.tmAscent);
    EXPECT_EQ(actual.text.tmAveCharWidth, expected.text.tmAveCharWidth);
    EXPECT_EQ(actual.text.tmWeight, expected.text.tmWeight);
    EXPECT_STREQ(actual.face, expected.face);
    EXPECT_EQ(blackPixels(ours.dc, 120, 40), blackPixels(plain.dc, 120, 40));
}

TEST(MonospacedFont, RestorePutsThePreviousFontBack)
{
    MemorySurface memory(8, 8);
    HGDIOBJ original = GetCurrentObject(memory.dc, OBJ_FONT);
    int originalHeight = currentTextHeight(memory.surface);
    EXPECT_GT(originalHeight, 0);

    SurfaceFont* outer = selectMonospacedFont(memory.surface);
    ASSERT_NE(outer, nullptr);
    HGDIOBJ outerFont = GetCurrentObject(memory.dc, OBJ_FONT);
    int courierHeight = currentTextHeight(memory.surface);
    EXPECT_NE(outerFont, original);
    EXPECT_GT(courierHeight, 0);

    SurfaceFont* inner = selectMonospacedFont(memory.surface);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(GetCurrentObject(memory.dc, OBJ_FONT), outerFont);
    EXPECT_EQ(currentTextHeight(memory.surface), courierHeight);
    restoreFont(memory.surface, inner);
    EXPECT_EQ(GetCurrentObject(memory.dc, OBJ_FONT), outerFont);
    EXPECT_EQ(currentTextHeight(memory.surface), courierHeight);

    restoreFont(memory.surface, outer);
    EXPECT_EQ(GetCurrentObject(memory.dc, OBJ_FONT), original);
    EXPECT_EQ(currentTextHeight(memory.surface), originalHeight);
}

TEST(MonospacedFont, TextIsBlackInsideItsCell)
{
    MemorySurface memory(200, 60);
    SurfaceFont* font = selectMonospacedFont(memory.surface);
    ASSERT_NE(font, nullptr);
    SIZE extent = {};
    ASSERT_TRUE(GetTextExtentPoint32A(memory.dc, "Hg", 2, &extent));
    int cellHeight = currentTextHeight(memory.surface);
    drawText(memory.surface, 10, 8, "Hg", 2);
    restoreFont(memory.surface, font);

    std::vector<int> pixels = blackPixels(memory.dc, 200, 60);
    int black = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (pixels[y * 200 + x]) {
                ++black;
                EXPECT_TRUE(x >= 10 && x < 10 + extent.cx && y >= 8 && y < 8 + cellHeight) << x << "," << y;
            }
        }
    }
    EXPECT_GT(black, 0);
}

// On the test printers (300 and 600 dpi) Wine's default "Courier" is the
// screen's 16 pixels, under 4 points on paper. What the program prints with
// has characters of at least 9 points, a cell within the line advance of the
// printer's own font, and a fixed pitch; the printer's font is back after.
// Nothing is printed: no document is started.
TEST(MonospacedFont, ReadableOnThePrinters)
{
    const struct {
        const char* printer;
        int dpi;
    } printers[] = {{"Fernquill Test PDF", 300}, {highResolutionPrinter, 600}};
    for (const auto& device : printers) {
        DrawSurface* printer = createPrinterSurface(device.printer);
        ASSERT_NE(printer, nullptr) << device.printer;
        HDC dc = surfaceDeviceContext(printer);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), device.dpi) << device.printer;
        int lineAdvance = currentTextHeight(printer);

        SurfaceFont* font = selectMonospacedFont(printer);
        ASSERT_NE(font, nullptr) << device.printer;
        Metrics courier = currentMetrics(dc);
        restoreFont(printer, font);

        int characterHeight = courier.text.tmHeight - courier.text.tmInternalLeading;
        EXPECT_GE(characterHeight * 72, 9 * device.dpi) << device.printer << ": " << characterHeight << " pixels";
        EXPECT_LE(courier.text.tmHeight, lineAdvance) << device.printer;
        EXPECT_EQ(courier.text.tmPitchAndFamily & TMPF_FIXED_PITCH, 0) << device.printer << ": " << courier.face;
        EXPECT_EQ(currentTextHeight(printer), lineAdvance) << device.printer;
        destroyPrinterSurface(printer);
    }
}

// ---- Printing without a printer --------------------------------------------

TEST(PrintCalls, NoPrinterFails)
{
    EXPECT_EQ(createPrinterSurface("Fernquill No Such Printer"), nullptr);
    EXPECT_EQ(adoptPrinterDeviceContext(nullptr), nullptr);
    destroyPrinterSurface(nullptr);
    EXPECT_EQ(startPrintDocument(nullptr), -1);
    EXPECT_EQ(startPrintPage(nullptr), -1);
    EXPECT_EQ(endPrintPage(nullptr), -1);
    EXPECT_EQ(endPrintDocument(nullptr), -1);
}

// A memory context has no spooler behind it: GDI refuses the document, and
// there is no page or document to end.
TEST(PrintCalls, MemoryContextRefusesADocument)
{
    MemorySurface memory(8, 8);
    EXPECT_EQ(startPrintDocument(memory.surface), -1);
    EXPECT_EQ(endPrintPage(memory.surface), -1);
    EXPECT_EQ(endPrintDocument(memory.surface), -1);
}

}  // namespace
