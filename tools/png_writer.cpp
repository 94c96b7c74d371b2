// A PNG file is an 8-byte signature and a list of chunks: IHDR (size and
// pixel format), here pHYs (the resolution, so a viewer prints the page at
// its real size), one or more IDAT holding the zlib stream of the filtered
// rows, and IEND. Each row is a filter byte followed by the packed pixels;
// 1-bit pages compress well without filtering, so every row is filter 0.
#include "tools/png_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <zlib.h>

namespace {

const unsigned char pngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
const int pngBitDepth = 1;
const int pngColourGray = 0;
const unsigned char pngFilterNone = 0;
const int pngUnitMetre = 1;
// Compressed bytes gathered before they go out as one IDAT chunk.
const int idatCapacity = 64 * 1024;

// The compressor and the file its output goes to.
struct IdatWriter {
    z_stream zlib;
    std::FILE* file;
    unsigned char* pending;  // idatCapacity bytes
};

void putBE32(unsigned char* at, uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

// Length, type, data, and a CRC over the type and the data.
int writeChunk(std::FILE* file, const char* type, const unsigned char* data, uint32_t length)
{
    unsigned char head[8];
    putBE32(head, length);
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, head + 4, 4);
    if (length > 0) {
        crc = crc32(crc, data, length);
    }
    unsigned char tail[4];
    putBE32(tail, static_cast<uint32_t>(crc));

    if (std::fwrite(head, 1, sizeof head, file) != sizeof head) {
        return -1;
    }
    if (length > 0 && std::fwrite(data, 1, length, file) != length) {
        return -1;
    }
    return std::fwrite(tail, 1, sizeof tail, file) == sizeof tail ? 0 : -1;
}

int writeImageHeader(std::FILE* file, int width, int height)
{
    unsigned char header[13];
    putBE32(header, static_cast<uint32_t>(width));
    putBE32(header + 4, static_cast<uint32_t>(height));
    header[8] = pngBitDepth;
    header[9] = pngColourGray;
    header[10] = 0;  // compression: deflate, the only one there is
    header[11] = 0;  // filtering: the standard five filters
    header[12] = 0;  // not interlaced
    return writeChunk(file, "IHDR", header, sizeof header);
}

// PNG stores pixels per metre; 300 dpi becomes 11811.
int writeResolution(std::FILE* file, int dpi)
{
    uint32_t perMetre = static_cast<uint32_t>((static_cast<int64_t>(dpi) * 10000 + 127) / 254);
    unsigned char resolution[9];
    putBE32(resolution, perMetre);
    putBE32(resolution + 4, perMetre);
    resolution[8] = pngUnitMetre;
    return writeChunk(file, "pHYs", resolution, sizeof resolution);
}

// Sends what the compressor has produced as one IDAT chunk and hands it the
// empty buffer again.
int flushIdat(IdatWriter* writer)
{
    uint32_t produced = static_cast<uint32_t>(idatCapacity - writer->zlib.avail_out);
    if (produced > 0 && writeChunk(writer->file, "IDAT", writer->pending, produced) != 0) {
        return -1;
    }
    writer->zlib.next_out = writer->pending;
    writer->zlib.avail_out = idatCapacity;
    return 0;
}

// Compresses size bytes; with Z_FINISH also ends the zlib stream and writes
// out everything still pending.
int deflateBytes(IdatWriter* writer, unsigned char* bytes, uInt size, int flush)
{
    writer->zlib.next_in = bytes;
    writer->zlib.avail_in = size;
    for (;;) {
        int status = deflate(&writer->zlib, flush);
        if (status == Z_STREAM_ERROR) {
            return -1;
        }
        bool outputFull = writer->zlib.avail_out == 0;
        if (outputFull && flushIdat(writer) != 0) {
            return -1;
        }
        if (flush == Z_FINISH) {
            if (status == Z_STREAM_END) {
                return flushIdat(writer);
            }
            if (!outputFull) {
                return -1;  // no progress with room to spare: zlib gave up
            }
        } else if (writer->zlib.avail_in == 0 && !outputFull) {
            return 0;
        }
    }
}

// Row y as PNG wants it: the filter byte, then the pixels with 0 as black.
// Bits past the width become white so the file doesn't carry stray bits.
void makeScanline(const unsigned char* row, int width, unsigned char* scanline)
{
    int rowBytes = (width + 7) / 8;
    scanline[0] = pngFilterNone;
    for (int i = 0; i < rowBytes; i++) {
        scanline[1 + i] = static_cast<unsigned char>(~row[i]);
    }
    if (width % 8 != 0) {
        scanline[rowBytes] |= static_cast<unsigned char>(0xFF >> (width % 8));
    }
}

int writeImageData(std::FILE* file, int width, int height, MonochromeRowSource rowAt, void* context,
                   unsigned char* scanline, unsigned char* pending)
{
    IdatWriter writer;
    std::memset(&writer.zlib, 0, sizeof writer.zlib);
    writer.file = file;
    writer.pending = pending;
    if (deflateInit(&writer.zlib, Z_DEFAULT_COMPRESSION) != Z_OK) {
        return -1;
    }
    writer.zlib.next_out = pending;
    writer.zlib.avail_out = idatCapacity;

    uInt scanlineSize = static_cast<uInt>(1 + (width + 7) / 8);
    int result = 0;
    for (int y = 0; y < height && result == 0; y++) {
        makeScanline(rowAt(context, y), width, scanline);
        result = deflateBytes(&writer, scanline, scanlineSize, Z_NO_FLUSH);
    }
    if (result == 0) {
        result = deflateBytes(&writer, nullptr, 0, Z_FINISH);
    }
    deflateEnd(&writer.zlib);
    return result;
}

int writeImage(std::FILE* file, int width, int height, int dpi, MonochromeRowSource rowAt, void* context,
               unsigned char* scanline, unsigned char* pending)
{
    if (std::fwrite(pngSignature, 1, sizeof pngSignature, file) != sizeof pngSignature) {
        return -1;
    }
    if (writeImageHeader(file, width, height) != 0) {
        return -1;
    }
    if (dpi > 0 && writeResolution(file, dpi) != 0) {
        return -1;
    }
    if (writeImageData(file, width, height, rowAt, context, scanline, pending) != 0) {
        return -1;
    }
    return writeChunk(file, "IEND", nullptr, 0);
}

}  // namespace

int writeMonochromePng(const char* path, int width, int height, int dpi, MonochromeRowSource rowAt,
                       void* context)
{
    if (width <= 0 || height <= 0) {
        return -1;
    }
    size_t scanlineSize = 1 + (static_cast<size_t>(width) + 7) / 8;
    unsigned char* scanline = new (std::nothrow) unsigned char[scanlineSize];
    unsigned char* pending = new (std::nothrow) unsigned char[idatCapacity];
    std::FILE* file = nullptr;
    if (scanline != nullptr && pending != nullptr) {
        file = std::fopen(path, "wb");
    }

    int result = -1;
    if (file != nullptr) {
        result = writeImage(file, width, height, dpi, rowAt, context, scanline, pending);
        // A full disk may only show when the last buffer goes out.
        if (std::fclose(file) != 0) {
            result = -1;
        }
        if (result != 0) {
            std::remove(path);
        }
    }
    delete[] scanline;
    delete[] pending;
    return result;
}
