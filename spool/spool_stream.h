// The spool file as a byte stream.
//
// HotSync copies the hand-held's print job to the PC as a Palm database
// (PDB) file. Of its 78-byte header only the record count at offset 76 and
// the record list after it matter to us: one 8-byte entry per record, whose
// first four bytes are the record's start offset. All integers are
// big-endian. A record's size is not stored; it runs to the next record's
// start, or to the end of the file for the last one.
//
// Every byte of a job passes through readByte(), so the stream keeps its own
// buffer and the common case is an index test and an array load. The stream
// never checks the file's contents: bytes past the end read as -1, and the
// 16- and 32-bit readers fold those into meaningless values that the callers
// must be ready for.
#ifndef FERNQUILL_SPOOL_STREAM_H
#define FERNQUILL_SPOOL_STREAM_H

#include <cstdint>
#include <cstdio>

// An open spool file: a read-only byte stream with a current position.
struct SpoolStream {
    std::FILE* file;
    int64_t length;          // file length in bytes, taken at open
    int64_t bufferStart;     // file offset of buffer[0]
    int bufferFill;          // valid bytes in buffer
    int bufferPos;           // index of the next byte to hand out
    unsigned char* buffer;
    // A second, small window for the header and record list, so that looking
    // up a record's extent between reads of record data leaves the main
    // window where it is.
    int64_t listStart;
    int listFill;
    unsigned char* listBuffer;
    int recordCount;         // the header's count, read once at open
    unsigned char* memory;   // the whole file, for a stream over memory; else nullptr
};

// The byte extent of one record: where it starts and how many bytes reach
// to the next record (or the end of the file).
struct RecordExtent {
    int32_t offset;
    int32_t size;
};

const int spoolHeaderSize = 78;      // the record list starts here
const int spoolRecordCountOffset = 76;

// Opens the file for reading as raw bytes, shared with other readers and
// writers. Returns the stream, or nullptr if the file can't be opened or the
// stream's buffer can't be had. The position starts at 0.
SpoolStream* openSpoolStream(const char* path);

// The most bytes a stream over memory takes: far more than a hand-held
// could ever hold, and within what a stream's int fields count.
const int64_t maxSpoolBytesInMemory = 256LL * 1024 * 1024;

// A stream over a spool file's bytes already read into memory (malloc'd),
// which the stream takes over and frees when it is closed, also when the
// open fails. Nothing holds the file meanwhile, so whoever writes it next
// can't change what the stream reads. nullptr when length is negative or
// over maxSpoolBytesInMemory, or the stream can't be had.
SpoolStream* openSpoolStreamInMemory(unsigned char* bytes, int64_t length);

// Closes the file and frees the stream. Accepts nullptr.
void closeSpoolStream(SpoolStream* stream);

// Refills the buffer at the current position; the slow path of readByte().
// Returns the next byte and advances, or -1 at end of data.
int refillAndReadByte(SpoolStream* stream);

// The next byte, 0 to 255, advancing the position by one; or -1 once the
// position is at or past the end of the file, leaving the position where it
// is (as fgetc does).
inline int readByte(SpoolStream* stream)
{
    if (stream->bufferPos < stream->bufferFill) {
        return stream->buffer[stream->bufferPos++];
    }
    return refillAndReadByte(stream);
}

// Reads up to count bytes into destination; returns how many were there
// before the end of data. Same result as count calls of readByte().
int readBytes(SpoolStream* stream, unsigned char* destination, int count);

// The bytes buffered from the position on, refilled when none are: points
// *bytes at them and returns how many, or 0 at end of data. A decoder can
// scan a stretch of bytes without a call per byte, then move past the ones
// it used with consumeBuffered() (count at most what was returned).
int bufferedBytes(SpoolStream* stream, const unsigned char** bytes);
void consumeBuffered(SpoolStream* stream, int count);

// Two bytes, the first the high byte, as 0 to 65535. A byte past the end of
// data counts as 0xFF. Callers that read a count take it as signed 16-bit.
int readBE16(SpoolStream* stream);

// Four bytes, the first the most significant. A byte past the end of data
// counts as 0xFF, so a field wholly past the end reads as 0xFFFFFFFF.
uint32_t readBE32(SpoolStream* stream);

// Absolute positioning. seekTo() accepts any offset from 0 up, also past the
// end of the file (reads there give -1); a negative offset is refused with -1
// and the position is left unchanged. seekToEnd() puts the position at the
// file length.
int seekTo(SpoolStream* stream, int64_t offset);
void seekToEnd(SpoolStream* stream);
int64_t tell(const SpoolStream* stream);

// Reads the header fields the caller asks for; each output may be nullptr.
// The creator (offset 64) is read first, then the type (offset 60); then the
// stream is put at offset 76 and, if count is wanted, the signed 16-bit
// record count is read. The position is left at 78 when the count is read
// and at 76 when it is not (in a file shorter than that, at its end, since
// reads past the end don't move it).
void readSpoolHeader(SpoolStream* stream, int* count, uint32_t* type, uint32_t* creator);

// Reads the start offset and derived size of record index; each output may
// be nullptr. The size is the next record's start minus this one's, or, for
// the last record by the file's count, the file length minus this one's
// start. The stream's position is the same afterwards as before.
void readRecordExtent(SpoolStream* stream, int index, int32_t* offset, int32_t* size);

#endif
