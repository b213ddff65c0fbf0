// tarnwick-kelvane for JavaScript: the library compiled to WebAssembly (kelvane.mjs), for Node and
// browsers. Two ways to call each operation:
//   await solid("in.jpg", "out.png", { border: 10, color: [255, 255, 255] })   // Node: files
//   const png = await solid(bytes, { format: "png", border: 10 })              // anywhere: bytes
// The library runs on its own in-memory file system. Files in Node are copied in and out of it
// at the very paths given (relative ones from the working folder), so that the library's
// messages name them as the native library's do; the output replaces the file in one rename.
import createKelvane from "./kelvane.mjs";

/** The library refused a job; `message` is its own one-line text. */
export class KelvaneError extends Error {
  constructor(message) {
    super(message);
    this.name = "KelvaneError";
  }
}

// Each operation's numbers, in the library's order, with the option that gives each and its
// default (undefined: required).
const OPERATIONS = {
  solid: [["border"], ...colour(255)],
  padding: [["padding"], ...colour(255)],
  sides: [["top", 0], ["right", 0], ["bottom", 0], ["left", 0], ...colour(255)],
  rounded: [["radius"]],
  shadow: [["dx", 0], ["dy", 0], ["blur", 0], ...colour(0)],
};
const FORMATS = ["png", "jpg", "jpeg", "bmp"];
const INT_MIN = -(2 ** 31), INT_MAX = 2 ** 31 - 1;

function colour(value) {
  return [["color", [value, value, value]]];
}

let instance = null;
// One module for the process (or the page, or the worker); calls run one at a time, as the
// library keeps one message text.
function library() {
  instance ??= createKelvane().then((module) => {
    // Rights mean nothing in the module's own file system (the real files' are the system's):
    // the library's files there would otherwise take modes from an umask it does not have.
    module.FS.ignorePermissions = true;
    return module;
  });
  return instance;
}
let queue = Promise.resolve();
function serialised(task) {
  const done = queue.then(task, task);
  queue = done.catch(() => {});
  return done;
}

function checkedInt(name, value) {
  if (typeof value !== "number" || !Number.isInteger(value)) {
    throw new TypeError(`${name} must be an integer, not ${typeof value === "number" ? value : typeof value}`);
  }
  if (value < INT_MIN || value > INT_MAX) {
    throw new RangeError(`${name}=${value} is outside the C int range ${INT_MIN}..${INT_MAX}`);
  }
  return value;
}

// The operation's numbers from the options, checked as the Python binding checks them.
function numbersOf(name, options) {
  if (options === null || typeof options !== "object") throw new TypeError("the options must be an object");
  const numbers = [];
  for (const [key, fallback] of OPERATIONS[name]) {
    const value = options[key] ?? fallback;
    if (value === undefined) throw new TypeError(`${name} needs the option ${key}`);
    if (key === "color") {
      if (!Array.isArray(value) || value.length !== 3) {
        throw new TypeError(`color must be three integers [r, g, b], not ${JSON.stringify(value)}`);
      }
      value.forEach((v, i) => numbers.push(checkedInt(["red", "green", "blue"][i], v)));
    } else {
      numbers.push(checkedInt(key, value));
    }
  }
  return numbers;
}

async function bytesOf(input) {
  if (input instanceof Uint8Array) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  if (typeof Blob !== "undefined" && input instanceof Blob) return new Uint8Array(await input.arrayBuffer());
  throw new TypeError("the picture must be a path (Node), a Uint8Array, an ArrayBuffer or a Blob");
}

function call(module, name, inPath, outPath, numbers) {
  const types = ["string", "string", ...numbers.map(() => "number")];
  const ok = module.ccall(`kelvane_${name}`, "number", types, [inPath, outPath, ...numbers]);
  if (ok !== 1) throw new KelvaneError(module.UTF8ToString(module._kelvane_last_error()));
}

function removeTree(FS, path) {
  for (const entry of FS.readdir(path)) {
    if (entry === "." || entry === "..") continue;
    const child = `${path}/${entry}`;
    if (FS.isDir(FS.lstat(child).mode)) removeTree(FS, child);
    else FS.unlink(child);
  }
  FS.rmdir(path);
}

// Bytes in, bytes out: the picture and the result as files in a scratch folder of the module's.
async function inMemory(name, input, options) {
  const format = String(options.format ?? "png").toLowerCase();
  if (!FORMATS.includes(format)) throw new TypeError(`format must be one of ${FORMATS.join(", ")}, not ${options.format}`);
  const numbers = numbersOf(name, options);
  const bytes = await bytesOf(input);
  const module = await library();
  return serialised(() => {
    const { FS } = module;
    const folder = "/tmp/kelvane-scratch";
    FS.mkdir(folder);
    try {
      FS.writeFile(`${folder}/input`, bytes);
      call(module, name, `${folder}/input`, `${folder}/output.${format}`, numbers);
      return FS.readFile(`${folder}/output.${format}`);
    } finally {
      removeTree(FS, folder);
    }
  });
}

// Files in Node: the input copied into the module's file system at its own path, the output
// taken out of it and renamed over the target.
async function onFiles(name, inPath, outPath, options) {
  if (typeof inPath !== "string" || typeof outPath !== "string") throw new TypeError("the paths must be strings");
  if (options.format !== undefined) throw new TypeError("format is for bytes: a file's format follows its name");
  const numbers = numbersOf(name, options);
  const fs = await import("node:fs/promises");
  const path = await import("node:path");
  const module = await library();
  const inAbsolute = path.resolve(inPath), outAbsolute = path.resolve(outPath);
  const inKind = await fs.stat(inAbsolute).catch(() => null);
  const input = inKind?.isFile() ? await fs.readFile(inAbsolute).catch(() => null) : null;
  const outFolder = await fs.stat(path.dirname(outAbsolute)).catch(() => null);
  const outKind = await fs.lstat(outAbsolute).catch(() => null);
  const result = await serialised(() => {
    const { FS } = module;
    const made = [];
    const mkdirs = (folder) => {
      const parts = folder.split("/").filter(Boolean);
      let at = "";
      for (const part of parts) {
        at += `/${part}`;
        if (!FS.analyzePath(at).exists) {
          FS.mkdir(at);
          made.push(at);
        }
      }
    };
    try {
      mkdirs(process.cwd());
      FS.chdir(process.cwd());
      if (inKind?.isDirectory()) mkdirs(inAbsolute);
      else if (input) {
        mkdirs(path.dirname(inAbsolute));
        FS.writeFile(inAbsolute, input);
      }
      if (outFolder?.isDirectory()) mkdirs(path.dirname(outAbsolute));
      if (outKind?.isDirectory()) mkdirs(outAbsolute);
      call(module, name, inPath, outPath, numbers);
      return FS.readFile(outAbsolute);
    } finally {
      FS.chdir("/");
      for (const folder of made.reverse()) {
        if (FS.analyzePath(folder).exists) removeTree(FS, folder);
      }
    }
  });
  const scratch = path.join(path.dirname(outAbsolute), `.kelvane-${process.pid}-${Date.now()}.tmp`);
  try {
    await fs.writeFile(scratch, result, { mode: 0o666 });
    await fs.rename(scratch, outAbsolute);
  } catch (error) {
    await fs.rm(scratch, { force: true });
    throw new KelvaneError(`failed to write '${outPath}': ${error.message}`);
  }
}

function operation(name) {
  return (input, outOrOptions, maybeOptions) =>
    typeof outOrOptions === "string"
      ? onFiles(name, input, outOrOptions, maybeOptions ?? {})
      : inMemory(name, input, outOrOptions ?? {});
}

/** A band `border` pixels wide on every side, in the opaque colour `color`. */
export const solid = operation("solid");
/** The same picture as solid(); a negative width is reported as padding. */
export const padding = operation("padding");
/** A band with its own width on each side (top, right, bottom, left). */
export const sides = operation("sides");
/** The corners cut along anti-aliased quarter circles of `radius` pixels. */
export const rounded = operation("rounded");
/** The picture over its silhouette in `color`, shifted by (dx, dy) and blurred by `blur`. */
export const shadow = operation("shadow");
