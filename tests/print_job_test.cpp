// Print jobs under Wine, printing for real on the test printer, which turns
// each print document into a PDF. Each scenario runs a job with a window of
// the test's own, which records every title the job sets; a watcher thread
// reads and answers the job's message boxes and the print dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "jobs/print_job.h"
#include "render/gdi_surface.h"
#include "render/page_renderer.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"

using namespace spooltest;

namespace {

const int printTimeoutMs = 60000;

std::vector<std::string> titles;  // every title set on the test window, in order

LRESULT CALLBACK recordTitles(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT && lParam != 0) {
        titles.push_back(reinterpret_cast<const char*>(lParam));
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Makes another printer the default for as long as it lives.
class DefaultPrinterForAWhile {
public:
    explicit DefaultPrinterForAWhile(const char* printer)
    {
        DWORD size = sizeof(previous_);
        saved_ = GetDefaultPrinterA(previous_, &size) != FALSE;
        switched_ = SetDefaultPrinterA(printer) != FALSE;
    }
    ~DefaultPrinterForAWhile()
    {
        if (saved_) {
            SetDefaultPrinterA(previous_);
        }
    }
    bool switched() const { return switched_; }

private:
    char previous_[256] = "";
    bool saved_ = false;
    bool switched_ = false;
};

// The line advance of a printer: the cell of its own font, in points.
double lineAdvancePoints(const char* printer)
{
    DrawSurface* surface = createPrinterSurface(printer);
    if (surface == nullptr) {
        return 0;
    }
    int dpiX = 0;
    int dpiY = 0;
    surfaceDpi(surface, &dpiX, &dpiY);
    double points = dpiY > 0 ? currentTextHeight(surface) * 72.0 / dpiY : 0;
    destroyPrinterSurface(surface);
    return points;
}

const PrintedWord* findWord(const std::vector<PrintedWord>& words, const std::string& text)
{
    for (const PrintedWord& word : words) {
        if (word.text == text) {
            return &word;
        }
    }
    return nullptr;
}

// Three pages: text over a one-inch black square an inch from the paper's
// left edge; text alone; and a compressed image whose data runs through the
// two records after it, chained to a last line of text.
SpoolDatabase threePages()
{
    const int width = 144;
    const int height = 72;
    Bytes bits(static_cast<size_t>(rowBytesFor(width)) * height, 0xFF);
    Bytes runs = encodeImageRuns(bits, rowBytesFor(width));
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.xResolution = 72;
    fields.yResolution = 72;
    fields.flags = recordFlagCompressed | recordFlagContinued;
    Bytes third = imageRecord(fields, Bytes(runs.begin(), runs.begin() + 2));

    SpoolDatabase database;
    database.records = {
        textRecord("FIRST PAGE\n", recordFlagContinued),
        solidImage(72, 72, 72, 72),
        textRecord("SECOND PAGE\nsecond line\n"),
        third,
        Bytes(runs.begin() + 2, runs.begin() + 3),
        Bytes(runs.begin() + 3, runs.end()),
        textRecord("THIRD PAGE\n"),
    };
    return database;
}

// One text record a page: "PAGE 1" to "PAGE <count>".
SpoolDatabase numberedPages(int count)
{
    SpoolDatabase database;
    for (int i = 1; i <= count; i++) {
        database.records.push_back(textRecord("PAGE " + std::to_string(i) + "\n"));
    }
    return database;
}

// The top-level windows created on this thread while it lives, by caption
// (a CBT hook sees every creation, however short the window's life).
class WindowsCreated {
public:
    WindowsCreated() { hook_ = SetWindowsHookExA(WH_CBT, record, nullptr, GetCurrentThreadId()); }
    ~WindowsCreated() { UnhookWindowsHookEx(hook_); }
    bool hooked() const { return hook_ != nullptr; }
    static std::vector<std::string> captions;

private:
    static LRESULT CALLBACK record(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND) {
            const CREATESTRUCTA* created = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
            if ((created->style & WS_CHILD) == 0) {
                captions.push_back(!IS_INTRESOURCE(created->lpszName) ? created->lpszName : "");
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
};
std::vector<std::string> WindowsCreated::captions;

// The cancel window of a printing job: a visible window of this process
// with the spooler's title and a "Cancel" button.
struct CancelWindow {
    HWND window = nullptr;
    HWND button = nullptr;
    std::string text;  // its static text
};

// A window's text as the window manager keeps it, without a message: the
// job's thread, which owns the windows, may be busy in the printer driver,
// or waiting for the test's thread to end.
std::string storedText(HWND window)
{
    WCHAR text[64] = L"";
    int length = InternalGetWindowText(window, text, 64);
    return std::string(text, text + (length > 0 ? length : 0));
}

BOOL CALLBACK collectCancelWindow(HWND window, LPARAM context)
{
    CancelWindow* found = reinterpret_cast<CancelWindow*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || storedText(window) != spoolerTitle) {
        return TRUE;
    }
    HWND button = FindWindowExA(window, nullptr, "Button", nullptr);
    if (button == nullptr || storedText(button) != "Cancel") {
        return TRUE;
    }
    *found = {window, button, storedText(FindWindowExA(window, nullptr, "Static", nullptr))};
    return FALSE;
}

// The page number a cancel window's "Printing image N..." shows; 0 if none.
int shownPage(const CancelWindow& cancel)
{
    int page = 0;
    return std::sscanf(cancel.text.c_str(), "Printing image %d...", &page) == 1 ? page : 0;
}

CancelWindow findCancelWindow()
{
    CancelWindow found;
    EnumWindows(collectCancelWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

class PrintJobTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
        clearPrintedFiles();
        spoolerOptions = {false, false};
        spoolerCounters = {0, 0};
        displayMode = displayStatus;
        loadJobCursors();
        window = createTestWindow("FernquillPrintJobTest", recordTitles, spoolerTitle);
        ASSERT_NE(nullptr, window);
        titles.clear();
    }

    void TearDown() override
    {
        DestroyWindow(window);
        releaseScreenCopy();
        clearPrintedFiles();
    }

    HWND window = nullptr;
};

TEST_F(PrintJobTest, EveryPageIsADocumentOfItsOwn)
{
    TempFile spool(buildSpoolFile(threePages()));
    DialogWatcher dialogs;

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));

    ASSERT_TRUE(dialogs.seen().empty());
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(3, spoolerCounters.pagesProcessed);
    std::vector<std::string> expectedTitles = {"Printing...", "Printing image 1...", "Printing image 2...",
                                               "Printing image 3...", spoolerTitle};
    EXPECT_EQ(expectedTitles, titles);
    EXPECT_TRUE(IsWindowEnabled(window));

    ASSERT_TRUE(waitForPrintedFiles(3, printTimeoutMs));
    std::vector<std::string> pdfs = printedFiles();
    ASSERT_EQ(3u, pdfs.size());
    EXPECT_NE(std::string::npos, printedText(pdfs[0]).find("FIRST PAGE"));
    std::string second = printedText(pdfs[1]);
    EXPECT_NE(std::string::npos, second.find("SECOND PAGE"));
    EXPECT_NE(std::string::npos, second.find("second line"));
    EXPECT_EQ(std::string::npos, second.find("FIRST PAGE"));
    EXPECT_NE(std::string::npos, printedText(pdfs[2]).find("THIRD PAGE"));

    // The first page's text starts at the paper's edge, so the whole page
    // moves a quarter inch right, off the printer's margin: at 50 dpi the
    // square an inch in covers x 62.5 to 112.5 on the paper, below the text.
    PrintedPage first = printedPage(pdfs[0], 50);
    ASSERT_GT(first.width, 0);
    int top = -1;
    for (int y = 0; y < first.height && top < 0; y++) {
        if (first.blackShare(65, y, 110, y + 1) > 0.9) {
            top = y;
        }
    }
    ASSERT_GE(top, 0) << "no black square on the first page";
    EXPECT_GT(first.blackShare(65, top, 110, top + 46), 0.95);
    EXPECT_LT(first.blackShare(115, top, first.width, top + 46), 0.01);
    EXPECT_LT(first.blackShare(0, top, 60, top + 46), 0.01);

    // The third page's image, two inches wide, starts at the margins'
    // corner, a quarter inch in from both edges.
    PrintedPage third = printedPage(pdfs[2], 50);
    ASSERT_GT(third.width, 0);
    EXPECT_GT(third.blackShare(14, 14, 110, 60), 0.95);
    EXPECT_LT(third.blackShare(0, 0, 11, third.height), 0.01);
    EXPECT_LT(third.blackShare(0, 0, third.width, 11), 0.01);
}

TEST_F(PrintJobTest, ScreenOnlyShowsThePagesWithoutPrinting)
{
    spoolerOptions.screenOnly = true;
    spoolerOptions.showPrintDialog = true;  // screen only wins: no dialog
    TempFile spool(buildSpoolFile(threePages()));
    DialogWatcher dialogs;
    WindowsCreated::captions.clear();
    {
        WindowsCreated created;
        ASSERT_TRUE(created.hooked());
        ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));
    }

    EXPECT_TRUE(dialogs.seen().empty());
    EXPECT_TRUE(WindowsCreated::captions.empty()) << "a window with nothing to cancel";
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(3, spoolerCounters.pagesProcessed);
    EXPECT_EQ(displayTextPage, displayMode);
    EXPECT_NE(nullptr, screenCopy.bitmap);
    EXPECT_EQ(5u, titles.size());
    // A printed document is on file well before a second has passed.
    EXPECT_FALSE(waitForPrintedFiles(1, 2000));
}

TEST_F(PrintJobTest, PrintDialogChoosesThePrinter)
{
    spoolerOptions.showPrintDialog = true;
    SpoolDatabase database;
    database.records = {textRecord("CHOSEN\n")};
    TempFile spool(buildSpoolFile(database));
    DialogWatcher dialogs(IDOK);

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));

    ASSERT_EQ(1u, dialogs.seen().size());
    EXPECT_EQ(1, spoolerCounters.pagesProcessed);
    ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs));
    EXPECT_NE(std::string::npos, printedText(printedFiles()[0]).find("CHOSEN"));
}

TEST_F(PrintJobTest, CancellingThePrintDialogChangesNothing)
{
    spoolerOptions.showPrintDialog = true;
    spoolerCounters = {4, 9};
    SpoolDatabase database;
    database.records = {textRecord("NEVER\n")};
    TempFile spool(buildSpoolFile(database));
    DialogWatcher dialogs(IDCANCEL);

    EXPECT_EQ(-1, runPrintJob(spool.path().c_str(), window));

    EXPECT_EQ(1u, dialogs.seen().size());
    EXPECT_EQ(4, spoolerCounters.jobsProcessed);
    EXPECT_EQ(9, spoolerCounters.pagesProcessed);
    EXPECT_EQ(displayStatus, displayMode);
    std::vector<std::string> expectedTitles = {"Printing...", spoolerTitle};
    EXPECT_EQ(expectedTitles, titles);
    EXPECT_TRUE(IsWindowEnabled(window));
}

TEST_F(PrintJobTest, WithoutADefaultPrinterTheJobCountsButPrintsNothing)
{
    // Wine keeps the default printer in one registry value.
    RegistryValueSetAside noPrinter("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "Device");
    EXPECT_EQ(nullptr, openDefaultPrinter());
    TempFile spool(buildSpoolFile(threePages()));
    DialogWatcher dialogs;

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));

    // The box waits on a thread of its own.
    ASSERT_TRUE(dialogs.waitUntilAnswered(1, printTimeoutMs));
    std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Print Error", seen[0].caption);
    EXPECT_EQ("Error starting print job", seen[0].text);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(0, spoolerCounters.pagesProcessed);
    EXPECT_EQ(spoolerTitle, titles.back());
}

// Pressed while the third page prints, Cancel stops the job there: the
// pages before it are whole documents, counted, and nothing else prints.
TEST_F(PrintJobTest, CancelEndsTheJobWithTheDocumentsItCompleted)
{
    TempFile spool(buildSpoolFile(numberedPages(30)));
    std::atomic<bool> jobEnded{false};
    std::atomic<bool> pressed{false};
    // From the third page on: a busy machine may show the third only briefly.
    std::thread user([&] {
        waitFor(
            [&] {
                CancelWindow cancel = findCancelWindow();
                DWORD_PTR ignored = 0;
                if (shownPage(cancel) >= 3 &&
                    SendMessageTimeoutA(cancel.button, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &ignored) != 0) {
                    pressed = true;
                }
                return pressed || jobEnded;
            },
            printTimeoutMs);
    });

    int result = runPrintJob(spool.path().c_str(), window);
    jobEnded = true;
    user.join();
    ASSERT_EQ(0, result);

    ASSERT_TRUE(pressed.load()) << "no cancel window showing the third page or a later one";
    int pages = spoolerCounters.pagesProcessed;
    std::printf("[ measured ] cancelled: %d of 30 pages printed\n", pages);
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_GE(pages, 2);
    EXPECT_LT(pages, 30);
    EXPECT_EQ(spoolerTitle, titles.back());
    EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_EQ(nullptr, findCancelWindow().window);
    ASSERT_TRUE(waitForPrintedFiles(static_cast<size_t>(pages), printTimeoutMs));
    EXPECT_FALSE(waitForPrintedFiles(static_cast<size_t>(pages) + 1, 2000)) << "the cancelled page printed";
    std::vector<std::string> pdfs = printedFiles();
    for (int i = 0; i < pages && i < static_cast<int>(pdfs.size()); i++) {
        EXPECT_NE(std::string::npos, printedText(pdfs[i]).find("PAGE " + std::to_string(i + 1) + "\n")) << pdfs[i];
    }
}

// HotSync may deliver again while a box waits for the user.
TEST_F(PrintJobTest, PrintErrorBoxLeavesTheSpoolFileFree)
{
    RegistryValueSetAside noPrinter("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "Device");
    TempFile spool(buildSpoolFile(threePages()));
    DialogWatcher lateAnswer(IDOK, 20000);  // should the test's own answer fail
    bool opened = false;
    bool boxUp = false;
    std::thread user([&] {
        HWND box = waitForDialog("Print Error", printTimeoutMs);
        HANDLE file = CreateFileA(spool.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        opened = file != INVALID_HANDLE_VALUE;
        if (opened) {
            CloseHandle(file);
        }
        boxUp = box != nullptr && IsWindowVisible(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));
    user.join();

    EXPECT_TRUE(boxUp);
    EXPECT_TRUE(opened) << "the box holds the spool file open";
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(spoolerTitle, titles.back());
}

TEST_F(PrintJobTest, MissingSpoolFileIsReportedAndNotCounted)
{
    DialogWatcher dialogs;

    ASSERT_EQ(0, runPrintJob((uniqueTempPath() + ".PDB").c_str(), window));

    ASSERT_TRUE(dialogs.waitUntilAnswered(1, printTimeoutMs));
    std::vector<SeenDialog> seen = dialogs.seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("Nothing to spool", seen[0].caption);
    // The box shows the text with its trailing line end.
    EXPECT_EQ("Cannot open any valid spool files\n", seen[0].text);
    EXPECT_EQ(0, spoolerCounters.jobsProcessed);
    EXPECT_EQ(spoolerTitle, titles.back());
}

TEST_F(PrintJobTest, FileWithoutRecordsCountsTheJobOnly)
{
    TempFile spool(buildSpoolFile(SpoolDatabase()));
    DialogWatcher dialogs;

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));

    EXPECT_TRUE(dialogs.seen().empty());
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(0, spoolerCounters.pagesProcessed);
    EXPECT_EQ(displayStatus, displayMode);
    std::vector<std::string> expectedTitles = {"Printing...", spoolerTitle};
    EXPECT_EQ(expectedTitles, titles);
    EXPECT_FALSE(waitForPrintedFiles(1, 2000));
}

TEST_F(PrintJobTest, FileCutShortPrintsThePagesItHolds)
{
    SpoolDatabase database = fourImagePages();
    database.truncateTo = recordStart(database, 2);  // records 2 and 3 at and past the end
    TempFile spool(buildSpoolFile(database));
    DialogWatcher dialogs;

    ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));

    EXPECT_TRUE(dialogs.seen().empty());
    EXPECT_EQ(1, spoolerCounters.jobsProcessed);
    EXPECT_EQ(2, spoolerCounters.pagesProcessed);
    std::vector<std::string> expectedTitles = {"Printing...", "Printing image 1...", "Printing image 2...",
                                               spoolerTitle};
    EXPECT_EQ(expectedTitles, titles);
    ASSERT_TRUE(waitForPrintedFiles(2, printTimeoutMs));
    EXPECT_FALSE(waitForPrintedFiles(3, 2000));
}

TEST_F(PrintJobTest, DefaultPrinterIsFoundWhateverItsNameLength)
{
    DrawSurface* printer = openDefaultPrinter();
    ASSERT_NE(nullptr, printer);
    int dpiX = 0;
    int dpiY = 0;
    surfaceDpi(printer, &dpiX, &dpiY);
    EXPECT_EQ(300, dpiX);
    destroyPrinterSurface(printer);
}

}  // namespace

namespace {

// On paper the text of a page is at least 9 points high at 300 and at 600
// dpi, though Wine's printers give "Courier" the screen's 16 pixels by
// default; its lines are still the printer's line advance apart, and its
// columns line up. pdftotext gives every word the height of its font's glyph
// box in the document, from the highest ascender to the lowest descender
// among the characters printed, so the text has both, as any page does.
TEST_F(PrintJobTest, PrintedTextIsReadableAtEveryResolution)
{
    const struct {
        const char* printer;
        int dpi;
    } printers[] = {{"Fernquill Test PDF", 300}, {highResolutionPrinter, 600}};
    SpoolDatabase database;
    database.records = {textRecord("MEMO to Jay\nsecond page\niiii WWWW\n")};
    TempFile spool(buildSpoolFile(database));

    for (const auto& device : printers) {
        DefaultPrinterForAWhile printer(device.printer);
        ASSERT_TRUE(printer.switched()) << device.printer;
        clearPrintedFiles();
        ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));
        ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs)) << device.printer;
        std::vector<PrintedWord> words = printedWords(printedFiles()[0]);

        ASSERT_EQ(7u, words.size()) << device.printer;
        for (const PrintedWord& word : words) {
            EXPECT_GE(word.height(), 9.0) << device.printer << ": \"" << word.text << "\"";
        }
        std::printf("[ measured ] %d dpi: words %.2f pt high, \"MEMO\" %.2f pt wide, lines %.2f pt apart\n",
                    device.dpi, words[0].height(), words[0].width(), words[3].yMin - words[0].yMin);

        const PrintedWord* first = findWord(words, "MEMO");
        const PrintedWord* second = findWord(words, "second");
        ASSERT_TRUE(first != nullptr && second != nullptr) << device.printer;
        EXPECT_NEAR(second->yMin - first->yMin, lineAdvancePoints(device.printer), 0.2) << device.printer;
        const PrintedWord* narrow = findWord(words, "iiii");
        const PrintedWord* wide = findWord(words, "WWWW");
        ASSERT_TRUE(narrow != nullptr && wide != nullptr) << device.printer;
        EXPECT_NEAR(narrow->width(), wide->width(), wide->width() * 0.05) << device.printer;
    }
}

// The test printers can't print within a quarter inch (18 pt) of the
// sheet's edges. A text page that starts at the paper's edge, with an
// image under its lines, must land wholly inside: at 72 dpi the page read
// back has no black pixel in the margins, and the first word starts right
// at the left and top margins.
TEST_F(PrintJobTest, TextPageAtThePaperEdgePrintsInsideTheMargins)
{
    const char* const printers[] = {"Fernquill Test PDF", highResolutionPrinter};
    const int margin = 18;
    SpoolDatabase database;
    database.records = {textRecord("EDGE of the page\nsecond line\n", recordFlagContinued),
                        solidImage(72, 36, 72, 0, 0)};  // 1 x 0.5 in at the left edge
    TempFile spool(buildSpoolFile(database));

    for (const char* device : printers) {
        DefaultPrinterForAWhile printer(device);
        ASSERT_TRUE(printer.switched()) << device;
        clearPrintedFiles();
        ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));
        ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs)) << device;
        std::string pdf = printedFiles()[0];

        std::vector<PrintedWord> words = printedWords(pdf);
        ASSERT_EQ(6u, words.size()) << device;
        EXPECT_NEAR(words[0].xMin, margin, 1.0) << device;
        PrintedPage page = printedPage(pdf, 72);
        ASSERT_GT(page.width, 0) << device;
        for (const PrintedWord& word : words) {
            EXPECT_GE(word.xMin, margin - 0.5) << device << ": " << word.text;
            EXPECT_GE(word.yMin, margin - 0.5) << device << ": " << word.text;
            EXPECT_LE(word.xMax, page.width - margin + 0.5) << device << ": " << word.text;
        }
        EXPECT_EQ(0.0, page.blackShare(0, 0, margin, page.height)) << device;
        EXPECT_EQ(0.0, page.blackShare(0, 0, page.width, margin)) << device;
        EXPECT_EQ(0.0, page.blackShare(page.width - margin, 0, page.width, page.height)) << device;
        EXPECT_EQ(0.0, page.blackShare(0, page.height - margin, page.width, page.height)) << device;
        int imageTop = -1;
        for (int y = margin; y < page.height && imageTop < 0; y++) {
            imageTop = page.blackShare(margin + 1, y, margin + 71, y + 1) > 0.95 ? y : -1;
        }
        ASSERT_GT(imageTop, words.back().yMax - 1) << device << ": no image below the text";
        EXPECT_GT(page.blackShare(margin + 1, imageTop, margin + 71, imageTop + 35), 0.95) << device;
    }
}

// A page whose content lies inside the margins is not moved: a one-inch
// square an inch from the top and left prints there, to the pixel at 300
// dpi (the one row and column at each edge left to Poppler's rounding).
TEST_F(PrintJobTest, PageInsideTheMarginsKeepsItsPlace)
{
    const char* const printers[] = {"Fernquill Test PDF", highResolutionPrinter};
    SpoolDatabase database;
    database.records = {solidImage(72, 72, 72, 72, 72)};
    TempFile spool(buildSpoolFile(database));

    for (const char* device : printers) {
        DefaultPrinterForAWhile printer(device);
        ASSERT_TRUE(printer.switched()) << device;
        clearPrintedFiles();
        ASSERT_EQ(0, runPrintJob(spool.path().c_str(), window));
        ASSERT_TRUE(waitForPrintedFiles(1, printTimeoutMs)) << device;
        PrintedPage page = printedPage(printedFiles()[0], 300);
        ASSERT_GT(page.width, 0) << device;

        EXPECT_EQ(1.0, page.blackShare(301, 301, 599, 599)) << device;
        EXPECT_EQ(0.0, page.blackShare(0, 0, page.width, 299)) << device;
        EXPECT_EQ(0.0, page.blackShare(0, 0, 299, page.height)) << device;
        EXPECT_EQ(0.0, page.blackShare(601, 0, page.width, page.height)) << device;
        EXPECT_EQ(0.0, page.blackShare(0, 601, page.width, page.height)) << device;
    }
}

// Fills a stretch of stack below the caller's frame with a handle, where
// the locals of the calls that follow will lie before they are set. Called
// through a pointer the compiler can't see through, so it is not inlined.
void paintStackWith(HANDLE handle)
{
    volatile HANDLE slots[4096];
    for (volatile HANDLE& slot : slots) {
        slot = handle;
    }
}

// Reading a printed page back runs a Unix program. Wine starts one without
// process or thread handles, yet reports success with whatever its stack
// held in their place: with a live handle of the test's there, the test
// must keep it.
TEST(PrintedPageReading, LeavesTheTestsHandlesOpen)
{
    std::string result = printOutputFolder() + "/unix-command-ran";
    for (int run = 0; run < 4; run++) {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, event);
        void (*volatile paint)(HANDLE) = paintStackWith;
        paint(event);
        ASSERT_TRUE(runUnixCommand("touch '" + result + "'", result, 30000));
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(event, &flags)) << "run " << run;
        CloseHandle(event);
    }
    DeleteFileA(windowsPathOf(result).c_str());
}

}  // namespace
