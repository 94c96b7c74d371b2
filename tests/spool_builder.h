// Builds spool files for the tests: the Palm database container around a list
// of records, the records themselves, and a run-length encoder for compressed
// bitmaps. Every file the tests read is made here, so damage is added on
// purpose and one fault at a time (see SpoolDatabase).
//
// Test-only code: it may use classes and the standard containers, and the
// temp files it writes are removed again by their owners.
#ifndef FERNQUILL_TESTS_SPOOL_BUILDER_H
#define FERNQUILL_TESTS_SPOOL_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "spool/spool_records.h"
#include "spool/spool_stream.h"

namespace spooltest {

typedef std::vector<unsigned char> Bytes;

// The bytes of left, then those of right.
Bytes operator+(Bytes left, const Bytes& right);

// 'PRNT' style four-character codes, as the header stores them (big-endian).
constexpr uint32_t fourCharCode(const char (&code)[5])
{
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

constexpr uint32_t testDatabaseType = fourCharCode("PRNT");
constexpr uint32_t testDatabaseCreator = fourCharCode("FqTs");

// A Palm database to build. The defaults give a sound file; each damage field
// replaces one thing the reader trusts.
struct SpoolDatabase {
    std::string name = "Fernquill_Spool_File";
    uint32_t type = testDatabaseType;
    uint32_t creator = testDatabaseCreator;
    std::vector<Bytes> records;

    std::optional<uint16_t> storedCount;        // count field instead of records.size()
    std::map<int, uint32_t> startOffsets;       // record index -> start offset stored instead
    Bytes trailingBytes;                        // after the last record
    std::optional<size_t> truncateTo;           // cut the finished file to this many bytes
};

// Where record index starts in a file built from database, before any
// override of the start offsets.
uint32_t recordStart(const SpoolDatabase& database, int index);

Bytes buildSpoolFile(const SpoolDatabase& database);

// A text record: kind, flags, then the payload as given.
Bytes textRecord(const Bytes& payload, int flags = 0, int kind = recordKindText);
Bytes textRecord(const std::string& payload, int flags = 0);

// The header fields of an image record. The reserved bytes are not zero so a
// reader that took them for bitmap data would show it.
struct ImageFields {
    int kind = recordKindImage;
    int flags = 0;
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    int xResolution = 72;
    int yResolution = 72;
    uint32_t reserved = 0xDEADBEEF;
};

// The record bytes: kind, flags, the 16-byte image header, then bitmapData
// exactly as given (raw, or already encoded with encodeImageRuns()).
Bytes imageRecord(const ImageFields& fields, const Bytes& bitmapData);

// An image record whose every pixel is black, raw, at the same resolution
// across and down.
Bytes solidImage(int width, int height, int resolution, int x = 0, int y = 0, int flags = 0);

// Four pages, each a solid 96 dpi image 8 pixels wide and 1 to 4 rows high
// (8, 16, 24 and 32 black pixels): a sound file for damaging one thing.
SpoolDatabase fourImagePages();

// Puts the process-wide limit on image bitmaps back however the test ends.
struct ImageMemoryLimitGuard {
    size_t saved = imageMemoryLimit();
    ~ImageMemoryLimitGuard() { setImageMemoryLimit(saved); }
};

// Where the bitmap data starts inside an image record.
const int imageBitmapOffset = 2 + imageHeaderSize;

int rowBytesFor(int width);

// Run-length encodes bits (rows of rowBytes bytes) with every kind of run the
// decoder knows: fills, literals, zero runs and copies from the row above.
// Copies are only used where a row above exists, and they run forward, so on
// rows of 1 to 3 bytes a run may copy bytes this same run wrote.
Bytes encodeImageRuns(const Bytes& bits, int rowBytes);

// A bitmap of height rows with the structure real pages have: noise, blank
// rows, solid bands, rows repeated from above and rows partly changed.
// The same seed gives the same bitmap.
Bytes makeTestBitmap(int rowBytes, int height, uint32_t seed);

// A path in the temp folder that no file had when it was made.
std::string uniqueTempPath();

// A temp file holding given bytes, removed when this goes away. Streams over
// it must be closed first (Windows refuses to delete an open file).
class TempFile {
public:
    explicit TempFile(const Bytes& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    bool written() const { return written_; }

private:
    std::string path_;
    bool written_;
};

// A temp file and an open stream over it, closed before the file is removed.
class OpenSpool {
public:
    explicit OpenSpool(const Bytes& contents);
    ~OpenSpool();
    OpenSpool(const OpenSpool&) = delete;
    OpenSpool& operator=(const OpenSpool&) = delete;

    SpoolStream* stream() const { return stream_; }

private:
    TempFile file_;
    SpoolStream* stream_;
};

// Runs splitTextLines() from the stream's position and returns the lines.
std::vector<std::string> collectTextLines(SpoolStream* stream, int32_t payloadSize);

// What decodeImageBits() made of the bitmap at the stream's position, and
// where it left the stream.
struct DecodedImage {
    int result;
    Bytes bits;          // empty when no buffer was handed out
    int rowBytes;
    bool hadBuffer;
    int64_t endPosition;
};

DecodedImage decodeBitmap(SpoolStream* stream, int width, int height, bool compressed);

}  // namespace spooltest

#endif
