// Draws one page of a spool file onto a surface.
//
// A page starts at a given record and takes in the records chained to it by
// their `continued` flag: text records become lines in the monospaced font,
// image records become scaled 1-bit bitmaps, stacked from the top down by a
// pen that only moves down. Lines are not wrapped and nothing is clipped:
// whatever falls outside the drawable area is lost.
//
// The window's render also keeps an off-screen copy of the page, the screen
// copy, from which the window repaints until the next page replaces it.
#ifndef FERNQUILL_RENDER_PAGE_RENDERER_H
#define FERNQUILL_RENDER_PAGE_RENDERER_H

#include "render/draw_surface.h"
#include "spool/spool_stream.h"

// Where and at what scale a page is drawn. For a printer the origin is minus
// the physical offsets, so that position 0 is the paper's edge, before
// fitPageInsideArea() moves a page off the margins; for the window it is
// (0, 0). The area serves only for the white fill and the
// screen copy's size.
struct PagePlacement {
    int originX;
    int originY;
    int dpiX;
    int dpiY;
    int areaWidth;
    int areaHeight;
};

// What the main window shows when it repaints.
enum DisplayMode {
    displayStatus = 0,      // the status view
    displayImagePage = 1,   // a page whose last drawn record was an image
    displayTextPage = 2,    // a page whose last drawn record was text
};

// The most recently rendered window page; no bitmap until the first one.
struct ScreenCopy {
    SurfaceBitmap* bitmap;
    int width;
    int height;
};

// Process-wide: set by the renderer, read (and reset to displayStatus) by the
// main window.
extern DisplayMode displayMode;
extern ScreenCopy screenCopy;

// Draws the page that starts at firstRecord (recordCount is the file's record
// count). Returns 0 when the page was drawn, leaving the stream after the
// last byte read for it; or -1 when the page was refused because its first
// record starts before the stream's position, leaving the stream where it
// was. With keepScreenCopy the page is drawn identically into a new screen
// copy of the area's size, which replaces the old one (a refused page leaves
// it all white).
int renderPage(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream,
               int firstRecord, int recordCount, bool keepScreenCopy);

// Where a page would draw, in the surface's pixels: the top left of the
// cell of each text line that holds a character, and of each image that
// covers at least one pixel, the leftmost and topmost of them.
struct PageBounds {
    bool drawsAnything;
    int left;
    int top;
};

// Walks the page exactly as renderPage() would, on the same surface and
// placement, and draws nothing: the line advance comes from the surface's
// current font, and images are decoded but not made into bitmaps. The stream
// is left where it was. A refused page draws nothing.
PageBounds measurePage(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream, int firstRecord,
                       int recordCount);

// A printer can't print on its margins, which lie left of and above its
// drawable area (a printer placement puts the paper's edge at minus the
// physical offsets). The placement moved right by what the page would draw
// left of the area, and down by what it would draw above it, so that all of
// it lands on the area; a page that lies inside keeps its place to the
// pixel. What falls past the right or bottom edge is not brought back.
PagePlacement placementInsideArea(const PagePlacement& placement, const PageBounds& bounds);

// measurePage() and placementInsideArea() in one: the placement to render
// the page at the stream's position with. The stream is left where it was.
PagePlacement fitPageInsideArea(DrawSurface* surface, const PagePlacement& placement, SpoolStream* stream,
                                int firstRecord, int recordCount);

// After the page that starts at firstRecord was drawn: the record the next
// page starts at (recordCount when none is left). The records after
// firstRecord that start before the stream's position were read as that
// page's data, and are passed over as a print job does.
int nextPageRecord(SpoolStream* stream, int firstRecord, int recordCount);

// Fills the surface's drawable area white and copies the screen copy to its
// top left, unscaled. Returns -1 and draws nothing when there is none.
int repaintScreenCopy(DrawSurface* surface);

// Frees the screen copy; the program does this as it ends.
void releaseScreenCopy();

#endif
