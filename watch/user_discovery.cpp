// User folder discovery.
//
// Names come from the file system and the registry, so nothing is trusted to
// fit: a value that fills its buffer is refused rather than left without a
// terminator, and a folder name too long for the table, or a path too long
// to build, makes us pass that folder by. Truncating instead could point the
// watch, or the printing, at another folder than the user's.
//
// A user whose change watch can't be made (for instance when "backup" is a
// file) is still listed, as the status view shows every located user; its
// slot holds INVALID_HANDLE_VALUE and the poll leaves it out, so the other
// users' watches keep working. The periodic look tries it again.
//
// Looking at every folder costs a file system call or two per user, which
// Wine makes dear (about a third of a millisecond each). So the periodic
// look goes through every user only when a watch on the whole install
// folder's tree says something changed there, and every tenth look
// regardless, in case that watch is the one that died.
//
// A change watch holds a handle on its folder, and on Windows a folder
// deleted while a handle is open stays in the way, "delete pending", until
// the handle closes: HotSync could not make it again. So the periodic look
// holds nothing open (it opens a folder for a moment, with every sharing
// mode, and reads the spool file's stamp from its entry), and a watch whose
// folder is gone is closed, here or by the poll.
#include "watch/user_watch.h"

#include <cstdio>
#include <cstring>

#include "watch/folder_claim.h"
#include "watch/printed_record.h"

char installFolder[pathSize];
WatchTable watchTable;
FILETIME previousListingTime;

namespace {

// The whole install folder's tree, watched for any change: while it stays
// quiet, no folder came or went and no spool file was written, and a look
// has only the claims to try. Folder and file names and last writes.
const DWORD treeChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
HANDLE treeWatch = INVALID_HANDLE_VALUE;
int looksSinceFullReview = 0;

// The session's state as last told, and whether the claims were given up
// for it.
bool awayFromConsole = false;
bool claimsGivenUp = false;

}  // namespace
const char* const spoolFileName = "Fernquill_Spool_File.PDB";

namespace {

const char* const registryErrorText = "Cannot locate a path to the Palm Desktop backup files";
const char* const registryErrorCaption = "Registry Error";
const char* const noUsersText = "Can't find any valid user folders";
const char* const noUsersCaption = "Fernquill Spooler";
const char* const preferencesFile = "Saved_Preferences.PRC";

// snprintf into a path buffer; false if the result would not fit.
bool buildPath(char* path, const char* format, const char* a, const char* b, const char* c)
{
    int length = std::snprintf(path, pathSize, format, a, b, c);
    return length >= 0 && length < pathSize;
}

bool exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool isSubfolder(const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && std::strcmp(entry.cFileName, ".") != 0 &&
           std::strcmp(entry.cFileName, "..") != 0;
}

bool fitsFolderName(const char* name)
{
    return std::strlen(name) < static_cast<size_t>(folderNameSize);
}

// The install folder the registry names now, into folder (pathSize bytes).
bool readInstallFolder(char* folder)
{
    if (readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Path", folder, pathSize) == 0 ||
        readRegistryText("Software", "3Com", "Palm Desktop", "Core", "Path", folder, pathSize) == 0) {
        // An empty path would have us list the root of the current drive.
        return folder[0] != '\0';
    }
    return false;
}

// The user's backup folder: "backup" when anything of that name is there,
// else the first subfolder holding the saved preferences. False if none.
bool findBackupFolder(const char* user, char* backupFolder)
{
    char path[pathSize];
    if (buildPath(path, "%s\\%s\\%s", installFolder, user, "backup") && exists(path)) {
        std::strcpy(backupFolder, "backup");
        return true;
    }
    if (!buildPath(path, "%s\\%s\\%s", installFolder, user, "*")) {
        return false;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(path, &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    do {
        if (!isSubfolder(entry) || !fitsFolderName(entry.cFileName)) {
            continue;
        }
        char preferences[pathSize];
        if (buildPath(preferences, "%s\\%s\\%s", installFolder, user, entry.cFileName) &&
            std::strlen(preferences) + 1 + std::strlen(preferencesFile) < static_cast<size_t>(pathSize)) {
            std::strcat(preferences, "\\");
            std::strcat(preferences, preferencesFile);
            if (exists(preferences)) {
                std::strcpy(backupFolder, entry.cFileName);
                found = true;
            }
        }
    } while (!found && FindNextFileA(listing, &entry));
    FindClose(listing);
    return found;
}

enum FolderFound { folderMissing, folderIsFile, folderPresent };

// What is at path, and a folder's identity: its volume and file index,
// which a folder made again under the same name doesn't keep. The index
// needs the folder opened, which Wine makes dear, so the entry's creation
// time comes first: while it stays as `known` had it, the folder is taken
// to be the same one. (Wine reports the time of the last change of the
// folder's entries as its creation time, so there the index is read after
// each sync; Windows keeps the true one.) The folder is opened for a moment
// only, with every sharing mode, so it can be deleted meanwhile. A folder
// that is being deleted can't be opened and counts as missing.
FolderFound lookAtFolder(const char* path, const FolderIdentity* known, FolderIdentity* identity)
{
    WIN32_FILE_ATTRIBUTE_DATA entry;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &entry)) {
        return folderMissing;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return folderIsFile;
    }
    if (known != nullptr && CompareFileTime(&entry.ftCreationTime, &known->created) == 0) {
        *identity = *known;
        return folderPresent;
    }
    if (readFolderIdentity(path, identity) != 0) {
        return folderMissing;
    }
    identity->created = entry.ftCreationTime;
    return folderPresent;
}

bool sameFolder(const FolderIdentity& a, const FolderIdentity& b)
{
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

bool watchedFolderPath(const UserWatch& user, char* path)
{
    return buildPath(path, "%s\\%s\\%s", installFolder, user.userFolder, user.backupFolder);
}

// Letter case as the file system sees it for the names it lists: a user
// folder renamed only in case is still the same folder.
bool sameName(const char* a, const char* b)
{
    for (;; a++, b++) {
        char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
        char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (x != y) {
            return false;
        }
        if (x == '\0') {
            return true;
        }
    }
}

bool inTable(const char* user)
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (sameName(watchTable.users[i].userFolder, user)) {
            return true;
        }
    }
    return false;
}

// Whether user's own folder, not only its backup folder, has gone: the
// hand-held was renamed or removed in Palm Desktop.
bool userFolderGone(const UserWatch& user)
{
    if (user.state != watchGone) {
        return false;
    }
    char path[pathSize];
    int length = std::snprintf(path, pathSize, "%s\\%s", installFolder, user.userFolder);
    return length >= 0 && length < pathSize && !exists(path);
}

// The slot for a user found now: the next free one or, with the table full,
// that of a user whose folder has gone altogether, so that a PC that has
// seen more than 50 hand-helds over the years still watches the ones it has
// now. -1 if there is none.
int freeSlot()
{
    if (watchTable.watchCount < maxWatchedUsers) {
        return watchTable.watchCount;
    }
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (userFolderGone(watchTable.users[i])) {
            return i;
        }
    }
    return -1;
}

// For a folder this spooler has just claimed: whether the spool file there
// is a job still to print. The folder's printed record says what the last
// holder printed. Without one, the file counts as printed when
// noRecordMeansPrinted (at start-up, as before there were records) or when
// its stamp is the one this spooler last knew. A folder found only now
// prints a file only if it was written after foundAfter. A file taken as
// printed is recorded so, for whoever holds the folder next.
void settleClaimedFolder(UserWatch& user, bool noRecordMeansPrinted, const FILETIME* foundAfter)
{
    char folder[pathSize];
    FILETIME written;
    if (!watchedFolderPath(user, folder) || !spoolWrittenAt(user, &written)) {
        return;
    }
    FILETIME recorded;
    bool hasRecord = readPrintedRecord(folder, &recorded) == 0;
    bool recordedNow = hasRecord && CompareFileTime(&recorded, &written) == 0;
    bool printed = hasRecord ? recordedNow : noRecordMeansPrinted || written.dwLowDateTime == user.lastSpoolTime;
    if (!printed && foundAfter != nullptr && CompareFileTime(&written, foundAfter) <= 0) {
        printed = true;
    }
    if (!printed) {
        user.lastSpoolTime = 0;
        user.pending = true;
        return;
    }
    user.lastSpoolTime = written.dwLowDateTime;
    if (!recordedNow) {
        writePrintedRecord(folder, written);
    }
}

// Stores a located user in the table's slot `slot`, with its watch, and
// settles whether the spool file already there is a job. False, and nothing
// stored, if its paths don't fit.
bool addUser(int slot, const char* user, const char* backupFolder, const FILETIME* foundAfter)
{
    UserWatch& entry = watchTable.users[slot];
    char watched[pathSize];
    if (!buildPath(watched, "%s\\%s\\%s", installFolder, user, backupFolder)) {
        return false;
    }
    closeWatch(entry);
    std::memset(&entry, 0, sizeof(entry));
    std::strcpy(entry.userFolder, user);
    std::strcpy(entry.backupFolder, backupFolder);
    char spool[pathSize];
    if (spoolFilePath(entry, spool) != 0) {
        return false;
    }
    entry.changeWatch = INVALID_HANDLE_VALUE;
    entry.claim = nullptr;
    FILETIME written;
    if (foundAfter == nullptr && spoolWrittenAt(entry, &written)) {
        // What this spooler knows of a folder another one holds.
        entry.lastSpoolTime = written.dwLowDateTime;
    }
    if (openWatch(entry)) {
        settleClaimedFolder(entry, foundAfter == nullptr, foundAfter);
    }
    if (slot == watchTable.watchCount) {
        watchTable.watchCount++;
    }
    return true;
}

void listUsers(bool foundLater)
{
    // Taken before the listing, so that a file written while it runs is new
    // to the next one.
    FILETIME listedAt;
    GetSystemTimeAsFileTime(&listedAt);
    FILETIME foundAfter = previousListingTime;
    previousListingTime = listedAt;
    if (freeSlot() < 0) {
        return;
    }
    char pattern[pathSize];
    int length = std::snprintf(pattern, pathSize, "%s\\*", installFolder);
    if (length < 0 || length >= pathSize) {
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        char backupFolder[folderNameSize];
        if (isSubfolder(entry) && fitsFolderName(entry.cFileName) && !inTable(entry.cFileName) &&
            findBackupFolder(entry.cFileName, backupFolder)) {
            int slot = freeSlot();
            if (slot < 0) {
                break;
            }
            addUser(slot, entry.cFileName, backupFolder, foundLater ? &foundAfter : nullptr);
        }
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
}

// Whether the claim on the folder last seen with that identity is free now.
// Tried alone first, from the identity already known: the second account's
// spooler may find every folder taken, look after look.
bool claimIsFree(const FolderIdentity& identity)
{
    HANDLE probe = nullptr;
    if (claimFolder(identity, &probe) != 0) {
        return false;
    }
    releaseFolderClaim(&probe);
    return true;
}

// One user's part of the periodic look.
void reviewUser(UserWatch& user)
{
    char folder[pathSize];
    FolderIdentity identity;
    if (!watchedFolderPath(user, folder) ||
        (user.state == watchClaimedElsewhere && !claimIsFree(user.folderIdentity))) {
        return;
    }
    const FolderIdentity* known = user.state == watchActive ? &user.folderIdentity : nullptr;
    FolderFound found = lookAtFolder(folder, known, &identity);
    if (found != folderPresent) {
        closeWatch(user);
        user.state = found == folderMissing ? watchGone : watchFailed;
        return;
    }
    // The old watch of a folder made again is on the deleted one, and would
    // never fire again.
    if (user.state != watchActive || user.changeWatch == INVALID_HANDLE_VALUE ||
        !sameFolder(identity, user.folderIdentity)) {
        if (!openWatch(user)) {
            return;
        }
        // Taken over, back again, or made again: what was printed there
        // meanwhile, by us or another spooler, is in its record.
        settleClaimedFolder(user, false, nullptr);
    }
    user.folderIdentity = identity;
    // A watch may die without a word: the stamp says whether a job came.
    FILETIME written;
    if (spoolWrittenAt(user, &written) && written.dwLowDateTime != user.lastSpoolTime) {
        user.pending = true;
    }
}

void tellUser(HWND window, const char* text, const char* caption)
{
    ShowWindow(window, SW_SHOWNORMAL);
    MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace

int readRegistryText(const char* key1, const char* key2, const char* key3, const char* key4,
                     const char* valueName, char* buffer, int bufferSize)
{
    const char* path[] = {key1, key2, key3, key4};
    HKEY opened[4];
    int depth = 0;
    HKEY parent = HKEY_CURRENT_USER;
    for (; depth < 4; depth++) {
        if (RegOpenKeyExA(parent, path[depth], 0, KEY_READ, &opened[depth]) != ERROR_SUCCESS) {
            break;
        }
        parent = opened[depth];
    }
    int result = -1;
    DWORD size = static_cast<DWORD>(bufferSize);
    if (depth == 4 && bufferSize > 0 &&
        RegQueryValueExA(parent, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
            ERROR_SUCCESS) {
        // The data need not end in a terminator, whatever the value's type:
        // add one, and refuse a value that leaves no room for it.
        if (size < static_cast<DWORD>(bufferSize)) {
            buffer[size] = '\0';
            result = 0;
        } else if (buffer[bufferSize - 1] == '\0') {
            result = 0;
        }
    }
    while (depth > 0) {
        RegCloseKey(opened[--depth]);
    }
    return result;
}

// Read from the folder entry: HotSync, writing the file with no sharing,
// must never find it held by the periodic look.
bool spoolWrittenAt(const UserWatch& user, FILETIME* written)
{
    char path[pathSize];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (spoolFilePath(user, path) != 0 || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        return false;
    }
    *written = data.ftLastWriteTime;
    return true;
}

int spoolFilePath(const UserWatch& user, char* path)
{
    int length = std::snprintf(path, pathSize, "%s\\%s\\%s\\%s", installFolder, user.userFolder, user.backupFolder,
                               spoolFileName);
    return length >= 0 && length < pathSize ? 0 : -1;
}

void closeWatch(UserWatch& user)
{
    if (user.changeWatch != INVALID_HANDLE_VALUE && user.changeWatch != nullptr) {
        FindCloseChangeNotification(user.changeWatch);
    }
    user.changeWatch = INVALID_HANDLE_VALUE;
    releaseFolderClaim(&user.claim);
    user.pending = false;
}

bool openWatch(UserWatch& user)
{
    closeWatch(user);
    char folder[pathSize];
    FolderIdentity identity;
    FolderFound found = watchedFolderPath(user, folder) ? lookAtFolder(folder, nullptr, &identity) : folderIsFile;
    if (found != folderPresent) {
        user.state = found == folderMissing ? watchGone : watchFailed;
        return false;
    }
    // Kept even when the claim fails, for the looks to try it again.
    user.folderIdentity = identity;
    int claimed = claimFolder(identity, &user.claim);
    if (claimed != 0) {
        user.state = claimed == -1 ? watchClaimedElsewhere : watchFailed;
        return false;
    }
    user.changeWatch = FindFirstChangeNotificationA(folder, FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
    if (user.changeWatch == INVALID_HANDLE_VALUE || !FindNextChangeNotification(user.changeWatch)) {
        closeWatch(user);
        user.state = watchFailed;
        return false;
    }
    user.folderIdentity = identity;
    user.state = watchActive;
    return true;
}

void releaseWatches()
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        closeWatch(watchTable.users[i]);
    }
    std::memset(&watchTable, 0, sizeof(watchTable));
    if (treeWatch != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(treeWatch);
        treeWatch = INVALID_HANDLE_VALUE;
    }
    looksSinceFullReview = 0;
}

void reviewAllWatches()
{
    if (awayFromConsole || installFolder[0] == '\0') {
        return;
    }
    for (int i = 0; i < watchTable.watchCount; i++) {
        reviewUser(watchTable.users[i]);
    }
    listUsers(true);
}

namespace {

// Palm Desktop moved, or was installed again elsewhere: the table is
// built anew for the folder the registry names now, as at start-up. A value
// that has gone leaves the table as it is: a registry being rewritten by a
// setup says nothing yet. Returns whether it was rebuilt.
bool followInstallFolder()
{
    char named[pathSize];
    if (!readInstallFolder(named) || std::strcmp(named, installFolder) == 0) {
        return false;
    }
    releaseWatches();
    std::memcpy(installFolder, named, sizeof(installFolder));
    listUsers(false);
    return true;
}

}  // namespace

void reviewWatches()
{
    if (awayFromConsole || followInstallFolder() || installFolder[0] == '\0') {
        return;
    }
    // Re-armed, or made, before the look, so that a change made during it
    // brings the next look in full.
    bool changed = treeWatch == INVALID_HANDLE_VALUE || WaitForSingleObject(treeWatch, 0) != WAIT_TIMEOUT;
    if (treeWatch != INVALID_HANDLE_VALUE && changed && !FindNextChangeNotification(treeWatch)) {
        FindCloseChangeNotification(treeWatch);
        treeWatch = INVALID_HANDLE_VALUE;
    }
    if (treeWatch == INVALID_HANDLE_VALUE) {
        treeWatch = FindFirstChangeNotificationA(installFolder, TRUE, treeChanges);
    }
    if (changed || ++looksSinceFullReview >= looksPerFullReview) {
        looksSinceFullReview = 0;
        reviewAllWatches();
        // Our watch must not keep a deleted install folder from going.
        if (treeWatch != INVALID_HANDLE_VALUE && GetFileAttributesA(installFolder) == INVALID_FILE_ATTRIBUTES) {
            FindCloseChangeNotification(treeWatch);
            treeWatch = INVALID_HANDLE_VALUE;
        }
        return;
    }
    // Another account's spooler lets go of a folder without a change in it.
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (watchTable.users[i].state == watchClaimedElsewhere) {
            reviewUser(watchTable.users[i]);
        }
    }
}

void releaseOtherClaims(const UserWatch& keep)
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        UserWatch& user = watchTable.users[i];
        if (&user != &keep && user.state == watchActive) {
            closeWatch(user);
            user.state = watchClaimedElsewhere;
        }
    }
}

void setSessionAway(bool away)
{
    awayFromConsole = away;
}

bool sessionAway()
{
    return awayFromConsole;
}

bool followSession()
{
    if (awayFromConsole && !claimsGivenUp) {
        for (int i = 0; i < watchTable.watchCount; i++) {
            UserWatch& user = watchTable.users[i];
            if (user.state == watchActive || user.state == watchClaimedElsewhere) {
                closeWatch(user);
                user.state = watchAway;
            }
        }
        claimsGivenUp = true;
    } else if (!awayFromConsole && claimsGivenUp) {
        claimsGivenUp = false;
        // Tried as folders another spooler had: taken if it let them go.
        for (int i = 0; i < watchTable.watchCount; i++) {
            if (watchTable.users[i].state == watchAway) {
                watchTable.users[i].state = watchClaimedElsewhere;
            }
        }
        reviewAllWatches();
    }
    return awayFromConsole;
}

void recordPrinted(const UserWatch& user, const FILETIME& written)
{
    char folder[pathSize];
    if (watchedFolderPath(user, folder)) {
        writePrintedRecord(folder, written);
    }
}

int discoverUsers(HWND window, bool quiet)
{
    releaseWatches();
    if (!readInstallFolder(installFolder)) {
        installFolder[0] = '\0';
        if (!quiet) {
            tellUser(window, registryErrorText, registryErrorCaption);
        }
        return -1;
    }
    listUsers(false);
    if (watchTable.watchCount == 0 && !quiet) {
        tellUser(window, noUsersText, noUsersCaption);
    }
    return 0;
}
