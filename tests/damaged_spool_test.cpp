// Damaged spool files, one fault per case: the reader and the decoders must
// neither crash nor misread, and bytes past the end of the file read by the
// documented rules (-1 from the stream, 0xFF in integer fields and payloads).
#include <gtest/gtest.h>

#include "spool/spool_records.h"
#include "spool/spool_stream.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

SpoolDatabase soundDatabase()
{
    ImageFields fields;
    fields.width = 32;
    fields.height = 3;
    fields.flags = recordFlagContinued;
    SpoolDatabase database;
    database.records = {textRecord("hello\n", recordFlagContinued),
                        imageRecord(fields, Bytes(12, 0x3C)),
                        textRecord("bye\n")};
    return database;
}

// Reads every record the way the renderer does, whatever the extents say,
// and checks what must hold for any file. Bitmaps are capped so that a
// garbage header can't ask for half a gigabyte per record.
void readEveryRecord(SpoolStream* stream)
{
    ImageMemoryLimitGuard guard;
    setImageMemoryLimit(1 << 20);
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    for (int i = 0; i < count; i++) {
        SCOPED_TRACE(i);
        int32_t offset = 0;
        int32_t size = 0;
        readRecordExtent(stream, i, &offset, &size);
        if (seekTo(stream, offset) != 0) {
            EXPECT_LT(offset, 0);
            continue;
        }
        RecordHeader record = readRecordHeader(stream);
        EXPECT_GE(record.flags, 0);
        if (record.kind == recordKindText) {
            int64_t before = tell(stream);
            std::vector<std::string> lines = collectTextLines(stream, size - 2);
            for (const std::string& line : lines) {
                EXPECT_LE(line.size(), static_cast<size_t>(maxTextLineLength));
            }
            if (size - 2 <= 0) {
                EXPECT_TRUE(lines.empty());
                EXPECT_EQ(tell(stream), before);
            }
        } else if (record.kind == recordKindImage) {
            ImageHeader header = readImageHeader(stream);
            int64_t before = tell(stream);
            DecodedImage image =
                decodeBitmap(stream, header.width, header.height, (record.flags & recordFlagCompressed) != 0);
            if (image.result != 0) {
                EXPECT_EQ(image.endPosition, before);
            } else {
                EXPECT_EQ(image.bits.size(), imageBitsSize(header));
            }
        }
    }
}

TEST(DamagedSpool, EmptyFileReadsAsAllOnes)
{
    OpenSpool spool({});
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->length, 0);
    EXPECT_EQ(readByte(stream), -1);

    int count = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    readSpoolHeader(stream, &count, &type, &creator);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(type, 0xFFFFFFFFu);
    EXPECT_EQ(creator, 0xFFFFFFFFu);

    // The start offset is all ones (-1) and, as the last record, its size is
    // the file length minus that.
    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(stream, 0, &offset, &size);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(seekTo(stream, offset), -1);

    ASSERT_EQ(seekTo(stream, 0), 0);
    RecordHeader record = readRecordHeader(stream);
    EXPECT_EQ(record.kind, -1);
    EXPECT_EQ(record.flags, 0);
    EXPECT_EQ(decodeBitmap(stream, 16, 2, true).bits, Bytes(4, 0));
    EXPECT_EQ(decodeBitmap(stream, 16, 2, false).bits, Bytes(4, 0));
    EXPECT_EQ(collectTextLines(stream, 3), std::vector<std::string>{"\xFF\xFF\xFF"});
}

TEST(DamagedSpool, HeaderCutShortFoldsMissingBytesToFF)
{
    struct Case {
        size_t length;
        uint32_t type;
        uint32_t creator;
        int count;
    };
    // The sound file's type is "PRNT", its creator "FqTs", its count 3.
    const Case cases[] = {
        {10, 0xFFFFFFFF, 0xFFFFFFFF, -1},
        {62, 0x5052FFFF, 0xFFFFFFFF, -1},
        {66, testDatabaseType, 0x4671FFFF, -1},
        {76, testDatabaseType, testDatabaseCreator, -1},
        {77, testDatabaseType, testDatabaseCreator, 0x00FF},
        {78, testDatabaseType, testDatabaseCreator, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        SpoolDatabase database = soundDatabase();
        database.truncateTo = c.length;
        OpenSpool spool(buildSpoolFile(database));
        ASSERT_NE(spool.stream(), nullptr);

        int count = 0;
        uint32_t type = 0;
        uint32_t creator = 0;
        readSpoolHeader(spool.stream(), &count, &type, &creator);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(creator, c.creator);
        EXPECT_EQ(count, c.count);

        int32_t offset = 0;
        readRecordExtent(spool.stream(), 0, &offset, nullptr);
        EXPECT_EQ(offset, -1);
        readEveryRecord(spool.stream());
    }
}

TEST(DamagedSpool, CountBeyondTheRecordList)
{
    SpoolDatabase database = soundDatabase();
    database.storedCount = 0x7FFF;
    Bytes file = buildSpoolFile(database);
    OpenSpool spool(file);
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(seekTo(stream, 90), 0);

    // Entries wholly past the end read as -1: a size of 0 between two of
    // them, and for the last one the file length minus -1.
    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(stream, 20000, &offset, &size);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, 0);
    readRecordExtent(stream, 0x7FFE, &offset, &size);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, static_cast<int32_t>(file.size()) + 1);
    EXPECT_EQ(tell(stream), 90);

    // The real entries still read as they are.
    readRecordExtent(stream, 0, &offset, &size);
    EXPECT_EQ(offset, static_cast<int32_t>(recordStart(database, 0)));
    EXPECT_EQ(size, static_cast<int32_t>(database.records[0].size()));

    database.storedCount = 40;  // also reads entries out of the record data
    OpenSpool partly(buildSpoolFile(database));
    ASSERT_NE(partly.stream(), nullptr);
    readEveryRecord(partly.stream());
}

TEST(DamagedSpool, RecordStartsPastTheFileEnd)
{
    SpoolDatabase database = soundDatabase();
    uint32_t end = static_cast<uint32_t>(buildSpoolFile(database).size());
    database.startOffsets[1] = end + 100;
    database.startOffsets[2] = end + 110;
    OpenSpool spool(buildSpoolFile(database));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(stream, 1, &offset, &size);
    EXPECT_EQ(offset, static_cast<int32_t>(end + 100));
    EXPECT_EQ(size, 10);
    ASSERT_EQ(seekTo(stream, offset), 0);
    RecordHeader record = readRecordHeader(stream);
    EXPECT_EQ(record.kind, -1);
    EXPECT_EQ(record.flags, 0);
    EXPECT_EQ(collectTextLines(stream, size - 2), std::vector<std::string>{std::string(8, '\xFF')});

    // The last record's extent runs back to the file end: a negative size.
    readRecordExtent(stream, 2, &offset, &size);
    EXPECT_EQ(size, -110);
    ASSERT_EQ(seekTo(stream, offset), 0);
    EXPECT_TRUE(collectTextLines(stream, size - 2).empty());
    EXPECT_EQ(tell(stream), offset);

    readEveryRecord(stream);
}

TEST(DamagedSpool, RecordsOutOfOrderGiveNegativeSizes)
{
    SpoolDatabase database = soundDatabase();
    database.startOffsets[0] = recordStart(database, 1);
    database.startOffsets[1] = recordStart(database, 0);
    OpenSpool spool(buildSpoolFile(database));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(stream, 0, &offset, &size);
    EXPECT_EQ(size, -static_cast<int32_t>(database.records[0].size()));
    ASSERT_EQ(seekTo(stream, offset), 0);
    readRecordHeader(stream);
    int64_t before = tell(stream);
    EXPECT_TRUE(collectTextLines(stream, size - 2).empty());
    EXPECT_EQ(tell(stream), before);

    readEveryRecord(stream);
}

TEST(DamagedSpool, BitmapCutShortByTheFileEnd)
{
    struct Case {
        const char* name;
        bool compressed;
        Bytes data;
        size_t keep;  // bitmap bytes left before the cut
        Bytes bits;
    };
    const Case cases[] = {
        {"raw", false, Bytes(12, 0x3C), 6, Bytes(6, 0x3C) + Bytes(6, 0)},
        {"raw, nothing left", false, Bytes(12, 0x3C), 0, Bytes(12, 0)},
        {"fill value cut", true, {0x0D, 0x11, 0x22, 0x33, 0x44, 0x0C, 0x55}, 6,
         Bytes{0x11, 0x22, 0x33, 0x44, 0xFF, 0xFF, 0xFF, 0xFF} + Bytes(4, 0)},
        {"literal cut", true, {0x0D, 0x11, 0x22, 0x33, 0x44, 0x1F}, 3,
         Bytes{0x11, 0x22, 0xFF, 0xFF} + Bytes(8, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFields fields;
        fields.width = 32;
        fields.height = 3;
        fields.flags = c.compressed ? recordFlagCompressed : 0;
        SpoolDatabase database;
        database.records = {imageRecord(fields, c.data)};
        size_t bitmapStart = recordStart(database, 0) + imageBitmapOffset;
        database.truncateTo = bitmapStart + c.keep;
        OpenSpool spool(buildSpoolFile(database));
        SpoolStream* stream = spool.stream();
        ASSERT_NE(stream, nullptr);

        ASSERT_EQ(seekTo(stream, recordStart(database, 0)), 0);
        RecordHeader record = readRecordHeader(stream);
        ImageHeader header = readImageHeader(stream);
        DecodedImage image =
            decodeBitmap(stream, header.width, header.height, (record.flags & recordFlagCompressed) != 0);
        EXPECT_EQ(image.result, 0);
        EXPECT_EQ(image.bits, c.bits);
        EXPECT_EQ(image.endPosition, static_cast<int64_t>(bitmapStart + c.keep));
    }
}

TEST(DamagedSpool, ImageHeaderCutShortAsksForTheLargestBitmap)
{
    // Cut after the width: every later field reads as 0xFFFF, so the bitmap
    // is as large as the format allows. With a host limit below that, the
    // decoder refuses it instead of allocating.
    ImageFields fields;
    fields.width = 40;
    fields.height = 2;
    SpoolDatabase database;
    database.records = {imageRecord(fields, Bytes(10, 0x81))};
    database.truncateTo = recordStart(database, 0) + 4;
    OpenSpool spool(buildSpoolFile(database));
    SpoolStream* stream = spool.stream();
    ASSERT_NE(stream, nullptr);

    ASSERT_EQ(seekTo(stream, recordStart(database, 0)), 0);
    readRecordHeader(stream);
    ImageHeader header = readImageHeader(stream);
    EXPECT_EQ(header.width, 40);
    EXPECT_EQ(header.height, 0xFFFF);
    EXPECT_EQ(header.yResolution, 0xFFFF);

    ImageMemoryLimitGuard guard;
    setImageMemoryLimit(64 * 1024);
    DecodedImage image = decodeBitmap(stream, header.width, header.height, false);
    EXPECT_EQ(image.result, -1);
    EXPECT_FALSE(image.hadBuffer);
}

TEST(DamagedSpool, TrailingJunkAndOddKindsReadCleanly)
{
    SpoolDatabase database = soundDatabase();
    database.records.push_back(textRecord(Bytes{'z', 'z'}, recordFlagContinued, 5));
    database.trailingBytes = Bytes(300, 0xFF);
    OpenSpool spool(buildSpoolFile(database));
    ASSERT_NE(spool.stream(), nullptr);
    readEveryRecord(spool.stream());

    int32_t offset = 0;
    int32_t size = 0;
    readRecordExtent(spool.stream(), 3, &offset, &size);
    EXPECT_EQ(size, 4 + 300);
    ASSERT_EQ(seekTo(spool.stream(), offset), 0);
    RecordHeader record = readRecordHeader(spool.stream());
    EXPECT_EQ(record.kind, 5);
    EXPECT_EQ(record.flags, recordFlagContinued);
}

}  // namespace
