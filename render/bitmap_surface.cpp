// The software surface: GDI's drawing model over a 1-bit bitmap in memory.
//
// Pixels. A bitmap holds rows of (width + 7) / 8 bytes, the leftmost pixel in
// the most significant bit, a set bit black. Every write is clipped to the
// bitmap, so the padding bits past the width stay 0 and a row compares as
// bytes. Bitmaps are capped at 1 GiB (maxBitmapBytes): that lets the largest
// image a spool file can describe (65535 x 65535, 512 MiB) through and any
// real page, and turns absurd sizes (a 100000 x 100000 page) into "can't be
// had" before the allocator is asked.
// A bitmap of width or height 0 is a valid, empty bitmap.
//
// Fonts. Cell sizes are scaled from 96 pixels per inch to the surface's
// resolution by rounding to the nearest pixel (halves up), never below one
// pixel, like MulDiv() does for GDI's own font sizes. The monospaced cell is
// 9 x 15 pixels at 96, so 28 x 47 at 300 and 56 x 94 at 600; the default
// font's cell is 16 pixels high at 96 (50 at 300, 100 at 600) and as wide as
// the monospaced one. The monospaced height goes through the same
// readable-text rule as a printer's Courier (render/readable_text.h); being
// 11 1/4 points at any resolution, the font passes it unchanged, and its
// width stays the font's own. A glyph is spread over its cell by nearest
// neighbour: cell pixel (column, row) shows glyph pixel (column * 9 / cellWidth,
// row * 15 / cellHeight), which covers every glyph pixel and never reads
// outside the glyph. Like GDI's default opaque background mode, a character's
// cell turns white before its ink is drawn.
//
// Stretching. GDI's default mode (BLACKONWHITE) keeps black when shrinking:
// the source pixels that merge into one destination pixel are combined with
// AND of their colour values, so a single black one makes the result black.
// Which source pixel lands where follows Wine's DIB engine (win32u dibdrv,
// calc_1d_stretch_params and stretch_bitmapinfo), the GDI the program meets
// on Linux, so a page looks the same whichever surface drew it. Each axis is
// walked like a Bresenham line, source positions along one side and
// destination positions along the other. On an axis that grows (or keeps its
// size), every step writes the next destination pixel and moves to the next
// source pixel when the error term says so; on an axis that shrinks, every
// step reads the next source pixel into the current destination pixel. The
// error starts at 3 dy - 2 dx rather than a line's 2 dy - dx, so a shrunk
// destination pixel is fed by the source pixels whose centres fall in it, and
// an enlarged one takes the source pixel under its own centre.
// Wine clips the line with an exact Bresenham clipper, so walking the whole
// line and writing only what lies on the surface gives its pixels.
//
// Two of GDI's quirks show in the result and are kept: a destination one
// pixel wide (or high) reads one source pixel less on that axis, and when
// that makes the sizes equal GDI copies instead of stretching, starting where
// it had narrowed the source to what the visible destination maps back to,
// less one pixel (so a copy cut off at the top starts a row early). Negative
// destination sizes, which GDI would mirror, draw nothing: the program never
// asks for them. Positions are taken in 64 bits, so extreme sizes where
// Wine's 32-bit arithmetic overflows may differ from it; reaching the visible
// part of a destination that starts far off the surface takes a step per
// pixel skipped.
//
// Cost. A stretch reads only the source pixels that land on the surface, but
// when shrinking those can be every pixel of the source, and a damaged image
// header can describe 65535 x 65535 pixels (4 billion) of which the file
// holds a few bytes. An image bitmap therefore remembers where the rows its
// data never reached begin (blankFromRow): building it copies only the rows
// above, and stretching whitens what a blank row would whiten without
// walking its pixels. A stretch then costs the rows the data reached plus
// the visible area, whatever size the header claims.
#include "render/bitmap_surface.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "render/mono_font.h"
#include "render/readable_text.h"

struct SurfaceBitmap {
    unsigned char* pixels;  // nullptr for an empty bitmap
    int width;
    int height;
    int rowBytes;
    int blankFromRow;  // rows from here down are known to be white (height: none are)
};

enum SurfaceFontChoice { defaultFont, monospacedFont };

struct SurfaceFont {
    SurfaceFontChoice replaced;  // what restoreFont() puts back
    int replacedHeight;
};

struct DrawSurface {
    SurfaceBitmap* bitmap;  // where drawing lands
    bool ownsBitmap;        // a page surface's own pixels; not an opened bitmap's
    int dpiX;
    int dpiY;
    int offsetX;
    int offsetY;
    SurfaceFontChoice font;
    int monospacedHeight;   // the monospaced cell's height while it is selected
    const PageTrace* trace;  // nullptr: nobody listens
};

namespace {

const size_t maxBitmapBytes = static_cast<size_t>(1) << 30;

const int referenceDpi = 96;       // font sizes are given at this resolution
const int memoryDpi = 96;          // GDI's memory surfaces report the screen's
const int defaultTextHeight = 16;  // at referenceDpi, like the screen's system font

// ---------------------------------------------------------------------------
// Bits of a row

bool rowPixel(const unsigned char* row, int x)
{
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void setRowPixel(unsigned char* row, int x, bool black)
{
    unsigned char mask = static_cast<unsigned char>(0x80 >> (x & 7));
    if (black) {
        row[x >> 3] |= mask;
    } else {
        row[x >> 3] &= static_cast<unsigned char>(~mask);
    }
}

// Pixels [from, to) of the row, 0 <= from < to.
void fillRowSpan(unsigned char* row, int from, int to, bool black)
{
    int firstByte = from >> 3;
    int lastByte = (to - 1) >> 3;
    unsigned char firstMask = static_cast<unsigned char>(0xFF >> (from & 7));
    unsigned char lastMask = static_cast<unsigned char>(0xFF << (7 - ((to - 1) & 7)));
    if (firstByte == lastByte) {
        firstMask &= lastMask;
    }
    unsigned char value = black ? 0xFF : 0x00;
    row[firstByte] = static_cast<unsigned char>((row[firstByte] & ~firstMask) | (value & firstMask));
    if (firstByte == lastByte) {
        return;
    }
    if (lastByte > firstByte + 1) {
        std::memset(row + firstByte + 1, value, static_cast<size_t>(lastByte - firstByte - 1));
    }
    row[lastByte] = static_cast<unsigned char>((row[lastByte] & ~lastMask) | (value & lastMask));
}

// The 8 pixels of a row starting at pixel x, as one byte; pixels past the
// row's bytes read as white.
unsigned char rowByteAt(const unsigned char* row, int rowBytes, int x)
{
    int byte = x >> 3;
    int shift = x & 7;
    if (shift == 0) {
        return row[byte];
    }
    unsigned int pair = static_cast<unsigned int>(row[byte]) << 8;
    if (byte + 1 < rowBytes) {
        pair |= row[byte + 1];
    }
    return static_cast<unsigned char>(pair >> (8 - shift));
}

// Copies count pixels from source pixel sourceX on to destination pixel
// destinationX on, a byte of the destination at a time.
void copyRowSpan(unsigned char* destination, int destinationX,
                 const unsigned char* source, int sourceRowBytes, int sourceX, int count)
{
    int done = 0;
    while (done < count) {
        int x = destinationX + done;
        int bitInByte = x & 7;
        int take = 8 - bitInByte;
        if (take > count - done) {
            take = count - done;
        }
        // The next `take` source pixels, aligned to where they land in the byte.
        unsigned char bits = static_cast<unsigned char>(rowByteAt(source, sourceRowBytes, sourceX + done) >> bitInByte);
        unsigned char mask = static_cast<unsigned char>((0xFF >> bitInByte) & (0xFF << (8 - bitInByte - take)));
        unsigned char* target = destination + (x >> 3);
        *target = static_cast<unsigned char>((*target & ~mask) | (bits & mask));
        done += take;
    }
}

unsigned char* bitmapRow(SurfaceBitmap* bitmap, int y)
{
    return bitmap->pixels + static_cast<size_t>(y) * static_cast<size_t>(bitmap->rowBytes);
}

// Black may now be anywhere in the bitmap: no row is known to be blank.
void markDrawnOn(SurfaceBitmap* bitmap)
{
    bitmap->blankFromRow = bitmap->height;
}

// ---------------------------------------------------------------------------
// Clipping: a span [start, start + length) against [0, limit), in 64 bits so
// no coordinate can overflow. Returns false when nothing is left.

bool clipSpan(int64_t start, int64_t length, int64_t limit, int* from, int* to)
{
    if (length <= 0) {
        return false;
    }
    int64_t low = start < 0 ? 0 : start;
    int64_t high = start + length > limit ? limit : start + length;
    if (low >= high) {
        return false;
    }
    *from = static_cast<int>(low);
    *to = static_cast<int>(high);
    return true;
}

// ---------------------------------------------------------------------------
// Fonts

int scaleFromReference(int pixels, int dpi)
{
    int64_t scaled = (static_cast<int64_t>(pixels) * dpi + referenceDpi / 2) / referenceDpi;
    if (scaled < 1) {
        return 1;
    }
    return scaled > INT_MAX ? INT_MAX : static_cast<int>(scaled);
}

// The monospaced cell at the font's own size, before the readable-text rule.
int standardMonospacedHeight(DrawSurface* surface)
{
    return scaleFromReference(monoFontCellHeight, surface->dpiY);
}

int cellWidth(DrawSurface* surface)
{
    return scaleFromReference(monoFontCellWidth, surface->dpiX);
}

int cellHeight(DrawSurface* surface)
{
    if (surface->font == monospacedFont) {
        return surface->monospacedHeight;
    }
    return scaleFromReference(defaultTextHeight, surface->dpiY);
}

// The monospaced font's height by the rule the printed page follows
// (render/readable_text.h): the glyphs have no internal leading, so the
// character height is the cell. Scaled from 15 pixels at 96 per inch the font
// is 11 1/4 points at every resolution, which the rule keeps.
int readableMonospacedHeight(DrawSurface* surface, int lineAdvance)
{
    int standard = standardMonospacedHeight(surface);
    int readable = readableCharacterHeight(standard, surface->dpiY);
    return cellWithinLineAdvance(readable, standard, lineAdvance);
}

// One character: its cell turns white, then the glyph's ink turns black.
void drawCharacter(DrawSurface* surface, int64_t left, int64_t top, int width, int height,
                   unsigned char character)
{
    int x0, x1, y0, y1;
    if (!clipSpan(left, width, surface->bitmap->width, &x0, &x1) ||
        !clipSpan(top, height, surface->bitmap->height, &y0, &y1)) {
        return;
    }
    for (int y = y0; y < y1; y++) {
        unsigned char* row = bitmapRow(surface->bitmap, y);
        fillRowSpan(row, x0, x1, false);
        int glyphRow = static_cast<int>((y - top) * monoFontCellHeight / height);
        for (int x = x0; x < x1; x++) {
            int glyphColumn = static_cast<int>((x - left) * monoFontCellWidth / width);
            if (monoFontPixel(character, glyphColumn, glyphRow)) {
                setRowPixel(row, x, true);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Stretching, one axis at a time (see the top of the file).

// Where the walk along one axis stands: the pair of pixels of the current
// step, and the error term that decides whether the next step also moves
// the other position.
struct StretchWalk {
    int64_t source;
    int64_t destination;
    int64_t stepsLeft;
    int64_t error;       // the next step moves the other position when this is > 0
    int64_t errorMoved;  // added when it did
    int64_t errorKept;   // added when it did not
    bool shrinking;      // steps move the source; otherwise the destination
    bool freshPixel;     // no earlier step has fed this destination pixel
};

StretchWalk startStretchWalk(int64_t sourceLength, int64_t destinationStart, int64_t destinationLength)
{
    int64_t dx = sourceLength, dy = destinationLength;
    StretchWalk walk;
    walk.source = 0;
    walk.destination = destinationStart;
    walk.shrinking = dx > dy;
    walk.freshPixel = true;
    if (walk.shrinking) {
        walk.stepsLeft = dx;
        walk.error = 3 * dy - 2 * dx;
        walk.errorMoved = 2 * dy - 2 * dx;
        walk.errorKept = 2 * dy;
    } else {
        walk.stepsLeft = dy;
        walk.error = 3 * dx - 2 * dy;
        walk.errorMoved = 2 * dx - 2 * dy;
        walk.errorKept = 2 * dx;
    }
    return walk;
}

void stepStretchWalk(StretchWalk* walk)
{
    bool moved = walk->error > 0;
    walk->error += moved ? walk->errorMoved : walk->errorKept;
    walk->stepsLeft--;
    if (walk->shrinking) {
        walk->source++;
        walk->destination += moved ? 1 : 0;
        walk->freshPixel = moved;
    } else {
        walk->source += moved ? 1 : 0;
        walk->destination++;
    }
}

// Walks past the destination pixels before `first`, which are off the
// surface; it lands on a fresh pixel, so nothing that falls into `first` is
// missed.
void skipStretchWalk(StretchWalk* walk, int64_t first)
{
    while (walk->stepsLeft > 0 && walk->destination < first) {
        stepStretchWalk(walk);
    }
}

// The top left of the source pixels that the visible destination
// [visibleLow, ...) maps back to, widened by a pixel against rounding, as
// GDI works it out before stretching.
int64_t narrowedSourceStart(int64_t destinationStart, int64_t destinationLength, int visibleLow,
                            int64_t sourceLength)
{
    int64_t start = (visibleLow - destinationStart) * sourceLength / destinationLength - 1;
    return start < 0 ? 0 : start;
}

// One destination row from one source row, along the horizontal walk
// `across` (already at the first visible column), up to column `end`. When
// merging, black already in the row stays; otherwise each destination pixel
// starts white. Either way, any black source pixel falling into a
// destination pixel makes it black.
void stretchRow(unsigned char* destination, const SurfaceBitmap* source, int sourceY, StretchWalk across,
                int end, bool merging)
{
    const unsigned char* sourceRow = source->pixels + static_cast<size_t>(sourceY) * source->rowBytes;
    while (across.stepsLeft > 0 && across.destination < end) {
        bool black = across.source < source->width && rowPixel(sourceRow, static_cast<int>(across.source));
        int x = static_cast<int>(across.destination);
        if (across.freshPixel && !merging) {
            setRowPixel(destination, x, black);
        } else if (black) {
            setRowPixel(destination, x, true);
        }
        stepStretchWalk(&across);
    }
}

// The column after the last one that stretchRow() writes with this walk:
// `end`, or less where the walk runs out of steps first.
int rowWalkEnd(StretchWalk across, int end)
{
    int64_t last = across.destination - 1;
    while (across.stepsLeft > 0 && across.destination < end) {
        last = across.destination;
        stepStretchWalk(&across);
    }
    return static_cast<int>(last + 1);
}

// Walks the vertical axis, feeding each source row it passes to the
// destination row it lands on; rows that merge keep their black. A row that
// repeats the source row of the one above is copied from it. A blank source
// row turns a fresh destination row white where stretchRow() would write,
// and adds nothing to a row it merges into.
void stretchRows(SurfaceBitmap* destination, const SurfaceBitmap* source, StretchWalk across, int x1,
                 StretchWalk down, int y1)
{
    const unsigned char* previousRow = nullptr;
    int64_t previousSource = -1;
    int x0 = static_cast<int>(across.destination);
    int blankEnd = rowWalkEnd(across, x1);
    while (down.stepsLeft > 0 && down.destination < y1 && down.source < source->height) {
        unsigned char* row = bitmapRow(destination, static_cast<int>(down.destination));
        if (down.source == previousSource) {
            copyRowSpan(row, x0, previousRow, destination->rowBytes, x0, x1 - x0);
        } else if (down.source >= source->blankFromRow) {
            if (down.freshPixel && x0 < blankEnd) {
                fillRowSpan(row, x0, blankEnd, false);
            }
        } else {
            stretchRow(row, source, static_cast<int>(down.source), across, x1, !down.freshPixel);
        }
        previousRow = row;
        previousSource = down.source;
        stepStretchWalk(&down);
    }
}

// Copies source pixels from (sourceX, sourceY) on, both >= 0, into the
// destination rectangle [x0, x1) x [y0, y1). Where the source runs out first,
// the destination is left alone, as GDI leaves it.
void copyRectangle(SurfaceBitmap* destination, int x0, int x1, int y0, int y1,
                   SurfaceBitmap* source, int64_t sourceX, int64_t sourceY)
{
    int64_t width = x1 - x0;
    int64_t height = y1 - y0;
    if (sourceX + width > source->width) {
        width = source->width - sourceX;
    }
    if (sourceY + height > source->height) {
        height = source->height - sourceY;
    }
    for (int64_t row = 0; row < height; row++) {
        const unsigned char* sourceRow = bitmapRow(source, static_cast<int>(sourceY + row));
        copyRowSpan(bitmapRow(destination, static_cast<int>(y0 + row)), x0, sourceRow, source->rowBytes,
                    static_cast<int>(sourceX), static_cast<int>(width));
    }
}

// ---------------------------------------------------------------------------
// Surfaces

DrawSurface* newSurface(SurfaceBitmap* bitmap, bool ownsBitmap, int dpiX, int dpiY, int offsetX, int offsetY)
{
    DrawSurface* surface = static_cast<DrawSurface*>(std::calloc(1, sizeof(DrawSurface)));
    if (surface == nullptr) {
        return nullptr;
    }
    surface->bitmap = bitmap;
    surface->ownsBitmap = ownsBitmap;
    surface->dpiX = dpiX;
    surface->dpiY = dpiY;
    surface->offsetX = offsetX;
    surface->offsetY = offsetY;
    surface->font = defaultFont;
    return surface;
}

void releaseSurface(DrawSurface* surface)
{
    if (surface == nullptr) {
        return;
    }
    if (surface->ownsBitmap) {
        destroySurfaceBitmap(surface->bitmap);
    }
    std::free(surface);
}

}  // namespace

// ---------------------------------------------------------------------------
// Bitmaps

SurfaceBitmap* createSurfaceBitmap(int width, int height)
{
    if (width < 0 || height < 0) {
        return nullptr;
    }
    size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    if (height > 0 && rowBytes > maxBitmapBytes / static_cast<size_t>(height)) {
        return nullptr;
    }
    SurfaceBitmap* bitmap = static_cast<SurfaceBitmap*>(std::calloc(1, sizeof(SurfaceBitmap)));
    if (bitmap == nullptr) {
        return nullptr;
    }
    size_t size = rowBytes * static_cast<size_t>(height);
    if (size > 0) {
        bitmap->pixels = static_cast<unsigned char*>(std::calloc(size, 1));
        if (bitmap->pixels == nullptr) {
            std::free(bitmap);
            return nullptr;
        }
    }
    bitmap->width = width;
    bitmap->height = height;
    bitmap->rowBytes = static_cast<int>(rowBytes);
    bitmap->blankFromRow = height;
    return bitmap;
}

SurfaceBitmap* createImageBitmap(const ImageBits& bits)
{
    int rowBytes = (bits.width + 7) / 8;
    bool empty = bits.width == 0 || bits.height == 0;
    if (!empty && (bits.bits == nullptr || bits.rowBytes < rowBytes)) {
        return nullptr;
    }
    SurfaceBitmap* bitmap = createSurfaceBitmap(bits.width, bits.height);
    if (bitmap == nullptr || empty) {
        return bitmap;
    }
    // The rows the data never reached are white already, and stay untouched.
    int reached = bits.height - bits.unreachedRows;
    bitmap->blankFromRow = reached < 0 ? 0 : reached > bits.height ? bits.height : reached;
    // Bits past the width in a row's last byte are not part of the image.
    unsigned char lastMask = static_cast<unsigned char>(0xFF << ((8 - bits.width % 8) % 8));
    for (int y = 0; y < bitmap->blankFromRow; y++) {
        unsigned char* row = bitmapRow(bitmap, y);
        std::memcpy(row, bits.bits + static_cast<size_t>(y) * static_cast<size_t>(bits.rowBytes),
                    static_cast<size_t>(rowBytes));
        row[rowBytes - 1] &= lastMask;
    }
    return bitmap;
}

void destroySurfaceBitmap(SurfaceBitmap* bitmap)
{
    if (bitmap == nullptr) {
        return;
    }
    std::free(bitmap->pixels);
    std::free(bitmap);
}

DrawSurface* openBitmapSurface(SurfaceBitmap* bitmap)
{
    if (bitmap == nullptr) {
        return nullptr;
    }
    return newSurface(bitmap, false, memoryDpi, memoryDpi, 0, 0);
}

void closeBitmapSurface(DrawSurface* surface)
{
    releaseSurface(surface);
}

// A resolution below 1 pixel per inch gives nullptr: nothing could be
// measured on such a page.
DrawSurface* createPageSurface(int width, int height, int dpiX, int dpiY, int offsetX, int offsetY)
{
    if (dpiX < 1 || dpiY < 1) {
        return nullptr;
    }
    SurfaceBitmap* bitmap = createSurfaceBitmap(width, height);
    if (bitmap == nullptr) {
        return nullptr;
    }
    DrawSurface* surface = newSurface(bitmap, true, dpiX, dpiY, offsetX, offsetY);
    if (surface == nullptr) {
        destroySurfaceBitmap(bitmap);
    }
    return surface;
}

void destroyPageSurface(DrawSurface* surface)
{
    releaseSurface(surface);
}

// ---------------------------------------------------------------------------
// Measures

void surfaceArea(DrawSurface* surface, int* width, int* height)
{
    *width = surface->bitmap->width;
    *height = surface->bitmap->height;
}

void surfaceDpi(DrawSurface* surface, int* dpiX, int* dpiY)
{
    *dpiX = surface->dpiX;
    *dpiY = surface->dpiY;
}

void surfacePhysicalOffset(DrawSurface* surface, int* x, int* y)
{
    *x = surface->offsetX;
    *y = surface->offsetY;
}

bool isBlackPixel(DrawSurface* surface, int x, int y)
{
    SurfaceBitmap* bitmap = surface->bitmap;
    if (x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) {
        return false;
    }
    return rowPixel(bitmapRow(bitmap, y), x);
}

int surfaceRowBytes(DrawSurface* surface)
{
    return surface->bitmap->rowBytes;
}

const unsigned char* surfaceRow(DrawSurface* surface, int y)
{
    if (y < 0 || y >= surface->bitmap->height) {
        return nullptr;
    }
    return bitmapRow(surface->bitmap, y);
}

// ---------------------------------------------------------------------------
// Drawing

void fillWhite(DrawSurface* surface, int x, int y, int width, int height)
{
    int x0, x1, y0, y1;
    if (!clipSpan(x, width, surface->bitmap->width, &x0, &x1) ||
        !clipSpan(y, height, surface->bitmap->height, &y0, &y1)) {
        return;
    }
    for (int row = y0; row < y1; row++) {
        fillRowSpan(bitmapRow(surface->bitmap, row), x0, x1, false);
    }
}

void setBlackPixel(DrawSurface* surface, int x, int y)
{
    SurfaceBitmap* bitmap = surface->bitmap;
    if (x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) {
        return;
    }
    markDrawnOn(bitmap);
    setRowPixel(bitmapRow(bitmap, y), x, true);
}

int currentTextHeight(DrawSurface* surface)
{
    return cellHeight(surface);
}

SurfaceFont* selectMonospacedFont(DrawSurface* surface)
{
    SurfaceFont* font = static_cast<SurfaceFont*>(std::malloc(sizeof(SurfaceFont)));
    if (font == nullptr) {
        return nullptr;
    }
    font->replaced = surface->font;
    font->replacedHeight = surface->monospacedHeight;
    surface->monospacedHeight = readableMonospacedHeight(surface, cellHeight(surface));
    surface->font = monospacedFont;
    return font;
}

void restoreFont(DrawSurface* surface, SurfaceFont* font)
{
    if (font == nullptr) {
        return;
    }
    surface->font = font->replaced;
    surface->monospacedHeight = font->replacedHeight;
    std::free(font);
}

void drawText(DrawSurface* surface, int x, int y, const char* characters, int count)
{
    if (characters == nullptr || count <= 0) {
        return;
    }
    int width = cellWidth(surface);
    int height = cellHeight(surface);
    if (surface->trace != nullptr && surface->trace->onText != nullptr) {
        surface->trace->onText(surface->trace->context, x, y, width, height, characters, count);
    }
    markDrawnOn(surface->bitmap);
    for (int i = 0; i < count; i++) {
        int64_t left = x + static_cast<int64_t>(i) * width;
        if (left >= surface->bitmap->width) {
            return;  // every later cell lies further right
        }
        drawCharacter(surface, left, y, width, height, static_cast<unsigned char>(characters[i]));
    }
}

void copyUnscaled(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source)
{
    int x0, x1, y0, y1;
    if (!clipSpan(x, width, destination->bitmap->width, &x0, &x1) ||
        !clipSpan(y, height, destination->bitmap->height, &y0, &y1)) {
        return;
    }
    markDrawnOn(destination->bitmap);
    copyRectangle(destination->bitmap, x0, x1, y0, y1, source->bitmap, x0 - static_cast<int64_t>(x),
                  y0 - static_cast<int64_t>(y));
}

namespace {

void stretchBitmap(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source)
{
    SurfaceBitmap* target = destination->bitmap;
    SurfaceBitmap* image = source->bitmap;
    int x0, x1, y0, y1;
    if (image->width <= 0 || image->height <= 0 || !clipSpan(x, width, target->width, &x0, &x1) ||
        !clipSpan(y, height, target->height, &y0, &y1)) {
        return;
    }
    markDrawnOn(target);
    if (width == image->width && height == image->height) {
        copyRectangle(target, x0, x1, y0, y1, image, x0 - static_cast<int64_t>(x), y0 - static_cast<int64_t>(y));
        return;
    }
    // A destination one pixel across reads one source pixel less; if that
    // makes the sizes equal, GDI copies from where it narrowed the source to.
    int64_t sourceWidth = width == 1 && image->width > 1 ? image->width - 1 : image->width;
    int64_t sourceHeight = height == 1 && image->height > 1 ? image->height - 1 : image->height;
    if (sourceWidth == width && sourceHeight == height) {
        copyRectangle(target, x0, x1, y0, y1, image, narrowedSourceStart(x, width, x0, image->width),
                      narrowedSourceStart(y, height, y0, image->height));
        return;
    }
    StretchWalk across = startStretchWalk(sourceWidth, x, width);
    StretchWalk down = startStretchWalk(sourceHeight, y, height);
    skipStretchWalk(&across, x0);
    skipStretchWalk(&down, y0);
    stretchRows(target, image, across, x1, down, y1);
}

}  // namespace

void stretchCopy(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source)
{
    stretchBitmap(destination, x, y, width, height, source);
    if (destination->trace != nullptr && destination->trace->onImage != nullptr) {
        destination->trace->onImage(destination->trace->context, x, y, width, height);
    }
}

void tracePageSurface(DrawSurface* surface, const PageTrace* trace)
{
    surface->trace = trace;
}
