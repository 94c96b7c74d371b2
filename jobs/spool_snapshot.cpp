// Reading the spool file whole. A writer that gets in while we read (the
// file is shared for writing) would leave us half of each file: its size
// and last write are compared before and after, and the read is made again
// when they moved.
#include "jobs/spool_snapshot.h"

#include <windows.h>

#include <cstdlib>

namespace {

const int readAttempts = 3;

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// Reads length bytes from the start of file into bytes; false if fewer came.
bool readWhole(HANDLE file, unsigned char* bytes, int64_t length)
{
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        return false;
    }
    int64_t done = 0;
    while (done < length) {
        DWORD chunk = static_cast<DWORD>(length - done > (1 << 20) ? (1 << 20) : length - done);
        DWORD got = 0;
        if (!ReadFile(file, bytes + done, chunk, &got, nullptr) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

// The file's bytes, malloc'd, with their count in *length; nullptr if they
// can't be had whole.
unsigned char* readSnapshot(HANDLE file, int64_t* length)
{
    for (int attempt = 0; attempt < readAttempts; attempt++) {
        BY_HANDLE_FILE_INFORMATION before;
        if (!GetFileInformationByHandle(file, &before)) {
            return nullptr;
        }
        int64_t size = (static_cast<int64_t>(before.nFileSizeHigh) << 32) | before.nFileSizeLow;
        if (size > maxSpoolBytesInMemory) {
            return nullptr;
        }
        unsigned char* bytes = static_cast<unsigned char*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
        if (bytes == nullptr) {
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION after;
        if (readWhole(file, bytes, size) && GetFileInformationByHandle(file, &after) && sameFile(before, after)) {
            *length = size;
            return bytes;
        }
        std::free(bytes);
    }
    return nullptr;
}

}  // namespace

SpoolStream* openSpoolSnapshot(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    int64_t length = 0;
    unsigned char* bytes = readSnapshot(file, &length);
    CloseHandle(file);
    return bytes != nullptr ? openSpoolStreamInMemory(bytes, length) : nullptr;
}
