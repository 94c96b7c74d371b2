// One spooler per session: the mutex, and what a second start does.
//
// A start that finds the mutex held looks for the running spooler's window
// and, once it is sure of it, brings it up and ends quietly. The mutex and
// FindWindow both see only this session, so whatever either finds is ours.
//
// The holder may be just starting (it takes the mutex a moment before it
// makes its window) or just ending (its window is gone, or no longer
// answers, while the process winds down). Either way the answer comes
// within moments, so the start keeps asking for a while before it decides:
// - it waits on the mutex a little each round, and takes over the moment
//   the holder lets go; a mutex abandoned by a holder that was killed or
//   crashed is handed over just the same;
// - a window that answers a message is a running spooler;
// - a window that doesn't answer may be one that is ending, or one busy
//   with a long job, whose printing doesn't pump messages; after a while it
//   counts as running;
// - a holder that shows no window for a while is stuck before making one,
//   or ends without letting go; the start then runs without the guard
//   rather than leave the session with no spooler.
#include "app/single_spooler.h"

#include "app/spooler_app.h"

namespace {

HANDLE spoolerMutex = nullptr;

const DWORD mutexWaitMs = 100;
const UINT answerTimeoutMs = 500;
// How long a window that doesn't answer, or no window at all, is given
// before the start decides.
const DWORD busyWindowPatienceMs = 10000;
const DWORD noWindowPatienceMs = 3000;

enum MutexState { mutexOwned, mutexHeld, mutexUnusable };

// Tries to own the mutex, waiting up to mutexWaitMs for its holder to let
// go; on success the handle is kept for the whole run.
MutexState tryOwnMutex()
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, spoolerMutexName);
    if (mutex == nullptr) {
        // A mutex made by a spooler of this session running with other rights
        // (started elevated, or as another user) carries that token's default
        // security, which doesn't let this start open it.
        if (GetLastError() == ERROR_ACCESS_DENIED) {
            Sleep(mutexWaitMs);
            return mutexHeld;
        }
        return mutexUnusable;
    }
    DWORD waited = WaitForSingleObject(mutex, mutexWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        spoolerMutex = mutex;
        return mutexOwned;
    }
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? mutexHeld : mutexUnusable;
}

bool windowAnswers(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, answerTimeoutMs, &result) != 0;
}

// Asynchronously, so that a spooler busy with a job doesn't hold this start
// up: it opens when the job lets it.
void bringUp(HWND window)
{
    if (IsIconic(window)) {
        ShowWindowAsync(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
}

}  // namespace

int claimSpoolerMutex()
{
    DWORD started = GetTickCount();
    DWORD windowLastSeen = started;
    for (;;) {
        MutexState state = tryOwnMutex();
        if (state != mutexHeld) {
            return 0;
        }
        HWND window = FindWindowA(spoolerClassName, nullptr);
        DWORD now = GetTickCount();
        if (window != nullptr) {
            windowLastSeen = now;
            if (windowAnswers(window) || now - started >= busyWindowPatienceMs) {
                bringUp(window);
                return -1;
            }
        } else if (now - windowLastSeen >= noWindowPatienceMs) {
            return 0;
        }
    }
}

void releaseSpoolerMutex()
{
    if (spoolerMutex != nullptr) {
        ReleaseMutex(spoolerMutex);
        CloseHandle(spoolerMutex);
        spoolerMutex = nullptr;
    }
}
