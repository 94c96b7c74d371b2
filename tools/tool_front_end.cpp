#include "tools/tool_front_end.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "tools/file_paths.h"
#if defined(FERNQUILL_TOOLS_READ_ARCHIVES)
#include "tools/zip_member.h"
#endif

namespace {

// Says the shared options; %s is where --offset's default goes.
const char sharedUsage[] =
    "  --dpi N          printer resolution in pixels per inch (default 300)\n"
    "  --paper P        sheet size: letter, 8.5 x 11 in (default), or a4, 210 x 297 mm\n"
    "  --offset X,Y     the printer's unprintable margins in pixels, which a page\n"
    "                   is moved off (default %s)\n"
    "  --member NAME    the archive's member to take, as the archive names it, when\n"
    "                   it holds more than one spool file\n";
const char helpUsage[] = "  --help           this text\n";

// ---- The command line -------------------------------------------------------

// A whole decimal number from 0 to max, nothing else in the text.
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

// The tool's default margin at the resolution, to the nearest pixel.
int defaultMarginPixels(const ToolDefinition& tool, int dpi)
{
    return marginPixels(tool.defaultMargin, dpi);
}

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

// Takes argv[*i] if it is one of the options every tool has, with its value.
// Returns 1 when it was one, 0 when it is not, -1 when it is bad (said).
int parseSharedOption(const char* tool, int argc, char** argv, int* i, ToolInput* input)
{
    const char* argument = argv[*i];
    const char* value = *i + 1 < argc ? argv[*i + 1] : nullptr;
    SheetOptions* sheet = &input->sheet;
    if (std::strcmp(argument, "--dpi") == 0) {
        if (parseNumber(value, INT_MAX, &sheet->dpi) != 0 || sheet->dpi == 0) {
            return badToolArgument(tool, "--dpi needs a whole number above 0", value);
        }
    } else if (std::strcmp(argument, "--paper") == 0) {
        sheet->paper = findPaper(value);
        if (sheet->paper == nullptr) {
            return badToolArgument(tool, "--paper is letter or a4", value);
        }
    } else if (std::strcmp(argument, "--offset") == 0) {
        if (parseOffset(value, &sheet->offsetX, &sheet->offsetY) != 0) {
            return badToolArgument(tool, "--offset needs two whole numbers, X,Y", value);
        }
    } else if (std::strcmp(argument, "--member") == 0) {
        if (value == nullptr || *value == '\0') {
            return badToolArgument(tool, "--member needs a name", nullptr);
        }
        input->memberName = value;
    } else {
        return 0;
    }
    (*i)++;
    return 1;
}

// ---- The input --------------------------------------------------------------

// The input as a spool file: the input itself, or the spool file of its
// archive copied out to a temporary file.
struct SpoolInput {
    char path[maxToolPathLength + 1];
    bool temporary;
};

// 1 when the file starts as a zip archive does, 0 when it does not (a spool
// file), -1 when it can't be read or is a folder.
int isZipArchive(const char* path)
{
    struct stat status;
    if (stat(path, &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
        return -1;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    unsigned char start[4] = {0, 0, 0, 0};
    size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    // A local file header, or the end record of an empty archive.
    bool zip = got == 4 && start[0] == 'P' && start[1] == 'K' &&
               ((start[2] == 3 && start[3] == 4) || (start[2] == 5 && start[3] == 6));
    return zip ? 1 : 0;
}

int openArchive(const char* tool, const ToolInput& input, SpoolInput* spool)
{
#if defined(FERNQUILL_TOOLS_READ_ARCHIVES)
    if (extractSpoolMember(tool, input.inputPath, input.memberName, spool->path, sizeof spool->path) != 0) {
        return exitFailure;
    }
    spool->temporary = true;
    return 0;
#else
    (void)spool;
    std::fprintf(stderr, "%s: %s is a zip archive, and this build reads none: take its spool file out first\n", tool,
                 input.inputPath);
    return exitFailure;
#endif
}

// Finds the spool file to read. Returns 0 or an exit status (said).
int openInput(const char* tool, const ToolInput& input, SpoolInput* spool)
{
    spool->temporary = false;
    int zip = isZipArchive(input.inputPath);
    if (zip < 0) {
        std::fprintf(stderr, "%s: cannot open %s\n", tool, input.inputPath);
        return exitFailure;
    }
    if (zip > 0) {
        return openArchive(tool, input, spool);
    }
    if (input.memberName != nullptr) {
        std::fprintf(stderr, "%s: --member is for zip archives, and %s is none\n", tool, input.inputPath);
        return exitUsage;
    }
    std::snprintf(spool->path, sizeof spool->path, "%s", input.inputPath);
    return 0;
}

void closeInput(const SpoolInput& spool)
{
    if (spool.temporary) {
        std::remove(spool.path);
    }
}

// ---- The pages --------------------------------------------------------------

struct SheetWalk {
    DrawSurface* surface;
    PagePlacement placement;
    SheetPageDrawn pageDrawn;
    void* context;
};

int drawSheetPage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    SheetWalk* walk = static_cast<SheetWalk*>(context);
    // Moved off the margins that --offset gives, as the print job moves it
    // off a printer's.
    PagePlacement placement =
        fitPageInsideArea(walk->surface, walk->placement, stream, page.firstRecord, page.recordCount);
    // A refused page has been filled white and leaves the stream alone.
    bool refused = renderPage(walk->surface, placement, stream, page.firstRecord, page.recordCount, false) != 0;
    return walk->pageDrawn(walk->context, page.number, refused);
}

// Hands each drawn page to the tool's output.
struct ToolWalk {
    const ToolDefinition* tool;
    void* context;
    ToolPages* pages;
};

int handPageToTool(void* context, int pageNumber, bool refused)
{
    ToolWalk* walk = static_cast<ToolWalk*>(context);
    return walk->tool->pageDrawn(walk->context, walk->pages, pageNumber, refused);
}

// Draws the pages of the open stream for the tool. Returns the exit status.
int convertPages(const ToolDefinition& tool, void* context, ToolPages* pages, SpoolStream* stream)
{
    const SheetLayout& sheet = pages->sheet;
    pages->surface = createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi, sheet.dpi, sheet.offsetX,
                                       sheet.offsetY);
    if (pages->surface == nullptr) {
        std::fprintf(stderr, "%s: not enough memory for a %d x %d page at %d dpi\n", tool.name, sheet.areaWidth,
                     sheet.areaHeight, sheet.dpi);
        return exitFailure;
    }
    int status = tool.startOutput(context, pages);
    if (status == 0) {
        ToolWalk walk = {&tool, context, pages};
        int stopped = drawSheetPages(stream, pages->surface, sheet, handPageToTool, &walk);
        status = tool.finishOutput(context, pages, stopped);
    }
    destroyPageSurface(pages->surface);
    pages->surface = nullptr;
    return status;
}

// Opens the spool file and converts it; a file without pages says so.
int convertSpoolFile(const ToolDefinition& tool, void* context, ToolPages* pages, const char* spoolPath)
{
    SpoolStream* stream = openSpoolStream(spoolPath);
    if (stream == nullptr) {
        std::fprintf(stderr, "%s: cannot open spool file %s\n", tool.name, pages->input->inputPath);
        return exitFailure;
    }
    // Asked before the walk, so that a file without pages makes no surface.
    int recordCount = 0;
    readSpoolHeader(stream, &recordCount, nullptr, nullptr);
    int status = 0;
    if (recordCount <= 0 || !pageStartsInFile(stream, 0)) {
        std::printf("%s: no pages (record count %d)\n", pages->input->inputPath, recordCount);
    } else {
        status = convertPages(tool, context, pages, stream);
    }
    closeSpoolStream(stream);
    return status;
}

void printToolUsage(const ToolDefinition& tool)
{
    std::fputs(tool.usageHead, stdout);
    char margin[64] = "0,0";
    if (tool.defaultMargin > 0) {
        int pixels = defaultMarginPixels(tool, defaultSheetOptions().dpi);
        std::snprintf(margin, sizeof margin, "%d.%02d in: %d,%d at %d dpi", tool.defaultMargin / 100,
                      tool.defaultMargin % 100, pixels, pixels, defaultSheetOptions().dpi);
    }
    std::printf(sharedUsage, margin);
    std::fputs(tool.usageTail, stdout);
    std::fputs(helpUsage, stdout);
}

}  // namespace

int badToolArgument(const char* tool, const char* what, const char* value)
{
    std::fprintf(stderr, "%s: %s%s%s\n", tool, what, value != nullptr ? ": " : "", value != nullptr ? value : "");
    return -1;
}

const char* toolOptionValue(int argc, char** argv, int* i)
{
    if (*i + 1 >= argc || argv[*i + 1][0] == '\0') {
        return nullptr;
    }
    (*i)++;
    return argv[*i];
}

int parseToolArguments(const ToolDefinition& tool, void* context, int argc, char** argv, ToolInput* input)
{
    input->sheet = defaultSheetOptions();
    // Not a value --offset can give: the tool's default, once --dpi is known.
    input->sheet.offsetX = -1;
    input->inputPath = nullptr;
    input->memberName = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        int taken = parseSharedOption(tool.name, argc, argv, &i, input);
        if (taken == 0 && tool.parseOption != nullptr) {
            taken = tool.parseOption(context, argc, argv, &i);
        }
        if (taken < 0) {
            return -1;
        } else if (taken > 0) {
            continue;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            return 1;
        } else if (argument[0] == '-' && argument[1] != '\0') {
            return badToolArgument(tool.name, "unknown option", argument);
        } else if (input->inputPath != nullptr) {
            return badToolArgument(tool.name, "only one input at a time; also given", argument);
        } else {
            input->inputPath = argument;
        }
    }
    if (input->inputPath == nullptr) {
        return badToolArgument(tool.name, "no input given", nullptr);
    }
    if (input->sheet.offsetX < 0) {
        input->sheet.offsetX = defaultMarginPixels(tool, input->sheet.dpi);
        input->sheet.offsetY = input->sheet.offsetX;
    }
    return 0;
}

int drawSheetPages(SpoolStream* stream, DrawSurface* surface, const SheetLayout& sheet, SheetPageDrawn pageDrawn,
                   void* context)
{
    SheetWalk walk = {surface, sheetPlacement(sheet), pageDrawn, context};
    return walkPages(stream, drawSheetPage, &walk, nullptr);
}

int runTool(const ToolDefinition& tool, void* context, int argc, char** argv)
{
    ToolInput input;
    int parsed = parseToolArguments(tool, context, argc, argv, &input);
    if (parsed < 0) {
        std::fprintf(stderr, "Try '%s --help'.\n", tool.name);
        return exitUsage;
    }
    if (parsed > 0) {
        printToolUsage(tool);
        return 0;
    }
    ToolPages pages;
    pages.input = &input;
    pages.surface = nullptr;
    if (layOutSheet(tool.name, input.sheet, &pages.sheet) != 0) {
        return exitUsage;
    }
    if (pathBaseName(input.inputPath, pages.baseName, sizeof pages.baseName) != 0) {
        std::fprintf(stderr, "%s: input path too long: %s\n", tool.name, input.inputPath);
        return exitFailure;
    }
    int status = tool.prepare != nullptr ? tool.prepare(context, input) : 0;
    if (status != 0) {
        return status;
    }
    SpoolInput spool;
    status = openInput(tool.name, input, &spool);
    if (status != 0) {
        return status;
    }
    status = convertSpoolFile(tool, context, &pages, spool.path);
    closeInput(spool);
    return status;
}
