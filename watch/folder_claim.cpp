// Folder claims: a mutex per backup folder, never owned, whose existence
// alone is the claim. A mutex made by another account carries that
// account's default security, so this account's CreateMutex fails with
// ERROR_ACCESS_DENIED: that too means the folder is taken.
#include "watch/folder_claim.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const int longestPath = 511;

}  // namespace

int folderClaimName(const char* folder, char* name)
{
    size_t length = std::strlen(folder);
    if (length > static_cast<size_t>(longestPath)) {
        return -1;
    }
    char lower[longestPath + 1];
    std::memcpy(lower, folder, length + 1);
    CharLowerBuffA(lower, static_cast<DWORD>(length));
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (size_t i = 0; i < length; i++) {
        hash ^= static_cast<unsigned char>(lower[i]);
        hash *= 0x100000001b3ULL;
    }
    std::snprintf(name, folderClaimNameSize, "Global\\FernquillSpoolFolder-%08lx%08lx",
                  static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash & 0xFFFFFFFFUL));
    return 0;
}

int claimFolder(const char* folder, HANDLE* claim)
{
    *claim = nullptr;
    char name[folderClaimNameSize];
    if (folderClaimName(folder, name) != 0) {
        return -2;
    }
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

void releaseFolderClaim(HANDLE* claim)
{
    if (*claim != nullptr) {
        CloseHandle(*claim);
        *claim = nullptr;
    }
}
