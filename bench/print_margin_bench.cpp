// Under Wine or Windows, on the default printer: what the pass that finds
// where a page begins (fitPageInsideArea) costs beside printing the page, as
// the print job prints it (a document of its own: StartDoc, StartPage, the
// render, EndPage, EndDoc). The pages are the mixed benchmark file's, whose
// images are 8 x 10 in at 72 dpi: the pass decodes every image, since where
// its data ends decides the records the page takes in.
//
// The test printer (devtools/setup_test_printer) writes each document
// through Ghostscript into PRINT_OUT_DIR, which must be set to an existing
// folder. Plain Win32 timing, since Google Benchmark is not built for
// Windows here.
//
// Usage: print_margin_bench [repetitions]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/bench_files.h"
#include "bench/win_clock.h"
#include "jobs/job_page.h"
#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"

namespace {

// The share of a page's print time the pass may take.
const double allowedShare = 0.10;

struct PrintedPages {
    DrawSurface* printer;
    int repetitions;
    double measuring;  // seconds, the pass once per page
    double printing;   // seconds, the whole document per page
    double worstShare;
    int pages;
    int failed;
};

// The pass, averaged over the repetitions; the stream is left at the page.
double timeMeasuring(PrintedPages* run, SpoolStream* stream, const WalkedPage& page, PagePlacement* placement)
{
    PagePlacement unfitted = printerPagePlacement(run->printer);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < run->repetitions; i++) {
        *placement = fitPageInsideArea(run->printer, unfitted, stream, page.firstRecord, page.recordCount);
    }
    return secondsSince(start) / run->repetitions;
}

int printOnePage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    PrintedPages* run = static_cast<PrintedPages*>(context);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (startPrintDocument(run->printer) != 0 || startPrintPage(run->printer) != 0) {
        run->failed++;
        return -1;
    }
    PagePlacement placement;
    double measuring = timeMeasuring(run, stream, page, &placement);
    // The job's own work on the page: one pass, then the render.
    double extraPasses = measuring * (run->repetitions - 1);
    LARGE_INTEGER rendering;
    QueryPerformanceCounter(&rendering);
    renderPage(run->printer, placement, stream, page.firstRecord, page.recordCount, false);
    double render = secondsSince(rendering);
    endPrintPage(run->printer);
    if (endPrintDocument(run->printer) != 0) {
        run->failed++;
    }
    double printing = secondsSince(start) - extraPasses;
    double share = measuring / printing;
    std::printf("page %2d: pass %7.3f ms, render alone %7.1f ms, printed in %7.1f ms: %5.2f %%\n", page.number,
                measuring * 1000, render * 1000, printing * 1000, share * 100);
    run->measuring += measuring;
    run->printing += printing;
    run->worstShare = share > run->worstShare ? share : run->worstShare;
    run->pages++;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int repetitions = argc > 1 ? std::atoi(argv[1]) : 5;
    if (repetitions <= 0 || std::getenv("PRINT_OUT_DIR") == nullptr) {
        std::fprintf(stderr, "usage: PRINT_OUT_DIR=FOLDER print_margin_bench [repetitions]\n");
        return 2;
    }
    char name[256];
    DWORD length = sizeof name;
    DrawSurface* printer = GetDefaultPrinterA(name, &length) ? createPrinterSurface(name) : nullptr;
    if (printer == nullptr) {
        std::fprintf(stderr, "print_margin_bench: no default printer\n");
        return 1;
    }
    spooltest::TempFile file(makeMixedSpoolFile());
    SpoolStream* stream = openSpoolStream(file.path().c_str());
    if (stream == nullptr) {
        std::fprintf(stderr, "print_margin_bench: cannot open the spool file\n");
        destroyPrinterSurface(printer);
        return 1;
    }
    PrintedPages run = {printer, repetitions, 0, 0, 0, 0, 0};
    walkPages(stream, printOnePage, &run, nullptr);
    closeSpoolStream(stream);
    destroyPrinterSurface(printer);
    if (run.pages == 0 || run.failed != 0) {
        std::fprintf(stderr, "print_margin_bench: %d of the pages failed to print on \"%s\"\n", run.failed, name);
        return 1;
    }
    double share = run.measuring / run.printing;
    std::printf("%d pages on \"%s\": pass %.3f ms a page, printing %.1f ms a page: %.2f %% (worst page %.2f %%), "
                "allowed %.0f %%\n",
                run.pages, name, run.measuring * 1000 / run.pages, run.printing * 1000 / run.pages, share * 100,
                run.worstShare * 100, allowedShare * 100);
    return run.worstShare <= allowedShare ? 0 : 1;
}
