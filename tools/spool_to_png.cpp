// spool_to_png: renders every page of a spool file to PNG files, as the
// spooler would print them.
//
// The tool plays the printer (sheet_layout.h): each page is rendered on a
// software surface of the drawable area, and each PNG shows the whole sheet,
// the area at its offsets and the margins white, as it comes out of a
// printer. The pages are walked as the print job walks them
// (tool_front_end.h), so there is one PNG per print document, also for a
// page the renderer refuses, which goes out blank.
#include <cstdio>
#include <cstring>
#include <new>

#include "render/bitmap_surface.h"
#include "tools/file_paths.h"
#include "tools/png_writer.h"
#include "tools/tool_front_end.h"

namespace {

const char usageHead[] =
    "usage: spool_to_png [--dpi N] [--paper letter|a4] [--offset X,Y] [--member NAME] [--out DIR] INPUT\n"
    "\n"
    "Renders every page of a Fernquill spool file to 1-bit PNG files named\n"
    "DIR/<name>-page-001.png and so on, one per printed page. INPUT is the spool\n"
    "file, or a zip archive that holds one (Fernquill_Spool_File.PDB, in any folder).\n"
    "\n";
const char usageTail[] = "  --out DIR        existing folder for the PNG files (default .)\n";

// What the PNG writer asks rows of: the rendered area, placed on the sheet.
struct SheetRows {
    DrawSurface* surface;
    const SheetLayout* sheet;
    unsigned char* row;  // one sheet row
    int rowBytes;
};

// The tool's options and what it needs while the pages are written.
struct PngOutput {
    const char* outDir;
    SheetRows rows;
};

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

int parseOption(void* context, int argc, char** argv, int* i)
{
    if (std::strcmp(argv[*i], "--out") != 0) {
        return 0;
    }
    const char* value = toolOptionValue(argc, argv, i);
    if (value == nullptr) {
        return badToolArgument("spool_to_png", "--out needs a folder", nullptr);
    }
    static_cast<PngOutput*>(context)->outDir = value;
    return 1;
}

int startOutput(void* context, ToolPages* pages)
{
    PngOutput* output = static_cast<PngOutput*>(context);
    const SheetLayout& sheet = pages->sheet;
    int rowBytes = (sheet.sheetWidth + 7) / 8;
    output->rows = {pages->surface, &pages->sheet, new (std::nothrow) unsigned char[static_cast<size_t>(rowBytes)],
                    rowBytes};
    if (output->rows.row == nullptr) {
        std::fprintf(stderr, "spool_to_png: not enough memory for a %d x %d page at %d dpi\n", sheet.areaWidth,
                     sheet.areaHeight, sheet.dpi);
        return exitFailure;
    }
    return 0;
}

// Writes the page just drawn; exitFailure once a PNG can't be written.
int writePage(void* context, ToolPages* pages, int pageNumber, bool refused)
{
    PngOutput* output = static_cast<PngOutput*>(context);
    const SheetLayout& sheet = pages->sheet;
    char name[maxToolPathLength + 1];
    char pagePath[maxToolPathLength + 1];
    int written = std::snprintf(name, sizeof name, "%s-page-%03d.png", pages->baseName, pageNumber);
    if (written < 0 || static_cast<size_t>(written) >= sizeof name ||
        pathInFolder(output->outDir, name, pagePath, sizeof pagePath) != 0) {
        std::fprintf(stderr, "spool_to_png: output path too long in %s\n", output->outDir);
        return exitFailure;
    }
    if (writeMonochromePng(pagePath, sheet.sheetWidth, sheet.sheetHeight, sheet.dpi, sheetRowAt, &output->rows) != 0) {
        std::fprintf(stderr, "spool_to_png: cannot write %s\n", pagePath);
        return exitFailure;
    }
    std::printf("%s  %d x %d%s\n", pagePath, sheet.sheetWidth, sheet.sheetHeight, refused ? "  (refused: blank)" : "");
    return 0;
}

int finishOutput(void* context, ToolPages*, int stopped)
{
    delete[] static_cast<PngOutput*>(context)->rows.row;
    return stopped;
}

}  // namespace

int main(int argc, char** argv)
{
    // No margins by default: the sheet as the page describes it.
    const ToolDefinition tool = {"spool_to_png", usageHead, usageTail, parseOption, nullptr,
                                 startOutput,    writePage, finishOutput, 0};
    PngOutput output = {".", {nullptr, nullptr, nullptr, 0}};
    return runTool(tool, &output, argc, argv);
}
