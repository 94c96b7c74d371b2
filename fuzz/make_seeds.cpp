// Writes the fuzzers' seed corpus: spool files made by the tests' builder,
// sound ones with every kind of record and run, and damaged ones with one
// fault each, so the fuzzer starts from files that reach every part of the
// reader and the renderer instead of having to discover the format.
//
//     make_seeds OUTPUT_FOLDER
//
// The seeds are generated at build time rather than kept as binary files, so
// they follow the builder (and the format) as it changes.
#include <cstdio>
#include <string>

#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const int continued = recordFlagContinued;
const int compressed = recordFlagCompressed;

Bytes image(int width, int height, int flags, int resolution, uint32_t seed)
{
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.flags = flags;
    fields.x = 4;
    fields.y = 2;
    fields.xResolution = resolution;
    fields.yResolution = resolution;
    Bytes bits = makeTestBitmap(rowBytesFor(width), height, seed);
    return imageRecord(fields, (flags & compressed) != 0 ? encodeImageRuns(bits, rowBytesFor(width)) : bits);
}

SpoolDatabase mixedJob()
{
    SpoolDatabase job;
    job.records = {textRecord("Fernquill\r\nprint test\n", continued),
                   image(40, 12, continued | compressed, 72, 1),
                   textRecord("after the image\0tab\tand \xE9\n", continued),
                   image(17, 5, 0, 96, 2),
                   textRecord("second page\n"),
                   Bytes{7, continued, 'z'},
                   image(24, 3, 0, 0, 3)};
    return job;
}

// An image whose bitmap runs on through the next two records, chained to a
// record after them.
SpoolDatabase consumedRecords()
{
    ImageFields fields;
    fields.width = 32;
    fields.height = 12;
    fields.flags = continued;
    fields.xResolution = 96;
    fields.yResolution = 96;
    Bytes bits = makeTestBitmap(4, 12, 4);
    SpoolDatabase job;
    job.records = {imageRecord(fields, Bytes(bits.begin(), bits.begin() + 16)),
                   Bytes(bits.begin() + 16, bits.begin() + 32), Bytes(bits.begin() + 32, bits.end()),
                   textRecord("chained on\n")};
    return job;
}

void write(const std::string& folder, const std::string& name, const Bytes& file, int* failures)
{
    std::string path = folder + "/" + name + ".pdb";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool written = out != nullptr && (file.empty() || std::fwrite(file.data(), 1, file.size(), out) == file.size());
    if (out != nullptr && std::fclose(out) != 0) {
        written = false;
    }
    if (!written) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        (*failures)++;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    int failures = 0;

    SpoolDatabase text;
    text.records = {textRecord("Hello\nworld\n\nthree lines\n")};
    write(folder, "text", buildSpoolFile(text), &failures);

    SpoolDatabase raw;
    raw.records = {image(160, 40, 0, 72, 5)};
    write(folder, "raw-image", buildSpoolFile(raw), &failures);

    SpoolDatabase packed;
    packed.records = {image(160, 160, compressed, 72, 6)};
    write(folder, "compressed-image", buildSpoolFile(packed), &failures);

    write(folder, "mixed-job", buildSpoolFile(mixedJob()), &failures);
    write(folder, "consumed-records", buildSpoolFile(consumedRecords()), &failures);

    // Damaged files, one fault each.
    SpoolDatabase damaged = mixedJob();
    damaged.truncateTo = 60;
    write(folder, "header-cut-short", buildSpoolFile(damaged), &failures);

    damaged = mixedJob();
    damaged.storedCount = 40;
    write(folder, "count-past-the-record-list", buildSpoolFile(damaged), &failures);

    damaged = mixedJob();
    damaged.startOffsets[2] = 0x00FFFFFF;
    damaged.startOffsets[5] = 0x80000000;
    write(folder, "offsets-past-the-end-and-negative", buildSpoolFile(damaged), &failures);

    damaged = mixedJob();
    damaged.startOffsets[1] = recordStart(damaged, 0);
    damaged.startOffsets[3] = recordStart(damaged, 2) + 1;
    write(folder, "offsets-shared-and-shifted", buildSpoolFile(damaged), &failures);

    damaged = mixedJob();
    damaged.truncateTo = recordStart(damaged, 1) + 9;
    write(folder, "image-header-cut-short", buildSpoolFile(damaged), &failures);

    damaged = SpoolDatabase();
    damaged.records = {image(64, 30, compressed, 72, 7)};
    damaged.truncateTo = buildSpoolFile(damaged).size() - 7;
    write(folder, "compressed-data-cut", buildSpoolFile(damaged), &failures);

    damaged = SpoolDatabase();
    damaged.records = {textRecord("a", continued), Bytes{1}, image(9, 9, 0, 0, 8), textRecord("")};
    write(folder, "tiny-records", buildSpoolFile(damaged), &failures);

    return failures == 0 ? 0 : 1;
}
