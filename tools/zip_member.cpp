// Finding and copying out the spool file of a zip archive, with libzip.
#include "tools/zip_member.h"

#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "spool/spool_database_name.h"

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

// What a look through the archive found.
struct MemberSearch {
    int64_t found;  // the last match
    int matches;
    int skipped;    // members that are no Palm database
    char listed[1024];
};

// Reads the member's first bytes, up to capacity, into buffer: all that
// telling a Palm database apart needs, however large the member claims or
// inflates to be. Returns how many there were, or -1 if it can't be read.
int64_t readMemberStart(zip_t* zip, zip_uint64_t index, unsigned char* buffer, size_t capacity)
{
    zip_file_t* member = zip_fopen_index(zip, index, 0);
    if (member == nullptr) {
        return -1;
    }
    int64_t total = 0;
    while (static_cast<size_t>(total) < capacity) {
        zip_int64_t got = zip_fread(member, buffer + total, capacity - static_cast<size_t>(total));
        if (got <= 0) {
            total = got < 0 ? -1 : total;
            break;
        }
        total += got;
    }
    zip_fclose(member);
    return total;
}

// Whether the member is the spool database, counting it in search->skipped
// when it is no Palm database. A member that can't be read is judged by its
// name alone, so that taking it out says why it can't be read.
bool isSpoolMember(zip_t* zip, zip_uint64_t index, const char* name, unsigned char* buffer, MemberSearch* search)
{
    size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '/') {
        return false;  // a folder
    }
    int64_t got = readMemberStart(zip, index, buffer, palmDatabasePrefixBytes);
    if (got < 0) {
        return namesSpoolDatabase(name, length);
    }
    if (checkPalmDatabase(buffer, static_cast<size_t>(got)) != 0) {
        search->skipped++;
        return false;
    }
    return isSpoolDatabaseMember(name, length, buffer, static_cast<size_t>(got));
}

bool isWanted(zip_t* zip, zip_uint64_t index, const char* name, const char* memberName, unsigned char* buffer,
              MemberSearch* search)
{
    if (memberName != nullptr) {
        return sameNameIgnoringCase(name, memberName);
    }
    return isSpoolMember(zip, index, name, buffer, search);
}

void reportNoMember(const char* tool, const char* archive, const char* memberName, int skipped)
{
    if (memberName != nullptr) {
        std::fprintf(stderr, "%s: no member %s in the archive %s\n", tool, memberName, archive);
        return;
    }
    char why[80] = "";
    if (skipped > 0) {
        std::snprintf(why, sizeof why, "; %d %s", skipped,
                      skipped == 1 ? "member was skipped as not a Palm database"
                                   : "members were skipped as not Palm databases");
    }
    std::fprintf(stderr, "%s: no %s in the archive %s, by file or database name%s\n", tool, spoolMemberName,
                 archive, why);
}

// The index of the one wanted member; -1 with a message when there is none
// or more than one.
int64_t findMember(const char* tool, zip_t* zip, const char* archive, const char* memberName)
{
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(palmDatabasePrefixBytes));
    if (buffer == nullptr) {
        std::fprintf(stderr, "%s: out of memory reading the archive %s\n", tool, archive);
        return -1;
    }
    MemberSearch search = {-1, 0, 0, ""};
    zip_int64_t entries = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < entries; i++) {
        zip_uint64_t index = static_cast<zip_uint64_t>(i);
        const char* name = zip_get_name(zip, index, ZIP_FL_ENC_RAW);
        if (name == nullptr || !isWanted(zip, index, name, memberName, buffer, &search)) {
            continue;
        }
        if (++search.matches <= maxNamesListed) {
            size_t used = std::strlen(search.listed);
            std::snprintf(search.listed + used, sizeof search.listed - used, "%s%s", used > 0 ? ", " : "", name);
        }
        search.found = i;
    }
    std::free(buffer);
    if (search.matches == 1) {
        return search.found;
    }
    if (search.matches == 0) {
        reportNoMember(tool, archive, memberName, search.skipped);
    } else {
        std::fprintf(stderr, "%s: the archive %s holds %d spool files (%s%s); pick one with --member NAME\n", tool,
                     archive, search.matches, search.listed, search.matches > maxNamesListed ? ", ..." : "");
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
