// The web page against spool_to_png on the same job: the time from handing
// the page the file to every page in the page as a PNG (as the tool writes
// its PNG files) and the first one drawn on screen, in headless Chromium,
// and the tool's wall-clock time as a program (the process start is part of
// what a user waits for); the median of five runs each, after one to warm
// up, with the SIMD module and with the one without; and, for the record,
// until every page is decoded too (a browser decodes only what it shows).
// Then the tab's peak memory drawing the job at 600 dpi, and the page's
// first load compressed (gzip, as a server sends it): every file but Save
// PDF's, which loads when first used. Exits 1 when the page takes more than
// 1.5 times the tool's time with SIMD or 3 times without, or the first load
// passes 1 MB.
//
//     node page_bench.mjs WEB_FOLDER SPOOL_TO_PNG JOB
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, readdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { gzipSync } from "node:zlib";
import { launchChromium, peakMemory, renderers } from "./chromium.mjs";
import { serveFolder } from "./serve.mjs";

const [web, spoolToPng, job] = process.argv.slice(2);
const scratch = mkdtempSync(join(tmpdir(), "fernquill-bench-"));
const runs = 5;

function median(times) {
    return [...times].sort((a, b) => a - b)[Math.floor(times.length / 2)];
}

function toolTime() {
    const start = process.hrtime.bigint();
    execFileSync(spoolToPng, ["--out", scratch, job]);
    return Number(process.hrtime.bigint() - start) / 1e6;
}

// One run in a browser context of its own: {shown, decoded, peak} in ms and bytes.
async function pageRun(browser, url, { simd = true, dpi = null } = {}) {
    const before = renderers(browser);
    const context = await browser.createBrowserContext();
    const tab = await context.newPage();
    if (!simd) {
        await tab.evaluateOnNewDocument(() => { WebAssembly.validate = () => false; });
    }
    await tab.goto(url);
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout: 60000 });
    if (dpi !== null) {
        await tab.select("#dpi", String(dpi));
    }
    await tab.evaluate(() => { window.benchStart = performance.now(); });
    await (await tab.$("#file")).uploadFile(job);
    await tab.waitForFunction(() => document.body.dataset.state === "done", { timeout: 120000 });
    // A person looks at the pages as they come into view; the memory is
    // measured so, the times also with every page decoded.
    const [pages, shown, decoded] = await tab.evaluate(async (decodeAll) => {
        const images = [...document.querySelectorAll("#pages img")];
        // The first page on screen: its canvas drawn from the PNG.
        while (document.querySelector("#pages canvas[data-shown]") === null) {
            await new Promise((resolve) => requestAnimationFrame(resolve));
        }
        const first = performance.now() - window.benchStart;
        if (decodeAll) {
            await Promise.all(images.map((image) => image.decode()));
        } else {
            for (const image of images) {
                image.scrollIntoView();
                await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
            }
        }
        return [images.length, first, performance.now() - window.benchStart];
    }, dpi === null);
    const peak = peakMemory(browser, before);
    await context.close();
    if (pages !== 12) {
        throw new Error(`the page shows ${pages} pages, not 12`);
    }
    return { shown, decoded, peak };
}

// The module with SIMD and the one without, run by turns so that both meet
// the machine alike: {simd, plain}, each {shown, decoded}.
async function pageTimes(browser, url) {
    await pageRun(browser, url, { simd: true });
    await pageRun(browser, url, { simd: false });
    const results = { simd: [], plain: [] };
    for (let run = 0; run < runs; run++) {
        results.simd.push(await pageRun(browser, url, { simd: true }));
        results.plain.push(await pageRun(browser, url, { simd: false }));
    }
    const medians = (list) => ({ shown: median(list.map((r) => r.shown)), decoded: median(list.map((r) => r.decoded)) });
    return { simd: medians(results.simd), plain: medians(results.plain) };
}

const server = await serveFolder(web);
const browser = await launchChromium(join(scratch, "profile"));
let tool;
let simd;
let plain;
let peak;
try {
    toolTime();
    tool = median(Array.from({ length: runs }, toolTime));
    ({ simd, plain } = await pageTimes(browser, server.url));
    peak = (await pageRun(browser, server.url, { dpi: 600 })).peak;
} finally {
    await browser.close();
    server.close();
}
rmSync(scratch, { recursive: true, force: true });
const firstLoad = readdirSync(web).filter((name) => !name.startsWith("pdf-worker."))
    .reduce((sum, name) => sum + gzipSync(readFileSync(join(web, name)), { level: 9 }).length, 0);
const ratio = simd.shown / tool;
const plainRatio = plain.shown / tool;
console.log(`12-page mixed job: spool_to_png ${tool.toFixed(0)} ms; the web page with SIMD ${simd.shown.toFixed(0)} ms ` +
    `(${ratio.toFixed(2)} x, at most 1.5 x; ${simd.decoded.toFixed(0)} ms with every page decoded), ` +
    `without SIMD ${plain.shown.toFixed(0)} ms (${plainRatio.toFixed(2)} x, at most 3 x); ` +
    `the tab's peak memory at 600 dpi ${(peak / 1048576).toFixed(0)} MiB; ` +
    `the first load ${firstLoad} bytes compressed (at most 1048576)`);
process.exit(ratio <= 1.5 && plainRatio <= 3 && firstLoad <= 1048576 ? 0 : 1);
