#include "web/run_deflate.h"

#include <cstdint>

namespace {

const int maxRepeat = 258;

// Bits go out from the low end of `pending`, as Deflate sends them; at most
// seven wait between codes.
struct BitWriter {
    unsigned char* out;
    size_t at;
    uint32_t pending;
    int count;
};

void putBits(BitWriter* writer, uint32_t bits, int count)
{
    writer->pending |= bits << writer->count;
    writer->count += count;
    while (writer->count >= 8) {
        writer->out[writer->at++] = static_cast<unsigned char>(writer->pending);
        writer->pending >>= 8;
        writer->count -= 8;
    }
}

uint32_t reversed(uint32_t code, int bits)
{
    uint32_t out = 0;
    for (int i = 0; i < bits; i++) {
        out = (out << 1) | ((code >> i) & 1);
    }
    return out;
}

struct FixedCodes {
    uint32_t code[288];
    int bits[288];
};

// The fixed codes, bit-reversed as the stream sends them: literals 0-143
// take 8 bits from 0x30, 144-255 9 bits from 0x190; lengths' codes 256-279
// 7 bits from 0, 280-287 8 bits from 0xc0.
FixedCodes makeFixedCodes()
{
    FixedCodes codes;
    for (int symbol = 0; symbol < 288; symbol++) {
        int bits = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
        uint32_t code = symbol < 144 ? 0x30 + symbol : symbol < 256 ? 0x190 + symbol - 144
                                                     : symbol < 280 ? symbol - 256 : 0xc0 + symbol - 280;
        codes.code[symbol] = reversed(code, bits);
        codes.bits[symbol] = bits;
    }
    return codes;
}

const FixedCodes& fixedCodes()
{
    static const FixedCodes codes = makeFixedCodes();
    return codes;
}

void putSymbol(BitWriter* writer, int symbol)
{
    const FixedCodes& codes = fixedCodes();
    putBits(writer, codes.code[symbol], codes.bits[symbol]);
}

const int lengthBases[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int lengthExtraBits[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// A repeat of the byte before, length 3 to 258: its length code and extra
// bits, then distance 1's code (five 0 bits, no extra bits).
void putRepeat(BitWriter* writer, int length)
{
    int i = sizeof lengthBases / sizeof lengthBases[0] - 1;
    while (lengthBases[i] > length) {
        i--;
    }
    putSymbol(writer, 257 + i);
    putBits(writer, static_cast<uint32_t>(length - lengthBases[i]), lengthExtraBits[i]);
    putBits(writer, 0, 5);
}

uint32_t adler32(const unsigned char* data, size_t size)
{
    uint32_t a = 1;
    uint32_t b = 0;
    // 5552 bytes is the most that can be summed before b could pass 2^32.
    for (size_t start = 0; start < size; start += 5552) {
        size_t end = size - start < 5552 ? size : start + 5552;
        for (size_t i = start; i < end; i++) {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return (b << 16) | a;
}

}  // namespace

size_t runDeflateBound(size_t size)
{
    // Every byte a 9-bit literal at worst; the header, block end and Adler-32.
    return size + size / 8 + 16;
}

size_t runDeflate(const unsigned char* data, size_t size, unsigned char* out)
{
    out[0] = 0x78;  // Deflate, 32 KiB window
    out[1] = 0x01;  // fastest, no dictionary; 0x7801 is a multiple of 31
    BitWriter writer = {out, 2, 0, 0};
    putBits(&writer, 0x3, 3);  // the final block, fixed codes
    size_t i = 0;
    while (i < size) {
        size_t run = 0;
        if (i > 0) {
            size_t end = size - i < maxRepeat ? size - i : maxRepeat;
            unsigned char previous = data[i - 1];
            while (run < end && data[i + run] == previous) {
                run++;
            }
        }
        if (run >= 3) {
            putRepeat(&writer, static_cast<int>(run));
            i += run;
        } else {
            putSymbol(&writer, data[i]);
            i++;
        }
    }
    putSymbol(&writer, 256);
    if (writer.count > 0) {
        out[writer.at++] = static_cast<unsigned char>(writer.pending);
    }
    uint32_t check = adler32(data, size);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out[writer.at++] = static_cast<unsigned char>(check >> shift);
    }
    return writer.at;
}
