// The backup folders the spooler watches, found once at start-up.
//
// Palm Desktop keeps one folder per hand-held user under its install folder,
// and HotSync copies each user's databases into a backup folder below it:
// "backup", or on some versions the folder that holds
// "Saved_Preferences.PRC". The install folder comes from the registry. Each
// located user gets a change watch on the backup folder, and the time stamp
// of any spool file already there is noted, so that a file present before
// start-up is not printed again.
#ifndef FERNQUILL_WATCH_USER_WATCH_H
#define FERNQUILL_WATCH_USER_WATCH_H

#include <windows.h>

#include <cstdint>

const int maxWatchedUsers = 50;
const int folderNameSize = 50;  // names of up to 49 characters
const int pathSize = 512;       // paths of up to 511 characters

extern const char* const spoolFileName;  // "Fernquill_Spool_File.PDB"

struct UserWatch {
    char userFolder[folderNameSize];    // below the install folder
    char backupFolder[folderNameSize];  // below the user's folder: the watched one
    HANDLE changeWatch;                 // INVALID_HANDLE_VALUE if it could not be made
    uint32_t lastSpoolTime;             // low 32 bits of the spool file's last write; 0 if none
};

struct WatchTable {
    UserWatch users[maxWatchedUsers];
    int watchCount;
};

// Process-wide, built by discoverUsers() and read by the poll and the status
// view.
extern char installFolder[pathSize];
extern WatchTable watchTable;

// Opens HKEY_CURRENT_USER\key1\key2\key3\key4 one level at a time, reads the
// value valueName, whatever its type, into buffer as terminated text, and
// closes every key it opened. Returns 0, or -1 if a key or the value is
// missing or the value does not fit in bufferSize bytes with its terminator.
int readRegistryText(const char* key1, const char* key2, const char* key3, const char* key4,
                     const char* valueName, char* buffer, int bufferSize);

// Finds the install folder and fills the watch table, releasing any earlier
// one. Returns 0, or -1 when neither registry location names an install
// folder (after telling the user). window is the main window: it is shown
// before any message box. quiet: no box at all, for a start at log-on, where
// an account without Palm Desktop or without users yet is no news.
int discoverUsers(HWND window, bool quiet = false);

// Closes every change watch and empties the table.
void releaseWatches();

// The spool file path of a user into path (pathSize bytes); -1 if it would
// not fit.
int spoolFilePath(const UserWatch& user, char* path);

#endif
