// Fuzzes a whole print job on the software surface: the input is the spool
// file, walked page by page exactly as the job walks it.
//
// The pages are walked and drawn by the job's own code (page_walk.h,
// job_page.h): the printer render (300 dpi, the origin moved back by the
// physical offsets), then the window render from the same start (96 dpi,
// keeping the screen copy), then past the records the page consumed.
// Both surfaces are kept smaller than a real sheet and screen, the window
// the size of the hand-held's own screen. The renderer uses the area only to
// whiten it and to size the screen copy, so the walk is the same; whitening
// an A4 sheet and copying a screen for every page took half the fuzzer's
// time.
//
// Checked on every page: a refused page leaves the stream where it was, and
// both renders see the same bytes, so they end at the same position and agree
// on refusing. At the job's end the screen copy must hold the last page as
// the window shows it.
//
// Where spool_to_pdf is built, the printer's pages also go into a PDF, as
// that tool writes them: what the surface draws becomes PDF text and images,
// and at the job's end the whole document is made in memory.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "jobs/job_page.h"
#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "spool/spool_records.h"
#include "spool/spool_stream.h"
#if defined(FUZZ_PDF_PAGES)
#include "tools/pdf_pages.h"
#endif

namespace {

// A label printer's sheet, 2 x 2 2/3 inches at 300 dpi, less 1/6 inch at
// each edge that it can't print on.
const int printerDpi = 300;
const int printerOffset = 50;
const int printerAreaWidth = 600 - 2 * printerOffset;
const int printerAreaHeight = 800 - 2 * printerOffset;

const int windowDpi = 96;
const int windowWidth = 160;
const int windowHeight = 160;

// Made once: a job's surfaces outlive its pages, and every page starts by
// filling its area white.
DrawSurface* printer;
DrawSurface* window;

#if defined(FUZZ_PDF_PAGES)
// The PDF of the job being fuzzed.
PdfPages* pdf;

SheetLayout printerSheet()
{
    return {printerDpi, printerAreaWidth + 2 * printerOffset, printerAreaHeight + 2 * printerOffset,
            printerOffset, printerOffset, printerAreaWidth, printerAreaHeight};
}
#endif

PagePlacement printerPlacement()
{
    return {-printerOffset, -printerOffset, printerDpi, printerDpi, printerAreaWidth, printerAreaHeight};
}

PagePlacement windowPlacement()
{
    return {0, 0, windowDpi, windowDpi, windowWidth, windowHeight};
}

bool sameRows(DrawSurface* left, DrawSurface* right)
{
    size_t rowBytes = static_cast<size_t>(surfaceRowBytes(left));
    for (int y = 0; y < windowHeight; y++) {
        if (std::memcmp(surfaceRow(left, y), surfaceRow(right, y), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

// One page as the print job draws it, with what must hold of its renders.
// Counts the pages in *context.
int printPage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    (*static_cast<int*>(context))++;
    const JobSurfaces surfaces = {printer, printerPlacement(), window, windowPlacement()};
    JobPageRenders renders = renderJobPage(surfaces, stream, page);
    fuzzCheck(renders.printed == 0 || renders.printed == -1, "a render is drawn or refused");
    fuzzCheck(renders.printed == 0 || renders.printedEnd == page.start, "a refused page leaves the stream alone");
    fuzzCheck(renders.shown == renders.printed, "printer and window agree on refusing a page");
    fuzzCheck(tell(stream) == renders.printedEnd, "printer and window read the same bytes");
    fuzzCheck(screenCopy.bitmap != nullptr && screenCopy.width == windowWidth && screenCopy.height == windowHeight,
              "the window render leaves a screen copy of its area");
#if defined(FUZZ_PDF_PAGES)
    // The window's render leaves the printer's surface as the printer drew it.
    fuzzCheck(finishPdfPage(pdf) == 0, "the printed page goes into the PDF");
#endif
    return 0;
}

void runJob(SpoolStream* stream)
{
    // Counted as walked: a file cut short may have records and no page.
    int pages = 0;
    walkPages(stream, printPage, &pages, nullptr);
    // The window repaints from the copy of the last page shown. Compared once
    // per job: a page-sized comparison per page would cost more than the
    // pages themselves.
    if (pages > 0) {
        DrawSurface* copy = openBitmapSurface(screenCopy.bitmap);
        fuzzCheck(copy != nullptr && sameRows(copy, window), "the screen copy is the page as the window shows it");
        closeBitmapSurface(copy);
    }
#if defined(FUZZ_PDF_PAGES)
    uint32_t size = 0;
    fuzzCheck(measurePdf(pdf, &size) == 0 && size > 0, "the job's PDF can be made");
#endif
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    (void)argc;
    (void)argv;
    setImageMemoryLimit(fuzzImageMemoryLimit);
    printer = createPageSurface(printerAreaWidth, printerAreaHeight, printerDpi, printerDpi, printerOffset,
                                printerOffset);
    window = createPageSurface(windowWidth, windowHeight, windowDpi, windowDpi, 0, 0);
    fuzzCheck(printer != nullptr && window != nullptr, "the page surfaces can be made");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SpoolStream* stream = openFuzzInput(data, size);
#if defined(FUZZ_PDF_PAGES)
    pdf = startPdfPages(printerSheet(), "fuzz", printer);
    fuzzCheck(pdf != nullptr, "a PDF can be started");
#endif
    runJob(stream);
#if defined(FUZZ_PDF_PAGES)
    discardPdfPages(pdf);
#endif
    closeSpoolStream(stream);
    // Each input is a job of its own; the next starts as the program does.
    releaseScreenCopy();
    displayMode = displayStatus;
    return 0;
}
