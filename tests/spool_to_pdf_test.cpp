// spool_to_pdf run as a user runs it, its PDF read back with Poppler's tools
// (pdftotext, pdffonts, pdfinfo, pdftoppm) and held against spool_to_png's
// pages of the same file at the same options.
//
// Where the lines of text stand comes from the software surface, traced
// while this test draws the pages itself; outside those lines the PDF
// rendered back at the layout's resolution must be spool_to_png's page pixel
// for pixel (the images, and white everywhere else). Within them the fonts
// differ (Courier against the surface's bitmap font), so the text is checked
// as text.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "fernquill_version.h"
#include "render/bitmap_surface.h"
#include "tests/files.h"
#include "tests/png_reader.h"
#include "tests/spool_builder.h"
#include "tools/tool_front_end.h"

using namespace spooltest;
namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// The lines of a text that hold more than blanks, each with its runs of
// blanks made one space: pdftotext rebuilds spacing from positions.
std::vector<std::string> shownLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string joined;
        for (std::string word; words >> word;) {
            joined += (joined.empty() ? "" : " ") + word;
        }
        if (!joined.empty()) {
            lines.push_back(joined);
        }
    }
    return lines;
}

// A page rendered back by pdftoppm -mono, as PBM.
struct Raster {
    int width = 0;
    int height = 0;
    std::string bits;
};

// What the software surface drew on one page: its text lines and the rows
// they cover on the sheet.
struct TracedPage {
    std::vector<std::string> lines;
    std::vector<std::pair<int, int>> textRows;  // [top, bottom) on the sheet
};

struct PageTracer {
    SheetLayout sheet;
    std::vector<TracedPage> pages{1};
};

// Keeps the characters whose cells reach into the drawable area: the others
// are lost in the margins, on paper and in the PDF alike.
void traceText(void* context, int x, int y, int cellWidth, int cellHeight, const char* characters, int count)
{
    PageTracer* tracer = static_cast<PageTracer*>(context);
    std::string line;
    for (int i = 0; i < count; i++) {
        if (x + (i + 1) * cellWidth > 0 && x + i * cellWidth < tracer->sheet.areaWidth) {
            line += characters[i];
        }
    }
    tracer->pages.back().lines.push_back(line);
    tracer->pages.back().textRows.push_back({tracer->sheet.offsetY + y, tracer->sheet.offsetY + y + cellHeight});
}

int nextTracedPage(void* context, int, bool)
{
    static_cast<PageTracer*>(context)->pages.emplace_back();
    return 0;
}

// Draws the file's pages as the tools do with those options, and keeps what
// the surface reports.
std::vector<TracedPage> tracePages(const std::string& spoolPath, std::vector<std::string> options)
{
    std::string input = spoolPath;
    std::vector<char*> argv = {nullptr};
    for (std::string& option : options) {
        argv.push_back(option.data());
    }
    argv.push_back(input.data());
    const ToolDefinition tool = {"test", "", "", nullptr, nullptr, nullptr, nullptr, nullptr};
    ToolInput parsed;
    EXPECT_EQ(parseToolArguments(tool, nullptr, int(argv.size()), argv.data(), &parsed), 0);
    PageTracer tracer;
    EXPECT_EQ(layOutSheet("test", parsed.sheet, &tracer.sheet), 0);
    const SheetLayout& sheet = tracer.sheet;
    DrawSurface* surface = createPageSurface(sheet.areaWidth, sheet.areaHeight, sheet.dpi, sheet.dpi, sheet.offsetX,
                                             sheet.offsetY);
    SpoolStream* stream = openSpoolStream(spoolPath.c_str());
    PageTrace trace = {&tracer, traceText, nullptr};
    tracePageSurface(surface, &trace);
    drawSheetPages(stream, surface, sheet, nextTracedPage, &tracer);
    closeSpoolStream(stream);
    destroyPageSurface(surface);
    tracer.pages.pop_back();
    return tracer.pages;
}

// A zip archive of the given members, made with libzip.
Bytes zipArchive(const std::vector<std::pair<std::string, Bytes>>& members)
{
    std::string path = uniqueTempPath();
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& member : members) {
        zip_source_t* source = zip_source_buffer(zip, member.second.data(), member.second.size(), 0);
        EXPECT_GE(zip_file_add(zip, member.first.c_str(), source, ZIP_FL_ENC_UTF_8), 0) << member.first;
    }
    EXPECT_EQ(zip_close(zip), 0);
    std::string bytes = readWholeFile(path);
    std::remove(path.c_str());
    return Bytes(bytes.begin(), bytes.end());
}

Bytes exampleFile(const std::string& name)
{
    std::string bytes = readWholeFile(std::string(EXAMPLES_DIR) + "/" + name);
    return Bytes(bytes.begin(), bytes.end());
}

// The database with its own name (the header's first 32 bytes) replaced.
Bytes renamed(Bytes database, const std::string& name)
{
    std::fill_n(database.begin(), 32, 0);
    std::copy(name.begin(), name.end(), database.begin());
    return database;
}

// A job of images scaled up and down, raw and compressed, placed across the
// page and off its edges, between lines of text.
Bytes imageJob()
{
    ImageFields up;  // 72 dpi, enlarged
    up.width = 101;
    up.height = 37;
    up.x = 30;
    up.flags = recordFlagContinued;
    ImageFields down = up;  // 600 dpi, shrunk (black kept), compressed
    down.width = 419;
    down.height = 133;
    down.xResolution = down.yResolution = 600;
    down.y = 7;
    down.flags = recordFlagCompressed | recordFlagContinued;
    ImageFields across = up;  // past the right edge and the bottom
    across.width = 640;
    across.height = 900;
    across.x = 300;
    across.y = 5;
    across.xResolution = 96;
    across.flags = 0;
    SpoolDatabase database;
    database.records = {
        textRecord("Images, scaled", recordFlagContinued),
        imageRecord(up, makeTestBitmap(rowBytesFor(up.width), up.height, 1)),
        imageRecord(down, encodeImageRuns(makeTestBitmap(rowBytesFor(down.width), down.height, 2),
                                          rowBytesFor(down.width))),
        textRecord("between them\n  indented", recordFlagContinued),
        imageRecord(across, makeTestBitmap(rowBytesFor(across.width), across.height, 3)),
        textRecord("page two\nlast line"),
    };
    return buildSpoolFile(database);
}

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// Each test gets a folder of its own for the tools' files and output.
class SpoolToPdf : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = fs::path(uniqueTempPath()).replace_extension(".d").string();
        ASSERT_TRUE(fs::create_directories(work));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    std::string at(const std::string& name) const { return (fs::path(work) / name).string(); }

    std::string write(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(at(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return at(name);
    }

    RunResult run(const std::string& program, const std::vector<std::string>& arguments)
    {
        std::string command = quoted(program);
        for (const std::string& argument : arguments) {
            command += " " + quoted(argument);
        }
        int status = std::system((command + " >" + at("out.txt") + " 2>" + at("err.txt")).c_str());
        return {status, readWholeFile(at("out.txt")), readWholeFile(at("err.txt"))};
    }

    RunResult toPdf(const std::vector<std::string>& arguments) { return run(SPOOL_TO_PDF_PATH, arguments); }

    std::string pdfInfo(const std::string& pdf) { return run("pdfinfo", {pdf}).out; }

    int pageCount(const std::string& pdf)
    {
        std::istringstream info(pdfInfo(pdf));
        for (std::string field; info >> field;) {
            if (field == "Pages:" && info >> field) {
                return std::atoi(field.c_str());
            }
        }
        return -1;
    }

    std::vector<std::string> pageText(const std::string& pdf, int page)
    {
        std::string number = std::to_string(page);
        return shownLines(run("pdftotext", {"-layout", "-f", number, "-l", number, pdf, "-"}).out);
    }

    Raster renderBack(const std::string& pdf, int page, int dpi)
    {
        std::string number = std::to_string(page);
        run("pdftoppm", {"-mono", "-r", std::to_string(dpi), "-f", number, "-l", number, "-singlefile", pdf,
                         at("back")});
        std::istringstream file(readWholeFile(at("back.pbm")));
        Raster raster;
        std::string magic;
        file >> magic >> raster.width >> raster.height;
        file.get();
        raster.bits.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        EXPECT_EQ(magic, "P4");
        EXPECT_EQ(raster.bits.size(), size_t((raster.width + 7) / 8) * raster.height);
        return raster;
    }

    std::string work;
};

// ---- Pages against spool_to_png's ----------------------------------------------

struct LayoutCase {
    const char* name;
    Bytes (*spool)();
    std::vector<std::string> options;
    int dpi;
};

void PrintTo(const LayoutCase& layout, std::ostream* out)
{
    *out << layout.name;
}

class SpoolToPdfLayout : public SpoolToPdf, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SpoolToPdfLayout, TextComesBackAndEveryOtherPixelIsSpoolToPngs)
{
    const LayoutCase& layout = GetParam();
    std::string spool = write("job.PDB", layout.spool());
    std::vector<std::string> arguments = layout.options;
    arguments.insert(arguments.end(), {"-o", at("job.pdf"), spool});
    ASSERT_EQ(toPdf(arguments).status, 0);
    std::vector<std::string> pngArguments = layout.options;
    pngArguments.insert(pngArguments.end(), {"--out", work, spool});
    ASSERT_EQ(run(SPOOL_TO_PNG_PATH, pngArguments).status, 0);

    std::vector<TracedPage> pages = tracePages(spool, layout.options);
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ(pageCount(at("job.pdf")), int(pages.size()));
    std::string fonts = run("pdffonts", {at("job.pdf")}).out;
    EXPECT_NE(fonts.find("Courier                              Type 1            WinAnsi          no"),
              std::string::npos)
        << fonts;

    for (int page = 1; page <= int(pages.size()); page++) {
        const TracedPage& traced = pages[page - 1];
        std::string text;
        for (const std::string& line : traced.lines) {
            text += line + "\n";
        }
        EXPECT_EQ(pageText(at("job.pdf"), page), shownLines(text)) << "page " << page;

        char pngName[32];
        std::snprintf(pngName, sizeof pngName, "job-page-%03d.png", page);
        DecodedPng png = readPng(at(pngName));
        ASSERT_EQ(png.error, "");
        Raster back = renderBack(at("job.pdf"), page, layout.dpi);
        ASSERT_EQ(back.width, png.width);
        ASSERT_EQ(back.height, png.height);
        std::vector<bool> textRow(size_t(png.height), false);
        for (const auto& rows : traced.textRows) {
            for (int y = std::max(rows.first, 0); y < std::min(rows.second, png.height); y++) {
                textRow[size_t(y)] = true;
            }
        }
        // Row by row, a byte at a time: PNG stores black as 0, PBM as 1.
        long differ = 0;
        long black = 0;
        for (int y = 0; y < png.height; y++) {
            for (int i = 0; i < png.rowBytes && !textRow[size_t(y)]; i++) {
                int mask = i + 1 < png.rowBytes || png.width % 8 == 0 ? 0xFF : 0xFF << (8 - png.width % 8) & 0xFF;
                int fromPng = ~png.rows[size_t(y) * png.rowBytes + i] & mask;
                int fromPdf = static_cast<unsigned char>(back.bits[size_t(y) * png.rowBytes + i]) & mask;
                differ += static_cast<long>(std::bitset<8>(fromPng ^ fromPdf).count());
                black += static_cast<long>(std::bitset<8>(fromPng).count());
            }
        }
        EXPECT_EQ(differ, 0) << "page " << page << ", of " << black << " black pixels";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, SpoolToPdfLayout,
    ::testing::Values(LayoutCase{"Memo", [] { return exampleFile("1-memo.PDB"); }, {}, 300},
                      LayoutCase{"Chart", [] { return exampleFile("2-chart.PDB"); }, {}, 300},
                      LayoutCase{"Fern", [] { return exampleFile("3-fern.PDB"); }, {}, 300},
                      LayoutCase{"Images", imageJob, {}, 300},
                      LayoutCase{"ImagesA4WithMargins", imageJob, {"--paper", "a4", "--offset", "13,7"}, 300},
                      LayoutCase{"ImagesAt203Dpi", imageJob, {"--dpi", "203"}, 203},
                      LayoutCase{"ImagesAt600Dpi", imageJob, {"--dpi", "600", "--offset", "61,40"}, 600}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

// ---- Text, pages and the document ------------------------------------------------

TEST_F(SpoolToPdf, AnsiCharactersComeOutAsThemselves)
{
    SpoolDatabase database;
    // Windows-1252: e acute, pound, euro, en dash, curly quotes, s caron, sharp s.
    database.records = {textRecord("Caf\xE9 \xA3" "5 \x80 10 \x96 \x93ok\x94 \x9A\xDF\tend")};
    std::string spool = write("job.PDB", buildSpoolFile(database));
    ASSERT_EQ(toPdf({spool}).status, 0);

    std::vector<std::string> expected = {"Café £5 € 10 – “ok” šß end"};
    EXPECT_EQ(pageText(at("job.pdf"), 1), expected);
}

TEST_F(SpoolToPdf, RefusedPageIsBlankAndDocumentInfoIsSet)
{
    SpoolDatabase database;
    database.records = {textRecord("refused"), textRecord("drawn")};
    database.startOffsets[0] = 0xFFFFFF00u;  // before the stream's start
    std::string spool = write("My Job.PDB", buildSpoolFile(database));

    RunResult result = toPdf({spool});

    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, at("My Job.pdf") + "  2 pages  (1 refused: blank)\n");
    EXPECT_TRUE(pageText(at("My Job.pdf"), 1).empty());
    EXPECT_EQ(pageText(at("My Job.pdf"), 2), std::vector<std::string>{"drawn"});
    Raster blank = renderBack(at("My Job.pdf"), 1, 72);
    EXPECT_EQ(blank.bits.find_first_not_of('\0'), std::string::npos);
    std::string info = pdfInfo(at("My Job.pdf"));
    EXPECT_NE(info.find("Title:           My Job\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Producer:        Fernquill Desktop Spooler " FERNQUILL_VERSION_TEXT "\n"), std::string::npos);
    EXPECT_NE(info.find("CreationDate:"), std::string::npos);
}

// ---- Zip archives ---------------------------------------------------------------

TEST_F(SpoolToPdf, ArchiveGivesTheSamePagesAsItsSpoolFile)
{
    Bytes spool = exampleFile("2-chart.PDB");
    std::string direct = write("Fernquill_Spool_File.PDB", spool);
    std::string archive = write("backup.zip", zipArchive({{"Memo_Pad.PDB", renamed(exampleFile("1-memo.PDB"), "MemoDB")},
                                                           {"Palm/Backup/fernquill_spool_file.pdb", spool},
                                                           {"Datebook.PDB", Bytes(3000, 0x5A)}}));
    ASSERT_EQ(toPdf({direct}).status, 0);
    RunResult result = toPdf({archive});
    ASSERT_EQ(result.status, 0) << result.err;

    Raster fromFile = renderBack(at("Fernquill_Spool_File.pdf"), 1, 300);
    Raster fromArchive = renderBack(at("backup.pdf"), 1, 300);
    EXPECT_EQ(fromArchive.bits, fromFile.bits);
    EXPECT_EQ(pageText(at("backup.pdf"), 1), pageText(at("Fernquill_Spool_File.pdf"), 1));
    EXPECT_EQ(pageCount(at("backup.pdf")), 1);
}

TEST_F(SpoolToPdf, ArchiveWithTwoSpoolFilesNeedsTheMemberNamed)
{
    std::string archive = write("two.zip", zipArchive({{"alice/Fernquill_Spool_File.PDB", exampleFile("1-memo.PDB")},
                                                        {"bob/FERNQUILL_SPOOL_FILE.PDB", exampleFile("3-fern.PDB")}}));

    RunResult both = toPdf({archive});
    EXPECT_NE(both.status, 0);
    EXPECT_EQ(std::count(both.err.begin(), both.err.end(), '\n'), 1) << both.err;
    EXPECT_NE(both.err.find("alice/Fernquill_Spool_File.PDB, bob/FERNQUILL_SPOOL_FILE.PDB"), std::string::npos);
    EXPECT_NE(both.err.find("--member"), std::string::npos);
    EXPECT_FALSE(fs::exists(at("two.pdf")));

    ASSERT_EQ(toPdf({"--member", "bob/FERNQUILL_SPOOL_FILE.PDB", archive}).status, 0);
    EXPECT_NE(pageText(at("two.pdf"), 1).at(0).find("FERNQUILL DESKTOP SPOOLER"), std::string::npos);
}

TEST_F(SpoolToPdf, SpoolToPngTakesTheSameArchives)
{
    std::string direct = write("Fernquill_Spool_File.PDB", exampleFile("3-fern.PDB"));
    std::string archive = write("two.zip", zipArchive({{"alice/Fernquill_Spool_File.PDB", exampleFile("1-memo.PDB")},
                                                        {"bob/Fernquill_Spool_File.PDB", exampleFile("3-fern.PDB")}}));
    ASSERT_EQ(run(SPOOL_TO_PNG_PATH, {"--out", work, direct}).status, 0);

    RunResult both = run(SPOOL_TO_PNG_PATH, {"--out", work, archive});
    EXPECT_NE(both.status, 0);
    EXPECT_NE(both.err.find("--member"), std::string::npos) << both.err;
    RunResult bob = run(SPOOL_TO_PNG_PATH, {"--out", work, "--member", "bob/Fernquill_Spool_File.PDB", archive});
    ASSERT_EQ(bob.status, 0) << bob.err;

    EXPECT_EQ(bob.out, at("two-page-001.png") + "  2550 x 3300\n");
    EXPECT_EQ(readWholeFile(at("two-page-001.png")), readWholeFile(at("Fernquill_Spool_File-page-001.png")));
}

// Archives as emulators and backup tools make them: the one spool database
// is found by its file name or its own name, among other databases and
// members that are none.
struct ArchiveCase {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> (*members)(const Bytes& spool);
};

class SpoolToPdfArchive : public SpoolToPdf, public ::testing::WithParamInterface<ArchiveCase> {};

TEST_P(SpoolToPdfArchive, TakesTheSpoolDatabase)
{
    Bytes spool = exampleFile("2-chart.PDB");
    std::string archive = write("backup.zip", zipArchive(GetParam().members(spool)));
    ASSERT_EQ(toPdf({write("Fernquill_Spool_File.PDB", spool)}).status, 0);

    RunResult result = toPdf({archive});

    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(pageText(at("backup.pdf"), 1), pageText(at("Fernquill_Spool_File.pdf"), 1));
}

INSTANTIATE_TEST_SUITE_P(
    Archives, SpoolToPdfArchive,
    ::testing::Values(
        ArchiveCase{"CloudpilotEmu",
                    [](const Bytes& spool) -> std::vector<std::pair<std::string, Bytes>> {
                        return {{"Memo DB.pdb", renamed(spool, "MemoDB")},
                                {"rom/Graffiti ShortCuts.pdb", renamed(spool, "Graffiti ShortCuts")},
                                {"cache/Saved Preferences.pdb", renamed(spool, "Saved Preferences")},
                                {"Fernquill Spool File.pdb", renamed(spool, "Fernquill Spool File")},
                                {"Address DB.pdb", renamed(spool, "AddressDB")}};
                    }},
        ArchiveCase{"DatabaseNameOnly",
                    [](const Bytes& spool) -> std::vector<std::pair<std::string, Bytes>> {
                        return {{"Memo DB.pdb", renamed(spool, "MemoDB")}, {"backup/0001.pdb", spool}};
                    }},
        ArchiveCase{"TooShortMemberSkipped",
                    [](const Bytes& spool) -> std::vector<std::pair<std::string, Bytes>> {
                        return {{"Fernquill_Spool_File.PDB", Bytes(spool.begin(), spool.begin() + 77)},
                                {"Fernquill=20Spool=20File.pdb", renamed(spool, "MemoDB")}};
                    }}),
    [](const ::testing::TestParamInfo<ArchiveCase>& info) { return info.param.name; });

// ---- Failures: one line, a non-zero exit, no PDF left behind ---------------------

struct FailureCase {
    const char* name;
    Bytes (*input)();  // written as input.zip
    std::vector<std::string> options;
    const char* message;
};

void PrintTo(const FailureCase& failure, std::ostream* out)
{
    *out << failure.name;
}

class SpoolToPdfFailure : public SpoolToPdf, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SpoolToPdfFailure, SaysWhyInOneLineAndLeavesNothing)
{
    const FailureCase& failure = GetParam();
    std::string input = write("input.zip", failure.input());
    std::vector<std::string> arguments = failure.options;
    for (std::string& argument : arguments) {
        if (argument.rfind("WORK/", 0) == 0) {
            argument = at(argument.substr(5));
        }
    }
    arguments.push_back(input);

    RunResult result = toPdf(arguments);

    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find(failure.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(work)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "input.zip", "out.txt"}));
}

Bytes oneTextPage()
{
    SpoolDatabase database;
    database.records = {textRecord("a page")};
    return buildSpoolFile(database);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SpoolToPdfFailure,
    ::testing::Values(
        FailureCase{"NoSpoolFileInArchive",
                    [] { return zipArchive({{"Memo_Pad.PDB", renamed(oneTextPage(), "MemoDB")}}); }, {},
                    "no Fernquill_Spool_File.PDB in the archive"},
        FailureCase{"NoPalmDatabaseInArchive",
                    [] { return zipArchive({{"Fernquill Spool File.pdb", Bytes(77, 0)}, {"notes/", {}},
                                            {"notes/readme.txt", Bytes(500, 'a')}}); },
                    {}, "2 members were skipped as not Palm databases"},
        FailureCase{"NoSuchMember", [] { return zipArchive({{"Fernquill_Spool_File.PDB", oneTextPage()}}); },
                    {"--member", "x.PDB"}, "no member x.PDB"},
        FailureCase{"DamagedArchive", [] { return Bytes{'P', 'K', 3, 4, 20, 0, 0, 0}; }, {},
                    "cannot open the archive"},
        // 257 MiB of zeros packs into a small archive.
        FailureCase{"MemberTooLarge", [] { return zipArchive({{"Fernquill_Spool_File.PDB", Bytes(257u << 20, 0)}}); },
                    {}, "larger than a spool file can be"},
        FailureCase{"MemberOfASpoolFile", oneTextPage, {"--member", "x"}, "--member is for zip archives"},
        FailureCase{"OutputFolderMissing", oneTextPage, {"-o", "WORK/missing/out.pdf"}, "cannot write"},
        FailureCase{"OutputIsTheInput", oneTextPage, {"-o", "WORK/input.zip"}, "would replace the input"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(SpoolToPdf, InputThatCantBeReadFailsWithAMessage)
{
    for (const std::string& input : {at("missing.PDB"), at("folder.PDB")}) {
        fs::create_directories(at("folder.PDB"));

        RunResult result = toPdf({input});

        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.err, "spool_to_pdf: cannot open " + input + "\n");
    }
}

}  // namespace
