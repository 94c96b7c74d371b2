#include "tests/spool_builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace spooltest {

namespace {

const size_t recordEntrySize = 8;
// Palm Desktop leaves two zero bytes between the record list and the first
// record; files with the gap are what HotSync really writes.
const size_t recordListGap = 2;
const int maxRunLength = 64;

const int runFill = 0;
const int runLiteral = 1;
const int runZeros = 2;
const int runCopyAbove = 3;

void putBE16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void putBE32(Bytes& out, uint32_t value)
{
    putBE16(out, value >> 16);
    putBE16(out, value & 0xFFFF);
}

// The 78 bytes before the record list. The fields the reader ignores get
// plausible values, not zeros, so reading one by mistake shows up.
void putDatabaseHeader(Bytes& out, const SpoolDatabase& database, uint16_t count)
{
    std::string name = database.name.substr(0, 31);
    name.resize(32, '\0');
    out.insert(out.end(), name.begin(), name.end());
    putBE16(out, 0x0008);        // attributes: backup
    putBE16(out, 1);             // version
    putBE32(out, 0xB5A1C2D3);    // creation date
    putBE32(out, 0xB5A1C2D4);    // modification date
    putBE32(out, 0);             // last backup date
    putBE32(out, 7);             // modification number
    putBE32(out, 0);             // app info block
    putBE32(out, 0);             // sort info block
    putBE32(out, database.type);
    putBE32(out, database.creator);
    putBE32(out, 0x00123456);    // unique id seed
    putBE32(out, 0);             // next record list
    putBE16(out, count);
}

int zeroRunAt(const Bytes& bits, size_t at)
{
    int n = 0;
    while (n < maxRunLength && at + n < bits.size() && bits[at + n] == 0) {
        n++;
    }
    return n;
}

int fillRunAt(const Bytes& bits, size_t at)
{
    int n = 0;
    while (n < maxRunLength && at + n < bits.size() && bits[at + n] == bits[at]) {
        n++;
    }
    return n;
}

// Compares with the bitmap itself rather than with earlier output, which is
// the same thing once decoded: it is what makes copies run forward.
int copyRunAt(const Bytes& bits, size_t at, size_t rowBytes)
{
    if (at < rowBytes) {
        return 0;
    }
    int n = 0;
    while (n < maxRunLength && at + n < bits.size() && bits[at + n] == bits[at + n - rowBytes]) {
        n++;
    }
    return n;
}

void putControl(Bytes& out, int kind, int n)
{
    out.push_back(static_cast<unsigned char>(((n - 1) << 2) | kind));
}

// A literal stops where a cheaper run could take over.
bool runWorthStartingAt(const Bytes& bits, size_t at, size_t rowBytes)
{
    return zeroRunAt(bits, at) > 0 || copyRunAt(bits, at, rowBytes) >= 2 || fillRunAt(bits, at) >= 3;
}

}  // namespace

Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

uint32_t recordStart(const SpoolDatabase& database, int index)
{
    size_t at = spoolHeaderSize + recordEntrySize * database.records.size() + recordListGap;
    for (int i = 0; i < index && i < static_cast<int>(database.records.size()); i++) {
        at += database.records[i].size();
    }
    return static_cast<uint32_t>(at);
}

Bytes buildSpoolFile(const SpoolDatabase& database)
{
    Bytes out;
    uint16_t count = database.storedCount ? *database.storedCount
                                          : static_cast<uint16_t>(database.records.size());
    putDatabaseHeader(out, database, count);
    for (size_t i = 0; i < database.records.size(); i++) {
        int index = static_cast<int>(i);
        auto changed = database.startOffsets.find(index);
        putBE32(out, changed != database.startOffsets.end() ? changed->second : recordStart(database, index));
        out.push_back(0x40);                          // attributes: dirty
        out.push_back(0);                             // unique id, 3 bytes
        putBE16(out, static_cast<uint32_t>(i + 1));
    }
    out.insert(out.end(), recordListGap, 0);
    for (const Bytes& record : database.records) {
        out.insert(out.end(), record.begin(), record.end());
    }
    out.insert(out.end(), database.trailingBytes.begin(), database.trailingBytes.end());
    if (database.truncateTo && *database.truncateTo < out.size()) {
        out.resize(*database.truncateTo);
    }
    return out;
}

Bytes textRecord(const Bytes& payload, int flags, int kind)
{
    Bytes out(payload.size() + 2);
    out[0] = static_cast<unsigned char>(kind);
    out[1] = static_cast<unsigned char>(flags);
    std::copy(payload.begin(), payload.end(), out.begin() + 2);
    return out;
}

Bytes textRecord(const std::string& payload, int flags)
{
    return textRecord(Bytes(payload.begin(), payload.end()), flags, recordKindText);
}

Bytes imageRecord(const ImageFields& fields, const Bytes& bitmapData)
{
    Bytes out;
    out.push_back(static_cast<unsigned char>(fields.kind));
    out.push_back(static_cast<unsigned char>(fields.flags));
    putBE16(out, static_cast<uint32_t>(fields.width));
    putBE16(out, static_cast<uint32_t>(fields.height));
    putBE16(out, static_cast<uint32_t>(fields.x));
    putBE16(out, static_cast<uint32_t>(fields.y));
    putBE16(out, static_cast<uint32_t>(fields.xResolution));
    putBE16(out, static_cast<uint32_t>(fields.yResolution));
    putBE32(out, fields.reserved);
    out.insert(out.end(), bitmapData.begin(), bitmapData.end());
    return out;
}

Bytes solidImage(int width, int height, int resolution, int x, int y, int flags)
{
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.x = x;
    fields.y = y;
    fields.xResolution = resolution;
    fields.yResolution = resolution;
    fields.flags = flags;
    return imageRecord(fields, Bytes(static_cast<size_t>(rowBytesFor(width)) * height, 0xFF));
}

SpoolDatabase fourImagePages()
{
    SpoolDatabase job;
    for (int rows = 1; rows <= 4; rows++) {
        job.records.push_back(solidImage(8, rows, 96));
    }
    return job;
}

int rowBytesFor(int width)
{
    return (width + 7) / 8;
}

Bytes encodeImageRuns(const Bytes& bits, int rowBytes)
{
    Bytes out;
    size_t row = static_cast<size_t>(rowBytes);
    size_t at = 0;
    while (at < bits.size()) {
        int zeros = zeroRunAt(bits, at);
        int copy = copyRunAt(bits, at, row);
        int fill = fillRunAt(bits, at);
        if (zeros > 0 && zeros >= copy) {
            putControl(out, runZeros, zeros);
            at += zeros;
        } else if (copy > 0 && copy >= fill) {
            putControl(out, runCopyAbove, copy);
            at += copy;
        } else if (fill >= 3) {
            putControl(out, runFill, fill);
            out.push_back(bits[at]);
            at += fill;
        } else {
            size_t end = at + 1;
            while (end < bits.size() && end - at < maxRunLength && !runWorthStartingAt(bits, end, row)) {
                end++;
            }
            putControl(out, runLiteral, static_cast<int>(end - at));
            out.insert(out.end(), bits.begin() + at, bits.begin() + end);
            at = end;
        }
    }
    return out;
}

Bytes makeTestBitmap(int rowBytes, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    size_t row = static_cast<size_t>(rowBytes);
    Bytes bits(row * static_cast<size_t>(height));
    for (size_t start = 0; start < bits.size(); start += row) {
        unsigned char* line = &bits[start];
        unsigned kind = random() % 6;
        switch (kind) {
        case 0:  // noise
            for (size_t i = 0; i < row; i++) {
                line[i] = static_cast<unsigned char>(random());
            }
            break;
        case 1:  // blank, left as it is
            break;
        case 2: {  // a solid band
            unsigned char value = static_cast<unsigned char>(random());
            for (size_t i = 0; i < row; i++) {
                line[i] = value;
            }
            break;
        }
        case 3:  // the row above again
        case 4:  // the row above with a byte or two changed
            for (size_t i = 0; start >= row && i < row; i++) {
                line[i] = bits[start - row + i];
            }
            for (size_t i = kind == 4 ? 1 + random() % 2 : 0; i > 0; i--) {
                line[random() % row] = static_cast<unsigned char>(random());
            }
            break;
        default:  // short runs of varied bytes, like a line of glyphs
            for (size_t i = 0; i < row;) {
                unsigned char value = static_cast<unsigned char>(random() % 4 == 0 ? 0 : random());
                for (size_t n = 1 + random() % 5; n > 0 && i < row; n--) {
                    line[i++] = value;
                }
            }
            break;
        }
    }
    return bits;
}

std::string uniqueTempPath()
{
    // Tests of several processes may share the temp folder (ctest -j, or a
    // Wine prefix next to a native run), so the name mixes a per-process
    // random token with a counter, and a name already taken is skipped.
    static const uint64_t processToken =
        (static_cast<uint64_t>(std::random_device()()) << 32) ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    static std::atomic<unsigned> counter(0);

    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) {
        folder = std::filesystem::path(".");
    }
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "fqspool-%016llx-%u.pdb",
                      static_cast<unsigned long long>(processToken), counter++);
        std::filesystem::path path = folder / name;
        if (!std::filesystem::exists(path, error)) {
            return path.string();
        }
    }
}

TempFile::TempFile(const Bytes& contents) : path_(uniqueTempPath()), written_(false)
{
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    size_t put = contents.empty() ? 0 : std::fwrite(contents.data(), 1, contents.size(), file);
    bool closed = std::fclose(file) == 0;
    written_ = closed && put == contents.size();
}

TempFile::~TempFile()
{
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

OpenSpool::OpenSpool(const Bytes& contents)
    : file_(contents), stream_(file_.written() ? openSpoolStream(file_.path().c_str()) : nullptr)
{
}

OpenSpool::~OpenSpool()
{
    closeSpoolStream(stream_);
}

namespace {

void appendLine(void* context, const char* characters, int count)
{
    static_cast<std::vector<std::string>*>(context)->emplace_back(characters, static_cast<size_t>(count));
}

}  // namespace

std::vector<std::string> collectTextLines(SpoolStream* stream, int32_t payloadSize)
{
    std::vector<std::string> lines;
    splitTextLines(stream, payloadSize, appendLine, &lines);
    return lines;
}

DecodedImage decodeBitmap(SpoolStream* stream, int width, int height, bool compressed)
{
    ImageHeader header = {};
    header.width = width;
    header.height = height;
    ImageBits bits = {};
    DecodedImage decoded;
    decoded.result = decodeImageBits(stream, header, compressed, &bits);
    decoded.hadBuffer = bits.bits != nullptr;
    if (bits.bits != nullptr) {
        decoded.bits.assign(bits.bits, bits.bits + imageBitsSize(header));
    }
    decoded.rowBytes = bits.rowBytes;
    decoded.endPosition = tell(stream);
    freeImageBits(&bits);
    return decoded;
}

}  // namespace spooltest
