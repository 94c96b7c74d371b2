// The printed record: "Fernquill printed " and the spool file's last-write
// time as 16 hex digits, then CR LF.
//
// It is written under a temporary name made new each time (CREATE_NEW, so
// that nothing a user left there, a link least of all, is written through)
// and renamed over the record. A rename replaces the name only: a record
// that someone made a hard link to another file leaves that file untouched.
#include "watch/printed_record.h"

#include <cstdio>
#include <cstring>

const char* const printedRecordName = "Fernquill_Printed.txt";

namespace {

const char* const recordPrefix = "Fernquill printed ";
const char* const temporaryName = "Fernquill_Printed.new";
const int pathSize = 512;
const int recordSize = 18 + 16 + 2;

bool buildPath(char* path, const char* folder, const char* name)
{
    int length = std::snprintf(path, pathSize, "%s\\%s", folder, name);
    return length >= 0 && length < pathSize;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool parseRecord(const char* text, int length, FILETIME* written)
{
    const int prefixLength = static_cast<int>(std::strlen(recordPrefix));
    if (length != recordSize || std::memcmp(text, recordPrefix, prefixLength) != 0 ||
        std::memcmp(text + recordSize - 2, "\r\n", 2) != 0) {
        return false;
    }
    unsigned long long value = 0;
    for (int i = prefixLength; i < prefixLength + 16; i++) {
        int digit = hexDigit(text[i]);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    written->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFULL);
    written->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return true;
}

}  // namespace

int readPrintedRecord(const char* folder, FILETIME* written)
{
    char path[pathSize];
    if (!buildPath(path, folder, printedRecordName)) {
        return -1;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // One byte more than a record, so that a longer file is seen as such.
    char text[recordSize + 1];
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, sizeof(text), &read, nullptr);
    CloseHandle(file);
    return ok && parseRecord(text, static_cast<int>(read), written) ? 0 : -1;
}

int writePrintedRecord(const char* folder, const FILETIME& written)
{
    char record[pathSize];
    char temporary[pathSize];
    if (!buildPath(record, folder, printedRecordName) || !buildPath(temporary, folder, temporaryName)) {
        return -1;
    }
    char text[recordSize + 1];
    std::snprintf(text, sizeof(text), "%s%08lx%08lx\r\n", recordPrefix, static_cast<unsigned long>(written.dwHighDateTime),
                  static_cast<unsigned long>(written.dwLowDateTime));
    // Left behind by a spooler that died between the two steps.
    DeleteFileA(temporary);
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    DWORD done = 0;
    BOOL wrote = WriteFile(file, text, recordSize, &done, nullptr) && done == static_cast<DWORD>(recordSize);
    wrote = FlushFileBuffers(file) && wrote;
    CloseHandle(file);
    if (!wrote || !MoveFileExA(temporary, record, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary);
        return -1;
    }
    return 0;
}
