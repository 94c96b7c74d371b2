// The spool change poll: one timer tick of the main window.
#ifndef FERNQUILL_WATCH_SPOOL_POLL_H
#define FERNQUILL_WATCH_SPOOL_POLL_H

#include <windows.h>

// The spool timer: id 1 on the main window, every five seconds.
const UINT_PTR spoolTimerId = 1;
const UINT spoolTimerPeriod = 5000;

// Every ticksPerReview-th tick, first runs the periodic look
// (reviewWatches). Then checks every change watch without waiting and serves
// the lowest-numbered user whose folder changed or who is pending, passing
// over users whose spool file is held open (they stay pending for the next
// tick): if that user's spool file carries a new time stamp, runs a print job with window as the main window.
// At most one job a tick.
void pollSpoolChanges(HWND window);

// Starts the count of ticks to the next periodic look afresh, as after
// discovery: the first look comes a whole period later.
void restartReviewCountdown();

#endif
