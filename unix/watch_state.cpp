#include "unix/watch_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "unix/watch_settings.h"

namespace {

const char stateHeading[] = "# spool_watch: what was last printed of each spool file\n";

// Makes every missing folder of path's folder, private to the user.
int makeFolderOf(const char* path)
{
    char folder[maxWatchPathLength + 1];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr || slash == folder) {
        return 0;
    }
    *slash = '\0';
    for (char* c = folder + 1; *c != '\0'; c++) {
        if (*c == '/') {
            *c = '\0';
            if (mkdir(folder, 0700) != 0 && errno != EEXIST) {
                return -1;
            }
            *c = '/';
        }
    }
    return mkdir(folder, 0700) != 0 && errno != EEXIST ? -1 : 0;
}

// path with backslash, LF and CR escaped, so one line holds it.
void writeEscapedPath(std::FILE* file, const char* path)
{
    for (const char* c = path; *c != '\0'; c++) {
        if (*c == '\\') {
            std::fputs("\\\\", file);
        } else if (*c == '\n') {
            std::fputs("\\n", file);
        } else if (*c == '\r') {
            std::fputs("\\r", file);
        } else {
            std::fputc(*c, file);
        }
    }
}

// Undoes writeEscapedPath in place; false on an escape it never writes.
bool unescapePath(char* path)
{
    char* out = path;
    for (const char* c = path; *c != '\0'; c++) {
        if (*c != '\\') {
            *out++ = *c;
            continue;
        }
        c++;
        if (*c == '\\') {
            *out++ = '\\';
        } else if (*c == 'n') {
            *out++ = '\n';
        } else if (*c == 'r') {
            *out++ = '\r';
        } else {
            return false;
        }
    }
    *out = '\0';
    return true;
}

// One line "HASH SIZE TIME PATH" into the state; false when it is not one.
bool parseStateLine(char* line, WatchState* state)
{
    size_t length = std::strlen(line);
    if (length == 0 || line[length - 1] != '\n') {
        return false;  // cut short
    }
    line[length - 1] = '\0';
    uint64_t hash = 0;
    long long size = 0;
    long long modified = 0;
    int used = 0;
    if (std::sscanf(line, "%16" SCNx64 " %lld %lld %n", &hash, &size, &modified, &used) != 3 || used == 0 ||
        size < 0 || line[used] != '/' || line[used - 1] != ' ') {
        return false;
    }
    char* path = line + used;
    return unescapePath(path) && recordPrintedFile(state, path, modified, size, hash) == 0;
}

}  // namespace

uint64_t hashSpoolBytes(const unsigned char* bytes, size_t size)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; i++) {
        hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    }
    return hash;
}

int defaultStatePath(char* path, size_t capacity)
{
    return xdgFilePath("XDG_STATE_HOME", ".local/state", "fernquill/spool_watch.state", path, capacity);
}

int loadWatchState(const char* path, WatchState* state, int* line)
{
    *state = WatchState{};
    std::snprintf(state->path, sizeof state->path, "%s", path);
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return errno == ENOENT ? 0 : -2;
    }
    char text[3 * maxWatchPathLength + 100];
    int number = 0;
    int result = 0;
    while (result == 0 && std::fgets(text, sizeof text, file) != nullptr) {
        number++;
        if (number == 1 ? std::strcmp(text, stateHeading) != 0 : !parseStateLine(text, state)) {
            result = -1;
        }
    }
    if (result == 0 && std::ferror(file)) {
        result = -2;
    }
    if (result == 0 && number == 0) {
        result = -1;  // a state file is never empty: its heading comes first
    }
    std::fclose(file);
    if (result != 0) {
        *line = number;
        freeWatchState(state);
        return result;
    }
    state->existed = true;
    return 0;
}

int saveWatchState(const WatchState& state)
{
    if (makeFolderOf(state.path) != 0) {
        return -1;
    }
    char temporary[maxWatchPathLength + 32];
    std::snprintf(temporary, sizeof temporary, "%s.%ld.new", state.path, static_cast<long>(getpid()));
    int descriptor = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "w") : nullptr;
    if (file == nullptr) {
        int error = errno;
        if (descriptor >= 0) {
            close(descriptor);
            unlink(temporary);
        }
        errno = error;
        return -1;
    }
    std::fputs(stateHeading, file);
    for (size_t i = 0; i < state.count; i++) {
        const PrintedFile& printed = state.files[i];
        std::fprintf(file, "%016" PRIx64 " %lld %lld ", printed.hash, static_cast<long long>(printed.size),
                     static_cast<long long>(printed.modifiedNs));
        writeEscapedPath(file, printed.path);
        std::fputc('\n', file);
    }
    // On disk before the rename, so that the name never points at a file
    // the kernel has not written yet.
    bool written = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && std::rename(temporary, state.path) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary);
        errno = error;
        return -1;
    }
    return 0;
}

PrintedFile* findPrintedFile(WatchState* state, const char* path)
{
    for (size_t i = 0; i < state->count; i++) {
        if (std::strcmp(state->files[i].path, path) == 0) {
            return &state->files[i];
        }
    }
    return nullptr;
}

int recordPrintedFile(WatchState* state, const char* path, int64_t modifiedNs, int64_t size, uint64_t hash)
{
    PrintedFile* printed = findPrintedFile(state, path);
    if (printed == nullptr) {
        if (state->count == state->capacity) {
            size_t capacity = state->capacity == 0 ? 16 : state->capacity * 2;
            PrintedFile* files = static_cast<PrintedFile*>(std::realloc(state->files, capacity * sizeof(PrintedFile)));
            if (files == nullptr) {
                return -1;
            }
            state->files = files;
            state->capacity = capacity;
        }
        char* copy = strdup(path);
        if (copy == nullptr) {
            return -1;
        }
        printed = &state->files[state->count++];
        printed->path = copy;
    }
    printed->modifiedNs = modifiedNs;
    printed->size = size;
    printed->hash = hash;
    return 0;
}

bool bytesPrinted(const WatchState& state, int64_t size, uint64_t hash)
{
    for (size_t i = 0; i < state.count; i++) {
        if (state.files[i].size == size && state.files[i].hash == hash) {
            return true;
        }
    }
    return false;
}

void freeWatchState(WatchState* state)
{
    for (size_t i = 0; i < state->count; i++) {
        std::free(state->files[i].path);
    }
    std::free(state->files);
    state->files = nullptr;
    state->count = 0;
    state->capacity = 0;
}

int lockWatchState(const char* statePath)
{
    char path[maxWatchPathLength + 16];
    std::snprintf(path, sizeof path, "%s.lock", statePath);
    makeFolderOf(path);
    int descriptor = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return -2;
    }
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return errno == EWOULDBLOCK ? -1 : -2;
    }
    return descriptor;
}
