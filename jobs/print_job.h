// Print jobs: every page of one spool file printed on the PC's printer, one
// print document per page, and shown in the main window; or only shown.
//
// A job runs to its end inside one message of the main window. Its message
// boxes and the print dialog run nested message loops, so the caller must
// not start a second job from a message that arrives meanwhile: ask
// printJobRunning() first. A job refuses to start inside another (-2).
#ifndef FERNQUILL_JOBS_PRINT_JOB_H
#define FERNQUILL_JOBS_PRINT_JOB_H

#include <windows.h>

#include "render/draw_surface.h"

// The two menu options, both off at start; kept in memory only.
struct SpoolerOptions {
    bool showPrintDialog;
    bool screenOnly;
};

// Shown in the status view; zero at start and never reset.
struct SpoolerCounters {
    int jobsProcessed;
    int pagesProcessed;
};

// Process-wide: the menu sets the options, the job reads them; the job counts.
extern SpoolerOptions spoolerOptions;
extern SpoolerCounters spoolerCounters;

// The cursors a job switches between, loaded once by loadJobCursors() before
// the first job.
extern HCURSOR waitCursor;
extern HCURSOR arrowCursor;
void loadJobCursors();

// The texts the job shows.
extern const char* const spoolerTitle;  // "Fernquill PC Print Spooler"

// Prints (or shows) every page of the spool file at spoolPath, with window
// as the main window. Returns 0 when the job ran, even if nothing printed or
// the user cancelled it while it printed, -1 when the user cancelled the
// print dialog (nothing printed, nothing counted, the title as it was), and
// -2 with nothing done while another job runs. The file is remembered for
// printLastJobAgain().
int runPrintJob(const char* spoolPath, HWND window);

// runPrintJob() as a delivery runs it: the window is brought up from its
// minimized state for the job, and minimized again after.
int runPrintJobShown(const char* spoolPath, HWND window);

// A delivered job that could not start: the printer could not be opened or
// its first document could not be started. Nothing printed and nothing was
// counted; the poll tries it again.
const int printJobNotStarted = -3;

// runPrintJobShown() for a job the poll found delivered. A job that can't
// start returns printJobNotStarted, is not counted, and tells the user so
// only on its first try (retry false).
int runDeliveredPrintJob(const char* spoolPath, HWND window, bool retry);

// Runs the last job's spool file again, as it is now, with the current
// options (runPrintJobShown). -2 with nothing done before the first job.
int printLastJobAgain(HWND window);

// Whether a job is running: from runPrintJob()'s start to its end.
bool printJobRunning();

// Whether a job has run, so that printLastJobAgain() has a file to print.
bool lastJobKnown();

// A printer surface for the system's default printer, or nullptr when there
// is none. Release it with destroyPrinterSurface().
DrawSurface* openDefaultPrinter();

#endif
