// Finding and copying out the spool file of a zip archive, with libzip.
#include "tools/zip_member.h"

#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char spoolMemberName[] = "Fernquill_Spool_File.PDB";

namespace {

// The most member names listed when an archive holds several spool files.
const int maxNamesListed = 4;

bool sameNameIgnoringCase(const char* left, const char* right)
{
    for (; *left != '\0' && *right != '\0'; left++, right++) {
        char a = *left >= 'A' && *left <= 'Z' ? static_cast<char>(*left - 'A' + 'a') : *left;
        char b = *right >= 'A' && *right <= 'Z' ? static_cast<char>(*right - 'A' + 'a') : *right;
        if (a != b) {
            return false;
        }
    }
    return *left == *right;
}

// The name after the member's folders; archives made on Windows may
// separate them with backslashes.
const char* memberFileName(const char* name)
{
    const char* start = name;
    for (const char* c = name; *c != '\0'; c++) {
        if (*c == '/' || *c == '\\') {
            start = c + 1;
        }
    }
    return start;
}

bool isWanted(const char* name, const char* memberName)
{
    if (memberName != nullptr) {
        return sameNameIgnoringCase(name, memberName);
    }
    return sameNameIgnoringCase(memberFileName(name), spoolMemberName);
}

// The index of the one wanted member; -1 with a message when there is none
// or more than one.
int64_t findMember(const char* tool, zip_t* zip, const char* archive, const char* memberName)
{
    zip_int64_t entries = zip_get_num_entries(zip, 0);
    int64_t found = -1;
    int matches = 0;
    char listed[1024] = "";
    for (zip_int64_t i = 0; i < entries; i++) {
        const char* name = zip_get_name(zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr || !isWanted(name, memberName)) {
            continue;
        }
        if (++matches <= maxNamesListed) {
            size_t used = std::strlen(listed);
            std::snprintf(listed + used, sizeof listed - used, "%s%s", used > 0 ? ", " : "", name);
        }
        found = i;
    }
    if (matches == 1) {
        return found;
    }
    if (matches == 0 && memberName != nullptr) {
        std::fprintf(stderr, "%s: no member %s in the archive %s\n", tool, memberName, archive);
    } else if (matches == 0) {
        std::fprintf(stderr, "%s: no %s in the archive %s\n", tool, spoolMemberName, archive);
    } else {
        std::fprintf(stderr, "%s: the archive %s holds %d spool files (%s%s); pick one with --member NAME\n", tool,
                     archive, matches, listed, matches > maxNamesListed ? ", ..." : "");
    }
    return -1;
}

// Copies the member into the open file, stopping at the size limit. Returns
// 0, or -1 with a message.
int copyMember(const char* tool, zip_t* zip, int64_t index, const char* archive, int file)
{
    const char* name = zip_get_name(zip, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
    zip_stat_t stat;
    if (zip_stat_index(zip, static_cast<zip_uint64_t>(index), 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) != 0 &&
        stat.size > maxSpoolMemberBytes) {
        std::fprintf(stderr, "%s: %s in the archive %s is larger than a spool file can be (%llu bytes)\n", tool, name,
                     archive, static_cast<unsigned long long>(stat.size));
        return -1;
    }
    zip_file_t* member = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
    if (member == nullptr) {
        std::fprintf(stderr, "%s: cannot read %s in the archive %s: %s\n", tool, name, archive, zip_strerror(zip));
        return -1;
    }
    int result = 0;
    uint64_t total = 0;
    for (;;) {
        char buffer[65536];
        zip_int64_t got = zip_fread(member, buffer, sizeof buffer);
        if (got < 0) {
            std::fprintf(stderr, "%s: cannot read %s in the archive %s: %s\n", tool, name, archive,
                         zip_file_strerror(member));
            result = -1;
            break;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<uint64_t>(got);
        if (total > maxSpoolMemberBytes) {
            std::fprintf(stderr, "%s: %s in the archive %s inflates to more than a spool file can be\n", tool, name,
                         archive);
            result = -1;
            break;
        }
        if (write(file, buffer, static_cast<size_t>(got)) != got) {
            std::fprintf(stderr, "%s: cannot copy %s out of the archive %s to a temporary file\n", tool, name,
                         archive);
            result = -1;
            break;
        }
    }
    zip_fclose(member);
    return result;
}

}  // namespace

int extractSpoolMember(const char* tool, const char* archive, const char* memberName, char* temporaryPath,
                       size_t capacity)
{
    int error = 0;
    zip_t* zip = zip_open(archive, ZIP_RDONLY, &error);
    if (zip == nullptr) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, error);
        std::fprintf(stderr, "%s: cannot open the archive %s: %s\n", tool, archive, zip_error_strerror(&reason));
        zip_error_fini(&reason);
        return -1;
    }
    int64_t index = findMember(tool, zip, archive, memberName);
    int result = -1;
    if (index >= 0) {
        const char* folder = std::getenv("TMPDIR");
        int written = std::snprintf(temporaryPath, capacity, "%s/%s-XXXXXX",
                                    folder != nullptr && *folder != '\0' ? folder : "/tmp", tool);
        int file = written > 0 && static_cast<size_t>(written) < capacity ? mkstemp(temporaryPath) : -1;
        if (file < 0) {
            std::fprintf(stderr, "%s: cannot make a temporary file for the spool file of %s\n", tool, archive);
        } else {
            result = copyMember(tool, zip, index, archive, file);
            if (close(file) != 0 && result == 0) {
                std::fprintf(stderr, "%s: cannot copy the spool file of %s to a temporary file\n", tool, archive);
                result = -1;
            }
            if (result != 0) {
                std::remove(temporaryPath);
            }
        }
    }
    zip_discard(zip);
    return result;
}
