// Save PDF's worker: makes the PDF of the pages on screen (pdf.js), off the
// page's thread, saying how far it got. It and its PDF library are loaded
// only when a PDF is first asked for, so they are no part of the page's
// first load.
//
// Message in: {pages, sheet, title}, as pagesAsPdf takes them.
// Messages out: {kind: "progress", done, total} after each page, then
// {kind: "pdf", bytes} or {kind: "failed", message}.
import { pagesAsPdf } from "./pdf.js";

onmessage = async (event) => {
    const { pages, sheet, title } = event.data;
    try {
        const bytes = await pagesAsPdf(pages, sheet, title,
            (done) => postMessage({ kind: "progress", done, total: pages.length }));
        postMessage({ kind: "pdf", bytes }, [bytes.buffer]);
    } catch (error) {
        postMessage({ kind: "failed", message: String(error && error.message || error).slice(0, 200) });
    }
};
