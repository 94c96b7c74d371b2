// The page: takes a file (picked, dropped, shared from another app or
// opened from the desktop), has the worker draw it, and shows, prints and
// saves the pages. Pages are gathered while the worker draws them and shown
// only once all are done, so a file that fails part way leaves nothing half
// drawn.
//
// The page always answers: every request ends in its pages or in one
// sentence in the alert, and the page is then ready for the next. A new
// request while the worker draws ends that worker and starts a fresh one
// from the module compiled at start, so nothing queues behind stale work;
// Cancel does the same without a new request.
import { filesInDrop } from "./dropped_files.js";
import { marginPixels, marginUnit, marginValue } from "./margins.js";

// The built folder's files, named for their content (scripts/web).
const files = FERNQUILL_FILES;

// The sheet sizes for printing; the module lays the pages out on them.
const paperSizes = { letter: "215.9mm 279.4mm", a4: "210mm 297mm" };

function plural(count, one, many) {
    return count === 1 ? one : many;
}

const sentences = {
    "not-spool": "This file is not a Fernquill spool file: pick the Fernquill_Spool_File.PDB of a backup, or a backup's .zip.",
    "no-spool-member": (message) => "This archive holds no Fernquill spool file" +
        (message.notDatabases > 0 ? `; ${message.notDatabases} of its files ${plural(message.notDatabases,
            "is not a Palm database and was", "are not Palm databases and were")} passed over` : "") +
        (message.skipped > 0 ? `; ${message.skipped} ${plural(message.skipped, "file is", "files are")} packed in a ` +
            "way this page can't unpack (such as Deflate64 or a password) and " +
            `${plural(message.skipped, "was", "were")} passed over` : "") + ".",
    "member-too-large": "This archive's only candidates are larger than a spool file can be.",
    "member-method": "This spool file is packed in a way this page can't unpack (such as Deflate64 or a password).",
    "unreadable-archive": "This archive can't be read: it is damaged, or not a zip archive.",
    "too-many-members": "This archive holds more files than a hand-held's backup can, so it is not read.",
    "archive-too-large": "This archive unpacks to more than this page takes on, so it is not read.",
    "choose": "This archive holds several spool files: choose one below.",
    "too-large": "This file is larger than a spool file can be.",
    "empty": "This file is empty.",
    "no-pages": "This spool file holds no pages.",
    "no-memory": "There is not enough memory to draw these pages.",
    "images-too-large": "This file's images are too large to show.",
    "bad-options": "These margins leave nothing of the paper to print on.",
    "unreadable": "This file can't be read.",
    "script-error": (message) => `The page stopped on an error of its own (${message.message}): pick the file again.`,
    "no-module": "This browser can't run the page's drawing code (WebAssembly): try another browser, or one without its lockdown mode.",
    "folder": "This folder holds no Fernquill spool file.",
    "read-failed": "This file can't be read: it was moved or changed since it was picked. Pick it again.",
};

function sentenceFor(message) {
    const sentence = sentences[message.kind === "choose" ? "choose" : message.reason];
    return typeof sentence === "function" ? sentence(message) : sentence || sentences.unreadable;
}

const form = {
    file: document.getElementById("file"),
    paper: document.getElementById("paper"),
    dpi: document.getElementById("dpi"),
    marginX: document.getElementById("margin-x"),
    marginY: document.getElementById("margin-y"),
    marginUnit: document.getElementById("margin-unit"),
    memberChoice: document.getElementById("member-choice"),
    member: document.getElementById("member"),
    cancel: document.getElementById("cancel"),
    print: document.getElementById("print"),
    savePdf: document.getElementById("save-pdf"),
    alert: document.getElementById("alert"),
    status: document.getElementById("status"),
    pages: document.getElementById("pages"),
};

let compiled = null;  // the WebAssembly module, compiled once
let worker = null;
let busy = false;     // the worker is drawing
let defaults = null;
let current = null;   // {file, member}: what is shown, or being drawn
let shown = null;     // {pages, sheet, name} of the pages on screen
let drawing = null;   // the pages the worker is sending
let started = 0;
let job = 0;          // the latest request; answers to older ones are stale
let marginsChosen = false;
let pdfWorker = null;
let pdfBusy = false;  // Save PDF is making one

// The @page size follows the chosen paper; a sheet made here rather than an
// inline style, which the page's Content-Security-Policy doesn't allow.
const pageSize = new CSSStyleSheet();
document.adoptedStyleSheets = [...document.adoptedStyleSheets, pageSize];

function say(message) {
    form.alert.textContent = message;
}

function setState(state) {
    document.body.dataset.state = state;
    form.cancel.hidden = state !== "busy";
}

function fail(message) {
    dropDrawing();
    clearPages();
    form.status.textContent = "";
    say(sentenceFor(message));
    if (message.kind === "choose") {
        offerMembers(message.members);
    }
    setState("failed");
}

// The smallest module that uses SIMD (v128.const, i8x16.popcnt): only a
// browser that runs SIMD validates it.
const simdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0, 10, 10, 1, 8, 0,
    65, 0, 253, 15, 253, 98, 11]);

async function compileModule() {
    const simd = WebAssembly.validate(simdProbe);
    document.body.dataset.module = simd ? "simd" : "plain";
    const url = simd ? files.simdModule : files.plainModule;
    try {
        return await WebAssembly.compileStreaming(fetch(url));
    } catch {
        // A server that doesn't call it application/wasm.
        const response = await fetch(url);
        return WebAssembly.compile(await response.arrayBuffer());
    }
}

function startWorker() {
    worker = new Worker(files.worker);
    worker.onmessage = onWorkerMessage;
    // The worker's script failed to load or threw: the request it held is
    // answered here, and the next one starts a fresh worker.
    worker.onerror = (event) => {
        event.preventDefault();
        stopWorker();
        if (defaults === null) {
            fail({ reason: "no-module" });
        } else if (drawing !== null) {
            fail({ reason: "script-error", message: event.message || "the worker stopped" });
        }
    };
    worker.postMessage({ kind: "start", module: compiled });
}

function stopWorker() {
    if (worker !== null) {
        worker.terminate();
        worker = null;
    }
    busy = false;
}

function sheetFor(options, page) {
    const { width, height } = page;
    return { dpi: options.dpi, width, height, offsetX: options.offsetX, offsetY: options.offsetY,
        areaWidth: width - 2 * options.offsetX, areaHeight: height - 2 * options.offsetY };
}

function setDefaultMargins() {
    const unit = marginUnit(form.paper.value);
    form.marginUnit.textContent = unit;
    form.marginX.value = form.marginY.value = marginValue(0.25, unit);
}

// The options for the module, margins in the printer's pixels; null when
// the margins are not numbers.
function chosenOptions() {
    const dpi = Number(form.dpi.value);
    const unit = marginUnit(form.paper.value);
    const offsets = marginsChosen
        ? [form.marginX, form.marginY].map((field) => marginPixels(field.value, unit, dpi))
        : [defaults.margins[dpi], defaults.margins[dpi]];
    return offsets.includes(null) ? null
        : { dpi, paper: form.paper.value, offsetX: offsets[0], offsetY: offsets[1] };
}

function clearPages() {
    if (firstCopy !== null && !drawingHolds(firstCopy.screen)) {
        firstCopy.bitmap.then((bitmap) => bitmap.close(), () => {});
        firstCopy = null;
    }
    for (const image of form.pages.querySelectorAll("img")) {
        URL.revokeObjectURL(image.src);
    }
    for (const screen of form.pages.querySelectorAll("canvas")) {
        nearView.unobserve(screen);
        letGo(screen);
    }
    form.pages.replaceChildren();
    shown = null;
    form.print.disabled = true;
    form.savePdf.disabled = true;
}

function drawingHolds(screen) {
    return drawing !== null && drawing.images.some((figure) => figure.contains(screen));
}

function readFailure(error) {
    return { reason: error && error.name === "NotFoundError" && current.file.size === 0 ? "folder" : "read-failed" };
}

async function draw() {
    if (current === null || defaults === null || compiled === null) {
        return;
    }
    // Whatever was asked before is stale from now on, also when this fails.
    const request = ++job;
    dropDrawing();
    clearPages();
    const options = chosenOptions();
    if (options === null) {
        say(`The margins are two numbers of ${form.marginUnit.textContent === "mm" ? "millimetres, as in 6.35" : "inches, as in 0.25"}.`);
        setState("failed");
        return;
    }
    if (current.file.size > defaults.maxBytes) {
        fail({ reason: "too-large" });
        return;
    }
    setState("busy");
    say("");
    form.status.textContent = "Reading the file\u2026";
    started = performance.now();
    let file;
    try {
        file = await current.file.arrayBuffer();
    } catch (error) {
        if (request === job) {
            fail(readFailure(error));
        }
        return;
    }
    if (request !== job) {
        return;
    }
    if (busy || worker === null) {
        stopWorker();
        startWorker();
    }
    busy = true;
    drawing = { options, pages: [], images: [], total: 0 };
    form.status.textContent = "Drawing the pages\u2026";
    worker.postMessage(Object.assign({ file, member: current.member, job: request }, options), [file]);
}

function cancel() {
    job++;
    stopWorker();
    dropDrawing();
    clearPages();
    say("");
    form.status.textContent = "Stopped. Pick a file, or change an option, to draw again.";
    setState("ready");
}

// Each page's image is made as the page arrives; it joins the page only
// once all are done. A page is kept as its 1-bit PNG, which is what is
// printed (and what spool_to_png writes); on screen it is shown as a canvas
// of the screen's own pixels, drawn from the PNG when it comes near the
// view and let go when it leaves: a 600 dpi Letter page decoded whole would
// take 135 MB, a phone's screen-wide copy about 3 MB.
const pngs = new WeakMap();   // canvas -> the page's PNG

function pageFigure(page, options, total) {
    const figure = document.createElement("figure");
    const png = new Blob([page.png], { type: "image/png" });
    const image = document.createElement("img");
    image.src = URL.createObjectURL(png);
    image.alt = `Page ${page.number}`;
    image.width = page.width;
    image.height = page.height;
    Object.assign(image.dataset, { page: page.number, dpi: options.dpi, offset: `${options.offsetX},${options.offsetY}` });
    const screen = document.createElement("canvas");
    screen.setAttribute("role", "img");
    screen.setAttribute("aria-label", image.alt);
    screen.width = screen.height = 0;
    screen.style.aspectRatio = `${page.width} / ${page.height}`;
    pngs.set(screen, png);
    const caption = document.createElement("figcaption");
    // As spool_to_png says of a page the print job refuses.
    caption.textContent = `Page ${page.number} of ${total}${page.refused ? " (refused: blank)" : ""}`;
    if (page.refused) {
        figure.dataset.refused = "";
    }
    figure.append(image, screen, caption);
    // The page's text lines, for screen readers: the picture alone says nothing.
    if (page.text !== "") {
        const text = document.createElement("pre");
        text.className = "page-text";
        text.textContent = page.text;
        figure.append(text);
    }
    return figure;
}

// Pages are drawn on screen one at a time: each decodes its whole PNG
// while it is scaled down.
let screenQueue = Promise.resolve();
// The first page's screen copy, begun while the worker draws the others:
// {screen, width, bitmap (a promise)}.
let firstCopy = null;

function screenCopy(screen, width) {
    const image = screen.previousSibling;
    const height = Math.round((width * image.height) / image.width);
    return createImageBitmap(pngs.get(screen), { resizeWidth: width, resizeHeight: height, resizeQuality: "medium" });
}

// The width a page takes on screen, in the screen's pixels: the pages'
// width, as much as a figure takes (page.css).
function screenWidth(image) {
    const rem = parseFloat(getComputedStyle(document.documentElement).fontSize);
    return Math.min(Math.round(Math.min(form.pages.clientWidth, 60 * rem) * devicePixelRatio), image.width);
}

function beginFirstCopy(figure) {
    const screen = figure.querySelector("canvas");
    const width = screenWidth(figure.querySelector("img"));
    firstCopy = width > 0 ? { screen, width, bitmap: screenCopy(screen, width) } : null;
}

function showOnScreen(screen) {
    screenQueue = screenQueue.then(async () => {
        const width = Math.min(Math.round(screen.clientWidth * devicePixelRatio), screen.previousSibling.width);
        if (!screen.isConnected || width === 0 || screen.width === width) {
            return;
        }
        const early = firstCopy !== null && firstCopy.screen === screen && firstCopy.width === width;
        const bitmap = await (early ? firstCopy.bitmap : screenCopy(screen, width));
        if (early) {
            firstCopy = null;
        }
        screen.width = bitmap.width;
        screen.height = bitmap.height;
        screen.getContext("2d").drawImage(bitmap, 0, 0);
        bitmap.close();
        screen.dataset.shown = "";
    }).catch(() => {});
}

function letGo(screen) {
    screen.width = screen.height = 0;
    delete screen.dataset.shown;
}

const nearView = new IntersectionObserver((entries) => {
    for (const entry of entries) {
        (entry.isIntersecting ? showOnScreen : letGo)(entry.target);
    }
}, { rootMargin: "50% 0px" });

function showPages(count) {
    const { options, pages, images } = drawing;
    clearPages();
    // The count said before the drawing is the walk's; the drawing's is the one shown.
    for (const caption of images.map((figure) => figure.querySelector("figcaption"))) {
        caption.textContent = caption.textContent.replace(/ of \d+/, ` of ${count}`);
    }
    form.pages.append(...images);
    for (const figure of images) {
        nearView.observe(figure.querySelector("canvas"));
    }
    const name = current.file.name.replace(/\.[^.]*$/, "") || "pages";
    shown = { pages, sheet: sheetFor(options, pages[0]), name };
    pageSize.replaceSync(`@page { size: ${paperSizes[options.paper]}; margin: 0; }`);
    form.print.disabled = false;
    form.savePdf.disabled = pdfBusy;
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    form.status.textContent = `${count} ${plural(count, "page", "pages")}, drawn in ${seconds} s.`;
}

function dropDrawing() {
    for (const figure of drawing !== null ? drawing.images : []) {
        URL.revokeObjectURL(figure.querySelector("img").src);
    }
    drawing = null;
}

function offerMembers(members) {
    form.member.replaceChildren(new Option("Choose a spool file\u2026", ""),
        ...members.map((name) => new Option(name, name)));
    form.memberChoice.hidden = false;
    form.member.focus();
}

function onWorkerMessage(event) {
    const message = event.data;
    if (message.kind === "ready") {
        if (defaults === null) {
            defaults = message.defaults;
            form.dpi.value = String(defaults.dpi);
            form.paper.value = defaults.paper;
            setDefaultMargins();
            setState("ready");
            draw();
        }
        return;
    }
    if (message.kind === "failed" && message.reason === "no-module") {
        stopWorker();
        fail(message);
        return;
    }
    if (message.job !== job || drawing === null) {
        return;
    }
    if (message.kind === "count") {
        drawing.total = message.pages;
        form.status.textContent = `Drawing page 1 of ${message.pages}\u2026`;
    } else if (message.kind === "page") {
        drawing.pages.push({ width: message.width, height: message.height, texts: message.texts, images: message.images });
        drawing.images.push(pageFigure(message, drawing.options, drawing.total));
        if (message.number === 1) {
            beginFirstCopy(drawing.images[0]);
        }
        const next = message.number + 1;
        if (next <= drawing.total) {
            form.status.textContent = `Drawing page ${next} of ${drawing.total}\u2026`;
        }
    } else if (message.kind === "done") {
        busy = false;
        showPages(message.pages);
        if (message.total > message.pages) {
            say(`This job has ${message.total.toLocaleString("en")} pages, more than this page shows: ` +
                `the first ${message.pages.toLocaleString("en")} are shown.`);
        }
        drawing = null;
        setState("done");
    } else {
        busy = false;
        // A worker whose module failed is not trusted with the next file.
        if (message.reason === "no-memory" || message.reason === "script-error") {
            stopWorker();
        }
        fail(message);
    }
}

function take(file) {
    if (!file) {
        return;
    }
    form.memberChoice.hidden = true;
    current = { file, member: null };
    draw();
}

// Saves the file, or where saving a download isn't what the device does (a
// phone or tablet), offers it to the system's share sheet.
async function deliver(bytes, name) {
    const file = new File([bytes], `${name}.pdf`, { type: "application/pdf" });
    const touch = window.matchMedia("(pointer: coarse)").matches;
    if (touch && navigator.canShare && navigator.canShare({ files: [file] })) {
        try {
            await navigator.share({ files: [file], title: name });
            return;
        } catch (error) {
            if (error.name === "AbortError") {
                return;
            }
        }
    }
    const link = document.createElement("a");
    link.href = URL.createObjectURL(file);
    link.download = file.name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

function savePdf() {
    if (shown === null) {
        return;
    }
    if (pdfWorker === null) {
        pdfWorker = new Worker(files.pdfWorker);
    }
    const { pages, sheet, name } = shown;
    const finish = (sentence) => {
        pdfBusy = false;
        form.savePdf.disabled = shown === null;
        form.status.textContent = "";
        if (sentence) {
            say(sentence);
        }
    };
    pdfBusy = true;
    form.savePdf.disabled = true;
    form.status.textContent = "Making the PDF\u2026";
    pdfWorker.onmessage = async (event) => {
        const message = event.data;
        if (message.kind === "progress") {
            form.status.textContent = `Making the PDF: page ${message.done} of ${message.total}\u2026`;
        } else if (message.kind === "pdf") {
            finish("");
            await deliver(message.bytes, name);
        } else {
            finish(`The PDF could not be made (${message.message}).`);
        }
    };
    pdfWorker.onerror = (event) => {
        event.preventDefault();
        pdfWorker.terminate();
        pdfWorker = null;
        finish("The PDF could not be made: its part of the page could not be loaded.");
    };
    pdfWorker.postMessage({ pages, sheet, title: name });
}

async function takeDrop(event) {
    event.preventDefault();
    document.body.classList.remove("over");
    const found = await filesInDrop(event.dataTransfer);
    if (found === null) {
        current = null;
        fail({ reason: "folder" });
    } else {
        take(found);
    }
}

// A file another app shared (the service worker kept it) or the desktop
// opened with the installed page.
async function takeShared() {
    if (!new URLSearchParams(location.search).has("shared") || !("caches" in window)) {
        return;
    }
    history.replaceState(null, "", "./");
    const cache = await caches.open("fernquill-shared");
    const response = await cache.match("shared-file");
    if (response) {
        const name = decodeURIComponent(response.headers.get("X-File-Name") || "shared.pdb");
        const blob = await response.blob();
        await cache.delete("shared-file");
        take(new File([blob], name));
    }
}

form.file.addEventListener("change", () => {
    take(form.file.files[0]);
    // So that picking the same file again (HotSync has since rewritten it)
    // is a change too, and reads it again.
    form.file.value = "";
});
form.paper.addEventListener("change", () => {
    const unit = marginUnit(form.paper.value);
    if (unit !== form.marginUnit.textContent) {
        // The same lengths in the new paper's unit.
        for (const field of [form.marginX, form.marginY]) {
            field.value = marginValue(unit === "mm" ? Number(field.value) : Number(field.value) / 25.4, unit);
        }
        form.marginUnit.textContent = unit;
    }
    draw();
});
form.dpi.addEventListener("change", draw);
for (const field of [form.marginX, form.marginY]) {
    field.addEventListener("change", () => {
        marginsChosen = true;
        draw();
    });
}
form.member.addEventListener("change", () => {
    if (current !== null && form.member.value !== "") {
        current.member = form.member.value;
        draw();
    }
});
// A drop anywhere on the page is taken, not opened by the browser instead.
document.addEventListener("dragover", (event) => {
    event.preventDefault();
    document.body.classList.add("over");
});
document.addEventListener("dragleave", (event) => {
    if (event.relatedTarget === null) {
        document.body.classList.remove("over");
    }
});
document.addEventListener("drop", takeDrop);
form.cancel.addEventListener("click", cancel);
form.print.addEventListener("click", () => window.print());
form.savePdf.addEventListener("click", savePdf);
// An error of the page's own script is said as what it is.
window.addEventListener("error", (event) => fail({ reason: "script-error", message: event.message }));
window.addEventListener("unhandledrejection", (event) =>
    fail({ reason: "script-error", message: String(event.reason && event.reason.message || event.reason) }));

if ("serviceWorker" in navigator) {
    navigator.serviceWorker.register("service-worker.js").catch(() => {});
}
if ("launchQueue" in window) {
    window.launchQueue.setConsumer(async (params) => {
        if (params.files && params.files.length > 0) {
            take(await params.files[0].getFile());
        }
    });
}
setState("starting");
if (typeof WebAssembly !== "object") {
    fail({ reason: "no-module" });
} else {
    compileModule().then((module) => {
        compiled = module;
        startWorker();
    }, () => fail({ reason: "no-module" }));
    takeShared();
}
