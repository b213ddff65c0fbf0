// The files of one module instance, as the library's WebAssembly build reaches them
// (js/module/imports.js): a job's input and output are the caller's bytes, or in Node real files.
// Nothing of either is kept after the job.

// The kinds of the host layer's facts (host/host.h).
const [UNKNOWN, MISSING, FILE, FOLDER, LINK, FIFO, DEVICE, OTHER] = [0, 1, 2, 3, 4, 5, 6, 7];

// What a job reads and writes: `input` the picture's bytes (or null: the input path is a file),
// `output` true when the result comes back as bytes (else the output path is a file).
export class Files {
  constructor(node) {
    this.node = node; // { fs, writeOutput } in Node, else null
    this.job = null;
    this.handles = new Map();
    this.next = 1;
  }

  // Runs `call` as a job with these sources; the result's bytes in `this.result` when asked.
  run(job, call) {
    this.job = { ...job, result: null };
    try {
      return call();
    } finally {
      for (const handle of this.handles.keys()) this.closeInput(handle);
      this.job = null;
    }
  }

  openInput(path) {
    if (this.job?.input) return this.remember({ bytes: this.job.input, at: 0 });
    if (!this.node) return -1;
    const { fs } = this.node;
    let fd = -1;
    try {
      fd = retried(() => fs.openSync(Buffer.from(path), fs.constants.O_RDONLY));
      if (fs.fstatSync(fd).isDirectory()) throw new Error("a folder");
      return this.remember({ fd });
    } catch {
      if (fd >= 0) fs.closeSync(fd);
      return -1;
    }
  }

  inputSize(handle) {
    const input = this.handles.get(handle);
    if (!input) return -1;
    if (input.bytes) return input.bytes.length;
    try {
      const st = this.node.fs.fstatSync(input.fd);
      return st.isFile() ? st.size : -1;
    } catch {
      return -1;
    }
  }

  // Reads into `view` from where the last read ended (pipes and FIFOs included): the count, 0 at
  // the end, -1 on an error.
  readInput(handle, view) {
    const input = this.handles.get(handle);
    if (!input) return -1;
    if (input.bytes) {
      const part = input.bytes.subarray(input.at, input.at + view.length);
      view.set(part);
      input.at += part.length;
      return part.length;
    }
    try {
      return retried(() => this.node.fs.readSync(input.fd, view, 0, Math.min(view.length, 1 << 30), null));
    } catch {
      return -1;
    }
  }

  closeInput(handle) {
    const input = this.handles.get(handle);
    this.handles.delete(handle);
    if (input?.fd !== undefined) {
      try {
        this.node.fs.closeSync(input.fd);
      } catch {}
    }
  }

  // The whole encoded file: kept as the result's bytes, or written to the file at `path`.
  writeOutput(path, data) {
    if (this.job?.output) {
      this.job.result = data.slice();
      return 1;
    }
    return this.node?.writeOutput(path, data) ? 1 : 0;
  }

  // What the file system shows of `path`, into the eight ints of the host layer's facts: its kind
  // and its target's, read, write and search rights, a read-only or full file system, a link the
  // system does not follow for this user (host/host.h).
  look(path, facts) {
    if (!this.node) return;
    const { fs } = this.node;
    const name = Buffer.from(path);
    const kind = (st) => (st.isFile() ? FILE : st.isDirectory() ? FOLDER : st.isSymbolicLink() ? LINK : st.isFIFO() ? FIFO : st.isCharacterDevice() || st.isBlockDevice() ? DEVICE : OTHER);
    const missing = (error) => (["ENOENT", "ENOTDIR"].includes(error.code) ? MISSING : UNKNOWN);
    let link;
    try {
      link = fs.lstatSync(name);
      facts[0] = kind(link);
    } catch (error) {
      facts[0] = facts[1] = missing(error);
      return;
    }
    try {
      facts[1] = kind(fs.statSync(name));
    } catch (error) {
      facts[1] = missing(error);
    }
    const allowed = (mode) => {
      try {
        fs.accessSync(name, mode);
        return 1;
      } catch (error) {
        if (error.code === "EROFS") facts[5] = 1;
        return 0;
      }
    };
    facts[2] = allowed(fs.constants.R_OK);
    facts[3] = allowed(fs.constants.W_OK);
    facts[4] = allowed(fs.constants.X_OK);
    if (facts[1] !== MISSING) {
      try {
        const space = fs.statfsSync(name);
        facts[6] = space.bavail === 0 || (space.files > 0 && space.ffree === 0) ? 1 : 0;
      } catch {}
    }
    if (facts[0] === LINK) facts[7] = this.node.unfollowed(name, link) ? 1 : 0;
  }

  // The first bytes of the regular file at `path` into `view` (a FIFO is never opened): how many.
  readStart(path, view) {
    if (!this.node) return 0;
    const { fs } = this.node;
    const name = Buffer.from(path);
    if (!fs.statSync(name, { throwIfNoEntry: false })?.isFile()) return 0;
    const fd = fs.openSync(name, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK);
    try {
      if (!fs.fstatSync(fd).isFile()) return 0;
      let got = 0;
      for (let n; got < view.length && (n = fs.readSync(fd, view, got, view.length - got, null)) > 0;) got += n;
      return got;
    } finally {
      fs.closeSync(fd);
    }
  }

  remember(input) {
    const handle = this.next++;
    this.handles.set(handle, input);
    return handle;
  }
}

let pause = null; // for a wait of a few milliseconds (Node only)

// `call()`, made again while a signal interrupts it, or while a descriptor that does not block
// (standard input, say) has nothing yet.
function retried(call) {
  for (;;) {
    try {
      return call();
    } catch (error) {
      if (error.code === "EAGAIN") Atomics.wait((pause ??= new Int32Array(new SharedArrayBuffer(4))), 0, 0, 5);
      else if (error.code !== "EINTR") throw error;
    }
  }
}
