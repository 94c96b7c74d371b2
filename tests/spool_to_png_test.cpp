// spool_to_png run as a user runs it: spool files from the builder go in,
// PNG files come out and are decoded back here with zlib, chunk CRCs and
// all. The Windows build of this test runs the Windows tool (under Wine on
// Linux), started directly with its output going to files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include "tests/win_test_support.h"
#endif

#include "tests/files.h"
#include "tests/png_reader.h"
#include "tests/spool_builder.h"

using namespace spooltest;
namespace fs = std::filesystem;

namespace {

// Black pixels in [x0, x1) x [y0, y1).
long blackIn(const DecodedPng& png, int x0, int y0, int x1, int y1)
{
    long count = 0;
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            count += png.black(x, y) ? 1 : 0;
        }
    }
    return count;
}

long blackPixels(const DecodedPng& png)
{
    return blackIn(png, 0, 0, png.width, png.height);
}

// ---- Running the tool -----------------------------------------------------

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string toolPath()
{
    std::string path = SPOOL_TO_PNG_PATH;
#if defined(_WIN32)
    // The cross build names the tool by its Unix path; Wine shows the Unix
    // root as drive Z:.
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

// A file the tool wrote, its line ends as Unix has them.
std::string fileText(const std::string& path)
{
    std::string text = readWholeFile(path);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

const int toolNotRun = -1000;

#if defined(_WIN32)
HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Runs the command line with stdout and stderr in the given files and
// returns its exit code, or toolNotRun. Not through cmd.exe, which reports a
// process that Wine failed to create as a command it "can't recognize", the
// same as a tool that failed.
int runToFiles(const std::string& commandLine, const std::string& outFile, const std::string& errFile)
{
    HANDLE out = inheritableFile(outFile);
    HANDLE err = inheritableFile(errFile);
    int status = toolNotRun;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    DWORD code = 0;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        runProcess(commandLine, 120000, &startup, &code)) {
        status = int(code);
    }
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    if (err != INVALID_HANDLE_VALUE) {
        CloseHandle(err);
    }
    return status;
}
#else
int runToFiles(const std::string& commandLine, const std::string& outFile, const std::string& errFile)
{
    int status = std::system((commandLine + " >" + inQuotes(outFile) + " 2>" + inQuotes(errFile)).c_str());
    return status == -1 ? toolNotRun : status;
}
#endif

// Each test gets a folder of its own: the tool writes its PNG files into
// out/, and its stdout and stderr go to files beside it.
class SpoolToPng : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = fs::path(uniqueTempPath()).replace_extension(".d").string();
        outDir = (fs::path(work) / "out").string();
        ASSERT_TRUE(fs::create_directories(outDir));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    ToolRun run(const std::vector<std::string>& arguments)
    {
        std::string outFile = (fs::path(work) / "stdout.txt").string();
        std::string errFile = (fs::path(work) / "stderr.txt").string();
        std::string command = inQuotes(toolPath());
        for (const std::string& argument : arguments) {
            command += " " + inQuotes(argument);
        }
        int status = runToFiles(command, outFile, errFile);
        EXPECT_NE(status, toolNotRun) << "the tool could not be run: " << command;
        return {status, fileText(outFile), fileText(errFile)};
    }

    // Converts the spool file with the given options and the out folder.
    ToolRun convert(const TempFile& spool, std::vector<std::string> options = {})
    {
        options.insert(options.end(), {"--out", outDir, spool.path()});
        return run(options);
    }

    std::vector<std::string> pngFiles() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(outDir)) {
            if (entry.path().extension() == ".png") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string pageName(const TempFile& spool, int page)
    {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "-page-%03d.png", page);
        return fs::path(spool.path()).stem().string() + suffix;
    }

    DecodedPng page(const TempFile& spool, int page) const
    {
        return readPng((fs::path(outDir) / pageName(spool, page)).string());
    }

    std::string work;
    std::string outDir;
};

// ---- Pages as the job prints them -------------------------------------------

TEST_F(SpoolToPng, WritesOnePageForEachDocumentTheJobPrints)
{
    // Page 1: text, then an image whose bitmap runs on through records 2 and
    // 3, then (chained past them) more text. Page 2: text. Page 3: an image.
    ImageFields wide;
    wide.flags = recordFlagContinued;
    wide.width = 64;
    wide.height = 8;
    Bytes bitmap(64, 0xAA);
    Bytes image = imageRecord(wide, Bytes(bitmap.begin(), bitmap.begin() + 20));
    SpoolDatabase database;
    database.records = {
        textRecord("first page", recordFlagContinued),
        image,
        Bytes(bitmap.begin() + 20, bitmap.begin() + 42),
        Bytes(bitmap.begin() + 42, bitmap.end()),
        textRecord("still the first page"),
        textRecord("second page"),
        solidImage(72, 72, 72, 72, 72),
    };
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool);

    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> expected = {pageName(spool, 1), pageName(spool, 2), pageName(spool, 3)};
    EXPECT_EQ(pngFiles(), expected);
    std::vector<std::string> lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(lines[i], outDir + "/" + expected[i] + "  2550 x 3300");
        DecodedPng png = page(spool, i + 1);
        ASSERT_EQ(png.error, "");
        EXPECT_GT(blackPixels(png), 0) << "page " << i + 1;
    }
    // The 1-inch square of page 3, at (1 in, 1 in).
    EXPECT_EQ(blackPixels(page(spool, 3)), 300L * 300L);
    EXPECT_EQ(blackIn(page(spool, 3), 300, 300, 600, 600), 300L * 300L);
}

TEST_F(SpoolToPng, FileCutShortEndsWithTheLastPageItHolds)
{
    // Cut where the third page begins: its record and the fourth's lie at
    // and past the end, and give no blank pages.
    SpoolDatabase database = fourImagePages();
    database.truncateTo = recordStart(database, 2);
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool);

    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> expected = {pageName(spool, 1), pageName(spool, 2)};
    EXPECT_EQ(pngFiles(), expected);
}

TEST_F(SpoolToPng, RefusedPageStillGoesOutBlank)
{
    // A first record that starts before the stream's start (a negative
    // offset) is refused; the printer still gets its document.
    SpoolDatabase database;
    database.records = {solidImage(72, 72, 72, 0, 0), solidImage(72, 72, 72, 0, 0)};
    database.startOffsets[0] = 0xFFFFFF00u;
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool);

    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], outDir + "/" + pageName(spool, 1) + "  2550 x 3300  (refused: blank)");
    EXPECT_EQ(lines[1], outDir + "/" + pageName(spool, 2) + "  2550 x 3300");
    DecodedPng blank = page(spool, 1);
    DecodedPng drawn = page(spool, 2);
    ASSERT_EQ(blank.error, "");
    ASSERT_EQ(drawn.error, "");
    EXPECT_EQ(blackPixels(blank), 0);
    EXPECT_EQ(blackPixels(drawn), 300L * 300L);
}

TEST_F(SpoolToPng, FileWithoutRecordsMakesNoPng)
{
    TempFile spool(buildSpoolFile(SpoolDatabase()));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool);

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("no pages"), std::string::npos) << result.out;
    EXPECT_TRUE(pngFiles().empty());
}

// ---- Sheet size, resolution and the printer's margins ---------------------

struct SheetCase {
    std::vector<std::string> options;
    int dpi;
    int width;
    int height;
};

void PrintTo(const SheetCase& sheet, std::ostream* out)
{
    for (const std::string& option : sheet.options) {
        *out << option << " ";
    }
    *out << "-> " << sheet.width << " x " << sheet.height << " at " << sheet.dpi << " dpi";
}

class SpoolToPngSheet : public SpoolToPng, public ::testing::WithParamInterface<SheetCase> {};

// An image 1 x 0.5 in at (0.5 in, 0.5 in) lands on those inches at any
// resolution, on a PNG the size of the whole sheet.
TEST_P(SpoolToPngSheet, ImageLandsWhereThePrinterPutsIt)
{
    const SheetCase& sheet = GetParam();
    SpoolDatabase database;
    database.records = {solidImage(72, 36, 72, 36, 36)};
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool, sheet.options);

    ASSERT_EQ(result.status, 0) << result.err;
    DecodedPng png = page(spool, 1);
    ASSERT_EQ(png.error, "");
    EXPECT_EQ(png.width, sheet.width);
    EXPECT_EQ(png.height, sheet.height);
    int left = sheet.dpi / 2;
    int top = sheet.dpi / 2;
    int right = left + sheet.dpi;
    int bottom = top + sheet.dpi / 2;
    EXPECT_EQ(blackIn(png, left, top, right, bottom), long(right - left) * (bottom - top));
    EXPECT_EQ(blackPixels(png), long(right - left) * (bottom - top));
}

INSTANTIATE_TEST_SUITE_P(Papers, SpoolToPngSheet,
                         ::testing::Values(SheetCase{{}, 300, 2550, 3300},
                                           SheetCase{{"--paper", "letter"}, 300, 2550, 3300},
                                           SheetCase{{"--paper", "a4"}, 300, 2480, 3508},
                                           SheetCase{{"--paper", "a4", "--dpi", "150"}, 150, 1240, 1754},
                                           // Inside the quarter inch margins: the image keeps its place.
                                           SheetCase{{"--offset", "75,75"}, 300, 2550, 3300},
                                           SheetCase{{"--dpi", "600", "--offset", "299,299"}, 600, 5100, 6600}));

TEST_F(SpoolToPng, OffsetsMoveThePageOffTheMarginsAndCutItAtTheRight)
{
    // Page position 0 is the paper's edge, so a page that starts there
    // moves right and down by the offsets, all of it together; what falls
    // past the right margin stays lost. Odd offsets put the drawable area off
    // the byte boundaries.
    SpoolDatabase database;
    database.records = {
        solidImage(72, 36, 72, 0, 0, recordFlagContinued),  // top left corner, 300 x 150
        solidImage(72, 36, 72, 576, 0),                     // at 8 in, across the right margin
    };
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    ToolRun result = convert(spool, {"--offset", "13,7"});

    ASSERT_EQ(result.status, 0) << result.err;
    DecodedPng png = page(spool, 1);
    ASSERT_EQ(png.error, "");
    EXPECT_EQ(png.width, 2550);
    EXPECT_EQ(png.height, 3300);
    int areaRight = 2550 - 13;
    EXPECT_EQ(blackIn(png, 13, 7, 313, 157), 300L * 150L);
    EXPECT_EQ(blackIn(png, 2413, 157, areaRight, 307), long(areaRight - 2413) * 150L);
    EXPECT_EQ(blackPixels(png), 300L * 150L + long(areaRight - 2413) * 150L);
}

// ---- Failures ---------------------------------------------------------------

TEST_F(SpoolToPng, MissingFileFailsWithAMessage)
{
    std::string missing = uniqueTempPath();

    ToolRun result = run({"--out", outDir, missing});

    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("cannot open"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
    EXPECT_TRUE(pngFiles().empty());
}

TEST_F(SpoolToPng, UnwritableOutputFailsWithAMessage)
{
    SpoolDatabase database;
    database.records = {textRecord("a page")};
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());
    std::string missingDir = (fs::path(outDir) / "not-there").string();

    ToolRun result = run({"--out", missingDir, spool.path()});

    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
}

TEST_F(SpoolToPng, HugePageFailsWithAMessage)
{
    SpoolDatabase database;
    database.records = {textRecord("a page")};
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());

    // Terabytes of bits at a million dpi; beyond a pixel count at two billion.
    struct {
        const char* dpi;
        const char* message;
    } cases[] = {{"1000000", "not enough memory"}, {"2000000000", "too large"}};
    for (const auto& huge : cases) {
        ToolRun result = convert(spool, {"--dpi", huge.dpi});
        EXPECT_NE(result.status, 0) << huge.dpi;
        EXPECT_NE(result.err.find(huge.message), std::string::npos) << result.err;
        EXPECT_TRUE(pngFiles().empty()) << huge.dpi;
    }
}

TEST_F(SpoolToPng, HelpPrintsUsage)
{
    ToolRun result = run({"--help"});

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("usage: spool_to_png", 0), 0u) << result.out;
}

class SpoolToPngArguments : public SpoolToPng, public ::testing::WithParamInterface<std::vector<std::string>> {};

// Each case is given a sound spool file too, unless it is about the file.
TEST_P(SpoolToPngArguments, BadArgumentFailsWithAMessage)
{
    SpoolDatabase database;
    database.records = {textRecord("a page")};
    TempFile spool(buildSpoolFile(database));
    ASSERT_TRUE(spool.written());
    std::vector<std::string> arguments = GetParam();
    for (std::string& argument : arguments) {
        if (argument == "FILE") {
            argument = spool.path();
        }
    }
    arguments.insert(arguments.begin(), {"--out", outDir});

    ToolRun result = run(arguments);

    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err, "");
    EXPECT_TRUE(pngFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, SpoolToPngArguments,
    ::testing::Values(std::vector<std::string>{"--dpi", "0", "FILE"}, std::vector<std::string>{"--dpi", "3x", "FILE"},
                      std::vector<std::string>{"--paper", "legal", "FILE"},
                      std::vector<std::string>{"--offset", "5", "FILE"},
                      std::vector<std::string>{"--offset", "1275,0", "FILE"},  // nothing left of 2550
                      std::vector<std::string>{"--colour", "FILE"}, std::vector<std::string>{"FILE", "FILE"},
                      std::vector<std::string>{}, std::vector<std::string>{"FILE", "--dpi"}));

}  // namespace
