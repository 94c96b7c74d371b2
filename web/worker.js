// The page's worker: finds the spool file (the file itself, or the member of
// a backup archive), has the WebAssembly module draw its pages, and sends
// each page back as a 1-bit PNG with what the PDF needs of it. The drawing
// runs here, off the page's thread, so a phone's page stays responsive.
//
// Messages in: {job, file: ArrayBuffer, member: name or null, dpi, paper, offsetX, offsetY}.
// Messages out: {kind: "ready", defaults}, then per file {kind: "page", ...}
// for each page and one of {kind: "done"}, {kind: "failed", reason} or
// {kind: "choose", members}, each with the request's job.
import { unzipSync } from "fflate";
import { monochromePng } from "./png.js";

importScripts("fernquill.js");

let fernquill = null;
const spoolPath = "/spool.pdb";

// The reasons the page turns into sentences.
function failure(reason, extra) {
    return Object.assign({ kind: "failed", reason }, extra);
}

function copyIn(bytes) {
    const pointer = fernquill._malloc(Math.max(bytes.length, 1));
    if (pointer !== 0) {
        fernquill.HEAPU8.set(bytes, pointer);
    }
    return pointer;
}

// Asks the module about a file's first bytes, which is all a Palm
// database's header and record list take.
function askAboutBytes(bytes, ask) {
    const head = bytes.subarray(0, Math.min(bytes.length, fernquill.prefixBytes));
    const pointer = copyIn(head);
    if (pointer === 0) {
        return null;
    }
    const answer = ask(pointer, head.length);
    fernquill._free(pointer);
    return answer;
}

function isSpoolMember(name, bytes) {
    const nameBytes = new TextEncoder().encode(name);
    const namePointer = copyIn(nameBytes);
    const answer = askAboutBytes(bytes, (pointer, size) =>
        fernquill._fq_is_spool_member(namePointer, nameBytes.length, pointer, size));
    fernquill._free(namePointer);
    return answer === 1;
}

// The spool database of a backup archive: {bytes} or a failure.
function archiveMember(archive, wanted) {
    const limit = fernquill._fq_max_spool_bytes();
    let tooLarge = false;
    let members;
    try {
        members = unzipSync(archive, {
            filter: (member) => {
                if (member.originalSize > limit || member.size > limit) {
                    tooLarge = true;
                    return false;
                }
                return !member.name.endsWith("/");
            },
        });
    } catch (error) {
        return failure("unreadable-archive");
    }
    const names = Object.keys(members);
    const matches = wanted !== null ? names.filter((name) => name === wanted)
        : names.filter((name) => isSpoolMember(name, members[name]));
    if (matches.length === 1) {
        return { bytes: members[matches[0]] };
    }
    if (matches.length > 1) {
        return { kind: "choose", members: matches };
    }
    const notDatabases = names.filter((name) =>
        askAboutBytes(members[name], (pointer, size) => fernquill._fq_check_database(pointer, size)) !== 0).length;
    return failure(tooLarge ? "member-too-large" : "no-spool-member", { notDatabases });
}

function isZip(bytes) {
    return bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b &&
        ((bytes[2] === 3 && bytes[3] === 4) || (bytes[2] === 5 && bytes[3] === 6));
}

// Draws the pages; each is sent as it is done.
function drawPages(bytes, options) {
    let texts = [];
    let images = [];
    let imageBytes = 0;
    const imageLimit = fernquill._fq_max_pdf_image_bytes();
    fernquill.onText = (x, baseline, cellWidth, cellHeight, characters, count) => {
        texts.push({ x, baseline, cellWidth, cellHeight, bytes: fernquill.HEAPU8.slice(characters, characters + count) });
    };
    fernquill.onImage = (x, y, width, height, rows) => {
        const size = Math.ceil(width / 8) * height;
        imageBytes += size;
        images.push({ x, y, width, height, rows: fernquill.HEAPU8.slice(rows, rows + size) });
    };
    fernquill.onPage = (number, refused, rows, rowBytes, width, height) => {
        const png = monochromePng(fernquill.HEAPU8.subarray(rows, rows + rowBytes * height), width, height, options.dpi);
        postMessage({ kind: "page", job: options.job, number, refused: refused !== 0, png, width, height, texts,
            images }, [png.buffer]);
        texts = [];
        images = [];
        // Past what spool_to_pdf takes in, the PDF would outgrow the tab.
        return imageBytes >= imageLimit ? 1 : 0;
    };
    fernquill.FS.writeFile(spoolPath, bytes);
    const pages = fernquill.ccall("fq_render", "number", ["string", "number", "string", "number", "number"],
        [spoolPath, options.dpi, options.paper, options.offsetX, options.offsetY]);
    fernquill.FS.unlink(spoolPath);
    return pages;
}

const renderFailures = { "-1": "bad-options", "-2": "no-memory", "-3": "unreadable", "-4": "images-too-large" };

function handle(request) {
    let bytes = new Uint8Array(request.file);
    if (bytes.length > fernquill._fq_max_spool_bytes() && !isZip(bytes)) {
        return failure("too-large");
    }
    if (isZip(bytes)) {
        const found = archiveMember(bytes, request.member);
        if (!found.bytes) {
            return found;
        }
        bytes = found.bytes;
    }
    if (askAboutBytes(bytes, (pointer, size) => fernquill._fq_check_database(pointer, size)) !== 0) {
        return failure("not-spool");
    }
    const pages = drawPages(bytes, request);
    if (pages < 0) {
        return failure(renderFailures[pages] || "unreadable");
    }
    return pages === 0 ? failure("no-pages") : { kind: "done", pages };
}

// A module's memory never shrinks: after a document that grew it (a damaged
// file can ask for a 512 MiB image), a fresh module gives the memory back.
const freshModuleBytes = 64 << 20;
let ready = null;

function startModule() {
    ready = createFernquill().then((module) => {
        fernquill = module;
        fernquill.prefixBytes = fernquill._fq_database_prefix_bytes();
    });
    return ready;
}

onmessage = async (event) => {
    await ready;
    let answer;
    try {
        answer = handle(event.data);
    } catch (error) {
        // Out of memory, or the module failed: it can't be trusted again.
        answer = failure("no-memory");
    }
    postMessage(Object.assign({ job: event.data.job }, answer));
    if (answer.kind === "failed" && answer.reason === "no-memory" || fernquill.HEAPU8.length > freshModuleBytes) {
        startModule();
    }
};

// The first pages would otherwise pay for the compiler's warming up to the
// PNG's compression, which is as much as drawing them: a letter sheet's
// worth of white, compressed while the page waits for its file.
function warmUp() {
    const sheetRows = new Uint8Array(3300 * 320).fill(0xff);
    let seed = 1;
    for (let at = 0; at < sheetRows.length; at += 320 * 4) {
        for (let i = 40; i < 200; i++) {
            seed = (seed * 1103515245 + 12345) >>> 0;
            sheetRows[at + i] = seed >>> 24 | 0x81;
        }
    }
    monochromePng(sheetRows, 2550, 3300, 300);
}

startModule().then(() => {
    warmUp();
    postMessage({
        kind: "ready",
        defaults: {
            dpi: fernquill._fq_default_dpi(),
            paper: fernquill.UTF8ToString(fernquill._fq_default_paper()),
            margins: Object.fromEntries([150, 300, 600].map((dpi) => [dpi, fernquill._fq_default_margin(dpi)])),
            maxBytes: fernquill._fq_max_spool_bytes(),
        },
    });
});
