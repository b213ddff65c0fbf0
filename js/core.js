// The package's machinery: one module instance of the library and its host layer (kelvane.mjs),
// its files (files.js), and the functions every operation and job goes through. What an
// operation is (its name, options, defaults), how a job list reads, which hint and warning go
// with a job and how a message names bytes come from the host layer; operations.js, written from
// its table by the build, makes the exported operations.
import createKelvane from "./kelvane.mjs";
import { Files } from "./files.js";

/** The library refused a job; `message` is its own one-line text, `hint` the likely cause. */
export class KelvaneError extends Error {
  constructor(message, hint = null) {
    super(message);
    this.name = "KelvaneError";
    this.hint = hint;
  }
}

/** Bad lines in a job list: `problems` holds one "line N: why" for each. */
export class JobListError extends Error {
  constructor(problems) {
    super(problems.join("\n"));
    this.name = "JobListError";
    this.problems = problems;
  }
}

const INT_MIN = -(2 ** 31), INT_MAX = 2 ** 31 - 1;
const TEXT_SIZE = 1024, PATH_SIZE = 8192;
const inNode = typeof process === "object" && typeof process.versions?.node === "string";

let instance = null;
// One module for the process (or the page, or the worker), with its files and the host layer's
// table; calls run one at a time, as the library keeps one message text.
function library() {
  instance ??= (async () => {
    const node = inNode
      ? { fs: (await import("node:fs")).default, url: await import("node:url"), ...(await import("./node-output.js")) }
      : null;
    const files = new Files(node);
    const module = await createKelvane({ kelvaneFiles: files });
    const table = JSON.parse(module.UTF8ToString(module._kelvane_host_table()));
    return { module, files, node, table };
  })();
  return instance;
}
let queue = Promise.resolve();
function serialised(task) {
  const done = queue.then(task, task);
  queue = done.catch(() => {});
  return done;
}

/** The host layer's table: the operations, their options and defaults, the formats of bytes. */
export async function operations() {
  return (await library()).table;
}

// ---- the module's memory ------------------------------------------------------------------

// Bytes (or null) as a NUL-terminated text in the module's memory, freed by `release`.
function cText(module, bytes, release) {
  if (bytes === null) return 0;
  const pointer = module._malloc(bytes.length + 1);
  module.HEAPU8.set(bytes, pointer);
  module.HEAPU8[pointer + bytes.length] = 0;
  release.push(pointer);
  return pointer;
}

function buffer(module, size, release) {
  const pointer = module._malloc(size);
  module.HEAPU8[pointer] = 0;
  release.push(pointer);
  return pointer;
}

// Runs `call(release)`, then frees what it allocated.
function withMemory(module, call) {
  const release = [];
  try {
    return call(release);
  } finally {
    release.forEach((pointer) => module._free(pointer));
  }
}

const encode = (text) => new TextEncoder().encode(text);

// ---- arguments ----------------------------------------------------------------------------

function checkedInt(name, value) {
  if (typeof value !== "number" || !Number.isInteger(value)) {
    throw new TypeError(`${name} must be an integer, not ${typeof value === "number" ? value : typeof value}`);
  }
  if (value < INT_MIN || value > INT_MAX) {
    throw new RangeError(`${name}=${value} is outside the C int range ${INT_MIN}..${INT_MAX}`);
  }
  return value;
}

// The operation's options in order, each with the numbers it gives.
function optionsOf(entry) {
  const options = [];
  for (const parameter of entry.parameters) {
    if (options.at(-1)?.name === parameter.option) options.at(-1).parameters.push(parameter);
    else options.push({ name: parameter.option, parameters: [parameter] });
  }
  return options;
}

const COMMON = ["onWarning", "signal"];

// The operation's numbers from the options object: TypeError for an unknown key, a missing one or
// one that is not an integer (or a list of them), RangeError outside the C int range.
function numbersOf(entry, options, extra) {
  if (options === null || typeof options !== "object") throw new TypeError("the options must be an object");
  const known = optionsOf(entry);
  const keys = [...known.map((option) => option.name), ...extra, ...COMMON];
  for (const key of Object.keys(options)) {
    if (!keys.includes(key)) throw new TypeError(`${entry.name} has no option ${key} (its options: ${keys.join(", ")})`);
  }
  const numbers = [];
  for (const { name, parameters } of known) {
    const fallback = parameters[0].default === null ? undefined : parameters.length === 1 ? parameters[0].default : parameters.map((p) => p.default);
    const value = options[name] ?? fallback;
    if (value === undefined) throw new TypeError(`${entry.name} needs the option ${name}`);
    if (parameters.length === 1) {
      numbers.push(checkedInt(name, value));
    } else if (!Array.isArray(value) || value.length !== parameters.length) {
      throw new TypeError(`${name} must be ${parameters.length} integers [${parameters.map((p) => p.name).join(", ")}], not ${JSON.stringify(value)}`);
    } else {
      value.forEach((v, i) => numbers.push(checkedInt(parameters[i].name, v)));
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
async function pathBytes(what, value) {
  const path = value instanceof URL ? (await import("node:url")).fileURLToPath(value) : value;
  let bytes;
  if (typeof path === "string") bytes = encode(path);
  else if (typeof Buffer === "function" && Buffer.isBuffer(path)) bytes = path;
  else throw new TypeError(`${what} must be a string, a file: URL or a Buffer, not ${typeName(value)}`);
  if (bytes.includes(0)) throw new TypeError(`${what} ${JSON.stringify(String(value))} holds a NUL byte`);
  return bytes;
}

function typeName(value) {
  return value === null ? "null" : typeof value === "object" ? value.constructor?.name ?? "object" : typeof value;
}

export function isPath(value) {
  return typeof value === "string" || value instanceof URL || (typeof Buffer === "function" && Buffer.isBuffer(value));
}

// ---- one job ------------------------------------------------------------------------------

// The host layer's hint for the failure `message` of a job on these paths (null: in memory).
function hintOf(module, message, inPath, outPath) {
  return withMemory(module, (release) => {
    const hint = buffer(module, TEXT_SIZE + PATH_SIZE, release);
    const found = module._kelvane_host_hint(cText(module, encode(message), release), cText(module, inPath, release),
      cText(module, outPath, release), hint, TEXT_SIZE + PATH_SIZE, 0, 0);
    return found === 0 ? null : module.UTF8ToString(hint);
  });
}

// The host layer's warnings before a job: the output's name (a file), the input (a file or bytes).
function warningsOf(module, input, inPath, inName, outPath) {
  return withMemory(module, (release) => {
    const said = [], warning = buffer(module, TEXT_SIZE + PATH_SIZE, release);
    if (outPath && module._kelvane_host_output_warning(cText(module, outPath, release), warning, TEXT_SIZE + PATH_SIZE)) {
      said.push(module.UTF8ToString(warning));
    }
    const data = input ? module._malloc(input.length || 1) : 0;
    if (data) {
      release.push(data);
      module.HEAPU8.set(input, data);
    }
    if (module._kelvane_host_input_warning(input ? 0 : cText(module, inPath, release), data, input ? input.length : 0,
      cText(module, inName, release), warning, TEXT_SIZE + PATH_SIZE)) {
      said.push(module.UTF8ToString(warning));
    }
    return said;
  });
}

function warn(onWarning, text) {
  if (onWarning) onWarning(text);
  else if (inNode) process.emitWarning(text, "KelvaneWarning");
  else console.warn(text);
}

/** Runs the operation numbered `index` through the host layer: the input is `input` (bytes) or
 * the file at `inPath`, the result comes back as bytes (`format` given) or goes to `outPath`.
 * Returns { ok, message, hint, warnings, result }. */
export function execute(lib, index, { input, inPath, inName, outPath, format, numbers }) {
  const { module, files } = lib;
  const scratchIn = input ? encode("/kelvane-memory/input") : inPath;
  const scratchOut = format ? encode(`/kelvane-memory/output.${format}`) : outPath;
  const warnings = warningsOf(module, input, inPath, input ? encode(inName ?? "") : null, format ? null : outPath);
  const outcome = files.run({ input, output: Boolean(format) }, () =>
    withMemory(module, (release) => {
      const message = buffer(module, TEXT_SIZE, release);
      const list = module._malloc(4 * Math.max(1, numbers.length));
      release.push(list);
      module.HEAP32.set(numbers, list >> 2);
      const ok = module._kelvane_host_run(index, cText(module, scratchIn, release), cText(module, scratchOut, release), list,
        input ? cText(module, encode(inName ?? ""), release) : 0, format ? cText(module, encode(""), release) : 0, message, TEXT_SIZE);
      return { ok: ok === 1, message: ok === 1 ? "" : module.UTF8ToString(message), result: files.job.result };
    }),
  );
  outcome.warnings = warnings;
  outcome.hint = outcome.ok ? null : hintOf(module, outcome.message, input ? null : inPath, format ? null : outPath);
  return outcome;
}

/** Checks an operation's arguments against the host layer's table, before anything runs:
 * TypeError and RangeError as the options and paths deserve. The job to run, as plain data. */
export async function prepare(table, name, input, outOrOptions, maybeOptions) {
  const index = table.operations.findIndex((entry) => entry.name === name);
  const entry = table.operations[index];
  const onFiles = isPath(outOrOptions);
  const options = (onFiles ? maybeOptions : outOrOptions) ?? {};
  let job;
  if (onFiles) {
    if (!inNode) throw new TypeError("paths are for Node: in a browser, give the picture's bytes");
    job = { inPath: await pathBytes("the input path", input), outPath: await pathBytes("the output path", outOrOptions), numbers: numbersOf(entry, options, []) };
  } else {
    const numbers = numbersOf(entry, options, ["format", "name"]);
    const format = String(options.format ?? table.formats[0]).toLowerCase();
    if (!table.formats.includes(format)) throw new TypeError(`format must be one of ${table.formats.join(", ")}, not ${options.format}`);
    const named = options.name ?? (typeof File !== "undefined" && input instanceof File ? input.name : null);
    if (named !== null && typeof named !== "string") throw new TypeError(`name must be a string, not ${typeName(named)}`);
    job = { input: await bytesOf(input), inName: named, format, numbers };
  }
  return { index, job, onFiles, onWarning: options.onWarning, signal: options.signal };
}

/** The error of a job given up before it started: its signal's reason. */
export function aborted(signal) {
  return signal.reason ?? new DOMException("This operation was aborted", "AbortError");
}

/** Says a finished job's warnings, and returns its result or throws its KelvaneError. */
export function conclude(prepared, outcome) {
  for (const text of outcome.warnings) warn(prepared.onWarning, text);
  if (!outcome.ok) throw new KelvaneError(outcome.message, outcome.hint);
  return prepared.onFiles ? undefined : outcome.result;
}

/** Makes the function of the operation `name`, run in this thread (operations.js). */
export function operation(name) {
  return async (input, outOrOptions, maybeOptions) => {
    const lib = await library();
    const prepared = await prepare(lib.table, name, input, outOrOptions, maybeOptions);
    const { signal } = prepared;
    const outcome = await serialised(() => {
      if (signal?.aborted) throw aborted(signal);
      return execute(lib, prepared.index, prepared.job);
    });
    return conclude(prepared, outcome);
  };
}

// ---- job lists ----------------------------------------------------------------------------

/** The jobs of a list, read by the host layer as `kelvane batch` reads it (a text, or its bytes):
 * [{ line, operation, input, output, numbers }]. Rejects with a JobListError naming every bad line. */
export async function parseJobs(text) {
  const { module, table } = await library();
  const bytes = typeof text === "string" ? encode(text) : await bytesOf(text);
  return serialised(() =>
    withMemory(module, (release) => {
      const data = module._malloc(bytes.length || 1);
      release.push(data);
      module.HEAPU8.set(bytes, data);
      const list = module._kelvane_host_read_jobs(data, bytes.length);
      if (!list) throw new RangeError("no memory for the job list");
      try {
        const problems = Array.from({ length: module._kelvane_host_problem_count(list) }, (_, i) => module.UTF8ToString(module._kelvane_host_problem(list, i)));
        if (problems.length) throw new JobListError(problems);
        const line = buffer(module, 4, release);
        return Array.from({ length: module._kelvane_host_job_count(list) }, (_, i) => {
          const job = module._kelvane_host_job(list, i, line) >> 2;
          const entry = table.operations[module.HEAP32[job]];
          const text = (pointer) => module.HEAPU8.slice(pointer, module.HEAPU8.indexOf(0, pointer));
          return {
            line: module.HEAP32[line >> 2],
            operation: entry.name,
            input: new TextDecoder().decode(text(module.HEAP32[job + 1])),
            output: new TextDecoder().decode(text(module.HEAP32[job + 2])),
            numbers: Array.from(module.HEAP32.subarray(job + 3, job + 3 + entry.parameters.length)),
          };
        });
      } finally {
        module._kelvane_host_free_jobs(list);
      }
    }),
  );
}

/** Runs one parsed job on its files (Node) and resolves to its result, never rejecting for the
 * job's own failure: { line, ok, message, hint, warnings }. */
export async function runJob(job) {
  const lib = await library();
  const index = lib.table.operations.findIndex((entry) => entry.name === job.operation);
  if (index < 0) throw new TypeError(`unknown operation ${job.operation}`);
  const outcome = await serialised(() =>
    execute(lib, index, { inPath: encode(job.input), outPath: encode(job.output), numbers: job.numbers.map((n, i) => checkedInt(`number ${i + 1}`, n)) }),
  );
  return { line: job.line, ok: outcome.ok, message: outcome.message, hint: outcome.hint, warnings: outcome.warnings };
}

/** A pool worker's answer to a message of the main thread (pool.js). */
export async function serve(message) {
  const lib = await library();
  switch (message.kind) {
    case "table":
      return { table: lib.table };
    case "job":
      return serialised(() => execute(lib, message.index, message.job));
    case "parse":
      return parseJobs(message.text).then((jobs) => ({ jobs }), (error) => {
        if (error instanceof JobListError) return { problems: error.problems };
        throw error;
      });
    default:
      return runJob(message.job);
  }
}
