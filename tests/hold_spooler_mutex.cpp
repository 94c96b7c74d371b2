// hold_spooler_mutex [name]: holds a named mutex and has no window, until it
// is ended. By default the machine-wide name that spoolers once held for
// every session, which a spooler in this session must no longer heed; given
// the spooler's own name, it plays a spooler of this session that took the
// mutex and made no window (or, ended from outside, one that crashed).
// Exits 1 at once if the mutex is held already.
#include <windows.h>

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "Global\\FernquillDesktopSpooler";
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
