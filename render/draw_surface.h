// The drawing operations that pages, the status view and the repaint use.
//
// A DrawSurface is somewhere to draw: the main window, a printer, or an
// off-screen bitmap. Coordinates are device pixels, origin at the top left,
// y growing downwards. Everything drawn is black on white, so off-screen
// bitmaps hold one bit per pixel.
//
// Two implementations are linked in, one per build: GDI (gdi_surface.cpp),
// used by the Windows program, and a software 1-bit bitmap
// (bitmap_surface.cpp), used by the tests, the tools and other platforms.
// This header names no platform type.
#ifndef FERNQUILL_RENDER_DRAW_SURFACE_H
#define FERNQUILL_RENDER_DRAW_SURFACE_H

#include "spool/spool_records.h"

struct DrawSurface;     // a place to draw
struct SurfaceBitmap;   // an off-screen 1-bit bitmap, drawn into through a surface
struct SurfaceFont;     // a font selected into a surface, with what it replaced

// Width and height of the drawable area in pixels: a printer's printable
// area, or the whole screen for a window's surface.
void surfaceArea(DrawSurface* surface, int* width, int* height);

// Pixels per inch across and down.
void surfaceDpi(DrawSurface* surface, int* dpiX, int* dpiY);

// Distance in pixels from the paper's edge to the drawable area; 0 for
// anything that is not a printer.
void surfacePhysicalOffset(DrawSurface* surface, int* x, int* y);

// The rectangle becomes white.
void fillWhite(DrawSurface* surface, int x, int y, int width, int height);

// The cell height of the font currently selected into the surface.
int currentTextHeight(DrawSurface* surface);

// Selects the monospaced font ("Courier" on Windows) at the device's default
// size and weight; where that size is too small to read on paper, at 12
// points instead, but no taller than the font selected before it (the page's
// line advance): see readable_text.h. Returns nullptr if no font could be
// made; restoreFont() puts the previous font back and releases this one.
SurfaceFont* selectMonospacedFont(DrawSurface* surface);
void restoreFont(DrawSurface* surface, SurfaceFont* font);

// Draws count characters of the ANSI code page in black, the top left of the
// first character cell at (x, y), in the surface's current font.
void drawText(DrawSurface* surface, int x, int y, const char* characters, int count);

// One pixel becomes black.
void setBlackPixel(DrawSurface* surface, int x, int y);

// Scales the whole of source's drawable area into the destination rectangle,
// as the platform's default stretching does: shrinking keeps black pixels.
void stretchCopy(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source);

// Copies width x height pixels from source's top left to (x, y), unscaled.
void copyUnscaled(DrawSurface* destination, int x, int y, int width, int height, DrawSurface* source);

// An off-screen bitmap of width x height, one bit per pixel, its content
// undefined until filled. Returns nullptr if it can't be had.
SurfaceBitmap* createSurfaceBitmap(int width, int height);

// An off-screen bitmap holding a decoded image: every set bit black, the rest
// white. Same pixels as a white bitmap with setBlackPixel() per set bit, made
// straight from the rows. Returns nullptr if it can't be had.
SurfaceBitmap* createImageBitmap(const ImageBits& bits);

void destroySurfaceBitmap(SurfaceBitmap* bitmap);

// Selects the bitmap into a surface of its own, for drawing into it or
// copying from it. Returns nullptr if no surface can be had.
// closeBitmapSurface() takes the bitmap out again and releases the surface;
// the bitmap lives on.
DrawSurface* openBitmapSurface(SurfaceBitmap* bitmap);
void closeBitmapSurface(DrawSurface* surface);

#endif
