// Spool files and archives for the page's tests, made here: a Palm database
// named as the spool database, holding text records, and zip archives
// with what a hostile or damaged one holds.
import { deflateSync } from "fflate";

// A spool database of the given records (each a Uint8Array).
export function spoolDatabase(records) {
    const listEnd = 78 + 8 * records.length + 2;
    const size = records.reduce((sum, record) => sum + record.length, listEnd);
    const bytes = new Uint8Array(size);
    const view = new DataView(bytes.buffer);
    bytes.set(new TextEncoder().encode("Fernquill Spool File"));
    view.setUint16(76, records.length);
    let at = listEnd;
    records.forEach((record, i) => {
        view.setUint32(78 + 8 * i, at);
        bytes.set(record, at);
        at += record.length;
    });
    return bytes;
}

// A page of one text record.
export function textPage(text) {
    return new Uint8Array([1, 0, ...new TextEncoder().encode(text)]);
}

// A zip of the named members, each {bytes} or {zeros: N} (N zero bytes,
// deflated), with a member's method or stated size overwritten when asked:
// {method: 9} stands for Deflate64, {claims: N} for a stated size the data
// doesn't have. The CRCs are left 0: the page doesn't check them.
export function zipArchive(members) {
    return handMadeZip(Object.entries(members));
}

function handMadeZip(entries) {
    const locals = [];
    const centrals = [];
    let offset = 0;
    for (const [name, member] of entries) {
        const nameBytes = new TextEncoder().encode(name);
        const data = member.zeros ? deflateSync(new Uint8Array(member.zeros), { level: 9 })
            : member.method === 9 ? member.bytes : deflateSync(member.bytes);
        const size = member.claims || member.zeros || member.bytes.length;
        const method = member.method || 8;
        const local = new Uint8Array(30 + nameBytes.length + data.length);
        const lv = new DataView(local.buffer);
        lv.setUint32(0, 0x04034b50, true);
        lv.setUint16(4, 20, true);
        lv.setUint16(8, method, true);
        lv.setUint32(18, data.length, true);
        lv.setUint32(22, size, true);
        lv.setUint16(26, nameBytes.length, true);
        local.set(nameBytes, 30);
        local.set(data, 30 + nameBytes.length);
        const central = new Uint8Array(46 + nameBytes.length);
        const cv = new DataView(central.buffer);
        cv.setUint32(0, 0x02014b50, true);
        cv.setUint16(4, 20, true);
        cv.setUint16(6, 20, true);
        cv.setUint16(10, method, true);
        cv.setUint32(20, data.length, true);
        cv.setUint32(24, size, true);
        cv.setUint16(28, nameBytes.length, true);
        cv.setUint32(42, offset, true);
        central.set(nameBytes, 46);
        locals.push(local);
        centrals.push(central);
        offset += local.length;
    }
    const directorySize = centrals.reduce((sum, part) => sum + part.length, 0);
    const end = new Uint8Array(22);
    const ev = new DataView(end.buffer);
    ev.setUint32(0, 0x06054b50, true);
    ev.setUint16(8, entries.length, true);
    ev.setUint16(10, entries.length, true);
    ev.setUint32(12, directorySize, true);
    ev.setUint32(16, offset, true);
    const parts = [...locals, ...centrals, end];
    const zip = new Uint8Array(offset + directorySize + 22);
    parts.reduce((at, part) => (zip.set(part, at), at + part.length), 0);
    return zip;
}
