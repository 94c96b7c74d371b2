// The walk over a spool file's pages, as the print job, the tools, the
// fuzzer and the benchmarks all make it.
//
// Where a page ends is known only once it has been drawn: a page starts at a
// record, takes in the records chained to it, and may read past the start of
// the records after it as image data. So the walk hands each page's first
// record and start position to the caller, which draws it (renderPage), and
// moves on from where the drawing left the stream, past the records the page
// consumed (nextPageRecord). The first page starts with the stream at
// offset 0, not after the header just read: the renderer refuses a page
// whose first record starts before the stream's position, and a damaged
// record list may point into the header.
//
// A file cut short (HotSync stopped, a disk filled up) keeps its record list
// but not the records: each missing record would be a blank sheet of its
// own, and a list can name 32,767 of them. So the walk ends at the first
// page that starts at or past the end of the file.
#ifndef FERNQUILL_RENDER_PAGE_WALK_H
#define FERNQUILL_RENDER_PAGE_WALK_H

#include <cstdint>

#include "spool/spool_stream.h"

// One page, as the walk hands it over.
struct WalkedPage {
    int number;       // 1 for the first page; refused pages count too
    int firstRecord;  // the record the page starts at
    int recordCount;  // the file's record count
    int64_t start;    // the stream's position as the page starts
};

// Called for each page with the stream at page.start. It draws the page and
// leaves the stream where its last render left it, which is where the walk
// goes on from. Returns 0 to go on, or anything else to stop the walk with
// that result.
typedef int (*PageVisitor)(void* context, SpoolStream* stream, const WalkedPage& page);

// Whether the page that starts at firstRecord starts inside the file. The
// stream's position is the same afterwards.
bool pageStartsInFile(SpoolStream* stream, int firstRecord);

// Reads the file's record count (into *recordCount, when not nullptr), then
// visits every page in order, up to the first that starts at or past the
// end of the file. A count of 0 or less means no pages. Returns 0 once the
// last page was visited, or what the visitor stopped with.
int walkPages(SpoolStream* stream, PageVisitor visit, void* context, int* recordCount);

#endif
