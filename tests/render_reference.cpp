// Renders every page of a spool file on the software surface, the way the
// print job's window pass walks the file, and writes the pages as one
// multi-image PBM file (P4: 1-bit rows, set bit black).
//
// The GDI tests run under Wine with the GDI surface linked in, so they can't
// hold the software surface in the same program; they run this one to get
// the software surface's pages for the same file and size.
//
// Usage: render_reference SPOOL OUTPUT WIDTH HEIGHT
#include <cstdio>
#include <cstdlib>

#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"

namespace {

// Memory surfaces on Windows report the screen's resolution.
const int memorySurfaceDpi = 96;

bool writePage(std::FILE* out, DrawSurface* surface, int width, int height)
{
    std::fprintf(out, "P4\n%d %d\n", width, height);
    size_t rowBytes = static_cast<size_t>(width + 7) / 8;
    for (int y = 0; y < height; y++) {
        if (std::fwrite(surfaceRow(surface, y), 1, rowBytes, out) != rowBytes) {
            return false;
        }
    }
    return true;
}

struct ReferencePages {
    std::FILE* out;
    int width;
    int height;
};

int renderReferencePage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    const ReferencePages* pages = static_cast<const ReferencePages*>(context);
    DrawSurface* surface = createPageSurface(pages->width, pages->height, memorySurfaceDpi, memorySurfaceDpi, 0, 0);
    if (surface == nullptr) {
        return -1;
    }
    PagePlacement placement = {0, 0, memorySurfaceDpi, memorySurfaceDpi, pages->width, pages->height};
    renderPage(surface, placement, stream, page.firstRecord, page.recordCount, false);
    bool written = writePage(pages->out, surface, pages->width, pages->height);
    destroyPageSurface(surface);
    return written ? 0 : -1;
}

int renderAllPages(SpoolStream* stream, std::FILE* out, int width, int height)
{
    ReferencePages pages = {out, width, height};
    return walkPages(stream, renderReferencePage, &pages, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: render_reference SPOOL OUTPUT WIDTH HEIGHT\n");
        return 2;
    }
    int width = std::atoi(argv[3]);
    int height = std::atoi(argv[4]);
    SpoolStream* stream = openSpoolStream(argv[1]);
    if (stream == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        closeSpoolStream(stream);
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    int result = renderAllPages(stream, out, width, height);
    closeSpoolStream(stream);
    if (std::fclose(out) != 0) {
        result = -1;
    }
    return result == 0 ? 0 : 1;
}
