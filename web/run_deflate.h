// The web page's PNG compression: fast, made for printed sheets.
//
// A sheet is mostly runs of white bytes, so its zlib stream is one Deflate
// block of the fixed codes holding only literal bytes and repeats of the
// byte before (distance 1), up to 258 at a time. A blank row of a 300 dpi
// Letter sheet takes a few bytes, a row of text about one byte a byte; a
// page takes a few milliseconds where a general compressor's search for
// repeats took as long as drawing it. The PNG never leaves the page, so
// its size matters less than the page's time.
#ifndef FERNQUILL_WEB_RUN_DEFLATE_H
#define FERNQUILL_WEB_RUN_DEFLATE_H

#include <cstddef>

// The most bytes runDeflate() writes for size bytes of data.
size_t runDeflateBound(size_t size);

// Writes the zlib stream (header, one final fixed-code block, Adler-32) of
// the size bytes at data into out, which holds runDeflateBound(size) bytes.
// Returns the bytes written.
size_t runDeflate(const unsigned char* data, size_t size, unsigned char* out);

#endif
