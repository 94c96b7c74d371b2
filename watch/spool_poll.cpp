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
//
// Every sixth tick, half a minute, starts with the periodic look
// (reviewWatches): it finds new users, remakes watches that died and marks
// pending any user whose spool file's stamp moved without its watch firing.
// A pending user is served exactly as a fired watch is, in table order, so
// a dead watch delays a job by one look at most and never loses it.
//
// A job that can't start, because the printer can't be opened for a moment
// (the Windows print spooler restarting, a network printer waking), is not
// noted as printed: it is tried again at each look for ten minutes, the
// user told only at the first try, and then given up as a job that ran.
#include "watch/spool_poll.h"

#include "jobs/print_job.h"
#include "watch/user_watch.h"

namespace {

int ticksSinceReview = 0;
const DWORD retryPeriodMs = 10 * 60 * 1000;

// A wait fails for everyone when one handle in it is no longer a waitable
// handle; find the watches that are dead and close them, for the periodic
// look to remake.
void closeDeadWatches(int from)
{
    for (int i = from; i < watchTable.watchCount; i++) {
        UserWatch& user = watchTable.users[i];
        if (user.state == watchActive && user.changeWatch != INVALID_HANDLE_VALUE &&
            WaitForSingleObject(user.changeWatch, 0) == WAIT_FAILED) {
            closeWatch(user);
            user.state = watchFailed;
        }
    }
}

// The lowest-numbered watched user from table index `from` on that is due:
// pending, or with a fired watch. -1 if none. The wait names only the
// lowest fired watch, and users after the first pending one can't come
// before it, so the wait asks only about those before it.
int nextDueUser(int from)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        HANDLE handles[maxWatchedUsers];
        int users[maxWatchedUsers];
        DWORD count = 0;
        int firstPending = -1;
        for (int i = from; i < watchTable.watchCount; i++) {
            const UserWatch& user = watchTable.users[i];
            if (user.state != watchActive) {
                continue;
            }
            if (user.pending) {
                firstPending = i;
                break;
            }
            if (user.changeWatch != INVALID_HANDLE_VALUE) {
                handles[count] = user.changeWatch;
                users[count] = i;
                count++;
            }
        }
        if (count == 0) {
            return firstPending;
        }
        DWORD fired = WaitForMultipleObjects(count, handles, FALSE, 0);
        if (fired < WAIT_OBJECT_0 + count) {
            return users[fired - WAIT_OBJECT_0];
        }
        if (fired != WAIT_FAILED) {
            return firstPending;
        }
        closeDeadWatches(from);
    }
    return -1;
}

// Makes the watch wait for the next change. A watch that can't be re-armed
// would never fire again: it is made anew, and the user is left pending,
// since a change between the two watches would go unseen.
void rearm(UserWatch& user)
{
    user.pending = false;
    if (user.changeWatch == INVALID_HANDLE_VALUE || FindNextChangeNotification(user.changeWatch)) {
        return;
    }
    if (openWatch(user)) {
        user.pending = true;
    }
}

// Runs the job, then notes it as printed for whoever holds the folder
// next. A spooler killed during the job notes nothing, so the next holder
// prints that job whole. The record is written before the watch is re-armed,
// so that writing it doesn't look like a delivery. A job that couldn't
// start is left unnoted, for the looks to try again.
void printFor(UserWatch& user, const char* path, const FILETIME& written, HWND window)
{
    bool retry = user.retrying && user.retryStamp == written.dwLowDateTime;
    // The print dialog waits for the person at the PC, maybe for hours: the
    // other folders are left to the other spoolers meanwhile.
    bool dialogFirst = spoolerOptions.showPrintDialog && !spoolerOptions.screenOnly;
    if (dialogFirst) {
        releaseOtherClaims(user);
    }
    int result = runDeliveredPrintJob(path, window, retry);
    if (dialogFirst) {
        reviewAllWatches();
    }
    if (result == printJobNotStarted) {
        if (!retry) {
            user.retrying = true;
            user.retryStamp = written.dwLowDateTime;
            user.retrySince = GetTickCount();
        }
        if (GetTickCount() - user.retrySince < retryPeriodMs) {
            rearm(user);
            return;
        }
    }
    user.retrying = false;
    user.lastSpoolTime = written.dwLowDateTime;
    recordPrinted(user, written);
    rearm(user);
    // A delivery during the job fired the watch before the re-arm, which
    // forgot it: the stamp tells.
    FILETIME now;
    if (spoolWrittenAt(user, &now) && CompareFileTime(&now, &written) != 0) {
        user.pending = true;
    }
}

// The users whose job couldn't start are tried again.
void retryUnstartedJobs()
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        UserWatch& user = watchTable.users[i];
        if (user.retrying && user.state == watchActive) {
            user.pending = true;
        }
    }
}

// Looks at one fired user's spool file and prints it if it is new. Returns
// false only when the file is there but held open by someone (the watch
// stays fired for a later tick, and the caller may serve another user), or
// when the folder has gone: its watch is closed there and then, so that
// HotSync can make the folder again.
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
        if (error == ERROR_PATH_NOT_FOUND) {
            closeWatch(user);
            user.state = watchGone;
            return false;
        }
        if (error == ERROR_FILE_NOT_FOUND) {
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
    printFor(user, path, written, window);
    return true;
}

}  // namespace

void restartReviewCountdown()
{
    ticksSinceReview = 0;
}

void pollSpoolChanges(HWND window)
{
    if (printJobRunning() || followSession()) {
        return;
    }
    if (++ticksSinceReview >= ticksPerReview) {
        ticksSinceReview = 0;
        reviewWatches();
        retryUnstartedJobs();
    }
    // Past a held file the rest of the table is asked again, so the held
    // watch is not re-armed.
    int from = 0;
    while (from < watchTable.watchCount) {
        int due = nextDueUser(from);
        if (due < 0 || serveUser(watchTable.users[due], window)) {
            return;
        }
        from = due + 1;
    }
}
