// The page as an app on a phone, in headless Chromium: it opens and draws
// with no network once visited, takes a file shared to it, runs without
// SIMD, stops old work for new, reads a file picked again, survives
// hostile archives within its memory, and can be used on a phone's screen
// without an accessibility fault. page_test.mjs runs these with its own
// checks; each scenario gets a browser context of its own (its own service
// worker and renderer process).
import { execFileSync } from "node:child_process";
import { copyFileSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join, resolve } from "node:path";
import { peakMemory, renderers } from "./chromium.mjs";
import { spoolDatabase, textPage, zipArchive } from "./spool_files.mjs";

const settled = () => ["done", "failed"].includes(document.body.dataset.state);
// The page's memory with a hostile archive: the module's largest memory
// (256 MiB) and the largest spool file it takes (256 MiB) with room for the
// browser's own, far below what a zip bomb would take unbounded.
const memoryBound = 768 << 20;

async function openTab(kit, url, prepare = async () => {}) {
    const context = await kit.browser.createBrowserContext();
    const tab = await context.newPage();
    await prepare(tab);
    await tab.goto(url);
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout: kit.timeout });
    return { context, tab };
}

async function pick(kit, tab, file) {
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await (await tab.$("#file")).uploadFile(file);
    await tab.waitForFunction(settled, { timeout: kit.timeout });
}

// What the page shows: its alert, and each page's caption.
function shown(tab) {
    return tab.evaluate(() => ({
        alert: document.getElementById("alert").textContent,
        captions: [...document.querySelectorAll("#pages figcaption")].map((caption) => caption.textContent),
    }));
}

// Waits until the page is drawing the slow job's pages.
async function drawingSlowJob(kit, tab, slow) {
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await (await tab.$("#file")).uploadFile(slow);
    await tab.waitForFunction(() => /Drawing page \d+ of 1000/.test(document.getElementById("status").textContent),
        { timeout: kit.timeout });
}

async function offlineAndShared(kit) {
    const server = await kit.serveFolder(kit.web);
    const { context, tab } = await openTab(kit, server.url);
    await tab.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: kit.timeout });
    // Android's share sheet POSTs the file as a form to the share URL.
    const backup = readFileSync(kit.files.cloudpilot).toString("base64");
    await Promise.all([tab.waitForNavigation({ timeout: kit.timeout }), tab.evaluate((base64) => {
        const form = Object.assign(document.createElement("form"),
            { method: "POST", action: "share", enctype: "multipart/form-data" });
        const input = Object.assign(document.createElement("input"), { type: "file", name: "file" });
        const files = new DataTransfer();
        files.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], "cloudpilot-backup.zip"));
        input.files = files.files;
        form.append(input);
        document.body.append(form);
        form.submit();
    }, backup)]);
    await tab.waitForFunction(settled, { timeout: kit.timeout });
    const share = await shown(tab);
    const module = await tab.evaluate(() => document.body.dataset.module);
    kit.check(share.captions.length === 2 && share.alert === "" && module === "simd",
        `shared backup: its pages through the service worker, the ${module} module ${JSON.stringify(share)}`);

    // Nothing can be sent anywhere else: the page's policy refuses it.
    const refused = await tab.evaluate(() => new Promise((resolve) => {
        document.addEventListener("securitypolicyviolation", (event) => resolve(event.effectiveDirective));
        fetch("http://127.0.0.2:9/").catch(() => {});
    }));
    kit.check(refused === "connect-src", `a request to another origin: refused by ${refused}`);

    server.close();
    await tab.setOfflineMode(true);
    await tab.reload();
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout: kit.timeout });
    await pick(kit, tab, kit.files.memo);
    const same = await kit.samePixels(tab, kit.pngs.memo);
    kit.check(same.length === 2 && same.every(Boolean), `offline: the page opens again and draws ${same}`);
    await context.close();
}

async function withoutSimd(kit) {
    const { context, tab } = await openTab(kit, kit.url, (page) => page.evaluateOnNewDocument(() => {
        WebAssembly.validate = () => false;
    }));
    await pick(kit, tab, kit.files.memo);
    const module = await tab.evaluate(() => document.body.dataset.module);
    const same = await kit.samePixels(tab, kit.pngs.memo);
    kit.check(module === "plain" && same.length === 2 && same.every(Boolean),
        `without SIMD: the ${module} module, spool_to_png's pixels ${same}`);
    await context.close();
}

async function newRequests(kit) {
    const { context, tab } = await openTab(kit, kit.url);
    await drawingSlowJob(kit, tab, kit.files.slow);
    await pick(kit, tab, kit.files.memo);
    const replaced = await shown(tab);
    kit.check(JSON.stringify(replaced.captions) === JSON.stringify(["Page 1 of 2", "Page 2 of 2"]),
        `a new file while drawing: only its pages ${JSON.stringify(replaced.captions)}`);

    await drawingSlowJob(kit, tab, kit.files.slow);
    await tab.click("#cancel");
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout: kit.timeout });
    const cancelled = await shown(tab);
    await pick(kit, tab, kit.files.memo);
    const after = await shown(tab);
    kit.check(cancelled.captions.length === 0 && after.captions.length === 2,
        `Cancel: ${cancelled.captions.length} pages, then the next file's ${after.captions.length}`);

    // HotSync writes the file again under the same name.
    const changing = join(kit.scratch, "Fernquill_Spool_File.PDB");
    writeFileSync(changing, readFileSync(kit.files.memo));
    await pick(kit, tab, changing);
    writeFileSync(changing, readFileSync(kit.files.fern));
    await pick(kit, tab, changing);
    const again = await shown(tab);
    kit.check(JSON.stringify(again.captions) === JSON.stringify(["Page 1 of 1"]),
        `the same file picked again after it changed: ${JSON.stringify(again.captions)}`);

    // The file changes between the pick and a later read: an archive's
    // spool file is chosen after the archive was written again.
    const archive = join(kit.scratch, "changing.zip");
    const memo = { bytes: readFileSync(kit.files.memo) };
    writeFileSync(archive, zipArchive({ "Fernquill Spool File.pdb": memo, "old/Fernquill_Spool_File.PDB": memo }));
    await pick(kit, tab, archive);
    writeFileSync(archive, zipArchive({ "Fernquill Spool File.pdb": memo }));
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await tab.select("#member", "old/Fernquill_Spool_File.PDB");
    await tab.waitForFunction(settled, { timeout: kit.timeout });
    const changed = await shown(tab);
    kit.check(/can't be read: it was moved or changed since it was picked/.test(changed.alert) &&
        changed.captions.length === 0, `a file changed after it was picked: "${changed.alert}"`);
    await context.close();
}

function refusedPage() {
    const bytes = spoolDatabase([textPage("never drawn\n")]);
    new DataView(bytes.buffer).setUint32(78, 0xffffffff);
    return bytes;
}

// Hostile and damaged files: each ends in its sentence or its pages, and
// the tab's memory stays below the bound. The time each took is said, not
// checked (the benchmark is for times).
async function badInput(kit) {
    const memo = readFileSync(kit.files.memo);
    const claims = {};
    for (let i = 0; i < 1000; i++) {
        claims[`Database ${i}.pdb`] = { bytes: new Uint8Array(100), claims: 200 << 20 };
    }
    const many = {};
    for (let i = 0; i < 10001; i++) {
        many[`notes/${i}.txt`] = { bytes: new Uint8Array(1) };
    }
    const cases = [
        { name: "claims.zip", members: claims, says: /holds no Fernquill spool file/ },
        { name: "many.zip", members: many, says: /more files than a hand-held's backup/ },
        { name: "thousandfold.zip", members: { "Fernquill_Spool_File.PDB": { zeros: 32 << 20 } }, says: /no pages/ },
        { name: "deflate64.zip", members: { "Fernquill Spool File.pdb": { bytes: memo },
            "Graffiti.pdb": { bytes: new Uint8Array(500), method: 9 } }, pages: 2 },
        { name: "deflate64-only.zip", members: { "Fernquill Spool File.pdb": { bytes: memo, method: 9 } },
            says: /1 file is packed in a way this page can't unpack/ },
        { name: "empty.PDB", bytes: new Uint8Array(0), says: /empty/ },
        // A record list pointing before the file: the print job refuses the page.
        { name: "refused.PDB", pages: 1, caption: "Page 1 of 1 (refused: blank)", bytes: refusedPage() },
        { name: "10000-pages.PDB", dpi: 150, pages: 1000, says: /has 10,000 pages, .* the first 1,000 are shown/,
            bytes: spoolDatabase(Array.from({ length: 10000 }, (_, i) => textPage(`Line ${i}\n`))) },
    ];
    for (const item of cases) {
        const path = join(kit.scratch, item.name);
        writeFileSync(path, item.bytes || zipArchive(item.members));
        const before = renderers(kit.browser);
        const { context, tab } = await openTab(kit, kit.url);
        if (item.dpi) {
            await tab.select("#dpi", String(item.dpi));
        }
        const started = Date.now();
        await pick(kit, tab, path);
        const seconds = (Date.now() - started) / 1000;
        const result = await shown(tab);
        const peak = peakMemory(kit.browser, before);
        const answered = (item.says ? item.says.test(result.alert) : result.alert === "") &&
            result.captions.length === (item.pages || 0) && (!item.caption || result.captions[0] === item.caption);
        kit.check(answered && peak < memoryBound, `${item.name}: "${result.alert}", ` +
            `${result.captions.length} pages ${JSON.stringify(result.captions.slice(0, 1))} in ${seconds.toFixed(1)} s, peak ${(peak / 1048576).toFixed(0)} MiB`);
        await context.close();
    }
}

// Drops anywhere on the page (here on its heading) of a file, of a user's
// HotSync folder (its spool file is in Backup/, beside another database),
// and of a folder without a spool file.
async function drops(kit) {
    const user = join(kit.scratch, "JQuill");
    mkdirSync(join(user, "Backup"), { recursive: true });
    copyFileSync(kit.files.memo, join(user, "Backup", "Fernquill_Spool_File.PDB"));
    copyFileSync(kit.files.fern, join(user, "MemoDB.PDB"));
    const empty = join(kit.scratch, "no-spool-folder");
    mkdirSync(empty, { recursive: true });
    const { context, tab } = await openTab(kit, kit.url);
    const session = await tab.createCDPSession();
    const heading = await (await tab.$("h1")).boundingBox();
    const results = [];
    for (const path of [resolve(kit.files.fern), user, empty]) {
        await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
        const data = { items: [], files: [path], dragOperationsMask: 1 };
        for (const type of ["dragEnter", "dragOver", "drop"]) {
            await session.send("Input.dispatchDragEvent", { type, x: heading.x + 5, y: heading.y + 5, data });
        }
        await tab.waitForFunction(settled, { timeout: kit.timeout });
        const result = await shown(tab);
        results.push(`${result.captions.length} ${result.alert}`.trim());
    }
    kit.check(JSON.stringify(results) === JSON.stringify(["1", "2", "0 This folder holds no Fernquill spool file."]),
        `drops of a file, a HotSync folder and an empty folder: ${JSON.stringify(results)}`);
    await context.close();
}

// Printed on paper other than the chosen one (the print dialog's choice),
// each page is one sheet and keeps its proportions: pdfimages finds each
// page's image as many pixels per inch across as down.
async function printedOnOtherPaper(kit) {
    const { context, tab } = await openTab(kit, kit.url);
    await pick(kit, tab, kit.files.memo);
    const results = [];
    for (const paper of [{ format: "A4" }, { format: "A5", landscape: true }]) {
        const printed = join(kit.scratch, `printed-${paper.format}.pdf`);
        writeFileSync(printed, await tab.pdf(paper));
        const images = execFileSync("pdfimages", ["-list", printed], { encoding: "utf8" }).trim().split("\n").slice(2)
            .map((line) => line.trim().split(/\s+/));
        results.push(images.map((fields) => `${fields[0]}: ${fields[12]} x ${fields[13]} ppi`).join(", "));
        kit.check(images.length === 2 && images.every((fields, i) => Number(fields[0]) === i + 1 && fields[12] === fields[13]),
            `printed on ${paper.format}${paper.landscape ? " landscape" : ""}: ${results.at(-1)}`);
    }
    await context.close();
}

// Save PDF's part of the page can't be loaded (here refused by the test,
// past the service worker): it says so, and the button is ready again.
async function savePdfFails(kit) {
    const { context, tab } = await openTab(kit, kit.url, async (page) => {
        await page.setBypassServiceWorker(true);
        await page.setRequestInterception(true);
        page.on("request", (request) => (/pdf-worker\./.test(request.url()) ? request.abort() : request.continue()));
    });
    await pick(kit, tab, kit.files.memo);
    await tab.click("#save-pdf");
    await tab.waitForFunction(() => document.getElementById("alert").textContent !== "", { timeout: kit.timeout });
    const alert = await tab.$eval("#alert", (element) => element.textContent);
    const ready = await tab.$eval("#save-pdf", (button) => !button.disabled);
    kit.check(/The PDF could not be made/.test(alert) && ready, `Save PDF without its library: "${alert}", ready again: ${ready}`);
    await context.close();
}

// The module can't be had (here refused by the test; for a person, a
// browser without WebAssembly or with it locked down): one sentence.
async function noModule(kit) {
    const context = await kit.browser.createBrowserContext();
    const tab = await context.newPage();
    await tab.setBypassServiceWorker(true);
    await tab.setRequestInterception(true);
    tab.on("request", (request) => (/\.wasm$/.test(request.url()) ? request.abort() : request.continue()));
    await tab.goto(kit.url);
    await tab.waitForFunction(() => document.body.dataset.state === "failed", { timeout: kit.timeout });
    const alert = await tab.$eval("#alert", (element) => element.textContent);
    kit.check(/can't run the page's drawing code/.test(alert), `no module: "${alert}"`);
    await context.close();
}

// A phone's screen and touch: every control within the screen's width and
// large enough for a finger, the options used by touch, and no fault axe
// finds, in light and dark.
async function onAPhone(kit) {
    const { context, tab } = await openTab(kit, kit.url, async (page) => {
        await page.setBypassCSP(true);  // for axe's script, put in the page inline
        await page.emulate({
            viewport: { width: 360, height: 740, deviceScaleFactor: 2, isMobile: true, hasTouch: true },
            userAgent: "Mozilla/5.0 (Linux; Android 14; Pixel 7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/150.0 Mobile Safari/537.36",
        });
    });
    await pick(kit, tab, kit.files.memo);
    const controls = await tab.evaluate(() => [...document.querySelectorAll("input, select, button")]
        .filter((control) => control.getClientRects().length > 0)
        .filter((control) => control.getBoundingClientRect().right > 360 || control.getBoundingClientRect().height < 44)
        .map((control) => control.id).concat(document.documentElement.scrollWidth > 360 ? ["the page's width"] : []));
    await tab.select("#dpi", "150");
    await tab.waitForFunction(settled, { timeout: kit.timeout });
    await tab.tap("#margin-x");
    await tab.evaluate(() => { document.getElementById("margin-x").select(); });
    await tab.keyboard.type("0.5");
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await tab.keyboard.press("Tab");
    await tab.waitForFunction(settled, { timeout: kit.timeout });
    const offset = await tab.$eval("#pages img", (image) => `${image.dataset.dpi} ${image.dataset.offset}`);
    kit.check(controls.length === 0 && offset === "150 75,38",
        `a phone's screen: out of reach or too small: ${JSON.stringify(controls)}; margins typed: ${offset}`);
    // A4's margins are in millimetres: the lengths typed stay the same.
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await tab.select("#paper", "a4");
    await tab.waitForFunction(settled, { timeout: kit.timeout });
    const metric = await tab.evaluate(() => [document.getElementById("margin-x").value,
        document.getElementById("margin-y").value, document.getElementById("margin-unit").textContent,
        document.querySelector("#pages img").dataset.offset].join(" "));
    // The text of each page, there for a screen reader.
    const text = await tab.$eval(".page-text", (element) => element.textContent.split("\n")[1]);
    kit.check(metric === "12.7 6.35 mm 75,38" && text === "To:   Sales team",
        `millimetres on A4: ${metric}; the page's second line as text: "${text}"`);
    await tab.addScriptTag({ path: createRequire(import.meta.url).resolve("axe-core/axe.min.js") });
    const grounds = [];
    for (const scheme of ["light", "dark"]) {
        await tab.emulateMediaFeatures([{ name: "prefers-color-scheme", value: scheme }]);
        grounds.push(await tab.evaluate(() => getComputedStyle(document.body).backgroundColor));
        const violations = await tab.evaluate(async () =>
            (await window.axe.run(document)).violations.map((violation) => `${violation.id}: ${violation.nodes.length}`));
        kit.check(violations.length === 0, `axe-core, ${scheme}: ${JSON.stringify(violations)}`);
    }
    kit.check(grounds[0] !== grounds[1], `the system's dark mode followed: ${grounds.join(", then ")}`);
    await context.close();
}

export const appCases = [offlineAndShared, withoutSimd, newRequests, badInput, drops, printedOnOtherPaper, savePdfFails, noModule, onAPhone];

// The files the scenarios share.
export function appFiles(scratch, examples) {
    const slow = join(scratch, "slow.PDB");
    writeFileSync(slow, spoolDatabase(Array.from({ length: 3000 }, (_, i) => textPage(`Line ${i}\n`))));
    return { memo: `${examples}/1-memo.PDB`, fern: `${examples}/3-fern.PDB`, slow };
}
