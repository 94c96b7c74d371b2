// What of the software surface's trace (bitmap_surface.h) goes into a PDF
// page, whichever library writes the PDF: spool_to_pdf's libharu writer and
// the web page's writer make the same pages from the same cuts.
//
// The surface holds only the printer's drawable area, so a PDF page shows no
// more of a line or an image than lies inside it: a line is cut to the
// characters whose cells reach into the area, an image to the part inside
// it, and an all-white image is left out.
#ifndef FERNQUILL_TOOLS_PDF_TRACE_H
#define FERNQUILL_TOOLS_PDF_TRACE_H

#include <cstdint>

// Whether the byte prints as itself; the others (control bytes and the five
// CP1252 leaves undefined) print nothing on the surface, and go into the PDF
// as spaces so that each character keeps its cell.
bool printsAsItself(unsigned char character);

// The characters [*first, *end) of a line of count characters drawn at
// (x, y) in cells of cellWidth x cellHeight whose cells reach into an area
// of areaWidth x areaHeight, at most maxTextLineLength of them; false when
// none does.
bool clipTextLine(int areaWidth, int areaHeight, int x, int y, int cellWidth, int cellHeight, int count,
                  int64_t* first, int64_t* end);

// Clips the span [start, start + length) to [0, limit); false when nothing
// is left.
bool clipSpan(int64_t start, int64_t length, int64_t limit, int* from, int* to);

// Pixels [x0, x0 + width) of a surface row (rowBytes bytes) as an image row
// for PDF's DeviceGray, where 0 is black: the surface's bits inverted, the
// bits past the width white. Returns whether any pixel is black.
bool copyImageRow(const unsigned char* row, int rowBytes, int x0, int width, unsigned char* out);

#endif
