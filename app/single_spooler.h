// One spooler per Windows session.
//
// Two spoolers of one session would both watch the same backup folders and
// print every job twice: the log-on entry and the Start menu may both start
// one. The running spooler therefore holds a named mutex in its session's
// namespace from before its window class is registered until it ends.
// Spoolers of other sessions, other Windows users logged on at the same
// time, each run their own: which one prints a given backup folder is
// settled per folder, not by this guard.
#ifndef FERNQUILL_APP_SINGLE_SPOOLER_H
#define FERNQUILL_APP_SINGLE_SPOOLER_H

#include <windows.h>

constexpr char spoolerMutexName[] = "Local\\FernquillDesktopSpooler";

// Makes this process the session's spooler. Returns 0 when it now holds the
// mutex (or when it can't have it at all: the spooler then runs unguarded,
// as it would have without it); -1 when a spooler already runs in this
// session, whose window it brought up, restored and in front.
int claimSpoolerMutex();

// Gives the mutex back at the end of the run; nothing if it isn't held.
void releaseSpoolerMutex();

#endif
