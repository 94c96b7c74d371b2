// Under Wine or Windows: the CPU time of one periodic look (reviewWatches)
// over 50 watched users, on real folders, change watches and claims, with
// nothing changed since the last look, which is what nearly every look
// finds; and of one full look (reviewAllWatches), which a change brings. The install folder is made under the temp folder and named in the
// registry for the run, as Palm Desktop would. Plain Win32 timing, since
// Google Benchmark is not built for Windows here.
//
// Usage: watch_review_bench [looks]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "watch/folder_claim.h"
#include "watch/user_watch.h"

namespace {

const char* const pathKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";

double cpuSeconds()
{
    FILETIME created;
    FILETIME ended;
    FILETIME kernel;
    FILETIME user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7;
}

double wallSeconds()
{
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void removeTree(const std::string& root, int users)
{
    for (int i = 0; i < users; i++) {
        std::string user = root + "\\User" + std::to_string(100 + i);
        DeleteFileA((user + "\\backup\\" + spoolFileName).c_str());
        RemoveDirectoryA((user + "\\backup").c_str());
        RemoveDirectoryA(user.c_str());
    }
    RemoveDirectoryA(root.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    int looks = argc > 1 ? std::atoi(argv[1]) : 2000;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string root = std::string(temp) + "watch_review_bench_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(root.c_str(), nullptr);
    for (int i = 0; i < maxWatchedUsers; i++) {
        std::string user = root + "\\User" + std::to_string(100 + i);
        CreateDirectoryA(user.c_str(), nullptr);
        CreateDirectoryA((user + "\\backup").c_str(), nullptr);
        // Half the users have a job printed long ago.
        if (i % 2 == 0) {
            HANDLE file = CreateFileA((user + "\\backup\\" + spoolFileName).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
            CloseHandle(file);
        }
    }
    RegSetKeyValueA(HKEY_CURRENT_USER, pathKey, "Path", REG_SZ, root.c_str(), static_cast<DWORD>(root.size() + 1));
    // Left in place for the looks, as Palm Desktop leaves it: each look
    // reads it again.
    int found = discoverUsers(nullptr);
    if (found != 0 || watchTable.watchCount != maxWatchedUsers) {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, pathKey, "Path");
        std::fprintf(stderr, "discovery found %d users\n", watchTable.watchCount);
        releaseWatches();
        removeTree(root, maxWatchedUsers);
        return 1;
    }
    int watched = 0;
    for (int i = 0; i < watchTable.watchCount; i++) {
        watched += watchTable.users[i].state == watchActive ? 1 : 0;
    }

    std::printf("%d users (%d watched), %d looks each\n", watchTable.watchCount, watched, looks);
    reviewWatches();  // the first makes the tree's watch and goes through everything
    const char* kinds[] = {"periodic look, nothing changed (every tenth in full)", "full look"};
    for (int kind = 0; kind < 2; kind++) {
        double cpuStart = cpuSeconds();
        double wallStart = wallSeconds();
        for (int i = 0; i < looks; i++) {
            if (kind == 0) {
                reviewWatches();
            } else {
                reviewAllWatches();
            }
        }
        double cpu = cpuSeconds() - cpuStart;
        double wall = wallSeconds() - wallStart;
        std::printf("%s: %.3f ms CPU a look (%.3f ms elapsed)\n", kinds[kind], 1000 * cpu / looks,
                    1000 * wall / looks);
    }
    releaseWatches();

    // A second account's spooler, which finds every folder claimed by the
    // first one, tries every claim at every look.
    HANDLE claims[maxWatchedUsers];
    for (int i = 0; i < maxWatchedUsers; i++) {
        std::string folder = root + "\\User" + std::to_string(100 + i) + "\\backup";
        claimFolderAt(folder.c_str(), &claims[i]);
    }
    RegSetKeyValueA(HKEY_CURRENT_USER, pathKey, "Path", REG_SZ, root.c_str(), static_cast<DWORD>(root.size() + 1));
    discoverUsers(nullptr);
    reviewWatches();
    double cpuStart = cpuSeconds();
    for (int i = 0; i < looks; i++) {
        reviewWatches();
    }
    std::printf("periodic look, all %d folders claimed by another spooler: %.3f ms CPU a look\n",
                watchTable.watchCount, 1000 * (cpuSeconds() - cpuStart) / looks);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, pathKey, "Path");
    releaseWatches();
    for (HANDLE& claim : claims) {
        releaseFolderClaim(&claim);
    }
    removeTree(root, maxWatchedUsers);
    return 0;
}
