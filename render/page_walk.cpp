#include "render/page_walk.h"

#include "render/page_renderer.h"

int walkPages(SpoolStream* stream, PageVisitor visit, void* context, int* recordCount)
{
    int count = 0;
    readSpoolHeader(stream, &count, nullptr, nullptr);
    seekTo(stream, 0);
    if (recordCount != nullptr) {
        *recordCount = count;
    }
    WalkedPage page = {0, 0, count, 0};
    while (page.firstRecord < count) {
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
