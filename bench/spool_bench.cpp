// Walking and decoding a large spool file, beside a plain fread loop over the
// same file. Both read from the page cache after the first pass, so the ratio
// of the two throughputs says what our stream and decoders cost on top of
// getting the bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "spool/spool_records.h"
#include "spool/spool_stream.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const size_t targetFileSize = 64u << 20;

// A page of text of the kind a hand-held prints: short lines, CR LF ends.
Bytes makeTextPayload()
{
    std::string text;
    for (int line = 0; line < 40; line++) {
        text += "Line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
    }
    return Bytes(text.begin(), text.end());
}

// Thirds of compressed images, raw images and text, by bytes.
Bytes makeLargeSpoolFile()
{
    SpoolDatabase database;
    const Bytes text = makeTextPayload();
    const int wide = 1200;
    const int tall = 1500;
    const Bytes bits = makeTestBitmap(rowBytesFor(wide), tall, 7);
    const Bytes runs = encodeImageRuns(bits, rowBytesFor(wide));

    ImageFields fields;
    fields.width = wide;
    fields.height = tall;
    fields.flags = recordFlagCompressed;
    const Bytes compressedImage = imageRecord(fields, runs);
    fields.flags = 0;
    const Bytes rawImage = imageRecord(fields, bits);
    const Bytes textPage = textRecord(text);

    size_t compressedBytes = 0, rawBytes = 0, textBytes = 0, total = 0;
    while (total < targetFileSize) {
        if (compressedBytes <= rawBytes && compressedBytes <= textBytes) {
            database.records.push_back(compressedImage);
            compressedBytes += compressedImage.size();
        } else if (rawBytes <= textBytes) {
            database.records.push_back(rawImage);
            rawBytes += rawImage.size();
        } else {
            database.records.push_back(textPage);
            textBytes += textPage.size();
        }
        total = compressedBytes + rawBytes + textBytes;
    }
    return buildSpoolFile(database);
}

const TempFile& largeSpoolFile()
{
    static TempFile file(makeLargeSpoolFile());
    return file;
}

void countCharacters(void* context, const char*, int count)
{
    *static_cast<int64_t*>(context) += count;
}

// Reads every record the way a print job walks the file: records that an
// earlier record consumed as data are skipped.
int64_t walkAndDecode(SpoolStream* stream)
{
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    int64_t produced = 0;
    for (int i = 0; i < count; i++) {
        int32_t offset = 0;
        int32_t size = 0;
        readRecordExtent(stream, i, &offset, &size);
        if (offset < tell(stream)) {
            continue;
        }
        seekTo(stream, offset);
        RecordHeader header = readRecordHeader(stream);
        if (header.kind == recordKindText) {
            splitTextLines(stream, size - 2, countCharacters, &produced);
        } else if (header.kind == recordKindImage) {
            ImageHeader image = readImageHeader(stream);
            ImageBits bits;
            if (decodeImageBits(stream, image, (header.flags & recordFlagCompressed) != 0, &bits) == 0) {
                produced += static_cast<int64_t>(bits.rowBytes) * bits.height;
                freeImageBits(&bits);
            }
        }
    }
    return produced;
}

void decodeSpoolFile(benchmark::State& state)
{
    const TempFile& file = largeSpoolFile();
    int64_t fileSize = 0;
    for (auto _ : state) {
        SpoolStream* stream = openSpoolStream(file.path().c_str());
        if (stream == nullptr) {
            state.SkipWithError("cannot open the spool file");
            return;
        }
        benchmark::DoNotOptimize(walkAndDecode(stream));
        seekToEnd(stream);
        fileSize = tell(stream);
        closeSpoolStream(stream);
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

void plainFreadLoop(benchmark::State& state)
{
    const TempFile& file = largeSpoolFile();
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[1 << 16]);
    int64_t fileSize = 0;
    for (auto _ : state) {
        std::FILE* in = std::fopen(file.path().c_str(), "rb");
        if (in == nullptr) {
            state.SkipWithError("cannot open the spool file");
            return;
        }
        int64_t total = 0;
        unsigned sum = 0;
        size_t got;
        while ((got = std::fread(buffer.get(), 1, 1 << 16, in)) > 0) {
            sum += buffer[got - 1];
            total += static_cast<int64_t>(got);
        }
        std::fclose(in);
        benchmark::DoNotOptimize(sum);
        fileSize = total;
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

// Every byte through readByte(), for the cost of the stream alone.
void readByteLoop(benchmark::State& state)
{
    const TempFile& file = largeSpoolFile();
    int64_t fileSize = 0;
    for (auto _ : state) {
        SpoolStream* stream = openSpoolStream(file.path().c_str());
        if (stream == nullptr) {
            state.SkipWithError("cannot open the spool file");
            return;
        }
        unsigned sum = 0;
        int64_t total = 0;
        for (int value = readByte(stream); value >= 0; value = readByte(stream)) {
            sum += static_cast<unsigned>(value);
            total++;
        }
        closeSpoolStream(stream);
        benchmark::DoNotOptimize(sum);
        fileSize = total;
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
}

}  // namespace

BENCHMARK(plainFreadLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(readByteLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(decodeSpoolFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
