// The spool change poll.
//
// Each tick serves at most one user: the lowest-numbered one whose change
// watch has fired and whose spool file can be looked at. HotSync writes the
// spool file in several steps, so the poll opens it with no sharing at all:
// while HotSync (or anyone) still holds it, the open fails and the watch is
// left fired, so the next tick tries that user first again. The same tick
// goes on to the next fired user meanwhile: a virus scanner, a backup
// program or a viewer may hold a file for as long as it likes, and the
// other users must not wait for it.
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

// The users that have a change watch, with their watches, in table order.
// Users without one are left out of the wait: one invalid handle would
// fail it for everyone.
DWORD watchedUsers(HANDLE* handles, int* users)
{
    DWORD count = 0;
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (watchTable.users[i].changeWatch != INVALID_HANDLE_VALUE) {
            handles[count] = watchTable.users[i].changeWatch;
            users[count] = i;
            count++;
        }
    }
    return count;
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

// Looks at one fired user's spool file and prints it if it is new. Returns
// false only when the file is there but held open by someone: the watch
// stays fired for a later tick, and the caller may serve another user.
bool serveUser(UserWatch& user, HWND window)
{
    char path[pathSize];
    if (spoolFilePath(user, path) != 0) {
        rearm(user);
        return true;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            rearm(user);
            return true;
        }
        return false;
    }
    FILETIME written;
    BOOL stamped = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    if (!stamped || written.dwLowDateTime == user.lastSpoolTime) {
        rearm(user);
        return true;
    }
    // Stored before the job, so that a job that fails or is cancelled is not
    // tried again for the same file.
    user.lastSpoolTime = written.dwLowDateTime;
    printFor(user, path, window);
    return true;
}

}  // namespace

void pollSpoolChanges(HWND window)
{
    if (jobRunning) {
        return;
    }
    HANDLE handles[maxWatchedUsers];
    int users[maxWatchedUsers];
    DWORD count = watchedUsers(handles, users);
    // The wait names only the lowest fired watch; past a held file the rest
    // of the list is asked again, so the held watch is not re-armed.
    DWORD from = 0;
    while (from < count) {
        DWORD fired = WaitForMultipleObjects(count - from, handles + from, FALSE, 0);
        if (fired >= WAIT_OBJECT_0 + (count - from)) {
            return;
        }
        DWORD at = from + (fired - WAIT_OBJECT_0);
        if (serveUser(watchTable.users[users[at]], window)) {
            return;
        }
        from = at + 1;
    }
}
