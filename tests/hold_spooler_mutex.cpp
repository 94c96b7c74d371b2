// hold_spooler_mutex: stands in for a spooler running in another Windows
// session. It holds the spooler's machine-wide mutex and has no window in
// this one, until it is ended. Exits 1 at once if the mutex is held already.
//
// hold_spooler_mutex <folder>: holds that backup folder's claim instead, as
// another account's spooler printing it would. Exits 1 at once if it can't.
#include <windows.h>

#include "app/single_spooler.h"
#include "watch/folder_claim.h"

int main(int argc, char** argv)
{
    if (argc > 1) {
        HANDLE claim = nullptr;
        if (claimFolder(argv[1], &claim) != 0) {
            return 1;
        }
        Sleep(INFINITE);
        return 0;
    }
    HANDLE mutex = CreateMutexA(nullptr, TRUE, spoolerMutexName);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
