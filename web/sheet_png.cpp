#include "web/sheet_png.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "web/run_deflate.h"

namespace {

// The signature, and each chunk's length, type and CRC around its data.
const size_t signatureBytes = 8;
const size_t chunkFraming = 12;
const size_t headerBytes = 13;
const size_t resolutionBytes = 9;

struct CrcTable {
    uint32_t entry[256];
};

CrcTable makeCrcTable()
{
    CrcTable table;
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) {
            c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        }
        table.entry[n] = c;
    }
    return table;
}

uint32_t crc32(const unsigned char* data, size_t size)
{
    static const CrcTable table = makeCrcTable();
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; i++) {
        crc = table.entry[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

void putBE32(unsigned char* out, uint32_t value)
{
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

// Frames the dataBytes already at out + 8 as a chunk of the type; returns
// the chunk's whole size.
size_t frameChunk(unsigned char* out, const char* type, size_t dataBytes)
{
    putBE32(out, static_cast<uint32_t>(dataBytes));
    std::memcpy(out + 4, type, 4);
    putBE32(out + 8 + dataBytes, crc32(out + 4, 4 + dataBytes));
    return chunkFraming + dataBytes;
}

}  // namespace

size_t sheetPngBound(size_t scanlinesSize)
{
    return signatureBytes + 4 * chunkFraming + headerBytes + resolutionBytes + runDeflateBound(scanlinesSize);
}

size_t writeSheetPng(const unsigned char* scanlines, int width, int height, int dpi, unsigned char* out)
{
    static const unsigned char signature[signatureBytes] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::memcpy(out, signature, signatureBytes);
    size_t at = signatureBytes;

    unsigned char* header = out + at + 8;
    putBE32(header, static_cast<uint32_t>(width));
    putBE32(header + 4, static_cast<uint32_t>(height));
    // 1 bit, grey, deflate, no filtering beyond row filters, not interlaced.
    const unsigned char format[] = {1, 0, 0, 0, 0};
    std::memcpy(header + 8, format, sizeof format);
    at += frameChunk(out + at, "IHDR", headerBytes);

    uint32_t perMetre = static_cast<uint32_t>(std::lround(dpi / 0.0254));
    putBE32(out + at + 8, perMetre);
    putBE32(out + at + 12, perMetre);
    out[at + 16] = 1;  // the unit is the metre
    at += frameChunk(out + at, "pHYs", resolutionBytes);

    size_t scanlinesSize = static_cast<size_t>(height) * (1 + (static_cast<size_t>(width) + 7) / 8);
    at += frameChunk(out + at, "IDAT", runDeflate(scanlines, scanlinesSize, out + at + 8));
    at += frameChunk(out + at, "IEND", 0);
    return at;
}
