// Peak memory of a print job's rendering, natively, without writing output.
//
//   render_memory write FILE.PDB pages N       N pages of text and images
//   render_memory write FILE.PDB big N         N pages, each one 4000 x 4000
//                                              image at 300 dpi, raw and
//                                              compressed by turns
//   render_memory render FILE.PDB              renders every page as a job
//                                              does and prints the peak
//
// The file is written by one process and rendered by another, so the peak
// of the render is not that of building the file. A job draws each page
// twice: on the printer (here a 300 dpi A4 page surface) and on the window
// with a screen copy kept (here a 1280 x 1024 surface at 96 dpi). The peak
// resident size must not grow with the number of pages: one page surface,
// the screen copy, the largest image and a small constant.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jobs/job_page.h"
#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "spool/spool_stream.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

// Peak resident set of this process so far, in kB.
long peakResidentKb()
{
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return -1;
    }
    return usage.ru_maxrss;
}

// Text pages, every fifth one over a 2 x 2 inch image, raw and compressed
// by turns: the mix a hand-held's documents have.
SpoolDatabase mixedPages(int pages)
{
    SpoolDatabase database;
    for (int page = 0; page < pages; page++) {
        std::string text = "Page " + std::to_string(page + 1) + "\n";
        for (int line = 0; line < 20; line++) {
            text += "The quick brown fox jumps over the lazy dog, line " + std::to_string(line) + "\n";
        }
        if (page % 5 != 0) {
            database.records.push_back(textRecord(text));
            continue;
        }
        database.records.push_back(textRecord(text, recordFlagContinued));
        ImageFields image;
        image.width = 144;
        image.height = 144;
        Bytes bits = makeTestBitmap(rowBytesFor(image.width), image.height, static_cast<uint32_t>(page));
        if (page % 10 == 0) {
            image.flags = recordFlagCompressed;
            bits = encodeImageRuns(bits, rowBytesFor(image.width));
        }
        database.records.push_back(imageRecord(image, bits));
    }
    return database;
}

// Pages of one 4000 x 4000 image each at 300 dpi (13.3 inches square, more
// than a sheet: what falls off is lost), raw and compressed by turns.
SpoolDatabase bigImagePages(int pages)
{
    SpoolDatabase database;
    for (int page = 0; page < pages; page++) {
        ImageFields image;
        image.width = 4000;
        image.height = 4000;
        image.xResolution = 300;
        image.yResolution = 300;
        Bytes bits = makeTestBitmap(rowBytesFor(image.width), image.height, static_cast<uint32_t>(page));
        if (page % 2 == 1) {
            image.flags = recordFlagCompressed;
            bits = encodeImageRuns(bits, rowBytesFor(image.width));
        }
        database.records.push_back(imageRecord(image, bits));
    }
    return database;
}

int writeFile(const char* path, const char* kind, int pages)
{
    SpoolDatabase database = std::strcmp(kind, "big") == 0 ? bigImagePages(pages) : mixedPages(pages);
    Bytes bytes = buildSpoolFile(database);
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return 1;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    std::printf("%s: %d pages, %zu bytes\n", path, pages, bytes.size());
    return written ? 0 : 1;
}

struct JobPages {
    JobSurfaces surfaces;
    int pages;
};

int renderJobPageOf(void* context, SpoolStream* stream, const WalkedPage& page)
{
    JobPages* job = static_cast<JobPages*>(context);
    renderJobPage(job->surfaces, stream, page);
    job->pages++;
    return 0;
}

// Walks and draws the file's pages with the print job's own code: printer
// render, window render with the screen copy, then on past the records the
// page consumed.
int renderFile(const char* path)
{
    // A4 at 300 dpi, less a quarter inch margin each side.
    const int dpi = 300;
    const int areaWidth = 2480 - 150;
    const int areaHeight = 3508 - 150;
    DrawSurface* printer = createPageSurface(areaWidth, areaHeight, dpi, dpi, 75, 75);
    DrawSurface* window = createPageSurface(1280, 1024, 96, 96, 0, 0);
    SpoolStream* stream = openSpoolStream(path);
    if (printer == nullptr || window == nullptr || stream == nullptr) {
        std::fprintf(stderr, "render_memory: cannot open %s or make its surfaces\n", path);
        return 1;
    }
    long before = peakResidentKb();
    JobPages job = {{printer, {-75, -75, dpi, dpi, areaWidth, areaHeight}, window, {0, 0, 96, 96, 1280, 1024}}, 0};
    walkPages(stream, renderJobPageOf, &job, nullptr);
    int pages = job.pages;
    closeSpoolStream(stream);
    releaseScreenCopy();
    destroyPageSurface(window);
    destroyPageSurface(printer);
    std::printf("%s: %d pages rendered; peak resident %ld kB (%ld kB with the surfaces, before the first page)\n",
                path, pages, peakResidentKb(), before);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "write") == 0) {
        return writeFile(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (argc == 3 && std::strcmp(argv[1], "render") == 0) {
        return renderFile(argv[2]);
    }
    std::fprintf(stderr, "usage: render_memory write FILE pages|big N | render FILE\n");
    return 2;
}
