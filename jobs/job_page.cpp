#include "jobs/job_page.h"

PagePlacement printerPagePlacement(DrawSurface* printer)
{
    PagePlacement placement;
    int offsetX = 0;
    int offsetY = 0;
    surfacePhysicalOffset(printer, &offsetX, &offsetY);
    placement.originX = -offsetX;
    placement.originY = -offsetY;
    surfaceDpi(printer, &placement.dpiX, &placement.dpiY);
    surfaceArea(printer, &placement.areaWidth, &placement.areaHeight);
    return placement;
}

PagePlacement windowPagePlacement(DrawSurface* window)
{
    PagePlacement placement;
    placement.originX = 0;
    placement.originY = 0;
    surfaceDpi(window, &placement.dpiX, &placement.dpiY);
    surfaceArea(window, &placement.areaWidth, &placement.areaHeight);
    return placement;
}

JobPageRenders renderJobPage(const JobSurfaces& surfaces, SpoolStream* stream, const WalkedPage& page)
{
    JobPageRenders renders = {0, page.start, 0};
    if (surfaces.printer != nullptr) {
        // Measured from the page's start, on the bytes both renders see.
        PagePlacement onPrinter = fitPageInsideArea(surfaces.printer, surfaces.onPrinter, stream, page.firstRecord,
                                                    page.recordCount);
        renders.printed = renderPage(surfaces.printer, onPrinter, stream, page.firstRecord, page.recordCount, false);
        renders.printedEnd = tell(stream);
        seekTo(stream, page.start);
    }
    renders.shown = renderPage(surfaces.window, surfaces.onWindow, stream, page.firstRecord, page.recordCount, true);
    return renders;
}
