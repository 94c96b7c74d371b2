// The main window in-process under Wine: start-up, the menu commands and the
// status view's layout. The program's resources are linked into this test,
// so the window gets the real menu.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/resource.h"
#include "app/spooler_app.h"
#include "jobs/print_job.h"
#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "tests/memory_surface.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const int printTimeoutMs = 60000;

bool isChecked(HWND window, UINT item)
{
    return (GetMenuState(GetMenu(window), item, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// Whether an item is greyed once the File menu opens, as it is when the
// user opens it.
bool isGreyedWhenOpened(HWND window, UINT item)
{
    HMENU file = GetSubMenu(GetMenu(window), 0);
    SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), 0);
    return (GetMenuState(file, item, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

Bytes pagesOf(int pages, const std::string& word)
{
    SpoolDatabase database;
    for (int i = 1; i <= pages; i++) {
        database.records.push_back(textRecord(word + " " + std::to_string(i) + "\n"));
    }
    return buildSpoolFile(database);
}

// A file dropped on the window, as the shell hands it over: a DROPFILES
// block with the path, ANSI, ending in two zeros. The window frees it.
void dropOnWindow(HWND window, const std::string& path)
{
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    DROPFILES* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), path.c_str(), path.size());
    GlobalUnlock(drop);
    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
}

// The file types the Open dialog last offered, in its type box (cmb1).
std::vector<std::string> offeredFileTypes;

std::vector<std::string> comboItems(HWND combo)
{
    std::vector<std::string> items;
    LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 10; i++) {
        char item[256] = "";
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        items.push_back(item);
    }
    return items;
}

// The file chosen in the Open dialog: a user types its name and presses OK.
void chooseInOpenDialog(HWND window, const std::string& path)
{
    offeredFileTypes.clear();
    std::thread user([&] {
        HWND dialog = waitForDialog(nullptr, printTimeoutMs);
        offeredFileTypes = comboItems(GetDlgItem(dialog, cmb1));
        // The file name box: a combo box in Windows' dialog, an edit box in Wine's.
        HWND name = GetDlgItem(dialog, cmb13);
        SetWindowTextA(name != nullptr ? name : GetDlgItem(dialog, edt1), path.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
    SendMessageA(window, WM_COMMAND, IDM_PRINT_SPOOL_FILE, 0);
    user.join();
}

// The colours of a memory surface of the window's client size.
std::vector<COLORREF> pixelsOf(const MemorySurface& canvas, int width, int height)
{
    std::vector<COLORREF> all;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            all.push_back(GetPixel(canvas.dc, x, y));
        }
    }
    return all;
}

// One line of text in the status view, where paintStatus should draw it.
struct StatusLine {
    int x;
    int y;
    const char* text;
};

// The status view drawn line by line with plain GDI, to hold against
// paintStatus's.
template <size_t count>
std::vector<COLORREF> statusPixels(const StatusLine (&lines)[count], int width, int height)
{
    MemorySurface expected(width, height);
    for (const StatusLine& line : lines) {
        TextOutA(expected.dc, line.x, line.y, line.text, lstrlenA(line.text));
    }
    return pixelsOf(expected, width, height);
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder = uniqueTempPath();
        CreateDirectoryA(folder.c_str(), nullptr);
        CreateDirectoryA((folder + "\\Alice").c_str(), nullptr);
        CreateDirectoryA((folder + "\\Alice\\backup").c_str(), nullptr);
        setInstallFolder(folder);
        spoolerOptions = {false, false};
        spoolerCounters = {0, 0};
        displayMode = displayStatus;
    }

    void TearDown() override
    {
        if (mainWindow != nullptr) {
            DestroyWindow(mainWindow);
            mainWindow = nullptr;
        }
        // Each test starts the program afresh, class registration included;
        // the quit message that closing the window posts must not reach the
        // next test's message boxes.
        UnregisterClassA(spoolerClassName, GetModuleHandleA(nullptr));
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        releaseWatches();
        releaseScreenCopy();
        removeRegistryValues();
        DeleteFileA((folder + "\\Alice\\backup\\" + spoolFileName).c_str());
        clearPrintedFiles();
        RemoveDirectoryA((folder + "\\Alice\\backup").c_str());
        RemoveDirectoryA((folder + "\\Alice").c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string folder;
};

TEST_F(MainWindowTest, StartsMinimizedWatchingWithTheOptionsOff)
{
    DialogWatcher dialogs;
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));

    EXPECT_TRUE(dialogs.seen().empty());
    char className[32] = "";
    GetClassNameA(mainWindow, className, sizeof(className));
    EXPECT_STREQ("FQSpoolClass", className);
    char title[64] = "";
    GetWindowTextA(mainWindow, title, sizeof(title));
    EXPECT_STREQ("Fernquill PC Print Spooler", title);
    EXPECT_TRUE(IsIconic(mainWindow));
    EXPECT_EQ(1, watchTable.watchCount);
    EXPECT_FALSE(isChecked(mainWindow, IDM_SHOW_PRINT_DIALOG));
    EXPECT_FALSE(isChecked(mainWindow, IDM_SCREEN_ONLY));
    ASSERT_NE(nullptr, GetMenu(mainWindow));
    EXPECT_EQ(9, GetMenuItemCount(GetSubMenu(GetMenu(mainWindow), 0)));
}

TEST_F(MainWindowTest, OptionsFlipWithTheirTicksWithoutRepainting)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    ShowWindow(mainWindow, SW_RESTORE);
    UpdateWindow(mainWindow);

    SendMessageA(mainWindow, WM_COMMAND, IDM_SHOW_PRINT_DIALOG, 0);
    EXPECT_TRUE(spoolerOptions.showPrintDialog);
    EXPECT_TRUE(isChecked(mainWindow, IDM_SHOW_PRINT_DIALOG));
    EXPECT_FALSE(GetUpdateRect(mainWindow, nullptr, FALSE));

    SendMessageA(mainWindow, WM_COMMAND, IDM_SCREEN_ONLY, 0);
    SendMessageA(mainWindow, WM_COMMAND, IDM_SHOW_PRINT_DIALOG, 0);
    EXPECT_FALSE(spoolerOptions.showPrintDialog);
    EXPECT_FALSE(isChecked(mainWindow, IDM_SHOW_PRINT_DIALOG));
    EXPECT_TRUE(spoolerOptions.screenOnly);
    EXPECT_TRUE(isChecked(mainWindow, IDM_SCREEN_ONLY));
}

TEST_F(MainWindowTest, ShowStatusGoesBackFromThePageToTheStatusView)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    displayMode = displayImagePage;
    SendMessageA(mainWindow, WM_COMMAND, IDM_SHOW_STATUS, 0);
    EXPECT_EQ(displayStatus, displayMode);
}

TEST_F(MainWindowTest, AboutBoxSaysWhatTheProgramIs)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    DialogWatcher dialogs;
    SendMessageA(mainWindow, WM_COMMAND, IDM_ABOUT, 0);
    std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("About Fernquill Desktop Spooler", seen[0].caption);
    EXPECT_NE(std::string::npos, seen[0].text.find("Fernquill Desktop Spooler"));
    EXPECT_NE(std::string::npos, seen[0].text.find("Copyright"));
}

TEST_F(MainWindowTest, ExitEndsTheMessageLoop)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    SendMessageA(mainWindow, WM_COMMAND, IDM_EXIT, 0);
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        quit = quit || message.message == WM_QUIT;
    }
    EXPECT_TRUE(quit);
}

TEST_F(MainWindowTest, NoInstallFolderFailsStartUp)
{
    removeRegistryValues();
    DialogWatcher dialogs;
    EXPECT_EQ(-3, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    ASSERT_EQ(1u, dialogs.seen().size());
    EXPECT_EQ("Registry Error", dialogs.seen()[0].caption);
}

TEST_F(MainWindowTest, LastJobPrintsAgainOnceADeliveryHasRun)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    clearPrintedFiles();
    EXPECT_TRUE(isGreyedWhenOpened(mainWindow, IDM_PRINT_LAST_AGAIN));
    SendMessageA(mainWindow, WM_COMMAND, IDM_PRINT_LAST_AGAIN, 0);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);

    ASSERT_TRUE(writeWholeFile(folder + "\\Alice\\backup\\" + spoolFileName, pagesOf(2, "PAGE")));
    ASSERT_TRUE(waitFor(
        [] {
            pollSpoolChanges(mainWindow);
            return spoolerCounters.jobsProcessed == 1;
        },
        printTimeoutMs));
    EXPECT_FALSE(isGreyedWhenOpened(mainWindow, IDM_PRINT_LAST_AGAIN));
    SendMessageA(mainWindow, WM_COMMAND, IDM_PRINT_LAST_AGAIN, 0);

    EXPECT_EQ(2, spoolerCounters.jobsProcessed);
    EXPECT_EQ(4, spoolerCounters.pagesProcessed);
    EXPECT_TRUE(IsIconic(mainWindow));
    ASSERT_TRUE(waitForPrintedFiles(4, printTimeoutMs));
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(4u, pdfs.size());
    EXPECT_NE(std::string::npos, printedText(pdfs[2]).find("PAGE 1"));
    EXPECT_NE(std::string::npos, printedText(pdfs[3]).find("PAGE 2"));
}

// A spool file chosen or dropped is a job as a delivered one is: the window
// comes up for it and goes back, the pages print and count, a file that
// can't be opened says so.
TEST_F(MainWindowTest, ChosenOrDroppedSpoolFilePrintsAsADelivery)
{
    const struct {
        const char* how;
        void (*give)(HWND, const std::string&);
        bool present;
    } cases[] = {
        {"chosen", chooseInOpenDialog, true},
        {"dropped", dropOnWindow, true},
        {"dropped but gone", dropOnWindow, false},
    };
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    for (const auto& c : cases) {
        clearPrintedFiles();
        spoolerCounters = {0, 0};
        TempFile spool(pagesOf(1, c.how));
        std::string path = c.present ? spool.path() : spool.path() + ".gone";
        std::vector<SeenDialog> boxes;
        if (c.present) {
            c.give(mainWindow, path);
        } else {
            DialogWatcher watcher;
            c.give(mainWindow, path);
            watcher.waitUntilAnswered(1, printTimeoutMs);
            boxes = watcher.seen();
        }

        char title[64] = "";
        GetWindowTextA(mainWindow, title, sizeof(title));
        EXPECT_STREQ(spoolerTitle, title) << c.how;
        EXPECT_TRUE(IsIconic(mainWindow)) << c.how;
        EXPECT_EQ(c.present ? 1 : 0, spoolerCounters.jobsProcessed) << c.how;
        EXPECT_EQ(c.present ? 1 : 0, spoolerCounters.pagesProcessed) << c.how;
        if (c.present) {
            ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs)) << c.how;
            EXPECT_NE(std::string::npos, printedText(printedFiles()[0]).find(std::string(c.how) + " 1")) << c.how;
        } else {
            ASSERT_EQ(1u, boxes.size()) << c.how;
            EXPECT_EQ("Nothing to spool", boxes[0].caption);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"Spool files (*.PDB)", "All files (*.*)"}), offeredFileTypes);
}

// A job's box waits on a thread of its own: a drop that arrives while it
// waits is a job of its own, as any later job is.
TEST_F(MainWindowTest, DropDuringAJobsBoxPrintsAsUsual)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    clearPrintedFiles();
    TempFile spool(pagesOf(1, "SECOND"));
    dropOnWindow(mainWindow, spool.path() + ".gone");
    HWND box = waitForDialog("Nothing to spool", printTimeoutMs);
    ASSERT_NE(nullptr, box);
    EXPECT_FALSE(printJobRunning()) << "the job waits for its box";

    dropOnWindow(mainWindow, spool.path());
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs));
    EXPECT_NE(std::string::npos, printedText(printedFiles()[0]).find("SECOND"));
    EXPECT_TRUE(IsWindowVisible(box)) << "the box went without an answer";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }, printTimeoutMs));
}

// The Open dialog waits for the person at the PC; deliveries print
// meanwhile, and the folder it browsed is not left as the current one.
TEST_F(MainWindowTest, DeliveryDuringTheOpenDialogPrintsAndTheDialogLeavesNoFolderCurrent)
{
    ASSERT_EQ(0, initApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
    clearPrintedFiles();
    char before[MAX_PATH] = "";
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, before), 0u);
    std::string backup = folder + "\\Alice\\backup";
    char during[MAX_PATH] = "";
    bool printedMeanwhile = false;
    std::thread person([&] {
        HWND dialog = waitForDialog(nullptr, printTimeoutMs);
        // Into the backup folder, as a person typing its name does.
        HWND name = GetDlgItem(dialog, cmb13);
        SetWindowTextA(name != nullptr ? name : GetDlgItem(dialog, edt1), backup.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        waitFor(
            [&] {
                GetCurrentDirectoryA(MAX_PATH, during);
                return lstrcmpiA(during, backup.c_str()) == 0;
            },
            5000);
        writeWholeFile(backup + "\\" + spoolFileName, pagesOf(1, "MEANWHILE"));
        printedMeanwhile = waitFor(
            [&] {
                PostMessageA(mainWindow, WM_TIMER, spoolTimerId, 0);
                return printedFiles().size() == 1;
            },
            printTimeoutMs);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    SendMessageA(mainWindow, WM_COMMAND, IDM_PRINT_SPOOL_FILE, 0);
    person.join();

    EXPECT_TRUE(printedMeanwhile) << "the delivery waited for the dialog";
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_STRCASEEQ(backup.c_str(), during) << "the dialog never browsed the folder";
    char after[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(before, after);
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

// The log-on entry's argument, and what must not be taken for it.
TEST(CommandLineTest, OnlyLogonMakesALogonStart)
{
    const struct {
        const char* commandLine;
        bool logon;
    } cases[] = {
        {"/logon", true},    {"/LogOn", true},   {"  /LOGON\t ", true},  {"", false},
        {nullptr, false},    {"logon", false},   {"-logon", false},      {"/logo", false},
        {"/logonx", false},  {"/logon x", false}, {"\"/logon\"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.logon, isLogonStart(c.commandLine)) << (c.commandLine ? c.commandLine : "(null)");
    }
}

// With three users and a 16-pixel font the counters sit at y = 146 and 162.
TEST(StatusViewTest, LinesArePlacedByTheFontHeight)
{
    const int width = 340;
    const int height = 240;
    lstrcpyA(installFolder, "C:\\Palm");
    watchTable.watchCount = 3;
    const char* users[] = {"Alice", "Bob", "Carol"};
    for (int i = 0; i < 3; i++) {
        lstrcpyA(watchTable.users[i].userFolder, users[i]);
    }
    spoolerCounters = {2, 7};

    MemorySurface status(width, height);
    ASSERT_EQ(16, currentTextHeight(status.surface));
    paintStatus(status.surface);

    const StatusLine lines[] = {{10, 10, "Palm install folder:"}, {25, 36, "C:\\Palm"},
                                {10, 62, "Monitoring users:"},     {25, 88, "Alice"},
                                {25, 104, "Bob"},                  {25, 120, "Carol"},
                                {10, 146, "Print jobs processed: 2"}, {10, 162, "Pages processed: 7"}};
    EXPECT_TRUE(pixelsOf(status, width, height) == statusPixels(lines, width, height));
    watchTable.watchCount = 0;
}

// Users not watched come below the counters, each with its reason; the
// watched ones keep the lines they always had.
TEST(StatusViewTest, UsersNotWatchedAreListedBelowTheCountersWithWhy)
{
    const int width = 340;
    const int height = 260;
    lstrcpyA(installFolder, "C:\\Palm");
    struct User {
        const char* name;
        WatchState state;
    } users[] = {{"Alice", watchActive}, {"Bob", watchGone}, {"Carol", watchActive},
                 {"Dora", watchClaimedElsewhere}, {"Eve", watchFailed}};
    watchTable.watchCount = 5;
    for (int i = 0; i < 5; i++) {
        lstrcpyA(watchTable.users[i].userFolder, users[i].name);
        watchTable.users[i].state = users[i].state;
    }
    spoolerCounters = {2, 7};

    MemorySurface status(width, height);
    ASSERT_EQ(16, currentTextHeight(status.surface));
    paintStatus(status.surface);

    const StatusLine lines[] = {{10, 10, "Palm install folder:"}, {25, 36, "C:\\Palm"},
                                {10, 62, "Monitoring users:"},     {25, 88, "Alice"},
                                {25, 104, "Carol"},                {10, 130, "Print jobs processed: 2"},
                                {10, 146, "Pages processed: 7"},   {10, 172, "Not watched:"},
                                {25, 198, "Bob (gone)"},           {25, 214, "Dora (other user)"},
                                {25, 230, "Eve (failed)"}};
    EXPECT_TRUE(pixelsOf(status, width, height) == statusPixels(lines, width, height));
    for (int i = 0; i < 5; i++) {
        watchTable.users[i].state = watchActive;
    }
    watchTable.watchCount = 0;
}

}  // namespace
