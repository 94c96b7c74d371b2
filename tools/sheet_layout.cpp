// The printer options and the page walk shared by spool_to_png and
// spool_to_pdf, so that both lay out a page the same way.
#include "tools/sheet_layout.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const PaperSize paperSizes[] = {
    {"letter", 2159, 2794},
    {"a4", 2100, 2970},
};

// "X,Y"
int parseOffset(const char* text, int* x, int* y)
{
    const char* comma = text != nullptr ? std::strchr(text, ',') : nullptr;
    if (comma == nullptr || comma - text > 20) {
        return -1;
    }
    char first[21];
    std::memcpy(first, text, static_cast<size_t>(comma - text));
    first[comma - text] = '\0';
    return parseNumber(first, INT_MAX, x) == 0 && parseNumber(comma + 1, INT_MAX, y) == 0 ? 0 : -1;
}

const PaperSize* findPaper(const char* name)
{
    for (const PaperSize& paper : paperSizes) {
        if (name != nullptr && std::strcmp(name, paper.name) == 0) {
            return &paper;
        }
    }
    return nullptr;
}

int badValue(const char* tool, const char* what, const char* value)
{
    std::fprintf(stderr, "%s: %s%s%s\n", tool, what, value != nullptr ? ": " : "", value != nullptr ? value : "");
    return -1;
}

// Rounds to the nearest pixel, as printer drivers report A4 (2480 x 3508 at
// 300 dpi).
int64_t tenthMillimetresToPixels(int tenths, int dpi)
{
    return (static_cast<int64_t>(dpi) * tenths + 127) / 254;
}

const char sheetOptionsUsage[] =
    "  --dpi N          printer resolution in pixels per inch (default 300)\n"
    "  --paper P        sheet size: letter, 8.5 x 11 in (default), or a4, 210 x 297 mm\n"
    "  --offset X,Y     the printer's unprintable margins in pixels (default 0,0)\n";

}  // namespace

void printUsage(const char* head, const char* tail)
{
    std::fputs(head, stdout);
    std::fputs(sheetOptionsUsage, stdout);
    std::fputs(tail, stdout);
}

SheetOptions defaultSheetOptions()
{
    return {300, &paperSizes[0], 0, 0};
}

int parseNumber(const char* text, int max, int* value)
{
    if (text == nullptr || *text < '0' || *text > '9') {
        return -1;
    }
    int64_t number = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        number = number * 10 + (*text - '0');
        if (number > max) {
            return -1;
        }
    }
    if (*text != '\0') {
        return -1;
    }
    *value = static_cast<int>(number);
    return 0;
}

int parseSheetOption(const char* tool, int argc, char** argv, int* i, SheetOptions* options)
{
    const char* argument = argv[*i];
    const char* value = *i + 1 < argc ? argv[*i + 1] : nullptr;
    if (std::strcmp(argument, "--dpi") == 0) {
        if (parseNumber(value, INT_MAX, &options->dpi) != 0 || options->dpi == 0) {
            return badValue(tool, "--dpi needs a whole number above 0", value);
        }
    } else if (std::strcmp(argument, "--paper") == 0) {
        options->paper = findPaper(value);
        if (options->paper == nullptr) {
            return badValue(tool, "--paper is letter or a4", value);
        }
    } else if (std::strcmp(argument, "--offset") == 0) {
        if (parseOffset(value, &options->offsetX, &options->offsetY) != 0) {
            return badValue(tool, "--offset needs two whole numbers, X,Y", value);
        }
    } else {
        return 0;
    }
    (*i)++;
    return 1;
}

int layOutSheet(const char* tool, const SheetOptions& options, SheetLayout* sheet)
{
    int64_t width = tenthMillimetresToPixels(options.paper->width, options.dpi);
    int64_t height = tenthMillimetresToPixels(options.paper->height, options.dpi);
    if (width > INT_MAX || height > INT_MAX) {
        std::fprintf(stderr, "%s: a %s sheet at %d dpi is too large\n", tool, options.paper->name, options.dpi);
        return -1;
    }
    int64_t areaWidth = width - 2 * static_cast<int64_t>(options.offsetX);
    int64_t areaHeight = height - 2 * static_cast<int64_t>(options.offsetY);
    if (areaWidth <= 0 || areaHeight <= 0) {
        std::fprintf(stderr, "%s: offsets %d,%d leave nothing to draw on a %lld x %lld sheet\n", tool,
                     options.offsetX, options.offsetY, static_cast<long long>(width), static_cast<long long>(height));
        return -1;
    }
    sheet->dpi = options.dpi;
    sheet->sheetWidth = static_cast<int>(width);
    sheet->sheetHeight = static_cast<int>(height);
    sheet->offsetX = options.offsetX;
    sheet->offsetY = options.offsetY;
    sheet->areaWidth = static_cast<int>(areaWidth);
    sheet->areaHeight = static_cast<int>(areaHeight);
    return 0;
}

PagePlacement sheetPlacement(const SheetLayout& sheet)
{
    return {-sheet.offsetX, -sheet.offsetY, sheet.dpi, sheet.dpi, sheet.areaWidth, sheet.areaHeight};
}

void spoolBaseName(const char* path, char* name, size_t capacity)
{
    const char* start = path;
    for (const char* c = path; *c != '\0'; c++) {
#if defined(_WIN32)
        bool separator = *c == '/' || *c == '\\' || *c == ':';
#else
        bool separator = *c == '/';
#endif
        if (separator) {
            start = c + 1;
        }
    }
    const char* dot = std::strrchr(start, '.');
    size_t length = dot != nullptr && dot != start ? static_cast<size_t>(dot - start) : std::strlen(start);
    std::snprintf(name, capacity, "%.*s", static_cast<int>(length), start);
}

int readRecordCount(SpoolStream* stream)
{
    int recordCount = 0;
    readSpoolHeader(stream, &recordCount, nullptr, nullptr);
    seekTo(stream, 0);
    return recordCount;
}

int walkPages(SpoolStream* stream, int recordCount, DrawSurface* surface, const SheetLayout& sheet, PageDone onPage,
              void* context)
{
    PagePlacement placement = sheetPlacement(sheet);
    int pageNumber = 0;
    for (int record = 0; record < recordCount; record = nextPageRecord(stream, record, recordCount)) {
        // A refused page has been filled white and leaves the stream alone.
        bool refused = renderPage(surface, placement, stream, record, recordCount, false) != 0;
        pageNumber++;
        int result = onPage(context, pageNumber, refused);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}
