// Writes the benchmarks' twelve-page mixed job to a file, for the web page's
// benchmark, which runs it in the browser against spool_to_png.
//
//     write_mixed_job FILE
#include <cstdio>

#include "bench/bench_files.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_mixed_job FILE\n");
        return 2;
    }
    spooltest::Bytes file = makeMixedSpoolFile();
    std::FILE* out = std::fopen(argv[1], "wb");
    bool written = out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (out != nullptr && std::fclose(out) != 0) {
        written = false;
    }
    if (!written) {
        std::fprintf(stderr, "write_mixed_job: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
