// One spooler per session, with the real FernquillSpooler.exe under Wine:
// a second start in the same session brings the first one's window up and
// ends; a spooler of another session doesn't keep this one from running.
// Wine runs every process of a prefix in one session, so another session's
// spooler is played by hold_spooler_mutex: it holds the machine-wide name
// and has no window here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resource.h"
#include "app/single_spooler.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const int startTimeoutMs = 30000;
const int deliveryTimeoutMs = static_cast<int>(spoolTimerPeriod) + 60000;

// Whether some other process owns the spooler mutex now. The test's own
// handle stays open meanwhile when `keep` is given, so that the mutex
// outlives its holder.
bool mutexHeldElsewhere(HANDLE* keep = nullptr, const char* name = spoolerMutexName)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    if (mutex == nullptr) {
        return false;
    }
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        ReleaseMutex(mutex);
    }
    if (waited == WAIT_TIMEOUT && keep != nullptr) {
        *keep = mutex;
    } else {
        CloseHandle(mutex);
    }
    return waited == WAIT_TIMEOUT;
}

BOOL CALLBACK countSpoolerWindow(HWND window, LPARAM context)
{
    char className[64] = "";
    if (GetClassNameA(window, className, sizeof(className)) > 0 && std::string(className) == "FQSpoolClass") {
        ++*reinterpret_cast<int*>(context);
    }
    return TRUE;
}

// The spooler windows of every process on this desktop.
int spoolerWindowCount()
{
    int count = 0;
    EnumWindows(countSpoolerWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

class SingleSpoolerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
        ASSERT_TRUE(beginProgramTest(&root));
        ASSERT_TRUE(CreateDirectoryA((root + "\\Alice").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((root + "\\Alice\\backup").c_str(), nullptr));
        setInstallFolder(root);
    }

    void TearDown() override
    {
        second.end();
        first.end();
        holder.end();
        endProgramTest(root);
    }

    // Starts the helper that holds the named mutex and waits until it does.
    void holdMutexElsewhere(const char* name, HANDLE* keep = nullptr)
    {
        ASSERT_TRUE(holder.start(HOLD_MUTEX_PATH, std::string("--mutex ") + name));
        ASSERT_TRUE(waitFor([&] { return mutexHeldElsewhere(keep, name); }, startTimeoutMs));
    }

    void quit(SpoolerProcess& spooler, HWND window)
    {
        ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
        DWORD exitCode = 255;
        ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
        EXPECT_EQ(0u, exitCode);
    }

    std::string root;
    SpoolerProcess first;
    SpoolerProcess second;
    SpoolerProcess holder;
};

TEST_F(SingleSpoolerTest, SecondStartBringsTheFirstUpAndADeliveryPrintsOnce)
{
    ASSERT_TRUE(first.start(SPOOLER_PATH));
    DialogWatcher firstBoxes(IDOK, 0, first.id());
    HWND window = first.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(IsIconic(window));

    ASSERT_TRUE(second.start(SPOOLER_PATH));
    DialogWatcher secondBoxes(IDOK, 0, second.id());
    DWORD exitCode = 255;
    ASSERT_TRUE(second.waitForExit(startTimeoutMs, &exitCode)) << "the second start keeps running";
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(secondBoxes.seen().empty());
    EXPECT_TRUE(first.running());
    EXPECT_EQ(1, spoolerWindowCount());
    EXPECT_TRUE(waitFor([&] { return !IsIconic(window); }, startTimeoutMs)) << "the window was not restored";
    EXPECT_EQ(window, GetForegroundWindow());

    // Two pages, two documents; a second spooler would print them again on
    // its own next tick, so the count is read again a tick and a page later.
    SpoolDatabase job;
    job.records = {textRecord("ONLY ONCE 1\n"), textRecord("ONLY ONCE 2\n")};
    ASSERT_TRUE(writeWholeFile(root + "\\Alice\\backup\\" + spoolFileName, buildSpoolFile(job)));
    ASSERT_TRUE(waitForPrintedFiles(2, deliveryTimeoutMs));
    EXPECT_FALSE(waitForPrintedFiles(3, static_cast<int>(spoolTimerPeriod) + 3000));
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(2u, pdfs.size());
    EXPECT_NE(std::string::npos, printedText(pdfs[0]).find("ONLY ONCE 1"));
    EXPECT_NE(std::string::npos, printedText(pdfs[1]).find("ONLY ONCE 2"));

    EXPECT_TRUE(firstBoxes.seen().empty());
    quit(first, window);
}

TEST_F(SingleSpoolerTest, StartWhileAnotherSessionRunsOneStartsAndRuns)
{
    holdMutexElsewhere("Global\\FernquillDesktopSpooler");
    ASSERT_TRUE(first.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, first.id());

    HWND window = first.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window) << "the start stepped aside";
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(1, spoolerWindowCount());
    // Its own mutex, not one it shares with the helper.
    holder.end();
    EXPECT_TRUE(mutexHeldElsewhere());
    quit(first, window);
}

// A holder in this session that never shows a window (stuck before making
// one) doesn't leave the session without a spooler: the start runs, without
// the guard, and says nothing.
TEST_F(SingleSpoolerTest, HolderWithoutAWindowDoesNotKeepTheStartOut)
{
    holdMutexElsewhere(spoolerMutexName);
    ASSERT_TRUE(first.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, first.id());
    HWND window = first.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window) << "the start stepped aside";
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_TRUE(holder.running());
    quit(first, window);
}

// The setup ends the spooler with Exit after an upgrade and starts it again
// at once: the new start, meeting the old one while it winds down, waits for
// it rather than step aside.
TEST_F(SingleSpoolerTest, StartRightAfterExitRuns)
{
    ASSERT_TRUE(first.start(SPOOLER_PATH));
    HWND oldWindow = first.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, oldWindow);

    ASSERT_TRUE(PostMessageA(oldWindow, WM_COMMAND, IDM_EXIT, 0));
    ASSERT_TRUE(second.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, second.id());
    DWORD exitCode = 255;
    ASSERT_TRUE(first.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
    HWND window = second.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window) << "the new start stepped aside";
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_EQ(1, spoolerWindowCount());
    quit(second, window);
}

// A spooler killed, or crashed, leaves the mutex abandoned: the next start
// owns it all the same and runs.
TEST_F(SingleSpoolerTest, MutexAbandonedByItsHolderIsTakenOver)
{
    HANDLE kept = nullptr;
    holdMutexElsewhere(spoolerMutexName, &kept);
    ASSERT_NE(nullptr, kept);
    holder.end();

    ASSERT_TRUE(first.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, first.id());
    HWND window = first.waitUntilListening(startTimeoutMs);
    CloseHandle(kept);
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_TRUE(mutexHeldElsewhere());
    quit(first, window);
}

}  // namespace
