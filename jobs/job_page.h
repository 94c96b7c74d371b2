// One page of a print job: drawn on the printer, then on the main window.
//
// Both renders start from the page's start position, so the printer and the
// window always see the same bytes. On the printer a first pass that draws
// nothing finds where the page begins, and the page is moved off the
// printer's unprintable margins when it would begin on them
// (fitPageInsideArea); the window's page is never moved. The window's render
// comes last: it keeps the screen copy the window repaints from, leaves the
// stream where the walk goes on from, and decides whether the page counts,
// so the job's counters follow what the user saw.
//
// Portable: the program runs it on GDI surfaces, the tests on bitmaps.
#ifndef FERNQUILL_JOBS_JOB_PAGE_H
#define FERNQUILL_JOBS_JOB_PAGE_H

#include <cstdint>

#include "render/draw_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"

// Where a job draws its pages.
struct JobSurfaces {
    DrawSurface* printer;  // nullptr when the job only shows its pages
    PagePlacement onPrinter;
    DrawSurface* window;
    PagePlacement onWindow;
};

// What each render of a page did: renderPage's results, and where the
// printer's render left the stream.
struct JobPageRenders {
    int printed;  // 0 without a printer
    int64_t printedEnd;
    int shown;
};

// The placement on a printer: the origin moved back by the physical
// offsets, so that page position 0 is the paper's edge. renderJobPage()
// moves each page from there as far as it must to lie inside the margins.
PagePlacement printerPagePlacement(DrawSurface* printer);

// The placement on the window: at its top left, with the whole screen as
// its area, which also sizes the screen copy.
PagePlacement windowPagePlacement(DrawSurface* window);

// Draws the page on the printer (when there is one) and then on the window.
JobPageRenders renderJobPage(const JobSurfaces& surfaces, SpoolStream* stream, const WalkedPage& page);

#endif
