// The damaged spool files of the renderer's tests through both WebAssembly
// builds (with SIMD and without), as the page's worker calls them: each must
// give the pages the print job walks (its name ends in their number), and
// count them alike beforehand, without a crash. scripts/test runs this under
// a timeout, so a hang fails too.
//
//     node damaged_files.mjs WEB_FOLDER DAMAGED_FOLDER
import { readFileSync, readdirSync } from "node:fs";
import { createRequire } from "node:module";
import { resolve } from "node:path";

const [web, folder] = process.argv.slice(2);
const built = readdirSync(web);
const glue = built.find((name) => /^fernquill\.[0-9a-f]+\.js$/.test(name));
const modules = built.filter((name) => /^fernquill(-simd)?\.[0-9a-f]+\.wasm$/.test(name));
const createFernquill = createRequire(import.meta.url)(resolve(web, glue));

let failed = 0;
let passed = 0;
const names = readdirSync(folder).filter((name) => name.endsWith(".pdb"));
for (const module of modules) {
    const fernquill = await createFernquill({ wasmBinary: readFileSync(`${web}/${module}`) });
    fernquill.onText = () => {};
    fernquill.onImage = () => {};
    fernquill.onPage = () => 0;
    for (const name of names) {
        const expected = Number(name.split(".").at(-2));
        fernquill.FS.writeFile("/spool.pdb", readFileSync(`${folder}/${name}`));
        let pages;
        let counted;
        try {
            counted = fernquill.ccall("fq_count_pages", "number", ["string"], ["/spool.pdb"]);
            pages = fernquill.ccall("fq_render", "number", ["string", "number", "string", "number", "number"],
                ["/spool.pdb", 300, "letter", 0, 0]);
        } catch (error) {
            pages = String(error).slice(0, 200);
        }
        if (pages !== expected || counted !== expected) {
            console.log(`${module} ${name}: ${pages} pages (${counted} counted), expected ${expected}`);
            failed++;
        } else {
            passed++;
        }
    }
}
console.log(`damaged files through the WebAssembly builds: ${passed} passed, ${failed} failed`);
// An empty folder would pass everything: the renderer's tests wrote none.
process.exit(modules.length === 2 && names.length > 0 && failed === 0 ? 0 : 1);
