// Counting black pixels: on a page drawn on the software surface
// (bitmap_surface.h), in a rectangle or in all of its area, and in a glyph of
// the built-in font.
#ifndef FERNQUILL_TESTS_PIXELS_H
#define FERNQUILL_TESTS_PIXELS_H

#include "render/draw_surface.h"

// Black pixels in the rectangle [x0, x1) x [y0, y1).
int blackPixelsIn(DrawSurface* surface, int x0, int y0, int x1, int y1);

// Black pixels in the surface's whole area (surfaceArea).
int blackPixels(DrawSurface* surface);

// The inked pixels of a character's glyph in the built-in font, in its
// native cell (mono_font.h): what it leaves drawn at 96 dpi.
int glyphBlackPixels(unsigned char character);

#endif
