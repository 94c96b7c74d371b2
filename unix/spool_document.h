// A settled spool file, checked whole and made into the PDF that
// spool_to_pdf makes of it, in memory.
//
// The watcher reads the file once, hashes those bytes, checks them and
// renders them from memory: what is printed is exactly what was checked and
// recorded, however the sync tool goes on writing the file meanwhile.
#ifndef FERNQUILL_UNIX_SPOOL_DOCUMENT_H
#define FERNQUILL_UNIX_SPOOL_DOCUMENT_H

#include <cstddef>
#include <cstdint>

#include "tools/sheet_layout.h"

// The most bytes of a spool file read: the whole memory of the largest
// Palm OS hand-helds, many times any print job.
const size_t maxSpoolFileBytes = static_cast<size_t>(256) << 20;

enum SpoolCheck {
    spoolWhole = 0,
    spoolNotWhole = -1,  // cut short or still being written: wait for the next sync
    spoolNoPages = -2,   // a sound database with no records
};

// Whether the bytes are a whole spool database: the header is there, its
// record list fits, and every record starts inside the file. A sync cut
// off keeps the record list but not all the records; printing what it holds
// and then the whole job the next sync brings would print pages twice. On
// anything but spoolWhole, reason says why in a few words.
SpoolCheck checkSpoolBytes(const unsigned char* bytes, size_t size, char* reason, size_t capacity);

// A printer's sheet in hundredths of a millimetre, as CUPS gives media: the
// size and the unprintable margin on each edge.
struct PrinterMedia {
    int width;
    int length;
    int left;
    int right;
    int top;
    int bottom;
};

// The sheet the pages are drawn on for that media at dpi: the drawable area
// is the sheet less its margins (rounded outwards to whole pixels), so a
// page that would begin on them is moved off them as on a Windows printer.
// Returns 0, or -1 when the media leaves nothing to draw on.
int sheetForMedia(const PrinterMedia& media, int dpi, SheetLayout* sheet);

// spool_to_pdf's sheet: Letter at 300 dpi with quarter-inch margins.
SheetLayout defaultPdfSheet();

// A PDF of a spool file's pages.
struct SpoolDocument {
    unsigned char* bytes;  // malloc'd
    uint32_t size;
    int pages;    // every page walked, refused ones too (each a blank page)
    int refused;  // pages the renderer refused
};

enum DocumentResult {
    documentMade = 0,
    documentFailed = -1,   // no memory, or the PDF library failed
    documentNoPages = -2,  // every page was refused: nothing but blank sheets
};

// Draws every page of the spool bytes on the sheet, as spool_to_pdf draws
// them, into a PDF whose Title is title. On documentMade the caller frees
// the document with freeSpoolDocument().
DocumentResult makeSpoolDocument(const unsigned char* spool, size_t size, const SheetLayout& sheet,
                                 const char* title, SpoolDocument* document);

void freeSpoolDocument(SpoolDocument* document);

// Reads the whole file into a new buffer (freed with free()), one byte past
// the size it had when opened, so that a file still growing shows as
// longer. Returns 0, or -1 with errno set (EFBIG past maxSpoolFileBytes).
int readSpoolFile(const char* path, unsigned char** bytes, size_t* size);

// Writes the document as folder/name.pdf, or name-2.pdf and so on where
// that is taken, into path. It is written under a temporary name and linked
// into place, so the PDF appears whole and never replaces another. Returns
// 0, or -1 with errno set.
int writePdfIntoFolder(const SpoolDocument& document, const char* folder, const char* name, char* path,
                       size_t capacity);

#endif
