// Test support under Wine: dialogs, paths, files, the Palm Desktop
// registry values, windows and programs of the test's own, and what the
// test printer printed.
//
// DialogWatcher reads and answers the dialogs and message boxes that the
// code under test shows: code in the test's own process, which blocks the
// test's thread meanwhile, or a program the test started. A watcher thread
// looks every few milliseconds for a visible dialog (window class "#32770")
// of the watched process, records its caption and message text (the static
// control 0xFFFF, where a message box keeps it), and answers it with the
// button the test chose. The code under test then goes on from its nested
// message loop.
#ifndef FERNQUILL_TESTS_WIN_TEST_SUPPORT_H
#define FERNQUILL_TESTS_WIN_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenDialog {
    std::string caption;
    std::string text;  // empty for a dialog that is not a message box
};

class DialogWatcher {
public:
    // answer: the command sent to every dialog seen, IDOK or IDCANCEL, once
    // the dialog has been up for delayMs. processId: the process whose
    // dialogs are watched; 0 for this one.
    explicit DialogWatcher(int answer = IDOK, int delayMs = 0, DWORD processId = 0);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    void setAnswer(int answer) { answer_ = answer; }
    std::vector<SeenDialog> seen();

    // Waits, at most timeoutMs, until count dialogs have been seen and every
    // dialog seen is gone again. For another process's dialogs, whose
    // answer arrives while the test goes on.
    bool waitUntilAnswered(size_t count, int timeoutMs);

private:
    void watch();
    void answer(HWND dialog);

    std::atomic<int> answer_;
    int delayMs_;
    DWORD processId_;
    std::atomic<bool> stopping_;
    std::mutex mutex_;
    std::vector<SeenDialog> seen_;
    std::vector<HWND> answered_;
    std::vector<DWORD> firstSeen_;  // GetTickCount() when each was first seen
    std::thread thread_;
};

// Converts a Unix path to the path Windows programs see under Wine (drive
// Z:); a path that is not absolute Unix is returned as it is.
std::string windowsPathOf(const std::string& unixPath);

// Writes bytes to path in one go: one CreateFile, one WriteFile, one
// CloseHandle, with no sharing meanwhile, as HotSync writes a backup file.
// A change watch on the folder fires. Returns whether all bytes were written.
bool writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

// Removes a folder and everything in it.
void removeFolderTree(const std::string& path);

// Deletes a folder and makes it again, empty, from the Unix side, as a
// restore does on Windows. A Win32 delete under Wine is put off while any
// process has the folder open (a change watch does), so it would never
// happen. The new folder is made before the old one goes, so it can't get
// the old one's file index back. Returns whether it was done.
bool remakeFolder(const std::string& folder);

// A drive letter, "P:" or after, whose root is folder, as subst makes one
// (under Wine, a link in the prefix's dosdevices folder); "" if none could
// be made. unmapDriveLetter() takes it away again.
std::string mapDriveLetter(const std::string& folder);
void unmapDriveLetter(const std::string& drive);

// Points the first registry location of the Palm Desktop install folder at
// folder; removeRegistryValues() takes both locations away again.
void setInstallFolder(const std::string& folder);
void removeRegistryValues();

// A window of the test's own, the size the program's main window starts
// at, whose messages go to windowProc; the class is registered the first
// time it is asked for.
HWND createTestWindow(const char* className, WNDPROC windowProc, const char* title);

// Takes a string value out of a key of HKEY_CURRENT_USER for as long as it
// lives and puts it back after: the way a test runs without a setting that
// Wine keeps in the registry.
class RegistryValueSetAside {
public:
    RegistryValueSetAside(const char* key, const char* name);
    ~RegistryValueSetAside();
    RegistryValueSetAside(const RegistryValueSetAside&) = delete;
    RegistryValueSetAside& operator=(const RegistryValueSetAside&) = delete;

    // Whether the value was there and is gone now.
    bool removed() const { return removed_; }

private:
    std::string key_;
    std::string name_;
    char value_[512] = "";
    bool removed_ = false;
};

// CreateProcessA with no window title, environment or folder of its own,
// tried up to three times: under load Wine now and then fails to create a
// process at all. Only a start that failed is tried again, so a program that
// ran keeps its result. startup may be null for a default one.
bool startProcess(std::string commandLine, DWORD flags, bool inheritHandles, STARTUPINFOA* startup,
                  PROCESS_INFORMATION* process);

// Starts a command line (startProcess) and waits, at most timeoutMs, for it
// to end; one still running then is ended. With startup, it inherits the
// standard handles startup names. Whether it ended in time, with its exit
// code in *exitCode.
bool runProcess(const std::string& commandLine, int timeoutMs, STARTUPINFOA* startup, DWORD* exitCode);

// Runs a command line under the Unix shell (Wine starts Unix programs too)
// and waits, at most timeoutMs, for the Unix file `result` to exist: Wine
// reports no reliable exit code for a Unix process, so the command signals
// success by renaming its output into place. Returns whether it appeared.
bool runUnixCommand(const std::string& shellCommand, const std::string& result, int timeoutMs);

// The test printer writes each print document as a PDF into the Unix folder
// named by PRINT_OUT_DIR, with names that sort in printing order.
std::string printOutputFolder();
std::vector<std::string> printedFiles();          // Unix paths, in order
void clearPrintedFiles();
bool waitForPrintedFiles(size_t count, int timeoutMs);

// Waits, at most timeoutMs, for a visible dialog or message box captioned
// `caption` (any caption when nullptr); it, or nullptr after the wait.
HWND waitForDialog(const char* caption, int timeoutMs);

// A page as pdftoppm renders it in black and white.
struct PrintedPage {
    int width;
    int height;
    std::vector<unsigned char> rows;  // (width + 7) / 8 bytes a row, set bit black

    bool isBlack(int x, int y) const;
    // The share of black pixels in [x0, x1) x [y0, y1), 0 to 1.
    double blackShare(int x0, int y0, int x1, int y1) const;
};

// The text of a printed PDF (pdftotext), or "" if it can't be read.
std::string printedText(const std::string& pdf);

// The first page of a printed PDF at dpi pixels per inch (pdftoppm -mono);
// width 0 if it can't be read.
PrintedPage printedPage(const std::string& pdf, int dpi);

// The test printer beside the default one that prints at 600 dpi
// (scripts/lib.sh installTestPrinter with "600dpi"); the default prints at 300.
extern const char highResolutionPrinter[];

// A word of a printed PDF as pdftotext -bbox places it: its box in points
// from the top left of the paper.
struct PrintedWord {
    std::string text;
    double xMin;
    double yMin;
    double xMax;
    double yMax;

    double width() const { return xMax - xMin; }
    double height() const { return yMax - yMin; }
};

// The words of a printed PDF, in reading order; empty if it can't be read.
std::vector<PrintedWord> printedWords(const std::string& pdf);

#endif
