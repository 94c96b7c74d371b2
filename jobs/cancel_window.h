// The window a job shows while it prints on a printer, so that the user can
// stop it: a small modeless dialog with the page's number and a Cancel
// button, over the main window.
//
// The job runs inside one message of the main window and returns to the
// message loop only when it ends, so it pumps this window's messages itself:
// at fixed points of each page, and through the printer context's abort
// procedure while the driver spools a page. Only this window's messages are
// pumped there, so nothing else of the program runs in the middle of a page.
//
// It is made of a window class of our own and plain controls rather than a
// dialog resource: jobs/ is linked into programs that don't carry the
// spooler's resources. One job runs at a time, so there is one window at
// most, kept here.
#ifndef FERNQUILL_JOBS_CANCEL_WINDOW_H
#define FERNQUILL_JOBS_CANCEL_WINDOW_H

#include <windows.h>

// Shows the window, owned by and centred over owner, for a job that starts
// printing. Returns 0, or -1 when it can't be made: the job then prints
// without one, and can't be cancelled.
int openCancelWindow(HWND owner);

// The title's number of the page being printed: "Printing image %d...".
void showCancelWindowPage(int imageNumber);

// Handles the messages waiting for the window, then says whether its Cancel
// button was pressed (or the window closed) since it was opened. False
// without a window.
bool cancelPressed();

// The abort procedure to hand to SetAbortProc: keeps the window answering
// while the driver spools. It never stops the driver itself; the job sees
// cancelPressed() and aborts the document where it is.
BOOL CALLBACK keepCancelWindowAnswering(HDC printer, int error);

// Takes the window away; nothing when there is none.
void closeCancelWindow();

#endif
