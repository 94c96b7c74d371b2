// How large the monospaced text of a page must be to be read.
//
// A text record asks for "Courier" at the device's default size. Screens,
// and the printers the hand-held's driver was written for, gave 10 to 12
// point text that way. Some printer drivers today give the screen's 16
// pixels whatever their resolution: under 4 points on paper at 300 dpi, 2 at
// 600, which no one can read. So where the default would be smaller than 9
// points the font is made at 12 points instead, but never with a cell taller
// than the page's line advance (the height of the surface's own font, which
// spaces the lines), so lines still don't run into each other. Where the
// default is large enough, it stays exactly as it is: a window draws as it
// always did.
//
// Sizes in points are character heights, the em without the internal
// leading, as a font's point size is; the line advance compares with the
// whole cell. Every surface (GDI, the software one) and every tool that lays
// pages out the way the printer does goes by these functions.
#ifndef FERNQUILL_RENDER_READABLE_TEXT_H
#define FERNQUILL_RENDER_READABLE_TEXT_H

const int smallestReadablePoints = 9;
const int readablePoints = 12;

// `points` points in pixels at dpi pixels per inch, rounded to the nearest
// pixel, halves up, as MulDiv(points, dpi, 72) gives them.
int pointsToPixels(int points, int dpi);

// The character height, in pixels, to make the monospaced font at on a
// surface of dpiY pixels per inch, whose default size has characters
// defaultHeight pixels high: defaultHeight itself when that is at least 9
// points, otherwise 12 points (or the default, if that is larger still).
int readableCharacterHeight(int defaultHeight, int dpiY);

// The cell height to keep for a font whose cell would be cellHeight pixels,
// on a page whose lines are lineAdvance pixels apart, where the device's
// default font of the face has a cell of defaultCellHeight: cellHeight when
// it fits the line advance, otherwise the line advance. A font is never made
// smaller than the device's default by this, even where the default itself
// overflows the line.
int cellWithinLineAdvance(int cellHeight, int defaultCellHeight, int lineAdvance);

#endif
