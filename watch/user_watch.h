// The backup folders the spooler watches: found at start-up, and looked at
// again every half minute while it runs.
//
// Palm Desktop keeps one folder per hand-held user under its install folder,
// and HotSync copies each user's databases into a backup folder below it:
// "backup", or on some versions the folder that holds
// "Saved_Preferences.PRC". The install folder comes from the registry. Each
// located user gets a change watch on the backup folder, and the time stamp
// of any spool file already there is noted, so that a file present before
// start-up is not printed again.
//
// The spooler runs for months. Hand-helds that sync for the first time make
// new user folders, restores and renames make backup folders again, and
// other accounts' spoolers come and go: the periodic look (reviewWatches)
// keeps the table in step with all of that.
#ifndef FERNQUILL_WATCH_USER_WATCH_H
#define FERNQUILL_WATCH_USER_WATCH_H

#include <windows.h>

#include <cstdint>

#include "watch/folder_claim.h"

const int maxWatchedUsers = 50;
const int folderNameSize = 50;  // names of up to 49 characters
const int pathSize = 512;       // paths of up to 511 characters

extern const char* const spoolFileName;  // "Fernquill_Spool_File.PDB"

// Why a user in the table is or isn't watched. Watched is 0, so a table
// filled by hand with names alone lists them all as watched.
enum WatchState {
    watchActive = 0,        // claimed, with a change watch
    watchGone,              // the backup folder isn't there (any more)
    watchFailed,            // no change watch could be made ("backup" is a file...)
    watchClaimedElsewhere,  // another account's spooler prints it
    watchAway,              // given up while this session is away from the console
};

struct UserWatch {
    char userFolder[folderNameSize];    // below the install folder
    char backupFolder[folderNameSize];  // below the user's folder: the watched one
    HANDLE changeWatch;                 // INVALID_HANDLE_VALUE if it could not be made
    uint32_t lastSpoolTime;             // low 32 bits of the spool file's last write; 0 if none
    WatchState state;
    HANDLE claim;                   // the folder's claim (folder_claim.h) while watched; else nullptr
    FolderIdentity folderIdentity;  // the watched folder's, when its watch or claim was last tried
    bool pending;                   // to be served as if its watch had fired
    // A delivered job that could not start (no printer for a moment): its
    // stamp, and since when (GetTickCount) it is tried again at each look.
    bool retrying;
    uint32_t retryStamp;
    DWORD retrySince;
};

struct WatchTable {
    UserWatch users[maxWatchedUsers];
    int watchCount;
};

// Process-wide, built by discoverUsers() and read by the poll and the status
// view.
extern char installFolder[pathSize];
extern WatchTable watchTable;

// When the install folder was last listed, by discovery or a full look, as
// a full FILETIME: a user found at the next listing whose spool file was
// written after this has a job waiting, its first. An older file came with
// a folder restored, copied in or renamed, and is not printed.
extern FILETIME previousListingTime;

// How many spool timer ticks make one periodic look: 30 seconds. Every
// looksPerFullReview-th look goes through every user even if nothing seems
// to have changed.
const int ticksPerReview = 6;
const int looksPerFullReview = 10;

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

// Closes every change watch, gives back every claim and empties the table.
void releaseWatches();

// The full look. For every user in the table: a backup folder that is gone loses its watch and claim; one that
// is back, or was made again (its file index changed), or whose watch
// died, gets a new watch; one another spooler gave up is claimed; and a
// watched user whose spool file's stamp differs from lastSpoolTime is made
// pending. Then users new in the install folder join the table, up to 50
// (a full one gives a new user the slot of a user whose own folder has
// gone); a spool file already there is a job if it was written after the
// previous listing and its folder's printed record doesn't name it.
// A folder claimed anew (at start-up, taken over from another spooler, or
// back again) prints its spool file when the printed record
// (printed_record.h) names another one.
// Does nothing before discovery found an install folder.
void reviewAllWatches();

// The periodic look: reviewAllWatches() when a watch on the install
// folder's whole tree has seen a change since the last look (or can't be
// made), and on every looksPerFullReview-th look; otherwise it only tries
// again to claim the folders other spoolers had.
void reviewWatches();

// Notes in the folder's printed record that the spool file written at
// `written` has been printed. The caller holds the folder's claim.
void recordPrinted(const UserWatch& user, const FILETIME& written);

// Whether this Windows session is disconnected (switched away from, or a
// remote session that was closed without logging off). Its spooler then
// prints nothing: the pages would go to a printer and a window that nobody
// here sees, and a box or dialog would wait for nobody, holding every
// folder. So it gives up its claims, for another session's spooler to
// take, and takes them back once it is connected again.
// setSessionAway() only notes it; followSession() acts on it, and must not
// be called while a job runs. followSession() returns whether the session
// is away, in which case the caller polls and looks at nothing.
void setSessionAway(bool away);
bool sessionAway();
bool followSession();

// Gives back the claims of every watched user but keep, for a while this
// spooler can't print them (a dialog waits for the person at the PC): they
// are left as folders another spooler has, which the looks, or
// reviewAllWatches(), take back once they are free.
void releaseOtherClaims(const UserWatch& keep);

// Closes user's watch and gives back its claim, leaving state as it is.
void closeWatch(UserWatch& user);

// Claims user's folder and makes its change watch, setting state. Returns
// whether the user is now watched.
bool openWatch(UserWatch& user);

// The spool file's last write, without opening it; false if there is none.
bool spoolWrittenAt(const UserWatch& user, FILETIME* written);

// The spool file path of a user into path (pathSize bytes); -1 if it would
// not fit.
int spoolFilePath(const UserWatch& user, char* path);

#endif
