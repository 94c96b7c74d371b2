#include "render/page_walk.h"

#include "render/page_renderer.h"

bool pageStartsInFile(SpoolStream* stream, int firstRecord)
{
    int32_t offset = 0;
    readRecordExtent(stream, firstRecord, &offset, nullptr);
    return offset < stream->length;
}

int walkPages(SpoolStream* stream, PageVisitor visit, void* context, int* recordCount)
{
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    seekTo(stream, 0);
    if (recordCount != nullptr) {
        *recordCount = count;
    }
    WalkedPage page = {0, 0, count, 0};
    while (page.firstRecord < count && pageStartsInFile(stream, page.firstRecord)) {
        page.number++;
        page.start = tell(stream);
        int result = visit(context, stream, page);
        if (result != 0) {
            return result;
        }
        page.firstRecord = nextPageRecord(stream, page.firstRecord, count);
    }
    return 0;
}
