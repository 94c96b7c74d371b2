// The page renderer. It reads records straight from the stream, one after the
// other, and draws each on every target: the surface it was given and, for
// the window's render, the screen copy.
//
// Two things about the file shape the walk. An image's bitmap is read until
// it is complete, whatever the record's size, so it may run on through the
// records after it; those records were consumed as data and are skipped. And
// a page whose first record starts before the stream's position is refused:
// that record's bytes already belonged to an earlier page.
//
// Image placement is computed in signed 32-bit arithmetic, each product
// before its division, truncating toward zero, so positions match the device
// to the pixel. A resolution of 0 would divide by zero: it is taken as the
// surface's own resolution, which draws the image unscaled.
#include "render/page_renderer.h"

#include <cstdint>

#include "spool/spool_records.h"

DisplayMode displayMode = displayStatus;
ScreenCopy screenCopy = {nullptr, 0, 0};

namespace {

// The surfaces a page is drawn on: the caller's, and the screen copy's.
struct PageTargets {
    DrawSurface* surfaces[2];
    int count;
};

// The pen and what the text lines need while a page is drawn. A measuring
// pass has no targets and notes instead where drawing would begin.
struct PageState {
    PageTargets targets;
    PagePlacement placement;
    int lineHeight;
    int penY;
    PageBounds* bounds;  // nullptr when drawing
};

// Something would be drawn with its top left at (x, y).
void noteDrawing(PageState* page, int x, int y)
{
    PageBounds* bounds = page->bounds;
    if (bounds == nullptr) {
        return;
    }
    if (!bounds->drawsAnything || x < bounds->left) {
        bounds->left = x;
    }
    if (!bounds->drawsAnything || y < bounds->top) {
        bounds->top = y;
    }
    bounds->drawsAnything = true;
}

// The pen goes no further down than this. It lies below the last row of any
// page a surface can hold (GDI's coordinates, or the software surface's
// 1 GiB bitmap), so nothing drawn past it could show; stopping there keeps a
// file of many tall records (each image moves the pen by up to twice 65535
// of its pixels, scaled up to the device) from overflowing the pen.
const int32_t penLimit = 1 << 30;

// The pen moved down by `advance` pixels from `top`.
int32_t penBelow(int32_t top, int64_t advance)
{
    int64_t y = top + advance;
    return y < penLimit ? static_cast<int32_t>(y) : penLimit;
}

int32_t scaleToDevice(int imagePixels, int deviceDpi, int imageDpi)
{
    if (imageDpi == 0) {
        imageDpi = deviceDpi;
    }
    if (imageDpi == 0) {
        return imagePixels;
    }
    // Wider than 32 bits only so that an absurd device resolution can't
    // overflow; the result is what 32-bit arithmetic gives for real devices.
    int64_t product = static_cast<int64_t>(imagePixels) * deviceDpi;
    return static_cast<int32_t>(product / imageDpi);
}

void drawLine(void* context, const char* characters, int count)
{
    PageState* page = static_cast<PageState*>(context);
    // An empty line draws no cell, so it can't be lost in a margin.
    if (count > 0) {
        noteDrawing(page, page->placement.originX, page->penY);
    }
    for (int i = 0; i < page->targets.count; i++) {
        drawText(page->targets.surfaces[i], page->placement.originX, page->penY, characters, count);
    }
    page->penY = penBelow(page->penY, page->lineHeight);
}

void drawTextRecord(PageState* page, SpoolStream* stream, int32_t recordSize)
{
    displayMode = displayTextPage;
    SurfaceFont* fonts[2] = {nullptr, nullptr};
    for (int i = 0; i < page->targets.count; i++) {
        fonts[i] = selectMonospacedFont(page->targets.surfaces[i]);
    }
    // A record with less than its two header bytes has no payload. The size
    // is whatever the record list says, down to INT32_MIN, so it is compared
    // rather than reduced by 2.
    int32_t payloadSize = recordSize > 2 ? recordSize - 2 : 0;
    splitTextLines(stream, payloadSize, drawLine, page);
    for (int i = page->targets.count - 1; i >= 0; i--) {
        restoreFont(page->targets.surfaces[i], fonts[i]);
    }
}

// The image's own bitmap, or nullptr when its buffer or bitmap can't be had
// (or it has no pixels, or none is wanted). The stream is left after the
// bitmap data consumed. A measuring pass still decodes: how far the data
// runs, which decides the records the page takes in, depends on it.
SurfaceBitmap* decodeImageBitmap(SpoolStream* stream, const ImageHeader& image, bool compressed, bool wanted)
{
    ImageBits bits;
    if (decodeImageBits(stream, image, compressed, &bits) != 0) {
        return nullptr;
    }
    SurfaceBitmap* bitmap = nullptr;
    if (bits.bits != nullptr && wanted) {
        bitmap = createImageBitmap(bits);
    }
    freeImageBits(&bits);
    return bitmap;
}

void placeImage(PageState* page, SurfaceBitmap* bitmap, int x, int y, int width, int height)
{
    DrawSurface* source = bitmap != nullptr ? openBitmapSurface(bitmap) : nullptr;
    for (int i = 0; i < page->targets.count; i++) {
        if (source != nullptr) {
            stretchCopy(page->targets.surfaces[i], x, y, width, height, source);
        } else {
            fillWhite(page->targets.surfaces[i], x, y, width, height);
        }
    }
    if (source != nullptr) {
        closeBitmapSurface(source);
    }
}

void drawImageRecord(PageState* page, SpoolStream* stream, bool compressed)
{
    displayMode = displayImagePage;
    ImageHeader image = readImageHeader(stream);
    SurfaceBitmap* bitmap = decodeImageBitmap(stream, image, compressed, page->targets.count > 0);

    const PagePlacement& at = page->placement;
    int32_t width = scaleToDevice(image.width, at.dpiX, image.xResolution);
    int32_t height = scaleToDevice(image.height, at.dpiY, image.yResolution);
    int32_t x = at.originX + scaleToDevice(image.x, at.dpiX, image.xResolution);
    int32_t y = penBelow(page->penY, scaleToDevice(image.y, at.dpiY, image.yResolution));
    if (image.width > 0 && image.height > 0) {
        if (width > 0 && height > 0) {
            noteDrawing(page, x, y);
        }
        placeImage(page, bitmap, x, y, width, height);
    }
    page->penY = penBelow(y, height);

    if (bitmap != nullptr) {
        destroySurfaceBitmap(bitmap);
    }
}

// Draws the record whose header is at the stream's position; returns its
// flags.
int drawRecord(PageState* page, SpoolStream* stream, int32_t recordSize)
{
    RecordHeader header = readRecordHeader(stream);
    if (header.kind == recordKindText) {
        drawTextRecord(page, stream, recordSize);
    } else if (header.kind == recordKindImage) {
        drawImageRecord(page, stream, (header.flags & recordFlagCompressed) != 0);
    }
    return header.flags;
}

// The record after `record` that the page goes on with: the next one that
// starts at or after readPos, or recordCount when none is left.
int nextRecordOnPage(SpoolStream* stream, int record, int recordCount, int64_t readPos)
{
    for (record++; record < recordCount; record++) {
        int32_t offset = 0;
        readRecordExtent(stream, record, &offset, nullptr);
        if (offset >= readPos) {
            break;
        }
    }
    return record;
}

// Replaces the screen copy with a white one of the area's size and opens a
// surface on it; nullptr (and no screen copy) if it can't be had.
DrawSurface* startScreenCopy(const PagePlacement& placement)
{
    releaseScreenCopy();
    SurfaceBitmap* bitmap = createSurfaceBitmap(placement.areaWidth, placement.areaHeight);
    if (bitmap == nullptr) {
        return nullptr;
    }
    DrawSurface* copy = openBitmapSurface(bitmap);
    if (copy == nullptr) {
        destroySurfaceBitmap(bitmap);
        return nullptr;
    }
    fillWhite(copy, 0, 0, placement.areaWidth, placement.areaHeight);
    screenCopy.bitmap = bitmap;
    screenCopy.width = placement.areaWidth;
    screenCopy.height = placement.areaHeight;
    return copy;
}

// Draws (or measures) the page's records, from firstRecord on, as the state
// says. Returns 0, or -1 when the first record starts before readPos.
int drawPageRecords(PageState* page, SpoolStream* stream, int firstRecord, int recordCount)
{
    int64_t readPos = tell(stream);
    int record = firstRecord;
    while (record < recordCount) {
        int32_t offset = 0;
        int32_t size = 0;
        readRecordExtent(stream, record, &offset, &size);
        if (offset < readPos) {
            seekTo(stream, readPos);
            return -1;
        }
        seekTo(stream, offset);
        int flags = drawRecord(page, stream, size);
        readPos = tell(stream);
        if ((flags & recordFlagContinued) == 0) {
            break;
        }
        record = nextRecordOnPage(stream, record, recordCount, readPos);
    }
    return 0;
}

// The state a page starts with on the surface. The line height is measured
// once, in the surface's own font, before any text record selects the
// monospaced one: it is the line advance for the whole page.
PageState startPage(DrawSurface* surface, const PagePlacement& placement, PageBounds* bounds)
{
    PageState page;
    page.placement = placement;
    page.lineHeight = currentTextHeight(surface);
    page.penY = placement.originY;
    page.targets.surfaces[0] = surface;
    page.targets.count = bounds == nullptr ? 1 : 0;
    page.bounds = bounds;
    return page;
}

}  // namespace

int renderPage(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream,
               int firstRecord, int recordCount, bool keepScreenCopy)
{
    fillWhite(surface, 0, 0, placement.areaWidth, placement.areaHeight);
    PageState page = startPage(surface, placement, nullptr);
    DrawSurface* copy = keepScreenCopy ? startScreenCopy(placement) : nullptr;
    if (copy != nullptr) {
        page.targets.surfaces[page.targets.count++] = copy;
    }
    int result = drawPageRecords(&page, stream, firstRecord, recordCount);
    if (copy != nullptr) {
        closeBitmapSurface(copy);
    }
    return result;
}

PageBounds measurePage(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream, int firstRecord,
                       int recordCount)
{
    PageBounds bounds = {false, 0, 0};
    int64_t start = tell(stream);
    PageState page = startPage(surface, placement, &bounds);
    drawPageRecords(&page, stream, firstRecord, recordCount);
    seekTo(stream, start);
    return bounds;
}

PagePlacement placementInsideArea(const PagePlacement& placement, const PageBounds& bounds)
{
    PagePlacement moved = placement;
    if (bounds.drawsAnything && bounds.left < 0) {
        moved.originX = static_cast<int>(placement.originX - static_cast<int64_t>(bounds.left));
    }
    if (bounds.drawsAnything && bounds.top < 0) {
        moved.originY = static_cast<int>(placement.originY - static_cast<int64_t>(bounds.top));
    }
    return moved;
}

PagePlacement fitPageInsideArea(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream,
                                int firstRecord, int recordCount)
{
    return placementInsideArea(placement, measurePage(surface, placement, stream, firstRecord, recordCount));
}

int nextPageRecord(SpoolStream* stream, int firstRecord, int recordCount)
{
    int record = firstRecord;
    while (record + 1 < recordCount) {
        int32_t offset = 0;
        readRecordExtent(stream, record + 1, &offset, nullptr);
        if (offset >= tell(stream)) {
            break;
        }
        record++;
    }
    return record + 1;
}

int repaintScreenCopy(DrawSurface* surface)
{
    if (screenCopy.bitmap == nullptr) {
        return -1;
    }
    DrawSurface* source = openBitmapSurface(screenCopy.bitmap);
    if (source == nullptr) {
        return -1;
    }
    int width = 0;
    int height = 0;
    surfaceArea(surface, &width, &height);
    fillWhite(surface, 0, 0, width, height);
    copyUnscaled(surface, 0, 0, screenCopy.width, screenCopy.height, source);
    closeBitmapSurface(source);
    return 0;
}

void releaseScreenCopy()
{
    if (screenCopy.bitmap != nullptr) {
        destroySurfaceBitmap(screenCopy.bitmap);
    }
    screenCopy.bitmap = nullptr;
    screenCopy.width = 0;
    screenCopy.height = 0;
}
