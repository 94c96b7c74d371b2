// The web page's entry into the spool reader and the renderer, compiled to
// WebAssembly.
//
// The page hands over a spool file (written into the module's in-memory
// file system, so it takes no room on the module's own heap) and the printer
// options; fq_render() walks and draws every page exactly as spool_to_png
// does (tool_front_end.h: the same sheet, the same software surface, a
// refused page drawn white) and hands each one back as it is finished,
// through the module's callbacks:
//   onText(x, baseline, cellWidth, cellHeight, bytesPointer, count)  a line, cut as the PDF takes it
//   onImage(x, y, width, height, rowsPointer)                  an image's pixels, as the PDF takes them
//   onPage(number, refused, pngPointer, pngBytes, width, height)  the whole sheet
// Positions are the sheet's pixels. Image rows are DeviceGray (0 black); the
// sheet comes as a 1-bit grey PNG file (sheet_png.h), which the page only
// hands on. The pointers hold only during the call.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <cstring>

#include "render/bitmap_surface.h"
#include "render/mono_font.h"
#include "render/page_walk.h"
#include "spool/spool_database_name.h"
#include "spool/spool_records.h"
#include "tools/pdf_pages.h"
#include "tools/pdf_trace.h"
#include "tools/sheet_layout.h"
#include "tools/tool_front_end.h"
#include "tools/zip_member.h"
#include "web/sheet_png.h"
#include "web/web_limits.h"

EM_JS(void, emitText, (int x, double baseline, int cellWidth, int cellHeight, const char* characters, int count),
      { Module.onText(x, baseline, cellWidth, cellHeight, characters, count); });
EM_JS(void, emitImage, (int x, int y, int width, int height, const unsigned char* rows),
      { Module.onImage(x, y, width, height, rows); });
EM_JS(int, emitPage, (int number, int refused, const unsigned char* png, int pngBytes, int width, int height),
      { return Module.onPage(number, refused, png, pngBytes, width, height); });

namespace {

// fq_render's failures; the page says each in a sentence of its own.
const int renderBadOptions = -1;
const int renderNoMemory = -2;
const int renderUnreadable = -3;
const int renderStopped = -4;

struct WebPages {
    SheetLayout sheet;
    DrawSurface* surface;
    unsigned char* scanlines;  // the sheet as PNG scanlines
    int scanlineBytes;
    unsigned char* png;  // the sheet's PNG file
    unsigned char* imageRows;  // one image's cut, while it is handed over
    int pages;
};

void traceText(void* context, int x, int y, int cellWidth, int cellHeight, const char* characters, int count)
{
    WebPages* web = static_cast<WebPages*>(context);
    const SheetLayout& sheet = web->sheet;
    int64_t first = 0;
    int64_t end = 0;
    if (!clipTextLine(sheet.areaWidth, sheet.areaHeight, x, y, cellWidth, cellHeight, count, &first, &end)) {
        return;
    }
    char text[maxTextLineLength];
    int length = 0;
    for (int64_t i = first; i < end; i++) {
        unsigned char character = static_cast<unsigned char>(characters[i]);
        text[length++] = printsAsItself(character) ? static_cast<char>(character) : ' ';
    }
    int left = sheet.offsetX + x + static_cast<int>(first) * cellWidth;
    // Where the surface's glyphs stand, so the PDF's Courier stands there too.
    double baseline = sheet.offsetY + y + static_cast<double>(cellHeight) * monoFontCellAscent / monoFontCellHeight;
    emitText(left, baseline, cellWidth, cellHeight, text, length);
}

void traceImage(void* context, int x, int y, int width, int height)
{
    WebPages* web = static_cast<WebPages*>(context);
    const SheetLayout& sheet = web->sheet;
    int x0, x1, y0, y1;
    if (!clipSpan(x, width, sheet.areaWidth, &x0, &x1) || !clipSpan(y, height, sheet.areaHeight, &y0, &y1)) {
        return;
    }
    size_t rowBytes = (static_cast<size_t>(x1 - x0) + 7) / 8;
    unsigned char* rows = static_cast<unsigned char*>(std::malloc(rowBytes * static_cast<size_t>(y1 - y0)));
    if (rows == nullptr) {
        return;
    }
    bool black = false;
    int surfaceBytes = surfaceRowBytes(web->surface);
    for (int row = y0; row < y1; row++) {
        black |= copyImageRow(surfaceRow(web->surface, row), surfaceBytes, x0, x1 - x0,
                              rows + static_cast<size_t>(row - y0) * rowBytes);
    }
    if (black) {
        emitImage(sheet.offsetX + x0, sheet.offsetY + y0, x1 - x0, y1 - y0, rows);
    }
    std::free(rows);
}

// The drawn area placed on the white sheet, as spool_to_png writes it.
void fillScanlines(WebPages* web)
{
    const SheetLayout& sheet = web->sheet;
    int sheetBytes = web->scanlineBytes - 1;
    for (int y = 0; y < sheet.sheetHeight; y++) {
        unsigned char* line = web->scanlines + static_cast<size_t>(y) * web->scanlineBytes;
        std::memset(line, 0, static_cast<size_t>(web->scanlineBytes));
        int areaY = y - sheet.offsetY;
        if (areaY >= 0 && areaY < sheet.areaHeight) {
            placeAreaRow(surfaceRow(web->surface, areaY), sheet.areaWidth, sheet.offsetX, line + 1, sheetBytes);
        }
        for (int i = 1; i <= sheetBytes; i++) {
            line[i] = static_cast<unsigned char>(~line[i]);
        }
    }
}

int handPageOver(void* context, int pageNumber, bool refused)
{
    WebPages* web = static_cast<WebPages*>(context);
    fillScanlines(web);
    web->pages = pageNumber;
    const SheetLayout& sheet = web->sheet;
    size_t pngBytes = writeSheetPng(web->scanlines, sheet.sheetWidth, sheet.sheetHeight, sheet.dpi, web->png);
    return emitPage(pageNumber, refused ? 1 : 0, web->png, static_cast<int>(pngBytes), sheet.sheetWidth,
                    sheet.sheetHeight);
}

int drawPages(WebPages* web, SpoolStream* stream)
{
    const SheetLayout& sheet = web->sheet;
    web->scanlineBytes = 1 + (sheet.sheetWidth + 7) / 8;
    size_t scanlinesSize = static_cast<size_t>(web->scanlineBytes) * static_cast<size_t>(sheet.sheetHeight);
    web->scanlines = static_cast<unsigned char*>(std::malloc(scanlinesSize));
    web->png = static_cast<unsigned char*>(std::malloc(sheetPngBound(scanlinesSize)));
    web->surface = web->scanlines != nullptr && web->png != nullptr ? createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi,
                                                                 sheet.dpi, sheet.offsetX, sheet.offsetY)
                                             : nullptr;
    int result = renderNoMemory;
    if (web->surface != nullptr) {
        PageTrace trace = {web, traceText, traceImage};
        tracePageSurface(web->surface, &trace);
        int stopped = drawSheetPages(stream, web->surface, sheet, handPageOver, web);
        tracePageSurface(web->surface, nullptr);
        destroyPageSurface(web->surface);
        result = stopped == 0 ? web->pages : renderStopped;
    }
    std::free(web->png);
    std::free(web->scanlines);
    return result;
}

// The resolution pages are counted at: a Letter sheet of 8 x 11 pixels.
const int countingDpi = 1;

int countPage(void* context, int pageNumber, bool)
{
    static_cast<WebPages*>(context)->pages = pageNumber;
    return 0;
}

}  // namespace

extern "C" {

// The printer the tools play unless told otherwise.
EMSCRIPTEN_KEEPALIVE int fq_default_dpi()
{
    return defaultSheetOptions().dpi;
}

EMSCRIPTEN_KEEPALIVE const char* fq_default_paper()
{
    return defaultSheetOptions().paper->name;
}

// The margins on every edge, in pixels at dpi, unless told otherwise: the
// PDF's, as the page is there to be printed or saved as a PDF.
EMSCRIPTEN_KEEPALIVE int fq_default_margin(int dpi)
{
    return marginPixels(pdfMarginHundredths, dpi);
}

// The largest spool file taken, from an archive or not, as spool_to_pdf.
EMSCRIPTEN_KEEPALIVE double fq_max_spool_bytes()
{
    return static_cast<double>(maxSpoolMemberBytes);
}

// The most image data a saved PDF takes in, as spool_to_pdf.
EMSCRIPTEN_KEEPALIVE double fq_max_pdf_image_bytes()
{
    return static_cast<double>(maxPdfImageBytes);
}

// The most of a file's first bytes the two questions below need.
EMSCRIPTEN_KEEPALIVE double fq_database_prefix_bytes()
{
    return static_cast<double>(palmDatabasePrefixBytes);
}

// 0 when the bytes are plausibly a Palm database.
EMSCRIPTEN_KEEPALIVE int fq_check_database(const unsigned char* data, size_t size)
{
    return checkPalmDatabase(data, size);
}

// Whether the archive's member (its path and bytes) is the spool database.
EMSCRIPTEN_KEEPALIVE int fq_is_spool_member(const char* name, size_t nameLength, const unsigned char* data,
                                            size_t size)
{
    return isSpoolDatabaseMember(name, nameLength, data, size) ? 1 : 0;
}

// How many pages fq_render will hand over for the file at path: where a page
// ends is known only once it is drawn, so they are drawn on a sheet of a few
// pixels, which costs little beside the real one. 0 for a file without
// pages or one that can't be read.
EMSCRIPTEN_KEEPALIVE int fq_count_pages(const char* path)
{
    setImageMemoryLimit(webPageImageMemoryLimit);
    SheetOptions options = {countingDpi, findPaper("letter"), 0, 0};
    WebPages web = {};
    SpoolStream* stream = openSpoolStream(path);
    if (stream == nullptr || layOutSheet("fernquill", options, &web.sheet) != 0) {
        closeSpoolStream(stream);
        return 0;
    }
    int recordCount = 0;
    readSpoolHeader(stream, &recordCount, nullptr, nullptr);
    DrawSurface* surface = recordCount > 0 ? createPageSurface(web.sheet.areaWidth, web.sheet.areaHeight, countingDpi,
                                                               countingDpi, 0, 0)
                                           : nullptr;
    if (surface != nullptr) {
        drawSheetPages(stream, surface, web.sheet, countPage, &web);
        destroyPageSurface(surface);
    }
    closeSpoolStream(stream);
    return web.pages;
}

// Draws every page of the spool file at path for a printer of dpi on paper
// ("letter", "a4") with the given unprintable margins, handing each page
// over as it is done; onPage returns 0 to go on. Returns the number of
// pages (0 for a file without), or a negative failure: bad options, no
// memory for the sheet, an unreadable file, or stopped by onPage.
EMSCRIPTEN_KEEPALIVE int fq_render(const char* path, int dpi, const char* paper, int offsetX, int offsetY)
{
    // So that a damaged or hostile file can't grow the module's memory past
    // what a phone's tab is let keep.
    setImageMemoryLimit(webPageImageMemoryLimit);
    SheetOptions options = {dpi, findPaper(paper), offsetX, offsetY};
    WebPages web = {};
    if (dpi <= 0 || offsetX < 0 || offsetY < 0 || options.paper == nullptr ||
        layOutSheet("fernquill", options, &web.sheet) != 0) {
        return renderBadOptions;
    }
    SpoolStream* stream = openSpoolStream(path);
    if (stream == nullptr) {
        return renderUnreadable;
    }
    int recordCount = 0;
    readSpoolHeader(stream, &recordCount, nullptr, nullptr);
    int result = recordCount > 0 ? drawPages(&web, stream) : 0;
    closeSpoolStream(stream);
    return result;
}

}  // extern "C"
