// The spooler program under a long run of HotSync deliveries: the real
// FernquillSpooler.exe in the shared test prefix, printing on the PDF test
// printer, with many users delivering at random moments.
//
// How it works. The run is cut into rounds. A round picks a few users at
// random and gives each one new spool file; the deliveries, and the noise
// around them, happen at random moments within the round, so several users
// deliver at once. The noise is what HotSync and the user do besides:
// - a delivery written while HotSync still holds the file (opened with no
//   sharing) for a while, so the poll's exclusive open fails until release;
// - a re-sync of an unchanged file: the same bytes written again, with the
//   old last-write time put back before the file is let go, so the program
//   never sees the new time and must print nothing;
// - another file written into a backup folder, with no spool file change:
//   the poll finds no new spool file there and re-arms that user's watch.
// A round ends when every page of its deliveries has been printed. A user
// gets at most one new file a round, so no delivery replaces one that has
// not been printed yet, and every delivery must be printed exactly once.
//
// Every page carries a tag naming its delivery and its page, so each PDF is
// attributed by its text (pdftotext, run once over all PDFs at the end).
// A job prints its pages one after another inside one tick, so a delivery's
// pages must also come out in order and next to each other.
//
// The spool timer ticks every 5 seconds. To keep the run short the test
// also posts WM_TIMER messages with timer id 1 at random moments; the
// program handles a tick of any id alike, whether the system timer or a
// post sent it.
//
// The short form runs with the test command. The long form takes its size
// from the environment: FERNQUILL_SOAK_DELIVERIES (default 20) and
// FERNQUILL_SOAK_USERS (default 10, at most 50, what the program watches).
// FERNQUILL_SOAK_SEED repeats a run; the seed is printed either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/resource.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

// After <windows.h>, which win_test_support.h brings, as it needs its types.
#include <psapi.h>

using namespace spooltest;

namespace {

const int startTimeoutMs = 30000;
// Ghostscript takes 0.3 to 0.6 s a page on an idle machine; the machine may
// be busy, so a round gets a generous allowance per page on top of a tick.
const int roundBaseTimeoutMs = 60000;
const int roundPageTimeoutMs = 5000;

// Memory may grow by this much between the end of the first round (one to
// four jobs) and the end of the run, 16 jobs or more later in the short form,
// each of one page or more. The window's screen copy is a one-bit bitmap of
// the screen, 1280 x 1024, 160 kB: one kept by mistake for every page passes
// the bound within 13 pages (tried: such a leak grew the working set by
// 5 MB over a short run). Every first page also carries an image 8 inches
// square, which the printer render scales to 2400 x 2400 pixels at 300 dpi,
// 720 kB at one bit a pixel, so keeping one per job passes it sooner still.
// Without a leak the program's working set moved by less than 300 kB over
// a run, short or long (GDI caches and the printer driver's buffers are
// warm after the first job).
const SIZE_T memoryGrowthBound = 2u * 1024 * 1024;

int environmentNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    return std::atoi(text);
}


// Posts extra spool ticks to the window every 20 to 150 ms, from
// construction until stop().
class Ticker {
public:
    Ticker(HWND window, uint32_t seed) : window_(window), random_(seed), stopping_(false)
    {
        thread_ = std::thread([this] { tick(); });
    }
    ~Ticker() { stop(); }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    void stop()
    {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    void tick()
    {
        std::uniform_int_distribution<int> pause(20, 150);
        while (!stopping_) {
            PostMessageA(window_, WM_TIMER, spoolTimerId, 0);
            Sleep(pause(random_));
        }
    }

    HWND window_;
    std::mt19937 random_;
    std::atomic<bool> stopping_;
    std::thread thread_;
};

// The tag on page `page` of `pages` of delivery `delivery`.
std::string pageTag(int delivery, int page, int pages)
{
    return "SOAKTAG:D" + std::to_string(delivery) + ":P" + std::to_string(page) + ":N" + std::to_string(pages);
}

// Delivery `delivery`: 1 to 3 pages, each with its tag; the first page has
// an 8 inch square image below its text, raw or compressed by turns, so
// every job scales an image to the printer.
Bytes deliveryFile(int delivery, int pages, const std::string& user)
{
    SpoolDatabase database;
    for (int page = 1; page <= pages; page++) {
        std::string text = pageTag(delivery, page, pages) + "\nfor " + user + "\n";
        if (page > 1) {
            database.records.push_back(textRecord(text));
            continue;
        }
        database.records.push_back(textRecord(text, recordFlagContinued));
        ImageFields image;
        image.width = 576;
        image.height = 576;
        Bytes bits = makeTestBitmap(rowBytesFor(image.width), image.height, static_cast<uint32_t>(delivery));
        if (delivery % 2 == 1) {
            image.flags = recordFlagCompressed;
            bits = encodeImageRuns(bits, rowBytesFor(image.width));
        }
        database.records.push_back(imageRecord(image, bits));
    }
    return buildSpoolFile(database);
}

// Writes bytes into path from the start with no sharing and leaves the file
// open: HotSync still writing. Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE writeAndHold(const std::string& path, const Bytes& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return file;
    }
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Writes the file's own bytes over it again and puts its last-write time
// back before letting it go, all under one handle with no sharing, so the
// program can only ever see the old time: a HotSync re-sync of an unchanged
// database.
bool resyncUnchanged(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME lastWrite;
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) {
        CloseHandle(file);
        return false;
    }
    Bytes bytes(size);
    DWORD done = 0;
    bool ok = GetFileTime(file, nullptr, nullptr, &lastWrite) &&
              ReadFile(file, bytes.data(), size, &done, nullptr) && done == size &&
              SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
              WriteFile(file, bytes.data(), size, &done, nullptr) && done == size &&
              SetFileTime(file, nullptr, nullptr, &lastWrite);
    CloseHandle(file);
    return ok;
}

// One step of a round, at `atMs` from the round's start.
enum StepKind { deliverAtOnce, deliverAndHold, releaseHeld, resync, otherFile };

struct Step {
    int atMs;
    StepKind kind;
    int user;
    int delivery;  // for the two deliveries and the release
};

// What pdftotext found in each printed PDF, in printing order: the tags on
// its page (one when all is well).
std::vector<std::vector<std::string>> tagsOfPrintedFiles(int timeoutMs)
{
    std::vector<std::vector<std::string>> tags;
    std::string folder = printOutputFolder();
    std::string result = folder + "/soak-tags.txt";
    std::string script = folder + "/soak-tags.sh";
    // One shell for all files: a Unix process started from Wine costs about
    // 0.1 s, which would dominate the long form. The script is written to a
    // file, out of reach of the Windows command line's quoting rules. The
    // "== name" lines keep the files apart; the glob sorts as printedFiles()
    // does.
    std::string lines = "cd \"$1\" || exit 1\n"
                        "for f in *.pdf; do echo \"== $f\"; pdftotext \"$f\" - || exit 1; done >\"$2.part\" 2>&1 &&\n"
                        "mv \"$2.part\" \"$2\"\n";
    if (!writeWholeFile(windowsPathOf(script), Bytes(lines.begin(), lines.end()))) {
        return tags;
    }
    bool ran = runUnixCommand("/bin/sh '" + script + "' '" + folder + "' '" + result + "'", result, timeoutMs);
    DeleteFileA(windowsPathOf(script).c_str());
    if (!ran) {
        return tags;
    }
    HANDLE file = CreateFileA(windowsPathOf(result).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return tags;
    }
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);
    DeleteFileA(windowsPathOf(result).c_str());

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        // pdftotext ends each page with a form feed, which runs into the
        // next file's name line.
        line.erase(0, line.find_first_not_of('\f'));
        if (line.compare(0, 3, "== ") == 0) {
            tags.emplace_back();
            continue;
        }
        for (size_t at = line.find("SOAKTAG:"); at != std::string::npos; at = line.find("SOAKTAG:", at + 1)) {
            size_t tagEnd = line.find_first_of(" \t\r\f", at);
            if (!tags.empty()) {
                tags.back().push_back(line.substr(at, tagEnd == std::string::npos ? std::string::npos : tagEnd - at));
            }
        }
    }
    return tags;
}

class SpoolerSoakTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
        ASSERT_TRUE(beginProgramTest(&root));
    }

    void TearDown() override
    {
        for (HANDLE held : heldFiles) {
            if (held != INVALID_HANDLE_VALUE) {
                CloseHandle(held);
            }
        }
        spooler.end();
        endProgramTest(root);
    }

    std::string backupOf(int user) const { return root + "\\" + users[user] + "\\backup\\"; }

    std::string root;
    std::vector<std::string> users;
    std::map<int, HANDLE> heldByDelivery;
    std::vector<HANDLE> heldFiles;
    SpoolerProcess spooler;
};

TEST_F(SpoolerSoakTest, EveryDeliveryIsPrintedOnceAndTheProgramStaysSmall)
{
    const int deliveries = environmentNumber("FERNQUILL_SOAK_DELIVERIES", 20);
    const int userCount = std::min(environmentNumber("FERNQUILL_SOAK_USERS", 10), static_cast<int>(maxWatchedUsers));
    const uint32_t seed = static_cast<uint32_t>(environmentNumber("FERNQUILL_SOAK_SEED", static_cast<int>(GetTickCount())));
    ASSERT_GT(deliveries, 0);
    ASSERT_GT(userCount, 0);
    std::printf("[ soak     ] %d deliveries over %d users, FERNQUILL_SOAK_SEED=%u\n", deliveries, userCount, seed);
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

    for (int user = 0; user < userCount; user++) {
        char name[16];
        std::snprintf(name, sizeof(name), "User%02d", user);
        users.push_back(name);
        ASSERT_TRUE(CreateDirectoryA((root + "\\" + name).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((root + "\\" + name + "\\backup").c_str(), nullptr));
    }
    setInstallFolder(root);

    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    Ticker ticker(window, seed + 1);

    std::vector<int> pagesOf;            // by delivery
    std::vector<bool> hasSpoolFile(userCount, false);
    size_t expectedPages = 0;
    PROCESS_MEMORY_COUNTERS warm;
    bool warmedUp = false;
    int resyncs = 0;
    int otherFiles = 0;
    int held = 0;

    while (static_cast<int>(pagesOf.size()) < deliveries) {
        // The round's users, each to get one new file.
        std::vector<int> order(userCount);
        for (int user = 0; user < userCount; user++) {
            order[user] = user;
        }
        std::shuffle(order.begin(), order.end(), random);
        size_t pagesBefore = expectedPages;
        int remaining = deliveries - static_cast<int>(pagesOf.size());
        int chosen = std::min({between(1, 4), userCount, remaining});

        std::vector<Step> steps;
        for (int i = 0; i < chosen; i++) {
            int user = order[i];
            int delivery = static_cast<int>(pagesOf.size());
            pagesOf.push_back(between(1, 3));
            expectedPages += pagesOf.back();
            int at = between(0, 400);
            if (!hasSpoolFile[user] && between(0, 2) == 0) {
                // Pending with no spool file until the delivery comes.
                steps.push_back({between(0, at), otherFile, user, -1});
            }
            if (between(0, 3) == 0) {
                steps.push_back({at, deliverAndHold, user, delivery});
                steps.push_back({at + between(200, 1000), releaseHeld, user, delivery});
            } else {
                steps.push_back({at, deliverAtOnce, user, delivery});
            }
            hasSpoolFile[user] = true;
        }
        // Noise on the others, who have nothing new to print.
        for (int i = chosen; i < userCount && i < chosen + 2; i++) {
            int user = order[i];
            if (hasSpoolFile[user]) {
                steps.push_back({between(0, 600), between(0, 1) == 0 ? resync : otherFile, user, -1});
            }
        }
        std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.atMs < b.atMs; });

        auto roundStart = std::chrono::steady_clock::now();
        for (const Step& step : steps) {
            auto due = roundStart + std::chrono::milliseconds(step.atMs);
            std::this_thread::sleep_until(due);
            std::string spoolPath = backupOf(step.user) + spoolFileName;
            switch (step.kind) {
            case deliverAtOnce:
                ASSERT_TRUE(writeWholeFile(spoolPath, deliveryFile(step.delivery, pagesOf[step.delivery],
                                                                   users[step.user])));
                break;
            case deliverAndHold: {
                HANDLE file = writeAndHold(spoolPath, deliveryFile(step.delivery, pagesOf[step.delivery],
                                                                   users[step.user]));
                ASSERT_NE(INVALID_HANDLE_VALUE, file);
                heldByDelivery[step.delivery] = file;
                heldFiles.push_back(file);
                held++;
                break;
            }
            case releaseHeld: {
                HANDLE file = heldByDelivery[step.delivery];
                ASSERT_TRUE(CloseHandle(file));
                heldFiles.erase(std::find(heldFiles.begin(), heldFiles.end(), file));
                break;
            }
            case resync:
                ASSERT_TRUE(resyncUnchanged(spoolPath));
                resyncs++;
                break;
            case otherFile:
                ASSERT_TRUE(writeWholeFile(backupOf(step.user) + "Other_Database.PDB",
                                           Bytes(between(16, 256), static_cast<unsigned char>(step.atMs))));
                otherFiles++;
                break;
            }
        }

        int timeoutMs = roundBaseTimeoutMs + roundPageTimeoutMs * static_cast<int>(expectedPages - pagesBefore);
        if (!waitForPrintedFiles(expectedPages, timeoutMs)) {
            std::string printed;
            for (const std::vector<std::string>& page : tagsOfPrintedFiles(120000)) {
                printed += page.empty() ? std::string(" (untagged)") : " " + page[0];
            }
            std::string round;
            for (const Step& step : steps) {
                static const char* const kinds[] = {"deliver", "deliver+hold", "release", "resync", "other-file"};
                round += " " + std::to_string(step.atMs) + "ms:" + kinds[step.kind] + ":" + users[step.user] +
                         (step.delivery >= 0 ? ":D" + std::to_string(step.delivery) : std::string());
            }
            FAIL() << "after delivery " << pagesOf.size() << ": " << printedFiles().size() << " of "
                   << expectedPages << " pages printed;" << printed << "; last round:" << round;
        }
        if (!warmedUp) {
            ASSERT_TRUE(spooler.memory(&warm));
            warmedUp = true;
        }
    }

    // Ticks go on for a while, for a page printed twice to show up.
    Sleep(2000);
    ticker.stop();
    int elapsedMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());

    // Still running and answering.
    EXPECT_TRUE(spooler.running());
    DWORD_PTR ignored = 0;
    EXPECT_NE(0, SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, startTimeoutMs, &ignored));
    PROCESS_MEMORY_COUNTERS last;
    ASSERT_TRUE(spooler.memory(&last));

    // Each page of each delivery exactly once, a delivery's pages in order
    // and together, and nothing else.
    std::vector<std::vector<std::string>> tags = tagsOfPrintedFiles(120000 + 200 * static_cast<int>(expectedPages));
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(pdfs.size(), tags.size()) << "pdftotext did not read every PDF";
    std::map<std::string, int> printedCount;
    size_t untagged = 0;
    for (const std::vector<std::string>& page : tags) {
        EXPECT_EQ(1u, page.size()) << "a printed page should carry one tag";
        if (page.empty()) {
            untagged++;
        }
        for (const std::string& tag : page) {
            printedCount[tag]++;
        }
    }
    int lost = 0;
    int duplicates = 0;
    for (int delivery = 0; delivery < static_cast<int>(pagesOf.size()); delivery++) {
        for (int page = 1; page <= pagesOf[delivery]; page++) {
            std::string tag = pageTag(delivery, page, pagesOf[delivery]);
            int count = printedCount[tag];
            lost += count == 0 ? 1 : 0;
            duplicates += count > 1 ? count - 1 : 0;
            EXPECT_EQ(1, count) << tag;
            printedCount.erase(tag);
        }
    }
    for (const auto& stray : printedCount) {
        ADD_FAILURE() << "printed but never delivered: " << stray.first << " x" << stray.second;
        duplicates += stray.second;
    }
    for (size_t i = 0; i < tags.size(); i++) {
        if (tags[i].size() != 1) {
            continue;
        }
        int delivery = -1;
        int page = 0;
        int pages = 0;
        ASSERT_EQ(3, std::sscanf(tags[i][0].c_str(), "SOAKTAG:D%d:P%d:N%d", &delivery, &page, &pages)) << tags[i][0];
        if (page < pages) {
            std::string next = pageTag(delivery, page + 1, pages);
            EXPECT_TRUE(i + 1 < tags.size() && tags[i + 1].size() == 1 && tags[i + 1][0] == next)
                << tags[i][0] << " should be followed by " << next;
        }
    }

    SIZE_T growth = last.WorkingSetSize > warm.WorkingSetSize ? last.WorkingSetSize - warm.WorkingSetSize : 0;
    SIZE_T privateGrowth = last.PagefileUsage > warm.PagefileUsage ? last.PagefileUsage - warm.PagefileUsage : 0;
    std::printf("[ soak     ] %zu deliveries, %zu pages expected, %zu printed, %d lost, %d duplicates, %zu untagged; "
                "%d held, %d re-syncs, %d other files; %d ms\n",
                pagesOf.size(), expectedPages, pdfs.size(), lost, duplicates, untagged, held, resyncs, otherFiles,
                elapsedMs);
    std::printf("[ soak     ] working set %zu kB after the first round, %zu kB at the end, peak %zu kB; "
                "private %zu kB -> %zu kB\n",
                static_cast<size_t>(warm.WorkingSetSize / 1024), static_cast<size_t>(last.WorkingSetSize / 1024),
                static_cast<size_t>(last.PeakWorkingSetSize / 1024), static_cast<size_t>(warm.PagefileUsage / 1024),
                static_cast<size_t>(last.PagefileUsage / 1024));
    RecordProperty("pages", static_cast<int>(pdfs.size()));
    RecordProperty("elapsedMs", elapsedMs);
    RecordProperty("peakWorkingSetKB", static_cast<int>(last.PeakWorkingSetSize / 1024));
    EXPECT_LT(growth, memoryGrowthBound) << "working set grew with the jobs";
    EXPECT_LT(privateGrowth, memoryGrowthBound) << "private memory grew with the jobs";

    EXPECT_TRUE(boxes.seen().empty()) << "the program showed a message box";
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

}  // namespace
