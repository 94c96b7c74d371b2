// The spool change poll: one timer tick of the main window.
#ifndef FERNQUILL_WATCH_SPOOL_POLL_H
#define FERNQUILL_WATCH_SPOOL_POLL_H

#include <windows.h>

// The spool timer: id 1 on the main window, every five seconds.
const UINT_PTR spoolTimerId = 1;
const UINT spoolTimerPeriod = 5000;

// Checks every change watch without waiting and, for the lowest-numbered
// user whose folder changed and whose spool file carries a new time stamp,
// runs a print job with window as the main window.
void pollSpoolChanges(HWND window);

#endif
