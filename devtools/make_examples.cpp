// make_examples: writes the example spool files kept in examples/, which
// scripts/run delivers to the spooler in its demonstration.
//
// They are made with the tests' spool builder, as a hand-held would print:
// a two-page memo of text; a chart drawn as a compressed image between lines
// of text; and a fern drawn as a raw image. Everything is computed from
// fixed numbers, so running this again gives the same bytes and the files
// in the repository only change when this program does.
//
// Usage: make_examples [FOLDER]   (default: examples)
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

// A 1-bit picture being drawn: rows of rowBytes bytes, set bit black.
struct Picture {
    int width;
    int height;
    int rowBytes;
    Bytes bits;
};

Picture blankPicture(int width, int height)
{
    Picture picture = {width, height, rowBytesFor(width), {}};
    picture.bits.assign(static_cast<size_t>(picture.rowBytes) * height, 0);
    return picture;
}

void setBlack(Picture& picture, int x, int y)
{
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) {
        return;
    }
    picture.bits[static_cast<size_t>(y) * picture.rowBytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
}

// Every pixel of the rectangle for which pattern(x, y) holds becomes black.
template <typename Pattern>
void fillRectangle(Picture& picture, int x0, int y0, int x1, int y1, Pattern pattern)
{
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            if (pattern(x, y)) {
                setBlack(picture, x, y);
            }
        }
    }
}

ImageFields imageFieldsFor(const Picture& picture, int x, int flags)
{
    ImageFields fields;
    fields.width = picture.width;
    fields.height = picture.height;
    fields.x = x;
    fields.xResolution = 72;  // the hand-held's printing resolution
    fields.yResolution = 72;
    fields.flags = flags;
    fields.reserved = 0;
    return fields;
}

SpoolDatabase memo()
{
    SpoolDatabase database;
    database.records = {
        textRecord("MEMO                   12 March 1999\n"
                   "To:   Sales team\n"
                   "From: J. Quill\n"
                   "\n"
                   "The new price lists are in the\n"
                   "Memo Pad. Please HotSync before\n"
                   "Friday, so that the office copies\n"
                   "are up to date.\n"
                   "\n"
                   "Thanks!\n"),
        textRecord("REMINDERS\n"
                   "\n"
                   "- Order toner for the printer\n"
                   "- Back up the Palm Desktop folder\n"
                   "- Charge the spare batteries\n"),
    };
    return database;
}

// Four bars with different fills over a base line and a left axis; mostly
// runs of equal bytes and repeated rows, which compress well.
Picture barChart()
{
    const int width = 200;
    const int height = 110;
    const int base = height - 4;
    Picture chart = blankPicture(width, height);
    fillRectangle(chart, 8, 0, 10, base + 2, [](int, int) { return true; });
    fillRectangle(chart, 8, base, width, base + 2, [](int, int) { return true; });
    const int tops[4] = {60, 35, 48, 10};
    for (int bar = 0; bar < 4; bar++) {
        int left = 24 + bar * 44;
        int right = left + 30;
        fillRectangle(chart, left, tops[bar], right, base, [&](int x, int y) {
            bool edge = x == left || x == right - 1 || y == tops[bar];
            switch (bar) {
            case 0:
                return true;
            case 1:
                return edge || (x + y) % 4 == 0;
            case 2:
                return edge || (x % 2 == 0 && y % 2 == 0);
            default:
                return edge || y % 3 == 0;
            }
        });
    }
    return chart;
}

SpoolDatabase chart()
{
    Picture bars = barChart();
    SpoolDatabase database;
    database.records = {
        textRecord("QUARTERLY SALES 1999 (units)\n\n", recordFlagContinued),
        imageRecord(imageFieldsFor(bars, 0, recordFlagCompressed | recordFlagContinued),
                    encodeImageRuns(bars.bits, bars.rowBytes)),
        textRecord("\n     Q1    Q2    Q3    Q4\n"
                   "    410   655   530   880\n"),
    };
    return database;
}

// Barnsley's fern: a point jumps around under four affine maps, chosen at
// random with fixed weights, and every place it lands is inked. The random
// numbers come from a fixed linear congruential generator, so the picture is
// the same everywhere.
Picture fern()
{
    const int width = 120;
    const int height = 160;
    Picture picture = blankPicture(width, height);
    uint32_t state = 12345;
    double x = 0.0;
    double y = 0.0;
    for (int i = 0; i < 60000; i++) {
        state = state * 1664525u + 1013904223u;
        int choice = static_cast<int>((state >> 16) % 100);
        double nextX;
        double nextY;
        if (choice < 1) {
            nextX = 0.0;
            nextY = 0.16 * y;
        } else if (choice < 86) {
            nextX = 0.85 * x + 0.04 * y;
            nextY = -0.04 * x + 0.85 * y + 1.6;
        } else if (choice < 93) {
            nextX = 0.2 * x - 0.26 * y;
            nextY = 0.23 * x + 0.22 * y + 1.6;
        } else {
            nextX = -0.15 * x + 0.28 * y;
            nextY = 0.26 * x + 0.24 * y + 0.44;
        }
        x = nextX;
        y = nextY;
        // The fern spans x -2.2 to 2.7 and y 0 to 10.
        setBlack(picture, static_cast<int>((x + 2.2) / 4.9 * (width - 1)),
                 static_cast<int>((1.0 - y / 10.0) * (height - 1)));
    }
    return picture;
}

SpoolDatabase fernPage()
{
    Picture leaf = fern();
    SpoolDatabase database;
    database.records = {
        textRecord("FERNQUILL DESKTOP SPOOLER\n"
                   "printed from a Palm hand-held\n\n",
                   recordFlagContinued),
        imageRecord(imageFieldsFor(leaf, 36, recordFlagContinued), leaf.bits),
        textRecord("\nBarnsley's fern, 120 x 160 dots\n"),
    };
    return database;
}

bool writeSpoolFile(const std::string& path, const SpoolDatabase& database)
{
    Bytes bytes = buildSpoolFile(database);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "make_examples: can't write %s\n", path.c_str());
        return false;
    }
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), out);
    bool closed = std::fclose(out) == 0;
    if (written != bytes.size() || !closed) {
        std::fprintf(stderr, "make_examples: can't write %s\n", path.c_str());
        return false;
    }
    std::printf("%s: %zu records, %zu bytes\n", path.c_str(), database.records.size(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::fprintf(stderr, "usage: make_examples [FOLDER]\n");
        return 2;
    }
    std::string folder = argc == 2 ? argv[1] : "examples";
    // Numbered so that a sorted listing gives the order of delivery.
    bool ok = writeSpoolFile(folder + "/1-memo.PDB", memo()) && writeSpoolFile(folder + "/2-chart.PDB", chart()) &&
              writeSpoolFile(folder + "/3-fern.PDB", fernPage());
    return ok ? 0 : 1;
}
