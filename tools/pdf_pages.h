// Printed pages as one PDF document, laid out as the printer prints them.
//
// The pages are drawn on the software surface exactly as spool_to_png draws
// them, and the surface reports what it draws (PageTrace): each text line
// becomes real text in the PDF's standard Courier, each image the pixels it
// left on the surface. So line advance, text size and image rectangles are
// the software surface's own, whatever they are, with nothing measured
// twice.
//
// Written with libharu: the standard fonts need no embedding and it encodes
// 1-bit images as CCITT G4.
#ifndef FERNQUILL_TOOLS_PDF_PAGES_H
#define FERNQUILL_TOOLS_PDF_PAGES_H

#include <cstdint>

#include "render/draw_surface.h"
#include "tools/sheet_layout.h"

struct PdfPages;  // a PDF document being filled, one page per printed page

// A document of sheet-sized pages, its Title set to title (a file name, in
// UTF-8 or Latin-1), its Producer to the program and version, its
// CreationDate to now. Whatever is drawn on surface (a page surface of the
// sheet's area) from now on goes into the current PDF page. Returns nullptr
// when the library can't start a document.
PdfPages* startPdfPages(const SheetLayout& sheet, const char* title, DrawSurface* surface);

// The most image data a document takes in. The document is built in memory
// (libharu writes it out only at the end), and a damaged file can make a
// page's image data hundreds of times its own size: an image of a few rows
// at 1 pixel per inch down fills the sheet with rows that all differ. Real
// jobs stay far below it: a page of pictures at 300 dpi is about 100 KiB.
const uint64_t maxPdfImageBytes = static_cast<uint64_t>(256) << 20;

// Ends the current page (a page on which nothing was drawn is a blank page);
// what is drawn next goes on a new one. Returns 0; 1 when the document holds
// maxPdfImageBytes of images, with this page, and must take no more pages;
// or -1 once the library has failed.
int finishPdfPage(PdfPages* pdf);

// Writes the document to path by way of a temporary file in the same folder,
// renamed into place at the end, so a failure leaves no file behind. Returns
// 0, or -1 with a line on stderr, after "tool: ".
int writePdfFile(PdfPages* pdf, const char* tool, const char* path);

// Builds the whole file in memory and gives its size in bytes; -1 when it
// can't be built.
int measurePdf(PdfPages* pdf, uint32_t* size);

// Builds the whole file in memory and hands out a copy of its bytes, which
// the caller frees with free(); for a program that sends the PDF on rather
// than writing it. Returns 0, or -1 when it can't be built or copied.
int copyPdfBytes(PdfPages* pdf, unsigned char** bytes, uint32_t* size);

// Stops the surface's reports and frees the document. Accepts nullptr.
void discardPdfPages(PdfPages* pdf);

#endif
