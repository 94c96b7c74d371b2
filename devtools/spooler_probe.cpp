// spooler_probe: looks at and drives a running Fernquill spooler from
// outside, for scripts/run's demonstration. It finds the spooler's main
// window by its class, "FQSpoolClass", in the Wine prefix (or Windows
// session) it runs in, and does one thing with it.
//
// "deliver" plays HotSync: it writes the spool file in place, in one go,
// with no sharing, so the folder's change watch fires and the spooler's
// exclusive open waits for the write to end. It then follows the job
// through the window's title: the title leaves "Fernquill PC Print
// Spooler" when the next tick starts the job, counts "Printing image N..."
// up page by page, and comes back when the job ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char usageText[] =
    "usage: spooler_probe COMMAND [ARGUMENTS]\n"
    "\n"
    "  wait SECONDS                 wait until the spooler's window is up and start-up is done\n"
    "  title                        print the window's title\n"
    "  show                         open the window and bring it to the front\n"
    "  rect                         print the window's place on the screen, as WxH+X+Y\n"
    "  command ID                   post menu command ID (40006 Show Status, 40001 Exit)\n"
    "  deliver FILE FOLDER SECONDS  write FILE as FOLDER\\Fernquill_Spool_File.PDB, as HotSync\n"
    "                               does, and wait for the spooler to print it; prints the\n"
    "                               number of pages\n"
    "  quit SECONDS                 choose Exit and wait for the spooler to end; exits with\n"
    "                               the spooler's exit code\n"
    "\n"
    "Exits 0 when done, 1 when there is no spooler window or the wait runs out, 2 on bad usage.\n";

const int exitFailure = 1;
const int exitUsage = 2;
const char spoolerClass[] = "FQSpoolClass";
const char idleTitle[] = "Fernquill PC Print Spooler";
const char spoolFileName[] = "Fernquill_Spool_File.PDB";
const WPARAM exitCommand = 40001;
const int pollMs = 5;

HWND findSpoolerWindow()
{
    return FindWindowA(spoolerClass, nullptr);
}

// The window, or nullptr after saying there is none.
HWND requireSpoolerWindow()
{
    HWND window = findSpoolerWindow();
    if (window == nullptr) {
        std::fprintf(stderr, "spooler_probe: no spooler window\n");
    }
    return window;
}

// The process that owns the window, opened for waiting on; nullptr if it
// can't be opened.
HANDLE openSpoolerProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
}

// A whole number of seconds from the command line, as milliseconds; -1 if
// the text is not one.
int secondsArgument(const char* text)
{
    char* end = nullptr;
    long seconds = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || seconds < 0 || seconds > 3600) {
        return -1;
    }
    return static_cast<int>(seconds) * 1000;
}

void readTitle(HWND window, char* title, int size)
{
    title[0] = '\0';
    GetWindowTextA(window, title, size);
}

// Waits for the window to appear and for the spooler to reach its message
// loop: start-up has then found the users and noted the spool files already
// there, so a file written afterwards counts as new.
int waitForSpooler(int timeoutMs)
{
    HWND window = nullptr;
    for (int waited = 0; (window = findSpoolerWindow()) == nullptr; waited += 50) {
        if (waited >= timeoutMs) {
            std::fprintf(stderr, "spooler_probe: no spooler window after %d s\n", timeoutMs / 1000);
            return exitFailure;
        }
        Sleep(50);
    }
    HANDLE process = openSpoolerProcess(window);
    if (process == nullptr) {
        return exitFailure;
    }
    DWORD idle = WaitForInputIdle(process, static_cast<DWORD>(timeoutMs));
    CloseHandle(process);
    return idle == 0 ? 0 : exitFailure;
}

int printTitle()
{
    HWND window = requireSpoolerWindow();
    if (window == nullptr) {
        return exitFailure;
    }
    char title[256];
    readTitle(window, title, sizeof(title));
    std::printf("%s\n", title);
    return 0;
}

// Opens the window as a click on its taskbar button would, and gives the
// spooler time to paint it before anyone looks (a screenshot): ShowWindow
// returns once the window is open, but its WM_PAINT comes after.
int showWindow()
{
    HWND window = requireSpoolerWindow();
    if (window == nullptr) {
        return exitFailure;
    }
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    DWORD_PTR ignored = 0;
    for (int i = 0; i < 10; i++) {
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        Sleep(50);
    }
    return IsIconic(window) ? exitFailure : 0;
}

int printRectangle()
{
    HWND window = requireSpoolerWindow();
    RECT place;
    if (window == nullptr || !GetWindowRect(window, &place)) {
        return exitFailure;
    }
    std::printf("%ldx%ld+%ld+%ld\n", place.right - place.left, place.bottom - place.top, place.left, place.top);
    return 0;
}

int postCommand(const char* idText)
{
    char* end = nullptr;
    long id = std::strtol(idText, &end, 10);
    if (end == idText || *end != '\0' || id <= 0 || id > 0xFFFF) {
        std::fputs(usageText, stderr);
        return exitUsage;
    }
    HWND window = requireSpoolerWindow();
    if (window == nullptr || !PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(id), 0)) {
        return exitFailure;
    }
    return 0;
}

// Reads a whole file into a new buffer; nullptr if it can't.
unsigned char* readWholeFile(const char* path, DWORD* size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    DWORD length = GetFileSize(file, nullptr);
    unsigned char* bytes = length != INVALID_FILE_SIZE ? static_cast<unsigned char*>(std::malloc(length + 1)) : nullptr;
    DWORD got = 0;
    if (bytes != nullptr && (!ReadFile(file, bytes, length, &got, nullptr) || got != length)) {
        std::free(bytes);
        bytes = nullptr;
    }
    CloseHandle(file);
    *size = length;
    return bytes;
}

bool writeInPlace(const char* path, const unsigned char* bytes, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
    BOOL closed = CloseHandle(file);
    return ok && closed && written == size;
}

// Follows one job through the window's title; returns the highest page
// number the title showed, or -1 if the job did not start and end in time.
int followJob(HWND window, int timeoutMs)
{
    char title[256];
    bool started = false;
    int pages = 0;
    for (int waited = 0; waited < timeoutMs; waited += pollMs) {
        readTitle(window, title, sizeof(title));
        bool idle = std::strcmp(title, idleTitle) == 0;
        int page = 0;
        if (std::sscanf(title, "Printing image %d...", &page) == 1 && page > pages) {
            pages = page;
        }
        if (!idle) {
            started = true;
        } else if (started) {
            return pages;
        }
        Sleep(pollMs);
    }
    return -1;
}

int deliver(const char* source, const char* folder, int timeoutMs)
{
    HWND window = requireSpoolerWindow();
    if (window == nullptr) {
        return exitFailure;
    }
    char target[MAX_PATH];
    int length = std::snprintf(target, sizeof(target), "%s\\%s", folder, spoolFileName);
    if (length < 0 || length >= static_cast<int>(sizeof(target))) {
        std::fprintf(stderr, "spooler_probe: folder name too long\n");
        return exitFailure;
    }
    DWORD size = 0;
    unsigned char* bytes = readWholeFile(source, &size);
    if (bytes == nullptr) {
        std::fprintf(stderr, "spooler_probe: can't read %s\n", source);
        return exitFailure;
    }
    bool written = writeInPlace(target, bytes, size);
    std::free(bytes);
    if (!written) {
        std::fprintf(stderr, "spooler_probe: can't write %s\n", target);
        return exitFailure;
    }
    int pages = followJob(window, timeoutMs);
    if (pages < 0) {
        std::fprintf(stderr, "spooler_probe: the spooler did not print %s within %d s\n", source, timeoutMs / 1000);
        return exitFailure;
    }
    std::printf("%d\n", pages);
    return 0;
}

int quit(int timeoutMs)
{
    HWND window = requireSpoolerWindow();
    if (window == nullptr) {
        return exitFailure;
    }
    HANDLE process = openSpoolerProcess(window);
    if (process == nullptr) {
        return exitFailure;
    }
    DWORD exitCode = exitFailure;
    if (!PostMessageA(window, WM_COMMAND, exitCommand, 0) ||
        WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &exitCode)) {
        std::fprintf(stderr, "spooler_probe: the spooler did not end within %d s\n", timeoutMs / 1000);
        exitCode = exitFailure;
    }
    CloseHandle(process);
    return static_cast<int>(exitCode);
}

bool isCommand(int argc, char** argv, const char* name, int arguments)
{
    return argc == 2 + arguments && std::strcmp(argv[1], name) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (isCommand(argc, argv, "title", 0)) {
        return printTitle();
    }
    if (isCommand(argc, argv, "show", 0)) {
        return showWindow();
    }
    if (isCommand(argc, argv, "rect", 0)) {
        return printRectangle();
    }
    if (isCommand(argc, argv, "command", 1)) {
        return postCommand(argv[2]);
    }
    int timeoutMs = argc > 2 ? secondsArgument(argv[argc - 1]) : -1;
    if (timeoutMs >= 0 && isCommand(argc, argv, "wait", 1)) {
        return waitForSpooler(timeoutMs);
    }
    if (timeoutMs >= 0 && isCommand(argc, argv, "deliver", 3)) {
        return deliver(argv[2], argv[3], timeoutMs);
    }
    if (timeoutMs >= 0 && isCommand(argc, argv, "quit", 1)) {
        return quit(timeoutMs);
    }
    std::fputs(usageText, stderr);
    return exitUsage;
}
