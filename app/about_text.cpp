#include "app/about_text.h"

#include "app/resource.h"

// The version and publisher lines come from resource.h, like the version
// resource, so the two always agree.
const char aboutText[] =
    "Fernquill Desktop Spooler prints the pages that your Palm hand-held "
    "sends to the PC.\n"
    "\n"
    "It watches each hand-held user's backup folder. When HotSync brings in "
    "a new print job, it prints every page on this PC's printer and shows "
    "it in this window. The File menu lets you pick a printer each time, or "
    "only show the pages on screen.\n"
    "\n"
    "Version " SPOOLER_VERSION_TEXT "\n"
    "\n"
    SPOOLER_PRODUCT_NAME "\n"
    SPOOLER_COPYRIGHT;
