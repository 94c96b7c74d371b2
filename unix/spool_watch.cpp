// spool_watch: prints the spool files that Linux sync tools bring from a
// Palm OS hand-held, through CUPS. See spool_watcher.h for how, and
// watch_settings.h for what it is told.
#include <cstdlib>

#include "unix/spool_watcher.h"
#include "unix/watch_log.h"
#include "unix/watch_settings.h"

int main(int argc, char** argv)
{
    static WatchSettings settings;
    int parsed = parseWatchArguments(argc, argv, &settings);
    if (parsed != 0) {
        return parsed > 0 ? 0 : 2;
    }
    if (readWatchConfig(&settings) < 0) {
        return 1;
    }
    addDefaultFolders(&settings, std::getenv("HOME"));
    if (settings.folderCount == 0) {
        logEvent("no folders to watch: name them, in %s as \"folder = PATH\" or on the command line",
                 settings.configPath[0] != '\0' ? settings.configPath : "spool_watch.conf");
        return 1;
    }
    return runSpoolWatcher(settings);
}
