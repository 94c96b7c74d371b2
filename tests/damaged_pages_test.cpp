// Damaged spool files printed as a job prints them, one fault per case.
//
// Each file is walked and drawn page by page by the print job's own code
// (page_walk.h, job_page.h): the printer render (300 dpi, origin moved back
// by the physical offsets), the window render from the page's start (96 dpi,
// keeping the screen copy), then past the records the page consumed. A case
// states how many pages the walk makes, which of them are refused, and how
// many black pixels each leaves on the window. At 96 dpi a 96 dpi image keeps its size and a glyph is drawn at its
// native 9 x 15, so those counts follow from the file's bytes alone: they are
// worked out in the comments, not read off a run.
//
// Most cases damage one thing in fourImagePages(): records 0 to 3, each a
// page of one solid 96 dpi image 8 pixels wide and 1 to 4 rows high (8, 16,
// 24 and 32 black pixels). Its record list ends at 110, two gap bytes follow,
// and the records start at 112, 131, 151 and 172; the file ends at 194.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "jobs/job_page.h"
#include "render/bitmap_surface.h"
#include "render/page_renderer.h"
#include "render/page_walk.h"
#include "tests/files.h"
#include "tests/pixels.h"
#include "tests/spool_builder.h"
#include "web/web_limits.h"

using namespace spooltest;

namespace {

const int windowSize = 256;
const int printerWidth = 600;
const int printerHeight = 800;
const int printerOffset = 10;

const int continued = recordFlagContinued;
const int compressed = recordFlagCompressed;

ImageFields fieldsOf(int width, int height, int flags = 0, int xResolution = 96, int yResolution = 96)
{
    ImageFields fields;
    fields.width = width;
    fields.height = height;
    fields.flags = flags;
    fields.xResolution = xResolution;
    fields.yResolution = yResolution;
    return fields;
}

// A 96 dpi image, every pixel black.
Bytes solid(int width, int height, int flags = 0)
{
    return imageRecord(fieldsOf(width, height, flags), Bytes(static_cast<size_t>(rowBytesFor(width)) * height, 0xFF));
}

// Where record `record` of fourImagePages() starts; record 4 is the file end.
uint32_t startOf(int record)
{
    return recordStart(fourImagePages(), record);
}

Bytes sound()
{
    return buildSpoolFile(fourImagePages());
}

Bytes withCount(uint16_t count)
{
    SpoolDatabase job = fourImagePages();
    job.storedCount = count;
    return buildSpoolFile(job);
}

Bytes cutAt(size_t length)
{
    SpoolDatabase job = fourImagePages();
    job.truncateTo = length;
    return buildSpoolFile(job);
}

Bytes withOffset(int record, uint32_t offset)
{
    SpoolDatabase job = fourImagePages();
    job.startOffsets[record] = offset;
    return buildSpoolFile(job);
}

Bytes withRecord(int record, const Bytes& bytes)
{
    SpoolDatabase job = fourImagePages();
    job.records[record] = bytes;
    return buildSpoolFile(job);
}

// The last record a 16 x 2 compressed image whose data ends with the file.
Bytes compressedLastImage(const Bytes& data)
{
    return withRecord(3, imageRecord(fieldsOf(16, 2, compressed), data));
}

// The largest image a header can describe, 65535 x 65535 (512 MiB of
// bitmap), at the given resolution, raw, followed in its record by `data`.
Bytes hugeImage(int resolution, const Bytes& data)
{
    return imageRecord(fieldsOf(65535, 65535, 0, resolution, resolution), data);
}

// Black pixels of a line of text drawn at 96 dpi: its glyphs' inked pixels.
int inkOf(const std::string& line)
{
    int ink = 0;
    for (unsigned char character : line) {
        ink += glyphBlackPixels(character);
    }
    return ink;
}

struct DamagedCase {
    const char* name;
    Bytes (*build)();
    int pages;
    std::vector<int> refused;  // pages, counted from 0 in the order walked
    std::vector<int> black;    // per page, on the window
    // The page of a 65535 x 65535 image, whose 512 MiB bitmap a 32-bit
    // process may find no room for; -1 for none.
    int hugeImagePage = -1;
};

void PrintTo(const DamagedCase& damaged, std::ostream* out)
{
    *out << damaged.name;
}

std::vector<DamagedCase> damagedCases()
{
    return {
        {"SoundFile", sound, 4, {}, {8, 16, 24, 32}},

        // ---- The header and the record count ----
        // Every field read past the end is 0xFFFF: a count of -1.
        {"EmptyFile", [] { return Bytes{}; }, 0, {}, {}},
        {"HeaderCutBeforeTheCount", [] { return cutAt(70); }, 0, {}, {}},
        // The count's high byte 0x00 is there, its low byte reads 0xFF: 255
        // records, whose list lies past the end and reads as offset -1. The
        // first page starts before position 0 and is refused; all the others
        // start before the position too and are passed over as consumed.
        {"HeaderCutInsideTheCount", [] { return cutAt(77); }, 1, {0}, {0}},
        {"CountZero", [] { return withCount(0); }, 0, {}, {}},
        {"CountFFFFIsMinusOne", [] { return withCount(0xFFFF); }, 0, {}, {}},
        {"Count8000IsNegative", [] { return withCount(0x8000); }, 0, {}, {}},
        {"CountOneLessThanTheRecords", [] { return withCount(3); }, 3, {}, {8, 16, 24}},
        // Two records: the list ends at 94, and the extra entry reads the two
        // gap bytes and the text record's kind 1 and flags 0: offset 256, past
        // the end of the 121-byte file. The walk ends there, without a third
        // page.
        {"CountOneMoreThanTheRecordList",
         [] {
             SpoolDatabase job;
             job.records = {textRecord("HI\n"), solid(8, 2)};
             job.storedCount = 3;
             return buildSpoolFile(job);
         },
         2, {}, {inkOf("HI"), 16}},
        // No records: the first entry is the two gap bytes and two bytes past
        // the end, 0x0000FFFF, past the end of the file: no pages.
        {"CountWithoutARecordList",
         [] {
             SpoolDatabase job;
             job.storedCount = 5;
             return buildSpoolFile(job);
         },
         0, {}, {}},

        // ---- Record offsets ----
        // Record 2 past the end ends the job, though record 3 is whole.
        {"OffsetPastTheFileEnd", [] { return withOffset(2, 1000); }, 2, {}, {8, 16}},
        {"NegativeFirstOffsetIsRefused", [] { return withOffset(0, 0x80000000); }, 4, {0}, {0, 16, 24, 32}},
        {"NegativeLaterOffsetIsPassedOver", [] { return withOffset(2, 0xFFFFFFFF); }, 3, {}, {8, 16, 32}},
        // Record 0 at record 1's bytes: the first page is the 8 x 2 image and
        // ends where record 2 starts; record 1 (at record 0's bytes) was
        // consumed.
        {"OffsetsOutOfOrder",
         [] {
             SpoolDatabase job = fourImagePages();
             job.startOffsets[0] = startOf(1);
             job.startOffsets[1] = startOf(0);
             return buildSpoolFile(job);
         },
         3, {}, {16, 24, 32}},
        {"OffsetPointingBackToAnEarlierRecord", [] { return withOffset(2, startOf(0)); }, 3, {}, {8, 16, 32}},
        // Record 1 takes record 2's offset, so its size is 0: its page draws
        // record 2's image, after which record 2 starts before the position.
        {"RecordOfSizeZero", [] { return withOffset(1, startOf(2)); }, 3, {}, {8, 24, 32}},
        // Record 3 starts at the file's end: no page.
        {"LastRecordOfSizeZero", [] { return withRecord(3, Bytes{}); }, 3, {}, {8, 16, 24}},
        {"AllRecordsAtTheSameOffset",
         [] {
             SpoolDatabase job = fourImagePages();
             for (int record = 0; record < 4; record++) {
                 job.startOffsets[record] = startOf(0);
             }
             return buildSpoolFile(job);
         },
         1, {}, {8}},
        // Offset 10 of the name "Fernquill_Spool_File" is 'S' (a kind that
        // draws nothing) then 'p' (0x70, not continued): a blank first page.
        {"FirstOffsetInsideTheHeader", [] { return withOffset(0, 10); }, 4, {}, {0, 16, 24, 32}},
        // At offset 0: 'F' draws nothing, but 'e' (0x65) has the continued
        // bit, so the first page goes on with record 1 and consumes it.
        {"FirstOffsetAtTheFileStart", [] { return withOffset(0, 0); }, 3, {}, {16, 24, 32}},
        // Cut where record 2 begins: two pages print, and the walk ends at
        // the page that starts at the file's end, though two records remain
        // in the list.
        {"FileCutAfterTheSecondPage", [] { return cutAt(startOf(2)); }, 2, {}, {8, 16}},
        // Cut at 96: entries 0 and 1 point past the end, so no page prints.
        {"RecordListCutShort", [] { return cutAt(96); }, 0, {}, {}},
        // Cut inside record 0's header: its resolutions read 65535, so the 8
        // pixel wide image is 0 pixels wide at 96 dpi; the other three
        // records lie past the end and end the job.
        {"FileCutInsideTheFirstRecord", [] { return cutAt(startOf(0) + 10); }, 1, {}, {0}},

        // ---- Kinds and chains ----
        {"RecordOfUnknownKind", [] { return withRecord(1, Bytes{7, 0, 'z'}); }, 4, {}, {8, 0, 24, 32}},
        {"ContinuedChainOffTheEnd", [] { return withRecord(3, solid(8, 4, continued)); }, 4, {}, {8, 16, 24, 32}},
        // The chain reads a kind of -1 at 1000 and ends. Reading past the end
        // moves nothing, so record 3 starts at the position, not before it:
        // it is not consumed, but as it lies past the end it ends the job.
        {"ContinuedIntoARecordPastTheEnd",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[2] = solid(8, 3, continued);
             job.startOffsets[3] = 1000;
             return buildSpoolFile(job);
         },
         3, {}, {8, 16, 24}},
        // Record 2 shares record 1's offset: the chain passes over it and
        // draws record 3 below record 1 on the same page.
        {"ChainedRecordAtTheSameOffsetIsPassedOver",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[1] = solid(8, 2, continued);
             job.startOffsets[2] = startOf(1);
             return buildSpoolFile(job);
         },
         2, {}, {8, 16 + 32}},

        // ---- Images ----
        // 4 rows declared, 2 in the record: the other two are record 2's kind
        // and flags bytes (0, white), so record 2 counts as consumed.
        {"ImageLargerThanItsRecord", [] { return withRecord(1, imageRecord(fieldsOf(8, 4), Bytes(2, 0xFF))); }, 3,
         {}, {8, 16, 32}},
        // A continued 8 x 7 image with 2 rows of its own reads record 2
        // (01 00 FF FF FF: 1 + 0 + 24 black) as its last 5 rows, then the
        // chain goes on with record 3 below it.
        {"ImageDataRunsThroughTheNextRecord",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[1] = imageRecord(fieldsOf(8, 7, continued), Bytes(2, 0xFF));
             job.records[2] = textRecord(Bytes{0xFF, 0xFF, 0xFF});
             return buildSpoolFile(job);
         },
         2, {}, {8, 16 + 1 + 24 + 32}},
        {"ImageOfWidthZero", [] { return withRecord(1, imageRecord(fieldsOf(0, 2), Bytes(2, 0xFF))); }, 4, {},
         {8, 0, 24, 32}},
        // Cut after width and height: x, y and both resolutions read 65535,
        // and 8 pixels at 65535 dpi are 0 pixels at 96.
        {"ImageHeaderCutShort", [] { return cutAt(startOf(3) + 6); }, 4, {}, {8, 16, 24, 0}},
        // Cut after kind and flags: every field reads 65535, a 512 MiB bitmap
        // with no data, drawn white into 96 x 96 pixels.
        {"ImageHeaderCutAfterTheFlags", [] { return cutAt(startOf(3) + 2); }, 4, {}, {8, 16, 24, 0}},
        // Records 2 and 3 (43 bytes) become the first 344 pixels of the top
        // row. Shrunk from 65535 to 96, pixels 0 to 682 of the first row and
        // column feed the corner pixel: one black pixel.
        {"HugeImageWithoutItsData", [] { return withRecord(1, hugeImage(65535, Bytes{})); }, 2, {}, {8, 1}, 1},
        // At 1 dpi every pixel is a 96 x 96 block. The one data byte 0xA0
        // blackens blocks 0 and 2 of the top row, the second cut to 64
        // columns by the window's edge.
        {"HugeImageScaledFarPastThePage", [] { return withRecord(3, hugeImage(1, Bytes{0xA0})); }, 4, {},
         {8, 16, 24, 96 * (96 + 64)}, 3},
        {"ZeroHorizontalResolution",
         [] { return withRecord(1, imageRecord(fieldsOf(8, 2, 0, 0, 48), Bytes(2, 0xFF))); }, 4, {},
         {8, 8 * 4, 24, 32}},
        {"ZeroVerticalResolution",
         [] { return withRecord(1, imageRecord(fieldsOf(8, 2, 0, 192, 0), Bytes(2, 0xFF))); }, 4, {},
         {8, 4 * 2, 24, 32}},
        {"RawBitmapCutShort", [] { return cutAt(startOf(4) - 2); }, 4, {}, {8, 16, 24, 16}},
        // 3 of 4 rows there, halved to 2 rows at 192 dpi: the second row
        // merges the black third row with the missing (white) fourth, and
        // shrinking keeps black.
        {"RawBitmapCutShortAndHalved",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[3] = imageRecord(fieldsOf(8, 4, 0, 96, 192), Bytes(3, 0xFF));
             return buildSpoolFile(job);
         },
         4, {}, {8, 16, 24, 16}},
        // A literal of 4 gets 0x0F and then the end of the file: 0xFF three
        // times.
        {"CompressedDataEndingMidLiteral", [] { return compressedLastImage(Bytes{0x0D, 0x0F}); }, 4, {},
         {8, 16, 24, 4 + 24}},
        // A fill of 3 whose value lies past the end fills with 0xFF.
        {"CompressedDataEndingMidFill", [] { return compressedLastImage(Bytes{0x08}); }, 4, {}, {8, 16, 24, 24}},
        {"CompressedDataEndingBetweenRuns", [] { return compressedLastImage(Bytes{0x05, 0xFF, 0xFF}); }, 4, {},
         {8, 16, 24, 16}},
        // A copy from above in the top row has nothing above: white. The
        // literal after it fills the second row with F0 0F.
        {"CopyFromAboveInTheTopRow",
         [] { return withRecord(1, imageRecord(fieldsOf(16, 2, compressed), Bytes{0x07, 0x05, 0xF0, 0x0F})); }, 4,
         {}, {8, 8, 24, 32}},
        // A fill of 64 into a 2-byte bitmap writes 2 and reads its one value
        // byte, so the stream stays in step and the chain draws record 2.
        {"RunLongerThanTheBitmap",
         [] { return withRecord(1, imageRecord(fieldsOf(16, 1, continued | compressed), Bytes{0xFC, 0xFF})); }, 3,
         {}, {8, 16 + 24, 32}},

        // ---- Text ----
        // One byte long: the flags byte is record 2's kind (0), the payload
        // is empty, and the header read ends inside record 2.
        {"TextRecordOfSizeOne", [] { return withRecord(1, Bytes{1}); }, 3, {}, {8, 0, 32}},
        // Record 2 is text, so the flags byte is 1, continued: the chain
        // passes over record 2 (already read) and draws record 3.
        {"TextRecordOfSizeOneTakesItsFlagsFromTheNextRecord",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[1] = Bytes{1};
             job.records[2] = textRecord("HI\n");
             return buildSpoolFile(job);
         },
         2, {}, {8, 32}},
        {"TextRecordWithNegativeSize",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[0] = textRecord("HI\n");
             job.startOffsets[1] = recordStart(job, 0) - 10;
             return buildSpoolFile(job);
         },
         3, {}, {0, 24, 32}},
        // The record list makes the size INT32_MIN + 1: no payload.
        {"TextRecordWithTheMostNegativeSize",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[1] = textRecord("HI\n");
             job.startOffsets[2] = recordStart(job, 1) + 0x80000001u;
             return buildSpoolFile(job);
         },
         3, {}, {8, 0, 32}},
        // Record 2 ("HI", unterminated) extends 3 bytes past the end, which
        // read as 0xFF characters; record 3 starts there, past the end, and
        // ends the job.
        {"TextExtentRunsPastTheFileEnd",
         [] {
             SpoolDatabase job = fourImagePages();
             job.records[2] = textRecord("HI");
             job.records[3] = Bytes{};
             job.startOffsets[3] = recordStart(job, 3) + 3;
             return buildSpoolFile(job);
         },
         3, {}, {8, 16, inkOf("HI\xFF\xFF\xFF")}},
        // 200 chained empty images at 1 dpi, each moving the pen down twice
        // 65535 pixels scaled (its y and its height): over 2^31 pixels in
        // all, far past any page, so the text ending the chain is not seen.
        {"PenPushedFarPastThePage",
         [] {
             ImageFields tall = fieldsOf(0, 65535, continued, 1, 1);
             tall.y = 65535;
             SpoolDatabase job;
             job.records.assign(200, imageRecord(tall, {}));
             job.records.push_back(textRecord("HI\n"));
             return buildSpoolFile(job);
         },
         1, {}, {0}},
    };
}

struct JobResult {
    int pages = 0;
    std::vector<int> refused;
    std::vector<int> black;
};

struct PrintedJob {
    JobSurfaces surfaces;
    JobResult result;
};

int printJobPage(void* context, SpoolStream* stream, const WalkedPage& page)
{
    PrintedJob* job = static_cast<PrintedJob*>(context);
    JobResult& result = job->result;
    JobPageRenders renders = renderJobPage(job->surfaces, stream, page);
    EXPECT_EQ(renders.printed, renders.shown) << "page " << result.pages;
    EXPECT_EQ(renders.printedEnd, tell(stream)) << "page " << result.pages;
    if (renders.shown != 0) {
        result.refused.push_back(result.pages);
    }
    result.black.push_back(blackPixels(job->surfaces.window));
    result.pages++;
    return 0;
}

// Walks and draws the file with the print job's own code. Both renders of a
// page start from the same position, so they must read the same bytes and
// agree on refusing.
JobResult printJob(SpoolStream* stream, DrawSurface* printer, DrawSurface* window)
{
    PrintedJob job = {{printer, {-printerOffset, -printerOffset, 300, 300, printerWidth, printerHeight}, window,
                       {0, 0, 96, 96, windowSize, windowSize}},
                      {}};
    walkPages(stream, printJobPage, &job, nullptr);
    return job.result;
}

class DamagedPagesTest : public testing::TestWithParam<DamagedCase> {
protected:
    void SetUp() override
    {
        printer = createPageSurface(printerWidth, printerHeight, 300, 300, printerOffset, printerOffset);
        window = createPageSurface(windowSize, windowSize, 96, 96, 0, 0);
        releaseScreenCopy();
    }
    void TearDown() override
    {
        releaseScreenCopy();
        destroyPageSurface(window);
        destroyPageSurface(printer);
    }

    DrawSurface* printer = nullptr;
    DrawSurface* window = nullptr;
};

TEST_P(DamagedPagesTest, PrintsThePagesTheFileDescribes)
{
    const DamagedCase& damaged = GetParam();
    ASSERT_NE(printer, nullptr);
    ASSERT_NE(window, nullptr);
    OpenSpool spool(damaged.build());
    ASSERT_NE(spool.stream(), nullptr);

    JobResult job = printJob(spool.stream(), printer, window);

    EXPECT_EQ(job.pages, damaged.pages);
    EXPECT_EQ(job.refused, damaged.refused);
    // Where the bitmap can't be had (and its copy, 1 GiB in all, is more
    // than a 32-bit address space has in one piece under Wine), the renderer
    // leaves the image out and its page prints blank.
    std::vector<int> expected = damaged.black;
    if (sizeof(void*) == 4 && damaged.hugeImagePage >= 0 && job.black.size() == expected.size() &&
        job.black[damaged.hugeImagePage] == 0) {
        expected[damaged.hugeImagePage] = 0;
    }
    EXPECT_EQ(job.black, expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, DamagedPagesTest, testing::ValuesIn(damagedCases()),
                         [](const testing::TestParamInfo<DamagedCase>& info) { return info.param.name; });

// The web page's tests run the same files through its WebAssembly build:
// where scripts/test names a folder, each file is written there, its name
// ending in the number of pages the job walks with the page's limit on
// image memory (a huge image left out walks on differently).
class DamagedFilesForTheWebPage : public DamagedPagesTest {};

TEST_F(DamagedFilesForTheWebPage, WrittenToTheFolderAsked)
{
    const char* folder = std::getenv("FERNQUILL_DAMAGED_FILES_OUT");
    if (folder == nullptr) {
        GTEST_SKIP() << "FERNQUILL_DAMAGED_FILES_OUT names no folder";
    }
    ImageMemoryLimitGuard guard;
    setImageMemoryLimit(webPageImageMemoryLimit);
    for (const DamagedCase& damaged : damagedCases()) {
        Bytes file = damaged.build();
        OpenSpool spool(file);
        ASSERT_NE(spool.stream(), nullptr);
        int pages = printJob(spool.stream(), printer, window).pages;
        std::string path = std::string(folder) + "/" + damaged.name + "." + std::to_string(pages) + ".pdb";
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr) << path;
        size_t written = file.empty() ? 0 : std::fwrite(file.data(), 1, file.size(), out);
        EXPECT_EQ(std::fclose(out), 0) << path;
        EXPECT_EQ(written, file.size()) << path;
    }
}

#if defined(SPOOL_TO_PDF_PATH)
// The same files through spool_to_pdf, where it is built: it must neither
// crash nor hang, and its PDF holds a page for every page the job walks, a
// refused one blank. A file without pages gives no PDF.
class DamagedPdfTest : public testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedPdfTest, SpoolToPdfWritesEveryPageTheJobWalks)
{
    const DamagedCase& damaged = GetParam();
    TempFile spool(damaged.build());
    ASSERT_TRUE(spool.written());
    std::string pdf = uniqueTempPath() + ".pdf";
    std::string output = pdf + ".txt";

    std::string command = "'" SPOOL_TO_PDF_PATH "' -o '" + pdf + "' '" + spool.path() + "' >'" + output + "' 2>&1";
    int status = std::system(command.c_str());
    std::string said = readWholeFile(output);
    int pages = -1;
    if (std::system(("pdfinfo '" + pdf + "' >'" + output + "' 2>&1").c_str()) == 0) {
        std::string info = readWholeFile(output);
        size_t at = info.find("Pages:");
        pages = at != std::string::npos ? std::atoi(info.c_str() + at + 6) : -1;
    }
    std::remove(output.c_str());
    std::remove(pdf.c_str());

    EXPECT_EQ(status, 0) << said;
    if (damaged.pages == 0) {
        EXPECT_NE(said.find("no pages"), std::string::npos) << said;
        EXPECT_EQ(pages, -1);
        return;
    }
    std::string expected = pdf + "  " + std::to_string(damaged.pages) + (damaged.pages == 1 ? " page" : " pages");
    if (!damaged.refused.empty()) {
        expected += "  (" + std::to_string(damaged.refused.size()) + " refused: blank)";
    }
    EXPECT_EQ(said, expected + "\n");
    EXPECT_EQ(pages, damaged.pages);
}

INSTANTIATE_TEST_SUITE_P(Faults, DamagedPdfTest, testing::ValuesIn(damagedCases()),
                         [](const testing::TestParamInfo<DamagedCase>& info) { return info.param.name; });
#endif

}  // namespace
