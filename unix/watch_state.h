// What spool_watch has printed, kept across restarts.
//
// For each spool file, by path: the time stamp, size and a hash of the bytes
// that were last printed from it (or, at the first start, found there). The
// same bytes are never printed twice, whatever a sync tool does to the time
// stamp: pilot-xfer removes the file and writes it again with the
// database's own modification date, J-Pilot copies it into each new dated
// folder. An entry is written only once CUPS has taken the job, so a crash
// or a stopped CUPS costs a job printed again at worst, never one lost.
//
// The file ($XDG_STATE_HOME/fernquill/spool_watch.state) is text, one line
// per spool file: the hash in hex, the size, the time stamp in nanoseconds
// and the path (backslash, LF and CR escaped). It is always written whole,
// as a new file renamed over the old one, so a crash leaves the old file or
// the new, never half of one.
#ifndef FERNQUILL_UNIX_WATCH_STATE_H
#define FERNQUILL_UNIX_WATCH_STATE_H

#include <cstddef>
#include <cstdint>

#include "unix/spool_search.h"

// What was last printed of one spool file.
struct PrintedFile {
    char* path;  // owned
    int64_t modifiedNs;
    int64_t size;
    uint64_t hash;
};

struct WatchState {
    char path[maxWatchPathLength + 1];  // the state file
    bool existed;                       // false at the first start
    PrintedFile* files;
    size_t count;
    size_t capacity;
};

// 64-bit FNV-1a over the bytes. It tells a sync tool's rewrite of the same
// bytes from new bytes; it is no defence against made-up collisions, which
// whoever can write the backup folders has no need of.
uint64_t hashSpoolBytes(const unsigned char* bytes, size_t size);

// Where the state file lies: $XDG_STATE_HOME/fernquill/spool_watch.state,
// or ~/.local/state/... without it. Returns 0, or -1 when there is neither
// XDG_STATE_HOME nor HOME, or the path does not fit.
int defaultStatePath(char* path, size_t capacity);

// Reads the state file at path into *state (which it starts empty).
// Returns 0, also when there is no file yet (state->existed false); -1
// when it is damaged, with *line the first bad line; -2 when it can't be
// read (errno set). On -1 and -2 the state is empty and existed false.
int loadWatchState(const char* path, WatchState* state, int* line);

// Writes the whole state to a new file beside it and renames that over the
// old one; makes the folder when missing. Returns 0, or -1 with errno set.
int saveWatchState(const WatchState& state);

// The entry for path, or nullptr.
PrintedFile* findPrintedFile(WatchState* state, const char* path);

// Sets path's entry, adding it when new. Returns 0, or -1 out of memory.
int recordPrintedFile(WatchState* state, const char* path, int64_t modifiedNs, int64_t size, uint64_t hash);

// Whether any spool file last printed exactly these bytes.
bool bytesPrinted(const WatchState& state, int64_t size, uint64_t hash);

void freeWatchState(WatchState* state);

// One watcher per user: a second one (a sync tool's --once hook beside the
// running service) would print the same files. Takes the lock file beside
// the state file and holds it until the process ends. Returns its
// descriptor, -1 when another watcher holds it, or -2 when it can't be had
// at all (the state folder unwritable), which costs nothing but the guard.
int lockWatchState(const char* statePath);

#endif
