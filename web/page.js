// The page: takes a file (picked or dropped), has the worker draw it, and
// shows, prints and saves the pages. Pages are gathered while the worker
// draws them and shown only once all are done, so a file that fails part
// way leaves nothing half drawn.
import { pagesAsPdf } from "./pdf.js";

// The sheet sizes for printing; the module lays the pages out on them.
const paperSizes = { letter: "215.9mm 279.4mm", a4: "210mm 297mm" };

const sentences = {
    "not-spool": "This file is not a Fernquill spool file: pick the Fernquill_Spool_File.PDB of a backup, or a backup's .zip.",
    "no-spool-member": (message) => "This archive holds no Fernquill spool file" + (message.notDatabases > 0
        ? `; ${message.notDatabases} of its files ${message.notDatabases === 1 ? "is not a Palm database and was" : "are not Palm databases and were"} passed over.`
        : "."),
    "member-too-large": "This archive's only candidates are larger than a spool file can be.",
    "unreadable-archive": "This archive can't be read: it is damaged, or not a zip archive.",
    "choose": "This archive holds several spool files: choose one below.",
    "too-large": "This file is larger than a spool file can be.",
    "no-pages": "This spool file holds no pages.",
    "no-memory": "There is not enough memory to draw these pages.",
    "images-too-large": "This file's images are too large to show.",
    "bad-options": "These margins leave nothing of the paper to print on.",
    "unreadable": "This file can't be read.",
};

const form = {
    file: document.getElementById("file"),
    drop: document.getElementById("drop"),
    paper: document.getElementById("paper"),
    dpi: document.getElementById("dpi"),
    offset: document.getElementById("offset"),
    memberChoice: document.getElementById("member-choice"),
    member: document.getElementById("member"),
    print: document.getElementById("print"),
    savePdf: document.getElementById("save-pdf"),
    alert: document.getElementById("alert"),
    status: document.getElementById("status"),
    pages: document.getElementById("pages"),
    pageSize: document.getElementById("page-size"),
};

const worker = new Worker("worker.js");
let defaults = null;
let current = null;   // {file, member}: what is shown, or being drawn
let shown = null;     // {pages, sheet, name} of the pages on screen
let drawing = null;   // the pages the worker is sending
let started = 0;
let job = 0;          // the latest request; the worker's answers to older ones are stale

function say(message) {
    form.alert.textContent = message;
}

function sheetFor(options, page) {
    const { width, height } = page;
    return { dpi: options.dpi, width, height, offsetX: options.offsetX, offsetY: options.offsetY,
        areaWidth: width - 2 * options.offsetX, areaHeight: height - 2 * options.offsetY };
}

// The PDF's margins at the chosen resolution, until the user types others.
let offsetChosen = false;

function setDefaultOffset() {
    const margin = defaults.margins[form.dpi.value];
    form.offset.value = `${margin},${margin}`;
}

function chosenOptions() {
    const offset = /^\s*(\d+)\s*,\s*(\d+)\s*$/.exec(form.offset.value);
    return { dpi: Number(form.dpi.value), paper: form.paper.value,
        offsetX: offset ? Number(offset[1]) : -1, offsetY: offset ? Number(offset[2]) : -1 };
}

function clearPages() {
    for (const image of form.pages.querySelectorAll("img")) {
        URL.revokeObjectURL(image.src);
    }
    form.pages.replaceChildren();
    shown = null;
    form.print.disabled = true;
    form.savePdf.disabled = true;
}

function setState(state) {
    document.body.dataset.state = state;
}

async function draw() {
    if (current === null || defaults === null) {
        return;
    }
    // Whatever was asked before is stale from now on, also when this fails.
    const request = ++job;
    dropDrawing();
    const options = chosenOptions();
    if (options.offsetX < 0) {
        clearPages();
        say("The margins are two whole numbers of pixels, as in 0,0.");
        setState("failed");
        return;
    }
    if (current.file.size > defaults.maxBytes) {
        clearPages();
        say(sentences["too-large"]);
        setState("failed");
        return;
    }
    setState("busy");
    say("");
    form.status.textContent = "Drawing the pages\u2026";
    started = performance.now();
    const file = await current.file.arrayBuffer();
    if (request !== job) {
        return;
    }
    drawing = { options, pages: [], images: [] };
    worker.postMessage(Object.assign({ file, member: current.member, job: request }, options), [file]);
}

// Each page's image is made as the page arrives; it joins the page only
// once all are done. The browser decodes a page's pixels when it shows it,
// so a long job costs memory for the pages on screen only.
function pageImage(page, options) {
    const image = document.createElement("img");
    image.src = URL.createObjectURL(new Blob([page.png], { type: "image/png" }));
    image.alt = `Page ${page.number}`;
    image.width = page.width;
    image.height = page.height;
    Object.assign(image.dataset, { page: page.number, dpi: options.dpi, offset: `${options.offsetX},${options.offsetY}` });
    return image;
}

function showPages(count) {
    const { options, pages, images } = drawing;
    clearPages();
    form.pages.append(...images);
    const name = current.file.name.replace(/\.[^.]*$/, "") || "pages";
    shown = { pages, sheet: sheetFor(options, pages[0]), name };
    form.pageSize.textContent = `@page { size: ${paperSizes[options.paper]}; margin: 0; }`;
    form.print.disabled = false;
    form.savePdf.disabled = false;
    const seconds = ((performance.now() - started) / 1000).toFixed(2);
    form.status.textContent = `${count} page${count === 1 ? "" : "s"}, drawn in ${seconds} s.`;
}

function dropDrawing() {
    for (const image of drawing !== null ? drawing.images : []) {
        URL.revokeObjectURL(image.src);
    }
    drawing = null;
}

function offerMembers(members) {
    form.member.replaceChildren(new Option("Choose a spool file\u2026", ""),
        ...members.map((name) => new Option(name, name)));
    form.memberChoice.hidden = false;
    form.member.focus();
}

worker.onmessage = (event) => {
    const message = event.data;
    if (message.kind !== "ready" && message.job !== job) {
        return;
    }
    if (message.kind === "ready") {
        defaults = message.defaults;
        form.dpi.value = String(defaults.dpi);
        form.paper.value = defaults.paper;
        setDefaultOffset();
        setState("ready");
        draw();
    } else if (message.kind === "page") {
        drawing.pages.push({ width: message.width, height: message.height, texts: message.texts, images: message.images });
        drawing.images.push(pageImage(message, drawing.options));
        form.status.textContent = `Drawing page ${message.number + 1}\u2026`;
    } else if (message.kind === "done") {
        showPages(message.pages);
        drawing = null;
        setState("done");
    } else {
        dropDrawing();
        clearPages();
        form.status.textContent = "";
        const sentence = sentences[message.kind === "choose" ? "choose" : message.reason];
        say(typeof sentence === "function" ? sentence(message) : sentence);
        if (message.kind === "choose") {
            offerMembers(message.members);
        }
        setState("failed");
    }
};

function take(file) {
    if (!file) {
        return;
    }
    form.memberChoice.hidden = true;
    current = { file, member: null };
    draw();
}

form.file.addEventListener("change", () => take(form.file.files[0]));
form.paper.addEventListener("change", draw);
form.dpi.addEventListener("change", () => {
    if (!offsetChosen) {
        setDefaultOffset();
    }
    draw();
});
form.offset.addEventListener("change", () => {
    offsetChosen = true;
    draw();
});
form.member.addEventListener("change", () => {
    if (current !== null && form.member.value !== "") {
        current.member = form.member.value;
        draw();
    }
});
form.drop.addEventListener("dragover", (event) => {
    event.preventDefault();
    form.drop.classList.add("over");
});
form.drop.addEventListener("dragleave", () => form.drop.classList.remove("over"));
form.drop.addEventListener("drop", (event) => {
    event.preventDefault();
    form.drop.classList.remove("over");
    take(event.dataTransfer.files[0]);
});
form.print.addEventListener("click", () => window.print());
form.savePdf.addEventListener("click", async () => {
    if (shown === null) {
        return;
    }
    const bytes = await pagesAsPdf(shown.pages, shown.sheet, shown.name);
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([bytes], { type: "application/pdf" }));
    link.download = `${shown.name}.pdf`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
});
