// Reading a backup archive that came from anywhere, with bounded work.
//
// An archive is untrusted: its directory can list any number of members,
// each claiming any size, and a member's data can inflate a thousandfold.
// So nothing is inflated on the directory's word alone. The members are
// read from the central directory first, and only those that can be a spool
// file by name and size are candidates: a Palm database (".pdb" or no
// extension) no larger than a spool file can be. Of each candidate only the
// first bytes are inflated, enough for its database header and record list;
// the one taken is then inflated whole, as a stream that stops at its stated
// size. Members stored in a way the page can't inflate (Deflate64,
// encrypted) are passed over and counted, as are members that are not Palm
// databases.
import { Inflate } from "fflate";

// More members than any device's backup holds (a Palm keeps a few hundred
// databases); the directory alone of more is not worth reading.
export const maxMembers = 10000;
// The most inflated bytes one archive may cost, candidates' headers and the
// spool file together.
export const maxInflatedBytes = 512 * 1024 * 1024;
// Deflate inflates at most about 1032:1, so each chunk of input gives at
// most about a megabyte of output to copy and let go.
const inputChunkBytes = 1024;

const stored = 0;
const deflated = 8;

export class ArchiveError extends Error {
    constructor(reason) {
        super(reason);
        this.reason = reason;
    }
}

function findDirectoryEnd(view) {
    const last = view.byteLength - 22;
    for (let at = last; at >= Math.max(0, last - 65535); at--) {
        if (view.getUint32(at, true) === 0x06054b50) {
            return at;
        }
    }
    throw new ArchiveError("unreadable-archive");
}

// The central directory's entries: {name, method, encrypted, compressedSize,
// size, localOffset}. Sizes of 0xffffffff are ZIP64's, which no backup
// needs; such a member is taken for one the page can't read.
export function listMembers(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const end = findDirectoryEnd(view);
    const count = view.getUint16(end + 10, true);
    if (count > maxMembers) {
        throw new ArchiveError("too-many-members");
    }
    let at = view.getUint32(end + 16, true);
    const members = [];
    const names = new TextDecoder();
    for (let i = 0; i < count; i++) {
        if (at + 46 > bytes.length || view.getUint32(at, true) !== 0x02014b50) {
            throw new ArchiveError("unreadable-archive");
        }
        const nameLength = view.getUint16(at + 28, true);
        const extraLength = view.getUint16(at + 30, true);
        const commentLength = view.getUint16(at + 32, true);
        if (at + 46 + nameLength > bytes.length) {
            throw new ArchiveError("unreadable-archive");
        }
        const compressedSize = view.getUint32(at + 20, true);
        const size = view.getUint32(at + 24, true);
        members.push({
            name: names.decode(bytes.subarray(at + 46, at + 46 + nameLength)),
            method: view.getUint16(at + 10, true),
            encrypted: (view.getUint16(at + 8, true) & 1) !== 0,
            zip64: compressedSize === 0xffffffff || size === 0xffffffff,
            compressedSize,
            size,
            localOffset: view.getUint32(at + 42, true),
        });
        at += 46 + nameLength + extraLength + commentLength;
    }
    return members;
}

// Whether the page can inflate the member at all.
export function canInflate(member) {
    return !member.encrypted && !member.zip64 && (member.method === stored || member.method === deflated);
}

// Whether the member can be a spool file by its name and stated size.
export function isCandidate(member, maxBytes) {
    const base = member.name.split(/[/\\]/).pop();
    return base !== "" && member.size <= maxBytes && (/\.pdb$/i.test(base) || !base.includes("."));
}

function memberData(bytes, member) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const at = member.localOffset;
    if (at + 30 > bytes.length || view.getUint32(at, true) !== 0x04034b50) {
        throw new ArchiveError("unreadable-archive");
    }
    const start = at + 30 + view.getUint16(at + 26, true) + view.getUint16(at + 28, true);
    if (start + member.compressedSize > bytes.length) {
        throw new ArchiveError("unreadable-archive");
    }
    return bytes.subarray(start, start + member.compressedSize);
}

// Inflates the member's first `wanted` bytes (at most its stated size):
// the input goes in by small chunks, and the inflating stops once enough
// came out, so a member that inflates a thousandfold costs no more than
// what is asked of it. budget.left counts down the archive's total.
export function inflateMember(bytes, member, wanted, budget) {
    const data = memberData(bytes, member);
    const limit = Math.min(wanted, member.size);
    if (budget.left < limit) {
        throw new ArchiveError("archive-too-large");
    }
    budget.left -= limit;
    if (member.method === stored) {
        return data.slice(0, limit);
    }
    const out = new Uint8Array(limit);
    let filled = 0;
    let finished = false;
    const inflater = new Inflate((chunk, final) => {
        const taken = Math.min(chunk.length, limit - filled);
        out.set(chunk.subarray(0, taken), filled);
        filled += taken;
        finished = final || filled >= limit;
    });
    try {
        for (let at = 0; at < data.length && !finished; at += inputChunkBytes) {
            inflater.push(data.subarray(at, at + inputChunkBytes), at + inputChunkBytes >= data.length);
        }
    } catch {
        throw new ArchiveError("unreadable-archive");
    }
    // A member that inflates to less than it claims is cut short.
    if (filled < limit) {
        throw new ArchiveError("unreadable-archive");
    }
    return out;
}
