// The status view: what the spooler watches and what it has done. Lines are
// placed by the height h of the surface's current font, so the view reads
// the same on any screen.
#include <cstdio>
#include <cstring>

#include "app/spooler_app.h"
#include "jobs/print_job.h"
#include "watch/user_watch.h"

const char* const awaySentence = "This session is away: other users' spoolers print.";

namespace {

void drawLine(DrawSurface* surface, int x, int y, const char* text)
{
    drawText(surface, x, y, text, static_cast<int>(std::strlen(text)));
}

const char* whyNotWatched(WatchState state)
{
    switch (state) {
    case watchGone:
        return "gone";
    case watchClaimedElsewhere:
        return "other user";
    case watchAway:
        return "away";
    default:
        return "failed";
    }
}

}  // namespace

// The users not watched come last, below the counters, so the lines above
// stay where they always were.
void paintStatus(DrawSurface* surface)
{
    int width = 0;
    int height = 0;
    surfaceArea(surface, &width, &height);
    fillWhite(surface, 0, 0, width, height);
    const int h = currentTextHeight(surface);

    drawLine(surface, 10, 10, "Palm install folder:");
    drawLine(surface, 25, h + 20, installFolder);
    drawLine(surface, 10, 2 * h + 30, "Monitoring users:");
    int n = 0;
    for (int k = 0; k < watchTable.watchCount; k++) {
        if (watchTable.users[k].state == watchActive) {
            drawLine(surface, 25, 3 * h + 40 + n * h, watchTable.users[k].userFolder);
            n++;
        }
    }
    char line[96];
    std::snprintf(line, sizeof(line), "Print jobs processed: %d", spoolerCounters.jobsProcessed);
    drawLine(surface, 10, 3 * h + 50 + n * h, line);
    std::snprintf(line, sizeof(line), "Pages processed: %d", spoolerCounters.pagesProcessed);
    drawLine(surface, 10, 4 * h + 50 + n * h, line);
    // Lines below the counters: the session's state, then the users not
    // watched.
    int below = n;
    if (sessionAway()) {
        drawLine(surface, 10, 5 * h + 60 + below * h, awaySentence);
        below++;
    }
    if (n == watchTable.watchCount) {
        return;
    }
    drawLine(surface, 10, 5 * h + 60 + below * h, "Not watched:");
    int k = 0;
    for (int i = 0; i < watchTable.watchCount; i++) {
        const UserWatch& user = watchTable.users[i];
        if (user.state != watchActive) {
            std::snprintf(line, sizeof(line), "%s (%s)", user.userFolder, whyNotWatched(user.state));
            drawLine(surface, 25, 6 * h + 70 + below * h + k * h, line);
            k++;
        }
    }
}
