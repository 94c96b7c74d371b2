// Where the sync tools leave spool files, and finding them there.
//
// Every sync tool keeps the hand-held's databases in a backup folder, laid
// out its own way: palm-sync as DIR/<user>/backup/, pilot-xfer straight in
// the folder it was given, J-Pilot in ~/.jpilot/backup (a link to the
// latest dated folder), Palm Desktop under Wine as <install>/<user>/backup/.
// So a watched folder is searched two levels deep, through links, for files
// whose names the name rules take for the spool database (HotSync's
// "Fernquill_Spool_File.PDB", pilot-xfer's and J-Pilot's
// "Fernquill Spool File.pdb"). Each folder is searched once however many
// links lead to it, so a link loop ends there.
#ifndef FERNQUILL_UNIX_SPOOL_SEARCH_H
#define FERNQUILL_UNIX_SPOOL_SEARCH_H

#include <sys/stat.h>

#include <cstddef>

// The longest path the watcher builds, without its terminator.
const size_t maxWatchPathLength = 4095;

// How deep below a watched folder spool files are looked for: 2 reaches
// <user>/backup/.
const int maxSearchDepth = 2;

// What a search reports; any hook may be nullptr.
struct SpoolSearch {
    // A regular file (links followed) whose name names the spool database.
    void (*fileFound)(void* context, const char* path, const struct stat& status);
    // Each folder searched, the watched folder first: these are the folders
    // whose changes matter.
    void (*folderSearched)(void* context, const char* path);
    // A folder below the watched one that can't be listed (errno value).
    void (*folderUnreadable)(void* context, const char* path, int error);
    void* context;
};

// Searches folder and its folders two levels down. Returns 0, or -1 with
// errno set when folder itself can't be listed (missing, no rights).
int searchSpoolFolder(const char* folder, const SpoolSearch& search);

// The hand-held user a spool file belongs to, for the job's title and the
// PDF's name: the folder above a "backup" folder (palm-sync, Palm Desktop),
// else the folder the file lies in, which is the watched folder itself
// where a layout has no user folder (pilot-xfer, J-Pilot). root is the
// watched folder path was found in. Returns 0, or -1 when it does not fit.
int spoolUserName(const char* root, const char* path, char* name, size_t capacity);

// The places the sync tools use by default for the user whose home is home,
// each written into folders[i] (capacity bytes each), at most maxFolders:
// J-Pilot's backup folder, ~/.pilot (pilot-link's documented example) and
// Palm Desktop's install folder in the Wine prefix ~/.wine (from its
// user.reg). Only those whose folder exists, or whose parent does (J-Pilot
// before its first backup), are given; when none is, J-Pilot's and
// ~/.pilot, to be waited for. Returns how many.
int defaultSpoolFolders(const char* home, char (*folders)[maxWatchPathLength + 1], int maxFolders);

// The Palm Desktop install folder that the Wine prefix's user.reg names
// ("Path" under the U.S. Robotics key, else the 3Com key), as a path in the
// prefix's drives. Returns 0, or -1 when there is none.
int winePalmFolder(const char* prefix, char* folder, size_t capacity);

#endif
