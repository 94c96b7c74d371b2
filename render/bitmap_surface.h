// The software drawing surface: a 1-bit bitmap in memory that stands in for
// a printer or a window where there is no GDI (tests, tools, other
// platforms). It keeps GDI's coordinate model, black on white, per-inch
// scaling and GDI's default stretching, in which shrinking keeps black.
//
// Fonts. A page surface starts with a default font whose text height is
// 16 pixels at 96 pixels per inch, like the system font of a Windows screen,
// and grows with the surface's vertical resolution. The monospaced font is
// the 9 x 15 bitmap font of mono_font.h, scaled by the surface's resolution
// over 96 in each direction. Off-screen bitmaps are drawn at 96 pixels per
// inch, as GDI's memory surfaces are.
#ifndef FERNQUILL_RENDER_BITMAP_SURFACE_H
#define FERNQUILL_RENDER_BITMAP_SURFACE_H

#include "render/draw_surface.h"

// A page of width x height pixels at the given resolution, its drawable
// area offset (offsetX, offsetY) pixels from the paper's edge, all white.
// Returns nullptr if the memory can't be had.
DrawSurface* createPageSurface(int width, int height, int dpiX, int dpiY, int offsetX, int offsetY);
void destroyPageSurface(DrawSurface* surface);

// Pixel access for tests and tools. Rows are rowBytes bytes, the leftmost
// pixel in the most significant bit, a set bit black; a pixel outside the
// surface reads as white.
bool isBlackPixel(DrawSurface* surface, int x, int y);
int surfaceRowBytes(DrawSurface* surface);
const unsigned char* surfaceRow(DrawSurface* surface, int y);

// What a page surface reports while it is drawn on, for a tool that writes
// the page in a second form beside the pixels (spool_to_pdf keeps text as
// text). Positions are the surface's pixels, as drawn, before clipping.
// Either function may be null.
struct PageTrace {
    void* context;
    // A line of text: its first cell's top left at (x, y), every character
    // one cell of cellWidth x cellHeight, the size the glyphs were drawn at.
    void (*onText)(void* context, int x, int y, int cellWidth, int cellHeight, const char* characters, int count);
    // An image was scaled into the rectangle; the surface's pixels there
    // (surfaceRow) are now the image as it landed.
    void (*onImage)(void* context, int x, int y, int width, int height);
};

// Reports what is drawn on the page surface through trace, until it is
// called again with nullptr. The trace must outlive its use.
void tracePageSurface(DrawSurface* surface, const PageTrace* trace);

#endif
