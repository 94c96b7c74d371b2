// spool_watch run as the user's service or a sync tool's hook runs it,
// printing through a CUPS scheduler of the test's own (private_cups.h):
// spool files written in pieces as the sync tools write them, each layout
// once, restarts, rewrites, CUPS stopped and started again, damaged files,
// --once and --pdf-dir. The jobs CUPS took are read back with Poppler's
// tools and held against spool_to_pdf's PDF of the same file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/files.h"
#include "tests/private_cups.h"
#include "tests/spool_builder.h"
#include "unix/spool_document.h"
#include "unix/spool_search.h"
#include "unix/watch_state.h"

using namespace spooltest;
namespace fs = std::filesystem;

namespace {

const int settleMs = 800;
const char* const settleOption = "0.8";

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A job of three pages (two of text, one image) whose text names who it is for.
Bytes jobFor(const std::string& who)
{
    SpoolDatabase job;
    job.records = {textRecord("MEMO for " + who + "\nline two\n"), textRecord("Page two of " + who + "\n"),
                   solidImage(64, 16, 72)};
    return buildSpoolFile(job);
}

// Writes the file in place in three pieces, as a sync tool does: the header
// and record list, then the records in two halves, with pauses shorter
// than the settling time between them.
void writeInPieces(const std::string& path, const Bytes& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << path;
    size_t listEnd = std::min(bytes.size(), static_cast<size_t>(78 + 8 * 3));
    size_t half = listEnd + (bytes.size() - listEnd) / 2;
    size_t cuts[] = {0, listEnd, half, bytes.size()};
    for (int piece = 0; piece < 3; piece++) {
        if (piece > 0) {
            sleepMs(150);
        }
        size_t length = cuts[piece + 1] - cuts[piece];
        ASSERT_EQ(write(file, bytes.data() + cuts[piece], length), static_cast<ssize_t>(length));
    }
    close(file);
}

// pilot-xfer: the old file removed, the new one written, its time stamp set
// to the database's modification date (here an old one).
void writeAsPilotXfer(const std::string& path, const Bytes& bytes)
{
    unlink(path.c_str());
    writeInPieces(path, bytes);
    struct timespec old[2] = {{1104537600, 0}, {1104537600, 0}};  // 2005-01-01
    utimensat(AT_FDCWD, path.c_str(), old, 0);
}

std::string run(const std::string& command)
{
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    pclose(pipe);
    return output;
}

std::string shellQuoted(const std::string& text)
{
    return "'" + text + "'";
}

std::string pdfText(const std::string& pdf)
{
    return run("pdftotext " + shellQuoted(pdf) + " - 2>/dev/null");
}

// What spool_to_pdf makes of the same bytes, as text.
std::string toolText(const Bytes& spool, const std::string& folder)
{
    std::string input = folder + "/tool-input.pdb";
    std::string output = folder + "/tool-output.pdf";
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(spool.data()), spool.size());
    run(std::string(SPOOL_TO_PDF_PATH) + " -o " + shellQuoted(output) + " " + shellQuoted(input) + " >/dev/null 2>&1");
    return pdfText(output);
}

// pdfinfo's line for a field ("Title", "Page size"), after the colon.
std::string pdfInfo(const std::string& pdf, const std::string& field)
{
    std::string info = run("pdfinfo " + shellQuoted(pdf) + " 2>/dev/null");
    size_t at = info.find(field + ":");
    if (at == std::string::npos) {
        return "";
    }
    size_t start = info.find_first_not_of(' ', at + field.size() + 1);
    return info.substr(start, info.find('\n', start) - start);
}

class SpoolWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(cups_.start()) << cups_.error();
        home_ = uniqueTempPath();
        fs::create_directories(home_ + "/state");
        fs::create_directories(home_ + "/config/fernquill");
    }

    void TearDown() override
    {
        for (pid_t pid : watchers_) {
            stopWatcher(pid);
        }
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }

    // Starts spool_watch with the arguments, its stderr into the log; as
    // the user `user` when given (the test then runs as root).
    pid_t startWatcher(const std::vector<std::string>& arguments, uid_t user = 0)
    {
        pid_t pid = fork();
        if (pid == 0) {
            int log = open(logPath().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(log, 2);
            if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) {
                _exit(126);
            }
            // The build tree may lie where only root can go (under /root).
            const char* program = user != 0 ? programCopy_.c_str() : SPOOL_WATCH_PATH;
            setenv("HOME", home_.c_str(), 1);
            setenv("XDG_STATE_HOME", (home_ + "/state").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
            setenv("CUPS_SERVER", cups_.server().c_str(), 1);
            std::vector<char*> argv = {const_cast<char*>(program)};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execv(program, argv.data());
            _exit(127);
        }
        watchers_.push_back(pid);
        return pid;
    }

    // Stops it as systemd does, and expects it to end cleanly.
    void stopWatcher(pid_t pid)
    {
        auto it = std::find(watchers_.begin(), watchers_.end(), pid);
        if (it == watchers_.end()) {
            return;
        }
        watchers_.erase(it);
        kill(pid, SIGTERM);
        EXPECT_EQ(waitFor(pid, 20000), 0) << log();
    }

    // Waits (bounded) for the process to end; its exit status, or -1.
    int waitFor(pid_t pid, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                auto it = std::find(watchers_.begin(), watchers_.end(), pid);
                if (it != watchers_.end()) {
                    watchers_.erase(it);
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            sleepMs(20);
        }
        return -1;
    }

    // Runs spool_watch --once to its end; its exit status.
    int runOnce(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "--once");
        return waitFor(startWatcher(arguments), 30000);
    }

    std::string logPath() const { return home_ + "/watch.log"; }
    std::string log() const { return readWholeFile(logPath()); }

    size_t logCount(const std::string& text) const
    {
        std::string all = log();
        size_t count = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
            count++;
        }
        return count;
    }

    // Waits (bounded) until the log holds text count times.
    bool waitForLog(const std::string& text, size_t count = 1, int timeoutMs = 20000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (logCount(text) >= count) {
                return true;
            }
            sleepMs(20);
        }
        return false;
    }

    void writeConfig(const std::string& text) { std::ofstream(home_ + "/config/fernquill/spool_watch.conf") << text; }

    PrivateCups cups_;
    std::string home_;
    std::string programCopy_;  // spool_watch, where another user can run it
    std::vector<pid_t> watchers_;
};

// ---- Each sync tool's layout ---------------------------------------------------

struct Layout {
    const char* tool;
    const char* configFolder;  // as the configuration file names it
    const char* spoolFile;     // below the home
    const char* user;          // the job's title starts with it
    bool pilotXfer;            // removed, written, old time stamp
};

const Layout layouts[] = {
    {"palm-sync", "~/palm-sync", "palm-sync/Alice/backup/Fernquill Spool File.pdb", "Alice", false},
    {"pilot-xfer", "~/pilot", "pilot/Fernquill Spool File.pdb", "pilot", true},
    {"J-Pilot", "~/.jpilot/backup", ".jpilot/backup/Fernquill Spool File.pdb", "backup", false},
    {"Palm Desktop under Wine", "~/.wine/drive_c/Palm", ".wine/drive_c/Palm/Bob/backup/Fernquill_Spool_File.PDB",
     "Bob", false},
};

TEST_F(SpoolWatchTest, EachLayoutPrintsOneJobOnceSettledOnTheQueuesMedia)
{
    // J-Pilot's backup is a link to its latest dated folder; palm-sync's
    // user folder appears only at the first sync.
    fs::create_directories(home_ + "/.jpilot/backup-2026-12-09");
    fs::create_directory_symlink("backup-2026-12-09", home_ + "/.jpilot/backup");
    fs::create_directories(home_ + "/palm-sync");
    fs::create_directories(home_ + "/pilot");
    fs::create_directories(home_ + "/.wine/drive_c/Palm");
    std::string config = "# the test's folders\nprinter = " + std::string(PrivateCups::queueName()) + "\n";
    for (const Layout& layout : layouts) {
        config += std::string("folder = ") + layout.configFolder + "\n";
    }
    writeConfig(config);
    startWatcher({"--settle", settleOption});
    ASSERT_TRUE(waitForLog("watching 4 folders")) << log();

    size_t jobs = 0;
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.tool);
        Bytes bytes = jobFor(layout.tool);
        std::string path = home_ + "/" + layout.spoolFile;
        if (layout.pilotXfer) {
            writeAsPilotXfer(path, bytes);
        } else {
            writeInPieces(path, bytes);
        }
        auto written = std::chrono::steady_clock::now();
        ASSERT_EQ(cups_.waitForJobs(jobs + 1, 20000), jobs + 1) << log();
        auto printed = std::chrono::steady_clock::now();
        jobs++;
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(printed - written).count(), settleMs - 100);

        std::string job = cups_.jobFiles().back();
        EXPECT_EQ(pdfText(job), toolText(bytes, home_));
        EXPECT_NE(pdfText(job).find("MEMO for " + std::string(layout.tool)), std::string::npos);
        EXPECT_EQ(pdfInfo(job, "Title").rfind(std::string(layout.user) + " 20", 0), 0u) << pdfInfo(job, "Title");
        // A4, as the queue's PPD says, not the library's Letter.
        double width = 0;
        double height = 0;
        ASSERT_EQ(std::sscanf(pdfInfo(job, "Page size").c_str(), "%lf x %lf", &width, &height), 2);
        EXPECT_NEAR(width, 595.3, 1.0);
        EXPECT_NEAR(height, 841.9, 1.0);
        EXPECT_EQ(logCount("printed 3 pages of " + path + " as job"), 1u) << log();
    }
    sleepMs(settleMs + 300);
    EXPECT_EQ(cups_.jobFiles().size(), std::size(layouts)) << log();
}

TEST_F(SpoolWatchTest, JPilotsBackupLinkMovedToANewDatedFolderIsFollowed)
{
    std::string jpilot = home_ + "/.jpilot";
    auto backUpInto = [&](const std::string& dated, const Bytes& bytes) {
        writeInPieces(jpilot + "/" + dated + "/Fernquill Spool File.pdb", bytes);
        // The link replaced in one step, as a new link renamed over it.
        fs::create_directory_symlink(dated, jpilot + "/backup.new");
        fs::rename(jpilot + "/backup.new", jpilot + "/backup");
    };
    Bytes first = jobFor("J-Pilot's first");
    backUpInto("backup-1", first);
    startWatcher({"--settle", settleOption, jpilot + "/backup"});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    // The next backup copies the unchanged database: nothing prints.
    backUpInto("backup-2", first);
    ASSERT_TRUE(waitForLog("holds the job printed before")) << log();
    backUpInto("backup-3", jobFor("J-Pilot's second"));
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    EXPECT_NE(pdfText(cups_.jobFiles().front()).find("J-Pilot's second"), std::string::npos);
    sleepMs(settleMs + 300);
    EXPECT_EQ(cups_.jobFiles().size(), 1u) << log();
}

// ---- Exactly once ----------------------------------------------------------------

TEST_F(SpoolWatchTest, PrintsEachJobOnceAcrossRestartsRewritesAndADamagedStateFile)
{
    std::string folder = home_ + "/pilot";
    std::string path = folder + "/Fernquill Spool File.pdb";
    fs::create_directories(folder);
    pid_t first = startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    Bytes job = jobFor("once");
    writeAsPilotXfer(path, job);
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    stopWatcher(first);

    // Started again, then the same bytes written again with an old time
    // stamp, as pilot-xfer does at every sync: nothing prints.
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder", 2)) << log();
    writeAsPilotXfer(path, job);
    ASSERT_TRUE(waitForLog("holds the job printed before")) << log();
    EXPECT_EQ(cups_.jobFiles().size(), 1u);

    // New bytes: one job.
    writeInPieces(path, jobFor("again"));
    ASSERT_EQ(cups_.waitForJobs(2, 20000), 2u) << log();
    stopWatcher(watchers_.back());

    // A damaged state file is said and kept aside; the file there counts as
    // printed, and the next new bytes print.
    std::ofstream(home_ + "/state/fernquill/spool_watch.state") << "not a state file\n";
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("is damaged at line 1")) << log();
    EXPECT_TRUE(fs::exists(home_ + "/state/fernquill/spool_watch.state.damaged"));
    writeInPieces(path, jobFor("after the damage"));
    ASSERT_EQ(cups_.waitForJobs(3, 20000), 3u) << log();
    sleepMs(settleMs + 300);
    EXPECT_EQ(cups_.jobFiles().size(), 3u) << log();
    EXPECT_NE(pdfText(cups_.jobFiles().back()).find("after the damage"), std::string::npos);
}

TEST_F(SpoolWatchTest, AJobMadeAheadIsThrownAwayWhenTheFileChangesBeforeItSettles)
{
    std::string folder = home_ + "/pilot";
    std::string path = folder + "/Fernquill Spool File.pdb";
    fs::create_directories(folder);
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    // Whole, and quiet long enough for its job to be made ahead; then
    // written again before it has settled.
    writeInPieces(path, jobFor("first draft"));
    sleepMs(settleMs * 2 / 3);
    writeInPieces(path, jobFor("second draft"));
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    sleepMs(settleMs + 300);
    ASSERT_EQ(cups_.jobFiles().size(), 1u) << log();
    std::string text = pdfText(cups_.jobFiles().front());
    EXPECT_NE(text.find("second draft"), std::string::npos) << text;
    EXPECT_EQ(text.find("first draft"), std::string::npos) << text;
}

TEST_F(SpoolWatchTest, AJobDeliveredWhileCupsIsStoppedPrintsOnceItIsBack)
{
    std::string folder = home_ + "/palm-sync";
    fs::create_directories(folder);
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    cups_.stop();
    writeInPieces(folder + "/Carol/backup/Fernquill Spool File.pdb", jobFor("Carol"));
    ASSERT_TRUE(waitForLog("waiting for CUPS")) << log();
    ASSERT_TRUE(cups_.start()) << cups_.error();
    ASSERT_EQ(cups_.waitForJobs(1, 40000), 1u) << log();
    sleepMs(settleMs + 300);
    EXPECT_EQ(cups_.jobFiles().size(), 1u);
    EXPECT_EQ(logCount("waiting for CUPS"), 1u) << log();
}

// ---- Bad input ---------------------------------------------------------------------

TEST_F(SpoolWatchTest, BadFilesAreSaidOnceAndNeverPrinted)
{
    SpoolDatabase cutShort;
    cutShort.records = {textRecord("first\n"), textRecord("second\n"), textRecord("third\n")};
    cutShort.truncateTo = recordStart(cutShort, 1) + 2;
    SpoolDatabase empty;
    std::string text = "This file only has the name of a spool database, and no database in it at all.\n";
    const struct {
        const char* user;
        Bytes bytes;
        const char* said;
    } cases[] = {
        {"cut-short", buildSpoolFile(cutShort), "not whole: record 3 of 3 starts at or past its end"},
        {"zero-bytes", Bytes(), "not whole: 0 bytes"},
        {"only-the-name", Bytes(text.begin(), text.end()), "not whole: its record list runs past its end"},
        {"no-records", buildSpoolFile(empty), "no-records/backup/Fernquill Spool File.pdb (no pages)"},
    };
    std::string folder = home_ + "/palm-sync";
    fs::create_directories(folder);
    // A link loop beside them, and a sound job after them: the watcher
    // goes on.
    fs::create_directory_symlink(".", folder + "/loop");
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    for (const auto& bad : cases) {
        std::string path = folder + "/" + bad.user + "/backup/Fernquill Spool File.pdb";
        writeInPieces(path, bad.bytes);
        EXPECT_TRUE(waitForLog("skipped " + path + " (")) << log();
        EXPECT_EQ(logCount(bad.said), 1u) << log();
    }
    writeInPieces(folder + "/Dave/backup/Fernquill Spool File.pdb", jobFor("Dave"));
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    // The same bad bytes again: not said again.
    std::string cutPath = folder + "/cut-short/backup/Fernquill Spool File.pdb";
    writeInPieces(cutPath, buildSpoolFile(cutShort));
    sleepMs(settleMs + 500);
    EXPECT_EQ(logCount("skipped " + cutPath), 1u) << log();
    EXPECT_EQ(cups_.jobFiles().size(), 1u) << log();
}

// A file that keeps growing is waited for, however long it grows, and its
// whole job prints once it stops. A thousand other databases beside it
// print nothing and cost no line each.
TEST_F(SpoolWatchTest, AGrowingFileIsWaitedForAndOtherDatabasesAreLeftAlone)
{
    std::string folder = home_ + "/palm-sync";
    fs::create_directories(folder + "/Erin/backup");
    Bytes other = jobFor("nobody");
    for (int i = 0; i < 1000; i++) {
        std::ofstream(folder + "/Erin/backup/Memo_Database_" + std::to_string(i) + ".pdb", std::ios::binary)
            .write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));
    }
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();

    std::string path = folder + "/Frank/backup/Fernquill Spool File.pdb";
    fs::create_directories(fs::path(path).parent_path());
    Bytes whole = jobFor("Frank");
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << path;
    // Piece by piece, each well within the settling time of the last, for
    // four settling times.
    const size_t pieces = 4 * settleMs / (settleMs / 4);
    size_t piece = (whole.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < whole.size(); at += piece) {
        size_t length = std::min(piece, whole.size() - at);
        ASSERT_EQ(write(file, whole.data() + at, length), static_cast<ssize_t>(length));
        sleepMs(settleMs / 4);
        EXPECT_TRUE(cups_.jobFiles().empty()) << "printed while the file grew";
    }
    close(file);
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    sleepMs(settleMs + 300);
    ASSERT_EQ(cups_.jobFiles().size(), 1u) << log();
    EXPECT_NE(pdfText(cups_.jobFiles().front()).find("Page two of Frank"), std::string::npos);
    EXPECT_EQ(logCount("Memo_Database"), 0u) << log();
    EXPECT_EQ(logCount("skipped"), 0u) << log();
}

// A folder the user can't read, among the watched ones, is said once; the
// others print as ever. Root reads every folder, so a root test runs the
// watcher as nobody, in a home that is nobody's.
TEST_F(SpoolWatchTest, AFolderItCannotReadIsSaidOnceAndTheOthersPrint)
{
    const uid_t nobody = 65534;
    uid_t user = geteuid() == 0 ? nobody : 0;
    std::string folder = home_ + "/palm-sync";
    std::string locked = folder + "/Hank/backup";
    writeInPieces(locked + "/Fernquill Spool File.pdb", jobFor("Hank"));
    fs::create_directories(folder + "/Gina/backup");
    if (user != 0) {
        for (const auto& entry : fs::recursive_directory_iterator(home_)) {
            ASSERT_EQ(lchown(entry.path().c_str(), user, user), 0) << entry.path();
        }
        ASSERT_EQ(chown(home_.c_str(), user, user), 0);
    }
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    programCopy_ = home_ + "/spool_watch";
    fs::copy_file(SPOOL_WATCH_PATH, programCopy_);
    ASSERT_EQ(chmod(programCopy_.c_str(), 0755), 0);
    ASSERT_EQ(chmod(home_.c_str(), 0755), 0);
    startWatcher({"--settle", settleOption, "--print-existing", folder}, user);
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    ASSERT_TRUE(waitForLog("cannot read " + locked)) << log();

    writeInPieces(folder + "/Gina/backup/Fernquill Spool File.pdb", jobFor("Gina"));
    ASSERT_EQ(cups_.waitForJobs(1, 20000), 1u) << log();
    sleepMs(settleMs + 300);
    EXPECT_EQ(cups_.jobFiles().size(), 1u) << log();
    EXPECT_NE(pdfText(cups_.jobFiles().front()).find("Page two of Gina"), std::string::npos);
    EXPECT_EQ(logCount("cannot read " + locked), 1u) << log();
    chmod(locked.c_str(), 0755);
}

TEST_F(SpoolWatchTest, AStateFileThatCantBeWrittenIsSaidOnceAndJobsStillPrint)
{
    std::string folder = home_ + "/pilot";
    fs::create_directories(folder);
    // The state's folder is a file: nothing can be made or written there.
    fs::remove_all(home_ + "/state");
    std::ofstream(home_ + "/state") << "in the way\n";
    startWatcher({"--settle", settleOption, folder});
    ASSERT_TRUE(waitForLog("watching 1 folder")) << log();
    for (int job = 1; job <= 2; job++) {
        writeInPieces(folder + "/Fernquill Spool File.pdb", jobFor("unwritable " + std::to_string(job)));
        ASSERT_EQ(cups_.waitForJobs(job, 20000), static_cast<size_t>(job)) << log();
    }
    EXPECT_EQ(logCount("cannot write " + home_ + "/state/fernquill/spool_watch.state"), 1u) << log();
}

// ---- --once and --pdf-dir -------------------------------------------------------------

TEST_F(SpoolWatchTest, OnceHandlesWhatIsNewAndExits)
{
    std::string folder = home_ + "/palm-sync";
    std::string alice = folder + "/Alice/backup/Fernquill Spool File.pdb";
    std::string bob = folder + "/Bob/backup/Fernquill Spool File.pdb";
    std::string pdfs = home_ + "/pdfs";
    fs::create_directories(pdfs);
    writeInPieces(alice, jobFor("Alice"));
    writeInPieces(bob, jobFor("Bob"));
    auto pdfCount = [&] { return std::distance(fs::directory_iterator(pdfs), fs::directory_iterator()); };

    // The first run finds both there: they count as printed.
    EXPECT_EQ(runOnce({"--pdf-dir", pdfs, "--settle", "0", folder}), 0) << log();
    EXPECT_EQ(pdfCount(), 0);

    Bytes next = jobFor("Alice's next job");
    writeInPieces(alice, next);
    EXPECT_EQ(runOnce({"--pdf-dir", pdfs, "--settle", "0", folder}), 0) << log();
    ASSERT_EQ(pdfCount(), 1);
    std::string pdf = fs::directory_iterator(pdfs)->path().string();
    EXPECT_EQ(fs::path(pdf).filename().string().rfind("Alice-20", 0), 0u) << pdf;
    EXPECT_EQ(pdf.size() - pdf.rfind('/') - 1, std::string("Alice-20261209-173005.pdf").size()) << pdf;
    EXPECT_EQ(pdfText(pdf), toolText(next, home_));
    EXPECT_EQ(runOnce({"--pdf-dir", pdfs, "--settle", "0", folder}), 0) << log();
    EXPECT_EQ(pdfCount(), 1);

    // Through CUPS: with CUPS stopped the run fails and records nothing, so
    // the next run prints the job.
    writeInPieces(bob, jobFor("Bob's next job"));
    cups_.stop();
    EXPECT_EQ(runOnce({"--settle", "0", folder}), 1) << log();
    ASSERT_TRUE(cups_.start()) << cups_.error();
    EXPECT_EQ(runOnce({"--settle", "0", folder}), 0) << log();
    EXPECT_EQ(cups_.jobFiles().size(), 1u) << log();
    EXPECT_EQ(runOnce({"--settle", "0", folder}), 0) << log();
    EXPECT_EQ(cups_.jobFiles().size(), 1u) << log();

    // Beside the running service, a hook's run leaves the printing to it.
    startWatcher({"--settle", "0", folder});
    ASSERT_TRUE(waitForLog("watching 1 folder", 7)) << log();
    EXPECT_EQ(runOnce({"--settle", "0", folder}), 0) << log();
    EXPECT_EQ(logCount("another spool_watch is running"), 1u) << log();
    stopWatcher(watchers_.back());

    // --print-existing at a first start prints what is there.
    fs::remove_all(home_ + "/state");
    EXPECT_EQ(runOnce({"--print-existing", "--settle", "0", folder}), 0) << log();
    EXPECT_EQ(cups_.jobFiles().size(), 3u) << log();
}

// ---- The pieces, as tables -------------------------------------------------------------

TEST(SpoolWatchPieces, UserNamesFollowEachLayout)
{
    const struct {
        const char* root;
        const char* path;
        const char* user;
    } cases[] = {
        {"/h/palm-sync", "/h/palm-sync/Alice/backup/Fernquill Spool File.pdb", "Alice"},
        {"/h/palm-sync/", "/h/palm-sync/Alice/BACKUP/Fernquill Spool File.pdb", "Alice"},
        {"/h/palm-sync/Alice", "/h/palm-sync/Alice/backup/Fernquill Spool File.pdb", "Alice"},
        {"/h/pilot", "/h/pilot/Fernquill Spool File.pdb", "pilot"},
        {"/h/.jpilot/backup", "/h/.jpilot/backup/Fernquill Spool File.pdb", "backup"},
        {"/h/Palm", "/h/Palm/Bob/Saved/Fernquill_Spool_File.PDB", "Saved"},
        {"/h/Palm", "/h/Palm/Bob/Fernquill_Spool_File.PDB", "Bob"},
    };
    for (const auto& c : cases) {
        char user[256];
        ASSERT_EQ(spoolUserName(c.root, c.path, user, sizeof user), 0) << c.path;
        EXPECT_STREQ(user, c.user) << c.path;
    }
}

TEST(SpoolWatchPieces, WineRegistryNamesPalmDesktopsFolder)
{
    std::string prefix = uniqueTempPath();
    fs::create_directories(prefix);
    std::ofstream(prefix + "/user.reg")
        << "WINE REGISTRY Version 2\n\n[Software\\\\3Com\\\\Palm Desktop\\\\Core] 1700000000\n"
           "\"Path\"=\"D:\\\\Old\"\n\n[Software\\\\U.S. Robotics\\\\Pilot Desktop\\\\Core] 1700000000\n"
           "#time=1d\n\"Path\"=\"C:\\\\Program Files\\\\Palm\"\n";
    char folder[maxWatchPathLength + 1];
    ASSERT_EQ(winePalmFolder(prefix.c_str(), folder, sizeof folder), 0);
    EXPECT_EQ(std::string(folder), prefix + "/dosdevices/c:/Program Files/Palm");
    fs::remove_all(prefix);
}

TEST(SpoolWatchPieces, StateFileKeepsEveryPathThroughARestart)
{
    std::string folder = uniqueTempPath();
    WatchState state{};
    std::snprintf(state.path, sizeof state.path, "%s/deep/spool_watch.state", folder.c_str());
    const char* paths[] = {"/h/pilot/Fernquill Spool File.pdb", "/h/odd\\name\nwith a line/F.PDB"};
    ASSERT_EQ(recordPrintedFile(&state, paths[0], 1104537600000000000ll, 396, 0x0123456789abcdefull), 0);
    ASSERT_EQ(recordPrintedFile(&state, paths[1], -5, 0, 0xffffffffffffffffull), 0);
    ASSERT_EQ(saveWatchState(state), 0);
    WatchState loaded;
    int line = 0;
    ASSERT_EQ(loadWatchState(state.path, &loaded, &line), 0);
    EXPECT_TRUE(loaded.existed);
    ASSERT_EQ(loaded.count, 2u);
    for (size_t i = 0; i < 2; i++) {
        EXPECT_STREQ(loaded.files[i].path, paths[i]);
        EXPECT_EQ(loaded.files[i].hash, state.files[i].hash);
        EXPECT_EQ(loaded.files[i].size, state.files[i].size);
        EXPECT_EQ(loaded.files[i].modifiedNs, state.files[i].modifiedNs);
    }
    EXPECT_TRUE(bytesPrinted(loaded, 396, 0x0123456789abcdefull));
    EXPECT_FALSE(bytesPrinted(loaded, 397, 0x0123456789abcdefull));
    // Cut short, as a full disk would leave a copy: damaged, not half read.
    std::string text = readWholeFile(state.path);
    std::ofstream(state.path) << text.substr(0, text.size() - 3);
    freeWatchState(&loaded);
    EXPECT_EQ(loadWatchState(state.path, &loaded, &line), -1);
    EXPECT_EQ(line, 3);
    EXPECT_EQ(loaded.count, 0u);
    freeWatchState(&state);
    fs::remove_all(folder);
}

TEST(SpoolWatchPieces, SheetFollowsTheMediaAndItsMargins)
{
    SheetLayout sheet;
    ASSERT_EQ(sheetForMedia({21000, 29700, 635, 400, 1270, 1270}, 300, &sheet), 0);
    EXPECT_EQ(sheet.sheetWidth, 2480);
    EXPECT_EQ(sheet.sheetHeight, 3508);
    EXPECT_EQ(sheet.offsetX, 75);
    EXPECT_EQ(sheet.offsetY, 150);
    EXPECT_EQ(sheet.areaWidth, 2480 - 75 - 48);
    EXPECT_EQ(sheet.areaHeight, 3508 - 300);
    EXPECT_EQ(sheetForMedia({21000, 29700, 11000, 11000, 0, 0}, 300, &sheet), -1);
    EXPECT_EQ(sheetForMedia({0, 29700, 0, 0, 0, 0}, 300, &sheet), -1);
}

}  // namespace
