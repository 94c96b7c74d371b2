// The page's service worker: keeps the page's files, so that once visited
// it opens and works with no network, and takes the files other apps share
// with it.
//
// The files are kept under a cache named for this build (scripts/web fills
// in the name and the list). Every file but the page itself is named for its
// content's hash, so the files of one build always go together; a new build
// is a new service worker, which fills its own cache and drops the old ones.
//
// A share (the manifest's share_target) arrives as a POST of a form to
// "share". The file is put in a cache of its own and the page is opened with
// "?shared", which takes it from there: a redirect carries no body, and the
// page may not be open yet to be sent a message.
const version = "FERNQUILL_VERSION";
const files = FERNQUILL_FILES;
// Needed only once the page is used (Save PDF's library): kept after the
// page's own files, so they are no part of its first load.
const laterFiles = FERNQUILL_LATER_FILES;
const sharedCache = "fernquill-shared";

self.addEventListener("install", (event) => {
    event.waitUntil(caches.open(version).then((cache) => cache.addAll(files)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
    event.waitUntil((async () => {
        const names = await caches.keys();
        await Promise.all(names.filter((name) => name.startsWith("fernquill-") && name !== version && name !== sharedCache)
            .map((name) => caches.delete(name)));
        await self.clients.claim();
        caches.open(version).then((cache) => cache.addAll(laterFiles)).catch(() => {});
    })());
});

async function takeShare(request) {
    try {
        const form = await request.formData();
        const file = form.getAll("file").find((value) => value instanceof File);
        if (file) {
            const cache = await caches.open(sharedCache);
            await cache.put("shared-file", new Response(file, {
                headers: { "Content-Type": "application/octet-stream", "X-File-Name": encodeURIComponent(file.name) },
            }));
        }
    } catch {
        // The page says there is no shared file.
    }
    return Response.redirect("./?shared", 303);
}

async function fromCache(request) {
    const cache = await caches.open(version);
    const kept = await cache.match(request, { ignoreSearch: true });
    if (kept) {
        return kept;
    }
    const response = await fetch(request);
    if (response.ok && new URL(request.url).pathname.match(/\.[0-9a-f]{12}\.\w+$/)) {
        cache.put(request, response.clone());
    }
    return response;
}

self.addEventListener("fetch", (event) => {
    const url = new URL(event.request.url);
    if (url.origin !== self.location.origin) {
        return;
    }
    if (event.request.method === "POST" && url.pathname.endsWith("/share")) {
        event.respondWith(takeShare(event.request));
    } else if (event.request.method === "GET") {
        event.respondWith(fromCache(event.request.mode === "navigate" ? new Request("./") : event.request));
    }
});
