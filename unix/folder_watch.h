// Being told when something changes in the watched folders.
//
// The watcher needs little: to wake when an entry of one of its folders is
// made, removed, renamed or written, and otherwise to sleep without costing
// CPU. That is one small interface, so another system's notification
// (macOS's FSEvents, or kqueue) can stand behind it. On Linux it is inotify,
// used directly: the kernel's own interface, no dependency, and all this
// needs; libuv would bring an event loop the rest of the program has no use
// for, and its FSEvents backend is the only part of it macOS would gain.
//
// Folders the notification can't see into are polled instead by the
// caller: network shares (NFS, SMB, sshfs and other FUSE file systems),
// where a sync on another machine writes without the kernel here knowing,
// and any folder once the system's limit on watches is reached.
#ifndef FERNQUILL_UNIX_FOLDER_WATCH_H
#define FERNQUILL_UNIX_FOLDER_WATCH_H

#include <signal.h>

struct FolderWatch;

// A watch over no folder yet; nullptr when the system gives none (every
// folder is then polled).
FolderWatch* openFolderWatch();

// Marks every folder watched so far as no longer wanted; those not added
// again before forgetUnwantedFolders() stop being watched. A search of the
// folders runs between the two.
void startFolderSet(FolderWatch* watch);
void forgetUnwantedFolders(FolderWatch* watch);

// Asks to be woken by changes to the folder's entries. Returns 0, or -1 when
// this folder must be polled instead.
int addWatchedFolder(FolderWatch* watch, const char* path);

// Waits up to timeoutMs (-1: without limit) for a change in any watched
// folder, and takes in every change that has happened. waitMask is the
// signal mask while waiting (as ppoll takes it): a program that blocks its
// stop signals everywhere else unblocks them here, so a signal that came
// while it was busy ends the wait instead of being missed. Returns 1 when
// something changed, 0 when the time ran out or a signal came, -1 when the
// watch failed.
int waitForFolderChange(FolderWatch* watch, int timeoutMs, const sigset_t* waitMask);

void closeFolderWatch(FolderWatch* watch);

// Whether this system's notification sees every change in the folder: false
// on network and FUSE file systems.
bool notificationSeesFolder(const char* path);

#endif
