// The print job runner.
//
// The job walks the file's pages (page_walk.h) and makes each page a print
// document of its own, drawn on the printer and then on the main window by
// the job's page code (job_page.h), whose window render decides whether the
// page counts.
//
// While it prints on a printer the job shows a cancel window
// (cancel_window.h) and looks at it before each document starts and before
// each page and document ends. A cancel seen there aborts the document in
// progress (AbortDoc), so the documents that did print are whole, and the
// job ends as any other. A page counts once its document has ended.
//
// The default printer is found with EnumPrintersA at level 5. On NT-family
// Windows, and on Wine, the PRINTER_ENUM_DEFAULT flag succeeds there without
// returning an entry (it is a Windows 95 flag), so when the call names no
// printer we ask GetDefaultPrinterA. Both buffers are sized from what the
// first call says it needs, so a long printer name can't make the default
// printer disappear.
#include "jobs/print_job.h"

#include <commdlg.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "jobs/cancel_window.h"
#include "jobs/job_page.h"
#include "jobs/spool_snapshot.h"
#include "render/gdi_surface.h"
#include "render/page_walk.h"
#include "spool/spool_stream.h"

SpoolerOptions spoolerOptions = {false, false};
SpoolerCounters spoolerCounters = {0, 0};
HCURSOR waitCursor = nullptr;
HCURSOR arrowCursor = nullptr;
const char* const spoolerTitle = "Fernquill PC Print Spooler";

namespace {

// Set from a job's start to its end: one job at a time.
bool jobInProgress = false;
// The spool file of the last job started, for printing it again; "" before
// the first.
char lastJobPath[512] = "";

const char* const noSpoolText = "Cannot open any valid spool files\n";
const char* const noSpoolCaption = "Nothing to spool";
const char* const printErrorCaption = "Print Error";
const char* const documentErrorText = "Error starting print job";
const char* const pageErrorText = "Error starting print driver";

// What a box on a thread of its own shows: texts that live as long as the
// program.
struct AsideMessage {
    const char* text;
    const char* caption;
};

DWORD WINAPI showMessageThread(void* parameter)
{
    AsideMessage* message = static_cast<AsideMessage*>(parameter);
    MessageBoxA(nullptr, message->text, message->caption, MB_OK);
    delete message;
    return 0;
}

// The box waits for the user on a thread of its own, so that the job ends
// at once and the poll, the looks and later jobs go on meanwhile: a box in
// a session nobody sits at may wait for days. Shown here and now if no
// thread can be had.
void showMessage(const char* text, const char* caption)
{
    AsideMessage* message = new (std::nothrow) AsideMessage{text, caption};
    HANDLE thread = message != nullptr ? CreateThread(nullptr, 0, showMessageThread, message, 0, nullptr) : nullptr;
    if (thread == nullptr) {
        delete message;
        MessageBoxA(nullptr, text, caption, MB_OK);
        return;
    }
    CloseHandle(thread);
}

// The default printer's name from the level-5 enumeration, or false when it
// names none.
bool enumeratedDefaultPrinter(char* name, size_t nameSize)
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 5, nullptr, 0, &needed, &returned);
    if (needed == 0) {
        return false;
    }
    BYTE* buffer = static_cast<BYTE*>(std::malloc(needed));
    if (buffer == nullptr) {
        return false;
    }
    bool found = false;
    if (EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 5, buffer, needed, &needed, &returned) && returned > 0) {
        const PRINTER_INFO_5A* info = reinterpret_cast<const PRINTER_INFO_5A*>(buffer);
        if (info->pPrinterName != nullptr) {
            found = std::snprintf(name, nameSize, "%s", info->pPrinterName) < static_cast<int>(nameSize);
        }
    }
    std::free(buffer);
    return found;
}

// A surface on the printer the user picks in the print dialog, set up afresh
// for every job; nullptr with *cancelled set when the dialog is cancelled or
// fails.
DrawSurface* choosePrinter(HWND window, bool* cancelled)
{
    PRINTDLGA dialog;
    ZeroMemory(&dialog, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.nCopies = 1;
    dialog.Flags = PD_RETURNDC | PD_COLLATE;
    BOOL chosen = PrintDlgA(&dialog);
    // The dialog allocates these for us whatever the outcome; we use only
    // the context.
    if (dialog.hDevMode != nullptr) {
        GlobalFree(dialog.hDevMode);
    }
    if (dialog.hDevNames != nullptr) {
        GlobalFree(dialog.hDevNames);
    }
    if (!chosen || dialog.hDC == nullptr) {
        if (dialog.hDC != nullptr) {
            DeleteDC(dialog.hDC);
        }
        *cancelled = true;
        return nullptr;
    }
    *cancelled = false;
    return adoptPrinterDeviceContext(dialog.hDC);
}

void setJobTitle(HWND window, int imageNumber)
{
    char title[64];
    std::snprintf(title, sizeof(title), "Printing image %d...", imageNumber);
    SetWindowTextA(window, title);
}

// What the job's page visitor needs besides the stream.
struct PrintRun {
    bool printing;  // not only shown: each page must start a document
    JobSurfaces surfaces;
    HWND window;
    int imageNumber;      // the title's number: the pages shown so far, plus one
    const char* failure;  // the print error to tell once the file is closed
    bool started;         // a document has started on the printer
};

// Starts the page's document and its page. Returns -1 to end the job: when
// the user cancelled between two pages, or when the printer refused, with
// run->failure saying which refusal.
int startDocumentAndPage(PrintRun* run)
{
    DrawSurface* printer = run->surfaces.printer;
    if (cancelPressed()) {
        return -1;
    }
    // Set for every document, as a driver may forget it when one ends.
    setPrintAbortProcedure(printer, keepCancelWindowAnswering);
    if (startPrintDocument(printer) != 0) {
        run->failure = documentErrorText;
        return -1;
    }
    run->started = true;
    if (startPrintPage(printer) != 0) {
        run->failure = pageErrorText;
        endPrintDocument(printer);
        return -1;
    }
    // Asked of the page just started, as drivers may set the device up anew
    // for each page.
    run->surfaces.onPrinter = printerPagePlacement(printer);
    return 0;
}

// Ends the page and its document. A cancel pressed while the page was drawn
// or spooled aborts the document instead, so that no part of it prints, and
// returns -1 to end the job.
int finishDocument(DrawSurface* printer)
{
    if (!cancelPressed()) {
        endPrintPage(printer);
        if (!cancelPressed()) {
            endPrintDocument(printer);
            return 0;
        }
    }
    abortPrintDocument(printer);
    return -1;
}

// Prints and shows one page, each page a print document of its own; a page
// counts once its document is complete.
int printPage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    PrintRun* run = static_cast<PrintRun*>(context);
    if (run->printing && startDocumentAndPage(run) != 0) {
        return -1;
    }
    setJobTitle(run->window, run->imageNumber);
    showCancelWindowPage(run->imageNumber);
    int shown = renderJobPage(run->surfaces, stream, page).shown;
    if (run->printing && finishDocument(run->surfaces.printer) != 0) {
        return -1;
    }
    if (shown == 0) {
        run->imageNumber++;
        spoolerCounters.pagesProcessed++;
    }
    return 0;
}

// Prints and shows every page of the open stream. Without a printer (there
// is no default printer) a printing job's first page says it can't start.
// Returns the print error to tell the user, or nullptr; *notStarted tells
// whether it is that the first document could not start.
const char* printPages(SpoolStream* stream, DrawSurface* printer, DrawSurface* windowSurface, HWND window,
                       bool* notStarted)
{
    spoolerCounters.jobsProcessed++;
    PrintRun run = {!spoolerOptions.screenOnly, {nullptr, {}, windowSurface, windowPagePlacement(windowSurface)},
                    window, 1, nullptr, false};
    if (run.printing) {
        run.surfaces.printer = printer;
    }
    walkPages(stream, printPage, &run, nullptr);
    *notStarted = run.failure == documentErrorText && !run.started;
    return run.failure;
}

// Opens the spool file, prints its pages and closes it again. Returns the
// text of the box to show then, with its caption in *caption, or nullptr.
// Without a surface on the window nothing could be shown or counted: the job
// then ends as one with nothing to spool.
const char* printSpoolFile(const char* spoolPath, DrawSurface* printer, DrawSurface* windowSurface, HWND window,
                           const char** caption, bool* notStarted)
{
    if (windowSurface == nullptr || spoolPath == nullptr || spoolPath[0] == '\0') {
        return nullptr;
    }
    SpoolStream* stream = openSpoolSnapshot(spoolPath);
    if (stream == nullptr) {
        *caption = noSpoolCaption;
        return noSpoolText;
    }
    const char* failure = printPages(stream, printer, windowSurface, window, notStarted);
    closeSpoolStream(stream);
    return failure;
}

// How a delivery's job runs: whether a job that can't start is told to the
// user (its first try) and counted.
struct Delivery {
    bool delivered;  // from the poll: a job that can't start will be tried again
    bool retry;      // a later try: the user was told at the first
};

// The job itself, once it is known to be the only one. Returns 0, -1 when
// the print dialog was cancelled, or printJobNotStarted.
int runJob(const char* spoolPath, HWND window, Delivery delivery)
{
    HDC windowContext = GetDC(window);
    DrawSurface* windowSurface = wrapDeviceContext(windowContext);
    SetWindowTextA(window, "Printing...");

    DrawSurface* printer = nullptr;
    if (!spoolerOptions.screenOnly) {
        if (spoolerOptions.showPrintDialog) {
            bool cancelled = false;
            printer = choosePrinter(window, &cancelled);
            if (cancelled) {
                unwrapDeviceContext(windowSurface);
                ReleaseDC(window, windowContext);
                SetWindowTextA(window, spoolerTitle);
                return -1;
            }
        } else {
            printer = openDefaultPrinter();
        }
    }

    // A job may run while the Open dialog holds the window disabled; it
    // leaves it as it found it.
    bool wasEnabled = IsWindowEnabled(window) != FALSE;
    SetCursor(waitCursor);
    EnableWindow(window, FALSE);
    if (printer != nullptr) {
        openCancelWindow(window);
    }

    // A box waits for the user only once the file is closed, so that HotSync
    // can replace the file meanwhile.
    const char* failureCaption = printErrorCaption;
    bool notStarted = false;
    const char* failure = printSpoolFile(spoolPath, printer, windowSurface, window, &failureCaption, &notStarted);
    // A delivery that couldn't start is tried again, and counted once it
    // prints.
    notStarted = notStarted && delivery.delivered;
    if (notStarted) {
        spoolerCounters.jobsProcessed--;
    }
    if (failure != nullptr && !(notStarted && delivery.retry)) {
        closeCancelWindow();
        showMessage(failure, failureCaption);
    }

    unwrapDeviceContext(windowSurface);
    ReleaseDC(window, windowContext);
    destroyPrinterSurface(printer);
    EnableWindow(window, wasEnabled ? TRUE : FALSE);
    // Once the window is enabled again, so that it gets the activation back
    // from the cancel window rather than another program.
    closeCancelWindow();
    SetCursor(arrowCursor);
    SetWindowTextA(window, spoolerTitle);
    return notStarted ? printJobNotStarted : 0;
}

void rememberJob(const char* spoolPath)
{
    if (spoolPath != nullptr && spoolPath[0] != '\0' && spoolPath != lastJobPath) {
        std::snprintf(lastJobPath, sizeof(lastJobPath), "%s", spoolPath);
    }
}

}  // namespace

void loadJobCursors()
{
    waitCursor = LoadCursor(nullptr, IDC_WAIT);
    arrowCursor = LoadCursor(nullptr, IDC_ARROW);
}

DrawSurface* openDefaultPrinter()
{
    char name[512];
    if (enumeratedDefaultPrinter(name, sizeof(name))) {
        return createPrinterSurface(name);
    }
    DWORD size = 0;
    GetDefaultPrinterA(nullptr, &size);
    if (size == 0) {
        return nullptr;
    }
    char* defaultName = static_cast<char*>(std::malloc(size));
    if (defaultName == nullptr) {
        return nullptr;
    }
    DrawSurface* printer = nullptr;
    if (GetDefaultPrinterA(defaultName, &size)) {
        printer = createPrinterSurface(defaultName);
    }
    std::free(defaultName);
    return printer;
}

namespace {

int runGuardedJob(const char* spoolPath, HWND window, Delivery delivery)
{
    if (jobInProgress) {
        return -2;
    }
    jobInProgress = true;
    rememberJob(spoolPath);
    int result = runJob(spoolPath, window, delivery);
    jobInProgress = false;
    return result;
}

int runShownJob(const char* spoolPath, HWND window, Delivery delivery)
{
    if (jobInProgress) {
        return -2;
    }
    bool wasMinimized = IsIconic(window) != FALSE;
    ShowWindow(window, SW_SHOWNORMAL);
    int result = runGuardedJob(spoolPath, window, delivery);
    if (wasMinimized) {
        ShowWindow(window, SW_MINIMIZE);
    }
    return result;
}

}  // namespace

int runPrintJob(const char* spoolPath, HWND window)
{
    return runGuardedJob(spoolPath, window, {false, false});
}

int runPrintJobShown(const char* spoolPath, HWND window)
{
    return runShownJob(spoolPath, window, {false, false});
}

int runDeliveredPrintJob(const char* spoolPath, HWND window, bool retry)
{
    return runShownJob(spoolPath, window, {true, retry});
}

int printLastJobAgain(HWND window)
{
    if (lastJobPath[0] == '\0') {
        return -2;
    }
    return runPrintJobShown(lastJobPath, window);
}

bool printJobRunning()
{
    return jobInProgress;
}

bool lastJobKnown()
{
    return lastJobPath[0] != '\0';
}
