#include "bench/bench_files.h"

#include <string>

using namespace spooltest;

spooltest::Bytes makeMixedSpoolFile()
{
    std::string text;
    for (int line = 0; line < 60; line++) {
        text += "Invoice line " + std::to_string(line) + "    qty 3    each 4.99    total 14.97\r\n";
    }
    const int width = 576;  // 8 in at 72 dpi
    const int height = 720;
    Bytes bits = makeTestBitmap(rowBytesFor(width), height, 11);
    ImageFields fields;
    fields.width = width;
    fields.height = height;

    SpoolDatabase database;
    for (int round = 0; round < 3; round++) {
        database.records.push_back(textRecord(text));
        fields.flags = 0;
        database.records.push_back(imageRecord(fields, bits));
        fields.flags = recordFlagCompressed;
        database.records.push_back(imageRecord(fields, encodeImageRuns(bits, rowBytesFor(width))));
        database.records.push_back(textRecord(text.substr(0, 600), recordFlagContinued));
        database.records.push_back(imageRecord(fields, encodeImageRuns(bits, rowBytesFor(width))));
    }
    return buildSpoolFile(database);
}
