#include "unix/spool_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "render/bitmap_surface.h"
#include "spool/spool_database_name.h"
#include "spool/spool_stream.h"
#include "tools/pdf_pages.h"
#include "tools/tool_front_end.h"

namespace {

uint32_t bigEndian32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// Hundredths of a millimetre to pixels at dpi: to the nearest for a sheet,
// upwards for a margin, so nothing is drawn on it.
int64_t nearestPixels(int hundredths, int dpi)
{
    return (static_cast<int64_t>(hundredths) * dpi + 1270) / 2540;
}

int64_t pixelsCovering(int hundredths, int dpi)
{
    return (static_cast<int64_t>(hundredths) * dpi + 2539) / 2540;
}

struct DocumentRun {
    PdfPages* pdf;
    int pages;
    int refused;
    bool failed;
};

int pageDrawn(void* context, int pageNumber, bool refused)
{
    DocumentRun* run = static_cast<DocumentRun*>(context);
    run->pages = pageNumber;
    run->refused += refused ? 1 : 0;
    int finished = finishPdfPage(run->pdf);
    if (finished < 0) {
        run->failed = true;
    }
    // A document full of images keeps the pages so far, as spool_to_pdf does.
    return finished == 0 ? 0 : 1;
}

}  // namespace

SpoolCheck checkSpoolBytes(const unsigned char* bytes, size_t size, char* reason, size_t capacity)
{
    if (size < static_cast<size_t>(spoolHeaderSize)) {
        std::snprintf(reason, capacity, "%zu bytes, shorter than a database header", size);
        return spoolNotWhole;
    }
    if (checkPalmDatabase(bytes, size) != 0) {
        std::snprintf(reason, capacity, "its record list runs past its end at %zu bytes", size);
        return spoolNotWhole;
    }
    int count = static_cast<int16_t>(bytes[spoolRecordCountOffset] << 8 | bytes[spoolRecordCountOffset + 1]);
    if (count <= 0) {
        std::snprintf(reason, capacity, "no pages");
        return spoolNoPages;
    }
    for (int i = 0; i < count; i++) {
        uint32_t start = bigEndian32(bytes + spoolHeaderSize + 8 * i);
        if (start >= size) {
            std::snprintf(reason, capacity, "record %d of %d starts at or past its end at %zu bytes", i + 1, count,
                          size);
            return spoolNotWhole;
        }
    }
    return spoolWhole;
}

int sheetForMedia(const PrinterMedia& media, int dpi, SheetLayout* sheet)
{
    const int maxHundredths = 100000;  // a metre: no printer's sheet is larger
    if (media.width <= 0 || media.length <= 0 || media.width > maxHundredths || media.length > maxHundredths ||
        media.left < 0 || media.right < 0 || media.top < 0 || media.bottom < 0 || media.left > maxHundredths ||
        media.right > maxHundredths || media.top > maxHundredths || media.bottom > maxHundredths) {
        return -1;
    }
    int64_t width = nearestPixels(media.width, dpi);
    int64_t height = nearestPixels(media.length, dpi);
    int64_t left = pixelsCovering(media.left, dpi);
    int64_t top = pixelsCovering(media.top, dpi);
    int64_t areaWidth = width - left - pixelsCovering(media.right, dpi);
    int64_t areaHeight = height - top - pixelsCovering(media.bottom, dpi);
    if (areaWidth <= 0 || areaHeight <= 0) {
        return -1;
    }
    *sheet = {dpi, static_cast<int>(width), static_cast<int>(height), static_cast<int>(left), static_cast<int>(top),
              static_cast<int>(areaWidth), static_cast<int>(areaHeight)};
    return 0;
}

SheetLayout defaultPdfSheet()
{
    SheetOptions options = defaultSheetOptions();
    options.offsetX = marginPixels(pdfMarginHundredths, options.dpi);
    options.offsetY = options.offsetX;
    SheetLayout sheet;
    layOutSheet("spool_watch", options, &sheet);
    return sheet;
}

DocumentResult makeSpoolDocument(const unsigned char* spool, size_t size, const SheetLayout& sheet,
                                 const char* title, SpoolDocument* document)
{
    *document = SpoolDocument{};
    // The stream takes a copy of its own, so that the bytes read are the
    // ones whose hash the state file records, whatever the file does next.
    unsigned char* copy = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
    if (copy != nullptr) {
        std::memcpy(copy, spool, size);
    }
    SpoolStream* stream = copy != nullptr ? openSpoolStreamInMemory(copy, static_cast<int64_t>(size)) : nullptr;
    DrawSurface* surface = stream != nullptr ? createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi,
                                                                 sheet.dpi, sheet.offsetX, sheet.offsetY)
                                             : nullptr;
    DocumentRun run = {surface != nullptr ? startPdfPages(sheet, title, surface) : nullptr, 0, 0, false};
    DocumentResult result = documentFailed;
    if (run.pdf != nullptr) {
        drawSheetPages(stream, surface, sheet, pageDrawn, &run);
        if (run.refused == run.pages) {
            result = documentNoPages;
        } else if (!run.failed && run.pages > 0 && copyPdfBytes(run.pdf, &document->bytes, &document->size) == 0) {
            document->pages = run.pages;
            document->refused = run.refused;
            result = documentMade;
        }
    }
    discardPdfPages(run.pdf);
    if (surface != nullptr) {
        destroyPageSurface(surface);
    }
    closeSpoolStream(stream);
    return result;
}

void freeSpoolDocument(SpoolDocument* document)
{
    std::free(document->bytes);
    *document = SpoolDocument{};
}

int readSpoolFile(const char* path, unsigned char** bytes, size_t* size)
{
    int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return -1;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        int error = errno;
        close(descriptor);
        errno = error;
        return -1;
    }
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > maxSpoolFileBytes) {
        close(descriptor);
        errno = EFBIG;
        return -1;
    }
    // One byte more than the size said, to notice a file still growing.
    size_t capacity = static_cast<size_t>(status.st_size) + 1;
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(capacity));
    size_t filled = 0;
    ssize_t got = 1;
    while (buffer != nullptr && filled < capacity && got > 0) {
        got = read(descriptor, buffer + filled, capacity - filled);
        filled += got > 0 ? static_cast<size_t>(got) : 0;
    }
    int error = buffer == nullptr ? ENOMEM : errno;
    close(descriptor);
    if (buffer == nullptr || got < 0) {
        std::free(buffer);
        errno = error;
        return -1;
    }
    *bytes = buffer;
    *size = filled;
    return 0;
}

int writePdfIntoFolder(const SpoolDocument& document, const char* folder, const char* name, char* path,
                       size_t capacity)
{
    for (int attempt = 1; attempt < 100; attempt++) {
        char suffix[16] = "";
        if (attempt > 1) {
            std::snprintf(suffix, sizeof suffix, "-%d", attempt);
        }
        int written = std::snprintf(path, capacity, "%s/%s%s.pdf", folder, name, suffix);
        if (written < 0 || static_cast<size_t>(written) >= capacity) {
            errno = ENAMETOOLONG;
            return -1;
        }
        // Written under a temporary name and linked into place, so the PDF
        // appears whole and never replaces another.
        char temporary[4096 + 600];
        std::snprintf(temporary, sizeof temporary, "%s/.%s.%ld.tmp", folder, name,
                      static_cast<long>(getpid()));
        int descriptor = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (descriptor < 0) {
            return -1;
        }
        bool whole = write(descriptor, document.bytes, document.size) == static_cast<ssize_t>(document.size);
        int error = whole ? 0 : (errno != 0 ? errno : ENOSPC);
        if (close(descriptor) != 0 && whole) {
            whole = false;
            error = errno;
        }
        int linked = whole ? link(temporary, path) : -1;
        if (whole && linked != 0) {
            error = errno;
        }
        unlink(temporary);
        if (linked == 0) {
            return 0;
        }
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}
