// Printing a PDF through CUPS, with libcups's destination API.
//
// A destination is asked for its default media and printable margins
// (cupsGetDestMediaDefault) before the document is made, so the pages are
// laid out on the sheet that printer really takes; then one job is created,
// the PDF sent as its only document, and the job counts as printed once
// CUPS has accepted the whole document. Anything short of that (CUPS not
// running, the printer gone, a job refused) is a failure the caller retries
// later: nothing is recorded, so nothing is lost.
#ifndef FERNQUILL_UNIX_CUPS_PRINTER_H
#define FERNQUILL_UNIX_CUPS_PRINTER_H

#include <cstddef>
#include <cstdint>

#include "unix/spool_document.h"

struct CupsPrinter;  // a destination, connected, with its media

// Connects to the destination called name, or to the default one when name
// is nullptr, and reads its default media into *media. Returns the printer,
// or nullptr with failure (capacity bytes) saying why in a few words.
CupsPrinter* openCupsPrinter(const char* name, PrinterMedia* media, char* failure, size_t capacity);

// The destination's name, for the log.
const char* cupsPrinterName(const CupsPrinter* printer);

// Sends the PDF as one job titled title. Returns 0 with *jobId once CUPS
// has accepted all of it, or -1 with failure saying why (a job created but
// not completed is cancelled again).
int printPdfOnCups(CupsPrinter* printer, const char* title, const unsigned char* pdf, uint32_t size, int* jobId,
                   char* failure, size_t capacity);

// Disconnects and frees the printer. Accepts nullptr.
void closeCupsPrinter(CupsPrinter* printer);

#endif
