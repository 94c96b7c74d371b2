#include "tests/files.h"

#include <cstdio>

std::string readWholeFile(const std::string& path)
{
    std::string contents;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return contents;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), in)) > 0) {
        contents.append(buffer, got);
    }
    std::fclose(in);
    return contents;
}
