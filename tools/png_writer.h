// Writes 1-bit grayscale PNG files from rows handed over one at a time.
//
// The rows come in the drawing surfaces' layout: the leftmost pixel in the
// most significant bit, a set bit black. PNG grayscale has 0 as black, so
// the writer inverts each row on its way into the compressor. Rows stream
// through zlib's deflate into IDAT chunks, so memory stays at one row plus
// the compressor's buffers whatever the image size.
#ifndef FERNQUILL_TOOLS_PNG_WRITER_H
#define FERNQUILL_TOOLS_PNG_WRITER_H

// Returns row y (0 at the top) of the image: (width + 7) / 8 bytes that stay
// valid until the next call. Bits past the image's width are ignored.
typedef const unsigned char* (*MonochromeRowSource)(void* context, int y);

// Writes a width x height image to path, recording dpi as its resolution
// (0 records none). Rows are asked for once each, top to bottom. Returns 0,
// or -1 when the file can't be written or memory can't be had; a partly
// written file is removed again.
int writeMonochromePng(const char* path, int width, int height, int dpi, MonochromeRowSource rowAt,
                       void* context);

#endif
