// The spool stream's buffering. The main window holds a stretch of the file
// starting at bufferStart; the position is bufferStart + bufferPos. A seek
// that lands inside the window only moves bufferPos; any other seek empties
// the window and the next read refills it from the new position.
//
// The renderer and the print job look up a record's extent between reads of
// record data, many times a page. Those lookups go through a second, small
// window over the header and record list, so they neither move the position
// nor throw away the main window: walking a file costs one pass of reads.
//
// A stream over bytes already in memory (openSpoolStreamInMemory) has no
// file: its main window is the whole of them, always, and the list window
// is not used.
#include "spool/spool_stream.h"

#include <cstdlib>
#include <cstring>

namespace {

const int streamBufferSize = 64 * 1024;
const int listBufferSize = 4 * 1024;

// Seeks the C stream; 64-bit where the platform has a separate call for it.
int seekFile(std::FILE* file, int64_t offset, int origin)
{
#if defined(_WIN32)
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

int64_t tellFile(std::FILE* file)
{
#if defined(_WIN32)
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

int64_t measureLength(std::FILE* file)
{
    if (seekFile(file, 0, SEEK_END) != 0) {
        return -1;
    }
    int64_t length = tellFile(file);
    if (seekFile(file, 0, SEEK_SET) != 0) {
        return -1;
    }
    return length;
}

// Moves the window so that it starts at the current position and fills it.
// Returns the number of bytes now available.
int refill(SpoolStream* stream)
{
    int64_t position = stream->bufferStart + stream->bufferPos;
    if (stream->file == nullptr) {
        if (position >= stream->length) {
            stream->bufferStart = position;
            stream->bufferPos = 0;
            stream->bufferFill = 0;
            return 0;
        }
        stream->bufferStart = 0;
        stream->bufferPos = static_cast<int>(position);
        stream->bufferFill = static_cast<int>(stream->length);
        return stream->bufferFill - stream->bufferPos;
    }
    stream->bufferStart = position;
    stream->bufferPos = 0;
    stream->bufferFill = 0;
    if (position >= stream->length) {
        return 0;
    }
    if (seekFile(stream->file, position, SEEK_SET) != 0) {
        return 0;
    }
    size_t got = std::fread(stream->buffer, 1, streamBufferSize, stream->file);
    stream->bufferFill = static_cast<int>(got);
    return stream->bufferFill;
}

// One byte of the header or record list at offset, through the list window;
// -1 past the end of the file. The stream's position is not involved.
int readListByte(SpoolStream* stream, int64_t offset)
{
    if (stream->file == nullptr) {
        return offset >= 0 && offset < stream->length ? stream->memory[offset] : -1;
    }
    int64_t inWindow = offset - stream->listStart;
    if (inWindow < 0 || inWindow >= stream->listFill) {
        stream->listStart = offset;
        stream->listFill = 0;
        if (offset >= stream->length || seekFile(stream->file, offset, SEEK_SET) != 0) {
            return -1;
        }
        stream->listFill = static_cast<int>(std::fread(stream->listBuffer, 1, listBufferSize, stream->file));
        inWindow = 0;
        if (stream->listFill == 0) {
            return -1;
        }
    }
    return stream->listBuffer[inWindow];
}

// Big-endian, a byte past the end counting as 0xFF, as readBE32() does.
uint32_t readListBE32(SpoolStream* stream, int64_t offset)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++) {
        value = (value << 8) | static_cast<uint32_t>(readListByte(stream, offset + i) & 0xFF);
    }
    return value;
}

int readListCount(SpoolStream* stream)
{
    int high = readListByte(stream, spoolRecordCountOffset) & 0xFF;
    int low = readListByte(stream, spoolRecordCountOffset + 1) & 0xFF;
    return static_cast<int16_t>((high << 8) | low);
}

// A stream over a C stream open for reading, which it then owns: closed
// with it, or at once when nullptr is returned.
SpoolStream* openOnFile(std::FILE* file)
{
    int64_t length = measureLength(file);
    SpoolStream* stream = static_cast<SpoolStream*>(std::calloc(1, sizeof(SpoolStream)));
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(streamBufferSize));
    unsigned char* listBuffer = static_cast<unsigned char*>(std::malloc(listBufferSize));
    if (length < 0 || stream == nullptr || buffer == nullptr || listBuffer == nullptr) {
        std::free(listBuffer);
        std::free(buffer);
        std::free(stream);
        std::fclose(file);
        return nullptr;
    }
    stream->file = file;
    stream->length = length;
    stream->buffer = buffer;
    stream->listBuffer = listBuffer;
    // A job starts only once HotSync has let go of the file, so the count
    // read here is the one every extent lookup would read again.
    stream->recordCount = readListCount(stream);
    return stream;
}

}  // namespace

SpoolStream* openSpoolStream(const char* path)
{
    // "rb": no line-end translation, and 0x1A is data on the Windows C
    // runtime too. fopen opens with full sharing there, so HotSync or a
    // viewer may hold the file while we read it.
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    return openOnFile(file);
}


SpoolStream* openSpoolStreamInMemory(unsigned char* bytes, int64_t length)
{
    SpoolStream* stream = static_cast<SpoolStream*>(std::calloc(1, sizeof(SpoolStream)));
    if (stream == nullptr || length < 0 || length > maxSpoolBytesInMemory) {
        std::free(stream);
        std::free(bytes);
        return nullptr;
    }
    stream->length = length;
    stream->memory = bytes;
    stream->buffer = bytes;
    stream->bufferFill = static_cast<int>(length);
    stream->recordCount = readListCount(stream);
    return stream;
}

void closeSpoolStream(SpoolStream* stream)
{
    if (stream == nullptr) {
        return;
    }
    if (stream->file != nullptr) {
        std::fclose(stream->file);
    } else {
        std::free(stream->memory);
        stream->buffer = nullptr;
    }
    std::free(stream->buffer);
    std::free(stream->listBuffer);
    std::free(stream);
}

int refillAndReadByte(SpoolStream* stream)
{
    if (refill(stream) == 0) {
        return -1;
    }
    return stream->buffer[stream->bufferPos++];
}

int readBytes(SpoolStream* stream, unsigned char* destination, int count)
{
    int copied = 0;
    while (copied < count) {
        int available = stream->bufferFill - stream->bufferPos;
        if (available <= 0) {
            available = refill(stream);
            if (available == 0) {
                break;
            }
        }
        int chunk = count - copied < available ? count - copied : available;
        std::memcpy(destination + copied, stream->buffer + stream->bufferPos, static_cast<size_t>(chunk));
        stream->bufferPos += chunk;
        copied += chunk;
    }
    return copied;
}

int bufferedBytes(SpoolStream* stream, const unsigned char** bytes)
{
    int available = stream->bufferFill - stream->bufferPos;
    if (available <= 0) {
        available = refill(stream);
    }
    *bytes = stream->buffer + stream->bufferPos;
    return available;
}

void consumeBuffered(SpoolStream* stream, int count)
{
    stream->bufferPos += count;
}

int readBE16(SpoolStream* stream)
{
    int high = readByte(stream) & 0xFF;
    int low = readByte(stream) & 0xFF;
    return (high << 8) | low;
}

uint32_t readBE32(SpoolStream* stream)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++) {
        value = (value << 8) | static_cast<uint32_t>(readByte(stream) & 0xFF);
    }
    return value;
}

int seekTo(SpoolStream* stream, int64_t offset)
{
    if (offset < 0) {
        return -1;
    }
    int64_t inWindow = offset - stream->bufferStart;
    if (inWindow >= 0 && inWindow <= stream->bufferFill) {
        stream->bufferPos = static_cast<int>(inWindow);
        return 0;
    }
    stream->bufferStart = offset;
    stream->bufferPos = 0;
    stream->bufferFill = 0;
    return 0;
}

void seekToEnd(SpoolStream* stream)
{
    seekTo(stream, stream->length);
}

int64_t tell(const SpoolStream* stream)
{
    return stream->bufferStart + stream->bufferPos;
}

void readSpoolHeader(SpoolStream* stream, int* count, uint32_t* type, uint32_t* creator)
{
    if (creator != nullptr) {
        seekTo(stream, 64);
        *creator = readBE32(stream);
    }
    if (type != nullptr) {
        seekTo(stream, 60);
        *type = readBE32(stream);
    }
    seekTo(stream, spoolRecordCountOffset);
    if (count != nullptr) {
        *count = static_cast<int16_t>(readBE16(stream));
    }
}

void readRecordExtent(SpoolStream* stream, int index, int32_t* offset, int32_t* size)
{
    int64_t entry = spoolHeaderSize + 8 * static_cast<int64_t>(index);
    int32_t start = static_cast<int32_t>(readListBE32(stream, entry));
    if (offset != nullptr) {
        *offset = start;
    }
    if (size != nullptr) {
        int64_t end;
        if (index + 1 < stream->recordCount) {
            end = static_cast<int32_t>(readListBE32(stream, entry + 8));
        } else {
            end = stream->length;
        }
        // The size is signed 32-bit like the offsets; wrap as the format's
        // own arithmetic would rather than overflow.
        *size = static_cast<int32_t>(static_cast<uint32_t>(end) - static_cast<uint32_t>(start));
    }
}
