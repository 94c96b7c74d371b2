// What spool_watch is told: its command line and its configuration file.
//
//     spool_watch [--printer NAME | --pdf-dir DIR] [--settle SECONDS]
//                 [--print-existing] [--once] [FOLDER...]
//
// Without FOLDER the folders come from $XDG_CONFIG_HOME/fernquill/
// spool_watch.conf (~/.config/... without it): one "folder = PATH" a line,
// and "printer = NAME"; "#" starts a comment. Without that file, the places
// the sync tools use by default are watched (spool_search.h). The printer
// named in the file serves whenever --printer names none.
#ifndef FERNQUILL_UNIX_WATCH_SETTINGS_H
#define FERNQUILL_UNIX_WATCH_SETTINGS_H

#include "unix/spool_search.h"

const int maxWatchedFolders = 256;
const int maxPrinterNameLength = 127;

struct WatchSettings {
    char printer[maxPrinterNameLength + 1];  // "" for CUPS's default destination
    char pdfFolder[maxWatchPathLength + 1];  // --pdf-dir, or ""
    int settleMs;
    bool printExisting;
    bool once;
    char folders[maxWatchedFolders][maxWatchPathLength + 1];
    int folderCount;
    bool foldersGiven;  // on the command line
    char configPath[maxWatchPathLength + 1];
};

// Reads the command line into *settings. Returns 0, 1 for --help (the usage
// is printed), or -1 for a bad argument (said on stderr).
int parseWatchArguments(int argc, char** argv, WatchSettings* settings);

// Where a file of ours lies under an XDG base folder: $variable/leaf when
// the variable holds an absolute path, else $HOME/homeFallback/leaf (the
// specification's default, ".config" or ".local/state"). Returns 0, or -1
// when there is neither, or the path does not fit.
int xdgFilePath(const char* variable, const char* homeFallback, const char* leaf, char* path, size_t capacity);

// Where the configuration file lies; "" when neither XDG_CONFIG_HOME nor
// HOME is set.
void defaultConfigPath(char* path, size_t capacity);

// Reads the configuration file: its printer unless one was given, its
// folders unless some were. A line it does not understand is said and left
// out. Returns 1 when it read the file, 0 when there is none, -1 when it
// can't be read (said).
int readWatchConfig(WatchSettings* settings);

// Fills in the default folders where neither the command line nor the file
// named any, for the user whose home is home.
void addDefaultFolders(WatchSettings* settings, const char* home);

#endif
