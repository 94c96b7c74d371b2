// The PDF pages, filled from the software surface's reports.
//
// Coordinates. The PDF page is the sheet: its pixels at the layout's
// resolution become points (72 per inch), with y turned to grow upwards from
// the page's bottom edge. Pixel edges must survive being rendered back at
// that resolution, and renderers round them differently: poppler sizes the
// page by rounding its pixel size up, and paints an image from the floor of
// its left (top) edge to the floor of its right (bottom) edge plus one, so an
// image edge exactly on a pixel boundary gains a pixel; the PDF rule paints
// the pixels whose centres lie in the image. So the page is a quarter pixel
// short of the sheet in each direction, and each image is inset by a quarter
// pixel on every side: its edges then lie inside the first and last pixels it
// owns, and both rules give every image exactly the pixels it has on the
// surface, with room to spare for the library's rounding of coordinates to
// five decimals.
//
// Clipping. The surface holds only the printer's drawable area, so nothing
// shows in the margins or beyond the sheet. Each PDF page clips its content
// to that area, text lines are cut to the characters whose cells reach into
// it, and images to the part inside it; a page then holds no more than a
// sheet's worth, whatever a damaged file describes, and the document stops
// taking pages at maxPdfImageBytes of images.
//
// Images. The part of the surface an image landed on becomes a 1-bit image
// of exactly those pixels, which libharu encodes as CCITT G4 (the content
// streams are Flate compressed). An all-white one is left out: it would
// cover nothing, since the pen only moves down and no image lies over
// anything drawn before it.
//
// Text. The surface draws a line in cells of cellWidth x cellHeight pixels;
// the PDF draws it in Courier at cellHeight's size, stretched across
// (horizontal scaling) so that each character advances exactly one cell, its
// baseline where the surface's glyphs stand. Characters are the ANSI code
// page's, which is PDF's WinAnsiEncoding; the bytes that print nothing on
// the surface (control bytes and the five CP1252 leaves undefined) become
// spaces, so each character keeps its cell.
#include "tools/pdf_pages.h"

#include <fcntl.h>
#include <hpdf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fernquill_version.h"
#include "render/bitmap_surface.h"
#include "render/mono_font.h"
#include "spool/spool_records.h"
#include "tools/pdf_trace.h"

struct PdfPages {
    HPDF_Doc doc;
    HPDF_Font font;
    HPDF_Page page;  // nullptr between pages
    SheetLayout sheet;
    DrawSurface* surface;
    PageTrace trace;
    HPDF_STATUS error;     // the library's first failure; 0 while none
    bool outOfMemory;      // an image's rows could not be had
    uint64_t imageBytes;   // the images' data so far, compressed
};

namespace {

const double pageShave = 0.25;    // pixels the page is short of the sheet
const double imageInset = 0.25;   // pixels each image edge moves inwards
const double courierAdvance = 0.6;  // every Courier glyph is 600/1000 em wide

void noteLibraryError(HPDF_STATUS error, HPDF_STATUS detail, void* data)
{
    (void)detail;
    PdfPages* pdf = static_cast<PdfPages*>(data);
    if (pdf->error == 0) {
        pdf->error = error;
    }
}

double pointsAcross(const PdfPages* pdf, double sheetX)
{
    return sheetX * 72.0 / pdf->sheet.dpi;
}

double pointsUp(const PdfPages* pdf, double sheetY)
{
    return (pdf->sheet.sheetHeight - pageShave - sheetY) * 72.0 / pdf->sheet.dpi;
}

// The page being drawn, started (clipped to the drawable area) when first
// needed; nullptr if the library can't add one.
HPDF_Page currentPage(PdfPages* pdf)
{
    if (pdf->page != nullptr) {
        return pdf->page;
    }
    HPDF_Page page = HPDF_AddPage(pdf->doc);
    if (page == nullptr) {
        return nullptr;
    }
    const SheetLayout& sheet = pdf->sheet;
    HPDF_Page_SetWidth(page, static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.sheetWidth - pageShave)));
    HPDF_Page_SetHeight(page, static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.sheetHeight - pageShave)));
    HPDF_Page_GSave(page);
    HPDF_Page_Rectangle(page, static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.offsetX)),
                        static_cast<HPDF_REAL>(pointsUp(pdf, sheet.offsetY + sheet.areaHeight)),
                        static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.areaWidth)),
                        static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.areaHeight)));
    HPDF_Page_Clip(page);
    HPDF_Page_EndPath(page);
    pdf->page = page;
    return page;
}

void addTextLine(void* context, int x, int y, int cellWidth, int cellHeight, const char* characters, int count)
{
    PdfPages* pdf = static_cast<PdfPages*>(context);
    const SheetLayout& sheet = pdf->sheet;
    int64_t first = 0;
    int64_t end = 0;
    if (!clipTextLine(sheet.areaWidth, sheet.areaHeight, x, y, cellWidth, cellHeight, count, &first, &end)) {
        return;
    }
    char text[maxTextLineLength + 1];
    int length = 0;
    for (int64_t i = first; i < end; i++) {
        unsigned char character = static_cast<unsigned char>(characters[i]);
        text[length++] = printsAsItself(character) ? static_cast<char>(character) : ' ';
    }
    text[length] = '\0';

    HPDF_Page page = currentPage(pdf);
    if (page == nullptr) {
        return;
    }
    double size = pointsAcross(pdf, cellHeight);
    double scaling = 100.0 * cellWidth / (courierAdvance * cellHeight);
    size = std::min(std::max(size, 0.01), static_cast<double>(HPDF_MAX_FONTSIZE));
    scaling = std::min(std::max(scaling, static_cast<double>(HPDF_MIN_HORIZONTALSCALING)),
                       static_cast<double>(HPDF_MAX_HORIZONTALSCALING));
    double left = sheet.offsetX + x + static_cast<double>(first) * cellWidth;
    double baseline = sheet.offsetY + y + static_cast<double>(cellHeight) * monoFontCellAscent / monoFontCellHeight;
    HPDF_Page_BeginText(page);
    HPDF_Page_SetFontAndSize(page, pdf->font, static_cast<HPDF_REAL>(size));
    HPDF_Page_SetHorizontalScalling(page, static_cast<HPDF_REAL>(scaling));
    HPDF_Page_TextOut(page, static_cast<HPDF_REAL>(pointsAcross(pdf, left)),
                      static_cast<HPDF_REAL>(pointsUp(pdf, baseline)), text);
    HPDF_Page_EndText(page);
}

void addImage(void* context, int x, int y, int width, int height)
{
    PdfPages* pdf = static_cast<PdfPages*>(context);
    int x0, x1, y0, y1;
    if (!clipSpan(x, width, pdf->sheet.areaWidth, &x0, &x1) || !clipSpan(y, height, pdf->sheet.areaHeight, &y0, &y1)) {
        return;
    }
    int columns = x1 - x0;
    int rows = y1 - y0;
    size_t rowBytes = (static_cast<size_t>(columns) + 7) / 8;
    unsigned char* bits = static_cast<unsigned char*>(std::malloc(rowBytes * static_cast<size_t>(rows)));
    if (bits == nullptr) {
        pdf->outOfMemory = true;
        return;
    }
    bool black = false;
    int surfaceBytes = surfaceRowBytes(pdf->surface);
    for (int row = 0; row < rows; row++) {
        black |= copyImageRow(surfaceRow(pdf->surface, y0 + row), surfaceBytes, x0, columns, bits + row * rowBytes);
    }
    HPDF_Page page = black ? currentPage(pdf) : nullptr;
    HPDF_Image image = page != nullptr
                           ? HPDF_LoadRawImageFromMem(pdf->doc, bits, static_cast<HPDF_UINT>(columns),
                                                      static_cast<HPDF_UINT>(rows), HPDF_CS_DEVICE_GRAY, 1)
                           : nullptr;
    std::free(bits);
    if (image == nullptr) {
        return;
    }
    pdf->imageBytes += HPDF_Stream_Size(image->stream);
    // Never smoothed: the pixels are the printer's already.
    HPDF_Dict_AddBoolean(image, "Interpolate", HPDF_FALSE);
    const SheetLayout& sheet = pdf->sheet;
    HPDF_Page_DrawImage(page, image, static_cast<HPDF_REAL>(pointsAcross(pdf, sheet.offsetX + x0 + imageInset)),
                        static_cast<HPDF_REAL>(pointsUp(pdf, sheet.offsetY + y1 - imageInset)),
                        static_cast<HPDF_REAL>(pointsAcross(pdf, columns - 2 * imageInset)),
                        static_cast<HPDF_REAL>(pointsAcross(pdf, rows - 2 * imageInset)));
}

// The file name as PDFDocEncoding, which agrees with Latin-1 on the
// printable characters: UTF-8 is decoded, other bytes taken as Latin-1, and
// what it can't show becomes '?'.
void titleText(const char* name, char* title, size_t capacity)
{
    size_t length = 0;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(name);
    while (*c != '\0' && length + 1 < capacity) {
        unsigned int code = *c++;
        if (code >= 0xC2 && code <= 0xDF && (*c & 0xC0) == 0x80) {
            code = ((code & 0x1F) << 6) | (*c++ & 0x3F);
        } else if (code >= 0x80 && code < 0xA0) {
            code = '?';
        }
        bool shown = (code >= 0x20 && code < 0x7F) || (code >= 0xA0 && code <= 0xFF);
        title[length++] = shown ? static_cast<char>(code) : '?';
    }
    title[length] = '\0';
}

void setDocumentInfo(PdfPages* pdf, const char* name)
{
    char title[256];
    titleText(name, title, sizeof title);
    HPDF_SetInfoAttr(pdf->doc, HPDF_INFO_TITLE, title);
    HPDF_SetInfoAttr(pdf->doc, HPDF_INFO_PRODUCER, "Fernquill Desktop Spooler " FERNQUILL_VERSION_TEXT);
    std::time_t now = std::time(nullptr);
    std::tm utc;
    if (gmtime_r(&now, &utc) != nullptr) {
        HPDF_Date date = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                          std::min(utc.tm_sec, 59), 'Z', 0, 0};
        HPDF_SetInfoDateAttr(pdf->doc, HPDF_INFO_CREATION_DATE, date);
    }
}

// Writes the whole buffer; -1 with errno set when it can't.
int writeAll(int file, const unsigned char* bytes, size_t size)
{
    while (size > 0) {
        ssize_t written = write(file, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return -1;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

// Copies the document, saved to the library's memory stream, into file.
int copySavedDocument(PdfPages* pdf, int file)
{
    HPDF_ResetStream(pdf->doc);
    for (;;) {
        unsigned char buffer[65536];
        HPDF_UINT32 size = sizeof buffer;
        HPDF_STATUS status = HPDF_ReadFromStream(pdf->doc, buffer, &size);
        if (size > 0 && writeAll(file, buffer, size) != 0) {
            return -1;
        }
        if (status == HPDF_STREAM_EOF || size == 0) {
            return 0;
        }
        if (status != HPDF_OK) {
            errno = EIO;
            return -1;
        }
    }
}

}  // namespace

PdfPages* startPdfPages(const SheetLayout& sheet, const char* title, DrawSurface* surface)
{
    PdfPages* pdf = static_cast<PdfPages*>(std::calloc(1, sizeof(PdfPages)));
    if (pdf == nullptr) {
        return nullptr;
    }
    pdf->sheet = sheet;
    pdf->surface = surface;
    pdf->doc = HPDF_New(noteLibraryError, pdf);
    if (pdf->doc == nullptr) {
        std::free(pdf);
        return nullptr;
    }
    HPDF_SetCompressionMode(pdf->doc, HPDF_COMP_ALL);
    pdf->font = HPDF_GetFont(pdf->doc, "Courier", "WinAnsiEncoding");
    setDocumentInfo(pdf, title);
    if (pdf->font == nullptr || pdf->error != 0) {
        HPDF_Free(pdf->doc);
        std::free(pdf);
        return nullptr;
    }
    pdf->trace = {pdf, addTextLine, addImage};
    tracePageSurface(surface, &pdf->trace);
    return pdf;
}

int finishPdfPage(PdfPages* pdf)
{
    HPDF_Page page = currentPage(pdf);
    if (page != nullptr) {
        HPDF_Page_GRestore(page);
    }
    pdf->page = nullptr;
    if (page == nullptr || pdf->error != 0 || pdf->outOfMemory) {
        return -1;
    }
    return pdf->imageBytes >= maxPdfImageBytes ? 1 : 0;
}

int measurePdf(PdfPages* pdf, uint32_t* size)
{
    if (pdf->error != 0 || pdf->outOfMemory || HPDF_SaveToStream(pdf->doc) != HPDF_OK) {
        return -1;
    }
    *size = HPDF_GetStreamSize(pdf->doc);
    return 0;
}

int writePdfFile(PdfPages* pdf, const char* tool, const char* path)
{
    uint32_t size = 0;
    if (measurePdf(pdf, &size) != 0) {
        std::fprintf(stderr, "%s: cannot make the PDF for %s (%s)\n", tool, path,
                     pdf->outOfMemory ? "not enough memory" : "PDF library error");
        return -1;
    }
    char temporary[4096];
    int written = std::snprintf(temporary, sizeof temporary, "%s.%ld.tmp", path, static_cast<long>(getpid()));
    if (written < 0 || static_cast<size_t>(written) >= sizeof temporary) {
        std::fprintf(stderr, "%s: output path too long: %s\n", tool, path);
        return -1;
    }
    int file = open(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (file < 0) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, path, std::strerror(errno));
        return -1;
    }
    int result = copySavedDocument(pdf, file);
    int error = errno;
    if (close(file) != 0 && result == 0) {
        result = -1;
        error = errno;
    }
    if (result == 0 && std::rename(temporary, path) != 0) {
        result = -1;
        error = errno;
    }
    if (result != 0) {
        std::remove(temporary);
        std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, path, std::strerror(error));
    }
    // Reading the stream to its end reports its end as an error.
    HPDF_ResetError(pdf->doc);
    pdf->error = 0;
    return result;
}

int copyPdfBytes(PdfPages* pdf, unsigned char** bytes, uint32_t* size)
{
    uint32_t total = 0;
    if (measurePdf(pdf, &total) != 0) {
        return -1;
    }
    unsigned char* copy = static_cast<unsigned char*>(std::malloc(total > 0 ? total : 1));
    if (copy == nullptr) {
        return -1;
    }
    HPDF_ResetStream(pdf->doc);
    uint32_t filled = 0;
    while (filled < total) {
        HPDF_UINT32 got = total - filled;
        HPDF_STATUS status = HPDF_ReadFromStream(pdf->doc, copy + filled, &got);
        filled += got;
        if (got == 0 || (status != HPDF_OK && status != HPDF_STREAM_EOF)) {
            break;
        }
    }
    // Reading the stream to its end reports its end as an error.
    HPDF_ResetError(pdf->doc);
    pdf->error = 0;
    if (filled != total) {
        std::free(copy);
        return -1;
    }
    *bytes = copy;
    *size = total;
    return 0;
}

void discardPdfPages(PdfPages* pdf)
{
    if (pdf == nullptr) {
        return;
    }
    tracePageSurface(pdf->surface, nullptr);
    HPDF_Free(pdf->doc);
    std::free(pdf);
}
