#include "fuzz/fuzz_input.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

char inputPath[512];

void removeInputFile()
{
    if (inputPath[0] != '\0') {
        std::remove(inputPath);
    }
}

// /dev/shm keeps a million rewrites a minute off the disk; elsewhere the
// usual temp folder does.
const char* inputFolder()
{
    if (access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// Named by process id, so parallel fuzzers (-jobs, -fork) never share one.
const char* inputFile()
{
    if (inputPath[0] == '\0') {
        std::snprintf(inputPath, sizeof inputPath, "%s/fernquill-fuzz-%ld.pdb", inputFolder(),
                      static_cast<long>(getpid()));
        std::atexit(removeInputFile);
    }
    return inputPath;
}

}  // namespace

void fuzzCheck(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

SpoolStream* openFuzzInput(const uint8_t* data, size_t size)
{
    const char* path = inputFile();
    std::FILE* file = std::fopen(path, "wb");
    fuzzCheck(file != nullptr, "the input file can be created");
    size_t written = size > 0 ? std::fwrite(data, 1, size, file) : 0;
    bool closed = std::fclose(file) == 0;
    fuzzCheck(written == size && closed, "the input file can be written");
    SpoolStream* stream = openSpoolStream(path);
    fuzzCheck(stream != nullptr, "the input file opens as a spool stream");
    fuzzCheck(stream->length == static_cast<int64_t>(size), "the stream's length is the input's size");
    return stream;
}
