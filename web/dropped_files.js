// What was dropped on the page: a file, or a folder (a HotSync backup
// folder, or a user's folder above it) in which the spool file is found by
// its name, as HotSync and the emulators write it (the same loose reading
// as the module's: case ignored, spaces and underscores alike, =XX escapes
// decoded).

// Folders are walked this deep at most, and this many entries read, so a
// whole disk dropped by mistake ends soon.
const maxDepth = 4;
const maxEntries = 5000;

export function namesSpoolFile(name) {
    const bare = name.replace(/\.pdb$/i, "").replace(/=([0-9a-f]{2})/gi, (_, hex) => String.fromCharCode(parseInt(hex, 16)));
    return bare.replace(/_/g, " ").toLowerCase() === "fernquill spool file";
}

function entriesOf(folder) {
    const reader = folder.createReader();
    const all = [];
    return new Promise((resolve, reject) => {
        // readEntries gives a folder's entries a batch at a time, until an empty one.
        const next = () => reader.readEntries((batch) => {
            all.push(...batch);
            if (batch.length === 0 || all.length >= maxEntries) {
                resolve(all);
            } else {
                next();
            }
        }, reject);
        next();
    });
}

// The spool files' entries under folder, breadth first, so a backup
// folder's own spool file comes before older copies deeper down.
async function findSpoolEntries(folder) {
    const found = [];
    let level = [folder];
    let seen = 0;
    for (let depth = 0; depth <= maxDepth && level.length > 0 && found.length === 0 && seen < maxEntries; depth++) {
        const below = [];
        for (const dir of level) {
            const entries = await entriesOf(dir).catch(() => []);
            seen += entries.length;
            found.push(...entries.filter((entry) => entry.isFile && namesSpoolFile(entry.name)));
            below.push(...entries.filter((entry) => entry.isDirectory));
        }
        level = below;
    }
    return found;
}

function fileOf(entry) {
    return new Promise((resolve, reject) => entry.file(resolve, reject));
}

// The dropped file, or the newest spool file in a dropped folder; null for
// a folder without one, undefined when no file was dropped.
export async function filesInDrop(dataTransfer) {
    const item = [...dataTransfer.items].find((candidate) => candidate.kind === "file");
    const entry = item && item.webkitGetAsEntry ? item.webkitGetAsEntry() : null;
    if (entry === null || !entry.isDirectory) {
        return dataTransfer.files[0];
    }
    const spoolFiles = await Promise.all((await findSpoolEntries(entry)).map(fileOf));
    return spoolFiles.sort((a, b) => b.lastModified - a.lastModified)[0] || null;
}
