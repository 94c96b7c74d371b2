// The print job runner.
//
// For each page the job renders twice from the same stream position: first
// on the printer, then on the main window (which keeps the screen copy). The
// window's render decides where the next page starts and whether the page
// counts, so the printer and the window always see the same bytes and the
// counters follow what the user saw.
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

#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "spool/spool_stream.h"

SpoolerOptions spoolerOptions = {false, false};
SpoolerCounters spoolerCounters = {0, 0};
HCURSOR waitCursor = nullptr;
HCURSOR arrowCursor = nullptr;
const char* const spoolerTitle = "Fernquill PC Print Spooler";

namespace {

const char* const noSpoolText = "Cannot open any valid spool files\n";
const char* const noSpoolCaption = "Nothing to spool";
const char* const printErrorCaption = "Print Error";
const char* const documentErrorText = "Error starting print job";
const char* const pageErrorText = "Error starting print driver";

void showMessage(const char* text, const char* caption)
{
    MessageBoxA(nullptr, text, caption, MB_OK);
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

PagePlacement printerPlacement(DrawSurface* printer)
{
    PagePlacement placement;
    int offsetX = 0;
    int offsetY = 0;
    surfacePhysicalOffset(printer, &offsetX, &offsetY);
    placement.originX = -offsetX;
    placement.originY = -offsetY;
    surfaceDpi(printer, &placement.dpiX, &placement.dpiY);
    surfaceArea(printer, &placement.areaWidth, &placement.areaHeight);
    return placement;
}

// The window's surface reports the whole screen as its area, which also
// sizes the screen copy.
PagePlacement windowPlacement(DrawSurface* windowSurface)
{
    PagePlacement placement;
    placement.originX = 0;
    placement.originY = 0;
    surfaceDpi(windowSurface, &placement.dpiX, &placement.dpiY);
    surfaceArea(windowSurface, &placement.areaWidth, &placement.areaHeight);
    return placement;
}

// Prints and shows every page of the open stream.
void printPages(SpoolStream* stream, DrawSurface* printer, DrawSurface* windowSurface, HWND window)
{
    const bool printing = !spoolerOptions.screenOnly;
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    seekTo(stream, 0);
    spoolerCounters.jobsProcessed++;
    int imageNumber = 1;

    for (int page = 0; page < count;) {
        if (printing) {
            if (startPrintDocument(printer) != 0) {
                showMessage(documentErrorText, printErrorCaption);
                return;
            }
            if (startPrintPage(printer) != 0) {
                showMessage(pageErrorText, printErrorCaption);
                endPrintDocument(printer);
                return;
            }
        }
        PagePlacement onWindow = windowPlacement(windowSurface);
        setJobTitle(window, imageNumber);
        int64_t pageStart = tell(stream);
        if (printing) {
            renderPage(printer, printerPlacement(printer), stream, page, count, false);
            seekTo(stream, pageStart);
        }
        if (renderPage(windowSurface, onWindow, stream, page, count, true) == 0) {
            imageNumber++;
            spoolerCounters.pagesProcessed++;
        }
        if (printing) {
            endPrintPage(printer);
        }
        int nextPage = nextPageRecord(stream, page, count);
        if (printing) {
            endPrintDocument(printer);
        }
        page = nextPage;
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

int runPrintJob(const char* spoolPath, HWND window)
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

    SetCursor(waitCursor);
    EnableWindow(window, FALSE);

    // Without a surface on the window nothing could be shown or counted: the
    // job then ends as one with nothing to spool.
    if (windowSurface != nullptr && spoolPath != nullptr && spoolPath[0] != '\0') {
        SpoolStream* stream = openSpoolStream(spoolPath);
        if (stream == nullptr) {
            showMessage(noSpoolText, noSpoolCaption);
        } else {
            printPages(stream, printer, windowSurface, window);
            closeSpoolStream(stream);
        }
    }

    unwrapDeviceContext(windowSurface);
    ReleaseDC(window, windowContext);
    destroyPrinterSurface(printer);
    EnableWindow(window, TRUE);
    SetCursor(arrowCursor);
    SetWindowTextA(window, spoolerTitle);
    return 0;
}
