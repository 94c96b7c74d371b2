// The spool change poll.
//
// Each tick serves at most one user: the lowest-numbered one whose change
// watch has fired. HotSync writes the spool file in several steps, so the
// poll opens it with no sharing at all: while HotSync (or anyone) still holds
// it, the open fails, the watch is left fired and the next tick tries again.
// A change made after the watch fired but before it is re-armed is not
// reported again, which is why the time stamp, not the watch, decides
// whether there is a new job.
//
// HotSync writes many files into every backup folder at each sync. A folder
// that changed but holds no spool file at all is therefore re-armed at once:
// left fired, it would be served first on every tick and the users after it
// would never be printed for again.
//
// A job pumps messages (its message boxes and the print dialog run nested
// loops), so a tick can arrive while one runs. That tick does nothing; the
// watches that fire meanwhile stay fired and are served by later ticks.
#include "watch/spool_poll.h"

#include "jobs/print_job.h"
#include "watch/user_watch.h"

namespace {

bool jobRunning = false;

// The lowest-numbered fired watch, or -1. Users without a watch are left out
// of the wait: one invalid handle would fail it for everyone.
int firstFiredUser()
{
    HANDLE handles[maxWatchedUsers];
    int users[maxWatchedUsers];
    DWORD count = 0;
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (watchTable.users[i].changeWatch != INVALID_HANDLE_VALUE) {
            handles[count] = watchTable.users[i].changeWatch;
            users[count] = i;
            count++;
        }
    }
    if (count == 0) {
        return -1;
    }
    DWORD fired = WaitForMultipleObjects(count, handles, FALSE, 0);
    if (fired >= WAIT_OBJECT_0 + count) {
        return -1;
    }
    return users[fired - WAIT_OBJECT_0];
}

void rearm(UserWatch& user)
{
    FindNextChangeNotification(user.changeWatch);
}

void printFor(UserWatch& user, const char* path, HWND window)
{
    bool wasMinimized = IsIconic(window) != FALSE;
    ShowWindow(window, SW_SHOWNORMAL);
    jobRunning = true;
    runPrintJob(path, window);
    jobRunning = false;
    if (wasMinimized) {
        ShowWindow(window, SW_MINIMIZE);
    }
    rearm(user);
}

}  // namespace

void pollSpoolChanges(HWND window)
{
    if (jobRunning) {
        return;
    }
    int fired = firstFiredUser();
    if (fired < 0) {
        return;
    }
    UserWatch& user = watchTable.users[fired];
    char path[pathSize];
    if (spoolFilePath(user, path) != 0) {
        rearm(user);
        return;
    }

    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            rearm(user);
        }
        return;
    }
    FILETIME written;
    BOOL stamped = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    if (!stamped || written.dwLowDateTime == user.lastSpoolTime) {
        rearm(user);
        return;
    }
    // Stored before the job, so that a job that fails or is cancelled is not
    // tried again for the same file.
    user.lastSpoolTime = written.dwLowDateTime;
    printFor(user, path, window);
}
