// The drawing surface over GDI.
//
// A surface is a device context and what must be put back into it before it
// goes: the bitmap a fresh memory context held, for off-screen surfaces.
// Whether the context itself is deleted depends on who made it: a window's
// context belongs to the window code, a printer's to its surface, a memory
// context to its bitmap surface.
//
// Off-screen bitmaps are monochrome device-dependent bitmaps, the kind
// CreateCompatibleBitmap() gives for a fresh memory context. Copied onto a
// printer or a window, GDI draws their 0 bits in the destination's text
// colour and their 1 bits in its background colour, black and white by
// default; so in these bitmaps a set bit is white, the opposite of a decoded
// image. createImageBitmap() therefore inverts the decoded rows as it copies
// them.
//
// Wine's PostScript driver scales a downloaded TrueType font by the height
// the font was created with, not by the height GDI chose for it, so a font
// created with height 0 goes out with the font matrix [0 0 0 0 0 0] and the
// printer's interpreter gives up at the first character (ghostscript:
// undefinedresult in glyphshow), so the page prints blank. See
// chooseCourier() for how the default-sized font avoids that, and for how
// text stays monospaced and readable on paper.
//
// A damaged image header can describe a bitmap of 65535 x 65535 pixels (half
// a gigabyte) of which the file holds a few bytes. The rows the data never
// reached are white, so an image bitmap holds only the rows above them
// (blankFromRow) and stretchCopy() whitens the destination rows the rest
// would cover: an image costs what its data holds, whatever size the header
// claims.
#include "render/gdi_surface.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>

#include "render/readable_text.h"

struct DrawSurface {
    HDC dc;
    bool ownsContext;        // a printer context: deleted with the surface
    HGDIOBJ replacedBitmap;  // a bitmap surface: what the fresh context held; else nullptr
    int bitmapWidth;         // a bitmap surface: the selected bitmap's size
    int bitmapHeight;
    int bitmapBlankFromRow;  // a bitmap surface: rows from here down are white and not held
};

struct SurfaceBitmap {
    HBITMAP handle;
    int width;   // as asked for; 0 if the bitmap is empty that way
    int height;
    int blankFromRow;  // the handle holds the rows above this one (height: all of them)
};

struct SurfaceFont {
    HFONT font;
    HGDIOBJ previous;
};

static DrawSurface* newSurface(HDC dc, bool ownsContext)
{
    DrawSurface* surface = new (std::nothrow) DrawSurface();
    if (surface) {
        surface->dc = dc;
        surface->ownsContext = ownsContext;
    }
    return surface;
}

DrawSurface* wrapDeviceContext(HDC dc)
{
    if (!dc) {
        return nullptr;
    }
    return newSurface(dc, false);
}

void unwrapDeviceContext(DrawSurface* surface)
{
    if (!surface) {
        return;
    }
    assert(!surface->ownsContext && !surface->replacedBitmap);
    delete surface;
}

DrawSurface* createPrinterSurface(const char* printerName)
{
    HDC dc = CreateDCA(nullptr, printerName, nullptr, nullptr);
    if (!dc) {
        return nullptr;
    }
    return adoptPrinterDeviceContext(dc);
}

DrawSurface* adoptPrinterDeviceContext(HDC dc)
{
    if (!dc) {
        return nullptr;
    }
    DrawSurface* surface = newSurface(dc, true);
    if (!surface) {
        DeleteDC(dc);
    }
    return surface;
}

void destroyPrinterSurface(DrawSurface* surface)
{
    if (!surface) {
        return;
    }
    assert(surface->ownsContext);
    DeleteDC(surface->dc);
    delete surface;
}

int startPrintDocument(DrawSurface* surface)
{
    if (!surface) {
        return -1;
    }
    DOCINFOA document = {};
    document.cbSize = sizeof document;
    document.lpszDocName = "";
    if (StartDocA(surface->dc, &document) <= 0) {
        return -1;
    }
    return 0;
}

int startPrintPage(DrawSurface* surface)
{
    // StartPage reports failure with the negative SP_ codes (SP_ERROR and
    // kin); nothing else stops the page.
    if (!surface || StartPage(surface->dc) < 0) {
        return -1;
    }
    return 0;
}

int endPrintPage(DrawSurface* surface)
{
    if (!surface || EndPage(surface->dc) <= 0) {
        return -1;
    }
    return 0;
}

int endPrintDocument(DrawSurface* surface)
{
    if (!surface || EndDoc(surface->dc) <= 0) {
        return -1;
    }
    return 0;
}

int abortPrintDocument(DrawSurface* surface)
{
    if (!surface || AbortDoc(surface->dc) <= 0) {
        return -1;
    }
    return 0;
}

int setPrintAbortProcedure(DrawSurface* surface, ABORTPROC procedure)
{
    if (!surface || SetAbortProc(surface->dc, procedure) <= 0) {
        return -1;
    }
    return 0;
}

HDC surfaceDeviceContext(DrawSurface* surface)
{
    return surface->dc;
}

void surfaceArea(DrawSurface* surface, int* width, int* height)
{
    *width = GetDeviceCaps(surface->dc, HORZRES);
    *height = GetDeviceCaps(surface->dc, VERTRES);
}

void surfaceDpi(DrawSurface* surface, int* dpiX, int* dpiY)
{
    *dpiX = GetDeviceCaps(surface->dc, LOGPIXELSX);
    *dpiY = GetDeviceCaps(surface->dc, LOGPIXELSY);
}

void surfacePhysicalOffset(DrawSurface* surface, int* x, int* y)
{
    *x = GetDeviceCaps(surface->dc, PHYSICALOFFSETX);
    *y = GetDeviceCaps(surface->dc, PHYSICALOFFSETY);
}

void fillWhite(DrawSurface* surface, int x, int y, int width, int height)
{
    PatBlt(surface->dc, x, y, width, height, WHITENESS);
}

int currentTextHeight(DrawSurface* surface)
{
    TEXTMETRICA metrics;
    if (!GetTextMetricsA(surface->dc, &metrics)) {
        return 0;
    }
    return metrics.tmHeight;
}

// Height 0 leaves the size to the device; a positive height asks for that
// cell height, a negative one for that character height.
static HFONT createCourier(int height, BYTE pitchAndFamily)
{
    return CreateFontA(height, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, pitchAndFamily, "Courier");
}

// The metrics of "Courier" made with that height and pitch, selected into
// the context; false if it can't be had. The font is gone again on return
// and the context has its previous font back.
static bool measureCourier(HDC dc, int height, BYTE pitchAndFamily, TEXTMETRICA* metrics)
{
    HFONT probe = createCourier(height, pitchAndFamily);
    if (!probe) {
        return false;
    }
    bool measured = false;
    HGDIOBJ previous = SelectObject(dc, probe);
    if (previous) {
        measured = GetTextMetricsA(dc, metrics) != FALSE;
        SelectObject(dc, previous);
    }
    DeleteObject(probe);
    return measured;
}

// TMPF_FIXED_PITCH is named for the opposite of what it means: the bit is
// set for a font of variable pitch.
static bool isVariablePitch(const TEXTMETRICA& metrics)
{
    return (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) != 0;
}

// How "Courier" is asked for: the height and pitch CreateFontA() is given.
struct CourierRequest {
    int height;
    BYTE pitchAndFamily;
};

// The font wanted is Courier at the device's default size, which is what
// height 0 asks for, with three mends:
// - Wine's PostScript driver prints a height-0 font at size zero (see the top
//   of this file). So the default size is measured first, and the font is
//   made again at that cell height: GDI matches a positive height against
//   the cell height, so Windows picks the same font at the same size, and
//   Wine's driver has a real size to print at.
// - Where no font is called "Courier" (Wine without our font replacement, or
//   a printer on Windows 10 or 11, which has Courier only as a screen font),
//   the mapper may give a proportional face and the hand-held's columns no
//   longer line up; then a fixed-pitch modern face is asked for instead, at
//   the same height.
// - A default too small to read on paper is made at 12 points, within the
//   line advance (render/readable_text.h). lineAdvance is the cell of the
//   font selected before this one, the page's own.
// If the default can't be measured, height 0 is still the best request there
// is.
static CourierRequest chooseCourier(HDC dc, int lineAdvance)
{
    CourierRequest request = {0, DEFAULT_PITCH | FF_DONTCARE};
    TEXTMETRICA standard;
    if (!measureCourier(dc, 0, request.pitchAndFamily, &standard) || standard.tmHeight <= 0) {
        return request;
    }
    request.height = standard.tmHeight;
    if (isVariablePitch(standard)) {
        request.pitchAndFamily = FIXED_PITCH | FF_MODERN;
    }
    int characterHeight = standard.tmHeight - standard.tmInternalLeading;
    int readable = readableCharacterHeight(characterHeight, GetDeviceCaps(dc, LOGPIXELSY));
    TEXTMETRICA larger;
    if (readable != characterHeight && measureCourier(dc, -readable, request.pitchAndFamily, &larger)) {
        int cell = cellWithinLineAdvance(larger.tmHeight, standard.tmHeight, lineAdvance);
        request.height = cell == larger.tmHeight ? -readable : cell;
    }
    return request;
}

SurfaceFont* selectMonospacedFont(DrawSurface* surface)
{
    SurfaceFont* selected = new (std::nothrow) SurfaceFont();
    if (!selected) {
        return nullptr;
    }
    CourierRequest request = chooseCourier(surface->dc, currentTextHeight(surface));
    selected->font = createCourier(request.height, request.pitchAndFamily);
    if (!selected->font) {
        delete selected;
        return nullptr;
    }
    selected->previous = SelectObject(surface->dc, selected->font);
    if (!selected->previous) {
        DeleteObject(selected->font);
        delete selected;
        return nullptr;
    }
    return selected;
}

void restoreFont(DrawSurface* surface, SurfaceFont* font)
{
    if (!font) {
        return;
    }
    SelectObject(surface->dc, font->previous);
    DeleteObject(font->font);
    delete font;
}

void drawText(DrawSurface* surface, int x, int y, const char* characters, int count)
{
    TextOutA(surface->dc, x, y, characters, count);
}

void setBlackPixel(DrawSurface* surface, int x, int y)
{
    SetPixel(surface->dc, x, y, RGB(0, 0, 0));
}

// The bitmap selected into a memory context, or -1 if there is none to
// measure.
static int selectedBitmapSize(HDC dc, int* width, int* height)
{
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    BITMAP info;
    if (!bitmap || GetObjectA(bitmap, sizeof info, &info) == 0) {
        return -1;
    }
    *width = info.bmWidth;
    *height = info.bmHeight;
    return 0;
}

// What a source surface holds. GetDeviceCaps() describes the device a memory
// context is compatible with (the screen), not its bitmap, so an off-screen
// surface is measured by its bitmap.
static void sourceSize(DrawSurface* source, int* width, int* height)
{
    if (source->replacedBitmap) {
        *width = source->bitmapWidth;
        *height = source->bitmapHeight;
        return;
    }
    if (GetObjectType(source->dc) == OBJ_MEMDC && selectedBitmapSize(source->dc, width, height) == 0) {
        return;
    }
    surfaceArea(source, width, height);
}

// The rows at the top of a source that it really holds: all of them, except
// for an image bitmap whose data ended early.
static int heldSourceRows(DrawSurface* source, int sourceHeight)
{
    if (source->replacedBitmap && source->bitmapBlankFromRow < sourceHeight) {
        return source->bitmapBlankFromRow;
    }
    return sourceHeight;
}

// The stretching mode is left at the context's default, BLACKONWHITE, which
// ANDs the pixels it merges: shrinking keeps thin black lines.
//
// A source whose bottom rows are white and not held is stretched in two
// parts: the held rows onto the destination rows they map to (rounded up, so
// a shrunk last row keeps its black), and white below. Whole images take one
// StretchBlt, as before.
void stretchCopy(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source)
{
    int sourceWidth = 0;
    int sourceHeight = 0;
    sourceSize(source, &sourceWidth, &sourceHeight);
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        return;
    }
    int heldRows = heldSourceRows(source, sourceHeight);
    if (heldRows == sourceHeight) {
        StretchBlt(destination->dc, x, y, width, height, source->dc, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
        return;
    }
    if (width <= 0 || height <= 0) {
        return;
    }
    int64_t scaled = (static_cast<int64_t>(heldRows) * height + sourceHeight - 1) / sourceHeight;
    int heldHeight = static_cast<int>(scaled);
    if (heldRows > 0) {
        StretchBlt(destination->dc, x, y, width, heldHeight, source->dc, 0, 0, sourceWidth, heldRows, SRCCOPY);
    }
    PatBlt(destination->dc, x, y + heldHeight, width, height - heldHeight, WHITENESS);
}

void copyUnscaled(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source)
{
    BitBlt(destination->dc, x, y, width, height, source->dc, 0, 0, SRCCOPY);
}

static SurfaceBitmap* wrapBitmap(HBITMAP handle, int width, int height)
{
    if (!handle) {
        return nullptr;
    }
    SurfaceBitmap* bitmap = new (std::nothrow) SurfaceBitmap();
    if (!bitmap) {
        DeleteObject(handle);
        return nullptr;
    }
    bitmap->handle = handle;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->blankFromRow = height;
    return bitmap;
}

// For a zero width or height GDI hands out its shared stock 1 x 1 bitmap,
// which every fresh memory context holds; drawing into that would change
// them all. An empty bitmap gets a private pixel instead, and keeps its
// empty size, so copying from it draws nothing.
SurfaceBitmap* createSurfaceBitmap(int width, int height)
{
    if (width < 0 || height < 0) {
        return nullptr;
    }
    HDC fresh = CreateCompatibleDC(nullptr);
    if (!fresh) {
        return nullptr;
    }
    HBITMAP handle = CreateCompatibleBitmap(fresh, width > 0 ? width : 1, height > 0 ? height : 1);
    DeleteDC(fresh);
    return wrapBitmap(handle, width, height);
}

// Rows of a monochrome device-dependent bitmap are padded to whole 16-bit
// words.
static size_t monochromeRowBytes(int width)
{
    return (static_cast<size_t>(width) + 15) / 16 * 2;
}

// Copies the first rowCount decoded rows into bitmap rows of rowBytes each,
// inverted: a set (black) image bit becomes a 0 bitmap bit. Without decoded
// bits the image is all white. The bits past the width are white padding.
static void fillMonochromeRows(const ImageBits& image, int rowCount, unsigned char* rows, size_t rowBytes)
{
    if (!image.bits) {
        memset(rows, 0xFF, rowBytes * static_cast<size_t>(rowCount));
        return;
    }
    size_t imageRowBytes = (static_cast<size_t>(image.width) + 7) / 8;
    assert(static_cast<size_t>(image.rowBytes) >= imageRowBytes);
    for (int y = 0; y < rowCount; ++y) {
        const unsigned char* from = image.bits + static_cast<size_t>(y) * static_cast<size_t>(image.rowBytes);
        unsigned char* to = rows + static_cast<size_t>(y) * rowBytes;
        for (size_t i = 0; i < imageRowBytes; ++i) {
            to[i] = static_cast<unsigned char>(~from[i]);
        }
        memset(to + imageRowBytes, 0xFF, rowBytes - imageRowBytes);
    }
}

// The result is the same kind of bitmap as createSurfaceBitmap() makes (a
// fresh memory context's compatible bitmap is a plain 1-plane, 1-bit
// bitmap), so GDI copies both alike onto any device. Only the rows the data
// reached are made (at least one, white if none was reached).
SurfaceBitmap* createImageBitmap(const ImageBits& image)
{
    if (image.width <= 0 || image.height <= 0) {
        return createSurfaceBitmap(image.width, image.height);
    }
    int reached = image.height - image.unreachedRows;
    reached = reached < 0 ? 0 : reached > image.height ? image.height : reached;
    int madeRows = reached > 0 ? reached : 1;
    size_t rowBytes = monochromeRowBytes(image.width);
    if (rowBytes > SIZE_MAX / static_cast<size_t>(madeRows)) {
        return nullptr;
    }
    unsigned char* rows = new (std::nothrow) unsigned char[rowBytes * static_cast<size_t>(madeRows)];
    if (!rows) {
        return nullptr;
    }
    fillMonochromeRows(image, madeRows, rows, rowBytes);
    HBITMAP handle = CreateBitmap(image.width, madeRows, 1, 1, rows);
    delete[] rows;
    SurfaceBitmap* bitmap = wrapBitmap(handle, image.width, image.height);
    if (bitmap) {
        bitmap->blankFromRow = reached;
    }
    return bitmap;
}

void destroySurfaceBitmap(SurfaceBitmap* bitmap)
{
    if (!bitmap) {
        return;
    }
    DeleteObject(bitmap->handle);
    delete bitmap;
}

DrawSurface* openBitmapSurface(SurfaceBitmap* bitmap)
{
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) {
        return nullptr;
    }
    DrawSurface* surface = newSurface(dc, false);
    if (!surface) {
        DeleteDC(dc);
        return nullptr;
    }
    // Fails if the bitmap is still selected into another surface.
    surface->replacedBitmap = SelectObject(dc, bitmap->handle);
    if (!surface->replacedBitmap) {
        DeleteDC(dc);
        delete surface;
        return nullptr;
    }
    surface->bitmapWidth = bitmap->width;
    surface->bitmapHeight = bitmap->height;
    surface->bitmapBlankFromRow = bitmap->blankFromRow;
    return surface;
}

void closeBitmapSurface(DrawSurface* surface)
{
    if (!surface) {
        return;
    }
    assert(surface->replacedBitmap);
    SelectObject(surface->dc, surface->replacedBitmap);
    DeleteDC(surface->dc);
    delete surface;
}
