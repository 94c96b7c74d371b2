// The PNG reader of the tool tests: signature, chunks and their CRCs, IHDR,
// the inflated IDAT stream and the five row filters.
#include "tests/png_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "tests/files.h"

namespace spooltest {

namespace {

uint32_t be32(const Bytes& bytes, size_t at)
{
    return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8) |
           uint32_t(bytes[at + 3]);
}

int paeth(int left, int up, int upLeft)
{
    int p = left + up - upLeft;
    int pa = std::abs(p - left);
    int pb = std::abs(p - up);
    int pc = std::abs(p - upLeft);
    return pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
}

// Undoes the five PNG filters in place; at 1 bit a "pixel" is one byte.
std::string unfilter(const Bytes& filtered, DecodedPng* png)
{
    size_t stride = size_t(png->rowBytes);
    png->rows.assign(stride * png->height, 0);
    for (size_t y = 0; y < size_t(png->height); y++) {
        int filter = filtered[y * (stride + 1)];
        const unsigned char* in = &filtered[y * (stride + 1) + 1];
        unsigned char* out = &png->rows[y * stride];
        const unsigned char* above = y > 0 ? out - stride : nullptr;
        for (size_t i = 0; i < stride; i++) {
            int left = i > 0 ? out[i - 1] : 0;
            int up = above ? above[i] : 0;
            int upLeft = above && i > 0 ? above[i - 1] : 0;
            int predictor[] = {0, left, up, (left + up) / 2, paeth(left, up, upLeft)};
            if (filter > 4) {
                return "unknown filter " + std::to_string(filter);
            }
            out[i] = static_cast<unsigned char>(in[i] + predictor[filter]);
        }
    }
    return "";
}

}  // namespace

DecodedPng readPng(const std::string& path)
{
    DecodedPng png;
    std::string contents = readWholeFile(path);
    Bytes bytes(contents.begin(), contents.end());
    const Bytes signature = {137, 80, 78, 71, 13, 10, 26, 10};
    if (bytes.size() < 8 || !std::equal(signature.begin(), signature.end(), bytes.begin())) {
        png.error = "no PNG signature";
        return png;
    }
    Bytes compressed;
    bool ended = false;
    for (size_t at = 8; !ended; ) {
        if (at + 12 > bytes.size() || at + 12 + be32(bytes, at) > bytes.size()) {
            png.error = "chunk runs past the end";
            return png;
        }
        uint32_t length = be32(bytes, at);
        std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
        const unsigned char* data = &bytes[at + 8];
        if (crc32(0L, &bytes[at + 4], length + 4) != be32(bytes, at + 8 + length)) {
            png.error = "bad CRC in " + type;
            return png;
        }
        if (type == "IHDR") {
            png.width = int(be32(bytes, at + 8));
            png.height = int(be32(bytes, at + 12));
            if (data[8] != 1 || data[9] != 0 || data[12] != 0) {
                png.error = "not 1-bit grayscale, uninterlaced";
                return png;
            }
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), data, data + length);
        }
        ended = type == "IEND";
        at += 12 + length;
    }
    png.rowBytes = (png.width + 7) / 8;
    Bytes filtered((size_t(png.rowBytes) + 1) * png.height + 1);
    uLongf size = uLongf(filtered.size());
    if (uncompress(filtered.data(), &size, compressed.data(), uLong(compressed.size())) != Z_OK ||
        size != filtered.size() - 1) {
        png.error = "image data does not inflate to the rows";
        return png;
    }
    png.error = unfilter(filtered, &png);
    return png;
}

}  // namespace spooltest
