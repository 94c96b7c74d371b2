// Fuzzes the spool reader and the record decoders, without drawing.
//
// The input is the whole spool file. Records are visited in order the way the
// renderer meets them: a record that starts before the stream's position was
// consumed as data of an earlier one and is passed over, every other one is
// decoded from its start. Going forward only, each byte is decoded about once,
// so an input costs what its length says; the page render target adds the
// drawing on top of the same walk.
//
// Beyond "no crash, no sanitizer report", the walk checks where the stream is
// left after each step, which is what the next record's fate depends on.
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "spool/spool_records.h"
#include "spool/spool_stream.h"

namespace {

struct LineCount {
    int64_t lines;
    bool tooLong;
};

void countLine(void* context, const char* characters, int count)
{
    (void)characters;
    LineCount* seen = static_cast<LineCount*>(context);
    seen->lines++;
    if (count < 0 || count > maxTextLineLength) {
        seen->tooLong = true;
    }
}

// Where a read of `count` bytes from `start` leaves the stream: reads stop at
// the end of the file, and a position already past it stays put.
int64_t positionAfterReading(const SpoolStream* stream, int64_t start, int64_t count)
{
    if (start >= stream->length) {
        return start;
    }
    return start + count < stream->length ? start + count : stream->length;
}

void decodeText(SpoolStream* stream, int32_t size)
{
    int32_t payload = size > 2 ? size - 2 : 0;
    int64_t start = tell(stream);
    LineCount seen = {0, false};
    splitTextLines(stream, payload, countLine, &seen);
    fuzzCheck(!seen.tooLong, "no text line is longer than the line limit");
    fuzzCheck(seen.lines <= payload, "every text line takes at least one payload byte");
    fuzzCheck(tell(stream) == positionAfterReading(stream, start, payload), "text reads exactly its payload");
}

void decodeImage(SpoolStream* stream, bool compressed)
{
    ImageHeader header = readImageHeader(stream);
    int64_t start = tell(stream);
    ImageBits bits;
    int result = decodeImageBits(stream, header, compressed, &bits);
    size_t size = imageBitsSize(header);
    if (result != 0) {
        fuzzCheck(bits.bits == nullptr && tell(stream) == start, "a refused bitmap reads nothing");
        return;
    }
    fuzzCheck((bits.bits != nullptr) == (size > 0), "a bitmap buffer is there exactly when it has bytes");
    fuzzCheck(bits.rowBytes == (header.width + 7) / 8, "rows are whole bytes");
    if (compressed) {
        fuzzCheck(tell(stream) >= start && tell(stream) <= positionAfterReading(stream, start, INT64_MAX / 2),
                  "compressed data is read forward and not past the end");
    } else {
        fuzzCheck(tell(stream) == positionAfterReading(stream, start, static_cast<int64_t>(size)),
                  "a raw bitmap reads exactly its bytes");
    }
    // Touch the whole buffer, so a bitmap that claims bytes it does not have
    // shows up under the address sanitizer.
    unsigned char seen = 0;
    for (size_t at = 0; at < size; at += 4096) {
        seen |= bits.bits[at];
    }
    if (size > 0) {
        seen |= bits.bits[size - 1];
    }
    (void)seen;
    freeImageBits(&bits);
}

void decodeRecord(SpoolStream* stream, int32_t size)
{
    RecordHeader header = readRecordHeader(stream);
    fuzzCheck(header.flags >= 0 && header.flags <= 0xFF, "flags are one byte");
    if (header.kind == recordKindText) {
        decodeText(stream, size);
    } else if (header.kind == recordKindImage) {
        decodeImage(stream, (header.flags & recordFlagCompressed) != 0);
    }
}

int64_t countFieldEnd(const SpoolStream* stream)
{
    int64_t present = stream->length - spoolRecordCountOffset;
    return spoolRecordCountOffset + (present < 0 ? 0 : present > 2 ? 2 : present);
}

void walkRecords(SpoolStream* stream)
{
    int count = 0;
    uint32_t type = 0;
    uint32_t creator = 0;
    readSpoolHeader(stream, &count, &type, &creator);
    fuzzCheck(count >= -32768 && count <= 32767, "the record count is signed 16-bit");
    fuzzCheck(count == stream->recordCount, "the header's count is the one read at open");
    fuzzCheck(tell(stream) == countFieldEnd(stream), "the header read stops after the count");
    seekTo(stream, 0);

    for (int record = 0; record < count; record++) {
        int64_t before = tell(stream);
        int32_t offset = 0;
        int32_t size = 0;
        readRecordExtent(stream, record, &offset, &size);
        fuzzCheck(tell(stream) == before, "looking up an extent leaves the position alone");
        if (spoolHeaderSize + 8 * static_cast<int64_t>(record) >= stream->length) {
            // This entry and all after it lie past the end: they read as -1,
            // before any position, so every one of them would be passed over.
            fuzzCheck(offset == -1, "a record list entry past the end reads as -1");
            break;
        }
        if (offset < before) {
            continue;
        }
        fuzzCheck(seekTo(stream, offset) == 0 && tell(stream) == offset, "a record start can be sought");
        decodeRecord(stream, size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    (void)argv;
    setImageMemoryLimit(fuzzImageMemoryLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SpoolStream* stream = openFuzzInput(data, size);
    walkRecords(stream);
    closeSpoolStream(stream);
    return 0;
}
