#include "unix/watch_settings.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "unix/watch_log.h"

namespace {

const char usage[] =
    "usage: spool_watch [--printer NAME | --pdf-dir DIR] [--settle SECONDS] [--print-existing] [--once]\n"
    "                   [FOLDER...]\n"
    "\n"
    "Watches the folders where sync tools (palm-sync, pilot-xfer, J-Pilot, Palm\n"
    "Desktop under Wine) leave a hand-held's Fernquill spool file, and prints each\n"
    "new one once, through CUPS, as spool_to_pdf lays it out on the printer's\n"
    "paper. A FOLDER is searched two levels deep. Without FOLDER the folders and\n"
    "the printer come from $XDG_CONFIG_HOME/fernquill/spool_watch.conf\n"
    "(\"folder = PATH\" lines, \"printer = NAME\"); without that file, J-Pilot's\n"
    "backup folder, ~/.pilot and Palm Desktop in ~/.wine are watched.\n"
    "\n"
    "  --printer NAME     the CUPS destination (default: CUPS's default)\n"
    "  --pdf-dir DIR      write each job as DIR/<user>-<YYYYmmdd-HHMMSS>.pdf instead\n"
    "  --settle SECONDS   how long a file's size and time stamp must stay the same\n"
    "                     before it is read (default 2)\n"
    "  --print-existing   at the first start, print the spool files already there\n"
    "                     (otherwise they count as printed)\n"
    "  --once             handle what is new and exit: for a sync tool's hook\n"
    "  --help             this text\n"
    "\n"
    "What was printed is kept in $XDG_STATE_HOME/fernquill/spool_watch.state.\n"
    "Exit status: 0; 1 when a new file could not be printed (--once) or the\n"
    "watcher could not start; 2 for a bad command line.\n";

// Seconds as "2" or "0.5", into milliseconds; at most an hour.
int parseSeconds(const char* text, int* milliseconds)
{
    if (text == nullptr || *text < '0' || *text > '9') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    double seconds = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || seconds < 0 || seconds > 3600) {
        return -1;
    }
    *milliseconds = static_cast<int>(seconds * 1000 + 0.5);
    return 0;
}

int bad(const char* what, const char* value)
{
    std::fprintf(stderr, "spool_watch: %s%s%s\nTry 'spool_watch --help'.\n", what, value != nullptr ? ": " : "",
                 value != nullptr ? value : "");
    return -1;
}

bool copyText(char* target, size_t capacity, const char* text)
{
    int written = std::snprintf(target, capacity, "%s", text);
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

// "~/x" as the home's x.
bool copyFolder(char* target, const char* text)
{
    const char* home = std::getenv("HOME");
    if (text[0] == '~' && (text[1] == '/' || text[1] == '\0') && home != nullptr) {
        int written = std::snprintf(target, maxWatchPathLength + 1, "%s%s", home, text + 1);
        return written > 0 && static_cast<size_t>(written) <= maxWatchPathLength;
    }
    return copyText(target, maxWatchPathLength + 1, text);
}

// Kept as an absolute path: the state file names spool files by path, and
// a sync tool's hook may run in another folder than the service.
bool addFolder(WatchSettings* settings, const char* folder)
{
    char* target = settings->folders[settings->folderCount];
    if (settings->folderCount == maxWatchedFolders || folder[0] == '\0' || !copyFolder(target, folder)) {
        return false;
    }
    if (target[0] != '/') {
        char relative[maxWatchPathLength + 1];
        std::snprintf(relative, sizeof relative, "%s", target);
        char current[maxWatchPathLength + 1];
        if (getcwd(current, sizeof current) == nullptr) {
            return false;
        }
        int written = std::snprintf(target, maxWatchPathLength + 1, "%s/%s", current, relative);
        if (written < 0 || static_cast<size_t>(written) > maxWatchPathLength) {
            return false;
        }
    }
    settings->folderCount++;
    return true;
}

// The text with blanks cut from both ends, in place.
char* trimmed(char* text)
{
    while (*text == ' ' || *text == '\t') {
        text++;
    }
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t' || text[length - 1] == '\n' ||
                          text[length - 1] == '\r')) {
        text[--length] = '\0';
    }
    return text;
}

// One line of the file; false when it is not understood.
bool takeConfigLine(WatchSettings* settings, char* line, bool takeFolders, bool takePrinter)
{
    char* text = trimmed(line);
    if (text[0] == '\0' || text[0] == '#') {
        return true;
    }
    char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
        return false;
    }
    *equals = '\0';
    char* key = trimmed(text);
    char* value = trimmed(equals + 1);
    if (value[0] == '\0') {
        return false;
    }
    if (std::strcmp(key, "folder") == 0) {
        return !takeFolders || addFolder(settings, value);
    }
    if (std::strcmp(key, "printer") == 0) {
        return !takePrinter || copyText(settings->printer, sizeof settings->printer, value);
    }
    return false;
}

}  // namespace

int parseWatchArguments(int argc, char** argv, WatchSettings* settings)
{
    settings->printer[0] = '\0';
    settings->pdfFolder[0] = '\0';
    settings->settleMs = 2000;
    settings->printExisting = false;
    settings->once = false;
    settings->folderCount = 0;
    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        const char* value = i + 1 < argc && argv[i + 1][0] != '\0' ? argv[i + 1] : nullptr;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(usage, stdout);
            return 1;
        } else if (std::strcmp(argument, "--printer") == 0) {
            if (value == nullptr || !copyText(settings->printer, sizeof settings->printer, value)) {
                return bad("--printer needs a printer's name", value);
            }
            i++;
        } else if (std::strcmp(argument, "--pdf-dir") == 0) {
            if (value == nullptr || !copyFolder(settings->pdfFolder, value)) {
                return bad("--pdf-dir needs a folder", value);
            }
            i++;
        } else if (std::strcmp(argument, "--settle") == 0) {
            if (parseSeconds(value, &settings->settleMs) != 0) {
                return bad("--settle needs seconds, 0 to 3600", value);
            }
            i++;
        } else if (std::strcmp(argument, "--print-existing") == 0) {
            settings->printExisting = true;
        } else if (std::strcmp(argument, "--once") == 0) {
            settings->once = true;
        } else if (argument[0] == '-' && argument[1] != '\0') {
            return bad("unknown option", argument);
        } else if (!addFolder(settings, argument)) {
            return bad("too many folders, or a path too long", argument);
        }
    }
    if (settings->printer[0] != '\0' && settings->pdfFolder[0] != '\0') {
        return bad("--printer and --pdf-dir exclude each other", nullptr);
    }
    settings->foldersGiven = settings->folderCount > 0;
    defaultConfigPath(settings->configPath, sizeof settings->configPath);
    return 0;
}

int xdgFilePath(const char* variable, const char* homeFallback, const char* leaf, char* path, size_t capacity)
{
    const char* base = std::getenv(variable);
    const char* home = std::getenv("HOME");
    int written = -1;
    if (base != nullptr && base[0] == '/') {
        written = std::snprintf(path, capacity, "%s/%s", base, leaf);
    } else if (home != nullptr && home[0] != '\0') {
        written = std::snprintf(path, capacity, "%s/%s/%s", home, homeFallback, leaf);
    }
    return written > 0 && static_cast<size_t>(written) < capacity ? 0 : -1;
}

void defaultConfigPath(char* path, size_t capacity)
{
    if (xdgFilePath("XDG_CONFIG_HOME", ".config", "fernquill/spool_watch.conf", path, capacity) != 0) {
        path[0] = '\0';
    }
}

int readWatchConfig(WatchSettings* settings)
{
    if (settings->configPath[0] == '\0') {
        return 0;
    }
    std::FILE* file = std::fopen(settings->configPath, "r");
    if (file == nullptr) {
        if (errno == ENOENT) {
            return 0;
        }
        logEvent("cannot read %s: %s", settings->configPath, std::strerror(errno));
        return -1;
    }
    bool takeFolders = !settings->foldersGiven;
    bool takePrinter = settings->printer[0] == '\0' && settings->pdfFolder[0] == '\0';
    char line[maxWatchPathLength + 64];
    int number = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        number++;
        if (!takeConfigLine(settings, line, takeFolders, takePrinter)) {
            logEvent("%s line %d is not \"folder = PATH\" or \"printer = NAME\"; left out", settings->configPath,
                     number);
        }
    }
    std::fclose(file);
    return 1;
}

void addDefaultFolders(WatchSettings* settings, const char* home)
{
    if (settings->folderCount == 0 && home != nullptr && home[0] != '\0') {
        settings->folderCount = defaultSpoolFolders(home, settings->folders, maxWatchedFolders);
    }
}
