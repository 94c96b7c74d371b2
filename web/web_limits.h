// What the web page lets one document take, where a phone's tab is killed
// once its memory has grown and been written rather than seeing an
// allocation fail: the module's memory stops at 256 MiB (scripts/web), and
// one image's bitmap at this. A page of the largest sheet and resolution the
// page offers (Letter at 600 dpi) takes about 4 MiB and a Palm's images are
// a screen or a scan of one, so only a damaged file's image (up to 512 MiB)
// passes it: it is left out, as where its memory can't be had, and the walk
// goes on as the print job's does then. The renderer's tests write the
// damaged files' page counts at this limit for the page's own tests.
#ifndef FERNQUILL_WEB_WEB_LIMITS_H
#define FERNQUILL_WEB_WEB_LIMITS_H

#include <cstddef>

const size_t webPageImageMemoryLimit = static_cast<size_t>(48) << 20;

#endif
