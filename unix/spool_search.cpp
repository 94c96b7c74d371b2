#include "unix/spool_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "spool/spool_database_name.h"

namespace {

// The folders one search has entered, by device and inode: a folder reached
// again through a link is not searched twice, which ends link loops.
struct VisitedFolders {
    dev_t* devices;
    ino_t* inodes;
    size_t count;
    size_t capacity;
};

// Notes the folder; false when it was visited already or can't be noted.
bool visitFolder(VisitedFolders* visited, const struct stat& status)
{
    for (size_t i = 0; i < visited->count; i++) {
        if (visited->devices[i] == status.st_dev && visited->inodes[i] == status.st_ino) {
            return false;
        }
    }
    if (visited->count == visited->capacity) {
        size_t capacity = visited->capacity == 0 ? 32 : visited->capacity * 2;
        dev_t* devices = static_cast<dev_t*>(std::realloc(visited->devices, capacity * sizeof(dev_t)));
        if (devices == nullptr) {
            return false;
        }
        visited->devices = devices;
        ino_t* inodes = static_cast<ino_t*>(std::realloc(visited->inodes, capacity * sizeof(ino_t)));
        if (inodes == nullptr) {
            return false;
        }
        visited->inodes = inodes;
        visited->capacity = capacity;
    }
    visited->devices[visited->count] = status.st_dev;
    visited->inodes[visited->count] = status.st_ino;
    visited->count++;
    return true;
}

bool joinPath(const char* folder, const char* name, char* path)
{
    int written = std::snprintf(path, maxWatchPathLength + 1, "%s%s%s", folder,
                                folder[0] != '\0' && folder[std::strlen(folder) - 1] == '/' ? "" : "/", name);
    return written > 0 && static_cast<size_t>(written) <= maxWatchPathLength;
}

int searchLevel(const char* folder, int depth, const SpoolSearch& search, VisitedFolders* visited)
{
    DIR* listing = opendir(folder);
    if (listing == nullptr) {
        return -1;
    }
    if (search.folderSearched != nullptr) {
        search.folderSearched(search.context, folder);
    }
    char path[maxWatchPathLength + 1];
    for (struct dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !joinPath(folder, name, path)) {
            continue;
        }
        bool spoolName = namesSpoolDatabase(name, std::strlen(name));
        // Only what may be a spool file or a folder is looked at: a folder
        // of a thousand other databases costs a thousand names, no stat.
        if (!spoolName && depth == maxSearchDepth) {
            continue;
        }
        if (!spoolName && entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        struct stat status;
        if (stat(path, &status) != 0) {
            continue;  // a dangling link, or one that loops on itself
        }
        if (S_ISREG(status.st_mode) && spoolName) {
            if (search.fileFound != nullptr) {
                search.fileFound(search.context, path, status);
            }
        } else if (S_ISDIR(status.st_mode) && depth < maxSearchDepth && visitFolder(visited, status)) {
            if (searchLevel(path, depth + 1, search, visited) != 0 && search.folderUnreadable != nullptr) {
                search.folderUnreadable(search.context, path, errno);
            }
        }
    }
    closedir(listing);
    return 0;
}

// The last component of path, without trailing slashes, into name.
int lastComponent(const char* path, size_t length, char* name, size_t capacity)
{
    while (length > 1 && path[length - 1] == '/') {
        length--;
    }
    size_t start = length;
    while (start > 0 && path[start - 1] != '/') {
        start--;
    }
    size_t size = length - start;
    if (size + 1 > capacity) {
        return -1;
    }
    std::memcpy(name, path + start, size);
    name[size] = '\0';
    return 0;
}

bool isFolder(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

int searchSpoolFolder(const char* folder, const SpoolSearch& search)
{
    VisitedFolders visited = {nullptr, nullptr, 0, 0};
    struct stat status;
    int result = -1;
    if (stat(folder, &status) == 0) {
        visitFolder(&visited, status);
        result = searchLevel(folder, 0, search, &visited);
    }
    int error = errno;
    std::free(visited.devices);
    std::free(visited.inodes);
    errno = error;
    return result;
}

int spoolUserName(const char* root, const char* path, char* name, size_t capacity)
{
    // The folders between root and the file: "", "X" or "U/X".
    size_t rootLength = std::strlen(root);
    while (rootLength > 1 && root[rootLength - 1] == '/') {
        rootLength--;
    }
    const char* below = path + rootLength;
    while (*below == '/') {
        below++;
    }
    const char* fileName = std::strrchr(below, '/');
    size_t folderLength = fileName != nullptr ? static_cast<size_t>(fileName - below) : 0;
    if (folderLength == 0) {
        return lastComponent(root, rootLength, name, capacity);
    }
    char folder[maxWatchPathLength + 1];
    if (lastComponent(below, folderLength, folder, sizeof folder) != 0) {
        return -1;
    }
    if (strcasecmp(folder, "backup") != 0) {
        return lastComponent(below, folderLength, name, capacity);
    }
    // Above "backup": the user folder, or the watched folder itself.
    size_t userEnd = folderLength - std::strlen(folder);
    while (userEnd > 0 && below[userEnd - 1] == '/') {
        userEnd--;
    }
    return userEnd > 0 ? lastComponent(below, userEnd, name, capacity) : lastComponent(root, rootLength, name, capacity);
}

int winePalmFolder(const char* prefix, char* folder, size_t capacity)
{
    char registry[maxWatchPathLength + 1];
    if (!joinPath(prefix, "user.reg", registry)) {
        return -1;
    }
    std::FILE* file = std::fopen(registry, "r");
    if (file == nullptr) {
        return -1;
    }
    // user.reg names a key as [Software\\U.S. Robotics\\...] with its
    // backslashes doubled, and a value as "Path"="C:\\Palm".
    const char* keys[] = {"[Software\\\\U.S. Robotics\\\\Pilot Desktop\\\\Core]",
                          "[Software\\\\3Com\\\\Palm Desktop\\\\Core]"};
    char found[2][1024] = {"", ""};
    int section = -1;
    char line[2048];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (line[0] == '[') {
            section = -1;
            for (int k = 0; k < 2; k++) {
                if (strncasecmp(line, keys[k], std::strlen(keys[k])) == 0) {
                    section = k;
                }
            }
        } else if (section >= 0 && strncasecmp(line, "\"Path\"=\"", 8) == 0) {
            size_t length = 0;
            for (const char* c = line + 8; *c != '\0' && *c != '"' && length + 1 < sizeof found[0]; c++) {
                if (c[0] == '\\' && c[1] == '\\') {
                    c++;
                }
                found[section][length++] = *c;
            }
            found[section][length] = '\0';
        }
    }
    std::fclose(file);
    const char* path = found[0][0] != '\0' ? found[0] : found[1];
    // A drive letter's folder is the prefix's dosdevices link for it.
    if (std::strlen(path) < 3 || path[1] != ':' || path[2] != '\\') {
        return -1;
    }
    char drive = static_cast<char>(path[0] >= 'A' && path[0] <= 'Z' ? path[0] - 'A' + 'a' : path[0]);
    int written = std::snprintf(folder, capacity, "%s/dosdevices/%c:%s", prefix, drive, path + 2);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        return -1;
    }
    for (char* c = folder; *c != '\0'; c++) {
        *c = *c == '\\' ? '/' : *c;
    }
    return 0;
}

int defaultSpoolFolders(const char* home, char (*folders)[maxWatchPathLength + 1], int maxFolders)
{
    int count = 0;
    char path[maxWatchPathLength + 1];
    // J-Pilot makes its backup folder at the first backup: watched once
    // J-Pilot itself is there.
    if (count < maxFolders && joinPath(home, ".jpilot", path) && isFolder(path)) {
        if (joinPath(path, "backup", folders[count])) {
            count++;
        }
    }
    if (count < maxFolders && joinPath(home, ".pilot", path) && isFolder(path)) {
        std::snprintf(folders[count++], maxWatchPathLength + 1, "%s", path);
    }
    if (count < maxFolders && joinPath(home, ".wine", path) && isFolder(path) &&
        winePalmFolder(path, folders[count], maxWatchPathLength + 1) == 0 && isFolder(folders[count])) {
        count++;
    }
    // With none there yet, J-Pilot's and pilot-link's places are waited
    // for: a service started before the sync tool is installed then still
    // has something to watch, rather than failing at every restart.
    if (count == 0 && maxFolders >= 2 && joinPath(home, ".jpilot/backup", folders[0]) &&
        joinPath(home, ".pilot", folders[1])) {
        count = 2;
    }
    return count;
}
