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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "spool/spool_stream.h"
#include "tools/png_writer.h"
#include "tools/sheet_layout.h"

namespace {

const char toolName[] = "spool_to_png";

const char usageText[] =
    "usage: spool_to_png [--dpi N] [--paper letter|a4] [--offset X,Y] [--out DIR] FILE.PDB\n"
    "\n"
    "Renders every page of a Fernquill spool file to 1-bit PNG files named\n"
    "DIR/<name>-page-001.png and so on, one per printed page.\n"
    "\n";
const char usageTail[] =
    "  --out DIR        existing folder for the PNG files (default .)\n"
    "  --help           this text\n";

const int exitFailure = 1;
const int exitUsage = 2;
const int maxPathLength = 1023;

struct ToolOptions {
    SheetOptions sheet;
    const char* outDir;
    const char* spoolPath;
    bool help;
};

// What the PNG writer asks rows of: the rendered area, placed on the sheet.
struct SheetRows {
    DrawSurface* surface;
    const SheetLayout* sheet;
    unsigned char* row;  // one sheet row
    int rowBytes;
};

int badArgument(const char* what, const char* value)
{
    std::fprintf(stderr, "spool_to_png: %s%s%s\n", what, value != nullptr ? ": " : "", value != nullptr ? value : "");
    return -1;
}

// Fills options from the command line; on a bad argument says which and
// returns -1.
int parseArguments(int argc, char** argv, ToolOptions* options)
{
    options->sheet = defaultSheetOptions();
    options->outDir = ".";
    options->spoolPath = nullptr;
    options->help = false;

    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int sheetOption = parseSheetOption(toolName, argc, argv, &i, &options->sheet);
        if (sheetOption < 0) {
            return -1;
        } else if (sheetOption > 0) {
            continue;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->help = true;
            return 0;
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

int makePagePath(char* path, size_t capacity, const char* outDir, const char* baseName, int pageNumber)
{
    size_t dirLength = std::strlen(outDir);
    bool hasSeparator = dirLength > 0 && (outDir[dirLength - 1] == '/' || outDir[dirLength - 1] == '\\');
    int written = std::snprintf(path, capacity, "%s%s%s-page-%03d.png", outDir, hasSeparator ? "" : "/", baseName,
                                pageNumber);
    return written > 0 && static_cast<size_t>(written) < capacity ? 0 : -1;
}

// What each page needs once it is drawn: where its PNG goes.
struct PngPages {
    const ToolOptions* options;
    const SheetLayout* sheet;
    SheetRows rows;
    char baseName[maxPathLength + 1];
};

// Writes the page just drawn; exitFailure once a PNG can't be written.
int writePage(void* context, int pageNumber, bool refused)
{
    PngPages* pages = static_cast<PngPages*>(context);
    const SheetLayout& sheet = *pages->sheet;
    char pagePath[maxPathLength + 1];
    if (makePagePath(pagePath, sizeof pagePath, pages->options->outDir, pages->baseName, pageNumber) != 0) {
        std::fprintf(stderr, "spool_to_png: output path too long in %s\n", pages->options->outDir);
        return exitFailure;
    }
    if (writeMonochromePng(pagePath, sheet.sheetWidth, sheet.sheetHeight, sheet.dpi, sheetRowAt, &pages->rows) != 0) {
        std::fprintf(stderr, "spool_to_png: cannot write %s\n", pagePath);
        return exitFailure;
    }
    std::printf("%s  %d x %d%s\n", pagePath, sheet.sheetWidth, sheet.sheetHeight, refused ? "  (refused: blank)" : "");
    return 0;
}

int convertSpoolFile(const ToolOptions& options, const SheetLayout& sheet)
{
    SpoolStream* stream = openSpoolStream(options.spoolPath);
    if (stream == nullptr) {
        std::fprintf(stderr, "spool_to_png: cannot open spool file %s\n", options.spoolPath);
        return exitFailure;
    }
    int recordCount = readRecordCount(stream);
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
        PngPages pages = {&options, &sheet, {surface, &sheet, sheetRow, (sheet.sheetWidth + 7) / 8}, {}};
        spoolBaseName(options.spoolPath, pages.baseName, sizeof pages.baseName);
        result = walkPages(stream, recordCount, surface, sheet, writePage, &pages);
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
        printUsage(usageText, usageTail);
        return 0;
    }
    SheetLayout sheet;
    if (layOutSheet(toolName, options.sheet, &sheet) != 0) {
        return exitUsage;
    }
    return convertSpoolFile(options, sheet);
}
