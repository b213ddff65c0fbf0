// Writes the package's operations.js and index.d.ts from the host layer's table, which it reads
// from the module just built (js/kelvane.mjs): one exported function per operation, and the types
// of every option. Run by scripts/wasm-build.sh.
import { writeFileSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import createKelvane from "../kelvane.mjs";

const js = path.dirname(path.dirname(fileURLToPath(import.meta.url)));
const module = await createKelvane({ kelvaneFiles: {} });
const table = JSON.parse(module.UTF8ToString(module._kelvane_host_table()));
const warning = "// Written by js/module/write-operations.mjs from the host layer's table: do not edit.\n";

function optionsOf(entry) {
  const options = [];
  for (const parameter of entry.parameters) {
    if (options.at(-1)?.name === parameter.option) options.at(-1).parameters.push(parameter);
    else options.push({ name: parameter.option, parameters: [parameter] });
  }
  return options;
}

const typeName = (name) => name[0].toUpperCase() + name.slice(1) + "Options";
const doc = (text) => `/** ${text.replaceAll("*/", "*\\/")} */`;

// The operations in this thread (browsers, Web Workers: index.js) and through Node's pool (node.js).
for (const [file, from] of [["operations.js", "./core.js"], ["node-operations.js", "./pool.js"]]) {
  writeFileSync(path.join(js, file), warning + `import { operation } from "${from}";\n\n` +
    table.operations.map((entry) => `${doc(entry.description)}\nexport const ${entry.name} = operation(${JSON.stringify(entry.name)});\n`).join("\n"));
}

const optionTypes = table.operations.map((entry) => {
  const fields = optionsOf(entry).map(({ name, parameters }) => {
    const optional = parameters[0].default !== null ? "?" : "";
    const type = parameters.length === 1 ? "number" : `[${parameters.map(() => "number").join(", ")}]`;
    const [low, high] = [parameters[0].minimum, parameters[0].maximum];
    const range = low === -(2 ** 31) && high === 2 ** 31 - 1 ? "any int" : `${low} to ${high}${parameters.length > 1 ? " each (other ints: their low 8 bits)" : ""}`;
    const fallback = parameters[0].default === null ? "required" : `default ${parameters.length === 1 ? parameters[0].default : `[${parameters.map((p) => p.default).join(", ")}]`}`;
    return `  /** ${parameters.map((p) => p.name).join(", ")}: ${range}; ${fallback}. */\n  ${name}${optional}: ${type};`;
  });
  return `export interface ${typeName(entry.name)} extends CommonOptions {\n${fields.join("\n")}\n}`;
});

writeFileSync(path.join(js, "index.d.ts"), warning + `// Types of tarnwick-kelvane's JavaScript interface (core.js and operations.js).

/** A picture's bytes: a Uint8Array (a Node Buffer among them), an ArrayBuffer or another typed array; in browsers a Blob or File too. */
export type Picture = Uint8Array | ArrayBuffer | ArrayBufferView | { arrayBuffer(): Promise<ArrayBuffer>; readonly size: number; readonly type: string };
/** A path in Node: a string, a file: URL or a Buffer. */
export type Path = string | { readonly href: string; readonly protocol: string } | Uint8Array;
/** An AbortSignal: a job whose signal fires before it starts is given up. */
export interface Signal {
  readonly aborted: boolean;
  readonly reason?: unknown;
  addEventListener(type: "abort", listener: () => void, options?: { once?: boolean }): void;
}
/** The format of a result in bytes. */
export type Format = ${table.formats.map((f) => JSON.stringify(f)).join(" | ")};

/** The library refused a job; \`message\` is its own one-line text, \`hint\` the likely cause or null. */
export class KelvaneError extends Error {
  constructor(message: string, hint?: string | null);
  name: "KelvaneError";
  hint: string | null;
}

/** Bad lines in a job list: one "line N: why" for each. */
export class JobListError extends Error {
  constructor(problems: string[]);
  name: "JobListError";
  problems: string[];
}

export interface CommonOptions {
  /** Called with each warning about the job (by default Node's process.emitWarning, or console.warn). */
  onWarning?: (warning: string) => void;
  /** Gives the job up, if it has not started when the signal fires (it rejects with its reason). */
  signal?: Signal;
}

interface InMemory {
  /** The result's format (${table.formats[0].toUpperCase()} by default). */
  format?: Format;
  /** What messages call the picture (a File's own name by default, else ${table.bytes_name}). */
  name?: string;
}

${optionTypes.join("\n\n")}

/** An operation: on files in Node (the output's name sets its format), or on bytes anywhere. */
export interface Operation<Options> {
  (inPath: Path, outPath: Path, options${"?"}: Options): Promise<void>;
  (picture: Picture, options${"?"}: Options & InMemory): Promise<Uint8Array>;
}

${table.operations.map((entry) => `${doc(entry.description)}\nexport const ${entry.name}: Operation<${typeName(entry.name)}>;`).join("\n")}

/** One job of a list. */
export interface Job {
  line: number;
  operation: ${table.operations.map((entry) => JSON.stringify(entry.name)).join(" | ")};
  input: string;
  output: string;
  numbers: number[];
}

/** A job's outcome: ok, or not with the library's message and the likely cause, and its warnings. */
export interface Result {
  line: number;
  ok: boolean;
  message: string;
  hint: string | null;
  warnings: string[];
}

/** The jobs of a list as \`kelvane batch\` reads it; rejects with a JobListError naming every bad line. */
export function parseJobs(text: string | Picture): Promise<Job[]>;
/** Runs one job on its files (Node); never rejects for the job's own failure. */
export function runJob(job: Job): Promise<Result>;
/** How many worker threads run jobs at once in Node (1 or more; one per processor by default). */
export function setWorkers(count: number): void;
/** The host layer's table of operations, their options, defaults and ranges. */
export function operations(): Promise<{ formats: Format[]; bytes_name: string; operations: Array<{ name: string; summary: string; description: string; parameters: Array<{ name: string; option: string; minimum: number; maximum: number; default: number | null; example: number }> }> }>;
`);
console.log(`== wasm: operations.js, node-operations.js and index.d.ts for ${table.operations.length} operations`);
