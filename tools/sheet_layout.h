// The printer the tools play: sheet size, resolution and unprintable
// margins, worked out into pixels.
//
// A printer reports a drawable area (the sheet less its unprintable margins,
// the physical offsets, on both sides) and draws with the origin moved up and
// left by those offsets, so that page position 0 is the paper's edge. The
// tools render each page on a software surface of that area with that
// origin, and show it on the whole sheet with the margins white, as it comes
// out of a printer.
#ifndef FERNQUILL_TOOLS_SHEET_LAYOUT_H
#define FERNQUILL_TOOLS_SHEET_LAYOUT_H

#include "render/page_renderer.h"

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

// Letter at 300 dpi, no margins.
SheetOptions defaultSheetOptions();

// The margins a PDF is laid out with unless told otherwise, in hundredths of
// an inch on every edge: a quarter inch (6.35 mm). A PDF is printed again on
// some printer, at actual size, and laser printers and most inkjets can't
// print the outer 3 to 6.35 mm of a sheet; within a quarter inch of the top
// and left nothing is drawn, since a page that would begin there is moved
// in, and within a quarter inch of the right and bottom the page is cut off
// as that printer would cut it. Only inkjets whose bottom margin is wider
// (up to half an inch on some) can still lose the bottom of a page that
// fills the whole sheet. The web page's PDF and pages take it too.
const int pdfMarginHundredths = 25;

// hundredths of an inch at dpi, to the nearest pixel.
int marginPixels(int hundredths, int dpi);

// The paper called name ("letter", "a4"), or nullptr.
const PaperSize* findPaper(const char* name);

// Works out the sheet and the drawable area; -1 (said on stderr, after
// "tool: ") when the offsets leave no area or the sheet is beyond what a
// pixel count can hold.
int layOutSheet(const char* tool, const SheetOptions& options, SheetLayout* sheet);

// Where the page is drawn on the drawable area: the origin moved back by the
// offsets, so that 0 is the paper's edge.
PagePlacement sheetPlacement(const SheetLayout& sheet);

// ORs areaWidth pixels of an area row (a set bit black) into a sheet row of
// sheetRowBytes bytes, starting at pixel offsetX. The area's own row may
// carry stray bits past its width; they are masked off so they don't show in
// the right margin.
void placeAreaRow(const unsigned char* area, int areaWidth, int offsetX, unsigned char* sheetRow, int sheetRowBytes);

#endif
