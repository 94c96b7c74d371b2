// spool_to_pdf: a spool file, or a zip archive holding one, to one PDF with a
// page per printed page, laid out as the printer prints it.
//
// The pages are walked and drawn exactly as spool_to_png walks and draws them
// (tool_front_end.h: the same printer options, the same software surface),
// and the PDF page takes its text and images from what the surface drew
// (pdf_pages.h). So a refused page is a blank page, records consumed as
// image data are skipped, and every line and image sits where spool_to_png
// puts it with the same --offset. Only the default margin differs: the PDF
// is meant to be printed (pdfMarginHundredths, in sheet_layout.h).
//
// The PDF appears only when it is complete: it is written under a temporary
// name beside the output and renamed at the end.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "tools/file_paths.h"
#include "tools/pdf_pages.h"
#include "tools/tool_front_end.h"

namespace {

const char toolName[] = "spool_to_pdf";

const char usageHead[] =
    "usage: spool_to_pdf [--paper letter|a4] [--dpi N] [--offset X,Y] [--member NAME] [-o OUT.pdf] INPUT\n"
    "\n"
    "Writes every page of a Fernquill spool file into one PDF, laid out as the\n"
    "printer prints it, with the text as text. INPUT is the spool file, or a zip\n"
    "archive that holds one (Fernquill_Spool_File.PDB, in any folder).\n"
    "\n";
const char usageTail[] =
    "  -o OUT.pdf       the PDF to write, also --out (default: INPUT with .pdf for\n"
    "                   its extension)\n";


// How the walk over the pages stopped early.
const int stoppedByLibrary = 1;
const int stoppedFull = 2;

// The tool's options and the document being made.
struct PdfOutput {
    const char* outOption;  // -o, or nullptr
    char outPath[maxToolPathLength + 1];
    PdfPages* pdf;
    int pages;
    int refused;
};

int parseOption(void* context, int argc, char** argv, int* i)
{
    if (std::strcmp(argv[*i], "-o") != 0 && std::strcmp(argv[*i], "--out") != 0) {
        return 0;
    }
    const char* value = toolOptionValue(argc, argv, i);
    if (value == nullptr) {
        return badToolArgument(toolName, "-o needs a file name", nullptr);
    }
    static_cast<PdfOutput*>(context)->outOption = value;
    return 1;
}

// Whether the two paths name one existing file.
bool sameFile(const char* left, const char* right)
{
    struct stat a;
    struct stat b;
    return stat(left, &a) == 0 && stat(right, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Settles where the PDF goes, which must not be the input.
int prepare(void* context, const ToolInput& input)
{
    PdfOutput* output = static_cast<PdfOutput*>(context);
    int fitted = 0;
    if (output->outOption != nullptr) {
        int written = std::snprintf(output->outPath, sizeof output->outPath, "%s", output->outOption);
        fitted = written >= 0 && static_cast<size_t>(written) < sizeof output->outPath ? 0 : -1;
    } else {
        fitted = pathWithExtension(input.inputPath, ".pdf", output->outPath, sizeof output->outPath);
    }
    if (fitted != 0) {
        std::fprintf(stderr, "spool_to_pdf: output path too long for %s\n", input.inputPath);
        return exitFailure;
    }
    if (sameFile(input.inputPath, output->outPath)) {
        std::fprintf(stderr, "spool_to_pdf: the PDF would replace the input %s; name another with -o\n",
                     input.inputPath);
        return exitUsage;
    }
    return 0;
}

int startOutput(void* context, ToolPages* pages)
{
    PdfOutput* output = static_cast<PdfOutput*>(context);
    output->pdf = startPdfPages(pages->sheet, pages->baseName, pages->surface);
    if (output->pdf == nullptr) {
        std::fprintf(stderr, "spool_to_pdf: the PDF library could not start a document\n");
        return exitFailure;
    }
    return 0;
}

int endPage(void* context, ToolPages*, int pageNumber, bool refused)
{
    PdfOutput* output = static_cast<PdfOutput*>(context);
    output->pages = pageNumber;
    output->refused += refused ? 1 : 0;
    int finished = finishPdfPage(output->pdf);
    return finished == 0 ? 0 : finished > 0 ? stoppedFull : stoppedByLibrary;
}

// Writes the PDF, with the pages so far when its images grew too large.
int finishOutput(void* context, ToolPages* pages, int stopped)
{
    PdfOutput* output = static_cast<PdfOutput*>(context);
    const char* input = pages->input->inputPath;
    int status = exitFailure;
    if (stopped == stoppedByLibrary) {
        std::fprintf(stderr, "spool_to_pdf: the PDF library failed while drawing the pages of %s\n", input);
    } else if (writePdfFile(output->pdf, toolName, output->outPath) != 0) {
        // Said by the writer; no file is left.
    } else if (stopped == stoppedFull) {
        // The pages so far are kept, as a printer would have printed them.
        std::fprintf(stderr, "spool_to_pdf: stopped after page %d of %s: its images passed %llu MiB\n", output->pages,
                     input, static_cast<unsigned long long>(maxPdfImageBytes >> 20));
    } else {
        std::printf("%s  %d page%s", output->outPath, output->pages, output->pages == 1 ? "" : "s");
        if (output->refused > 0) {
            std::printf("  (%d refused: blank)", output->refused);
        }
        std::printf("\n");
        status = 0;
    }
    discardPdfPages(output->pdf);
    output->pdf = nullptr;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    const ToolDefinition tool = {toolName, usageHead, usageTail, parseOption, prepare, startOutput, endPage,
                                 finishOutput, pdfMarginHundredths};
    static PdfOutput output;
    return runTool(tool, &output, argc, argv);
}
