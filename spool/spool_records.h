// What a spool record holds, and the decoders that turn it into something to
// draw.
//
// Every record opens with two bytes: its kind (1 text, 0 image, anything else
// draws nothing) and its flags. The `continued` flag chains the next record
// onto the same page; `compressed` says an image's bitmap is run-length
// encoded.
//
// A text record's payload is the rest of its extent: characters in the
// system's ANSI code page, lines ended by LF or NUL, with CR and SI thrown
// away. An image record carries a 16-byte header (six big-endian 16-bit
// fields and four reserved bytes) and then its 1-bit bitmap, raw or
// compressed. The bitmap decoder does not look at the record's size: it reads
// until the bitmap is complete, so a bitmap may run on through the bytes of
// the records after it.
#ifndef FERNQUILL_SPOOL_RECORDS_H
#define FERNQUILL_SPOOL_RECORDS_H

#include <cstddef>
#include <cstdint>

#include "spool/spool_stream.h"

const int recordKindImage = 0;
const int recordKindText = 1;
const int recordFlagContinued = 0x01;
const int recordFlagCompressed = 0x80;

// The two bytes at a record's start. A header read at the end of data has
// kind -1 (draws nothing) and no flags, so the page ends there.
struct RecordHeader {
    int kind;
    int flags;
};

const int imageHeaderSize = 16;  // after the record header

// The fixed fields of an image record, each 0 to 65535.
struct ImageHeader {
    int width;
    int height;
    int x;
    int y;
    int xResolution;
    int yResolution;
};

// A decoded bitmap: height rows of rowBytes bytes, top row first, the most
// significant bit of a byte the leftmost pixel, a set bit black.
struct ImageBits {
    unsigned char* bits;  // nullptr when width or height is 0
    int width;
    int height;
    int rowBytes;
    // Rows at the bottom that the data never reached, because the file ended
    // first. They are white, so a surface can draw them without reading them:
    // a damaged header can describe a bitmap of half a gigabyte that the file
    // holds a few bytes of. 0 for a bitmap decoded to its end.
    int unreachedRows = 0;
};

// The longest line splitTextLines() hands over. Characters past it, up to the
// line's end, are dropped: lines are never wrapped, and at any print size a
// line this long already runs far off the paper.
const int maxTextLineLength = 999;

// Receives one text line: count characters (no terminator among them, and
// not NUL-terminated) at characters.
typedef void (*TextLineHandler)(void* context, const char* characters, int count);

// Reads the kind and flags bytes at the stream's position.
RecordHeader readRecordHeader(SpoolStream* stream);

// Reads exactly payloadSize bytes (none when it is 0 or less) and hands over
// each line in order. A line ends at LF or NUL, or at the last payload byte;
// a last byte that is itself LF or NUL ends the line once. CR and SI are
// dropped before that test, so a payload ending in CR leaves its last line
// unsaid. Bytes past the end of data read as the character 0xFF; the stream's
// position then stays at the end of the file.
void splitTextLines(SpoolStream* stream, int32_t payloadSize, TextLineHandler onLine, void* context);

// Reads the six 16-bit fields and skips the four reserved bytes, leaving the
// stream at the bitmap data.
ImageHeader readImageHeader(SpoolStream* stream);

// rowBytes * height for this header: the bytes the decoded bitmap takes.
size_t imageBitsSize(const ImageHeader& header);

// Decodes the bitmap at the stream's position into bits, which it allocates.
// Returns 0, or -1 (with bits empty and nothing read) when the buffer can't
// be had. Whatever the data never reaches is white, and the rows it never
// reaches are counted in bits->unreachedRows. The stream is left just
// after the last byte consumed; a run that would pass the end of the bitmap
// writes what fits and still consumes all of its bytes. The caller frees bits
// with freeImageBits().
int decodeImageBits(SpoolStream* stream, const ImageHeader& header, bool compressed, ImageBits* bits);

void freeImageBits(ImageBits* bits);

// The most one image's bitmap may take, in bytes. A bitmap larger than this
// is treated like one whose buffer can't be allocated. The default lets the
// largest bitmap the format can describe (65535 x 65535, about 512 MiB)
// through; a host with less memory to spare can lower it.
void setImageMemoryLimit(size_t bytes);
size_t imageMemoryLimit();

#endif
