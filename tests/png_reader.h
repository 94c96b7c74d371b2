// Reads back the 1-bit PNG files that spool_to_png writes, decoded here with
// zlib, chunk CRCs and all, so the tests check the files and not only the
// tool's word for them.
#ifndef FERNQUILL_TESTS_PNG_READER_H
#define FERNQUILL_TESTS_PNG_READER_H

#include <string>

#include "tests/spool_builder.h"

namespace spooltest {

// A decoded 1-bit grayscale PNG; error says what was wrong with the file.
struct DecodedPng {
    std::string error;
    int width = 0;
    int height = 0;
    int rowBytes = 0;
    Bytes rows;  // unfiltered, 0 = black as PNG stores it

    bool black(int x, int y) const { return (rows[size_t(y) * rowBytes + x / 8] & (0x80 >> (x % 8))) == 0; }
};

DecodedPng readPng(const std::string& path);

}  // namespace spooltest

#endif
