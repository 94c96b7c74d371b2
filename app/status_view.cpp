// The status view: what the spooler watches and what it has done. Lines are
// placed by the height h of the surface's current font, so the view reads
// the same on any screen.
#include <cstdio>
#include <cstring>

#include "app/spooler_app.h"
#include "jobs/print_job.h"
#include "watch/user_watch.h"

namespace {

void drawLine(DrawSurface* surface, int x, int y, const char* text)
{
    drawText(surface, x, y, text, static_cast<int>(std::strlen(text)));
}

}  // namespace

void paintStatus(DrawSurface* surface)
{
    int width = 0;
    int height = 0;
    surfaceArea(surface, &width, &height);
    fillWhite(surface, 0, 0, width, height);
    const int h = currentTextHeight(surface);
    const int n = watchTable.watchCount;

    drawLine(surface, 10, 10, "Palm install folder:");
    drawLine(surface, 25, h + 20, installFolder);
    drawLine(surface, 10, 2 * h + 30, "Monitoring users:");
    for (int k = 0; k < n; k++) {
        drawLine(surface, 25, 3 * h + 40 + k * h, watchTable.users[k].userFolder);
    }
    char line[64];
    std::snprintf(line, sizeof(line), "Print jobs processed: %d", spoolerCounters.jobsProcessed);
    drawLine(surface, 10, 3 * h + 50 + n * h, line);
    std::snprintf(line, sizeof(line), "Pages processed: %d", spoolerCounters.pagesProcessed);
    drawLine(surface, 10, 4 * h + 50 + n * h, line);
}
