#include "tools/file_paths.h"

#include <cstdio>
#include <cstring>

namespace {

// The name's extension, from its last dot; nullptr when it has none, or
// when its only dot starts it (".profile").
const char* extensionOf(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && dot != name ? dot : nullptr;
}

int fitted(int written, size_t capacity)
{
    return written >= 0 && static_cast<size_t>(written) < capacity ? 0 : -1;
}

}  // namespace

bool isPathSeparator(char c)
{
#if defined(_WIN32)
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

const char* pathFileName(const char* path)
{
    const char* name = path;
    for (const char* c = path; *c != '\0'; c++) {
        if (isPathSeparator(*c)) {
            name = c + 1;
        }
    }
    return name;
}

int pathBaseName(const char* path, char* name, size_t capacity)
{
    const char* start = pathFileName(path);
    const char* extension = extensionOf(start);
    size_t length = extension != nullptr ? static_cast<size_t>(extension - start) : std::strlen(start);
    return fitted(std::snprintf(name, capacity, "%.*s", static_cast<int>(length), start), capacity);
}

int pathWithExtension(const char* path, const char* extension, char* result, size_t capacity)
{
    const char* old = extensionOf(pathFileName(path));
    size_t stem = old != nullptr ? static_cast<size_t>(old - path) : std::strlen(path);
    return fitted(std::snprintf(result, capacity, "%.*s%s", static_cast<int>(stem), path, extension), capacity);
}

int pathInFolder(const char* folder, const char* name, char* result, size_t capacity)
{
    size_t length = std::strlen(folder);
    bool separated = length > 0 && isPathSeparator(folder[length - 1]);
    return fitted(std::snprintf(result, capacity, "%s%s%s", folder, separated ? "" : "/", name), capacity);
}
