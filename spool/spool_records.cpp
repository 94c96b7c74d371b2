// Record decoding: text lines and 1-bit image bitmaps.
//
// The bitmap decoders trust nothing in the file. The output buffer is sized
// from the header alone, and every run is clipped to it: a run that would pass
// the bitmap's end writes only what fits, but still consumes all of its own
// bytes so the stream stays in step with the encoder. A copy from the row
// above that has no row above yields white. What the data never reaches stays
// white, because the buffer starts zeroed.
#include "spool/spool_records.h"

#include <cstdlib>
#include <cstring>

namespace {

size_t imageLimit = static_cast<size_t>(8192) * 65535;  // the format's largest bitmap

const int endOfFileByte = 0xFF;  // a fill or literal byte read past the end

int byteOrEndOfFile(SpoolStream* stream)
{
    int value = readByte(stream);
    return value < 0 ? endOfFileByte : value;
}

// Collects the characters of the current text line, keeping the first
// maxTextLineLength of them.
struct LineBuffer {
    char characters[maxTextLineLength];
    int count;
};

void appendCharacters(LineBuffer* line, const unsigned char* characters, int count)
{
    int room = maxTextLineLength - line->count;
    int kept = count < room ? count : room;
    std::memcpy(line->characters + line->count, characters, static_cast<size_t>(kept));
    line->count += kept;
}

void appendRepeated(LineBuffer* line, int character, int64_t times)
{
    while (times > 0 && line->count < maxTextLineLength) {
        line->characters[line->count++] = static_cast<char>(character);
        times--;
    }
}

void endLine(LineBuffer* line, TextLineHandler onLine, void* context)
{
    onLine(context, line->characters, line->count);
    line->count = 0;
}

// Output position and room left while decoding one bitmap.
struct BitmapWriter {
    unsigned char* bits;
    size_t size;
    size_t position;
    size_t rowBytes;
};

size_t room(const BitmapWriter* out)
{
    return out->size - out->position;
}

void writeFill(BitmapWriter* out, size_t count, unsigned char value)
{
    size_t fits = count < room(out) ? count : room(out);
    std::memset(out->bits + out->position, value, fits);
    out->position += fits;
}

// Literal bytes are all read, even those that no longer fit; bytes past the
// end of the file are black.
void writeLiteral(BitmapWriter* out, SpoolStream* stream, size_t count)
{
    size_t fits = count < room(out) ? count : room(out);
    int got = readBytes(stream, out->bits + out->position, static_cast<int>(fits));
    std::memset(out->bits + out->position + got, endOfFileByte, fits - static_cast<size_t>(got));
    out->position += fits;
    for (size_t skipped = fits; skipped < count; skipped++) {
        readByte(stream);
    }
}

// Forwards, a row at a time: a run longer than the rest of its row goes on
// copying from the row it is writing. Within one row's length source and
// destination never overlap. In the first row there is nothing above, and
// the buffer there is still white.
void writeCopyFromAbove(BitmapWriter* out, size_t count)
{
    size_t fits = count < room(out) ? count : room(out);
    size_t end = out->position + fits;
    if (out->position < out->rowBytes) {
        out->position = end < out->rowBytes ? end : out->rowBytes;
    }
    while (out->position < end) {
        size_t chunk = end - out->position < out->rowBytes ? end - out->position : out->rowBytes;
        std::memcpy(out->bits + out->position, out->bits + out->position - out->rowBytes, chunk);
        out->position += chunk;
    }
}

void decodeRaw(SpoolStream* stream, BitmapWriter* out)
{
    // readBytes() takes an int count; a bitmap can be larger than INT_MAX
    // only in theory (the format's largest is about 512 MiB), so go in slices.
    const size_t slice = 1 << 20;
    while (room(out) > 0) {
        int want = static_cast<int>(room(out) < slice ? room(out) : slice);
        int got = readBytes(stream, out->bits + out->position, want);
        out->position += static_cast<size_t>(got);
        if (got < want) {
            return;
        }
    }
}

void decodeRuns(SpoolStream* stream, BitmapWriter* out)
{
    while (room(out) > 0) {
        int control = readByte(stream);
        if (control < 0) {
            return;
        }
        if (control == 0) {
            continue;
        }
        size_t count = static_cast<size_t>(control >> 2) + 1;
        switch (control & 3) {
        case 0:
            writeFill(out, count, static_cast<unsigned char>(byteOrEndOfFile(stream)));
            break;
        case 1:
            writeLiteral(out, stream, count);
            break;
        case 2:
            writeFill(out, count, 0);
            break;
        default:
            writeCopyFromAbove(out, count);
            break;
        }
    }
}

}  // namespace

RecordHeader readRecordHeader(SpoolStream* stream)
{
    RecordHeader header;
    header.kind = readByte(stream);
    int flags = readByte(stream);
    header.flags = flags < 0 ? 0 : flags;
    return header;
}

bool isLineEnd(unsigned char value)
{
    return value == 10 || value == 0;
}

bool isDropped(unsigned char value)
{
    return value == 13 || value == 15;
}

void splitTextLines(SpoolStream* stream, int32_t payloadSize, TextLineHandler onLine, void* context)
{
    LineBuffer line;
    line.count = 0;
    int64_t left = payloadSize;
    // Text is most of what a job reads, so it is scanned a buffered stretch
    // at a time: runs of ordinary characters are copied whole.
    while (left > 0) {
        const unsigned char* bytes = nullptr;
        int available = bufferedBytes(stream, &bytes);
        if (available == 0) {
            // Every byte from here on reads as 0xFF, which neither drops nor
            // ends anything: the rest of the payload is one run of 0xFF
            // characters closed by the last byte. Taking it in one step keeps
            // a huge extent at the end of a damaged file from costing seconds.
            appendRepeated(&line, endOfFileByte, left);
            endLine(&line, onLine, context);
            return;
        }
        int span = left < available ? static_cast<int>(left) : available;
        int at = 0;
        while (at < span) {
            int runStart = at;
            while (at < span && !isLineEnd(bytes[at]) && !isDropped(bytes[at])) {
                at++;
            }
            appendCharacters(&line, bytes + runStart, at - runStart);
            if (at < span) {
                if (isLineEnd(bytes[at])) {
                    endLine(&line, onLine, context);
                }
                at++;
            }
        }
        consumeBuffered(stream, span);
        left -= span;
        // The last payload byte ends the line, unless it was a line end
        // (which already did) or a dropped byte (which is not there at all).
        unsigned char last = bytes[span - 1];
        if (left == 0 && !isLineEnd(last) && !isDropped(last)) {
            endLine(&line, onLine, context);
        }
    }
}

ImageHeader readImageHeader(SpoolStream* stream)
{
    ImageHeader header;
    header.width = readBE16(stream);
    header.height = readBE16(stream);
    header.x = readBE16(stream);
    header.y = readBE16(stream);
    header.xResolution = readBE16(stream);
    header.yResolution = readBE16(stream);
    for (int reserved = 0; reserved < 4; reserved++) {
        readByte(stream);
    }
    return header;
}

size_t imageBitsSize(const ImageHeader& header)
{
    size_t rowBytes = (static_cast<size_t>(header.width) + 7) / 8;
    return rowBytes * static_cast<size_t>(header.height);
}

int decodeImageBits(SpoolStream* stream, const ImageHeader& header, bool compressed, ImageBits* bits)
{
    bits->bits = nullptr;
    bits->width = header.width;
    bits->height = header.height;
    bits->rowBytes = (header.width + 7) / 8;
    bits->unreachedRows = 0;

    size_t size = imageBitsSize(header);
    if (size == 0) {
        return 0;
    }
    if (size > imageLimit) {
        return -1;
    }
    unsigned char* buffer = static_cast<unsigned char*>(std::calloc(size, 1));
    if (buffer == nullptr) {
        return -1;
    }
    bits->bits = buffer;

    BitmapWriter out = {buffer, size, 0, static_cast<size_t>(bits->rowBytes)};
    if (compressed) {
        decodeRuns(stream, &out);
    } else {
        decodeRaw(stream, &out);
    }
    // Nothing was written past the output position, so the rows after the
    // one it stopped in are still white.
    size_t reachedRows = (out.position + out.rowBytes - 1) / out.rowBytes;
    bits->unreachedRows = header.height - static_cast<int>(reachedRows);
    return 0;
}

void freeImageBits(ImageBits* bits)
{
    std::free(bits->bits);
    bits->bits = nullptr;
}

void setImageMemoryLimit(size_t bytes)
{
    imageLimit = bytes;
}

size_t imageMemoryLimit()
{
    return imageLimit;
}
