// The web page against spool_to_png on the same job: the time from handing
// the page the file to every page in the page as a PNG (as the tool writes
// its PNG files) and the first one decoded on screen, in headless Chromium,
// and the tool's wall-clock time as a program (the process start is part of
// what a user waits for); the median of five runs each, after one to warm
// up; and, for the record, until every page is decoded too (a browser
// decodes only what it shows). Also the size of the built folder. Exits 1 when the page takes more
// than 3 times the tool's time or the folder passes 1.5 MB.
//
//     node page_bench.mjs WEB_FOLDER SPOOL_TO_PNG JOB
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, rmSync, statSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import puppeteer from "puppeteer-core";
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

async function pageTime(browser, url) {
    const tab = await browser.newPage();
    await tab.goto(url);
    await tab.waitForFunction(() => document.body.dataset.state === "ready", { timeout: 60000 });
    await tab.evaluate(() => { window.benchStart = performance.now(); });
    await (await tab.$("#file")).uploadFile(job);
    await tab.waitForFunction(() => document.body.dataset.state === "done", { timeout: 120000 });
    const [pages, shown, decoded] = await tab.evaluate(async () => {
        const images = [...document.querySelectorAll("#pages img")];
        await images[0].decode();
        const first = performance.now() - window.benchStart;
        await Promise.all(images.map((image) => image.decode()));
        return [images.length, first, performance.now() - window.benchStart];
    });
    await tab.close();
    if (pages !== 12) {
        throw new Error(`the page shows ${pages} pages, not 12`);
    }
    allDecoded.push(decoded);
    return shown;
}

const server = await serveFolder(web);
const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium", headless: true, userDataDir: join(scratch, "profile"),
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync"],
});
const tool = [];
const page = [];
const allDecoded = [];
try {
    toolTime();
    await pageTime(browser, server.url);
    for (let run = 0; run < runs; run++) {
        tool.push(toolTime());
        page.push(await pageTime(browser, server.url));
    }
} finally {
    await browser.close();
    server.close();
}
rmSync(scratch, { recursive: true, force: true });
const folderBytes = readdirSync(web).reduce((sum, name) => sum + statSync(join(web, name)).size, 0);
const ratio = median(page) / median(tool);
console.log(`12-page mixed job: spool_to_png ${median(tool).toFixed(0)} ms, the web page ${median(page).toFixed(0)} ms ` +
    `(${ratio.toFixed(2)} x, at most 3 x; ${median(allDecoded).toFixed(0)} ms with every page decoded); ` +
    `the folder ${folderBytes} bytes (at most 1572864)`);
process.exit(ratio <= 3 && folderBytes <= 1572864 ? 0 : 1);
