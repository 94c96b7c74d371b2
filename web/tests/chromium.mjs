// Debian's Chromium, headless, as the page's tests and benchmark run it, and
// the peak memory of the processes it draws pages in.
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

export function launchChromium(profile) {
    return puppeteer.launch({
        executablePath: "/usr/bin/chromium", headless: true, userDataDir: profile,
        args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync"],
    });
}

function descendants(pid) {
    const children = new Map();
    for (const name of readdirSync("/proc").filter((entry) => /^\d+$/.test(entry))) {
        try {
            const parent = Number(readFileSync(`/proc/${name}/stat`, "utf8").split(") ")[1].split(" ")[1]);
            children.set(parent, [...(children.get(parent) || []), Number(name)]);
        } catch {
            // gone meanwhile
        }
    }
    const all = [];
    for (let level = [pid]; level.length > 0; level = level.flatMap((p) => children.get(p) || [])) {
        all.push(...level);
    }
    return all;
}

// The browser's renderer processes (pages and their workers), by pid.
export function renderers(browser) {
    return descendants(browser.process().pid).filter((pid) => {
        try {
            return readFileSync(`/proc/${pid}/cmdline`, "utf8").includes("--type=renderer");
        } catch {
            return false;
        }
    });
}

// The most memory (resident, in bytes) any of the renderers started since
// `before` (an earlier renderers()) held at once: the tab's peak, workers
// included, when the tab was opened in a browser context of its own.
export function peakMemory(browser, before) {
    let peak = 0;
    for (const pid of renderers(browser).filter((candidate) => !before.includes(candidate))) {
        try {
            const kilobytes = Number(/VmHWM:\s+(\d+)/.exec(readFileSync(`/proc/${pid}/status`, "utf8"))[1]);
            peak = Math.max(peak, kilobytes * 1024);
        } catch {
            // gone meanwhile
        }
    }
    return peak;
}
