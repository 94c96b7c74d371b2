#include "tools/pdf_trace.h"

#include <algorithm>

#include "spool/spool_records.h"

bool printsAsItself(unsigned char character)
{
    if (character < 0x20 || character == 0x7F) {
        return false;
    }
    return character != 0x81 && character != 0x8D && character != 0x8F && character != 0x90 && character != 0x9D;
}

bool clipTextLine(int areaWidth, int areaHeight, int x, int y, int cellWidth, int cellHeight, int count,
                  int64_t* first, int64_t* end)
{
    if (cellWidth <= 0 || cellHeight <= 0 || static_cast<int64_t>(y) + cellHeight <= 0 || y >= areaHeight) {
        return false;
    }
    *first = x < 0 ? -static_cast<int64_t>(x) / cellWidth : 0;
    *end = (static_cast<int64_t>(areaWidth) - x + cellWidth - 1) / cellWidth;
    *end = std::min<int64_t>({*end, count, *first + maxTextLineLength});
    return *first < *end;
}

bool clipSpan(int64_t start, int64_t length, int64_t limit, int* from, int* to)
{
    int64_t low = std::max<int64_t>(start, 0);
    int64_t high = std::min<int64_t>(start + length, limit);
    if (length <= 0 || low >= high) {
        return false;
    }
    *from = static_cast<int>(low);
    *to = static_cast<int>(high);
    return true;
}

bool copyImageRow(const unsigned char* row, int rowBytes, int x0, int width, unsigned char* out)
{
    int outBytes = (width + 7) / 8;
    unsigned char black = 0;
    for (int i = 0; i < outBytes; i++) {
        int bit = x0 + 8 * i;
        int byte = bit >> 3;
        int shift = bit & 7;
        unsigned int pair = static_cast<unsigned int>(row[byte]) << 8;
        if (byte + 1 < rowBytes) {
            pair |= row[byte + 1];
        }
        unsigned char bits = static_cast<unsigned char>(pair >> (8 - shift));
        if (i == outBytes - 1 && width % 8 != 0) {
            bits &= static_cast<unsigned char>(0xFF << (8 - width % 8));
        }
        black |= bits;
        out[i] = static_cast<unsigned char>(~bits);
    }
    return black != 0;
}
