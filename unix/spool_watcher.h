// The watcher itself: the folders, the spool files found in them, and what
// becomes of each file.
//
// How it works. Every look at the folders is a fresh search of them
// (spool_search.h), made when the folder watch says something changed, when
// a file's settling time is up, when a print is due again, and every few
// seconds for folders that must be polled or are not there yet. A search
// stats each spool file it finds. A file whose size, time stamp, inode or
// change time differs from the last look starts settling again; once it has
// stayed the same for the settling time it is read whole, once, and those
// bytes decide: the same bytes as printed before (by this path or any
// other) are not printed again; bytes that are not a whole database wait
// for the next sync; the rest is printed, and recorded in the state file
// only once CUPS has taken the job. A job CUPS can't take yet is tried
// again with a growing delay, up to half a minute.
//
// Making the PDF of a long job takes a good part of a second, so it is made
// while the file settles, once it has been quiet a moment and looks whole;
// when the file has settled, the same bytes (by hash) go to CUPS at once,
// and different ones throw that job away and make it again.
//
// Idle, with every folder watched by the kernel, the watcher sleeps in one
// ppoll() without a time limit; only folders that are polled (network shares)
// or not there yet wake it, every few seconds.
#ifndef FERNQUILL_UNIX_SPOOL_WATCHER_H
#define FERNQUILL_UNIX_SPOOL_WATCHER_H

#include "unix/watch_settings.h"

// Runs the watcher with the settings (the folders filled in) until it is
// stopped by a signal, or, with --once, until every new file has been
// handled. Returns the exit status.
int runSpoolWatcher(const WatchSettings& settings);

#endif
