// The spooler program end to end, run the way its user runs it: the real
// FernquillSpooler.exe, started as a process of its own, finds the install
// folder in the registry, watches the users' backup folders and prints on
// the default printer, here the PDF test printer. The test plays HotSync: it
// writes a spool file into a backup folder through Win32, so the folder's
// change watch fires. Everything else is read from outside the program: the
// printed PDFs, the window's title and state, the pixels of its status view,
// its message boxes and its exit code.
//
// What Wine 8.0 allows, measured:
// - Wine sends no EVENT_OBJECT_NAMECHANGE when a window's title changes
//   (SetWinEventHook itself works: an explicit NotifyWinEvent arrives), so
//   the titles can't be hooked. A thread samples the title and the
//   minimized state every millisecond instead. "Printing image N..." stays
//   up while its page prints, hundreds of milliseconds; "Printing..." only
//   from the job's start to its first page, 10 to 20 ms, which sampling
//   nearly always sees but can't be sure to. It is therefore checked for
//   its place when seen, and not required.
// - The client area reads back with BitBlt from the window's GetDC()
//   context, pixel for pixel as on the screen. PrintWindow draws nothing of
//   it: it asks for WM_PRINTCLIENT, and the program paints in WM_PAINT only.
// - The change watch fires for a file written in the folder. A file moved
//   in from elsewhere (MoveFileEx, or mv from Linux) fires nothing, as on
//   Windows: the watch is for last-write changes. HotSync writes the file in
//   place, and while it still holds the file the poll's exclusive open fails
//   and the next tick retries; so the test writes in place too, in one go.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/resource.h"
#include "app/spooler_app.h"
#include "jobs/print_job.h"
#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "spool/spool_stream.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/folder_claim.h"
#include "watch/printed_record.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const int startTimeoutMs = 30000;
// A delivery waits for the next tick of the spool timer, then for printing.
const int deliveryTimeoutMs = static_cast<int>(spoolTimerPeriod) + 60000;
const int statusTimeoutMs = 10000;
// A change the watches can't see waits for the next periodic look, half a
// minute at most, and one tick more, then for printing.
const int lookTimeoutMs = ticksPerReview * static_cast<int>(spoolTimerPeriod) +
                          static_cast<int>(spoolTimerPeriod) + 30000;

// After a look that must print nothing, the time Ghostscript would take to
// write a document the look had printed.
const DWORD printSettleMs = 3000;

// Runs a periodic look now rather than waiting up to half a minute for it:
// sends the window the spool timer's own tick, as Windows posts it, until
// the countdown to a look has run out. Each tick is handled before the next
// is sent, so on return a whole look has run and any job it started has
// ended. The waits for the look's own timing are left to the tests of it.
bool runPeriodicLook(HWND window)
{
    for (int tick = 0; tick < ticksPerReview; tick++) {
        DWORD_PTR ignored = 0;
        if (SendMessageTimeoutA(window, WM_TIMER, spoolTimerId, 0, SMTO_ABORTIFHUNG, deliveryTimeoutMs, &ignored) == 0) {
            return false;
        }
    }
    return true;
}

int millisecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

std::string titleOf(HWND window)
{
    char title[256] = "";
    GetWindowTextA(window, title, sizeof(title));
    return title;
}


// What the window showed: its title and whether it was minimized, one entry
// per change, with the time it was first seen.
struct WindowState {
    std::string title;
    bool minimized;
    std::chrono::steady_clock::time_point seen;
};

// Samples a window's title and state every millisecond on a thread of its
// own, from construction until stop().
class WindowSampler {
public:
    explicit WindowSampler(HWND window) : window_(window), stopping_(false)
    {
        thread_ = std::thread([this] { sample(); });
    }
    ~WindowSampler() { stop(); }
    WindowSampler(const WindowSampler&) = delete;
    WindowSampler& operator=(const WindowSampler&) = delete;

    std::vector<WindowState> stop()
    {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return states_;
    }

private:
    // The last sample is taken after stop() was called, so it holds what
    // the caller saw before stopping.
    void sample()
    {
        for (;;) {
            bool last = stopping_;
            WindowState now = {titleOf(window_), IsIconic(window_) != FALSE, std::chrono::steady_clock::now()};
            if (states_.empty() || states_.back().title != now.title || states_.back().minimized != now.minimized) {
                states_.push_back(now);
            }
            if (last) {
                return;
            }
            Sleep(1);
        }
    }

    HWND window_;
    std::atomic<bool> stopping_;
    std::vector<WindowState> states_;  // the thread's alone until it is joined
    std::thread thread_;
};

std::vector<std::string> titlesShown(const std::vector<WindowState>& states)
{
    std::vector<std::string> titles;
    for (const WindowState& state : states) {
        if (titles.empty() || titles.back() != state.title) {
            titles.push_back(state.title);
        }
    }
    return titles;
}

std::vector<bool> minimizedStates(const std::vector<WindowState>& states)
{
    std::vector<bool> minimized;
    for (const WindowState& state : states) {
        if (minimized.empty() || minimized.back() != state.minimized) {
            minimized.push_back(state.minimized);
        }
    }
    return minimized;
}

// Three pages as a hand-held prints them: text over a raw one-inch black
// square an inch from the paper's left edge; text over a compressed image,
// a black band two inches wide from the paper's edge; and text alone. Each
// starts with text at the paper's edge, so on the test printer each moves a
// quarter inch right and down, off the margins it can't print on.
SpoolDatabase deliveredPages()
{
    ImageFields square;
    square.width = 72;
    square.height = 72;
    square.x = 72;
    ImageFields band;
    band.width = 144;
    band.height = 72;
    band.flags = recordFlagCompressed;
    Bytes bandBits(static_cast<size_t>(rowBytesFor(band.width)) * band.height, 0xFF);

    SpoolDatabase database;
    database.records = {
        textRecord("FIRST PAGE\n", recordFlagContinued),
        imageRecord(square, Bytes(static_cast<size_t>(rowBytesFor(square.width)) * square.height, 0xFF)),
        textRecord("SECOND PAGE\n", recordFlagContinued),
        imageRecord(band, encodeImageRuns(bandBits, rowBytesFor(band.width))),
        textRecord("THIRD PAGE\nlast line\n"),
    };
    return database;
}

// The first row of a printed page that is black across [x0, x1), or -1.
int firstBlackRow(const PrintedPage& page, int x0, int x1)
{
    for (int y = 0; y < page.height; y++) {
        if (page.blackShare(x0, y, x1, y + 1) > 0.9) {
            return y;
        }
    }
    return -1;
}

// At 50 dpi an image an inch high covers 50 rows below the text; it is
// checked a pixel or two inside its edges, which scaling may round.
void expectImageBand(const PrintedPage& page, int x0, int x1, const char* which)
{
    ASSERT_GT(page.width, 0) << which;
    int top = firstBlackRow(page, x0 + 2, x1 - 2);
    ASSERT_GE(top, 0) << "no image on the " << which;
    EXPECT_GT(page.blackShare(x0 + 2, top, x1 - 2, top + 46), 0.95) << which;
    EXPECT_LT(page.blackShare(x1 + 2, top, page.width, top + 46), 0.01) << which;
    if (x0 > 2) {
        EXPECT_LT(page.blackShare(0, top, x0 - 2, top + 46), 0.01) << which;
    }
}

// RGB pixels of a bitmap, top row first.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;
};

Pixels pixelsOf(HDC dc, HBITMAP bitmap, int width, int height)
{
    Pixels pixels;
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> rows(static_cast<size_t>(width) * height);
    if (GetDIBits(dc, bitmap, 0, height, rows.data(), &info, DIB_RGB_COLORS) != height) {
        return pixels;
    }
    // The top byte is padding, which devices fill as they please.
    for (uint32_t& pixel : rows) {
        pixel &= 0xFFFFFF;
    }
    pixels.width = width;
    pixels.height = height;
    pixels.rgb = std::move(rows);
    return pixels;
}

// The window's client area as the screen shows it.
Pixels clientPixels(HWND window)
{
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
        return Pixels();
    }
    HDC windowContext = GetDC(window);
    HDC memory = CreateCompatibleDC(windowContext);
    HBITMAP bitmap = CreateCompatibleBitmap(windowContext, client.right, client.bottom);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, client.right, client.bottom, windowContext, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    Pixels pixels = copied ? pixelsOf(memory, bitmap, client.right, client.bottom) : Pixels();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowContext);
    return pixels;
}

// What a drawing gives on a memory surface of the given size, compatible
// with the screen as the window is. Like the window's context, a fresh memory
// context has the system font selected, which sets the status view's line
// height and a page's line advance.
template <typename Drawing>
Pixels drawnOffScreen(int width, int height, Drawing draw)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    DrawSurface* surface = wrapDeviceContext(memory);
    if (surface != nullptr) {
        draw(surface);
        unwrapDeviceContext(surface);
    }
    SelectObject(memory, previous);
    Pixels pixels = surface != nullptr ? pixelsOf(memory, bitmap, width, height) : Pixels();
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The status view as the program must show it: its own paintStatus, over
// the state the program must have reached.
Pixels expectedStatusView(int width, int height, const std::string& install, const std::vector<std::string>& users,
                          SpoolerCounters counters)
{
    std::snprintf(installFolder, sizeof(installFolder), "%s", install.c_str());
    watchTable.watchCount = 0;
    for (size_t i = 0; i < users.size() && i < static_cast<size_t>(maxWatchedUsers); i++) {
        UserWatch& watch = watchTable.users[watchTable.watchCount++];
        std::snprintf(watch.userFolder, sizeof(watch.userFolder), "%s", users[i].c_str());
    }
    spoolerCounters = counters;
    return drawnOffScreen(width, height, [](DrawSurface* surface) { paintStatus(surface); });
}

// The page starting at firstRecord as the window shows it once the job is
// over: the job drew it on the window at the screen's resolution, keeping a
// screen copy, and the window repaints from that copy.
Pixels expectedPageShown(int width, int height, const std::string& spoolPath, int firstRecord)
{
    return drawnOffScreen(width, height, [&](DrawSurface* surface) {
        SpoolStream* stream = openSpoolStream(spoolPath.c_str());
        if (stream == nullptr) {
            return;
        }
        int count = 0;
        readSpoolHeader(stream, &count, nullptr, nullptr);
        PagePlacement placement = {0, 0, 0, 0, 0, 0};
        surfaceDpi(surface, &placement.dpiX, &placement.dpiY);
        surfaceArea(surface, &placement.areaWidth, &placement.areaHeight);
        renderPage(surface, placement, stream, firstRecord, count, true);
        closeSpoolStream(stream);
        repaintScreenCopy(surface);
        releaseScreenCopy();
    });
}

size_t differingPixels(const Pixels& a, const Pixels& b)
{
    if (a.width != b.width || a.height != b.height) {
        return static_cast<size_t>(std::max(a.width * a.height, b.width * b.height));
    }
    size_t differing = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) {
        differing += a.rgb[i] != b.rgb[i] ? 1 : 0;
    }
    return differing;
}

// Waits, at most timeoutMs, for the window's client area to show exactly
// the expected pixels; returns how many differ at the end.
size_t waitForClientPixels(HWND window, const Pixels& expected, int timeoutMs)
{
    size_t differing = 0;
    waitFor(
        [&] {
            differing = differingPixels(clientPixels(window), expected);
            return differing == 0;
        },
        timeoutMs);
    return differing;
}

class SpoolerProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
        ASSERT_TRUE(beginProgramTest(&root));
    }

    void TearDown() override
    {
        spooler.end();
        endProgramTest(root);
    }

    void addUser(const std::string& user)
    {
        CreateDirectoryA((root + "\\" + user).c_str(), nullptr);
        CreateDirectoryA((root + "\\" + user + "\\backup").c_str(), nullptr);
    }

    // The user folders in the order the program's listing finds them.
    std::vector<std::string> usersInListingOrder()
    {
        std::vector<std::string> users;
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA((root + "\\*").c_str(), &entry);
        if (listing == INVALID_HANDLE_VALUE) {
            return users;
        }
        do {
            std::string name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..") {
                users.push_back(name);
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
        return users;
    }

    std::string root;
    SpoolerProcess spooler;
};

TEST_F(SpoolerProgramTest, DeliveredSpoolFileIsPrintedShownAndCounted)
{
    addUser("Alice");
    addUser("Bob");
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(IsIconic(window));

    WindowSampler sampler(window);
    std::string spoolPath = root + "\\Bob\\backup\\" + spoolFileName;
    ASSERT_TRUE(writeWholeFile(spoolPath, buildSpoolFile(deliveredPages())));
    auto written = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitForPrintedFiles(3, deliveryTimeoutMs));
    auto printed = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return IsIconic(window) && titleOf(window) == spoolerTitle; }, statusTimeoutMs));
    std::vector<WindowState> states = sampler.stop();

    // How long a delivery takes: the wait for the next tick, then the job.
    auto jobStart = std::find_if(states.begin(), states.end(), [](const WindowState& state) {
        return state.title != spoolerTitle;
    });
    ASSERT_NE(states.end(), jobStart) << "no job seen";
    int tickMs = millisecondsBetween(written, jobStart->seen);
    int jobMs = millisecondsBetween(jobStart->seen, printed);
    RecordProperty("tickWaitMs", tickMs);
    RecordProperty("jobMs", jobMs);
    std::printf("[ timing   ] write to last PDF %d ms: %d ms to the tick, %d ms printing\n", tickMs + jobMs, tickMs,
                jobMs);

    // The window came up for the job and went back to minimized; it was up
    // for as long as the job's titles showed.
    EXPECT_EQ((std::vector<bool>{true, false, true}), minimizedStates(states));
    for (const WindowState& state : states) {
        EXPECT_TRUE(state.title == spoolerTitle || !state.minimized) << state.title << " shown minimized";
    }
    std::vector<std::string> titles = titlesShown(states);
    std::vector<std::string> expectedTitles = {spoolerTitle,          "Printing...",         "Printing image 1...",
                                               "Printing image 2...", "Printing image 3...", spoolerTitle};
    if (std::find(titles.begin(), titles.end(), "Printing...") == titles.end()) {
        expectedTitles.erase(expectedTitles.begin() + 1);  // too short to be sure to see; see the top
    }
    EXPECT_EQ(expectedTitles, titles);

    // One document per page, each with its own text and image.
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(3u, pdfs.size());
    std::string first = printedText(pdfs[0]);
    std::string second = printedText(pdfs[1]);
    std::string third = printedText(pdfs[2]);
    EXPECT_NE(std::string::npos, first.find("FIRST PAGE"));
    EXPECT_NE(std::string::npos, second.find("SECOND PAGE"));
    EXPECT_EQ(std::string::npos, second.find("FIRST PAGE"));
    EXPECT_NE(std::string::npos, third.find("THIRD PAGE"));
    EXPECT_NE(std::string::npos, third.find("last line"));
    expectImageBand(printedPage(pdfs[0], 50), 62, 112, "first page");
    expectImageBand(printedPage(pdfs[1], 50), 12, 112, "second page");
    PrintedPage thirdPage = printedPage(pdfs[2], 50);
    ASSERT_GT(thirdPage.width, 0);
    EXPECT_LT(thirdPage.blackShare(0, 0, thirdPage.width, thirdPage.height), 0.01) << "the third page is text only";

    // Opened again, the window shows the last page, the third, which is the
    // last of the five records; "Show Status" draws the status view over it
    // at once, with both counters.
    ShowWindow(window, SW_RESTORE);
    Pixels client = clientPixels(window);
    ASSERT_GT(client.width, 0);
    Pixels lastPage = expectedPageShown(client.width, client.height, spoolPath, 4);
    ASSERT_GT(lastPage.width, 0);
    EXPECT_EQ(0u, waitForClientPixels(window, lastPage, statusTimeoutMs))
        << "pixels differ from the last page, of " << lastPage.width << " x " << lastPage.height;

    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_SHOW_STATUS, 0));
    Pixels status = expectedStatusView(client.width, client.height, root, usersInListingOrder(), {1, 3});
    ASSERT_GT(status.width, 0);
    EXPECT_EQ(0u, waitForClientPixels(window, status, statusTimeoutMs))
        << "pixels differ from the status view, of " << status.width << " x " << status.height;

    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

// Damaged spool files as HotSync might leave them, delivered one after the
// other to the running program. Each is a job: it prints a document for
// every page it walks and counts the pages the window accepts, shows no box,
// and the program carries on with the next delivery.
struct DamagedDelivery {
    const char* fault;
    Bytes file;
    int documents;  // pages walked, each printed as a document
    int accepted;   // pages the window accepted (the pages counter)
};

std::vector<DamagedDelivery> damagedDeliveries()
{
    std::vector<DamagedDelivery> deliveries;

    SpoolDatabase halfWritten = fourImagePages();
    halfWritten.truncateTo = recordStart(halfWritten, 3) + 5;  // inside the last image's header
    deliveries.push_back({"file cut short while written", buildSpoolFile(halfWritten), 4, 4});

    SpoolDatabase countFFFF = fourImagePages();
    countFFFF.storedCount = 0xFFFF;  // read as -1: no pages
    deliveries.push_back({"record count 0xFFFF", buildSpoolFile(countFFFF), 0, 0});

    SpoolDatabase negativeOffset = fourImagePages();
    negativeOffset.startOffsets[0] = 0x80000000;  // the window refuses that page; the rest print
    deliveries.push_back({"first record offset negative", buildSpoolFile(negativeOffset), 4, 3});

    // A header claiming 65535 x 65535 pixels at 72 dpi (a bitmap of half a
    // gigabyte, 23 metres of paper) with half an inch of black rows.
    SpoolDatabase hugeImage;
    ImageFields huge;
    huge.width = 65535;
    huge.height = 65535;
    Bytes halfAnInch(static_cast<size_t>(rowBytesFor(huge.width)) * 36, 0xFF);
    hugeImage.records = {textRecord("BEFORE THE HUGE IMAGE\n"), imageRecord(huge, halfAnInch)};
    deliveries.push_back({"huge image header with little data", buildSpoolFile(hugeImage), 2, 2});

    SpoolDatabase countPastList;
    countPastList.records = {textRecord("HI\n"), solidImage(8, 2, 96)};
    // The third entry reads past the list, an offset past the file's end,
    // where the job ends.
    countPastList.storedCount = 3;
    deliveries.push_back({"record count larger than the record list", buildSpoolFile(countPastList), 2, 2});
    return deliveries;
}

TEST_F(SpoolerProgramTest, DamagedDeliveriesArePrintedAsFarAsTheyGoAndTheProgramCarriesOn)
{
    addUser("Carol");
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    // Left open, so the status view can be read after every job.
    ShowWindow(window, SW_RESTORE);

    std::string spoolPath = root + "\\Carol\\backup\\" + spoolFileName;
    SpoolerCounters expected = {0, 0};
    size_t documents = 0;
    for (const DamagedDelivery& delivery : damagedDeliveries()) {
        ASSERT_TRUE(writeWholeFile(spoolPath, delivery.file)) << delivery.fault;
        expected.jobsProcessed++;
        expected.pagesProcessed += delivery.accepted;
        documents += static_cast<size_t>(delivery.documents);

        // The counters show when the job is over, whatever it printed; the
        // job leaves its last page on the window, so the status view is
        // asked for until it shows them.
        RECT client;
        ASSERT_TRUE(GetClientRect(window, &client));
        Pixels status = expectedStatusView(client.right, client.bottom, root, {"Carol"}, expected);
        ASSERT_GT(status.width, 0);
        bool counted = waitFor(
            [&] {
                PostMessageA(window, WM_COMMAND, IDM_SHOW_STATUS, 0);
                Sleep(100);
                return differingPixels(clientPixels(window), status) == 0;
            },
            deliveryTimeoutMs);
        ASSERT_TRUE(counted) << delivery.fault << ": the counters never reached " << expected.jobsProcessed
                             << " jobs and " << expected.pagesProcessed << " pages";
        ASSERT_TRUE(waitForPrintedFiles(documents, statusTimeoutMs)) << delivery.fault;
        EXPECT_EQ(documents, printedFiles().size()) << delivery.fault;
        EXPECT_TRUE(spooler.running()) << delivery.fault;
    }

    // The huge image's page, after the text page before it, carries its
    // rows: a black band half an inch (25 pixels at 50 dpi) high across the
    // top of the paper, below the quarter-inch margin, white below.
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(12u, pdfs.size());
    EXPECT_NE(std::string::npos, printedText(pdfs[8]).find("BEFORE THE HUGE IMAGE"));
    PrintedPage hugePage = printedPage(pdfs[9], 50);
    ASSERT_GT(hugePage.width, 0);
    int left = hugePage.width / 4;
    int right = hugePage.width * 3 / 4;
    EXPECT_LT(hugePage.blackShare(left, 0, right, 11), 0.01) << "the margin";
    EXPECT_GT(hugePage.blackShare(left, 15, right, 35), 0.95) << "the image's rows at the top";
    EXPECT_LT(hugePage.blackShare(left, 40, right, hugePage.height), 0.01) << "white below them";

    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

// Where no font is called "Courier", the program still prints its text in a
// fixed pitch: words of as many characters are as wide, narrow letters or
// wide. In Liberation Sans "iiii" is a quarter the width of "WWWW".
TEST_F(SpoolerProgramTest, WithoutACourierFontTextIsStillPrintedMonospaced)
{
    // Without Wine's replacement of "Courier" by Liberation Mono (scripts/lib.sh
    // makeWinePrefix), a program maps "Courier" as Wine does in a user's own
    // prefix, to the proportional Liberation Sans. The tests of this file run
    // one at a time, so no other test starts a process meanwhile.
    RegistryValueSetAside plainWine("Software\\Wine\\Fonts\\Replacements", "Courier");
    ASSERT_TRUE(plainWine.removed()) << "the prefix has no Courier replacement to take out";
    addUser("Dora");
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);

    SpoolDatabase job;
    job.records = {textRecord("iiii WWWW\nllll MMMM\n")};
    ASSERT_TRUE(writeWholeFile(root + "\\Dora\\backup\\" + spoolFileName, buildSpoolFile(job)));
    ASSERT_TRUE(waitForPrintedFiles(1, deliveryTimeoutMs));
    std::vector<PrintedWord> words = printedWords(printedFiles()[0]);
    ASSERT_EQ(4u, words.size());
    for (size_t i = 0; i < words.size(); i += 2) {
        EXPECT_NEAR(words[i].width(), words[i + 1].width(), words[i + 1].width() * 0.05)
            << "\"" << words[i].text << "\" and \"" << words[i + 1].text << "\"";
    }

    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_F(SpoolerProgramTest, WithoutAnInstallFolderInTheRegistryItSaysSoAndEnds)
{
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());

    ASSERT_TRUE(boxes.waitUntilAnswered(1, startTimeoutMs));
    DWORD exitCode = 0;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));

    EXPECT_EQ(1u, exitCode);
    std::vector<SeenDialog> seen = boxes.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Registry Error", seen[0].caption);
    EXPECT_EQ("Cannot locate a path to the Palm Desktop backup files", seen[0].text);
}

// Started at log-on, an account without Palm Desktop is not told so: the
// spooler just ends.
TEST_F(SpoolerProgramTest, AtLogOnWithoutAnInstallFolderItEndsQuietly)
{
    ASSERT_TRUE(spooler.start(SPOOLER_PATH, "/logon"));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(boxes.seen().empty());
}

// Nor is an account whose hand-helds haven't synchronised yet: the spooler
// stays, minimized, for the users HotSync will make.
TEST_F(SpoolerProgramTest, AtLogOnWithNoUserFoldersItKeepsRunningQuietly)
{
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH, " /LOGON "));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    // A box would have shown the window in its normal state first.
    EXPECT_TRUE(IsIconic(window));
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_TRUE(spooler.running());

    // The hand-held's first sync comes later, and its job prints.
    addUser("Alice");
    SpoolDatabase firstSync;
    firstSync.records = {textRecord("FIRST SYNC\n")};
    ASSERT_TRUE(writeWholeFile(root + "\\Alice\\backup\\" + spoolFileName, buildSpoolFile(firstSync)));
    ASSERT_TRUE(waitForPrintedFiles(1, lookTimeoutMs));
    EXPECT_NE(std::string::npos, printedText(printedFiles()[0]).find("FIRST SYNC"));
    EXPECT_TRUE(boxes.seen().empty());
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_F(SpoolerProgramTest, WithNoUserFoldersItSaysSoAndKeepsRunning)
{
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());

    ASSERT_TRUE(boxes.waitUntilAnswered(1, startTimeoutMs));
    std::vector<SeenDialog> seen = boxes.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Fernquill Spooler", seen[0].caption);
    EXPECT_EQ("Can't find any valid user folders", seen[0].text);

    // Start-up goes on: the window, shown before the box, stays open and
    // answers, and only Exit ends the program, through its message loop.
    HWND window = spooler.waitForWindow(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    DWORD_PTR ignored = 0;
    EXPECT_NE(0, SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, startTimeoutMs, &ignored));
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(spooler.running());
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_EXIT, 0));
    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

// ---- While it runs: new users, folders made again, other accounts -------------

Bytes pagesOf(int pages)
{
    SpoolDatabase database;
    for (int i = 0; i < pages; i++) {
        database.records.push_back(textRecord("PAGE " + std::to_string(i + 1) + "\n"));
    }
    return buildSpoolFile(database);
}

TEST_F(SpoolerProgramTest, UserAddedWhileRunningIsPrintedAndShown)
{
    addUser("Alice");
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    DialogWatcher boxes(IDOK, 0, spooler.id());
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);

    // A hand-held's first sync: its folders, then its spool file.
    addUser("Bob");
    ASSERT_TRUE(writeWholeFile(root + "\\Bob\\backup\\" + spoolFileName, pagesOf(1)));
    auto written = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitForPrintedFiles(1, lookTimeoutMs));
    std::printf("[ timing   ] new user's first job printed %d ms after it was written\n",
                millisecondsBetween(written, std::chrono::steady_clock::now()));
    EXPECT_NE(std::string::npos, printedText(printedFiles()[0]).find("PAGE 1"));

    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_SHOW_STATUS, 0));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    Pixels status = expectedStatusView(client.right, client.bottom, root, {"Alice", "Bob"}, {1, 1});
    EXPECT_EQ(0u, waitForClientPixels(window, status, statusTimeoutMs)) << "Bob is not listed as watched";
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(SpoolerProgramTest, BackupFolderMadeAgainWhileRunningPrintsTheNextDelivery)
{
    addUser("Alice");
    setInstallFolder(root);
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);

    ASSERT_TRUE(remakeFolder(root + "\\Alice\\backup"));
    ASSERT_TRUE(writeWholeFile(root + "\\Alice\\backup\\" + spoolFileName, pagesOf(1)));
    ASSERT_TRUE(runPeriodicLook(window));
    ASSERT_TRUE(waitForPrintedFiles(1, deliveryTimeoutMs));
    EXPECT_TRUE(spooler.running());
}

// Windows tells the window when its session is switched away from and
// back; the test sends the same message.
TEST_F(SpoolerProgramTest, DisconnectedSessionGivesItsFoldersUpAndTakesThemBack)
{
    const UINT sessionChange = 0x02B1;  // WM_WTSSESSION_CHANGE
    const WPARAM consoleConnect = 1;
    const WPARAM consoleDisconnect = 2;
    addUser("Alice");
    setInstallFolder(root);
    std::string alice = root + "\\Alice\\backup";
    char claimName[folderClaimNameSize];
    ASSERT_EQ(0, folderClaimNameAt(alice.c_str(), claimName));
    auto claimed = [&] {
        HANDLE claim = OpenMutexA(SYNCHRONIZE, FALSE, claimName);
        CloseHandle(claim);
        return claim != nullptr;
    };
    ASSERT_TRUE(spooler.start(SPOOLER_PATH));
    HWND window = spooler.waitUntilListening(startTimeoutMs);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(claimed());
    DWORD session = 0;
    ProcessIdToSessionId(spooler.id(), &session);

    ASSERT_TRUE(PostMessageA(window, sessionChange, consoleDisconnect, static_cast<LPARAM>(session)));
    ASSERT_TRUE(waitFor([&] { return !claimed(); }, deliveryTimeoutMs)) << "the claim was kept while away";
    ASSERT_TRUE(writeWholeFile(alice + "\\" + spoolFileName, pagesOf(1)));
    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(PostMessageA(window, WM_COMMAND, IDM_SHOW_STATUS, 0));
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    std::snprintf(installFolder, sizeof(installFolder), "%s", root.c_str());
    watchTable.watchCount = 1;
    std::snprintf(watchTable.users[0].userFolder, sizeof(watchTable.users[0].userFolder), "Alice");
    watchTable.users[0].state = watchAway;
    spoolerCounters = {0, 0};
    setSessionAway(true);
    Pixels away = drawnOffScreen(client.right, client.bottom, [](DrawSurface* surface) { paintStatus(surface); });
    setSessionAway(false);
    watchTable.users[0].state = watchActive;
    EXPECT_EQ(0u, waitForClientPixels(window, away, statusTimeoutMs)) << "the status view doesn't say it is away";
    ASSERT_TRUE(runPeriodicLook(window));
    Sleep(printSettleMs);
    EXPECT_TRUE(printedFiles().empty()) << "printed while away";

    ASSERT_TRUE(PostMessageA(window, sessionChange, consoleConnect, static_cast<LPARAM>(session)));
    ASSERT_TRUE(waitFor(claimed, deliveryTimeoutMs)) << "the claim was not taken back";
    ASSERT_TRUE(waitForPrintedFiles(1, deliveryTimeoutMs)) << "the delivery made while away was lost";
    ASSERT_TRUE(runPeriodicLook(window));
    Sleep(printSettleMs);
    EXPECT_EQ(1u, printedFiles().size());
}

// Another account's spooler holds Bob's folder, played by a helper: one
// that prints and records each delivery as a spooler does, or one that
// dies without recording it. Once it ends, this spooler takes the folder
// over and prints each job exactly once between the two.
struct OtherSpooler {
    const char* what;
    const char* arguments;
    bool recordsDeliveries;
};

TEST_F(SpoolerProgramTest, FolderHandedOverByAnotherSpoolerPrintsEachJobOnce)
{
    const OtherSpooler cases[] = {
        {"records the delivery as printed", " --record", true},
        {"dies without recording the delivery", "", false},
    };
    for (const OtherSpooler& other : cases) {
        SCOPED_TRACE(other.what);
        spooler.end();
        endProgramTest(root);
        ASSERT_TRUE(beginProgramTest(&root));
        addUser("Alice");
        addUser("Bob");
        setInstallFolder(root);
        std::string bobFolder = root + "\\Bob\\backup";
        std::string bobSpool = bobFolder + "\\" + spoolFileName;
        char claimName[folderClaimNameSize];
        ASSERT_EQ(0, folderClaimNameAt(bobFolder.c_str(), claimName));
        SpoolerProcess otherSpooler;
        ASSERT_TRUE(otherSpooler.startCommand("\"" + windowsPathOf(HOLD_MUTEX_PATH) + "\" --folder \"" + bobFolder +
                                              "\"" + other.arguments));
        ASSERT_TRUE(waitFor(
            [&] {
                HANDLE claim = OpenMutexA(SYNCHRONIZE, FALSE, claimName);
                CloseHandle(claim);
                return claim != nullptr;
            },
            startTimeoutMs));
        ASSERT_TRUE(spooler.start(SPOOLER_PATH));
        HWND window = spooler.waitUntilListening(startTimeoutMs);
        ASSERT_NE(nullptr, window);

        // Two pages for Bob, one for Alice.
        ASSERT_TRUE(writeWholeFile(bobSpool, pagesOf(2)));
        ASSERT_TRUE(writeWholeFile(root + "\\Alice\\backup\\" + spoolFileName, pagesOf(1)));
        ASSERT_TRUE(waitForPrintedFiles(1, deliveryTimeoutMs));
        // Past a periodic look, Bob's job is still the other spooler's.
        ASSERT_TRUE(runPeriodicLook(window));
        Sleep(printSettleMs);
        EXPECT_EQ(1u, printedFiles().size());
        if (other.recordsDeliveries) {
            ASSERT_TRUE(waitFor(
                [&] {
                    FILETIME recorded;
                    WIN32_FILE_ATTRIBUTE_DATA data;
                    return readPrintedRecord(bobFolder.c_str(), &recorded) == 0 &&
                           GetFileAttributesExA(bobSpool.c_str(), GetFileExInfoStandard, &data) &&
                           CompareFileTime(&recorded, &data.ftLastWriteTime) == 0;
                },
                startTimeoutMs));
        }

        otherSpooler.end();
        if (other.recordsDeliveries) {
            // Taken over at the next look, with nothing left to print.
            ASSERT_TRUE(runPeriodicLook(window));
            Sleep(printSettleMs);
            EXPECT_EQ(1u, printedFiles().size()) << "the other spooler's job printed again";
            ASSERT_TRUE(writeWholeFile(bobSpool, pagesOf(3)));
            ASSERT_TRUE(waitForPrintedFiles(4, deliveryTimeoutMs));
            EXPECT_NE(std::string::npos, printedText(printedFiles()[3]).find("PAGE 3"));
        } else {
            ASSERT_TRUE(runPeriodicLook(window));
            ASSERT_TRUE(waitForPrintedFiles(3, deliveryTimeoutMs));
            EXPECT_NE(std::string::npos, printedText(printedFiles()[2]).find("PAGE 2"));
        }
        size_t printed = printedFiles().size();
        ASSERT_TRUE(runPeriodicLook(window));
        Sleep(printSettleMs);
        EXPECT_EQ(printed, printedFiles().size()) << "a job printed twice";
        EXPECT_TRUE(spooler.running());
    }
}

}  // namespace
