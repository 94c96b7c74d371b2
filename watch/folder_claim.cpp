// Folder claims: a mutex per backup folder, never owned, whose existence
// alone is the claim. A mutex made by another account carries that
// account's default security, so this account's CreateMutex fails with
// ERROR_ACCESS_DENIED: that too means the folder is taken.
#include "watch/folder_claim.h"

#include <cstdio>

int readFolderIdentity(const char* path, FolderIdentity* identity)
{
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION information;
    BOOL read = GetFileInformationByHandle(folder, &information);
    CloseHandle(folder);
    if (!read || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return -1;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    identity->created = information.ftCreationTime;
    return 0;
}

void folderClaimName(const FolderIdentity& identity, char* name)
{
    std::snprintf(name, folderClaimNameSize, "Global\\FernquillSpoolFolder-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(identity.volume), static_cast<unsigned long>(identity.indexHigh),
                  static_cast<unsigned long>(identity.indexLow));
}

int folderClaimNameAt(const char* folder, char* name)
{
    FolderIdentity identity;
    if (readFolderIdentity(folder, &identity) != 0) {
        return -1;
    }
    folderClaimName(identity, name);
    return 0;
}

int claimFolder(const FolderIdentity& identity, HANDLE* claim)
{
    *claim = nullptr;
    char name[folderClaimNameSize];
    folderClaimName(identity, name);
    HANDLE object = CreateMutexA(nullptr, FALSE, name);
    if (object == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED ? -1 : -2;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Our handle would keep the other spooler's claim alive after it
        // ends: let go of it at once.
        CloseHandle(object);
        return -1;
    }
    *claim = object;
    return 0;
}

int claimFolderAt(const char* folder, HANDLE* claim)
{
    *claim = nullptr;
    FolderIdentity identity;
    if (readFolderIdentity(folder, &identity) != 0) {
        return -2;
    }
    return claimFolder(identity, claim);
}

void releaseFolderClaim(HANDLE* claim)
{
    if (*claim != nullptr) {
        CloseHandle(*claim);
        *claim = nullptr;
    }
}
