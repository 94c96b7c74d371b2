// hold_spooler_mutex: plays another spooler, with no window, until it is
// ended. Exits 1 at once if what it is to hold is held already.
//
// - no argument: holds the machine-wide name that spoolers once held for
//   every session, which a spooler in this session must no longer heed;
// - --mutex NAME: holds that mutex; given the spooler's own name, it plays a
//   spooler of this session that took the mutex and made no window (or,
//   ended from outside, one that crashed);
// - --folder FOLDER: holds that backup folder's claim, as another account's
//   spooler printing it would, but prints and records nothing: a spooler
//   that hangs, or is killed in the middle of every job;
// - --folder FOLDER --record: holds the claim and, as a spooler that prints
//   each delivery would, records every spool file written there as printed.
#include <windows.h>

#include <cstring>
#include <string>

#include "watch/folder_claim.h"
#include "watch/printed_record.h"
#include "watch/user_watch.h"

namespace {

// Records each new spool file in folder as printed, for ever.
void recordDeliveries(const char* folder)
{
    std::string spool = std::string(folder) + "\\" + spoolFileName;
    for (;;) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        FILETIME recorded;
        if (GetFileAttributesExA(spool.c_str(), GetFileExInfoStandard, &data) &&
            (readPrintedRecord(folder, &recorded) != 0 || CompareFileTime(&recorded, &data.ftLastWriteTime) != 0)) {
            writePrintedRecord(folder, data.ftLastWriteTime);
        }
        Sleep(50);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--folder") == 0) {
        HANDLE claim = nullptr;
        if (claimFolderAt(argv[2], &claim) != 0) {
            return 1;
        }
        if (argc == 4 && std::strcmp(argv[3], "--record") == 0) {
            recordDeliveries(argv[2]);
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
