// spool_to_png: renders every page of a spool file to PNG files, as the
// spooler would print them.
//
// The tool plays the printer. A printer reports a drawable area (the sheet
// less its unprintable margins, the physical offsets, on both sides) and
// draws with the origin moved up and left by those offsets, so that page
// position 0 is the paper's edge. Here the page is rendered on a software
// surface of that area with that origin, and each PNG shows the whole sheet:
// the area at its offsets, the margins white, as they come out of a printer.
//
// The pages are walked exactly as the print job walks them, so the files
// match what a printer receives: one document per page, also when the
// renderer refuses the page and the document goes out blank, and records
// that a page consumed as image data are skipped.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "spool/spool_stream.h"
#include "tools/png_writer.h"

namespace {

const char usageText[] =
    "usage: spool_to_png [--dpi N] [--paper letter|a4] [--offset X,Y] [--out DIR] FILE.PDB\n"
    "\n"
    "Renders every page of a Fernquill spool file to 1-bit PNG files named\n"
    "DIR/<name>-page-001.png and so on, one per printed page.\n"
    "\n"
    "  --dpi N          printer resolution in pixels per inch (default 300)\n"
    "  --paper P        sheet size: letter, 8.5 x 11 in (default), or a4, 210 x 297 mm\n"
    "  --offset X,Y     the printer's unprintable margins in pixels (default 0,0)\n"
    "  --out DIR        existing folder for the PNG files (default .)\n"
    "  --help           this text\n";

const int exitFailure = 1;
const int exitUsage = 2;
const int maxPathLength = 1023;

// Sheet sizes in tenths of a millimetre, so that both convert to pixels the
// same way: Letter is 215.9 x 279.4 mm.
struct PaperSize {
    const char* name;
    int width;
    int height;
};

const PaperSize paperSizes[] = {
    {"letter", 2159, 2794},
    {"a4", 2100, 2970},
};

struct ToolOptions {
    int dpi;
    const PaperSize* paper;
    int offsetX;
    int offsetY;
    const char* outDir;
    const char* spoolPath;
    bool help;
};

// The sheet and the printer's drawable area on it, in pixels.
struct SheetLayout {
    int dpi;
    int sheetWidth;
    int sheetHeight;
    int offsetX;
    int offsetY;
    int areaWidth;
    int areaHeight;
};

// What the PNG writer asks rows of: the rendered area, placed on the sheet.
struct SheetRows {
    DrawSurface* surface;
    const SheetLayout* sheet;
    unsigned char* row;  // one sheet row
    int rowBytes;
};

// A whole decimal number from 0 to max, nothing else in the text.
int parseNumber(const char* text, int max, int* value)
{
    if (text == nullptr || *text < '0' || *text > '9') {
        return -1;
    }
    int64_t number = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        number = number * 10 + (*text - '0');
        if (number > max) {
            return -1;
        }
    }
    if (*text != '\0') {
        return -1;
    }
    *value = static_cast<int>(number);
    return 0;
}

// "X,Y"
int parseOffset(const char* text, int* x, int* y)
{
    const char* comma = text != nullptr ? std::strchr(text, ',') : nullptr;
    if (comma == nullptr || comma - text > 20) {
        return -1;
    }
    char first[21];
    std::memcpy(first, text, static_cast<size_t>(comma - text));
    first[comma - text] = '\0';
    return parseNumber(first, INT_MAX, x) == 0 && parseNumber(comma + 1, INT_MAX, y) == 0 ? 0 : -1;
}

const PaperSize* findPaper(const char* name)
{
    for (const PaperSize& paper : paperSizes) {
        if (name != nullptr && std::strcmp(name, paper.name) == 0) {
            return &paper;
        }
    }
    return nullptr;
}

int badArgument(const char* what, const char* value)
{
    std::fprintf(stderr, "spool_to_png: %s%s%s\n", what, value != nullptr ? ": " : "", value != nullptr ? value : "");
    return -1;
}

// Fills options from the command line; on a bad argument says which and
// returns -1.
int parseArguments(int argc, char** argv, ToolOptions* options)
{
    options->dpi = 300;
    options->paper = &paperSizes[0];
    options->offsetX = 0;
    options->offsetY = 0;
    options->outDir = ".";
    options->spoolPath = nullptr;
    options->help = false;

    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->help = true;
            return 0;
        } else if (std::strcmp(argument, "--dpi") == 0) {
            if (parseNumber(value, INT_MAX, &options->dpi) != 0 || options->dpi == 0) {
                return badArgument("--dpi needs a whole number above 0", value);
            }
            i++;
        } else if (std::strcmp(argument, "--paper") == 0) {
            options->paper = findPaper(value);
            if (options->paper == nullptr) {
                return badArgument("--paper is letter or a4", value);
            }
            i++;
        } else if (std::strcmp(argument, "--offset") == 0) {
            if (parseOffset(value, &options->offsetX, &options->offsetY) != 0) {
                return badArgument("--offset needs two whole numbers, X,Y", value);
            }
            i++;
        } else if (std::strcmp(argument, "--out") == 0) {
            if (value == nullptr || *value == '\0') {
                return badArgument("--out needs a folder", nullptr);
            }
            options->outDir = value;
            i++;
        } else if (argument[0] == '-' && argument[1] != '\0') {
            return badArgument("unknown option", argument);
        } else if (options->spoolPath != nullptr) {
            return badArgument("only one spool file at a time; also given", argument);
        } else {
            options->spoolPath = argument;
        }
    }
    if (options->spoolPath == nullptr) {
        return badArgument("no spool file given", nullptr);
    }
    return 0;
}

// Rounds to the nearest pixel, as printer drivers report A4 (2480 x 3508 at
// 300 dpi).
int64_t tenthMillimetresToPixels(int tenths, int dpi)
{
    return (static_cast<int64_t>(dpi) * tenths + 127) / 254;
}

// Works out the sheet and the drawable area; -1 when the offsets leave no
// area or the sheet is beyond what a pixel count can hold.
int layOutSheet(const ToolOptions& options, SheetLayout* sheet)
{
    int64_t width = tenthMillimetresToPixels(options.paper->width, options.dpi);
    int64_t height = tenthMillimetresToPixels(options.paper->height, options.dpi);
    if (width > INT_MAX || height > INT_MAX) {
        std::fprintf(stderr, "spool_to_png: a %s sheet at %d dpi is too large\n", options.paper->name, options.dpi);
        return -1;
    }
    int64_t areaWidth = width - 2 * static_cast<int64_t>(options.offsetX);
    int64_t areaHeight = height - 2 * static_cast<int64_t>(options.offsetY);
    if (areaWidth <= 0 || areaHeight <= 0) {
        std::fprintf(stderr, "spool_to_png: offsets %d,%d leave nothing to draw on a %lld x %lld sheet\n",
                     options.offsetX, options.offsetY, static_cast<long long>(width),
                     static_cast<long long>(height));
        return -1;
    }
    sheet->dpi = options.dpi;
    sheet->sheetWidth = static_cast<int>(width);
    sheet->sheetHeight = static_cast<int>(height);
    sheet->offsetX = options.offsetX;
    sheet->offsetY = options.offsetY;
    sheet->areaWidth = static_cast<int>(areaWidth);
    sheet->areaHeight = static_cast<int>(areaHeight);
    return 0;
}

// ORs areaWidth pixels of an area row into a sheet row, starting at pixel
// offsetX. The area's own row may carry stray bits past its width; they are
// masked off so they don't show in the right margin.
void placeAreaRow(const unsigned char* area, int areaWidth, int offsetX, unsigned char* sheetRow, int sheetRowBytes)
{
    int areaBytes = (areaWidth + 7) / 8;
    int shift = offsetX % 8;
    int at = offsetX / 8;
    for (int i = 0; i < areaBytes; i++) {
        unsigned int bits = area[i];
        if (i == areaBytes - 1 && areaWidth % 8 != 0) {
            bits &= 0xFFu << (8 - areaWidth % 8);
        }
        sheetRow[at + i] |= static_cast<unsigned char>(bits >> shift);
        if (shift != 0 && at + i + 1 < sheetRowBytes) {
            sheetRow[at + i + 1] |= static_cast<unsigned char>(bits << (8 - shift));
        }
    }
}

const unsigned char* sheetRowAt(void* context, int y)
{
    SheetRows* rows = static_cast<SheetRows*>(context);
    const SheetLayout& sheet = *rows->sheet;
    std::memset(rows->row, 0, static_cast<size_t>(rows->rowBytes));
    int areaY = y - sheet.offsetY;
    if (areaY >= 0 && areaY < sheet.areaHeight) {
        placeAreaRow(surfaceRow(rows->surface, areaY), sheet.areaWidth, sheet.offsetX, rows->row, rows->rowBytes);
    }
    return rows->row;
}

// The file name without its folder and extension: "C:\x\job.PDB" -> "job".
void spoolBaseName(const char* path, char* name, size_t capacity)
{
    const char* start = path;
    for (const char* c = path; *c != '\0'; c++) {
#if defined(_WIN32)
        bool separator = *c == '/' || *c == '\\' || *c == ':';
#else
        bool separator = *c == '/';
#endif
        if (separator) {
            start = c + 1;
        }
    }
    const char* dot = std::strrchr(start, '.');
    size_t length = dot != nullptr && dot != start ? static_cast<size_t>(dot - start) : std::strlen(start);
    std::snprintf(name, capacity, "%.*s", static_cast<int>(length), start);
}

int makePagePath(char* path, size_t capacity, const char* outDir, const char* baseName, int pageNumber)
{
    size_t dirLength = std::strlen(outDir);
    bool hasSeparator = dirLength > 0 && (outDir[dirLength - 1] == '/' || outDir[dirLength - 1] == '\\');
    int written = std::snprintf(path, capacity, "%s%s%s-page-%03d.png", outDir, hasSeparator ? "" : "/", baseName,
                                pageNumber);
    return written > 0 && static_cast<size_t>(written) < capacity ? 0 : -1;
}

// Renders and writes every page; returns 0, or exitFailure once a PNG can't
// be written.
int writePages(SpoolStream* stream, int recordCount, DrawSurface* surface, const SheetLayout& sheet,
               const ToolOptions& options, unsigned char* sheetRow)
{
    char baseName[maxPathLength + 1];
    spoolBaseName(options.spoolPath, baseName, sizeof baseName);
    PagePlacement placement = {-sheet.offsetX, -sheet.offsetY, sheet.dpi, sheet.dpi, sheet.areaWidth, sheet.areaHeight};
    SheetRows rows = {surface, &sheet, sheetRow, (sheet.sheetWidth + 7) / 8};

    int pageNumber = 0;
    for (int record = 0; record < recordCount; record = nextPageRecord(stream, record, recordCount)) {
        // A refused page has been filled white and leaves the stream alone:
        // the printer would print it blank.
        bool refused = renderPage(surface, placement, stream, record, recordCount, false) != 0;
        pageNumber++;
        char pagePath[maxPathLength + 1];
        if (makePagePath(pagePath, sizeof pagePath, options.outDir, baseName, pageNumber) != 0) {
            std::fprintf(stderr, "spool_to_png: output path too long in %s\n", options.outDir);
            return exitFailure;
        }
        if (writeMonochromePng(pagePath, sheet.sheetWidth, sheet.sheetHeight, sheet.dpi, sheetRowAt, &rows) != 0) {
            std::fprintf(stderr, "spool_to_png: cannot write %s\n", pagePath);
            return exitFailure;
        }
        std::printf("%s  %d x %d%s\n", pagePath, sheet.sheetWidth, sheet.sheetHeight,
                    refused ? "  (refused: blank)" : "");
    }
    return 0;
}

int convertSpoolFile(const ToolOptions& options, const SheetLayout& sheet)
{
    SpoolStream* stream = openSpoolStream(options.spoolPath);
    if (stream == nullptr) {
        std::fprintf(stderr, "spool_to_png: cannot open spool file %s\n", options.spoolPath);
        return exitFailure;
    }
    // The job reads the count and starts its first page from offset 0.
    int recordCount = 0;
    readSpoolHeader(stream, &recordCount, nullptr, nullptr);
    seekTo(stream, 0);
    if (recordCount <= 0) {
        std::printf("%s: no pages (record count %d)\n", options.spoolPath, recordCount);
        closeSpoolStream(stream);
        return 0;
    }

    int result = exitFailure;
    DrawSurface* surface = createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi, sheet.dpi, sheet.offsetX,
                                             sheet.offsetY);
    unsigned char* sheetRow = new (std::nothrow) unsigned char[(static_cast<size_t>(sheet.sheetWidth) + 7) / 8];
    if (surface == nullptr || sheetRow == nullptr) {
        std::fprintf(stderr, "spool_to_png: not enough memory for a %d x %d page at %d dpi\n", sheet.areaWidth,
                     sheet.areaHeight, sheet.dpi);
    } else {
        result = writePages(stream, recordCount, surface, sheet, options, sheetRow);
    }
    delete[] sheetRow;
    if (surface != nullptr) {
        destroyPageSurface(surface);
    }
    closeSpoolStream(stream);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    ToolOptions options;
    if (parseArguments(argc, argv, &options) != 0) {
        std::fprintf(stderr, "Try 'spool_to_png --help'.\n");
        return exitUsage;
    }
    if (options.help) {
        std::fputs(usageText, stdout);
        return 0;
    }
    SheetLayout sheet;
    if (layOutSheet(options, &sheet) != 0) {
        return exitUsage;
    }
    return convertSpoolFile(options, sheet);
}
