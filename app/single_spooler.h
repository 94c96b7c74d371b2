// One spooler per machine.
//
// Two spoolers would both watch the same backup folders and print every job
// twice: the log-on entry and the Start menu may both start one, and a
// second Windows user logged on at the same time may share the Palm Desktop
// folder. The running spooler therefore holds a named mutex in the global
// namespace, which every session sees, from before its window class is
// registered until it ends.
#ifndef FERNQUILL_APP_SINGLE_SPOOLER_H
#define FERNQUILL_APP_SINGLE_SPOOLER_H

#include <windows.h>

constexpr char spoolerMutexName[] = "Global\\FernquillDesktopSpooler";

// The box a start shows when the spooler already runs in another session.
extern const char* const otherSessionCaption;  // "Fernquill Spooler"
extern const char* const otherSessionText;

// Makes this process the machine's spooler. Returns 0 when it now holds the
// mutex (or when the mutex can't be made at all: the spooler then runs
// unguarded, as it would have without it); -1 when a spooler already runs in
// this session, whose window it brought up, restored and in front; -2 when
// one runs in another session, after saying so in an OK-only box.
int claimSpoolerMutex();

// Gives the mutex back at the end of the run; nothing if it isn't held.
void releaseSpoolerMutex();

#endif
