#include "unix/spool_watcher.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "unix/cups_printer.h"
#include "unix/folder_watch.h"
#include "unix/spool_document.h"
#include "unix/spool_search.h"
#include "unix/watch_log.h"
#include "unix/watch_state.h"

namespace {

// How often folders that must be polled, or are not there yet, are looked
// at. Polling a network share costs a listing of each folder.
const int pollIntervalMs = 5000;
// Changes come in bursts (a sync writes a file in many pieces): a look
// follows the first change of a burst after this long, not every event.
const int burstMs = 50;
// A job CUPS could not take is tried again after 1 s, then 2, 4, ... 30.
const int firstRetryMs = 1000;
const int lastRetryMs = 30000;
// How long a settling file must have stayed the same before its job is
// made ahead: a sync writes in bursts, and the job made after each would be
// thrown away. Below twice this settling time nothing is made ahead.
const int quietBeforePreparingMs = 300;
// How long --once waits, beyond the settling time, for files being written.
const int onceWaitMs = 60000;

// What tells a file changed since the last look.
struct FileSignature {
    dev_t device;
    ino_t inode;
    int64_t size;
    int64_t modifiedNs;
    int64_t changedNs;
};

// A job made and ready to go: its PDF, and the printer that gave the media.
struct PreparedJob {
    bool ready;
    FileSignature signature;  // of the file it was made from
    uint64_t hash;            // of the bytes it was made from
    SpoolDocument document;
    CupsPrinter* printer;     // nullptr with --pdf-dir
    char title[512];          // "<user> <date> <time>"
    char name[512];           // "<user>-<date>-<time>", the PDF's name
};

struct WatchedFolder {
    const char* path;
    bool present;     // could be listed at the last look
    int lastError;    // errno of the last failed listing, said once
};

struct TrackedFile {
    char* path;  // owned
    int folder;  // the watched folder it was found in
    bool present;  // found by the last look
    bool found;    // found by the look under way
    FileSignature seen;
    int64_t seenSinceMs;  // when the file last changed, as far as looks tell
    bool handled;         // what was seen has been dealt with
    int64_t retryAtMs;    // not before then (a job CUPS could not take)
    int retryDelayMs;
    uint64_t saidHash;    // the bytes the last "skipped" line was about
    bool said;
    PreparedJob prepared;       // made ahead while the file settles
    FileSignature preparedFor;  // what the job was last made ahead for
    bool preparing;             // one is to be made ahead for what is seen
};

// ---- Process-wide state -------------------------------------------------

const WatchSettings* settings;
WatchedFolder folders[maxWatchedFolders];
int folderCount;
TrackedFile* files;
size_t fileCount;
size_t fileCapacity;
WatchState state;
FolderWatch* folderWatch;
bool pollingNeeded;        // some folder is polled or not there yet
bool waitingForCups;       // said once, until a job prints again
bool stateUnwritable;      // said once, until it is written again
int unprintedCount;        // --once: new files that could not be printed
char** unreadableFolders;  // said once each
size_t unreadableCount;
volatile sig_atomic_t stopRequested;
sigset_t waitMask;         // the signal mask while waiting: stop signals let in

// ---- Time and files -----------------------------------------------------

int64_t nowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileSignature signatureOf(const struct stat& status)
{
    return {status.st_dev, status.st_ino, static_cast<int64_t>(status.st_size), nanoseconds(status.st_mtim),
            nanoseconds(status.st_ctim)};
}

bool sameSignature(const FileSignature& a, const FileSignature& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs &&
           a.changedNs == b.changedNs;
}

void saveState()
{
    if (saveWatchState(state) != 0) {
        if (!stateUnwritable) {
            logEvent("cannot write %s: %s; what is printed now may print again after a restart", state.path,
                     std::strerror(errno));
        }
        stateUnwritable = true;
        return;
    }
    if (stateUnwritable) {
        logEvent("wrote %s again", state.path);
    }
    stateUnwritable = false;
}

void record(const TrackedFile& file, uint64_t hash)
{
    PrintedFile* printed = findPrintedFile(&state, file.path);
    if (printed != nullptr && printed->hash == hash && printed->size == file.seen.size &&
        printed->modifiedNs == file.seen.modifiedNs) {
        return;
    }
    if (recordPrintedFile(&state, file.path, file.seen.modifiedNs, file.seen.size, hash) != 0) {
        logEvent("not enough memory to record %s", file.path);
        return;
    }
    saveState();
}

// ---- Looking at the folders ------------------------------------------------

TrackedFile* findTracked(const char* path)
{
    for (size_t i = 0; i < fileCount; i++) {
        if (std::strcmp(files[i].path, path) == 0) {
            return &files[i];
        }
    }
    return nullptr;
}

TrackedFile* addTracked(const char* path, int folder)
{
    if (fileCount == fileCapacity) {
        size_t capacity = fileCapacity == 0 ? 16 : fileCapacity * 2;
        TrackedFile* grown = static_cast<TrackedFile*>(std::realloc(files, capacity * sizeof(TrackedFile)));
        if (grown == nullptr) {
            return nullptr;
        }
        files = grown;
        fileCapacity = capacity;
    }
    char* copy = strdup(path);
    if (copy == nullptr) {
        return nullptr;
    }
    TrackedFile* file = &files[fileCount++];
    *file = TrackedFile{};
    file->path = copy;
    file->folder = folder;
    file->handled = true;  // until a look finds it new or changed
    return file;
}

// Whether this look found the same file under another path already (a
// folder reached through a link): it is handled once, under that path.
bool foundUnderOtherPath(const TrackedFile* file, const FileSignature& signature)
{
    for (size_t i = 0; i < fileCount; i++) {
        const TrackedFile& other = files[i];
        if (&other != file && other.found && other.seen.device == signature.device &&
            other.seen.inode == signature.inode) {
            return true;
        }
    }
    return false;
}

struct Look {
    int folder;
    int64_t atMs;
};

void spoolFileFound(void* context, const char* path, const struct stat& status)
{
    Look* look = static_cast<Look*>(context);
    FileSignature signature = signatureOf(status);
    TrackedFile* file = findTracked(path);
    if (file == nullptr) {
        file = addTracked(path, look->folder);
        if (file == nullptr) {
            return;
        }
        // A file known to the state counts as handled while it is as recorded.
        PrintedFile* printed = findPrintedFile(&state, path);
        file->handled = printed != nullptr && printed->size == signature.size &&
                        printed->modifiedNs == signature.modifiedNs;
        file->seen = signature;
        file->seenSinceMs = look->atMs;
    } else if (!file->present || !sameSignature(file->seen, signature)) {
        file->seen = signature;
        file->seenSinceMs = look->atMs;
        file->handled = false;
    }
    file->preparing = !file->handled && !sameSignature(file->preparedFor, signature);
    file->found = !foundUnderOtherPath(file, signature);
}

void folderSearched(void* context, const char* path)
{
    (void)context;
    if (folderWatch == nullptr || addWatchedFolder(folderWatch, path) != 0) {
        pollingNeeded = true;
    }
}

// A folder inside a watched one that can't be read is said once.
void folderUnreadable(void* context, const char* path, int error)
{
    (void)context;
    for (size_t i = 0; i < unreadableCount; i++) {
        if (std::strcmp(unreadableFolders[i], path) == 0) {
            return;
        }
    }
    logEvent("cannot read %s: %s", path, std::strerror(error));
    char** grown = static_cast<char**>(std::realloc(unreadableFolders, (unreadableCount + 1) * sizeof(char*)));
    if (grown != nullptr) {
        unreadableFolders = grown;
        unreadableFolders[unreadableCount] = strdup(path);
        unreadableCount += unreadableFolders[unreadableCount] != nullptr ? 1 : 0;
    }
}

// Watches the folder that holds path, where there is a folder watch.
void watchParentOf(const char* path)
{
    char parent[maxWatchPathLength + 1];
    std::snprintf(parent, sizeof parent, "%s", path);
    char* slash = std::strrchr(parent, '/');
    if (slash != nullptr && slash != parent && folderWatch != nullptr) {
        *slash = '\0';
        addWatchedFolder(folderWatch, parent);
    }
}

// Searches every watched folder afresh.
void lookAtFolders()
{
    int64_t atMs = nowMs();
    for (size_t i = 0; i < fileCount; i++) {
        files[i].found = false;
    }
    pollingNeeded = folderWatch == nullptr;
    if (folderWatch != nullptr) {
        startFolderSet(folderWatch);
    }
    for (int f = 0; f < folderCount; f++) {
        WatchedFolder& folder = folders[f];
        Look look = {f, atMs};
        SpoolSearch search = {spoolFileFound, folderSearched, folderUnreadable, &look};
        if (searchSpoolFolder(folder.path, search) == 0) {
            if (!folder.present && folder.lastError != 0) {
                logEvent("watching %s, which is there now", folder.path);
            }
            folder.present = true;
            folder.lastError = 0;
            // J-Pilot's backup is a link it moves to each new dated folder:
            // the move is a change in the folder holding the link.
            struct stat link;
            if (lstat(folder.path, &link) == 0 && S_ISLNK(link.st_mode)) {
                watchParentOf(folder.path);
            }
            continue;
        }
        int error = errno;
        if (folder.lastError != error) {
            logEvent("cannot watch %s yet: %s", folder.path, std::strerror(error));
        }
        folder.present = false;
        folder.lastError = error;
        pollingNeeded = true;
        // Its parent is watched, so that the folder is found once made.
        watchParentOf(folder.path);
    }
    if (folderWatch != nullptr) {
        forgetUnwantedFolders(folderWatch);
    }
    for (size_t i = 0; i < fileCount; i++) {
        files[i].present = files[i].found;
    }
}

// ---- Printing one file -------------------------------------------------------

// "<user> 2026-12-09 17:30:05" for the job, and "<user>-20261209-173005"
// for the PDF's name.
void nameJob(const TrackedFile& file, char* title, size_t titleCapacity, char* fileName, size_t nameCapacity)
{
    char user[256];
    if (spoolUserName(folders[file.folder].path, file.path, user, sizeof user) != 0 || user[0] == '\0') {
        std::snprintf(user, sizeof user, "Palm");
    }
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(title, titleCapacity, "%s %s", user, stamp);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::snprintf(fileName, nameCapacity, "%s-%s", user, stamp);
}

// Says why the file's bytes are not printed: "skipped PATH how", or with
// "how" alone when skipped is false. Once for the same bytes, so a sync
// tool that rewrites them each time is not said again and again.
void sayNotPrinted(TrackedFile* file, uint64_t hash, bool skipped, const char* how)
{
    if (file->said && file->saidHash == hash) {
        return;
    }
    logEvent("%s%s %s", skipped ? "skipped " : "", file->path, how);
    file->said = true;
    file->saidHash = hash;
}

// Puts the file off until CUPS may take it, and says so once per outage.
void waitForCups(TrackedFile* file, const char* failure)
{
    file->retryDelayMs = file->retryDelayMs == 0 ? firstRetryMs
                                                 : (file->retryDelayMs * 2 > lastRetryMs ? lastRetryMs
                                                                                         : file->retryDelayMs * 2);
    file->retryAtMs = nowMs() + file->retryDelayMs;
    if (settings->once) {
        logEvent("not printed %s: %s; it prints at the next run", file->path, failure);
        unprintedCount++;
        file->handled = true;
        return;
    }
    if (!waitingForCups) {
        logEvent("waiting for CUPS to print %s: %s", file->path, failure);
    }
    waitingForCups = true;
}

// Makes the job: the printer's media asked for (unless --pdf-dir), the PDF
// laid out on it. Returns 0; or -1 when CUPS can't be had (failure says
// why), -2 when every page was refused, -3 when the PDF can't be made.
int prepareJob(const TrackedFile& file, const unsigned char* bytes, size_t size, uint64_t hash, PreparedJob* job,
               char* failure, size_t capacity)
{
    *job = PreparedJob{};
    job->signature = file.seen;
    job->hash = hash;
    nameJob(file, job->title, sizeof job->title, job->name, sizeof job->name);
    SheetLayout sheet = defaultPdfSheet();
    if (settings->pdfFolder[0] == '\0') {
        PrinterMedia media;
        job->printer = openCupsPrinter(settings->printer[0] != '\0' ? settings->printer : nullptr, &media, failure,
                                       capacity);
        if (job->printer == nullptr) {
            return -1;
        }
        if (sheetForMedia(media, 300, &sheet) != 0) {
            sheet = defaultPdfSheet();
        }
    }
    DocumentResult made = makeSpoolDocument(bytes, size, sheet, job->title, &job->document);
    if (made != documentMade) {
        closeCupsPrinter(job->printer);
        job->printer = nullptr;
        return made == documentNoPages ? -2 : -3;
    }
    job->ready = true;
    return 0;
}

void discardPreparedJob(TrackedFile* file)
{
    if (file->prepared.ready) {
        freeSpoolDocument(&file->prepared.document);
        closeCupsPrinter(file->prepared.printer);
    }
    file->prepared = PreparedJob{};
}

// While a file settles, its job is made ahead from what it holds once it
// looks whole, so that once it has settled only a check that the bytes are
// the same stands between it and CUPS. A file that changes again throws
// the job away; one that does not look whole is left for the settled look
// to say.
void prepareSettlingFile(TrackedFile* file)
{
    file->preparedFor = file->seen;
    file->preparing = false;
    unsigned char* bytes = nullptr;
    size_t size = 0;
    if (readSpoolFile(file->path, &bytes, &size) != 0) {
        return;
    }
    struct stat status;
    uint64_t hash = hashSpoolBytes(bytes, size);
    char reason[160];
    if (stat(file->path, &status) == 0 && sameSignature(signatureOf(status), file->seen) &&
        static_cast<int64_t>(size) == file->seen.size && !bytesPrinted(state, file->seen.size, hash) &&
        checkSpoolBytes(bytes, size, reason, sizeof reason) == spoolWhole) {
        discardPreparedJob(file);
        char failure[512];
        if (prepareJob(*file, bytes, size, hash, &file->prepared, failure, sizeof failure) != 0) {
            discardPreparedJob(file);
        }
    }
    std::free(bytes);
}

// Prints the checked bytes, or writes their PDF; records them once done.
void printFile(TrackedFile* file, const unsigned char* bytes, size_t size, uint64_t hash)
{
    PreparedJob* job = &file->prepared;
    if (!job->ready || !sameSignature(job->signature, file->seen) || job->hash != hash) {
        discardPreparedJob(file);
        char failure[512];
        int prepared = prepareJob(*file, bytes, size, hash, job, failure, sizeof failure);
        if (prepared == -1) {
            waitForCups(file, failure);
        } else if (prepared == -2) {
            sayNotPrinted(file, hash, true, "(damaged: no page could be drawn)");
            file->handled = true;
        } else if (prepared == -3) {
            logEvent("cannot make the PDF of %s (not enough memory, or a PDF library error); trying again later",
                     file->path);
            file->retryDelayMs = lastRetryMs;
            file->retryAtMs = nowMs() + lastRetryMs;
        }
        if (prepared != 0) {
            discardPreparedJob(file);
            return;
        }
    }
    const SpoolDocument& document = job->document;
    const char* pages = document.pages == 1 ? "" : "s";
    char failure[maxWatchPathLength + 256];
    if (job->printer == nullptr) {
        char path[maxWatchPathLength + 1];
        if (writePdfIntoFolder(document, settings->pdfFolder, job->name, path, sizeof path) != 0) {
            std::snprintf(failure, sizeof failure, "cannot write a PDF into %s: %s", settings->pdfFolder,
                          std::strerror(errno));
            waitForCups(file, failure);
        } else {
            logEvent("wrote %d page%s of %s to %s", document.pages, pages, file->path, path);
            record(*file, hash);
            file->handled = true;
        }
    } else {
        int jobId = 0;
        if (printPdfOnCups(job->printer, job->title, document.bytes, document.size, &jobId, failure,
                           sizeof failure) != 0) {
            waitForCups(file, failure);
        } else {
            logEvent("printed %d page%s of %s as job %d on %s", document.pages, pages, file->path, jobId,
                     cupsPrinterName(job->printer));
            waitingForCups = false;
            file->retryDelayMs = 0;
            record(*file, hash);
            file->handled = true;
        }
    }
    discardPreparedJob(file);
}

// The file has settled: read it once and decide on those bytes.
void handleSettledFile(TrackedFile* file)
{
    unsigned char* bytes = nullptr;
    size_t size = 0;
    if (readSpoolFile(file->path, &bytes, &size) != 0) {
        int error = errno;
        if (error != ENOENT) {
            char how[160];
            std::snprintf(how, sizeof how, "(cannot read it: %s)", std::strerror(error));
            sayNotPrinted(file, 0, true, how);
            file->handled = true;
        }
        return;
    }
    struct stat status;
    if (stat(file->path, &status) != 0 || !sameSignature(signatureOf(status), file->seen) ||
        static_cast<int64_t>(size) != file->seen.size) {
        // Written to while it was read: it settles again.
        if (stat(file->path, &status) == 0) {
            file->seen = signatureOf(status);
        }
        file->seenSinceMs = nowMs();
        std::free(bytes);
        return;
    }
    uint64_t hash = hashSpoolBytes(bytes, size);
    char reason[160];
    SpoolCheck check = checkSpoolBytes(bytes, size, reason, sizeof reason);
    if (bytesPrinted(state, file->seen.size, hash)) {
        // Rewritten unchanged, or with an old time stamp: noted, not printed.
        sayNotPrinted(file, hash, false, "holds the job printed before; not printed again");
        record(*file, hash);
        file->handled = true;
    } else if (check == spoolNotWhole) {
        char how[256];
        std::snprintf(how, sizeof how, "(not whole: %s); the next sync brings it whole", reason);
        sayNotPrinted(file, hash, true, how);
        file->handled = true;
    } else if (check == spoolNoPages) {
        char how[200];
        std::snprintf(how, sizeof how, "(%s)", reason);
        sayNotPrinted(file, hash, true, how);
        file->handled = true;
    } else {
        printFile(file, bytes, size, hash);
    }
    std::free(bytes);
}

// At the first start, the files already there count as printed.
void countPresentFilesAsPrinted()
{
    int counted = 0;
    for (size_t i = 0; i < fileCount; i++) {
        TrackedFile& file = files[i];
        unsigned char* bytes = nullptr;
        size_t size = 0;
        if (!file.present || readSpoolFile(file.path, &bytes, &size) != 0) {
            continue;
        }
        file.seen.size = static_cast<int64_t>(size);
        recordPrintedFile(&state, file.path, file.seen.modifiedNs, file.seen.size, hashSpoolBytes(bytes, size));
        std::free(bytes);
        file.handled = true;
        counted++;
    }
    if (counted > 0) {
        logEvent("first start: %d spool file%s already there count%s as printed (--print-existing prints them)",
                 counted, counted == 1 ? "" : "s", counted == 1 ? "s" : "");
    }
    saveState();
}

// ---- The loop ------------------------------------------------------------------

// Handles every file whose time has come. Returns the milliseconds until the
// next one's time comes, or -1 when none waits.
int handleDueFiles()
{
    int64_t now = nowMs();
    int64_t next = -1;
    for (size_t i = 0; i < fileCount && !stopRequested; i++) {
        TrackedFile* file = &files[i];
        if (!file->present || file->handled) {
            continue;
        }
        int64_t due = file->seenSinceMs + settings->settleMs;
        if (file->retryAtMs > due) {
            due = file->retryAtMs;
        }
        // Once the file has been quiet a moment, the job is made ahead.
        int64_t prepareAt = file->seenSinceMs + quietBeforePreparingMs;
        if (file->preparing && settings->settleMs >= 2 * quietBeforePreparingMs && due > now) {
            if (prepareAt <= now) {
                prepareSettlingFile(file);
                now = nowMs();
            } else {
                due = prepareAt;
            }
        }
        if (due <= now) {
            handleSettledFile(file);
            // A file found still changing is due once it has settled again.
            if (!file->handled) {
                due = file->seenSinceMs + settings->settleMs;
                due = file->retryAtMs > due ? file->retryAtMs : due;
                now = nowMs();
            }
        }
        if (!file->handled && (next < 0 || due < next)) {
            next = due;
        }
    }
    return next < 0 ? -1 : static_cast<int>(next > now ? next - now : 0);
}

// --once: files still being written after all that time are left for the
// next run, so that a sync tool's hook never hangs on them.
void giveUpOnChangingFiles()
{
    for (size_t i = 0; i < fileCount; i++) {
        if (files[i].present && !files[i].handled) {
            logEvent("not printed %s: it is still being written; it prints at the next run", files[i].path);
            unprintedCount++;
        }
    }
}

bool anyFileWaiting()
{
    for (size_t i = 0; i < fileCount; i++) {
        if (files[i].present && !files[i].handled) {
            return true;
        }
    }
    return false;
}

void requestStop(int)
{
    stopRequested = 1;
}

// Without a folder watch: sleeps, but not past a stop signal. Returns 0.
int sleepUnlessStopped(int milliseconds)
{
    struct timespec timeout = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    ppoll(nullptr, 0, &timeout, &waitMask);
    return 0;
}

// Reads the state file at state.path; a damaged one is said and put aside.
void loadState()
{
    char path[maxWatchPathLength + 1];
    std::snprintf(path, sizeof path, "%s", state.path);
    int line = 0;
    int loaded = loadWatchState(path, &state, &line);
    if (loaded == -1) {
        char aside[maxWatchPathLength + 16];
        std::snprintf(aside, sizeof aside, "%s.damaged", path);
        std::rename(path, aside);
        logEvent("%s is damaged at line %d, kept as %s; the spool files there now count as printed", path, line,
                 aside);
    } else if (loaded == -2) {
        logEvent("cannot read %s: %s; the spool files there now count as printed", path, std::strerror(errno));
    }
}

void sayFolders()
{
    char line[4096];
    size_t length = 0;
    for (int f = 0; f < folderCount && length < sizeof line; f++) {
        bool present = access(folders[f].path, F_OK) == 0;
        const char* how = !present ? " (not there yet)" : notificationSeesFolder(folders[f].path) ? "" : " (polled)";
        int written = std::snprintf(line + length, sizeof line - length, "%s%s%s", f > 0 ? ", " : "",
                                    folders[f].path, how);
        length += written > 0 ? static_cast<size_t>(written) : 0;
    }
    const char* target = settings->pdfFolder[0] != '\0' ? settings->pdfFolder
                         : settings->printer[0] != '\0' ? settings->printer
                                                        : "CUPS's default printer";
    logEvent("watching %d folder%s: %s; %s %s", folderCount, folderCount == 1 ? "" : "s", line,
             settings->pdfFolder[0] != '\0' ? "writing PDFs into" : "printing on", target);
}

void releaseAll(int lock)
{
    for (size_t i = 0; i < fileCount; i++) {
        discardPreparedJob(&files[i]);
        std::free(files[i].path);
    }
    std::free(files);
    files = nullptr;
    fileCount = 0;
    fileCapacity = 0;
    for (size_t i = 0; i < unreadableCount; i++) {
        std::free(unreadableFolders[i]);
    }
    std::free(unreadableFolders);
    unreadableFolders = nullptr;
    unreadableCount = 0;
    freeWatchState(&state);
    closeFolderWatch(folderWatch);
    folderWatch = nullptr;
    if (lock >= 0) {
        close(lock);
    }
}

}  // namespace

int runSpoolWatcher(const WatchSettings& watchSettings)
{
    settings = &watchSettings;
    folderCount = watchSettings.folderCount;
    for (int f = 0; f < folderCount; f++) {
        // A folder not there yet is said in the first line, not again.
        bool there = access(watchSettings.folders[f], F_OK) == 0;
        folders[f] = {watchSettings.folders[f], false, there ? 0 : errno};
    }
    if (defaultStatePath(state.path, sizeof state.path) != 0) {
        logEvent("neither XDG_STATE_HOME nor HOME is set: nowhere to keep what was printed");
        return 1;
    }
    int lock = lockWatchState(state.path);
    if (lock == -1) {
        logEvent("another spool_watch is running for this user (%s.lock); it prints what is new", state.path);
        return settings->once ? 0 : 1;
    }
    // The stop signals are let in only while waiting: a job under way is
    // finished and recorded first.
    struct sigaction stop = {};
    stop.sa_handler = requestStop;
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &stop, nullptr);
        sigaddset(&stopSignals, signal);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    std::signal(SIGPIPE, SIG_IGN);

    folderWatch = openFolderWatch();
    sayFolders();
    loadState();
    lookAtFolders();
    if (!state.existed && !settings->printExisting) {
        countPresentFilesAsPrinted();
    }
    int64_t lastLookMs = nowMs();
    int64_t giveUpMs = lastLookMs + settings->settleMs + onceWaitMs;
    while (!stopRequested) {
        int dueInMs = handleDueFiles();
        if (settings->once && !anyFileWaiting()) {
            break;
        }
        if (settings->once && nowMs() >= giveUpMs) {
            giveUpOnChangingFiles();
            break;
        }
        if (settings->once) {
            int untilGiveUp = static_cast<int>(giveUpMs - nowMs());
            dueInMs = dueInMs < 0 || untilGiveUp < dueInMs ? untilGiveUp : dueInMs;
        }
        int timeoutMs = dueInMs;
        if (pollingNeeded) {
            int untilPoll = static_cast<int>(lastLookMs + pollIntervalMs - nowMs());
            untilPoll = untilPoll < 0 ? 0 : untilPoll;
            timeoutMs = timeoutMs < 0 || untilPoll < timeoutMs ? untilPoll : timeoutMs;
        }
        int changed = folderWatch != nullptr ? waitForFolderChange(folderWatch, timeoutMs, &waitMask)
                                             : sleepUnlessStopped(timeoutMs < 0 ? pollIntervalMs : timeoutMs);
        if (changed < 0) {
            logEvent("the folder watch failed: %s; polling every folder from now on", std::strerror(errno));
            closeFolderWatch(folderWatch);
            folderWatch = nullptr;
        }
        if (changed > 0) {
            // The rest of the burst comes in before the look.
            waitForFolderChange(folderWatch, burstMs, &waitMask);
        }
        lookAtFolders();
        lastLookMs = nowMs();
    }
    int status = settings->once && unprintedCount > 0 ? 1 : 0;
    releaseAll(lock);
    return status;
}
