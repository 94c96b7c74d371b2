// User discovery and the spool change poll under Wine, on real folders,
// registry values and change watches. Each test builds its own install
// folder under the temp folder and points the registry at it; files are
// written through Win32 so the watches really fire. Jobs run screen only,
// so the counters say what was printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "jobs/print_job.h"
#include "render/page_renderer.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/folder_claim.h"
#include "watch/printed_record.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const char* const roboticsKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
const char* const threeComKey = "Software\\3Com\\Palm Desktop\\Core";
const int watchTimeoutMs = 5000;

int ticksSeen = 0;
bool minimizedDuringJob = false;
// Run once, when the job's title first names this page.
int actDuringJobAtPage = 0;
void (*actDuringJob)() = nullptr;

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
    if (message == WM_SETTEXT && lParam != 0 && actDuringJob != nullptr &&
        std::string(reinterpret_cast<const char*>(lParam)) ==
            "Printing image " + std::to_string(actDuringJobAtPage) + "...") {
        void (*act)() = actDuringJob;
        actDuringJob = nullptr;
        act();
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
        restartReviewCountdown();
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

// ---- While running: the periodic look --------------------------------------

std::vector<std::string> usersIn(WatchState state)
{
    std::vector<std::string> users;
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (watchTable.users[i].state == state) {
            users.push_back(watchTable.users[i].userFolder);
        }
    }
    return users;
}

int indexOf(const std::string& user)
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (user == watchTable.users[i].userFolder) {
            return i;
        }
    }
    return -1;
}

// A user whose backup folder appears after start-up: restored with a spool
// file from before start-up, made by a first sync with one written since,
// made empty with a delivery after the look found it, or copied in with a
// file written before the last look listed the install folder.
struct LateUser {
    const char* when;
    bool fileBeforeStart;
    bool fileAfterStart;
    int jobs;
    bool fileBeforeALook;  // written after start-up, but a look has listed the install folder since
};

TEST_F(WatchTest, UserFoundWhileRunningPrintsFilesWrittenSinceTheLastListing)
{
    const LateUser cases[] = {
        {"restored with a file from before start-up", true, false, 0, false},
        {"first sync, file written since start-up", false, true, 1, false},
        {"delivery after the user was found", false, false, 1, false},
        {"copied in with a file written before the last look", false, false, 0, true},
    };
    for (const LateUser& late : cases) {
        SCOPED_TRACE(late.when);
        releaseWatches();
        removeFolderTree(root);
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
        spoolerCounters = {0, 0};
        addUser("Alice");
        std::string folder = addUser("Late", "Restored");
        if (late.fileBeforeStart) {
            ASSERT_TRUE(writeWholeFile(folder + "\\Restored\\" + spoolFileName, spoolFileOf(1)));
            Sleep(20);  // the stamp must come before the start-up time, not share it
        }
        ASSERT_EQ(0, discover());
        ASSERT_EQ(1, watchTable.watchCount);
        if (late.fileBeforeALook) {
            Sleep(20);
            ASSERT_TRUE(writeWholeFile(folder + "\\Restored\\" + spoolFileName, spoolFileOf(1)));
            Sleep(20);
            reviewAllWatches();
        }
        ASSERT_TRUE(MoveFileA((folder + "\\Restored").c_str(), (folder + "\\backup").c_str()));
        if (late.fileAfterStart) {
            ASSERT_TRUE(writeWholeFile(spoolPath("Late"), spoolFileOf(1)));
        }
        reviewAllWatches();
        reviewAllWatches();
        EXPECT_EQ((std::vector<std::string>{"Alice", "Late"}), watchedUsers()) << "found once, and only once";
        if (!late.fileBeforeStart && !late.fileAfterStart && !late.fileBeforeALook) {
            ASSERT_TRUE(writeWholeFile(spoolPath("Late"), spoolFileOf(1)));
            ASSERT_TRUE(watchFired(1));
        }
        pollSpoolChanges(window);
        pollSpoolChanges(window);
        EXPECT_EQ(late.jobs, spoolerCounters.jobsProcessed);
    }
}

TEST_F(WatchTest, FolderMadeAgainIsWatchedAgainAfterTheNextLook)
{
    addUser("Alice");
    ASSERT_EQ(0, discover());
    ASSERT_TRUE(remakeFolder(root + "\\Alice\\backup"));
    // The delivery comes before the look: the look finds its stamp new.
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    reviewAllWatches();
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);

    // The next comes after it, and the new watch sees it.
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(2)));
    ASSERT_TRUE(watchFired(0));
    pollSpoolChanges(window);
    EXPECT_EQ(2, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, DeadWatchIsMadeAgainAndItsJobIsNotLost)
{
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    // A handle that no longer answers fails a wait on every watch at once.
    FindCloseChangeNotification(watchTable.users[0].changeWatch);
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[1].userFolder), spoolFileOf(1)));
    ASSERT_TRUE(writeWholeFile(spoolPath(watchTable.users[0].userFolder), spoolFileOf(2)));
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.pagesProcessed) << "the other user is served";
    EXPECT_EQ(watchFailed, watchTable.users[0].state);

    reviewAllWatches();
    EXPECT_EQ(watchActive, watchTable.users[0].state);
    pollSpoolChanges(window);
    EXPECT_EQ(3, spoolerCounters.pagesProcessed) << "the job the dead watch missed";
}

TEST_F(WatchTest, GoneFoldersLoseTheirWatchAndComeBack)
{
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    ASSERT_TRUE(remakeFolder(root + "\\Alice"));  // Alice's backup folder is gone
    reviewAllWatches();
    EXPECT_EQ(std::vector<std::string>{"Alice"}, usersIn(watchGone));
    EXPECT_EQ(INVALID_HANDLE_VALUE, watchTable.users[0].changeWatch);

    // So is the whole install folder, for a while.
    std::string moved = root + "-away";
    ASSERT_TRUE(MoveFileA(root.c_str(), moved.c_str()));
    reviewAllWatches();
    EXPECT_EQ(2u, usersIn(watchGone).size());
    ASSERT_TRUE(MoveFileA(moved.c_str(), root.c_str()));
    CreateDirectoryA((root + "\\Alice\\backup").c_str(), nullptr);
    reviewAllWatches();
    EXPECT_EQ(2u, usersIn(watchActive).size());
    EXPECT_EQ(2, watchTable.watchCount);
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(indexOf("Alice")));
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, LooksWhileFoldersComeAndGoKeepFiftyDistinctUsers)
{
    for (int i = 0; i < 10; i++) {
        addUser("User" + std::to_string(100 + i));
    }
    ASSERT_EQ(0, discover());
    std::string fileNamedBackup = addUser("FileBackup", "");
    ASSERT_TRUE(writeWholeFile(fileNamedBackup + "\\backup", {1}));
    addUser(std::string(50, 'L'));
    addUser(std::string(49, 'S'));
    for (int i = 10; i < 60; i++) {
        addUser("User" + std::to_string(100 + i));
        if (i % 10 == 0) {
            reviewAllWatches();
            removeFolderTree(root + "\\User" + std::to_string(100 + i));
        }
    }
    reviewAllWatches();
    reviewAllWatches();
    EXPECT_EQ(50, watchTable.watchCount);
    std::vector<std::string> users = watchedUsers();
    std::sort(users.begin(), users.end());
    EXPECT_EQ(users.end(), std::adjacent_find(users.begin(), users.end())) << "a user listed twice";
    EXPECT_EQ(users.end(), std::find(users.begin(), users.end(), std::string(50, 'L')));
    EXPECT_NE(users.end(), std::find(users.begin(), users.end(), std::string(49, 'S')));
    EXPECT_EQ(std::vector<std::string>{"FileBackup"}, usersIn(watchFailed));
}

// A full table makes room for a new hand-held only in the slot of a user
// whose folder has gone altogether; one whose backup folder alone is away
// (a restore in progress) keeps its place.
TEST_F(WatchTest, FullTableGivesTheSlotOfARemovedUserToANewOne)
{
    for (int i = 0; i < 50; i++) {
        addUser("User" + std::to_string(100 + i));
    }
    ASSERT_EQ(0, discover());
    ASSERT_EQ(50, watchTable.watchCount);
    ASSERT_TRUE(remakeFolder(root + "\\User101"));  // its backup folder is away
    addUser("Newcomer1");
    reviewAllWatches();
    EXPECT_EQ(50, watchTable.watchCount);
    EXPECT_EQ(-1, indexOf("Newcomer1")) << "took the slot of a user whose backup folder is only away";

    // Renamed in Palm Desktop.
    int slot = indexOf("User103");
    ASSERT_TRUE(MoveFileA((root + "\\User103").c_str(), (root + "\\Renamed103").c_str()));
    reviewAllWatches();
    EXPECT_EQ(50, watchTable.watchCount);
    std::string newcomer = watchTable.users[slot].userFolder;
    EXPECT_TRUE(newcomer == "Newcomer1" || newcomer == "Renamed103") << newcomer << " in User103's slot";
    EXPECT_EQ(std::vector<std::string>{"User101"}, usersIn(watchGone));
    ASSERT_TRUE(writeWholeFile(spoolPath(newcomer), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(slot));
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
}

TEST_F(WatchTest, FolderClaimedByAnotherSpoolerIsLeftToItUntilItEnds)
{
    addUser("Alice");
    addUser("Bob");
    char name[folderClaimNameSize];
    ASSERT_EQ(0, folderClaimNameAt((root + "\\Bob\\backup").c_str(), name));
    HANDLE otherSpooler = CreateMutexA(nullptr, FALSE, name);
    ASSERT_NE(nullptr, otherSpooler);
    ASSERT_EQ(0, discover());
    EXPECT_EQ(std::vector<std::string>{"Bob"}, usersIn(watchClaimedElsewhere));

    ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(3)));
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    for (int look = 0; look < 2; look++) {
        reviewAllWatches();
        pollSpoolChanges(window);
    }
    EXPECT_EQ(1, spoolerCounters.pagesProcessed) << "only the unclaimed user printed";

    CloseHandle(otherSpooler);
    reviewAllWatches();
    EXPECT_EQ(2u, usersIn(watchActive).size());
    pollSpoolChanges(window);
    EXPECT_EQ(4, spoolerCounters.pagesProcessed);
    // And now this spooler's claim keeps others out, until it lets go.
    HANDLE other = nullptr;
    EXPECT_EQ(-1, claimFolderAt((root + "\\Bob\\backup").c_str(), &other));
    releaseWatches();
    EXPECT_EQ(0, claimFolderAt((root + "\\Bob\\backup").c_str(), &other));
    releaseFolderClaim(&other);
}

// The looks in between go through every user only when something in the
// install folder's tree changed, and on every tenth look regardless.
TEST_F(WatchTest, QuietLooksSkipTheFoldersButTheTenthGoesThroughThemAll)
{
    addUser("Alice");
    ASSERT_EQ(0, discover());
    reviewWatches();  // makes the tree's watch
    watchTable.users[0].state = watchGone;  // as if the look had missed its return
    for (int look = 1; look < looksPerFullReview; look++) {
        reviewWatches();
    }
    EXPECT_EQ(watchGone, watchTable.users[0].state) << "a quiet look went through the folders";
    reviewWatches();
    EXPECT_EQ(watchActive, watchTable.users[0].state);

    addUser("Bob");
    EXPECT_TRUE(waitFor(
        [] {
            reviewWatches();
            return watchTable.watchCount == 2;
        },
        watchTimeoutMs))
        << "a new folder did not bring a full look";
}

// ---- A delivery during a job ----------------------------------------------

Bytes pagesReading(const std::string& word, int pages)
{
    SpoolDatabase database;
    for (int i = 0; i < pages; i++) {
        database.records.push_back(textRecord(word + " PAGE " + std::to_string(i + 1) + "\n"));
    }
    return buildSpoolFile(database);
}

std::string replacedSpool;
std::string replacementWay;
bool replaced = false;

// HotSync's ways of putting the next job in place of the one printing.
void replaceSpoolFile()
{
    std::string fresh = replacedSpool + ".new";
    Bytes next = pagesReading("NEW", 2);
    if (replacementWay == "written again in place") {
        replaced = writeWholeFile(replacedSpool, next);
    } else if (replacementWay == "deleted and made again") {
        replaced = DeleteFileA(replacedSpool.c_str()) && writeWholeFile(replacedSpool, next);
    } else {
        replaced = writeWholeFile(fresh, next) &&
                   MoveFileExA(fresh.c_str(), replacedSpool.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

TEST_F(WatchTest, SpoolFileReplacedDuringAJobPrintsWholeAfterIt)
{
    ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
    const char* ways[] = {"written again in place", "deleted and made again", "renamed over"};
    spoolerOptions = {false, false};
    addUser("Alice");
    ASSERT_EQ(0, discover());
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        clearPrintedFiles();
        replacementWay = way;
        replacedSpool = spoolPath("Alice");
        replaced = false;
        ASSERT_TRUE(writeWholeFile(replacedSpool, pagesReading("OLD", 30)));
        ASSERT_TRUE(watchFired(0));
        actDuringJobAtPage = 3;
        actDuringJob = replaceSpoolFile;
        DialogWatcher boxes;
        pollSpoolChanges(window);
        actDuringJob = nullptr;
        ASSERT_TRUE(replaced) << "the delivery could not replace the file";
        ASSERT_TRUE(waitForPrintedFiles(30, 120000));
        std::vector<std::string> pdfs = printedFiles();
        ASSERT_EQ(30u, pdfs.size());
        for (size_t page = 0; page < pdfs.size(); page++) {
            EXPECT_NE(std::string::npos, printedText(pdfs[page]).find("OLD PAGE " + std::to_string(page + 1)));
        }

        pollSpoolChanges(window);
        pollSpoolChanges(window);
        ASSERT_TRUE(waitForPrintedFiles(32, 60000));
        Sleep(1000);  // time for a third, which must not come
        pdfs = printedFiles();
        ASSERT_EQ(32u, pdfs.size()) << "the new job printed other than once";
        EXPECT_NE(std::string::npos, printedText(pdfs[30]).find("NEW PAGE 1"));
        EXPECT_NE(std::string::npos, printedText(pdfs[31]).find("NEW PAGE 2"));
        EXPECT_TRUE(boxes.seen().empty());
    }
    clearPrintedFiles();
}

// ---- Palm Desktop moved ---------------------------------------------------

TEST_F(WatchTest, InstallFolderMovedInTheRegistryIsFollowedAtTheNextLook)
{
    addUser("Alice");
    ASSERT_EQ(0, discover());
    std::string moved = root + "\\Moved";
    ASSERT_TRUE(CreateDirectoryA(moved.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((moved + "\\Bob").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((moved + "\\Bob\\backup").c_str(), nullptr));
    ASSERT_TRUE(writeWholeFile(moved + "\\Bob\\backup\\" + spoolFileName, spoolFileOf(1)));
    setPath(roboticsKey, moved);
    reviewWatches();
    EXPECT_EQ(moved, std::string(installFolder));
    EXPECT_EQ(std::vector<std::string>{"Bob"}, watchedUsers());
    HANDLE alice = nullptr;
    EXPECT_EQ(0, claimFolderAt((root + "\\Alice\\backup").c_str(), &alice)) << "the old folder is still claimed";
    releaseFolderClaim(&alice);
    pollSpoolChanges(window);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed) << "the file already there printed, as it wouldn't at start-up";

    ASSERT_TRUE(writeWholeFile(moved + "\\Bob\\backup\\" + spoolFileName, spoolFileOf(2)));
    ASSERT_TRUE(watchFired(0));
    pollSpoolChanges(window);
    pollSpoolChanges(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);

    // A value that goes away leaves the table as it is.
    removeRegistryValues();
    reviewWatches();
    EXPECT_EQ(moved, std::string(installFolder));
}

// ---- A printer away for a moment ----------------------------------------

// Runs the poll through one periodic look: ticksPerReview ticks.
void pollThroughALook(HWND window)
{
    for (int tick = 0; tick < ticksPerReview; tick++) {
        pollSpoolChanges(window);
    }
}

TEST_F(WatchTest, JobThatCannotStartIsTriedAgainAtTheLooksAndToldOnce)
{
    ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
    clearPrintedFiles();
    spoolerOptions = {false, false};
    addUser("Alice");
    ASSERT_EQ(0, discover());
    DialogWatcher boxes;
    {
        // Wine keeps the default printer in one registry value.
        RegistryValueSetAside noPrinter("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "Device");
        ASSERT_TRUE(noPrinter.removed());
        ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(3)));
        ASSERT_TRUE(watchFired(0));
        pollSpoolChanges(window);
        ASSERT_TRUE(boxes.waitUntilAnswered(1, watchTimeoutMs));
        EXPECT_EQ("Error starting print job", boxes.seen()[0].text);
        pollThroughALook(window);
        pollThroughALook(window);
        EXPECT_EQ(1u, boxes.seen().size()) << "the box came again at a later try";
        EXPECT_EQ(0, spoolerCounters.jobsProcessed);
        EXPECT_EQ(0, spoolerCounters.pagesProcessed);
    }
    pollThroughALook(window);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(3, spoolerCounters.pagesProcessed);
    ASSERT_TRUE(waitForPrintedFiles(3, 60000));
    pollThroughALook(window);
    Sleep(1000);
    EXPECT_EQ(3u, printedFiles().size()) << "printed again after it printed";
    EXPECT_EQ(1u, boxes.seen().size());
    clearPrintedFiles();
}

// ---- Nothing waiting for a person stops printing -------------------------

TEST_F(WatchTest, PrintErrorBoxWaitingLetsAnotherUsersDeliveryPrint)
{
    ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
    clearPrintedFiles();
    spoolerOptions = {false, false};
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    HWND box = nullptr;
    {
        RegistryValueSetAside noPrinter("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "Device");
        ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
        ASSERT_TRUE(watchFired(0));
        pollSpoolChanges(window);
        EXPECT_FALSE(printJobRunning());
        box = waitForDialog("Print Error", watchTimeoutMs);
        ASSERT_NE(nullptr, box);
    }
    ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(2)));
    ASSERT_TRUE(watchFired(1));
    pollSpoolChanges(window);
    EXPECT_EQ(2, spoolerCounters.pagesProcessed) << "Bob's job waited for Alice's box";
    ASSERT_TRUE(waitForPrintedFiles(2, 60000));
    EXPECT_TRUE(IsWindowVisible(box));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }, watchTimeoutMs));
    clearPrintedFiles();
}

TEST_F(WatchTest, PrintDialogWaitingLeavesTheOtherFoldersFree)
{
    spoolerOptions = {true, false};
    addUser("Alice");
    addUser("Bob");
    ASSERT_EQ(0, discover());
    std::string bob = root + "\\Bob\\backup";
    ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
    ASSERT_TRUE(watchFired(0));
    int bobClaimWhileWaiting = 1;
    int aliceClaimWhileWaiting = 1;
    std::thread person([&] {
        HWND dialog = waitForDialog(nullptr, 60000);
        HANDLE claim = nullptr;
        bobClaimWhileWaiting = claimFolderAt(bob.c_str(), &claim);
        releaseFolderClaim(&claim);
        aliceClaimWhileWaiting = claimFolderAt((root + "\\Alice\\backup").c_str(), &claim);
        releaseFolderClaim(&claim);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    pollSpoolChanges(window);
    person.join();
    EXPECT_EQ(0, bobClaimWhileWaiting) << "Bob's folder was held while the dialog waited";
    EXPECT_EQ(-1, aliceClaimWhileWaiting) << "the folder of the job waiting let go";
    EXPECT_EQ(watchActive, watchTable.users[indexOf("Bob")].state) << "not taken back after the dialog";
    HANDLE claim = nullptr;
    EXPECT_EQ(-1, claimFolderAt(bob.c_str(), &claim));
}

// ---- Hand-overs between accounts ----------------------------------------

FILETIME lastWriteOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ZeroMemory(&data, sizeof(data));
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// What the other account's spooler did with Bob's delivery while it held
// his folder, and how many jobs this one prints once it takes the folder
// over.
struct HandOver {
    const char* what;
    bool delivered;        // a spool file written while the other held the folder
    const char* record;    // what the other left as its record: "printed", "earlier", "" or nonsense
    int jobs;
};

TEST_F(WatchTest, TakingAFolderOverPrintsOnlyWhatItsHolderDidNotRecord)
{
    const HandOver cases[] = {
        {"printed and recorded it", true, "printed", 0},
        {"killed before recording it, an earlier job recorded", true, "earlier", 1},
        {"killed before recording anything", true, "", 1},
        {"nothing delivered, a damaged record", false, "Fernquill printed 0123", 0},
        {"nothing delivered, a record of nonsense", false, "Fernquill printed zzzzzzzzzzzzzzzz\r\n", 0},
        {"delivered, a record of nonsense", true, "\x01\x02", 1},
    };
    for (const HandOver& handOver : cases) {
        SCOPED_TRACE(handOver.what);
        releaseWatches();
        removeFolderTree(root);
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
        spoolerCounters = {0, 0};
        addUser("Alice");
        std::string bob = addUser("Bob") + "\\backup";
        ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(1)));
        FILETIME earlier = lastWriteOf(spoolPath("Bob"));
        HANDLE otherSpooler = nullptr;
        ASSERT_EQ(0, claimFolderAt(bob.c_str(), &otherSpooler));
        ASSERT_EQ(0, discover());
        ASSERT_EQ(std::vector<std::string>{"Bob"}, usersIn(watchClaimedElsewhere));

        if (handOver.delivered) {
            Sleep(20);
            ASSERT_TRUE(writeWholeFile(spoolPath("Bob"), spoolFileOf(2)));
        }
        std::string record = handOver.record;
        if (record == "printed") {
            ASSERT_EQ(0, writePrintedRecord(bob.c_str(), lastWriteOf(spoolPath("Bob"))));
        } else if (record == "earlier") {
            ASSERT_EQ(0, writePrintedRecord(bob.c_str(), earlier));
        } else if (!record.empty()) {
            ASSERT_TRUE(writeWholeFile(bob + "\\" + printedRecordName, Bytes(record.begin(), record.end())));
        }
        reviewAllWatches();
        pollSpoolChanges(window);
        EXPECT_EQ(0, spoolerCounters.jobsProcessed) << "printed while the other held it";

        releaseFolderClaim(&otherSpooler);
        reviewAllWatches();
        ASSERT_EQ(watchActive, watchTable.users[indexOf("Bob")].state);
        pollSpoolChanges(window);
        pollSpoolChanges(window);
        EXPECT_EQ(handOver.jobs, spoolerCounters.jobsProcessed);
        FILETIME recorded;
        ASSERT_EQ(0, readPrintedRecord(bob.c_str(), &recorded)) << "the next holder finds no record";
        FILETIME written = lastWriteOf(spoolPath("Bob"));
        EXPECT_EQ(0, CompareFileTime(&recorded, &written));
    }
}

// However many jobs print, a folder holds one record and nothing else of ours.
TEST_F(WatchTest, PrintedRecordStaysOneFileWhateverTheJobs)
{
    std::string alice = addUser("Alice") + "\\backup";
    ASSERT_EQ(0, discover());
    for (int job = 1; job <= 4; job++) {
        Sleep(20);
        ASSERT_TRUE(writeWholeFile(spoolPath("Alice"), spoolFileOf(1)));
        ASSERT_TRUE(watchFired(0));
        pollSpoolChanges(window);
        EXPECT_EQ(job, spoolerCounters.jobsProcessed);
    }
    std::vector<std::string> ours;
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((alice + "\\Fernquill_Printed*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, listing);
    do {
        ours.push_back(entry.cFileName);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    EXPECT_EQ(std::vector<std::string>{printedRecordName}, ours);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((alice + "\\" + printedRecordName).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(36u, data.nFileSizeLow);
}

TEST_F(WatchTest, OneFolderSpelledManyWaysHasOneClaim)
{
    std::string folder = addUser("AliceWithALongName") + "\\backup";
    std::string other = addUser("Bob") + "\\backup";
    char shortPath[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(folder.c_str(), shortPath, MAX_PATH), 0u);
    std::string drive = mapDriveLetter(root);
    ASSERT_FALSE(drive.empty());
    std::string upper = folder;
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    const std::string spellings[] = {
        folder + "\\",
        upper,
        shortPath,
        drive + "\\AliceWithALongName\\backup",
        root + "\\Bob\\..\\AliceWithALongName\\backup",
    };
    HANDLE claim = nullptr;
    ASSERT_EQ(0, claimFolderAt(folder.c_str(), &claim));
    char name[folderClaimNameSize];
    ASSERT_EQ(0, folderClaimNameAt(folder.c_str(), name));
    EXPECT_EQ(0, std::string(name).rfind("Global\\FernquillSpoolFolder-", 0));
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        char spelled[folderClaimNameSize];
        ASSERT_EQ(0, folderClaimNameAt(spelling.c_str(), spelled));
        EXPECT_STREQ(name, spelled);
        HANDLE second = nullptr;
        EXPECT_EQ(-1, claimFolderAt(spelling.c_str(), &second));
        EXPECT_EQ(nullptr, second);
    }
    char otherName[folderClaimNameSize];
    ASSERT_EQ(0, folderClaimNameAt(other.c_str(), otherName));
    EXPECT_STRNE(name, otherName);
    EXPECT_EQ(-1, folderClaimNameAt((root + "\\Nobody").c_str(), otherName));
    releaseFolderClaim(&claim);
    unmapDriveLetter(drive);
}

}  // namespace
