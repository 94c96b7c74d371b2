#include "unix/watch_log.h"

#include <cstdarg>
#include <cstdio>

void logEvent(const char* format, ...)
{
    // Built whole and written with one call, so that lines of two watchers
    // sharing a terminal or journal never interleave.
    char line[8192];
    int length = std::snprintf(line, sizeof line, "spool_watch: ");
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + length, sizeof line - static_cast<size_t>(length) - 1, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}
