// spool_to_pdf: a spool file, or a zip archive holding one, to one PDF with a
// page per printed page, laid out as the printer prints it.
//
// The pages are walked and drawn exactly as spool_to_png walks and draws them
// (the same printer options, the same software surface), and the PDF page
// takes its text and images from what the surface drew (pdf_pages.h). So a
// refused page is a blank page, records consumed as image data are skipped,
// and every line and image sits where spool_to_png puts it.
//
// The PDF appears only when it is complete: it is written under a temporary
// name beside the output and renamed at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "render/bitmap_surface.h"
#include "spool/spool_stream.h"
#include "tools/pdf_pages.h"
#include "tools/sheet_layout.h"
#include "tools/zip_member.h"

namespace {

const char toolName[] = "spool_to_pdf";

const char usageText[] =
    "usage: spool_to_pdf [--paper letter|a4] [--dpi N] [--offset X,Y] [-o OUT.pdf] [--member NAME] INPUT\n"
    "\n"
    "Writes every page of a Fernquill spool file into one PDF, laid out as the\n"
    "printer prints it, with the text as text. INPUT is the spool file, or a zip\n"
    "archive that holds one (Fernquill_Spool_File.PDB, in any folder).\n"
    "\n";
const char usageTail[] =
    "  -o OUT.pdf       the PDF to write, also --out (default: INPUT with .pdf for\n"
    "                   its extension)\n"
    "  --member NAME    the archive's member to take, as the archive names it, when\n"
    "                   it holds more than one spool file\n"
    "  --help           this text\n";

const int exitFailure = 1;
const int exitUsage = 2;
const int maxPathLength = 4095;

struct ToolOptions {
    SheetOptions sheet;
    const char* outPath;
    const char* memberName;
    const char* inputPath;
    bool help;
};

// What each page needs once it is drawn.
struct PdfJob {
    PdfPages* pdf;
    int pages;
    int refused;
};

int badArgument(const char* what, const char* value)
{
    std::fprintf(stderr, "spool_to_pdf: %s%s%s\n", what, value != nullptr ? ": " : "", value != nullptr ? value : "");
    return -1;
}

// Fills options from the command line; on a bad argument says which and
// returns -1.
int parseArguments(int argc, char** argv, ToolOptions* options)
{
    options->sheet = defaultSheetOptions();
    options->outPath = nullptr;
    options->memberName = nullptr;
    options->inputPath = nullptr;
    options->help = false;

    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        int sheetOption = parseSheetOption(toolName, argc, argv, &i, &options->sheet);
        if (sheetOption < 0) {
            return -1;
        } else if (sheetOption > 0) {
            continue;
        } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options->help = true;
            return 0;
        } else if (std::strcmp(argument, "-o") == 0 || std::strcmp(argument, "--out") == 0) {
            if (value == nullptr || *value == '\0') {
                return badArgument("-o needs a file name", nullptr);
            }
            options->outPath = value;
            i++;
        } else if (std::strcmp(argument, "--member") == 0) {
            if (value == nullptr || *value == '\0') {
                return badArgument("--member needs a name", nullptr);
            }
            options->memberName = value;
            i++;
        } else if (argument[0] == '-' && argument[1] != '\0') {
            return badArgument("unknown option", argument);
        } else if (options->inputPath != nullptr) {
            return badArgument("only one input at a time; also given", argument);
        } else {
            options->inputPath = argument;
        }
    }
    if (options->inputPath == nullptr) {
        return badArgument("no input given", nullptr);
    }
    return 0;
}

// INPUT with .pdf for its extension: "x/job.PDB" -> "x/job.pdf".
int defaultOutputPath(const char* input, char* path, size_t capacity)
{
    const char* name = std::strrchr(input, '/');
    name = name != nullptr ? name + 1 : input;
    const char* dot = std::strrchr(name, '.');
    size_t stem = dot != nullptr && dot != name ? static_cast<size_t>(dot - input) : std::strlen(input);
    int written = std::snprintf(path, capacity, "%.*s.pdf", static_cast<int>(stem), input);
    return written > 0 && static_cast<size_t>(written) < capacity ? 0 : -1;
}

// Whether the two paths name one existing file.
bool sameFile(const char* left, const char* right)
{
    struct stat a;
    struct stat b;
    return stat(left, &a) == 0 && stat(right, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// How the walk over the pages stopped early.
const int stoppedByLibrary = 1;
const int stoppedFull = 2;

int endPage(void* context, int pageNumber, bool refused)
{
    PdfJob* job = static_cast<PdfJob*>(context);
    job->pages = pageNumber;
    job->refused += refused ? 1 : 0;
    int finished = finishPdfPage(job->pdf);
    return finished == 0 ? 0 : finished > 0 ? stoppedFull : stoppedByLibrary;
}

// Draws every page into the PDF and writes it to outPath.
int convertPages(SpoolStream* stream, int recordCount, const ToolOptions& options, const SheetLayout& sheet,
                 const char* outPath)
{
    DrawSurface* surface = createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi, sheet.dpi, sheet.offsetX,
                                             sheet.offsetY);
    if (surface == nullptr) {
        std::fprintf(stderr, "spool_to_pdf: not enough memory for a %d x %d page at %d dpi\n", sheet.areaWidth,
                     sheet.areaHeight, sheet.dpi);
        return exitFailure;
    }
    char title[maxPathLength + 1];
    spoolBaseName(options.inputPath, title, sizeof title);
    PdfJob job = {startPdfPages(sheet, title, surface), 0, 0};
    int result = exitFailure;
    int walked = job.pdf != nullptr ? walkPages(stream, recordCount, surface, sheet, endPage, &job) : 0;
    if (job.pdf == nullptr) {
        std::fprintf(stderr, "spool_to_pdf: the PDF library could not start a document\n");
    } else if (walked == stoppedByLibrary) {
        std::fprintf(stderr, "spool_to_pdf: the PDF library failed while drawing the pages of %s\n",
                     options.inputPath);
    } else if (writePdfFile(job.pdf, toolName, outPath) != 0) {
        // Said by the writer; no file is left.
    } else if (walked == stoppedFull) {
        // The pages so far are kept, as a printer would have printed them.
        std::fprintf(stderr, "spool_to_pdf: stopped after page %d of %s: its images passed %llu MiB\n", job.pages,
                     options.inputPath, static_cast<unsigned long long>(maxPdfImageBytes >> 20));
    } else {
        std::printf("%s  %d page%s", outPath, job.pages, job.pages == 1 ? "" : "s");
        if (job.refused > 0) {
            std::printf("  (%d refused: blank)", job.refused);
        }
        std::printf("\n");
        result = 0;
    }
    discardPdfPages(job.pdf);
    destroyPageSurface(surface);
    return result;
}

// Opens the spool file at spoolPath (the input, or what was taken out of
// it) and converts it.
int convertSpoolFile(const ToolOptions& options, const SheetLayout& sheet, const char* spoolPath, const char* outPath)
{
    SpoolStream* stream = openSpoolStream(spoolPath);
    if (stream == nullptr) {
        std::fprintf(stderr, "spool_to_pdf: cannot open spool file %s\n", options.inputPath);
        return exitFailure;
    }
    int recordCount = readRecordCount(stream);
    int result = 0;
    if (recordCount <= 0) {
        std::printf("%s: no pages (record count %d)\n", options.inputPath, recordCount);
    } else {
        result = convertPages(stream, recordCount, options, sheet, outPath);
    }
    closeSpoolStream(stream);
    return result;
}

int convertInput(const ToolOptions& options, const SheetLayout& sheet)
{
    char outPath[maxPathLength + 1];
    if (options.outPath != nullptr) {
        std::snprintf(outPath, sizeof outPath, "%s", options.outPath);
    } else if (defaultOutputPath(options.inputPath, outPath, sizeof outPath) != 0) {
        std::fprintf(stderr, "spool_to_pdf: input path too long: %s\n", options.inputPath);
        return exitFailure;
    }
    struct stat input;
    int zip = stat(options.inputPath, &input) == 0 && S_ISDIR(input.st_mode) ? -1 : isZipArchive(options.inputPath);
    if (zip < 0) {
        std::fprintf(stderr, "spool_to_pdf: cannot open %s\n", options.inputPath);
        return exitFailure;
    }
    if (sameFile(options.inputPath, outPath)) {
        std::fprintf(stderr, "spool_to_pdf: the PDF would replace the input %s; name another with -o\n",
                     options.inputPath);
        return exitUsage;
    }
    if (zip == 0) {
        if (options.memberName != nullptr) {
            std::fprintf(stderr, "spool_to_pdf: --member is for zip archives, and %s is none\n", options.inputPath);
            return exitUsage;
        }
        return convertSpoolFile(options, sheet, options.inputPath, outPath);
    }
    char spoolPath[maxPathLength + 1];
    if (extractSpoolMember(toolName, options.inputPath, options.memberName, spoolPath, sizeof spoolPath) != 0) {
        return exitFailure;
    }
    int result = convertSpoolFile(options, sheet, spoolPath, outPath);
    std::remove(spoolPath);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    ToolOptions options;
    if (parseArguments(argc, argv, &options) != 0) {
        std::fprintf(stderr, "Try 'spool_to_pdf --help'.\n");
        return exitUsage;
    }
    if (options.help) {
        printUsage(usageText, usageTail);
        return 0;
    }
    SheetLayout sheet;
    if (layOutSheet(toolName, options.sheet, &sheet) != 0) {
        return exitUsage;
    }
    return convertInput(options, sheet);
}
