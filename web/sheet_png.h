// The web page's sheets as 1-bit grey PNG files, made in the module so that
// the page's JavaScript only hands the bytes on: the scanlines compressed
// with run_deflate.h, the chunks and their CRCs, and the sheet's resolution
// in pHYs, as spool_to_png writes it.
#ifndef FERNQUILL_WEB_SHEET_PNG_H
#define FERNQUILL_WEB_SHEET_PNG_H

#include <cstddef>

// The most bytes writeSheetPng() writes for scanlines of this many bytes.
size_t sheetPngBound(size_t scanlinesSize);

// Writes the PNG of a width x height sheet at dpi into out, which holds
// sheetPngBound() bytes, from its scanlines (each a 0 filter byte, then the
// row, 0 black). Returns the bytes written.
size_t writeSheetPng(const unsigned char* scanlines, int width, int height, int dpi, unsigned char* out);

#endif
