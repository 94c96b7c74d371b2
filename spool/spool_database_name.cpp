// The spool database's names, read as emulators and sync tools write them.
#include "spool/spool_database_name.h"

#include <cstdint>

namespace {

const char spoolDatabaseName[] = "fernquill spool file";  // as compared: lower case, spaces
const size_t databaseNameBytes = 32;
const size_t headerBytes = 78;
const size_t recordCountOffset = 76;
const size_t attributesOffset = 32;
const unsigned resourceDatabaseFlag = 0x0001;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The character at *at, an =XX escape decoded, folded for comparing; moves
// *at past what it used.
char nextFolded(const char* name, size_t length, size_t* at)
{
    char c = name[*at];
    int high = *at + 2 < length && c == '=' ? hexDigit(name[*at + 1]) : -1;
    int low = high >= 0 ? hexDigit(name[*at + 2]) : -1;
    if (low >= 0) {
        c = static_cast<char>(high * 16 + low);
        *at += 3;
    } else {
        *at += 1;
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c == '_' ? ' ' : c;
}

// The name, as it stands, reads "Fernquill Spool File".
bool readsSpoolDatabaseName(const char* name, size_t length)
{
    size_t at = 0;
    const char* expected = spoolDatabaseName;
    while (at < length && *expected != '\0') {
        if (nextFolded(name, length, &at) != *expected++) {
            return false;
        }
    }
    return at == length && *expected == '\0';
}

bool endsWithPdb(const char* name, size_t length)
{
    const char extension[] = ".pdb";
    if (length < 4) {
        return false;
    }
    for (size_t i = 0; i < 4; i++) {
        char c = name[length - 4 + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != extension[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool namesSpoolDatabase(const char* name, size_t length)
{
    size_t start = 0;
    for (size_t i = 0; i < length; i++) {
        if (name[i] == '/' || name[i] == '\\') {
            start = i + 1;
        }
    }
    name += start;
    length -= start;
    if (endsWithPdb(name, length)) {
        length -= 4;
    }
    return readsSpoolDatabaseName(name, length);
}

int checkPalmDatabase(const unsigned char* data, size_t size)
{
    if (size < headerBytes) {
        return -1;
    }
    size_t count = static_cast<size_t>(data[recordCountOffset]) << 8 | data[recordCountOffset + 1];
    // A resource database (an application, most of a ROM) lists each
    // resource with its type and id: 10 bytes an entry, not 8.
    bool resources = (data[attributesOffset + 1] & resourceDatabaseFlag) != 0;
    size_t listEnd = headerBytes + count * (resources ? 10 : 8);
    return listEnd <= size ? 0 : -2;
}

bool isSpoolDatabaseMember(const char* memberName, size_t nameLength, const unsigned char* data, size_t size)
{
    if (checkPalmDatabase(data, size) != 0) {
        return false;
    }
    // The header's name is no path: a '/' in it is part of the name, so no
    // folders are dropped from it. It ends at its NUL.
    size_t nameBytes = 0;
    while (nameBytes < databaseNameBytes && data[nameBytes] != 0) {
        nameBytes++;
    }
    return readsSpoolDatabaseName(reinterpret_cast<const char*>(data), nameBytes) ||
           namesSpoolDatabase(memberName, nameLength);
}
