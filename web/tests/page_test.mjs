// The built page in headless Chromium, served from a local server, against
// the native tools: for each file, the pages it shows (their number and
// every pixel, read back from the page) are spool_to_png's with the same
// options, the PDF it saves has spool_to_pdf's text and fonts, and printing
// gives one sheet of the paper's size per page. A bad file gives a sentence
// in the alert and no page. Then the page as an app (app_cases.mjs).
//
//     node page_test.mjs WEB_FOLDER TOOLS_FOLDER EXAMPLES_FOLDER
import { execFileSync } from "node:child_process";
import { existsSync, mkdtempSync, readFileSync, rmSync, truncateSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";
import { zipSync } from "fflate";
import { appCases, appFiles } from "./app_cases.mjs";
import { launchChromium } from "./chromium.mjs";
import { serveFolder } from "./serve.mjs";

const [web, tools, examples] = process.argv.slice(2);
const scratch = mkdtempSync(join(tmpdir(), "fernquill-page-"));
const timeout = 60000;
let passes = 0;
let failures = 0;

function check(ok, what) {
    console.log(`${ok ? "ok" : "FAILED"}: ${what}`);
    passes += ok ? 1 : 0;
    failures += ok ? 0 : 1;
}

// A Palm database of no records, its own name in the header.
function palmDatabase(name) {
    const bytes = new Uint8Array(78);
    bytes.set(new TextEncoder().encode(name));
    return bytes;
}

const memo = readFileSync(`${examples}/1-memo.PDB`);
const cloudpilot = join(scratch, "cloudpilot-backup.zip");
writeFileSync(cloudpilot, zipSync({
    "Saved Preferences.pdb": palmDatabase("Saved Preferences"),
    "Fernquill Spool File.pdb": memo,
    "MemoDB.pdb": palmDatabase("MemoDB"),
}));
const noSpool = join(scratch, "no-spool.zip");
writeFileSync(noSpool, zipSync({ "MemoDB.pdb": palmDatabase("MemoDB"), "notes.txt": new TextEncoder().encode("hi") }));
const twoSpools = join(scratch, "two-spools.zip");
writeFileSync(twoSpools, zipSync({ "Fernquill Spool File.pdb": memo, "old/Fernquill_Spool_File.PDB": memo }));
const notSpool = join(scratch, "letter.txt");
writeFileSync(notSpool, "Dear Palm,\nthis is no database.\n");
const tooLarge = join(scratch, "huge.PDB");
writeFileSync(tooLarge, memo);
truncateSync(tooLarge, 257 << 20);

const goodCases = [
    { file: `${examples}/1-memo.PDB`, paper: "letter", dpi: 300, offset: null, points: [612, 792] },
    { file: `${examples}/2-chart.PDB`, paper: "a4", dpi: 150, offset: null, points: [595.28, 841.89] },
    { file: `${examples}/3-fern.PDB`, paper: "letter", dpi: 300, offset: "40,25", points: [612, 792] },
    { file: cloudpilot, paper: "a4", dpi: 300, offset: null, points: [595.28, 841.89] },
];
const badCases = [
    { file: notSpool, says: /not a Fernquill spool file/ },
    { file: noSpool, says: /holds no Fernquill spool file/ },
    { file: twoSpools, says: /several spool files/, choices: 2 },
    { file: tooLarge, says: /larger than a spool file can be/ },
];

function tool(name, ...args) {
    return execFileSync(`${tools}/${name}`, args, { encoding: "utf8" });
}

// Loads the file into a fresh tab with the options chosen; resolves with
// the tab once the page is done or has failed.
async function loadFile(browser, url, file, options = {}) {
    const tab = await browser.newPage();
    await tab.goto(url);
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout });
    if (options.paper) {
        await tab.select("select[name=paper]", options.paper);
        await tab.select("select[name=dpi]", String(options.dpi));
    }
    if (options.offset) {
        // The margins in inches (Letter), as a person types them: pixels at the resolution.
        const [x, y] = options.offset.split(",").map((pixels) => (Number(pixels) / options.dpi).toFixed(6));
        await tab.$eval("#margin-x", (input, value) => { input.value = value; }, x);
        await tab.$eval("#margin-y", (input, value) => {
            input.value = value;
            input.dispatchEvent(new Event("change"));
        }, y);
        await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout });
    }
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await (await tab.$("#file")).uploadFile(file);
    await tab.waitForFunction(() => ["done", "failed"].includes(document.body.dataset.state), { timeout });
    return tab;
}

// Whether each image on the page has the PNG's pixels, decoded alike.
async function samePixels(tab, pngs) {
    return tab.evaluate(async (references) => {
        const pixels = async (image) => {
            await image.decode();
            const canvas = new OffscreenCanvas(image.naturalWidth, image.naturalHeight);
            const context = canvas.getContext("2d");
            context.drawImage(image, 0, 0);
            return context.getImageData(0, 0, canvas.width, canvas.height).data;
        };
        const shown = [...document.querySelectorAll("#pages img")];
        const results = [];
        for (const [i, reference] of references.entries()) {
            const expected = new Image();
            expected.src = `data:image/png;base64,${reference}`;
            const [a, b] = [await pixels(shown[i]), await pixels(expected)];
            results.push(a.length === b.length && a.every((value, at) => value === b[at]));
        }
        return results;
    }, pngs.map((png) => readFileSync(png).toString("base64")));
}

async function waitForFile(path) {
    for (let waited = 0; waited < timeout && !existsSync(path); waited += 100) {
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
    return existsSync(path);
}

// The fonts pdffonts lists, without their object numbers.
function fonts(pdf) {
    return execFileSync("pdffonts", [pdf], { encoding: "utf8" }).split("\n").slice(2)
        .map((line) => line.trim().split(/\s+/).slice(0, -2).join(" "));
}

// The PDF's pages as pdftoppm draws them, one grey image each.
function rasterised(pdf, dpi) {
    const prefix = `${pdf}-raster`;
    execFileSync("pdftoppm", ["-r", String(dpi), "-gray", pdf, prefix]);
    return execFileSync("sh", ["-c", `ls '${prefix}'-*.pgm`], { encoding: "utf8" }).trim().split("\n")
        .map((page) => readFileSync(page));
}

async function checkGoodFile(browser, url, item) {
    const name = basename(item.file).replace(/\.[^.]*$/, "");
    const out = mkdtempSync(join(scratch, "case-"));
    // Unless chosen, the page takes spool_to_pdf's margins: a quarter inch.
    const margin = Math.floor((item.dpi * 25 + 50) / 100);
    const offset = item.offset || `${margin},${margin}`;
    const options = ["--paper", item.paper, "--dpi", String(item.dpi)];
    tool("spool_to_png", ...options, "--offset", offset, "--out", out, item.file);
    tool("spool_to_pdf", ...options, ...(item.offset ? ["--offset", item.offset] : []), "-o", join(out, "tool.pdf"), item.file);
    const pngs = execFileSync("sh", ["-c", `ls '${out}'/*.png`], { encoding: "utf8" }).trim().split("\n");

    const tab = await loadFile(browser, url, item.file, item);
    const shown = await tab.$$eval("#pages img", (images) =>
        images.map((image) => `${image.dataset.page} ${image.dataset.dpi} ${image.dataset.offset} ${image.alt}`));
    const expected = pngs.map((_, i) => `${i + 1} ${item.dpi} ${offset} Page ${i + 1}`);
    check(JSON.stringify(shown) === JSON.stringify(expected), `${name}: pages ${JSON.stringify(shown)}`);
    const same = await samePixels(tab, pngs);
    check(same.length === pngs.length && same.every(Boolean), `${name}: spool_to_png's pixels, page by page ${same}`);

    const downloads = mkdtempSync(join(scratch, "downloads-"));
    const session = await tab.createCDPSession();
    await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
    await tab.click("#save-pdf");
    const saved = join(downloads, `${name}.pdf`);
    check(await waitForFile(saved), `${name}: Save PDF saves ${name}.pdf`);
    if (existsSync(saved)) {
        await new Promise((resolve) => setTimeout(resolve, 500));
        const text = (pdf) => execFileSync("pdftotext", [pdf, "-"], { encoding: "utf8" });
        check(text(saved) === text(join(out, "tool.pdf")), `${name}: the PDF's text is spool_to_pdf's`);
        check(JSON.stringify(fonts(saved)) === JSON.stringify(fonts(join(out, "tool.pdf"))),
            `${name}: the PDF's fonts are spool_to_pdf's ${JSON.stringify(fonts(saved))}`);
        const rasters = [saved, join(out, "tool.pdf")].map((pdf) => rasterised(pdf, item.dpi));
        const differing = rasters[0].map((page, i) => page.reduce((sum, value, at) => sum + (value !== rasters[1][i][at]), 0));
        check(rasters[0].length === pngs.length && differing.every((count) => count === 0),
            `${name}: the PDF's pages at ${item.dpi} dpi are spool_to_pdf's, pixel for pixel (${differing} differ)`);
    }

    const printed = join(out, "printed.pdf");
    writeFileSync(printed, await tab.pdf({ preferCSSPageSize: true }));
    const info = execFileSync("pdfinfo", [printed], { encoding: "utf8" });
    const sheets = Number(/Pages:\s+(\d+)/.exec(info)[1]);
    const size = /Page size:\s+([\d.]+) x ([\d.]+)/.exec(info).slice(1).map(Number);
    const fits = size.every((points, i) => Math.abs(points - item.points[i]) < 0.5);
    check(sheets === pngs.length && fits, `${name}: printing gives ${sheets} sheets of ${size.join(" x ")} pt`);
    await tab.close();
}

async function checkBadFile(browser, url, item) {
    // A good file first, so that the failure must also take its pages away.
    const tab = await loadFile(browser, url, `${examples}/3-fern.PDB`);
    await tab.evaluate(() => { document.body.dataset.state = "waiting"; });
    await (await tab.$("#file")).uploadFile(item.file);
    await tab.waitForFunction(() => ["done", "failed"].includes(document.body.dataset.state), { timeout });
    const alert = await tab.$eval("[role=alert]", (element) => element.textContent);
    const pages = await tab.$$eval("[data-page]", (images) => images.length);
    const choices = await tab.$$eval("#member-choice:not([hidden]) option[value]:not([value=''])", (o) => o.length);
    check(item.says.test(alert) && pages === 0 && choices === (item.choices || 0),
        `${basename(item.file)}: "${alert}", ${pages} pages, ${choices} choices`);
    await tab.close();
}

const server = await serveFolder(web);
const browser = await launchChromium(join(scratch, "profile"));
try {
    for (const [item, checkFile] of [...goodCases.map((c) => [c, checkGoodFile]), ...badCases.map((c) => [c, checkBadFile])]) {
        try {
            await checkFile(browser, server.url, item);
        } catch (error) {
            check(false, `${basename(item.file)}: checked to the end: ${String(error).slice(0, 300)}`);
        }
    }
    const memoPngs = mkdtempSync(join(scratch, "memo-"));
    tool("spool_to_png", "--offset", "75,75", "--out", memoPngs, `${examples}/1-memo.PDB`);
    const kit = {
        browser, url: server.url, web, scratch, timeout, check, samePixels, serveFolder,
        files: Object.assign(appFiles(scratch, examples), { cloudpilot }),
        pngs: { memo: [1, 2].map((page) => join(memoPngs, `1-memo-page-00${page}.png`)) },
    };
    for (const scenario of appCases) {
        try {
            await scenario(kit);
        } catch (error) {
            check(false, `${scenario.name}: checked to the end: ${String(error).slice(0, 300)}`);
        }
    }
} finally {
    await browser.close();
    server.close();
    rmSync(scratch, { recursive: true, force: true });
}
console.log(`web page tests: ${passes} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
