// hold_spooler_mutex: plays another spooler, with no window, until it is
// ended. Exits 1 at once if what it is to hold is held already.
//
// - no argument: holds the machine-wide name that spoolers once held for
//   every session, which a spooler in this session must no longer heed;
// - --mutex NAME: holds that mutex; given the spooler's own name, it plays a
//   spooler of this session that took the mutex and made no window (or,
//   ended from outside, one that crashed);
// - --folder FOLDER: holds that backup folder's claim, as another account's
//   spooler printing it would.
#include <windows.h>

#include <cstring>

#include "watch/folder_claim.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--folder") == 0) {
        HANDLE claim = nullptr;
        if (claimFolder(argv[2], &claim) != 0) {
            return 1;
        }
        Sleep(INFINITE);
        return 0;
    }
    const char* name = argc == 3 && std::strcmp(argv[1], "--mutex") == 0 ? argv[2] : "Global\\FernquillDesktopSpooler";
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 1;
    }
    Sleep(INFINITE);
    return 0;
}
