// hold_spooler_mutex: stands in for a spooler running in another Windows
// session. It holds the spooler's machine-wide mutex and has no window in
// this one, until it is ended. Exits 1 at once if the mutex is held already.
#include <windows.h>

#include "app/single_spooler.h"

int main()
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, spoolerMutexName);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
