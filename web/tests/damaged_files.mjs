// The damaged spool files of the renderer's tests through the WebAssembly
// build, as the page's worker calls it: each must give the pages the print
// job walks (its name ends in their number), without a crash. scripts/test
// runs this under a timeout, so a hang fails too.
//
//     node damaged_files.mjs WEB_FOLDER DAMAGED_FOLDER
import { readFileSync, readdirSync } from "node:fs";
import { createRequire } from "node:module";

const [web, folder] = process.argv.slice(2);
const createFernquill = createRequire(import.meta.url)(`${web}/fernquill.js`);
const fernquill = await createFernquill({ wasmBinary: readFileSync(`${web}/fernquill.wasm`) });
fernquill.onText = () => {};
fernquill.onImage = () => {};
fernquill.onPage = () => 0;

let failed = 0;
const names = readdirSync(folder).filter((name) => name.endsWith(".pdb"));
for (const name of names) {
    const expected = Number(name.split(".").at(-2));
    fernquill.FS.writeFile("/spool.pdb", readFileSync(`${folder}/${name}`));
    let pages;
    try {
        pages = fernquill.ccall("fq_render", "number", ["string", "number", "string", "number", "number"],
            ["/spool.pdb", 300, "letter", 0, 0]);
    } catch (error) {
        pages = String(error).slice(0, 200);
    }
    if (pages !== expected) {
        console.log(`${name}: ${pages} pages, expected ${expected}`);
        failed++;
    }
}
console.log(`damaged files through the WebAssembly build: ${names.length - failed} passed, ${failed} failed`);
// An empty folder would pass everything: the renderer's tests wrote none.
process.exit(names.length > 0 && failed === 0 ? 0 : 1);
