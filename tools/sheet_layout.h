// What the command-line tools share: the printer they play (sheet size,
// resolution and unprintable margins, from the same options in each tool)
// and the walk over a spool file's pages.
//
// A printer reports a drawable area (the sheet less its unprintable margins,
// the physical offsets, on both sides) and draws with the origin moved up and
// left by those offsets, so that page position 0 is the paper's edge. The
// tools render each page on a software surface of that area with that
// origin, and show it on the whole sheet with the margins white, as it comes
// out of a printer.
#ifndef FERNQUILL_TOOLS_SHEET_LAYOUT_H
#define FERNQUILL_TOOLS_SHEET_LAYOUT_H

#include <cstddef>

#include "render/draw_surface.h"
#include "render/page_renderer.h"
#include "spool/spool_stream.h"

// Sheet sizes in tenths of a millimetre, so that both convert to pixels the
// same way: Letter is 215.9 x 279.4 mm.
struct PaperSize {
    const char* name;
    int width;
    int height;
};

// The printer options: --dpi N, --paper letter|a4, --offset X,Y.
struct SheetOptions {
    int dpi;
    const PaperSize* paper;
    int offsetX;
    int offsetY;
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

// Prints a tool's usage text: its head, the lines on the printer options,
// then its tail.
void printUsage(const char* head, const char* tail);

// Letter at 300 dpi, no margins.
SheetOptions defaultSheetOptions();

// Takes argv[*i] if it is a printer option, with its value (advancing *i
// past it). Returns 1 when it was one, 0 when it is not, -1 when its value is
// bad (said on stderr, after "tool: ").
int parseSheetOption(const char* tool, int argc, char** argv, int* i, SheetOptions* options);

// A whole decimal number from 0 to max, nothing else in the text.
int parseNumber(const char* text, int max, int* value);

// Works out the sheet and the drawable area; -1 (said on stderr) when the
// offsets leave no area or the sheet is beyond what a pixel count can hold.
int layOutSheet(const char* tool, const SheetOptions& options, SheetLayout* sheet);

// Where the page is drawn on the drawable area: the origin moved back by the
// offsets, so that 0 is the paper's edge.
PagePlacement sheetPlacement(const SheetLayout& sheet);

// The file name without its folder and extension: "C:\x\job.PDB" -> "job".
void spoolBaseName(const char* path, char* name, size_t capacity);

// Called after each page has been drawn on the surface (a refused page has
// been filled white: the printer still prints it, blank). Returns 0 to go
// on, or anything else to stop the walk with that result.
typedef int (*PageDone)(void* context, int pageNumber, bool refused);

// The file's record count, read as the job reads it, which then starts its
// first page from offset 0: the stream is left there.
int readRecordCount(SpoolStream* stream);

// Draws every page on the surface, walked exactly as the print job walks
// them: a refused page still counts, and records that a page consumed as
// image data are passed over. The stream starts at offset 0. Returns 0, or
// what onPage stopped with.
int walkPages(SpoolStream* stream, int recordCount, DrawSurface* surface, const SheetLayout& sheet, PageDone onPage,
              void* context);

#endif
