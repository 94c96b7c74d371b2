// The spool stream: byte and integer reads, positioning, the header and the
// record extents, and the buffer window the renderer leans on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "spool/spool_stream.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

TEST(SpoolStream, ReadsBytesAndBigEndianIntegersInOrder)
{
    OpenSpool spool({0x01, 0x02, 0x03, 0x84, 0x05, 0x06, 0xF7});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->length, 7);
    EXPECT_EQ(readByte(stream), 0x01);
    EXPECT_EQ(readBE16(stream), 0x0203);
    EXPECT_EQ(readBE32(stream), 0x840506F7u);
    EXPECT_EQ(tell(stream), 7);
    EXPECT_EQ(readByte(stream), -1);
}

TEST(SpoolStream, EndOfDataLeavesThePositionAndReadsAsAllOnes)
{
    OpenSpool spool({0xAB, 0xCD, 0x12});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    ASSERT_EQ(seekTo(stream, 2), 0);
    EXPECT_EQ(readBE16(stream), 0x12FF);  // half the field past the end
    EXPECT_EQ(tell(stream), 3);
    EXPECT_EQ(readByte(stream), -1);
    EXPECT_EQ(readByte(stream), -1);
    EXPECT_EQ(tell(stream), 3);
    EXPECT_EQ(readBE16(stream), 0xFFFF);
    EXPECT_EQ(readBE32(stream), 0xFFFFFFFFu);
    EXPECT_EQ(tell(stream), 3);

    unsigned char into[8] = {};
    ASSERT_EQ(seekTo(stream, 1), 0);
    EXPECT_EQ(readBytes(stream, into, 8), 2);
    EXPECT_EQ(into[0], 0xCD);
    EXPECT_EQ(into[1], 0x12);
    EXPECT_EQ(tell(stream), 3);
}

TEST(SpoolStream, SeekAndTell)
{
    OpenSpool spool({10, 11, 12, 13, 14});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(tell(stream), 0);

    EXPECT_EQ(seekTo(stream, 3), 0);
    EXPECT_EQ(readByte(stream), 13);
    EXPECT_EQ(seekTo(stream, -1), -1);  // refused, position kept
    EXPECT_EQ(tell(stream), 4);
    EXPECT_EQ(readByte(stream), 14);

    EXPECT_EQ(seekTo(stream, 1000), 0);  // past the end is allowed
    EXPECT_EQ(tell(stream), 1000);
    EXPECT_EQ(readByte(stream), -1);
    EXPECT_EQ(tell(stream), 1000);

    seekToEnd(stream);
    EXPECT_EQ(tell(stream), 5);
    EXPECT_EQ(readByte(stream), -1);

    EXPECT_EQ(seekTo(stream, 0), 0);
    EXPECT_EQ(readByte(stream), 10);
}

TEST(SpoolStream, MissingFileGivesNoStream)
{
    std::string path = uniqueTempPath();
    EXPECT_EQ(openSpoolStream(path.c_str()), nullptr);
    closeSpoolStream(nullptr);
}

// The Windows C runtime translates CR LF and stops at 0x1A unless the file is
// opened as binary; under Wine this test runs on that runtime.
TEST(SpoolStream, ReadsEveryByteAsStoredWithoutTextTranslation)
{
    Bytes contents = {'A', 0x0D, 0x0A, 'B', 0x1A, 'C', 0x0A, 0x0D, 0x1A, 0x1A, 0x00, 0xFF, 'D'};
    OpenSpool spool(contents);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->length, static_cast<int64_t>(contents.size()));

    Bytes got;
    for (int value = readByte(stream); value >= 0; value = readByte(stream)) {
        got.push_back(static_cast<unsigned char>(value));
    }
    EXPECT_EQ(got, contents);
}

// A file of several buffer windows with no repeating 64 KiB pattern, so a
// window filled from the wrong offset shows.
Bytes patternedBytes(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; i++) {
        bytes[i] = static_cast<unsigned char>((i * 7) ^ (i >> 8) ^ (i >> 16));
    }
    return bytes;
}

TEST(SpoolStreamBuffering, ByteByByteReadMatchesTheFileAcrossWindows)
{
    Bytes contents = patternedBytes(200 * 1024);
    OpenSpool spool(contents);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    size_t mismatches = 0;
    for (size_t i = 0; i < contents.size(); i++) {
        mismatches += readByte(stream) != contents[i];
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(readByte(stream), -1);
    EXPECT_EQ(tell(stream), static_cast<int64_t>(contents.size()));
}

TEST(SpoolStreamBuffering, SeeksBackAndForthReadTheRightBytes)
{
    Bytes contents = patternedBytes(200 * 1024);
    OpenSpool spool(contents);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    auto expectReadAt = [&](int64_t at, int count) {
        SCOPED_TRACE(at);
        ASSERT_EQ(seekTo(stream, at), 0);
        for (int i = 0; i < count && at + i < static_cast<int64_t>(contents.size()); i++) {
            ASSERT_EQ(readByte(stream), contents[static_cast<size_t>(at + i)]) << "byte " << at + i;
        }
    };
    // Around the window edge, forwards and back.
    for (int64_t at : {65530, 65535, 65536, 65534, 0, 131071, 65537, 131072, 65536 - 1, 204799}) {
        expectReadAt(at, 9);
    }

    ASSERT_EQ(seekTo(stream, 65534), 0);
    EXPECT_EQ(readBE32(stream), (uint32_t(contents[65534]) << 24) | (uint32_t(contents[65535]) << 16) |
                                    (uint32_t(contents[65536]) << 8) | contents[65537]);

    Bytes block(70000);
    ASSERT_EQ(seekTo(stream, 1000), 0);
    ASSERT_EQ(readBytes(stream, block.data(), 70000), 70000);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), contents.begin() + 1000));

    std::mt19937 random(20240611);
    for (int i = 0; i < 500; i++) {
        expectReadAt(random() % contents.size(), 1 + random() % 40);
    }
}

// A job reads the spool file whole into memory; the stream over those bytes
// must read exactly as the stream over the file does, the same operations
// in the same order.
TEST(SpoolStreamInMemory, ReadsAsTheFileStreamDoes)
{
    SpoolDatabase database;
    for (int i = 0; i < 40; i++) {
        database.records.push_back(textRecord(std::string(3000 + i, static_cast<char>('A' + i % 26)) + "\n"));
    }
    const Bytes files[] = {buildSpoolFile(database), Bytes{}, Bytes{0x01, 0x02, 0x03}, patternedBytes(100)};
    for (const Bytes& contents : files) {
        SCOPED_TRACE(contents.size());
        OpenSpool onFile(contents);
        unsigned char* copy = static_cast<unsigned char*>(std::malloc(contents.size() + 1));
        ASSERT_NE(copy, nullptr);
        std::copy(contents.begin(), contents.end(), copy);
        SpoolStream* inMemory = openSpoolStreamInMemory(copy, static_cast<int64_t>(contents.size()));
        SpoolStream* file = onFile.stream();
        ASSERT_NE(inMemory, nullptr);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->length, inMemory->length);
        EXPECT_EQ(file->recordCount, inMemory->recordCount);
        std::mt19937 random(20261209);
        for (int i = 0; i < 2000; i++) {
            int64_t at = static_cast<int64_t>(random() % (contents.size() + 20));
            ASSERT_EQ(seekTo(file, at), seekTo(inMemory, at));
            int32_t offsetA = 0, sizeA = 0, offsetB = 0, sizeB = 0;
            int record = static_cast<int>(random() % 45);
            readRecordExtent(file, record, &offsetA, &sizeA);
            readRecordExtent(inMemory, record, &offsetB, &sizeB);
            ASSERT_EQ(offsetA, offsetB);
            ASSERT_EQ(sizeA, sizeB);
            ASSERT_EQ(readBE32(file), readBE32(inMemory)) << "at " << at;
            ASSERT_EQ(readByte(file), readByte(inMemory));
            ASSERT_EQ(tell(file), tell(inMemory));
        }
        closeSpoolStream(inMemory);
    }
    EXPECT_EQ(openSpoolStreamInMemory(static_cast<unsigned char*>(std::malloc(1)), maxSpoolBytesInMemory + 1),
              nullptr);
}

TEST(SpoolStreamBuffering, ExtentReadsInsideAReadKeepThePosition)
{
    // The renderer asks for an extent between every record; the bytes after
    // that must carry on as if nothing happened, near window edges too.
    Bytes contents = patternedBytes(150 * 1024);
    contents[76] = 0;
    contents[77] = 3;
    OpenSpool spool(contents);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    for (int64_t at : {int64_t(10), int64_t(65535), int64_t(65536), int64_t(140000)}) {
        ASSERT_EQ(seekTo(stream, at), 0);
        for (int i = 0; i < 20; i++) {
            readRecordExtent(stream, i % 3, nullptr, nullptr);
            int32_t offset = 0;
            int32_t size = 0;
            readRecordExtent(stream, i % 3, &offset, &size);
            ASSERT_EQ(readByte(stream), contents[static_cast<size_t>(at + i)]) << "byte " << at + i;
        }
    }
}

SpoolDatabase threeRecordDatabase()
{
    SpoolDatabase database;
    database.records = {textRecord("first\n"), textRecord("second one\n"), textRecord("last")};
    return database;
}

struct HeaderRequest {
    bool count;
    bool type;
    bool creator;
};

class SpoolHeaderTest : public testing::TestWithParam<HeaderRequest> {};

TEST_P(SpoolHeaderTest, ReadsWhatIsAskedAndLeavesThePositionByCount)
{
    HeaderRequest request = GetParam();
    OpenSpool spool(buildSpoolFile(threeRecordDatabase()));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(seekTo(stream, 100), 0);

    int count = -7;
    uint32_t type = 1;
    uint32_t creator = 2;
    readSpoolHeader(stream, request.count ? &count : nullptr, request.type ? &type : nullptr,
                    request.creator ? &creator : nullptr);

    EXPECT_EQ(count, request.count ? 3 : -7);
    EXPECT_EQ(type, request.type ? testDatabaseType : 1u);
    EXPECT_EQ(creator, request.creator ? testDatabaseCreator : 2u);
    EXPECT_EQ(tell(stream), request.count ? 78 : 76);
}

INSTANTIATE_TEST_SUITE_P(EveryCombination, SpoolHeaderTest,
                         testing::Values(HeaderRequest{false, false, false}, HeaderRequest{true, false, false},
                                         HeaderRequest{false, true, false}, HeaderRequest{false, false, true},
                                         HeaderRequest{true, true, false}, HeaderRequest{true, false, true},
                                         HeaderRequest{false, true, true}, HeaderRequest{true, true, true}));

int storedCount(uint16_t field)
{
    SpoolDatabase database = threeRecordDatabase();
    database.storedCount = field;
    OpenSpool spool(buildSpoolFile(database));
    if (spool.stream() == nullptr) {
        ADD_FAILURE() << "no stream";
        return 0;
    }
    int count = 0;
    readSpoolHeader(spool.stream(), &count, nullptr, nullptr);
    return count;
}

TEST(SpoolHeader, CountIsSigned16Bit)
{
    EXPECT_EQ(storedCount(0), 0);
    EXPECT_EQ(storedCount(0x7FFF), 32767);
    EXPECT_EQ(storedCount(0x8000), -32768);
    EXPECT_EQ(storedCount(0xFFFF), -1);
}

TEST(RecordExtent, SizesRunToTheNextRecordAndTheLastToTheFileEnd)
{
    SpoolDatabase database = threeRecordDatabase();
    database.trailingBytes = Bytes(37, 0x5A);
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    for (int i = 0; i < 3; i++) {
        int32_t offset = -1;
        int32_t size = -1;
        readRecordExtent(stream, i, &offset, &size);
        EXPECT_EQ(offset, static_cast<int32_t>(recordStart(database, i))) << "record " << i;
        int32_t expectedSize = static_cast<int32_t>(database.records[i].size());
        if (i == 2) {
            expectedSize += 37;
        }
        EXPECT_EQ(size, expectedSize) << "record " << i;
    }
    int32_t offsetOnly = -1;
    readRecordExtent(stream, 1, &offsetOnly, nullptr);
    EXPECT_EQ(offsetOnly, static_cast<int32_t>(recordStart(database, 1)));
}

TEST(RecordExtent, LeavesThePositionWhereItWas)
{
    SpoolDatabase database = threeRecordDatabase();
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    int64_t middleOfSecond = recordStart(database, 1) + 4;
    for (int64_t at : {int64_t(0), int64_t(77), middleOfSecond, int64_t(file.size()), int64_t(file.size() + 50)}) {
        ASSERT_EQ(seekTo(stream, at), 0);
        int32_t offset = 0;
        int32_t size = 0;
        readRecordExtent(stream, 2, &offset, &size);
        EXPECT_EQ(tell(stream), at);
        readRecordExtent(stream, 0, &offset, nullptr);
        readRecordExtent(stream, 1, nullptr, &size);
        EXPECT_EQ(tell(stream), at);
    }
    ASSERT_EQ(seekTo(stream, middleOfSecond), 0);
    readRecordExtent(stream, 0, nullptr, nullptr);
    EXPECT_EQ(readByte(stream), file[static_cast<size_t>(middleOfSecond)]);
}

TEST(RecordExtent, TwoRecordsAtOneOffsetGiveTheFirstSizeZero)
{
    SpoolDatabase database = threeRecordDatabase();
    database.startOffsets[0] = recordStart(database, 1);
    OpenSpool spool(buildSpoolFile(database));
    ASSERT_NE(spool.stream(), nullptr);

    int32_t offset = 0;
    int32_t size = -1;
    readRecordExtent(spool.stream(), 0, &offset, &size);
    EXPECT_EQ(offset, static_cast<int32_t>(recordStart(database, 1)));
    EXPECT_EQ(size, 0);
}

TEST(RecordExtent, NegativeCountTreatsEveryRecordAsTheLast)
{
    // A count of 0xFFFF means no records; should anything still ask for an
    // extent, the size runs to the file's end.
    SpoolDatabase database = threeRecordDatabase();
    database.storedCount = 0xFFFF;
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    ASSERT_NE(spool.stream(), nullptr);

    int count = 0;
    readSpoolHeader(spool.stream(), &count, nullptr, nullptr);
    EXPECT_EQ(count, -1);
    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(spool.stream(), 0, &offset, &size);
    EXPECT_EQ(size, static_cast<int32_t>(file.size()) - offset);
}

TEST(RecordExtent, CountZeroMakesRecordZeroRunToTheFileEnd)
{
    // A job with no records; a stale record list after the count must not
    // give record 0 a size from the entry after it.
    SpoolDatabase database = threeRecordDatabase();
    database.storedCount = 0;
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    ASSERT_NE(spool.stream(), nullptr);

    int count = -1;
    readSpoolHeader(spool.stream(), &count, nullptr, nullptr);
    EXPECT_EQ(count, 0);
    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(spool.stream(), 0, &offset, &size);
    EXPECT_EQ(offset, static_cast<int32_t>(recordStart(database, 0)));
    EXPECT_EQ(size, static_cast<int32_t>(file.size()) - offset);
}

}  // namespace
