// Run before `npm pack` (the package's prepack script): the package is whole only once
// scripts/wasm-build.sh has built the module and written the files from the host layer's table.
import { existsSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

const js = path.dirname(path.dirname(fileURLToPath(import.meta.url)));
const missing = ["kelvane.mjs", "operations.js", "node-operations.js", "index.d.ts"].filter((name) => !existsSync(path.join(js, name)));
if (missing.length) {
  console.error(`tarnwick-kelvane: ${missing.join(", ")} missing: run scripts/wasm-build.sh first (it builds the WebAssembly module and writes them)`);
  process.exit(1);
}
