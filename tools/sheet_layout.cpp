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

// Rounds to the nearest pixel, as printer drivers report A4 (2480 x 3508 at
// 300 dpi).
int64_t tenthMillimetresToPixels(int tenths, int dpi)
{
    return (static_cast<int64_t>(dpi) * tenths + 127) / 254;
}

}  // namespace

SheetOptions defaultSheetOptions()
{
    return {300, &paperSizes[0], 0, 0};
}

int marginPixels(int hundredths, int dpi)
{
    return static_cast<int>((static_cast<int64_t>(dpi) * hundredths + 50) / 100);
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

void placeAreaRow(const unsigned char* area, int areaWidth, int offsetX, unsigned char* sheetRow, int sheetRowBytes)
{
    int areaBytes = (areaWidth + 7) / 8;
    int shift = offsetX % 8;
    int at = offsetX / 8;
    for (int i = 0; i < areaBytes; i++) {
        unsigned int bits = area[i];
        if (i == areaBytes - 1 && areaWidth % 8 != 0) {
            bits &= 0xFFu << (8 - areaWidth % 8);
        }
        sheetRow[at + i] |= static_cast<unsigned char>(bits >> shift);
        if (shift != 0 && at + i + 1 < sheetRowBytes) {
            sheetRow[at + i + 1] |= static_cast<unsigned char>(bits << (8 - shift));
        }
    }
}
