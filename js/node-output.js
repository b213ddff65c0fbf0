// The output file in Node, written as the native library writes it (docs/api.md, "A success puts
// the whole file in place"): the library hands over the whole encoded file, and this puts it in
// place with Node's fs, or changes nothing.
//
// The target's folder is opened once and reached as /proc/self/fd/N (Linux), so that every call
// after that happens in that folder however its path changes meanwhile. An existing file is
// opened for writing first, without truncation, so that the kernel refuses what a write may not
// do. A regular file with one link is replaced: a new file made exclusively beside it (never
// through a link) with mode 0600, written, given the old file's owner, group and mode, then
// renamed over it. Other outputs (devices, FIFOs, /dev/stdout, files with several links) are
// written in place, and links are followed only as the kernel follows them for this caller.
//
// Node has no flock: a temporary file is claimed through a marker, a symbolic link under one of a
// few fixed names (.kelvane-js-00.lock to -15.lock) whose target is the temporary file's name,
// which holds its writer's boot, process namespace, process id and start time. The next writer in
// the folder reads the markers and removes the files of writers that no longer run.
import fs from "node:fs";
import { randomBytes } from "node:crypto";

const { O_WRONLY, O_CREAT, O_EXCL, O_NOFOLLOW, O_DIRECTORY, O_RDONLY } = fs.constants;
// O_PATH opens a folder to search it without the right to read it; Node does not name it.
const O_PATH = process.platform === "linux" && ["x64", "arm64", "ia32", "arm"].includes(process.arch)
  ? 0o10000000 : 0;
const PROC_SUPER_MAGIC = 0x9fa0;
const SLOTS = 16;
const MAX_LINKS = 40; // the kernel gives up after as many

const viaProc = process.platform === "linux" && fs.existsSync("/proc/self/fd");
const slash = 0x2f;

function text(path) {
  return Buffer.isBuffer(path) ? path : Buffer.from(path);
}

function readText(path) {
  try {
    return fs.readFileSync(path, "latin1").trim();
  } catch {
    return null;
  }
}

// ---- who writes -----------------------------------------------------------------------------

// A process's start, in clock ticks since boot (the 22nd field of /proc/PID/stat); null when it
// does not run.
function startOf(pid) {
  const stat = readText(`/proc/${pid}/stat`);
  if (stat === null) return null;
  return stat.slice(stat.lastIndexOf(")") + 2).split(" ")[19] ?? null;
}

function pidNamespace() {
  try {
    return fs.readlinkSync("/proc/self/ns/pid").replace(/\D/g, "") || "0";
  } catch {
    return "0";
  }
}

const self = viaProc
  ? {
      boot: (readText("/proc/sys/kernel/random/boot_id") ?? "0").replace(/-/g, "").slice(0, 8) || "0",
      namespace: pidNamespace(),
      pid: String(process.pid),
      start: startOf(process.pid) ?? "0",
    }
  : { boot: "0", namespace: "0", pid: String(process.pid), start: "0" };

const NAME = /^\.kelvane-js-([0-9a-f]+)-(\d+)-(\d+)-(\d+)-[0-9a-f]{16}\.tmp$/;

function temporaryName() {
  const { boot, namespace, pid, start } = self;
  return `.kelvane-js-${boot}-${namespace}-${pid}-${start}-${randomBytes(8).toString("hex")}.tmp`;
}

// Whether the writer of the temporary file `name` may still run: always, where this process
// cannot tell (another process namespace, no /proc).
function writerRuns(name) {
  const found = NAME.exec(name);
  if (!found) return true;
  const [, boot, namespace, pid, start] = found;
  if (!viaProc) {
    try {
      process.kill(Number(pid), 0);
      return true;
    } catch (error) {
      return error.code !== "ESRCH";
    }
  }
  if (boot !== self.boot) return false; // every writer of an earlier boot is gone
  if (namespace !== self.namespace) return true;
  return startOf(pid) === start;
}

// ---- the folder -----------------------------------------------------------------------------

// A folder opened once; its entries are reached through its descriptor where the system allows.
class Folder {
  constructor(fd, path) {
    this.fd = fd;
    this.prefix = fd >= 0 && viaProc ? Buffer.from(`/proc/self/fd/${fd}/`) : Buffer.concat([path, Buffer.from("/")]);
  }

  // `path` (bytes) opened as a folder, from `base` where it is relative; null with the error.
  static open(path, base) {
    const full = base && path[0] !== slash ? base.entry(path) : path;
    for (const flags of O_PATH ? [O_PATH | O_DIRECTORY] : [O_RDONLY | O_DIRECTORY]) {
      try {
        return new Folder(fs.openSync(full, flags), full);
      } catch (error) {
        if (O_PATH || error.code !== "EACCES") throw error;
      }
    }
    fs.statSync(full); // a folder this user may search but not read: reached by its path
    return new Folder(-1, full);
  }

  entry(name) {
    return Buffer.concat([this.prefix, text(name)]);
  }

  stat() {
    return this.fd >= 0 ? fs.fstatSync(this.fd) : fs.statSync(this.prefix);
  }

  onProc() {
    try {
      return fs.statfsSync(this.prefix).type === PROC_SUPER_MAGIC;
    } catch {
      return false;
    }
  }

  close() {
    if (this.fd >= 0) fs.closeSync(this.fd);
    this.fd = -1;
  }
}

// ---- where the write lands ------------------------------------------------------------------

function symlinksProtected() {
  return readText("/proc/sys/fs/protected_symlinks") !== "0";
}

// Whether the kernel follows `link` in `folder` for this caller: not a link in a sticky,
// world-writable folder that belongs neither to the caller nor to the folder's owner.
function kernelFollows(folder, link) {
  const euid = process.geteuid?.() ?? -1;
  if (link.uid === euid) return true;
  const st = folder.stat();
  if (link.uid === st.uid) return true;
  if (!(st.mode & 0o1000) || !(st.mode & 0o002)) return true;
  return !symlinksProtected();
}

// The folder, the name in it and what the name holds, following links in the last component as
// the kernel would; throws where the write cannot land.
function locate(path) {
  let current = text(path);
  let base = null; // where a relative link's target starts
  for (let hops = 0; hops <= MAX_LINKS; ++hops) {
    const at = current.lastIndexOf(slash);
    const name = current.subarray(at + 1);
    if (name.length === 0) throw Object.assign(new Error("a folder's name"), { code: "EISDIR" });
    const folderPath = at < 0 ? Buffer.from(".") : at === 0 ? Buffer.from("/") : current.subarray(0, at);
    let folder;
    try {
      folder = Folder.open(folderPath, base);
    } finally {
      base?.close();
      base = null;
    }
    try {
      const place = lookAt(folder, name);
      if (place) return place;
      const target = fs.readlinkSync(folder.entry(name), { encoding: "buffer" });
      // A descriptor's link to a pipe reads "pipe:[N]", yet the kernel follows it to the pipe.
      if (target[0] !== slash && folder.onProc()) return { folder, name, exists: true, withoutPath: true };
      if (target[0] !== slash) base = folder;
      else folder.close();
      current = target;
    } catch (error) {
      folder.close();
      throw error;
    }
  }
  throw Object.assign(new Error("too many links"), { code: "ELOOP" });
}

// The place `name` in `folder` is, or null for a link to follow.
function lookAt(folder, name) {
  let st;
  try {
    st = fs.lstatSync(folder.entry(name));
  } catch (error) {
    if (error.code !== "ENOENT") throw error;
    return { folder, name, exists: false };
  }
  if (!st.isSymbolicLink()) return { folder, name, exists: true, st };
  if (!kernelFollows(folder, st)) throw Object.assign(new Error("a protected link"), { code: "EACCES" });
  return null;
}

// ---- temporary files ------------------------------------------------------------------------

function slotName(slot) {
  return `.kelvane-js-${String(slot).padStart(2, "0")}.lock`;
}

function markerOf(folder, slot) {
  try {
    return fs.readlinkSync(folder.entry(slotName(slot)), "latin1");
  } catch {
    return null;
  }
}

// Removes the marker in `slot` if it still names `name`. No one else removes a live writer's
// marker, so this cannot take another's (but where two writers clean up the same dead writer's
// marker while a third claims that slot, in the same microseconds).
function removeMarker(folder, slot, name) {
  if (markerOf(folder, slot) !== name) return;
  try {
    fs.unlinkSync(folder.entry(slotName(slot)));
  } catch {}
}

// Removes what writers that no longer run left in the folder: their temporary files and markers.
function removeLeftOvers(folder) {
  for (let slot = 0; slot < SLOTS; ++slot) {
    const name = markerOf(folder, slot);
    if (name === null || !NAME.test(name) || writerRuns(name)) continue;
    try {
      fs.unlinkSync(folder.entry(name));
    } catch {}
    removeMarker(folder, slot, name);
  }
}

// A new file in the folder that no one else can open, under a name no one else uses, claimed
// through the first free marker (none beyond 16 writers at once in one folder: a kill then leaves
// the file).
class Temporary {
  constructor(folder, mode) {
    removeLeftOvers(folder);
    this.folder = folder;
    this.name = temporaryName();
    this.slot = -1;
    for (let slot = 0; slot < SLOTS && this.slot < 0; ++slot) {
      try {
        fs.symlinkSync(this.name, folder.entry(slotName(slot)));
        this.slot = slot;
      } catch (error) {
        if (error.code !== "EEXIST") break; // no markers where no link can be made
      }
    }
    try {
      this.fd = fs.openSync(folder.entry(this.name), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    } catch (error) {
      this.release();
      throw error;
    }
  }

  // Puts the file in the place of `name`, which must be missing or a regular file.
  commit(name) {
    fs.closeSync(this.fd);
    this.fd = -1;
    let st = null;
    try {
      st = fs.lstatSync(this.folder.entry(name));
    } catch {}
    if (st && !st.isFile()) throw Object.assign(new Error("not a regular file"), { code: "EEXIST" });
    fs.renameSync(this.folder.entry(this.name), this.folder.entry(name));
    this.release();
  }

  // Removes the file and its marker (after a failure).
  discard() {
    if (this.fd >= 0) fs.closeSync(this.fd);
    this.fd = -1;
    try {
      fs.unlinkSync(this.folder.entry(this.name));
    } catch {}
    this.release();
  }

  release() {
    if (this.slot >= 0) removeMarker(this.folder, this.slot, this.name);
    this.slot = -1;
  }
}

// ---- writing --------------------------------------------------------------------------------

function writeAll(fd, data) {
  for (let at = 0; at < data.length;) at += fs.writeSync(fd, data, at, Math.min(data.length - at, 1 << 30));
}

// The process's file-creation mask, read without changing it where the system tells it.
function creationMask() {
  const status = readText("/proc/self/status");
  const found = status && /\nUmask:\s*([0-7]+)/.exec(status);
  return found ? parseInt(found[1], 8) : process.umask();
}

// Writes over the existing file as a write would. Node has no lock to take and no room to
// reserve: two such writers can mix, and a full disk can cut the file short.
function writeInPlace(fd, regular, data) {
  try {
    writeAll(fd, data);
    if (regular) fs.ftruncateSync(fd, data.length);
  } finally {
    fs.closeSync(fd);
  }
}

function refusedByRights(error) {
  return ["EACCES", "EPERM", "EROFS"].includes(error.code);
}

function createFile(place, data) {
  const temporary = new Temporary(place.folder, 0o600);
  try {
    writeAll(temporary.fd, data);
    fs.fchmodSync(temporary.fd, 0o666 & ~creationMask());
    temporary.commit(place.name);
  } catch (error) {
    temporary.discard();
    throw error;
  }
}

function replaceFile(place, existing, st, data) {
  const mode = st.mode & 0o7777;
  let temporary;
  try {
    temporary = new Temporary(place.folder, mode & 0o600);
  } catch (error) {
    if (refusedByRights(error)) return writeInPlace(existing, true, data);
    fs.closeSync(existing);
    throw error;
  }
  try {
    writeAll(temporary.fd, data); // the old file stays whole when this fails
    const made = fs.fstatSync(temporary.fd);
    if (made.uid !== st.uid || made.gid !== st.gid) {
      try {
        fs.fchownSync(temporary.fd, st.uid, st.gid);
      } catch {
        temporary.discard(); // an owner this user may not give: as a write, in place
        return writeInPlace(existing, true, data);
      }
    }
    fs.fchmodSync(temporary.fd, mode);
    try {
      temporary.commit(place.name);
    } catch (error) {
      if (error.code !== "EBUSY") throw error;
      temporary.discard(); // a mount point
      return writeInPlace(existing, true, data);
    }
    fs.closeSync(existing);
  } catch (error) {
    temporary.discard();
    try {
      fs.closeSync(existing);
    } catch {}
    throw error;
  }
}

// Whether the kernel refuses to follow the link `st` at `path` for this caller.
export function unfollowed(path, st) {
  const name = text(path);
  const at = name.lastIndexOf(slash);
  const folder = at < 0 ? Buffer.from(".") : at === 0 ? Buffer.from("/") : name.subarray(0, at);
  try {
    return !kernelFollows({ stat: () => fs.statSync(folder) }, st);
  } catch {
    return false;
  }
}

// Puts `data` (the whole file) at `path` (bytes) as the native library would: true when the file
// is in place, false when nothing was changed (or, written in place, when the write failed).
export function writeOutput(path, data) {
  let place = null;
  try {
    place = locate(path);
    const entry = place.folder.entry(place.name);
    if (place.withoutPath) {
      const fd = fs.openSync(entry, O_WRONLY);
      writeInPlace(fd, fs.fstatSync(fd).isFile(), data);
    } else if (!place.exists) {
      createFile(place, data);
    } else {
      // Opened as a write opens it, without truncating: the kernel refuses what a write may not.
      const existing = fs.openSync(entry, O_WRONLY | O_CREAT | O_NOFOLLOW, 0o666);
      const st = fs.fstatSync(existing);
      if (!st.isFile() || st.nlink > 1) writeInPlace(existing, st.isFile(), data);
      else replaceFile(place, existing, st, data);
    }
    return true;
  } catch {
    return false;
  } finally {
    place?.folder.close();
  }
}
