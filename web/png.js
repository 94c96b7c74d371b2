// A 1-bit grey PNG of a sheet, from its scanlines as the module hands them
// over (a 0 filter byte before each row, 0 black), with the sheet's
// resolution in pHYs as spool_to_png writes it. The fastest compression:
// the PNG never leaves the page, and the pages' 1-bit rows compress well
// at any level.
import { zlibSync } from "fflate";

const crcTable = new Uint32Array(256).map((_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) {
        c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    }
    return c;
});

function crc32(bytes) {
    let crc = 0xffffffff;
    for (let i = 0; i < bytes.length; i++) {
        crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
    }
    return (crc ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
    const bytes = new Uint8Array(12 + data.length);
    const view = new DataView(bytes.buffer);
    view.setUint32(0, data.length);
    bytes.set(new TextEncoder().encode(type), 4);
    bytes.set(data, 8);
    view.setUint32(8 + data.length, crc32(bytes.subarray(4, 8 + data.length)));
    return bytes;
}

function fields(...words) {
    const bytes = new Uint8Array(words.length * 4);
    words.forEach((word, i) => new DataView(bytes.buffer).setUint32(4 * i, word));
    return bytes;
}

export function monochromePng(scanlines, width, height, dpi) {
    const header = new Uint8Array(13);
    header.set(fields(width, height));
    header.set([1, 0, 0, 0, 0], 8);  // 1 bit, grey, deflate, no filtering beyond row filters, not interlaced
    const perMetre = Math.round(dpi / 0.0254);
    const resolution = new Uint8Array(9);
    resolution.set(fields(perMetre, perMetre));
    resolution[8] = 1;  // the unit is the metre
    const parts = [
        new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
        chunk("IHDR", header),
        chunk("pHYs", resolution),
        chunk("IDAT", zlibSync(scanlines, { level: 1 })),
        chunk("IEND", new Uint8Array(0)),
    ];
    const png = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
    parts.reduce((at, part) => (png.set(part, at), at + part.length), 0);
    return png;
}
