// tarnwick-kelvane for JavaScript: the library compiled to WebAssembly (kelvane.mjs), for Node and
// browsers. Two ways to call each operation:
//   await solid("in.jpg", "out.png", { border: 10, color: [255, 255, 255] })   // Node: files
//   const png = await solid(bytes, { format: "png", border: 10 })              // anywhere: bytes
// The library reads and writes through the package (files.js): the caller's bytes, or in Node the
// real files, the output put in place as the native library puts it (node-output.js).
import createKelvane from "./kelvane.mjs";
import { Files } from "./files.js";

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
const inNode = typeof process === "object" && typeof process.versions?.node === "string";

function colour(value) {
  return [["color", [value, value, value]]];
}

let instance = null;
// One module for the process (or the page, or the worker), with its files; calls run one at a
// time, as the library keeps one message text.
function library() {
  instance ??= (async () => {
    const node = inNode
      ? { fs: (await import("node:fs")).default, url: await import("node:url"), ...(await import("./node-output.js")) }
      : null;
    const files = new Files(node);
    const module = await createKelvane({ kelvaneFiles: files });
    return { module, files, node };
  })();
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

// A path as the bytes the library takes: a string (as UTF-8), a file: URL or a Buffer.
function pathBytes(what, value, node) {
  const path = value instanceof URL ? node.url.fileURLToPath(value) : value;
  let bytes;
  if (typeof path === "string") bytes = new TextEncoder().encode(path);
  else if (typeof Buffer === "function" && Buffer.isBuffer(path)) bytes = path;
  else throw new TypeError(`${what} must be a path (a string, a file: URL or a Buffer), not ${typeName(value)}`);
  if (bytes.includes(0)) throw new TypeError(`${what} ${JSON.stringify(String(value))} holds a NUL byte`);
  return bytes;
}

function typeName(value) {
  return value === null ? "null" : typeof value === "object" ? value.constructor?.name ?? "object" : typeof value;
}

// Calls the operation with the two paths (bytes, copied into the module's memory).
function call(module, name, inPath, outPath, numbers) {
  const pointers = [inPath, outPath].map((bytes) => {
    const pointer = module._malloc(bytes.length + 1);
    module.HEAPU8.set(bytes, pointer);
    module.HEAPU8[pointer + bytes.length] = 0;
    return pointer;
  });
  try {
    const ok = module[`_kelvane_${name}`](...pointers, ...numbers);
    if (ok !== 1) throw new KelvaneError(module.UTF8ToString(module._kelvane_last_error()));
  } finally {
    pointers.forEach((pointer) => module._free(pointer));
  }
}

const encode = (text) => new TextEncoder().encode(text);

// Bytes in, bytes out: the library reads the caller's bytes and hands back the file's.
async function inMemory(name, input, options) {
  const format = String(options.format ?? "png").toLowerCase();
  if (!FORMATS.includes(format)) throw new TypeError(`format must be one of ${FORMATS.join(", ")}, not ${options.format}`);
  const numbers = numbersOf(name, options);
  const bytes = await bytesOf(input);
  const { module, files } = await library();
  return serialised(() =>
    files.run({ input: bytes, output: true }, () => {
      call(module, name, encode("<bytes>"), encode(`output.${format}`), numbers);
      return files.job.result;
    }),
  );
}

// Files in Node: the library reads the input file itself and hands the output to node-output.js.
async function onFiles(name, inPath, outPath, options) {
  if (!inNode) throw new TypeError("paths are for Node: in a browser, give the picture's bytes");
  if (options.format !== undefined) throw new TypeError("format is for bytes: a file's format follows its name");
  const { module, files, node } = await library();
  const input = pathBytes("the input path", inPath, node), output = pathBytes("the output path", outPath, node);
  const numbers = numbersOf(name, options);
  return serialised(() => files.run({ input: null, output: false }, () => call(module, name, input, output, numbers)));
}

function isPath(value) {
  return typeof value === "string" || value instanceof URL || (typeof Buffer === "function" && Buffer.isBuffer(value));
}

function operation(name) {
  return (input, outOrOptions, maybeOptions) =>
    isPath(outOrOptions)
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
