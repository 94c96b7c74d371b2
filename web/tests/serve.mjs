// A static file server for a folder on 127.0.0.1 at a free port, as any
// static server would serve the page.
import { readFile } from "node:fs/promises";
import { createServer } from "node:http";
import { extname, join, normalize } from "node:path";

const types = { ".html": "text/html", ".js": "text/javascript", ".css": "text/css", ".wasm": "application/wasm",
    ".png": "image/png", ".webmanifest": "application/manifest+json" };

export function serveFolder(folder) {
    const server = createServer(async (request, response) => {
        const path = normalize(decodeURIComponent(new URL(request.url, "http://x").pathname));
        try {
            const body = await readFile(join(folder, path === "/" ? "index.html" : path));
            response.writeHead(200, { "Content-Type": types[extname(path) || ".html"] || "application/octet-stream" });
            response.end(body);
        } catch {
            response.writeHead(404);
            response.end();
        }
    });
    return new Promise((resolve) => server.listen(0, "127.0.0.1", () => {
        resolve({
            url: `http://127.0.0.1:${server.address().port}/`,
            // Open connections too: the browser keeps them alive.
            close: () => {
                server.close();
                server.closeAllConnections();
            },
        });
    }));
}
