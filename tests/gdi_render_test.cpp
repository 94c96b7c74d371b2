// Pages rendered through GDI into memory surfaces, compared with the same
// pages on the software surface (rendered by the render_reference program,
// since one program holds only one surface implementation). Images must land
// on exactly the same pixels; text lines, drawn in different fonts, must
// start on the same rows, which shows in where the images below them land.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "tests/spool_builder.h"
#include "tests/win_test_support.h"

using namespace spooltest;

namespace {

const int pageWidth = 320;
const int pageHeight = 400;

typedef std::vector<unsigned char> Rows;  // rowBytes per row, set bit black

int rowBytes()
{
    return (pageWidth + 7) / 8;
}

bool isBlack(const Rows& rows, int x, int y)
{
    return (rows[static_cast<size_t>(y) * rowBytes() + x / 8] >> (7 - x % 8)) & 1;
}

bool runReference(const std::string& spool, const std::string& output)
{
    std::string command = "\"" + windowsPathOf(RENDER_REFERENCE_PATH) + "\" \"" + spool + "\" \"" + output + "\" " +
                          std::to_string(pageWidth) + " " + std::to_string(pageHeight);
    DWORD exitCode = 1;
    return runProcess(command, 60000, nullptr, &exitCode) && exitCode == 0;
}

// The pages of a multi-image PBM file (P4).
std::vector<Rows> readPbmPages(const std::string& path)
{
    std::vector<Rows> pages;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return pages;
    }
    int width = 0;
    int height = 0;
    while (std::fscanf(in, " P4 %d %d", &width, &height) == 2 && std::fgetc(in) != EOF) {
        Rows rows(static_cast<size_t>((width + 7) / 8) * height);
        if (width != pageWidth || height != pageHeight || std::fread(rows.data(), 1, rows.size(), in) != rows.size()) {
            break;
        }
        pages.push_back(rows);
    }
    std::fclose(in);
    return pages;
}

// A memory surface like a window's, read back as rows.
struct MemoryPage {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ replaced;
    DrawSurface* surface;

    MemoryPage()
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, pageWidth, pageHeight);
        replaced = SelectObject(dc, bitmap);
        surface = wrapDeviceContext(dc);
    }
    ~MemoryPage()
    {
        unwrapDeviceContext(surface);
        SelectObject(dc, replaced);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }

    Rows rows()
    {
        SelectObject(dc, replaced);  // GetDIBits wants the bitmap unselected
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD colours[2];
        } info;
        ZeroMemory(&info, sizeof(info));
        info.header.biSize = sizeof(info.header);
        info.header.biWidth = pageWidth;
        info.header.biHeight = -pageHeight;  // top row first
        info.header.biPlanes = 1;
        info.header.biBitCount = 1;
        info.header.biCompression = BI_RGB;
        const int stride = ((pageWidth + 31) / 32) * 4;
        std::vector<unsigned char> dib(static_cast<size_t>(stride) * pageHeight);
        GetDIBits(dc, bitmap, 0, pageHeight, dib.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
        SelectObject(dc, bitmap);
        // Colour index 0 is black unless the table says otherwise.
        bool zeroIsBlack = info.colours[0].rgbRed == 0;
        Rows rows(static_cast<size_t>(rowBytes()) * pageHeight);
        for (int y = 0; y < pageHeight; y++) {
            for (int i = 0; i < rowBytes(); i++) {
                unsigned char value = dib[static_cast<size_t>(y) * stride + i];
                rows[static_cast<size_t>(y) * rowBytes() + i] = zeroIsBlack ? ~value : value;
            }
        }
        if (pageWidth % 8 != 0) {
            for (int y = 0; y < pageHeight; y++) {
                rows[static_cast<size_t>(y) * rowBytes() + rowBytes() - 1] &= 0xFF << (8 - pageWidth % 8);
            }
        }
        return rows;
    }
};

int renderGdiPage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    MemoryPage memory;
    int dpiX = 0;
    int dpiY = 0;
    surfaceDpi(memory.surface, &dpiX, &dpiY);
    PagePlacement placement = {0, 0, dpiX, dpiY, pageWidth, pageHeight};
    renderPage(memory.surface, placement, stream, page.firstRecord, page.recordCount, true);
    static_cast<std::vector<Rows>*>(context)->push_back(memory.rows());
    return 0;
}

// Every page of the file through GDI, walked as the print job walks it.
std::vector<Rows> renderWithGdi(const std::string& spoolPath)
{
    std::vector<Rows> pages;
    SpoolStream* stream = openSpoolStream(spoolPath.c_str());
    if (stream == nullptr) {
        return pages;
    }
    walkPages(stream, renderGdiPage, &pages, nullptr);
    closeSpoolStream(stream);
    releaseScreenCopy();
    return pages;
}

Bytes patternImage(int width, int height, int resolution, int x, int flags, uint32_t seed)
{
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.x = x;
    fields.xResolution = resolution;
    fields.yResolution = resolution;
    fields.flags = flags | recordFlagCompressed;
    Bytes bits = makeTestBitmap(rowBytesFor(width), height, seed);
    return imageRecord(fields, encodeImageRuns(bits, rowBytesFor(width)));
}

// Pages: images enlarged, shrunk and unscaled; text followed by an image;
// chained text records; a record of another kind in the chain.
SpoolDatabase comparisonPages()
{
    SpoolDatabase database;
    database.records = {
        patternImage(150, 90, 72, 3, 0, 1),
        patternImage(400, 300, 300, 10, 0, 2),
        patternImage(97, 61, 96, 0, recordFlagContinued, 3),
        patternImage(33, 17, 50, 7, 0, 4),
        textRecord("first line\nsecond\nthird\n", recordFlagContinued),
        solidImage(64, 8, 96, 100, 0, 0),
        textRecord("one\n", recordFlagContinued),
        textRecord(Bytes{'x'}, recordFlagContinued, 7),
        textRecord("two\nthree\n\n", recordFlagContinued),
        solidImage(20, 20, 72, 0, 5, 0),
    };
    return database;
}

// The lowest row of ink among the first `columns` columns: where text ends.
int lastInkedRow(const Rows& rows, int columns, int belowRow)
{
    int last = -1;
    for (int y = 0; y < belowRow; y++) {
        for (int x = 0; x < columns; x++) {
            if (isBlack(rows, x, y)) {
                last = y;
                break;
            }
        }
    }
    return last;
}

TEST(GdiRenderTest, PagesMatchTheSoftwareSurface)
{
    TempFile spool(buildSpoolFile(comparisonPages()));
    ASSERT_TRUE(spool.written());
    std::string referencePath = uniqueTempPath();
    ASSERT_TRUE(runReference(spool.path(), referencePath));
    std::vector<Rows> expected = readPbmPages(referencePath);
    std::remove(referencePath.c_str());
    std::vector<Rows> actual = renderWithGdi(spool.path());

    ASSERT_EQ(5u, expected.size());
    ASSERT_EQ(expected.size(), actual.size());

    // Image-only pages: every pixel.
    for (int page = 0; page < 3; page++) {
        EXPECT_TRUE(expected[page] == actual[page]) << "page " << page + 1;
    }

    // Text then images: the image rows below the text are the same pixel for
    // pixel, so the lines advanced alike; the text itself is inked on both.
    const int lineHeight = 16;
    struct TextPage {
        int page;
        int lastTextLineTop;  // the last line with characters
        int imageTop;
        int imageLeft;
    };
    const TextPage textPages[] = {
        {3, 2 * lineHeight, 3 * lineHeight, 100},
        {4, 2 * lineHeight, 4 * lineHeight + 5 * 96 / 72, 0},  // an empty fourth line, then y = 5 at 72 dpi
    };
    for (const TextPage& text : textPages) {
        const Rows& want = expected[text.page];
        const Rows& got = actual[text.page];
        size_t imageStart = static_cast<size_t>(text.imageTop) * rowBytes();
        EXPECT_TRUE(std::equal(want.begin() + imageStart, want.end(), got.begin() + imageStart))
            << "page " << text.page + 1;
        EXPECT_TRUE(isBlack(got, text.imageLeft, text.imageTop)) << "page " << text.page + 1;
        for (const Rows* rows : {&want, &got}) {
            int lastInk = lastInkedRow(*rows, pageWidth, text.imageTop);
            EXPECT_GE(lastInk, text.lastTextLineTop) << "page " << text.page + 1;
            EXPECT_LT(lastInk, text.lastTextLineTop + lineHeight) << "page " << text.page + 1;
        }
    }
}

// The largest image a header can describe, 65535 x 65535, whose data ends
// after a few rows because the file does.
Bytes hugeImageEndingEarly(int resolution, int x, int reachedRows, bool compressed)
{
    ImageFields fields;
    fields.width = 65535;
    fields.height = 65535;
    fields.x = x;
    fields.xResolution = resolution;
    fields.yResolution = resolution;
    fields.flags = compressed ? recordFlagCompressed : 0;
    Bytes bits = makeTestBitmap(rowBytesFor(fields.width), reachedRows, 9);
    return imageRecord(fields, compressed ? encodeImageRuns(bits, rowBytesFor(fields.width)) : bits);
}

// Each of these headers claims a 512 MiB bitmap. GDI draws what the data
// reached on the same pixels as the software surface, and white below it,
// without ever holding the whole bitmap: before, each page made the full
// bitmap and the process's working set passed half a gigabyte.
TEST(GdiRenderTest, ImagesWhoseDataEndsEarlyMatchTheSoftwareSurfaceWithoutTheirFullSize)
{
    struct Case {
        const char* what;
        Bytes record;
    };
    const Case cases[] = {
        {"enlarged (72 dpi), three rows of data", hugeImageEndingEarly(72, 5, 3, false)},
        {"shrunk (65535 dpi), five rows of data", hugeImageEndingEarly(65535, 0, 5, false)},
        {"unscaled and compressed, ten rows of data", hugeImageEndingEarly(96, 11, 10, true)},
        {"no data at all", hugeImageEndingEarly(96, 0, 0, false)},
    };
    for (const Case& hostile : cases) {
        SpoolDatabase database;
        database.records = {hostile.record};
        TempFile spool(buildSpoolFile(database));
        ASSERT_TRUE(spool.written());
        std::string referencePath = uniqueTempPath();
        ASSERT_TRUE(runReference(spool.path(), referencePath)) << hostile.what;
        std::vector<Rows> expected = readPbmPages(referencePath);
        std::remove(referencePath.c_str());
        std::vector<Rows> actual = renderWithGdi(spool.path());
        ASSERT_EQ(1u, expected.size()) << hostile.what;
        ASSERT_EQ(1u, actual.size()) << hostile.what;
        EXPECT_TRUE(expected[0] == actual[0]) << hostile.what;
    }

    PROCESS_MEMORY_COUNTERS memory;
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory)));
    EXPECT_LT(memory.PeakWorkingSetSize, static_cast<SIZE_T>(128) << 20);
}

TEST(GdiRenderTest, RepaintCopiesTheLastPageUnscaled)
{
    SpoolDatabase database;
    database.records = {solidImage(40, 30, 96, 12, 7, 0)};
    TempFile spool(buildSpoolFile(database));
    SpoolStream* stream = openSpoolStream(spool.path().c_str());
    ASSERT_NE(nullptr, stream);
    MemoryPage page;
    PagePlacement placement = {0, 0, 96, 96, pageWidth, pageHeight};
    ASSERT_EQ(0, renderPage(page.surface, placement, stream, 0, 1, true));
    closeSpoolStream(stream);
    Rows drawn = page.rows();

    MemoryPage window;
    setBlackPixel(window.surface, pageWidth - 1, pageHeight - 1);
    ASSERT_EQ(0, repaintScreenCopy(window.surface));
    releaseScreenCopy();

    EXPECT_TRUE(drawn == window.rows());
    EXPECT_TRUE(isBlack(drawn, 12, 7));
    EXPECT_EQ(-1, repaintScreenCopy(window.surface));
}

}  // namespace
