// Start-up, the message loop and the main window.
//
// Everything the spooler does happens inside this window's messages, on the
// one UI thread: the timer drives the change poll, which runs print jobs;
// the menu sets the options the jobs read; painting shows either the status
// view or the last page printed. The menu and a file dropped on the window
// start jobs too, exactly as a delivery does.
//
// A job and the Open dialog run message loops of their own, in which timer
// ticks, commands and drops go on arriving. Nothing starts a job inside a
// job. The Open dialog stops only the commands that would start a second
// dialog or a job of their own: the poll goes on printing deliveries. A
// job's boxes wait on threads of their own, so they stop nothing.
#include "app/spooler_app.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

#include "app/about_text.h"
#include "app/resource.h"
#include "app/single_spooler.h"
#include "jobs/print_job.h"
#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

const char* const spoolerClassName = "FQSpoolClass";
HWND mainWindow = nullptr;

namespace {

const int noInstallFolder = -3;  // initApplication's result
const int windowWidth = 340;
const int windowHeight = 440;
const char* const aboutCaption = "About Fernquill Desktop Spooler";
// GetOpenFileNameA's filter: pairs of a name and a pattern, then an empty name.
const char spoolFileFilter[] = "Spool files (*.PDB)\0*.PDB\0All files (*.*)\0*.*\0";

// Set while the Open dialog is up.
bool choosingSpoolFile = false;

// Session changes (winuser.h's WM_WTSSESSION_CHANGE and its codes), spelled
// out here as XP's headers hide them. The functions come from wtsapi32 at
// run time, which the XP program must not import by name.
const UINT sessionChangeMessage = 0x02B1;
const WPARAM consoleConnect = 1;
const WPARAM consoleDisconnect = 2;
const WPARAM remoteConnect = 3;
const WPARAM remoteDisconnect = 4;
const DWORD notifyForThisSession = 0;
HMODULE sessionLibrary = nullptr;

typedef BOOL(WINAPI* SessionNotificationCall)(HWND, DWORD);
typedef BOOL(WINAPI* SessionUnregistrationCall)(HWND);

void registerForSessionChanges(HWND window)
{
    sessionLibrary = LoadLibraryA("wtsapi32.dll");
    if (sessionLibrary == nullptr) {
        return;
    }
    SessionNotificationCall call = reinterpret_cast<SessionNotificationCall>(
        reinterpret_cast<void*>(GetProcAddress(sessionLibrary, "WTSRegisterSessionNotification")));
    if (call != nullptr) {
        call(window, notifyForThisSession);
    }
}

void unregisterForSessionChanges(HWND window)
{
    if (sessionLibrary == nullptr) {
        return;
    }
    SessionUnregistrationCall call = reinterpret_cast<SessionUnregistrationCall>(
        reinterpret_cast<void*>(GetProcAddress(sessionLibrary, "WTSUnRegisterSessionNotification")));
    if (call != nullptr) {
        call(window);
    }
    FreeLibrary(sessionLibrary);
    sessionLibrary = nullptr;
}

// A disconnected session prints nothing; its claims go at once, or once
// the job in progress has ended (the next tick).
void sessionChanged(HWND window, WPARAM change)
{
    if (change == consoleDisconnect || change == remoteDisconnect) {
        setSessionAway(true);
    } else if (change == consoleConnect || change == remoteConnect) {
        setSessionAway(false);
    } else {
        return;
    }
    if (!printJobRunning()) {
        followSession();
    }
    InvalidateRect(window, nullptr, TRUE);
}

bool spoolerBusy()
{
    return choosingSpoolFile || printJobRunning();
}

void paint(HWND window)
{
    PAINTSTRUCT paintInfo;
    HDC dc = BeginPaint(window, &paintInfo);
    DrawSurface* surface = wrapDeviceContext(dc);
    if (surface != nullptr) {
        if (displayMode == displayStatus) {
            paintStatus(surface);
        } else {
            repaintScreenCopy(surface);
        }
        unwrapDeviceContext(surface);
    }
    EndPaint(window, &paintInfo);
}

// Flips an option and makes its menu item's tick match it.
void toggleOption(HWND window, bool* option, UINT item)
{
    *option = !*option;
    CheckMenuItem(GetMenu(window), item, MF_BYCOMMAND | (*option ? MF_CHECKED : MF_UNCHECKED));
}

void showStatusNow(HWND window)
{
    HDC dc = GetDC(window);
    DrawSurface* surface = wrapDeviceContext(dc);
    if (surface != nullptr) {
        paintStatus(surface);
        unwrapDeviceContext(surface);
    }
    ReleaseDC(window, dc);
    displayMode = displayStatus;
}

// The Open dialog, for a spool file to print; false when it is cancelled.
bool chooseSpoolFile(HWND window, char* path, DWORD pathCapacity)
{
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.lpstrFilter = spoolFileFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = pathCapacity;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    path[0] = '\0';
    // The dialog moves the process into each folder it browses, and
    // OFN_NOCHANGEDIR doesn't stop GetOpenFileName from leaving it there: a
    // backup folder that is our current directory can't be deleted or made
    // again. So the directory it had is put back.
    char directory[pathSize];
    DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
    choosingSpoolFile = true;
    BOOL chosen = GetOpenFileNameA(&dialog);
    choosingSpoolFile = false;
    if (length > 0 && length < sizeof(directory)) {
        SetCurrentDirectoryA(directory);
    }
    return chosen != FALSE;
}

void printChosenFile(HWND window)
{
    char path[pathSize];
    if (chooseSpoolFile(window, path, sizeof(path))) {
        runPrintJobShown(path, window);
    }
}

// Each file dropped is a job of its own, one after the other. The drop is
// given back whether or not anything printed.
void printDroppedFiles(HWND window, HDROP drop)
{
    UINT count = spoolerBusy() ? 0 : DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; i++) {
        char path[pathSize];
        UINT length = DragQueryFileA(drop, i, path, sizeof(path));
        if (length > 0 && length < sizeof(path)) {
            runPrintJobShown(path, window);
        }
    }
    DragFinish(drop);
}

void updateMenu(HMENU menu)
{
    EnableMenuItem(menu, IDM_PRINT_LAST_AGAIN, MF_BYCOMMAND | (lastJobKnown() ? MF_ENABLED : MF_GRAYED));
}

void runCommand(HWND window, WORD command)
{
    if ((command == IDM_PRINT_LAST_AGAIN || command == IDM_PRINT_SPOOL_FILE) && spoolerBusy()) {
        return;
    }
    switch (command) {
    case IDM_EXIT:
        PostQuitMessage(0);
        break;
    case IDM_ABOUT:
        MessageBoxA(nullptr, aboutText, aboutCaption, MB_OK);
        break;
    case IDM_SHOW_PRINT_DIALOG:
        toggleOption(window, &spoolerOptions.showPrintDialog, IDM_SHOW_PRINT_DIALOG);
        break;
    case IDM_SCREEN_ONLY:
        toggleOption(window, &spoolerOptions.screenOnly, IDM_SCREEN_ONLY);
        break;
    case IDM_SHOW_STATUS:
        showStatusNow(window);
        break;
    case IDM_PRINT_LAST_AGAIN:
        printLastJobAgain(window);
        break;
    case IDM_PRINT_SPOOL_FILE:
        printChosenFile(window);
        break;
    default:
        break;
    }
}

bool registerWindowClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = 0;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SPOOLER));
    windowClass.hCursor = arrowCursor;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    windowClass.lpszClassName = spoolerClassName;
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_COMMAND:
        runCommand(window, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        // Also while the Open dialog is up: a delivery prints meanwhile.
        pollSpoolChanges(window);
        return 0;
    case WM_INITMENUPOPUP:
        updateMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_DROPFILES:
        printDroppedFiles(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case sessionChangeMessage:
        sessionChanged(window, wParam);
        return 0;
    case WM_SIZE:
    case WM_VSCROLL:
    case WM_LBUTTONDOWN:
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int initApplication(HINSTANCE instance, int showCommand, bool quiet)
{
    loadJobCursors();
    if (!registerWindowClass(instance)) {
        return -1;
    }
    mainWindow = CreateWindowA(spoolerClassName, spoolerTitle, WS_OVERLAPPEDWINDOW | WS_MINIMIZE, CW_USEDEFAULT,
                               CW_USEDEFAULT, windowWidth, windowHeight, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) {
        return -2;
    }
    DragAcceptFiles(mainWindow, TRUE);
    registerForSessionChanges(mainWindow);
    ShowWindow(mainWindow, showCommand);
    ShowWindow(mainWindow, SW_MINIMIZE);
    UpdateWindow(mainWindow);
    if (discoverUsers(mainWindow, quiet) != 0) {
        return noInstallFolder;
    }
    restartReviewCountdown();
    SetTimer(mainWindow, spoolTimerId, spoolTimerPeriod, nullptr);
    HMENU menu = GetMenu(mainWindow);
    CheckMenuItem(menu, IDM_SHOW_PRINT_DIALOG, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(menu, IDM_SCREEN_ONLY, MF_BYCOMMAND | MF_UNCHECKED);
    return 0;
}

bool isLogonStart(const char* commandLine)
{
    const char* start = commandLine != nullptr ? commandLine : "";
    while (*start == ' ' || *start == '\t') {
        start++;
    }
    size_t length = std::strlen(start);
    while (length > 0 && (start[length - 1] == ' ' || start[length - 1] == '\t')) {
        length--;
    }
    // Letter by letter in ASCII: the user's locale must not change what the
    // log-on entry means.
    const char* const logon = "/logon";
    if (length != std::strlen(logon)) {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        char letter = start[i] >= 'A' && start[i] <= 'Z' ? static_cast<char>(start[i] - 'A' + 'a') : start[i];
        if (letter != logon[i]) {
            return false;
        }
    }
    return true;
}

int runSpooler(HINSTANCE instance, int showCommand, const char* commandLine)
{
    // The log-on entry starts the spooler for every account on the machine;
    // one without Palm Desktop, or whose hand-helds haven't synchronised
    // yet, is not to be told so at each log-on.
    bool logonStart = isLogonStart(commandLine);
    // Before anything else, the window class included: a second spooler
    // would print every job again.
    if (claimSpoolerMutex() != 0) {
        return 0;
    }
    int started = initApplication(instance, showCommand, logonStart);
    if (started != 0) {
        releaseSpoolerMutex();
        return started == noInstallFolder && logonStart ? 0 : 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The watches, the window, the timer and the screen copy last for the
    // whole run; give them back before the process goes.
    releaseWatches();
    releaseScreenCopy();
    if (IsWindow(mainWindow)) {
        unregisterForSessionChanges(mainWindow);
        DestroyWindow(mainWindow);
    }
    releaseSpoolerMutex();
    return 0;
}
