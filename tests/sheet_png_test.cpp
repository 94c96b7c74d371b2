// The web page's PNG files, read back with zlib: whatever the bytes, its
// compression gives them back whole, with a good check sum, and a sheet's
// PNG holds the sheet's pixels, chunk CRCs and all.
#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "tests/png_reader.h"
#include "tests/spool_builder.h"
#include "web/run_deflate.h"
#include "web/sheet_png.h"

namespace {

std::vector<unsigned char> roundTrip(const std::vector<unsigned char>& data)
{
    std::vector<unsigned char> packed(runDeflateBound(data.size()));
    packed.resize(runDeflate(data.data(), data.size(), packed.data()));
    std::vector<unsigned char> back(data.size() + 1);
    uLongf backSize = static_cast<uLongf>(back.size());
    int result = uncompress(back.data(), &backSize, packed.data(), static_cast<uLong>(packed.size()));
    EXPECT_EQ(result, Z_OK);
    back.resize(result == Z_OK ? backSize : 0);
    return back;
}

struct DeflateCase {
    const char* name;
    std::vector<unsigned char> (*make)();
};

std::vector<unsigned char> pattern(size_t size, unsigned char (*byteAt)(size_t))
{
    std::vector<unsigned char> data(size);
    for (size_t i = 0; i < size; i++) {
        data[i] = byteAt(i);
    }
    return data;
}

const DeflateCase deflateCases[] = {
    {"Nothing", [] { return std::vector<unsigned char>(); }},
    {"OneByte", [] { return std::vector<unsigned char>(1, 0xff); }},
    {"TwoEqualBytes", [] { return std::vector<unsigned char>(2, 7); }},
    // Runs of every length around the codes' bounds, and past 258.
    {"RunsOfEveryLength", [] {
         std::vector<unsigned char> data;
         for (int length = 1; length <= 600; length++) {
             data.insert(data.end(), static_cast<size_t>(length), static_cast<unsigned char>(length));
         }
         return data;
     }},
    {"EveryByteValue", [] { return pattern(70000, [](size_t i) { return static_cast<unsigned char>(i * 7 + i / 256); }); }},
    {"Noise", [] {
         return pattern(100000, [](size_t i) { return static_cast<unsigned char>((i * 2654435761u) >> 13); });
     }},
    // A sheet's scanlines: a 0 filter byte, white rows, a few black marks.
    {"SheetRows", [] {
         return pattern(3300 * 320, [](size_t i) {
             size_t column = i % 320;
             return static_cast<unsigned char>(column == 0 ? 0 : (i / 320) % 40 == 3 && column % 9 < 4 ? 0x81 : 0xff);
         });
     }},
    // Beyond 5552 bytes of 0xff, where the Adler-32 sums must be reduced.
    {"LongWhite", [] { return std::vector<unsigned char>(1 << 20, 0xff); }},
};

class RunDeflateTest : public testing::TestWithParam<DeflateCase> {};

TEST_P(RunDeflateTest, ZlibGivesTheBytesBack)
{
    std::vector<unsigned char> data = GetParam().make();
    EXPECT_EQ(roundTrip(data), data);
}

INSTANTIATE_TEST_SUITE_P(Data, RunDeflateTest, testing::ValuesIn(deflateCases),
                         [](const testing::TestParamInfo<DeflateCase>& info) { return info.param.name; });

TEST(RunDeflate, ABlankSheetTakesLittleRoom)
{
    std::vector<unsigned char> sheet(3300 * 320, 0xff);
    std::vector<unsigned char> packed(runDeflateBound(sheet.size()));
    EXPECT_LT(runDeflate(sheet.data(), sheet.size(), packed.data()), sheet.size() / 100);
}

// A sheet of 50 x 7 pixels (not a whole number of bytes across) with a
// diagonal of black, read back as spool_to_png's files are.
TEST(SheetPng, HoldsTheSheetsPixels)
{
    const int width = 50;
    const int height = 7;
    const size_t rowBytes = 1 + (width + 7) / 8;
    std::vector<unsigned char> scanlines(rowBytes * height, 0xff);
    for (int y = 0; y < height; y++) {
        scanlines[y * rowBytes] = 0;
        scanlines[y * rowBytes + 1 + (y * 7) / 8] &= static_cast<unsigned char>(~(0x80 >> ((y * 7) % 8)));
    }
    std::vector<unsigned char> png(sheetPngBound(scanlines.size()));
    png.resize(writeSheetPng(scanlines.data(), width, height, 300, png.data()));
    spooltest::TempFile file(spooltest::Bytes(png.begin(), png.end()));
    spooltest::DecodedPng decoded = spooltest::readPng(file.path());
    ASSERT_EQ(decoded.error, "");
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            EXPECT_EQ(decoded.black(x, y), x == y * 7) << x << "," << y;
        }
    }
}

}  // namespace
