// The folder watch on Linux: one inotify descriptor, a watch per folder.
// inotify gives one watch per inode, so a folder reached by two paths (a
// link) is watched once. Events are only a reason to look again: the caller
// searches its folders afresh, so nothing here keeps which folder is which.
#include "unix/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

struct FolderWatch {
    int descriptor;
    int* watches;     // the watch descriptors
    bool* wanted;     // whether the last search added each again
    int count;
    int capacity;
};

namespace {

// What a sync tool does to a folder's entries: a file made, written,
// closed, renamed or removed, a folder made or the folder itself moved.
const uint32_t changeEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY |
                              IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// File system magic numbers (statfs(2)) whose changes may come from
// another machine.
const long remoteFileSystems[] = {
    0x6969,               // NFS
    0xFF534D42,           // CIFS
    0xFE534D42,           // SMB2
    0x517B,               // SMB
    0x65735546,           // FUSE (sshfs, gvfs, rclone)
    0x01021997,           // 9p
    0x564C,               // NCP
    0x6B414653,           // AFS
    0x73757245,           // Coda
    0x47504653,           // GPFS
    0x0BD00BD0,           // Lustre
    0x19830326,           // FhGFS / BeeGFS
    0x00C36400,           // Ceph
};

int findWatch(const FolderWatch* watch, int descriptor)
{
    for (int i = 0; i < watch->count; i++) {
        if (watch->watches[i] == descriptor) {
            return i;
        }
    }
    return -1;
}

}  // namespace

FolderWatch* openFolderWatch()
{
    int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    FolderWatch* watch = static_cast<FolderWatch*>(std::calloc(1, sizeof(FolderWatch)));
    if (watch == nullptr) {
        close(descriptor);
        return nullptr;
    }
    watch->descriptor = descriptor;
    return watch;
}

void startFolderSet(FolderWatch* watch)
{
    for (int i = 0; i < watch->count; i++) {
        watch->wanted[i] = false;
    }
}

void forgetUnwantedFolders(FolderWatch* watch)
{
    int kept = 0;
    for (int i = 0; i < watch->count; i++) {
        if (watch->wanted[i]) {
            watch->watches[kept] = watch->watches[i];
            watch->wanted[kept] = true;
            kept++;
        } else {
            inotify_rm_watch(watch->descriptor, watch->watches[i]);
        }
    }
    watch->count = kept;
}

int addWatchedFolder(FolderWatch* watch, const char* path)
{
    if (!notificationSeesFolder(path)) {
        return -1;
    }
    int descriptor = inotify_add_watch(watch->descriptor, path, changeEvents);
    if (descriptor < 0) {
        return -1;  // the limit on watches (ENOSPC), or the folder just went
    }
    int at = findWatch(watch, descriptor);
    if (at < 0) {
        if (watch->count == watch->capacity) {
            int capacity = watch->capacity == 0 ? 16 : watch->capacity * 2;
            int* watches = static_cast<int*>(std::realloc(watch->watches, capacity * sizeof(int)));
            if (watches == nullptr) {
                inotify_rm_watch(watch->descriptor, descriptor);
                return -1;
            }
            watch->watches = watches;
            bool* wanted = static_cast<bool*>(std::realloc(watch->wanted, capacity * sizeof(bool)));
            if (wanted == nullptr) {
                inotify_rm_watch(watch->descriptor, descriptor);
                return -1;
            }
            watch->wanted = wanted;
            watch->capacity = capacity;
        }
        at = watch->count++;
        watch->watches[at] = descriptor;
    }
    watch->wanted[at] = true;
    return 0;
}

int waitForFolderChange(FolderWatch* watch, int timeoutMs, const sigset_t* waitMask)
{
    struct pollfd ready = {watch->descriptor, POLLIN, 0};
    struct timespec timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    int result = ppoll(&ready, 1, timeoutMs < 0 ? nullptr : &timeout, waitMask);
    if (result < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (result == 0) {
        return 0;
    }
    // The events are drained, not read one by one: any of them means the
    // same, look again.
    alignas(struct inotify_event) char events[16384];
    while (read(watch->descriptor, events, sizeof events) > 0) {
    }
    return 1;
}

void closeFolderWatch(FolderWatch* watch)
{
    if (watch == nullptr) {
        return;
    }
    close(watch->descriptor);
    std::free(watch->watches);
    std::free(watch->wanted);
    std::free(watch);
}

bool notificationSeesFolder(const char* path)
{
    struct statfs system;
    if (statfs(path, &system) != 0) {
        return false;
    }
    for (long type : remoteFileSystems) {
        if (static_cast<uint32_t>(system.f_type) == static_cast<uint32_t>(type)) {
            return false;
        }
    }
    return true;
}
