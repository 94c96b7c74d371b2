// The page renderer on the software surface: where text lines and images
// land, which records a page takes in, refusals, and the screen copy. Every
// check looks at the pixels drawn.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/bitmap_surface.h"
#include "render/mono_font.h"
#include "render/page_renderer.h"
#include "tests/pixels.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const int pageWidth = 400;
const int pageHeight = 600;
const int lineHeight96 = 16;  // the default font's height at 96 dpi

// A page surface, freed with the test.
struct Page {
    DrawSurface* surface;
    PagePlacement placement;

    Page(int width, int height, int dpi, int originX = 0, int originY = 0)
    {
        surface = createPageSurface(width, height, dpi, dpi, 0, 0);
        placement = {originX, originY, dpi, dpi, width, height};
    }
    ~Page() { destroyPageSurface(surface); }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;
};

// The first and last rows holding any black pixel; (-1, -1) for a white page.
std::pair<int, int> inkedRows(DrawSurface* surface, int height)
{
    int first = -1;
    int last = -1;
    for (int y = 0; y < height; y++) {
        if (blackPixelsIn(surface, 0, y, pageWidth, y + 1) > 0) {
            if (first < 0) {
                first = y;
            }
            last = y;
        }
    }
    return {first, last};
}

// The first row of the glyph 'H' that holds ink, so tests can find a line of
// H's by its top.
int firstInkRowOfH()
{
    for (int row = 0; row < monoFontCellHeight; row++) {
        for (int column = 0; column < monoFontCellWidth; column++) {
            if (monoFontPixel('H', column, row)) {
                return row;
            }
        }
    }
    return -1;
}

// Rows where a new run of inked rows starts: the tops of the text lines.
std::vector<int> lineTops(DrawSurface* surface, int height)
{
    std::vector<int> tops;
    bool previousInked = false;
    for (int y = 0; y < height; y++) {
        bool inked = blackPixelsIn(surface, 0, y, pageWidth, y + 1) > 0;
        if (inked && !previousInked) {
            tops.push_back(y);
        }
        previousInked = inked;
    }
    return tops;
}

Bytes solidBits(int width, int height)
{
    return Bytes(static_cast<size_t>(rowBytesFor(width)) * height, 0xFF);
}

int recordCountOf(SpoolStream* stream)
{
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    seekTo(stream, 0);
    return count;
}

class PageRendererTest : public testing::Test {
protected:
    void SetUp() override { releaseScreenCopy(); displayMode = displayStatus; }
    void TearDown() override { releaseScreenCopy(); }
};

// ---- Images ---------------------------------------------------------------

TEST_F(PageRendererTest, ImageIsScaledFromItsResolutionToTheSurfaces)
{
    SpoolDatabase database;
    database.records = {solidImage(144, 8, 72, 36, 0, 0)};  // 2 inches wide, half an inch in
    OpenSpool spool(buildSpoolFile(database));
    Page page(1700, 200, 600, 10, 5);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 1, false));

    // 144 px at 72 dpi is 1200 px at 600 dpi; x = 36 puts it 300 px right of
    // the origin; 8 rows at 72 dpi are 66 rows (truncated) below originY.
    EXPECT_FALSE(isBlackPixel(page.surface, 10 + 299, 5));
    EXPECT_TRUE(isBlackPixel(page.surface, 10 + 300, 5));
    EXPECT_TRUE(isBlackPixel(page.surface, 10 + 1499, 5 + 65));
    EXPECT_FALSE(isBlackPixel(page.surface, 10 + 1500, 5));
    EXPECT_FALSE(isBlackPixel(page.surface, 10 + 300, 5 + 66));
    EXPECT_FALSE(isBlackPixel(page.surface, 10 + 300, 4));
    EXPECT_EQ(displayImagePage, displayMode);
}

TEST_F(PageRendererTest, NegativeOriginShiftsThePageUpAndLeft)
{
    SpoolDatabase database;
    database.records = {solidImage(40, 40, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(100, 100, 96, -10, -15);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 1, false));

    EXPECT_EQ(30 * 25, blackPixelsIn(page.surface, 0, 0, 100, 100));
    EXPECT_TRUE(isBlackPixel(page.surface, 29, 24));
    EXPECT_FALSE(isBlackPixel(page.surface, 30, 24));
}

TEST_F(PageRendererTest, ZeroResolutionDrawsTheImageUnscaled)
{
    SpoolDatabase database;
    database.records = {solidImage(20, 10, 0, 5, 0, recordFlagContinued), solidImage(8, 4, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(300, 300, 300);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 2, false));

    // The first image keeps its 20 x 10 pixels at x = 5; the pen moves 10
    // rows, and the second image (96 dpi) is scaled by 300/96 below it.
    EXPECT_EQ(20 * 10, blackPixelsIn(page.surface, 0, 0, 300, 10));
    EXPECT_TRUE(isBlackPixel(page.surface, 5, 0));
    EXPECT_FALSE(isBlackPixel(page.surface, 4, 0));
    EXPECT_EQ(25 * 12, blackPixelsIn(page.surface, 0, 10, 300, 300));
}

TEST_F(PageRendererTest, ZeroWidthImageDrawsNothingButMovesThePen)
{
    ImageFields empty;
    empty.width = 0;
    empty.height = 30;
    empty.y = 10;
    empty.xResolution = 96;
    empty.yResolution = 96;
    empty.flags = recordFlagContinued;
    SpoolDatabase database;
    database.records = {imageRecord(empty, {}), solidImage(8, 2, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(100, 100, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 2, false));

    EXPECT_EQ(std::make_pair(40, 41), inkedRows(page.surface, 100));
}

TEST_F(PageRendererTest, ImageWithoutMemoryIsAWhiteRectangleAndThePenMovesBelowIt)
{
    SpoolDatabase database;
    database.records = {solidImage(64, 64, 96, 0, 0, recordFlagContinued), solidImage(8, 2, 96, 0, 0, 0)};
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    Page page(100, 200, 96);

    size_t limit = imageMemoryLimit();
    setImageMemoryLimit(8);
    int result = renderPage(page.surface, page.placement, spool.stream(), 0, 2, false);
    setImageMemoryLimit(limit);

    // Nothing of the big bitmap was read, so its data is not taken for a
    // record: the second image is drawn below the white 64 rows.
    ASSERT_EQ(0, result);
    EXPECT_EQ(std::make_pair(64, 65), inkedRows(page.surface, 200));
}

TEST_F(PageRendererTest, ShrunkImageKeepsItsBlackLines)
{
    // A 1-pixel line in a 100 x 100 image at 960 dpi shrinks to 10 x 10 at
    // 96 dpi and must still show.
    const int size = 100;
    Bytes bits(static_cast<size_t>(rowBytesFor(size)) * size, 0);
    for (int row = 0; row < size; row++) {
        bits[static_cast<size_t>(row) * rowBytesFor(size) + 5] = 0x10;  // column 43
    }
    ImageFields fields;
    fields.width = size;
    fields.height = size;
    fields.xResolution = 960;
    fields.yResolution = 960;
    SpoolDatabase database;
    database.records = {imageRecord(fields, bits)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(50, 50, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 1, false));

    EXPECT_EQ(10, blackPixelsIn(page.surface, 0, 0, 50, 50));
    EXPECT_EQ(10, blackPixelsIn(page.surface, 4, 0, 5, 10));
}

// ---- Text -----------------------------------------------------------------

TEST_F(PageRendererTest, TextLinesAdvanceByTheSurfacesFontHeight)
{
    SpoolDatabase database;
    database.records = {textRecord("HHH\n\nHHH\nHHH")};
    OpenSpool spool(buildSpoolFile(database));
    Page page(pageWidth, pageHeight, 96, 0, 20);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 1, false));

    int top = 20 + firstInkRowOfH();
    std::vector<int> expected = {top, top + 2 * lineHeight96, top + 3 * lineHeight96};
    EXPECT_EQ(expected, lineTops(page.surface, pageHeight));
    EXPECT_EQ(displayTextPage, displayMode);
}

TEST_F(PageRendererTest, ChainedTextRecordsFollowOneAnother)
{
    SpoolDatabase database;
    database.records = {textRecord("HH\nHH\n", recordFlagContinued), textRecord("HH\n")};
    OpenSpool spool(buildSpoolFile(database));
    Page page(pageWidth, pageHeight, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 2, false));

    int top = firstInkRowOfH();
    std::vector<int> expected = {top, top + lineHeight96, top + 2 * lineHeight96};
    EXPECT_EQ(expected, lineTops(page.surface, pageHeight));
}

TEST_F(PageRendererTest, ImageAfterThreeTextLinesStartsThreeLinesDown)
{
    SpoolDatabase database;
    database.records = {textRecord("a\nb\nc\n", recordFlagContinued), solidImage(16, 4, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(pageWidth, pageHeight, 96, 0, 7);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 2, false));

    int imageTop = 7 + 3 * lineHeight96;
    EXPECT_EQ(16 * 4, blackPixelsIn(page.surface, 0, imageTop, pageWidth, imageTop + 4));
    EXPECT_EQ(0, blackPixelsIn(page.surface, 0, imageTop + 4, pageWidth, pageHeight));
    EXPECT_EQ(displayImagePage, displayMode);
}

TEST_F(PageRendererTest, LineHeightIsMeasuredInTheSurfacesOwnFontOnEveryPage)
{
    SpoolDatabase database;
    database.records = {textRecord("H\nH\n"), textRecord("H\nH\n")};
    OpenSpool spool(buildSpoolFile(database));
    Page page(pageWidth, pageHeight, 96);
    int count = recordCountOf(spool.stream());

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, count, false));
    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 1, count, false));

    // The second page starts from a fresh white fill, lines 16 apart again.
    int top = firstInkRowOfH();
    std::vector<int> expected = {top, top + lineHeight96};
    EXPECT_EQ(expected, lineTops(page.surface, pageHeight));
}

// ---- Which records a page takes in -----------------------------------------

TEST_F(PageRendererTest, RecordOfOtherKindDrawsNothingButPassesTheChainOn)
{
    SpoolDatabase database;
    database.records = {textRecord(Bytes{'Z', 'Z'}, recordFlagContinued, 5), solidImage(8, 3, 96, 0, 0, 0),
                        solidImage(8, 3, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(100, 100, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 3, false));

    // Only the second record is on this page: the third is not chained.
    EXPECT_EQ(8 * 3, blackPixelsIn(page.surface, 0, 0, 100, 100));
    EXPECT_EQ(std::make_pair(0, 2), inkedRows(page.surface, 100));
}

TEST_F(PageRendererTest, RecordsConsumedAsBitmapDataAreSkipped)
{
    // The image's bitmap is split over its own record and the next two; the
    // fourth record is chained to the image and drawn below it.
    const int width = 32;
    const int height = 12;
    Bytes bits = solidBits(width, height);
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.xResolution = 96;
    fields.yResolution = 96;
    fields.flags = recordFlagContinued;
    Bytes image = imageRecord(fields, Bytes(bits.begin(), bits.begin() + 16));
    SpoolDatabase database;
    database.records = {image, Bytes(bits.begin() + 16, bits.begin() + 32),
                        Bytes(bits.begin() + 32, bits.end()), solidImage(8, 2, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(100, 100, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 4, false));

    EXPECT_EQ(width * height + 8 * 2, blackPixelsIn(page.surface, 0, 0, 100, 100));
    EXPECT_EQ(std::make_pair(0, height + 1), inkedRows(page.surface, 100));
    int32_t end = 0;
    readRecordExtent(spool.stream(), 3, &end, nullptr);
    EXPECT_EQ(end + imageBitmapOffset + 2, tell(spool.stream()));
}

TEST_F(PageRendererTest, PageStartingBeforeTheStreamPositionIsRefused)
{
    SpoolDatabase database;
    database.records = {solidImage(8, 2, 96, 0, 0, 0), solidImage(8, 2, 96, 0, 0, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(100, 80, 96);
    int32_t secondStart = 0;
    readRecordExtent(spool.stream(), 1, &secondStart, nullptr);
    seekTo(spool.stream(), secondStart + 1);

    EXPECT_EQ(-1, renderPage(page.surface, page.placement, spool.stream(), 1, 2, true));

    EXPECT_EQ(secondStart + 1, tell(spool.stream()));
    EXPECT_EQ(0, blackPixelsIn(page.surface, 0, 0, 100, 80));
    ASSERT_NE(nullptr, screenCopy.bitmap);
    EXPECT_EQ(100, screenCopy.width);
    EXPECT_EQ(80, screenCopy.height);
    Page window(100, 80, 96);
    fillWhite(window.surface, 0, 0, 100, 80);
    setBlackPixel(window.surface, 3, 3);
    ASSERT_EQ(0, repaintScreenCopy(window.surface));
    EXPECT_EQ(0, blackPixelsIn(window.surface, 0, 0, 100, 80));
}

// ---- The screen copy ------------------------------------------------------

TEST_F(PageRendererTest, RepaintBeforeAnyPageDrawsNothing)
{
    Page window(50, 50, 96);
    setBlackPixel(window.surface, 10, 10);

    EXPECT_EQ(-1, repaintScreenCopy(window.surface));
    EXPECT_TRUE(isBlackPixel(window.surface, 10, 10));
}

TEST_F(PageRendererTest, ScreenCopyHoldsThePageAsDrawnAndIsReplacedByTheNext)
{
    SpoolDatabase database;
    database.records = {textRecord("HELLO\n", recordFlagContinued), solidImage(24, 6, 96, 4, 2, 0),
                        solidImage(8, 8, 96, 50, 50, 0)};
    OpenSpool spool(buildSpoolFile(database));
    Page page(120, 90, 96);
    Page window(120, 90, 96);

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 0, 3, true));
    ASSERT_EQ(0, repaintScreenCopy(window.surface));
    for (int y = 0; y < 90; y++) {
        ASSERT_EQ(0, memcmp(surfaceRow(page.surface, y), surfaceRow(window.surface, y),
                            static_cast<size_t>(surfaceRowBytes(page.surface))))
            << "row " << y;
    }

    ASSERT_EQ(0, renderPage(page.surface, page.placement, spool.stream(), 2, 3, true));
    ASSERT_EQ(0, repaintScreenCopy(window.surface));
    EXPECT_EQ(64, blackPixelsIn(window.surface, 0, 0, 120, 90));
    EXPECT_EQ(64, blackPixelsIn(window.surface, 50, 50, 58, 58));
}

// ---- Moving a page off a printer's margins ----------------------------------

// A printer at 96 dpi with 30 px margins, its drawable area 300 x 300 on a
// 360 x 360 sheet. Each case says how far the page must move (dx, dy) and
// how many of its black pixels fall past the right or bottom edge.
const int marginOffset = 30;

struct MarginCase {
    const char* name;
    std::vector<Bytes> records;
    int dx;
    int dy;
    int lost;
};

void PrintTo(const MarginCase& margin, std::ostream* out)
{
    *out << margin.name;
}

std::vector<MarginCase> marginCases()
{
    const int continued = recordFlagContinued;
    return {
        {"TextAtThePaperEdgeMovesByTheOffsets", {textRecord("HI\n")}, 30, 30, 0},
        {"ImageInsideKeepsItsPlace", {solidImage(16, 16, 96, 40, 50)}, 0, 0, 0},
        {"ImagePartlyOnTheLeftMarginMovesJustIn", {solidImage(16, 16, 96, 10, 40)}, 20, 0, 0},
        {"TextAndImageMoveTogether", {textRecord("HI\n", continued), solidImage(16, 16, 96, 60, 0)}, 30, 30, 0},
        {"TextBelowAnImageOnlyMovesRight", {solidImage(16, 16, 96, 40, 40, continued), textRecord("HI\n")}, 30, 0,
         0},
        // A zero-width image and empty lines draw nothing, though they move
        // the pen: the line that follows is inside from the top.
        {"OnlyWhatDrawsCounts", {solidImage(0, 40, 96, 0, 0, continued), textRecord("\n\nHI\n")}, 30, 0, 0},
        {"BlankPageStays", {textRecord("\n\n")}, 0, 0, 0},
        // At paper x 320 to 360: the area ends at 330, so 30 columns are lost.
        {"PastTheRightEdgeIsNotBroughtBack", {solidImage(40, 16, 96, 320, 40)}, 0, 0, 30 * 16},
    };
}

class PageMarginTest : public PageRendererTest, public testing::WithParamInterface<MarginCase> {};

// The page is drawn on the sheet without margins and on the printer moved
// off them: every pixel the printer prints must be the sheet's, shifted by
// (dx, dy) from where the paper has it.
TEST_P(PageMarginTest, PageMovesOffTheMarginsAsOneAndOnlyAsFarAsItMust)
{
    const MarginCase& margin = GetParam();
    SpoolDatabase database;
    database.records = margin.records;
    OpenSpool spool(buildSpoolFile(database));
    int count = recordCountOf(spool.stream());
    const int area = 300;
    const int sheet = area + 2 * marginOffset;
    Page printer(area, area, 96, -marginOffset, -marginOffset);
    Page paper(sheet, sheet, 96);

    PagePlacement fitted = fitPageInsideArea(printer.surface, printer.placement, spool.stream(), 0, count);
    EXPECT_EQ(0, tell(spool.stream()));
    EXPECT_EQ(-marginOffset + margin.dx, fitted.originX);
    EXPECT_EQ(-marginOffset + margin.dy, fitted.originY);
    ASSERT_EQ(0, renderPage(printer.surface, fitted, spool.stream(), 0, count, false));
    seekTo(spool.stream(), 0);
    ASSERT_EQ(0, renderPage(paper.surface, paper.placement, spool.stream(), 0, count, false));

    for (int y = 0; y < area; y++) {
        for (int x = 0; x < area; x++) {
            int paperX = x + marginOffset - margin.dx;
            int paperY = y + marginOffset - margin.dy;
            ASSERT_EQ(isBlackPixel(paper.surface, paperX, paperY), isBlackPixel(printer.surface, x, y))
                << "at " << x << ", " << y;
        }
    }
    EXPECT_EQ(blackPixels(paper.surface) - margin.lost, blackPixels(printer.surface));
}

INSTANTIATE_TEST_SUITE_P(Margins, PageMarginTest, testing::ValuesIn(marginCases()),
                         [](const testing::TestParamInfo<MarginCase>& info) { return info.param.name; });

}  // namespace
