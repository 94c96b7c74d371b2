// What spool_to_png and spool_to_pdf share: the command line, the input,
// the walk over the pages, and the ways a run can end.
//
// Both tools play the same printer (--dpi, --paper, --offset), take the same
// input (a spool file, or a zip archive holding one, with --member to pick
// among several) and draw every page as the print job walks them, on a
// software surface of the printer's drawable area: a page that would begin
// on the margins is moved off them as a printer's is, a refused page is drawn
// white and still counts, and records a page consumed as image data are
// passed over. A tool adds only its own options and what it makes of each
// drawn page, through a ToolDefinition; runTool() does the rest.
//
// Exit status: 0 when every page was made (or the file has none), 1 when the
// input can't be read or the output can't be written, 2 for a bad command
// line. Every failure is said in one line on stderr, after "tool: ".
#ifndef FERNQUILL_TOOLS_TOOL_FRONT_END_H
#define FERNQUILL_TOOLS_TOOL_FRONT_END_H

#include <cstddef>

#include "render/draw_surface.h"
#include "spool/spool_stream.h"
#include "tools/sheet_layout.h"

const int exitFailure = 1;
const int exitUsage = 2;

// The longest path a tool makes or takes apart, without its terminator.
const size_t maxToolPathLength = 4095;

// What the command line asked for, besides the tool's own options.
struct ToolInput {
    SheetOptions sheet;
    const char* inputPath;
    const char* memberName;  // --member, or nullptr
};

// One run over the pages, as the tool's output sees it.
struct ToolPages {
    const ToolInput* input;
    SheetLayout sheet;
    DrawSurface* surface;  // the drawable area, holding the page just drawn
    char baseName[maxToolPathLength + 1];  // the input's name without folder and extension
};

// What a tool adds. Every hook takes the tool's own context first.
struct ToolDefinition {
    const char* name;
    const char* usageHead;  // "usage: ..." and what the tool does
    const char* usageTail;  // the lines on the tool's own options
    // Takes argv[*i] if it is one of the tool's options, with its value
    // (moving *i past it). Returns 1 when it was, 0 when it is not the
    // tool's, -1 when it is bad (said with badToolArgument). May be nullptr.
    int (*parseOption)(void* context, int argc, char** argv, int* i);
    // Once the command line is read, before the input is opened: checks the
    // tool's options against the input. Returns 0 or an exit status.
    int (*prepare)(void* context, const ToolInput& input);
    // Before the first page, once the surface is made; not called for a file
    // without pages. Returns 0 or an exit status.
    int (*startOutput)(void* context, ToolPages* pages);
    // After each page is drawn (refused: drawn white). Returns 0 to go on, or
    // anything else to stop with that value.
    int (*pageDrawn)(void* context, ToolPages* pages, int pageNumber, bool refused);
    // After the last page, or once pageDrawn stopped with `stopped`; called
    // whenever startOutput succeeded. Returns the exit status.
    int (*finishOutput)(void* context, ToolPages* pages, int stopped);
    // The margins without --offset, in hundredths of an inch at --dpi, on
    // each edge.
    int defaultMargin;
};

// Runs the tool on the command line; returns its exit status.
int runTool(const ToolDefinition& tool, void* context, int argc, char** argv);

// Reads the command line into *input, the tool's own options through its
// parseOption. Returns 0, 1 for --help, or -1 for a bad argument (said).
int parseToolArguments(const ToolDefinition& tool, void* context, int argc, char** argv, ToolInput* input);

// For a tool's parseOption: the value after the option at argv[*i], moving
// *i onto it; nullptr (and *i left alone) when there is none or it is empty.
const char* toolOptionValue(int argc, char** argv, int* i);

// Says "tool: what: value" (or "tool: what") on stderr; returns -1.
int badToolArgument(const char* tool, const char* what, const char* value);

// Called after each page is drawn on the surface; 0 to go on.
typedef int (*SheetPageDrawn)(void* context, int pageNumber, bool refused);

// Draws every page of the stream on the surface, laid out on the sheet, and
// calls pageDrawn after each. Returns 0, or what pageDrawn stopped with.
int drawSheetPages(SpoolStream* stream, DrawSurface* surface, const SheetLayout& sheet, SheetPageDrawn pageDrawn,
                   void* context);

#endif
