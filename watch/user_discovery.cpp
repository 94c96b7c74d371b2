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
// users' watches keep working.
#include "watch/user_watch.h"

#include <cstdio>
#include <cstring>

char installFolder[pathSize];
WatchTable watchTable;
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

bool readInstallFolder()
{
    if (readRegistryText("Software", "U.S. Robotics", "Pilot Desktop", "Core", "Path", installFolder, pathSize) == 0 ||
        readRegistryText("Software", "3Com", "Palm Desktop", "Core", "Path", installFolder, pathSize) == 0) {
        // An empty path would have us list the root of the current drive.
        return installFolder[0] != '\0';
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

// The spool file's current stamp, or 0 if it is missing or unreadable.
uint32_t currentSpoolTime(const UserWatch& user)
{
    char path[pathSize];
    if (spoolFilePath(user, path) != 0) {
        return 0;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    FILETIME written;
    uint32_t stamp = GetFileTime(file, nullptr, nullptr, &written) ? written.dwLowDateTime : 0;
    CloseHandle(file);
    return stamp;
}

// Stores a located user, with its watch and the stamp of the spool file
// already there. False, and nothing stored, if its paths don't fit.
bool addUser(const char* user, const char* backupFolder)
{
    UserWatch& entry = watchTable.users[watchTable.watchCount];
    char watched[pathSize];
    if (!buildPath(watched, "%s\\%s\\%s", installFolder, user, backupFolder)) {
        return false;
    }
    std::strcpy(entry.userFolder, user);
    std::strcpy(entry.backupFolder, backupFolder);
    char spool[pathSize];
    if (spoolFilePath(entry, spool) != 0) {
        return false;
    }
    entry.changeWatch = FindFirstChangeNotificationA(watched, FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
    if (entry.changeWatch != INVALID_HANDLE_VALUE) {
        FindNextChangeNotification(entry.changeWatch);
    }
    entry.lastSpoolTime = currentSpoolTime(entry);
    watchTable.watchCount++;
    return true;
}

void listUsers()
{
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
        if (isSubfolder(entry) && fitsFolderName(entry.cFileName) && findBackupFolder(entry.cFileName, backupFolder)) {
            addUser(entry.cFileName, backupFolder);
        }
    } while (watchTable.watchCount < maxWatchedUsers && FindNextFileA(listing, &entry));
    FindClose(listing);
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

int spoolFilePath(const UserWatch& user, char* path)
{
    int length = std::snprintf(path, pathSize, "%s\\%s\\%s\\%s", installFolder, user.userFolder, user.backupFolder,
                               spoolFileName);
    return length >= 0 && length < pathSize ? 0 : -1;
}

void releaseWatches()
{
    for (int i = 0; i < watchTable.watchCount; i++) {
        if (watchTable.users[i].changeWatch != INVALID_HANDLE_VALUE) {
            FindCloseChangeNotification(watchTable.users[i].changeWatch);
        }
    }
    std::memset(&watchTable, 0, sizeof(watchTable));
}

int discoverUsers(HWND window, bool quiet)
{
    releaseWatches();
    if (!readInstallFolder()) {
        installFolder[0] = '\0';
        if (!quiet) {
            tellUser(window, registryErrorText, registryErrorCaption);
        }
        return -1;
    }
    listUsers();
    if (watchTable.watchCount == 0 && !quiet) {
        tellUser(window, noUsersText, noUsersCaption);
    }
    return 0;
}
