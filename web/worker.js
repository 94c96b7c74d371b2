// The page's worker: finds the spool file (the file itself, or the member of
// a backup archive), has the WebAssembly module draw its pages, and sends
// each page back as a 1-bit PNG (made by the module) with what the PDF
// needs of it. The drawing runs here, off the page's thread, so a phone's
// page stays responsive, and the page ends this worker whenever it asks for
// something else: nothing here has to look out for being stopped.
//
// Messages in: first {kind: "start", module}: the compiled module (the page
// picks the build this browser runs); then any number of {job, file:
// ArrayBuffer, member: name or null, dpi, paper, offsetX, offsetY}.
// Messages out: {kind: "ready", defaults} once started (or {kind: "failed",
// reason: "no-module"}), then per file {kind: "count", pages}, {kind:
// "page", ...} for each page and one of {kind: "done", pages, total: the
// job's pages where more than are shown}, {kind: "failed",
// reason} or {kind: "choose", members}, each with the request's job.
import { ArchiveError, canInflate, inflateMember, isCandidate, listMembers, maxInflatedBytes } from "./zip_archive.js";

importScripts(FERNQUILL_GLUE);

let fernquill = null;
let compiled = null;
const spoolPath = "/spool.pdb";
// A module's memory never shrinks: after a document that grew it (a damaged
// file can ask for large images), a fresh module gives the memory back.
const freshModuleBytes = 64 << 20;
const windows1252 = new TextDecoder("windows-1252");

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

function isDatabase(bytes) {
    return askAboutBytes(bytes, (pointer, size) => fernquill._fq_check_database(pointer, size)) === 0;
}

function isSpoolMember(name, bytes) {
    const nameBytes = new TextEncoder().encode(name);
    const namePointer = copyIn(nameBytes);
    const answer = askAboutBytes(bytes, (pointer, size) =>
        fernquill._fq_is_spool_member(namePointer, nameBytes.length, pointer, size));
    fernquill._free(namePointer);
    return answer === 1;
}

// A member's database header and record list: the 78-byte header says how
// long the list is.
function memberHead(archive, member, budget) {
    const header = inflateMember(archive, member, 78, budget);
    const records = header.length === 78 ? (header[76] << 8) | header[77] : 0;
    return records === 0 ? header : inflateMember(archive, member, Math.min(78 + 10 * records, fernquill.prefixBytes), budget);
}

// The spool database of a backup archive: {bytes}, a choice or a failure.
function archiveMember(archive, wanted) {
    const limit = fernquill._fq_max_spool_bytes();
    const budget = { left: maxInflatedBytes };
    const matches = [];
    let tooLarge = false;
    let notDatabases = 0;
    let skipped = 0;
    for (const member of listMembers(archive)) {
        if (member.name.endsWith("/")) {
            continue;
        }
        if (wanted !== null) {
            if (member.name === wanted) {
                matches.push(member);
            }
        } else if (!isCandidate(member, limit)) {
            tooLarge ||= member.size > limit;
            notDatabases += /\.(pdb|prc)$/i.test(member.name) ? 0 : 1;
        } else if (!canInflate(member)) {
            skipped++;
        } else {
            const head = memberHead(archive, member, budget);
            if (isSpoolMember(member.name, head)) {
                matches.push(member);
            } else if (!isDatabase(head)) {
                notDatabases++;
            }
        }
    }
    if (matches.length > 1) {
        return { kind: "choose", members: matches.map((member) => member.name) };
    }
    if (matches.length === 0) {
        return failure(tooLarge ? "member-too-large" : "no-spool-member", { notDatabases, skipped });
    }
    if (!canInflate(matches[0])) {
        return failure("member-method");
    }
    if (matches[0].size > limit) {
        return failure("member-too-large");
    }
    return { bytes: inflateMember(archive, matches[0], matches[0].size, budget) };
}

function isZip(bytes) {
    return bytes.length >= 4 && bytes[0] === 0x50 && bytes[1] === 0x4b &&
        ((bytes[2] === 3 && bytes[3] === 4) || (bytes[2] === 5 && bytes[3] === 6));
}

// The most pages one file shows: each costs the worker a few milliseconds
// and the page its PNG and its place on screen, and a hand-held's job is
// never near this long; a damaged file can list 32,767 one-record pages.
const maxPages = 1000;

// Draws the pages; each is sent as it is done. Returns the module's answer,
// and in cut the count of a job cut short at maxPages.
function drawPages(bytes, options, cut) {
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
    fernquill.onPage = (number, refused, png, pngBytes, width, height) => {
        const text = texts.map((line) => windows1252.decode(line.bytes).trimEnd()).join("\n");
        const file = fernquill.HEAPU8.slice(png, png + pngBytes);
        postMessage({ kind: "page", job: options.job, number, refused: refused !== 0, png: file, width, height, texts,
            images, text }, [file.buffer]);
        texts = [];
        images = [];
        cut.pages = number >= maxPages ? number : 0;
        // Past what spool_to_pdf takes in, the PDF would outgrow the tab.
        return imageBytes >= imageLimit || cut.pages > 0 ? 1 : 0;
    };
    // The file system takes the bytes as they are, rather than a copy of them.
    fernquill.FS.writeFile(spoolPath, bytes, { canOwn: true });
    cut.total = fernquill.ccall("fq_count_pages", "number", ["string"], [spoolPath]);
    postMessage({ kind: "count", job: options.job, pages: Math.min(cut.total, maxPages) });
    const pages = fernquill.ccall("fq_render", "number", ["string", "number", "string", "number", "number"],
        [spoolPath, options.dpi, options.paper, options.offsetX, options.offsetY]);
    fernquill.FS.unlink(spoolPath);
    return pages;
}

const renderFailures = { "-1": "bad-options", "-2": "no-memory", "-3": "unreadable", "-4": "images-too-large" };

function handle(request) {
    let bytes = new Uint8Array(request.file);
    if (bytes.length === 0) {
        return failure("empty");
    }
    if (isZip(bytes)) {
        const found = archiveMember(bytes, request.member);
        if (!found.bytes) {
            return found;
        }
        bytes = found.bytes;
    } else if (bytes.length > fernquill._fq_max_spool_bytes()) {
        return failure("too-large");
    }
    if (!isDatabase(bytes)) {
        return failure("not-spool");
    }
    const cut = { pages: 0, total: 0 };
    const pages = drawPages(bytes, request, cut);
    if (cut.pages > 0) {
        return { kind: "done", pages: cut.pages, total: cut.total };
    }
    if (pages < 0) {
        return failure(renderFailures[pages] || "unreadable");
    }
    return pages === 0 ? failure("no-pages") : { kind: "done", pages };
}

// What went wrong, for the page's sentence: the archive's own reasons, the
// module running out of memory (an allocation it could not survive, or the
// memory's growth refused), or an error in this script, named as it is.
function failureOf(error) {
    if (error instanceof ArchiveError) {
        return failure(error.reason);
    }
    const message = String(error && error.message || error);
    if (error instanceof RangeError || /memory|OOM|Cannot enlarge/i.test(message)) {
        return failure("no-memory");
    }
    return failure("script-error", { message: message.slice(0, 200) });
}

function startModule() {
    fernquill = null;
    return new Promise((resolve, reject) => {
        createFernquill({
            // The page compiled the module once; each worker only instantiates
            // it. Where that fails, the module's own promise would never settle.
            instantiateWasm: (imports, done) => {
                WebAssembly.instantiate(compiled, imports).then((instance) => done(instance, compiled), reject);
                return {};
            },
        }).then(resolve, reject);
    }).then((module) => {
        fernquill = module;
        fernquill.prefixBytes = fernquill._fq_database_prefix_bytes();
    });
}

function defaults() {
    return {
        dpi: fernquill._fq_default_dpi(),
        paper: fernquill.UTF8ToString(fernquill._fq_default_paper()),
        margins: Object.fromEntries([150, 300, 600].map((dpi) => [dpi, fernquill._fq_default_margin(dpi)])),
        maxBytes: fernquill._fq_max_spool_bytes(),
    };
}

let ready = null;

onmessage = async (event) => {
    if (event.data.kind === "start") {
        compiled = event.data.module;
        ready = startModule().then(() => {
            postMessage({ kind: "ready", defaults: defaults() });
        }, (error) => postMessage(failure("no-module", { message: String(error).slice(0, 200) })));
        return;
    }
    let answer;
    try {
        // A module started afresh after a failure may fail to start itself.
        await ready;
        answer = handle(event.data);
    } catch (error) {
        answer = failureOf(error);
    }
    postMessage(Object.assign({ job: event.data.job }, answer));
    // After a failure inside the module its state can't be trusted again.
    if (answer.reason === "no-memory" || answer.reason === "script-error" || fernquill === null ||
        fernquill.HEAPU8.length > freshModuleBytes) {
        ready = startModule();
    }
};
