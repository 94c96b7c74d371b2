// Pages per second rendering a mixed spool file on the software surface at a
// printer's 300 dpi, walking the file as a print job does.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_files.h"
#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const int dpi = 300;
const int letterWidth = 2550;   // 8.5 in
const int letterHeight = 3300;  // 11 in

struct PrinterPages {
    DrawSurface* surface;
    PagePlacement placement;
    int pages;
};

int renderOnPrinter(void* context, SpoolStream* stream, const WalkedPage& page)
{
    PrinterPages* printer = static_cast<PrinterPages*>(context);
    renderPage(printer->surface, printer->placement, stream, page.firstRecord, page.recordCount, false);
    printer->pages++;
    return 0;
}

int renderEveryPage(SpoolStream* stream, DrawSurface* surface, const PagePlacement& placement)
{
    PrinterPages printer = {surface, placement, 0};
    walkPages(stream, renderOnPrinter, &printer, nullptr);
    return printer.pages;
}

void renderMixedPages(benchmark::State& state)
{
    static TempFile file(makeMixedSpoolFile());
    DrawSurface* surface = createPageSurface(letterWidth, letterHeight, dpi, dpi, 0, 0);
    if (surface == nullptr) {
        state.SkipWithError("no page surface");
        return;
    }
    PagePlacement placement = {0, 0, dpi, dpi, letterWidth, letterHeight};
    int64_t pages = 0;
    for (auto _ : state) {
        SpoolStream* stream = openSpoolStream(file.path().c_str());
        if (stream == nullptr) {
            state.SkipWithError("cannot open the spool file");
            break;
        }
        pages += renderEveryPage(stream, surface, placement);
        closeSpoolStream(stream);
    }
    destroyPageSurface(surface);
    state.counters["pages_per_second"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(renderMixedPages)->Unit(benchmark::kMillisecond);
