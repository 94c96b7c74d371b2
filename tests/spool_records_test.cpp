// Record headers, text line splitting and bitmap decoding, raw and
// run-length compressed.
#include <gtest/gtest.h>

#include "spool/spool_records.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const unsigned char marker = 0x99;  // placed after the data a decoder should consume

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// ---- Text lines -----------------------------------------------------------

struct TextCase {
    std::string name;
    Bytes payload;
    std::vector<std::string> lines;
};

std::vector<TextCase> textCases()
{
    std::string longest(maxTextLineLength, 'w');
    return {
        {"LineFeedSplits", {65, 66, 10, 67, 68}, {"AB", "CD"}},
        {"CarriageReturnDropped", {65, 66, 13, 10, 67, 68, 10}, {"AB", "CD"}},
        {"TwoLineFeedsTwoEmptyLines", {10, 10}, {"", ""}},
        {"NulEndsTheLineOnce", {65, 66, 0}, {"AB"}},
        {"ShiftInDropped", {65, 15, 66, 10}, {"AB"}},
        {"TrailingCarriageReturnLeavesLineUnsaid", {65, 66, 13}, {}},
        {"TrailingShiftInLeavesLineUnsaid", {65, 66, 15}, {}},
        {"CarriageReturnBeforeLastLineFeed", {65, 66, 13, 10}, {"AB"}},
        {"EmptyLineBetween", {65, 10, 10, 66}, {"A", "", "B"}},
        {"NulsAndLineFeedsMix", {0, 65, 0, 10}, {"", "A", ""}},
        {"OneCharacter", {88}, {"X"}},
        {"OnlyCarriageReturn", {13}, {}},
        {"TabAndHighBytesKept", {9, 0x80, 0xFF, 10}, {"\t\x80\xFF"}},
        {"LongestLineKept", bytesOf(longest + "\nCD"), {longest, "CD"}},
        {"OneOverIsDropped", bytesOf(longest + "x\nCD"), {longest, "CD"}},
        {"LongTailDroppedUpToLineEnd", bytesOf(longest + std::string(600, 'z') + "\nnext\n"), {longest, "next"}},
        {"LongLastLineEndsAtPayloadEnd", bytesOf(longest + std::string(200, 'z')), {longest}},
        {"DroppedBytesDoNotCountTowardsLength",
         bytesOf(std::string(500, 'a') + std::string(700, '\r') + std::string(499, 'b') + "\n"),
         {std::string(500, 'a') + std::string(499, 'b')}},
    };
}

void PrintTo(const TextCase& textCase, std::ostream* out)
{
    *out << textCase.name;
}

class TextSplitTest : public testing::TestWithParam<TextCase> {};

TEST_P(TextSplitTest, SplitsLinesAndReadsExactlyThePayload)
{
    const TextCase& textCase = GetParam();
    OpenSpool spool(textCase.payload + Bytes{marker});
    ASSERT_NE(spool.stream(), nullptr);

    EXPECT_EQ(collectTextLines(spool.stream(), static_cast<int32_t>(textCase.payload.size())), textCase.lines);
    EXPECT_EQ(readByte(spool.stream()), marker);
}

INSTANTIATE_TEST_SUITE_P(Payloads, TextSplitTest, testing::ValuesIn(textCases()),
                         [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(TextSplit, EmptyOrNegativePayloadReadsNothing)
{
    OpenSpool spool({65, 10, 66});
    ASSERT_NE(spool.stream(), nullptr);
    for (int32_t size : {0, -1, -70000}) {
        EXPECT_TRUE(collectTextLines(spool.stream(), size).empty()) << size;
        EXPECT_EQ(tell(spool.stream()), 0) << size;
    }
}

TEST(TextSplit, PayloadPastTheFileEndReadsAsCharacterFF)
{
    struct Case {
        Bytes file;
        int32_t payloadSize;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{65, 66}, 4, {"AB\xFF\xFF"}},
        {{65, 66, 10, 67}, 6, {"AB", "C\xFF\xFF"}},
        {{65, 66, 10}, 3, {"AB"}},
        {{}, 3, {"\xFF\xFF\xFF"}},
        {{65, 66}, 100000, {"AB" + std::string(maxTextLineLength - 2, '\xFF')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payloadSize);
        OpenSpool spool(c.file);
        ASSERT_NE(spool.stream(), nullptr);
        EXPECT_EQ(collectTextLines(spool.stream(), c.payloadSize), c.lines);
        EXPECT_EQ(tell(spool.stream()), static_cast<int64_t>(c.file.size()));
    }
}

TEST(TextSplit, RecordPayloadIsItsExtentLessTheHeader)
{
    SpoolDatabase database;
    database.records = {textRecord("Dear sir,\r\n\r\nyours\n", recordFlagContinued), textRecord("P.S.")};
    OpenSpool spool(buildSpoolFile(database));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(stream, 0, &offset, &size);
    ASSERT_EQ(seekTo(stream, offset), 0);
    RecordHeader header = readRecordHeader(stream);
    EXPECT_EQ(header.kind, recordKindText);
    EXPECT_EQ(header.flags, recordFlagContinued);
    EXPECT_EQ(collectTextLines(stream, size - 2), (std::vector<std::string>{"Dear sir,", "", "yours"}));
    EXPECT_EQ(tell(stream), static_cast<int64_t>(recordStart(database, 1)));

    readRecordExtent(stream, 1, &offset, &size);
    readRecordHeader(stream);
    EXPECT_EQ(collectTextLines(stream, size - 2), std::vector<std::string>{"P.S."});
}

// ---- Record and image headers ---------------------------------------------

TEST(RecordHeaderRead, KindAndFlagsAsStored)
{
    OpenSpool spool({1, 0x01, 0, 0x80, 5, 0x81, 0xFF, 0x7E, 7});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    const RecordHeader expected[] = {{1, 0x01}, {0, 0x80}, {5, 0x81}, {0xFF, 0x7E}};
    for (const RecordHeader& want : expected) {
        RecordHeader got = readRecordHeader(stream);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.flags, want.flags);
    }
    // A header cut by the end of the file must not chain on to another
    // record: whatever of it is missing has no flags.
    RecordHeader half = readRecordHeader(stream);
    EXPECT_EQ(half.kind, 7);
    EXPECT_EQ(half.flags, 0);
    RecordHeader none = readRecordHeader(stream);
    EXPECT_EQ(none.kind, -1);
    EXPECT_EQ(none.flags, 0);
}

TEST(ImageHeaderRead, FieldsAreUnsignedAndStreamIsLeftAtTheBitmap)
{
    ImageFields fields;
    fields.flags = recordFlagCompressed;
    fields.width = 0xFFFF;
    fields.height = 0x8001;
    fields.x = 3;
    fields.y = 0x1234;
    fields.xResolution = 600;
    fields.yResolution = 0xFFFE;
    OpenSpool spool(imageRecord(fields, {0x42, 0x43}));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    RecordHeader record = readRecordHeader(stream);
    EXPECT_EQ(record.kind, recordKindImage);
    EXPECT_EQ(record.flags, recordFlagCompressed);
    ImageHeader header = readImageHeader(stream);
    EXPECT_EQ(header.width, 0xFFFF);
    EXPECT_EQ(header.height, 0x8001);
    EXPECT_EQ(header.x, 3);
    EXPECT_EQ(header.y, 0x1234);
    EXPECT_EQ(header.xResolution, 600);
    EXPECT_EQ(header.yResolution, 0xFFFE);
    EXPECT_EQ(tell(stream), imageBitmapOffset);
    EXPECT_EQ(readByte(stream), 0x42);
}

TEST(ImageBitsSize, RowsRoundUpToWholeBytes)
{
    struct Case {
        int width;
        int height;
        size_t size;
    };
    const Case cases[] = {{1, 1, 1}, {8, 3, 3}, {9, 2, 4}, {16, 2, 4}, {17, 1, 3}, {0, 5, 0}, {5, 0, 0},
                          {65535, 65535, size_t(8192) * 65535}};
    for (const Case& c : cases) {
        ImageHeader header = {};
        header.width = c.width;
        header.height = c.height;
        EXPECT_EQ(imageBitsSize(header), c.size) << c.width << "x" << c.height;
    }
}

// ---- Bitmap decoding --------------------------------------------------------

TEST(RawBitmap, SixteenByTwoIsFourBytesAfterTheRecordPrefix)
{
    ImageFields fields;
    fields.width = 16;
    fields.height = 2;
    Bytes record = imageRecord(fields, {0x12, 0x34, 0x56, 0x78});
    ASSERT_EQ(record.size(), 22u);
    OpenSpool spool(record + Bytes{marker});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    readRecordHeader(stream);
    ImageHeader header = readImageHeader(stream);
    DecodedImage image = decodeBitmap(stream, header.width, header.height, false);
    EXPECT_EQ(image.result, 0);
    EXPECT_EQ(image.rowBytes, 2);
    EXPECT_EQ(image.bits, (Bytes{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(image.endPosition, 22);
    EXPECT_EQ(readByte(stream), marker);
}

// One bitmap's data, in a file of its own, with what the decoder must make
// of it. Unless the data runs to the end of the file, a marker follows it and
// the decoder must stop right before the marker.
struct BitmapCase {
    std::string name;
    bool compressed;
    int width;
    int height;
    Bytes data;
    Bytes bits;
    bool endsFile;
};

Bytes repeated(const Bytes& pattern, int times)
{
    Bytes out;
    for (int i = 0; i < times; i++) {
        out.insert(out.end(), pattern.begin(), pattern.end());
    }
    return out;
}

std::vector<BitmapCase> bitmapCases()
{
    return {
        {"RawWidthOneIsOneBytePerRow", false, 1, 3, {0x80, 0x00, 0x80}, {0x80, 0x00, 0x80}, false},
        {"RawWidthNineIsTwoBytesPerRow", false, 9, 2, {0xFF, 0x80, 0x7F, 0x00}, {0xFF, 0x80, 0x7F, 0x00}, false},
        {"RawZerosAreData", false, 8, 3, {0x00, 0x00, 0x01}, {0x00, 0x00, 0x01}, false},
        {"RawCutByFileEndRestWhite", false, 16, 2, {1, 2, 3}, {1, 2, 3, 0}, true},
        {"RawNothingBeforeFileEnd", false, 16, 1, {}, {0, 0}, true},

        {"NoOpsBeforeRuns", true, 16, 1, {0x00, 0x00, 0x00, 0x05, 0xAA, 0xBB}, {0xAA, 0xBB}, false},
        {"NoOpsBetweenRuns", true, 16, 1, {0x01, 0xAA, 0x00, 0x00, 0x01, 0xBB}, {0xAA, 0xBB}, false},
        {"FFCopies64FromAbove", true, 16, 33, {0x05, 0x12, 0x34, 0xFF}, repeated({0x12, 0x34}, 33), false},
        {"FCFills64", true, 64, 8, {0xFC, 0x5A}, Bytes(64, 0x5A), false},
        {"01IsOneLiteral", true, 8, 1, {0x01, 0xC3}, {0xC3}, false},
        {"02IsOneZero", true, 8, 2, {0x02, 0x01, 0x7E}, {0x00, 0x7E}, false},
        {"FillCountFromControl", true, 8, 5, {0x0C, 0x77, 0x02}, {0x77, 0x77, 0x77, 0x77, 0x00}, false},
        {"FEIs64Zeros", true, 8, 65, {0xFE, 0x01, 0x42}, Bytes(64, 0) + Bytes{0x42}, false},
        {"CopyRunsForwardOverRowsOfFour", true, 32, 3, {0x0D, 0x11, 0x22, 0x33, 0x44, 0x1F},
         repeated({0x11, 0x22, 0x33, 0x44}, 3), false},
        {"CopyFromMidRow", true, 40, 3, {0x09, 0xA1, 0xA2, 0xA3, 0x06, 0x27},
         repeated({0xA1, 0xA2, 0xA3, 0x00, 0x00}, 3), false},
        {"CopyInFirstRowIsWhite", true, 16, 2, {0x07, 0x05, 0xAB, 0xCD}, {0x00, 0x00, 0xAB, 0xCD}, false},
        {"CopyPartlyInFirstRow", true, 32, 2, {0x05, 0x11, 0x22, 0x17},
         {0x11, 0x22, 0x00, 0x00, 0x11, 0x22, 0x00, 0x00}, false},
        {"CopyOverRowsOfOne", true, 8, 6, {0x01, 0xA5, 0x13}, Bytes(6, 0xA5), false},
        {"CopyOverRowsOfTwo", true, 16, 3, {0x05, 0xC1, 0xC2, 0x0F}, repeated({0xC1, 0xC2}, 3), false},
        {"CopyOverRowsOfThree", true, 24, 3, {0x09, 0x01, 0x02, 0x03, 0x17}, repeated({1, 2, 3}, 3), false},
        {"FillOverrunsEnd", true, 16, 1, {0x0C, 0x77}, {0x77, 0x77}, false},
        {"LiteralOverrunConsumesAllItsBytes", true, 16, 1, {0x01, 0xAA, 0x09, 0xBB, 0xCC, 0xDD}, {0xAA, 0xBB},
         false},
        {"ZerosOverrunEnd", true, 16, 1, {0x01, 0xAA, 0x0E}, {0xAA, 0x00}, false},
        {"CopyOverrunsEnd", true, 8, 3, {0x01, 0xAA, 0x1F}, {0xAA, 0xAA, 0xAA}, false},
        {"FillValueAtFileEndIsBlack", true, 32, 1, {0x0C}, {0xFF, 0xFF, 0xFF, 0xFF}, true},
        {"LiteralCutByFileEndIsBlack", true, 32, 1, {0x0D, 0x11, 0x22}, {0x11, 0x22, 0xFF, 0xFF}, true},
        {"ControlAtFileEndLeavesRestWhite", true, 32, 1, {0x05, 0x11, 0x22}, {0x11, 0x22, 0x00, 0x00}, true},
        {"OnlyNoOpsBeforeFileEnd", true, 16, 1, {0x00, 0x00}, {0x00, 0x00}, true},
    };
}

void PrintTo(const BitmapCase& bitmap, std::ostream* out)
{
    *out << bitmap.name;
}

class BitmapDecodeTest : public testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapDecodeTest, DecodesAndConsumesExactlyTheData)
{
    const BitmapCase& bitmap = GetParam();
    Bytes prefix = {0x33, 0x44, 0x55};  // the decoder starts where the stream is
    OpenSpool spool(prefix + bitmap.data + (bitmap.endsFile ? Bytes() : Bytes{marker}));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(seekTo(stream, 3), 0);

    DecodedImage image = decodeBitmap(stream, bitmap.width, bitmap.height, bitmap.compressed);
    EXPECT_EQ(image.result, 0);
    EXPECT_EQ(image.rowBytes, rowBytesFor(bitmap.width));
    EXPECT_EQ(image.bits, bitmap.bits);
    EXPECT_EQ(image.endPosition, static_cast<int64_t>(prefix.size() + bitmap.data.size()));
    EXPECT_EQ(readByte(stream), bitmap.endsFile ? -1 : marker);
}

INSTANTIATE_TEST_SUITE_P(Data, BitmapDecodeTest, testing::ValuesIn(bitmapCases()),
                         [](const testing::TestParamInfo<BitmapCase>& info) { return info.param.name; });

TEST(BitmapDecode, BitmapRunsOnThroughTheFollowingRecords)
{
    const int width = 16;
    const int height = 4;
    Bytes wanted = {0x11, 0x22, 0x11, 0x22, 0x11, 0x22, 0x11, 0x22};
    struct Split {
        bool compressed;
        Bytes inImage;
        Bytes nextRecord;  // read as bitmap data, kind byte and all
    };
    const Split splits[] = {
        {false, {0x11, 0x22, 0x11}, {0x22, 0x11, 0x22, 0x11, 0x22}},
        {true, {0x05, 0x11}, {0x22, 0x17}},
    };
    for (const Split& split : splits) {
        SCOPED_TRACE(split.compressed);
        ImageFields fields;
        fields.width = width;
        fields.height = height;
        fields.flags = split.compressed ? recordFlagCompressed : 0;
        SpoolDatabase database;
        database.records = {imageRecord(fields, split.inImage), split.nextRecord, textRecord("after")};
        OpenSpool spool(buildSpoolFile(database));
        SpoolStream* stream = spool.stream();
        ASSERT_NE(stream, nullptr);

        ASSERT_EQ(seekTo(stream, recordStart(database, 0) + imageBitmapOffset), 0);
        DecodedImage image = decodeBitmap(stream, width, height, split.compressed);
        EXPECT_EQ(image.bits, wanted);
        EXPECT_EQ(image.endPosition, static_cast<int64_t>(recordStart(database, 2)));
    }
}

TEST(BitmapDecode, EmptyBitmapReadsNothing)
{
    const int sizes[][2] = {{0, 5}, {5, 0}, {0, 0}, {0, 65535}};
    for (const auto& size : sizes) {
        for (bool compressed : {false, true}) {
            OpenSpool spool({0x0C, 0x77, 0x01, 0x02});
            ASSERT_NE(spool.stream(), nullptr);
            DecodedImage image = decodeBitmap(spool.stream(), size[0], size[1], compressed);
            EXPECT_EQ(image.result, 0);
            EXPECT_FALSE(image.hadBuffer);
            EXPECT_EQ(image.endPosition, 0) << size[0] << "x" << size[1];
        }
    }
}

TEST(BitmapDecode, DefaultMemoryLimitLetsTheLargestBitmapThrough)
{
    ImageHeader largest = {};
    largest.width = 65535;
    largest.height = 65535;
    EXPECT_GE(imageMemoryLimit(), imageBitsSize(largest));
}

TEST(BitmapDecode, RefusedBufferReadsNothing)
{
    ImageMemoryLimitGuard guard;
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed);
        Bytes data = compressed ? Bytes{0x1C, 0x66} : Bytes(8, 0x66);
        OpenSpool spool(Bytes{0x01, 0x02} + data);
        SpoolStream* stream = spool.stream();
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(seekTo(stream, 2), 0);

        setImageMemoryLimit(7);  // one short of 16 x 4
        DecodedImage refused = decodeBitmap(stream, 16, 4, compressed);
        EXPECT_EQ(refused.result, -1);
        EXPECT_FALSE(refused.hadBuffer);
        EXPECT_EQ(refused.endPosition, 2);
        EXPECT_EQ(readByte(stream), data[0]);

        setImageMemoryLimit(8);
        ASSERT_EQ(seekTo(stream, 2), 0);
        DecodedImage allowed = decodeBitmap(stream, 16, 4, compressed);
        EXPECT_EQ(allowed.result, 0);
        EXPECT_EQ(allowed.bits, Bytes(8, 0x66));
    }
}

// ---- Round trips through the encoder -------------------------------------

struct RunCensus {
    int noOps = 0;
    int fills = 0;
    int literals = 0;
    int zeros = 0;
    int copies = 0;
};

RunCensus countRuns(const Bytes& encoded)
{
    RunCensus census;
    for (size_t at = 0; at < encoded.size();) {
        int control = encoded[at++];
        int n = (control >> 2) + 1;
        if (control == 0) {
            census.noOps++;
        } else if ((control & 3) == 0) {
            census.fills++;
            at += 1;
        } else if ((control & 3) == 1) {
            census.literals++;
            at += n;
        } else if ((control & 3) == 2) {
            census.zeros++;
        } else {
            census.copies++;
        }
    }
    return census;
}

TEST(RunEncoder, UsesEveryKindOfRun)
{
    // One row of each pattern, then that row again; and a page-like bitmap.
    Bytes row = {0x11, 0x22, 0x33, 0x00, 0x00, 0x00, 0x7F, 0x7F, 0x7F, 0x7F};
    struct Input {
        Bytes bits;
        int rowBytes;
    };
    const Input inputs[] = {{row + row, 10}, {makeTestBitmap(16, 40, 7), 16}};
    for (const Input& input : inputs) {
        Bytes encoded = encodeImageRuns(input.bits, input.rowBytes);
        RunCensus census = countRuns(encoded);
        EXPECT_GT(census.fills, 0);
        EXPECT_GT(census.literals, 0);
        EXPECT_GT(census.zeros, 0);
        EXPECT_GT(census.copies, 0);
        EXPECT_LT(encoded.size(), input.bits.size());

        OpenSpool spool(encoded);
        ASSERT_NE(spool.stream(), nullptr);
        int height = static_cast<int>(input.bits.size()) / input.rowBytes;
        EXPECT_EQ(decodeBitmap(spool.stream(), input.rowBytes * 8, height, true).bits, input.bits);
    }
}

class BitmapRoundTripTest : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(BitmapRoundTripTest, RecordDecodesToTheBitmapItWasMadeFrom)
{
    const int width = std::get<0>(GetParam());
    const int height = std::get<1>(GetParam());
    const int rowBytes = rowBytesFor(width);
    for (uint32_t seed = 1; seed <= 3; seed++) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << (compressed ? " compressed" : " raw"));
            Bytes bits = makeTestBitmap(rowBytes, height, seed * 1000 + static_cast<uint32_t>(width));
            ImageFields fields;
            fields.width = width;
            fields.height = height;
            fields.flags = compressed ? recordFlagCompressed : 0;
            SpoolDatabase database;
            database.records = {imageRecord(fields, compressed ? encodeImageRuns(bits, rowBytes) : bits),
                                textRecord("after")};
            OpenSpool spool(buildSpoolFile(database));
            SpoolStream* stream = spool.stream();
            ASSERT_NE(stream, nullptr);

            int32_t offset = 0;
            readRecordExtent(stream, 0, &offset, nullptr);
            ASSERT_EQ(seekTo(stream, offset), 0);
            RecordHeader record = readRecordHeader(stream);
            ImageHeader header = readImageHeader(stream);
            DecodedImage image =
                decodeBitmap(stream, header.width, header.height, (record.flags & recordFlagCompressed) != 0);
            EXPECT_EQ(image.result, 0);
            EXPECT_EQ(image.bits, bits);
            EXPECT_EQ(image.endPosition, static_cast<int64_t>(recordStart(database, 1)));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BitmapRoundTripTest,
                         testing::Combine(testing::Values(1, 7, 8, 9, 17, 33, 100, 517),
                                          testing::Values(1, 2, 5, 31, 64)));

}  // namespace
