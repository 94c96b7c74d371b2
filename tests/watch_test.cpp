// User discovery and the spool change poll under Wine, on real folders,
// registry values and change watches. Each test builds its own install
// folder under the temp folder and points the registry at it; files are
// written through Win32 so the watches really fire. Jobs run screen only,
// so the counters say what was printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jobs/print_job.h"
#include "render/page_renderer.h"
#include "tests/spool_builder.h"
#include "tests/win_test_support.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const char* const roboticsKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
const char* const threeComKey = "Software\\3Com\\Palm Desktop\\Core";
const int watchTimeoutMs = 5000;

int ticksSeen = 0;
bool minimizedDuringJob = false;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        ticksSeen++;
        pollSpoolChanges(window);
        return 0;
    }
    if (message == WM_SETTEXT && lParam != 0 && std::string(reinterpret_cast<const char*>(lParam)) == "Printing...") {
        minimizedDuringJob = IsIconic(window) != FALSE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void setPath(const char* key, const std::string& value)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, key, "Path", REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

// A spool file of `pages` one-line pages.
Bytes spoolFileOf(int pages)
{
    SpoolDatabase database;
    for (int i = 0; i < pages; i++) {
        database.records.push_back(textRecord("page " + std::to_string(i + 1) + "\n"));
    }
    return buildSpoolFile(database);
}

class WatchTest : public testing::Test {
protected:
    void SetUp() override
    {
        root = uniqueTempPath();
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
        removeRegistryValues();
        spoolerOptions = {false, true};
        spoolerCounters = {0, 0};
        loadJobCursors();
        window = createTestWindow("FernquillWatchTest", testWindowProc, spoolerTitle);
        ASSERT_NE(nullptr, window);
    }

    void TearDown() override
    {
        releaseWatches();
        releaseScreenCopy();
        DestroyWindow(window);
        removeRegistryValues();
        removeFolderTree(root);
    }

    // A user folder; with a backup folder of that name when given.
    std::string addUser(const std::string& user, const std::string& backup = "backup")
    {
        std::string folder = root + "\\" + user;
        CreateDirectoryA(folder.c_str(), nullptr);
        if (!backup.empty()) {
            CreateDirectoryA((folder + "\\" + backup).c_str(), nullptr);
        }
        return folder;
    }

    std::string spoolPath(const std::string& user, const std::string& backup = "backup")
    {
        return root + "\\" + user + "\\" + backup + "\\" + spoolFileName;
    }

    // Discovers with the registry pointing at our install folder, answering
    // any message box.
    int discover()
    {
        setPath(roboticsKey, root);
        DialogWatcher dialogs;
        int result = discoverUsers(window);
        boxes = dialogs.seen();
        return result;
    }

    std::vector<std::string> watchedUsers()
    {
        std::vector<std::string> users;
        for (int i = 0; i < watchTable.watchCount; i++) {
            users.push_back(watchTable.users[i].userFolder);
        }
        return users;
    }

    // Waits until user's change watch has fired (the wait does not reset it).
    bool watchFired(int user)
    {
        return WaitForSingleObject(watchTable.users[user].changeWatch, watchTimeoutMs) == WAIT_OBJECT_0;
    }

    std::string root;
    HWND window = nullptr;
    std::vector<SeenDialog> boxes;
};

// ---- Registry ----------------------------------------------------------

TEST_F(WatchTest, RoboticsKeyComesBeforeThreeCom)
{
    addUser("Alice");
    setPath(threeComKey, "C:\\nowhere");
    EXPECT_EQ(0, discover());
    EXPECT_EQ(root, installFolder);
    EXPECT_EQ(std::vector<std::string>{"Alice"}, watchedUsers());
}

TEST_F(WatchTest, ThreeComKeyIsUsedWhenTheFirstIsMissing)
{
    addUser("Alice");
    setPath(threeComKey, root);
    DialogWatcher dialogs;
    EXPECT_EQ(0, discoverUsers(window));
    EXPECT_EQ(root, installFolder);
    EXPECT_EQ(1, watchTable.watchCount);
    EXPECT_TRUE(dialogs.seen().empty());
}

TEST_F(WatchTest, NoRegistryValueIsAStartUpFailure)
{
    ShowWindow(window, SW_MINIMIZE);
    DialogWatcher dialogs;
    EXPECT_EQ(-1, discoverUsers(window));
    std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Registry Error", seen[0].caption);
    EXPECT_EQ("Cannot locate a path to the Palm Desktop backup files", seen[0].text);
    EXPECT_FALSE(IsIconic(window));
}

TEST_F(WatchTest, RegistryTextIsAlwaysTerminated)
{
    char buffer[16];
    setPath(roboticsKey, "C:\\Palm");
    EXPECT_EQ(0, readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Path", buffer, 16));
    EXPECT_STREQ("C:\\Palm", buffer);

    // Fifteen characters and a terminator fit; sixteen don't.
    setPath(roboticsKey, std::string(15, 'x'));
    EXPECT_EQ(0, readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Path", buffer, 16));
    EXPECT_EQ(std::string(15, 'x'), buffer);
    setPath(roboticsKey, std::string(16, 'y'));
    EXPECT_EQ(-1, readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Path", buffer, 16));

    // Binary data without a terminator gets one.
    RegSetKeyValueA(HKEY_CURRENT_USER, roboticsKey, "Raw", REG_BINARY, "abc", 3);
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Raw", buffer, 16));
    EXPECT_STREQ("abc", buffer);

    EXPECT_EQ(-1, readRegistryText("Software", "U.S. Robotics", "Missing", "Core", "Path", buffer, 16));
}

// ---- Which folders are watched --------------------------------------------

TEST_F(WatchTest, BackupWinsOverSavedPreferences)
{
    std::string folder = addUser("Alice", "");
    CreateDirectoryA((folder + "\\Aaa").c_str(), nullptr);
    ASSERT_TRUE(writeWholeFile(folder + "\\Aaa\\Saved_Preferences.PRC", {1}));
    // A file named "backup" counts as much as a folder would.
    ASSERT_TRUE(writeWholeFile(folder + "\\backup", {1}));

    EXPECT_EQ(0, discover());
    ASSERT_EQ(1, watchTable.watchCount);
    EXPECT_STREQ("backup", watchTable.users[0].backupFolder);
    // A file can't be watched: the user is listed without a watch.
    EXPECT_EQ(INVALID_HANDLE_VALUE, watchTable.users[0].changeWatch);
}

TEST_F(WatchTest, FirstFolderWithSavedPreferencesInListingOrder)
{
    std::string folder = addUser("Bob", "");
    for (const char* name : {"Zeta", "Alpha", "Empty"}) {
        CreateDirectoryA((folder + "\\" + name).c_str(), nullptr);
    }
    ASSERT_TRUE(writeWholeFile(folder + "\\Zeta\\Saved_Preferences.PRC", {1}));
    ASSERT_TRUE(writeWholeFile(folder + "\\Alpha\\Saved_Preferences.PRC", {1}));
    std::string expected;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, listing);
    do {
        std::string name = entry.cFileName;
        if (expected.empty() && (name == "Zeta" || name == "Alpha")) {
            expected = name;
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);

    EXPECT_EQ(0, discover());
    ASSERT_EQ(1, watchTable.watchCount);
    EXPECT_EQ(expected, watchTable.users[0].backupFolder);
}

TEST_F(WatchTest, AtMostFiftyUsersAreWatched)
{
    for (int i = 0; i < 60; i++) {
        addUser("User" + std::to_string(100 + i));
    }
    addUser("NoBackup", "");
    EXPECT_EQ(0, discover());
    EXPECT_EQ(50, watchTable.watchCount);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WatchTest, MissingInstallFolderFindsNoUsersButStartsUp)
{
    root += "-missing";
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_EQ(0, discover());
    EXPECT_EQ(0, watchTable.watchCount);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Fernquill Spooler", boxes[0].caption);
    EXPECT_EQ("Can't find any valid user folders", boxes[0].text);
    EXPECT_FALSE(IsIconic(window));
}

TEST_F(WatchTest, NamesTooLongForTheTableAreSkippedNotTruncated)
{
    std::string longName(50, 'L');
    addUser(longName);
    std::string folder = addUser("Carol", "");
    CreateDirectoryA((folder + "\\" + std::string(60, 'P')).c_str(), nullptr);
    ASSERT_TRUE(writeWholeFile(folder + "\\" + std::string(60, 'P') + "\\Saved_Preferences.PRC", {1}));
    addUser(std::string(49, 'S'));

    EXPECT_EQ(0, discover());
    EXPECT_EQ(std::vector<std::string>{std::string(49, 'S')}, watchedUsers());
}

// ---- The poll ---------------------------------------------------------

TEST_F(WatchTest, FilePresentAtStartUpIsNotPrintedAgain)
{
    addUser("Alice");
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_EQ(0, discover());
    EXPECT_NE(0u, watchTable.users[0].lastSpoolTime);

    // Something else changes in the folder; the spool file stays as it was.
    ASSERT_TRUE(writeWholeFile(root + "\\Alice\\backup\\Other.PDB", {1, 2, 3}));
    ASSERT_TRUE(watchFired(0));
    pollSpoolChanges(window);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(watchTable.users[0].changeWatch, 0)) << "watch not re-armed";
}

TEST_F(WatchTest, NewSpoolFileIsPrintedOnceWithTheWindowUpMeanwhile)
{
    addUser("Alice");
    ASSERT_EQ(0, discover());
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(2)));
    ASSERT_TRUE(watchFired(0));

    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(2, spoolerCounters.pagesProcessed);
    EXPECT_FALSE(minimizedDuringJob);
    EXPECT_TRUE(IsIconic(window));

    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, HeldFileIsPrintedOnTheFirstTickAfterItsRelease)
{
    addUser("Alice");
    ASSERT_EQ(0, discover());
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    HANDLE held = CreateFileA(spoolPath("Alice").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    pollSpoolChanges(window);
    pollSpoolChanges(window);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watchTable.users[0].changeWatch, 0)) << "the user must stay pending";

    CloseHandle(held);
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, ResyncOfAnUnchangedFilePrintsNothing)
{
    addUser("Alice");
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_EQ(0, discover());
    FILETIME original;
    HANDLE file = CreateFileA(spoolPath("Alice").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &original));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "\0", 1, &written, nullptr));  // HotSync writes it again...
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &original));  // ...with the hand-held's own stamp
    CloseHandle(file);
    ASSERT_TRUE(watchFired(0));

    pollSpoolChanges(window);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(watchTable.users[0].changeWatch, 0));
}

TEST_F(WatchTest, UsersChangedTogetherArePrintedOnSuccessiveTicksLowerFirst)
{
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    ASSERT_EQ(2, watchTable.watchCount);
    // One page for the first user in the table, three for the second.
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[1].userFolder), spoolFileOf(3)));
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[0].userFolder), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    ASSERT_TRUE(watchFired(1));

    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.pagesProcessed);
    pollSpoolChanges(window);
    EXPECT_EQ(4, spoolerCounters.pagesProcessed);
    EXPECT_EQ(2, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, FolderChangedWithoutASpoolFileDoesNotStarveLaterUsers)
{
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    std::string first = watchTable.users[0].userFolder;
    std::string second = watchTable.users[1].userFolder;
    ASSERT_TRUE(writeWholeFile(root + "\\" + first + "\\backup\\Address.PDB", {1}));
    ASSERT_TRUE(writeWholeFile(spoolPath(second), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    ASSERT_TRUE(watchFired(1));

    pollSpoolChanges(window);
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, HeldFileDelaysOnlyItsOwnUser)
{
    addUser("Alice");
    addUser("Bob");
    addUser("Carol");
    ASSERT_EQ(0, discover());
    ASSERT_EQ(3, watchTable.watchCount);
    std::string held = spoolPath(watchTable.users[0].userFolder);
    ASSERT_TRUE(writeWholeFile(held, spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    // A virus scanner, a backup program or a viewer keeps the first user's
    // file open for as long as it likes.
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    pollSpoolChanges(window);
    pollSpoolChanges(window);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);

    // Two pages for the second user, four for the third: the page count
    // tells who was printed.
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[1].userFolder), spoolFileOf(2)));
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[2].userFolder), spoolFileOf(4)));
    ASSERT_TRUE(watchFired(1));
    ASSERT_TRUE(watchFired(2));
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed) << "one job a tick, past the held file";
    EXPECT_EQ(2, spoolerCounters.pagesProcessed) << "the next fired user, in table order";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watchTable.users[0].changeWatch, 0)) << "the held user stays pending";

    // Let go, the held user comes first again, before the third.
    CloseHandle(holder);
    pollSpoolChanges(window);
    EXPECT_EQ(3, spoolerCounters.pagesProcessed);
    pollSpoolChanges(window);
    EXPECT_EQ(7, spoolerCounters.pagesProcessed);
    EXPECT_EQ(3, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, UserWithoutAWatchDoesNotStopTheOthers)
{
    std::string folder = addUser("Alice", "");
    ASSERT_TRUE(writeWholeFile(folder + "\\backup", {1}));
    addUser("Bob");
    ASSERT_EQ(0, discover());
    ASSERT_EQ(2, watchTable.watchCount);
    int bob = watchTable.users[0].changeWatch == INVALID_HANDLE_VALUE ? 1 : 0;
    ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(bob));

    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, TickDuringAJobStartsNothing)
{
    // The job's print dialog stays up for a while; the window's timer ticks
    // meanwhile, inside the dialog's message loop.
    spoolerOptions = {true, false};
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    ASSERT_TRUE(watchFired(1));
    DialogWatcher dialogs(IDCANCEL, 300);
    SetTimer(window, spoolTimerId, 10, nullptr);

    ticksSeen = 0;
    pollSpoolChanges(window);
    int ticksDuringJob = ticksSeen;
    EXPECT_EQ(1u, dialogs.seen().size());
    EXPECT_GT(ticksDuringJob, 0);

    // The second user's watch stayed fired and is served by the next tick.
    KillTimer(window, spoolTimerId);
    pollSpoolChanges(window);
    EXPECT_EQ(2u, dialogs.seen().size());
}

}  // namespace
