// The watcher's log: one line per event on stderr, which systemd's journal
// keeps for a user unit (journalctl --user -u spool_watch). Nothing is
// said per look at the folders, only what happened.
#ifndef FERNQUILL_UNIX_WATCH_LOG_H
#define FERNQUILL_UNIX_WATCH_LOG_H

// "spool_watch: " and the formatted text, as one line.
void logEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
