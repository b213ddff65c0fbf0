// The WebAssembly build against the native one: every operation over generated pictures and the
// test corpus (../shared/testdata, when present), as files and as bytes. Outputs must be the
// native files byte for byte, refusals the native messages. The native side is `kelvane batch`
// (KELVANE_CLI names the program).
//   KELVANE_CLI=build/release/examples/kelvane node --test js/test/
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, readdirSync, existsSync, mkdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import * as kelvane from "../index.js";

const native = process.env.KELVANE_CLI;
const here = path.dirname(fileURLToPath(import.meta.url));
const corpus = path.resolve(here, "../../../shared/testdata");

// Each operation's numbers in the command line's order, the options that give them, and the
// output's format.
const JOBS = [
  ["solid", [3, 9, 8, 7], { border: 3, color: [9, 8, 7] }, "png"],
  ["padding", [2, 1, 2, 3], { padding: 2, color: [1, 2, 3] }, "jpg"],
  ["sides", [1, 2, 3, 4, 200, 100, 0], { top: 1, right: 2, bottom: 3, left: 4, color: [200, 100, 0] }, "bmp"],
  ["rounded", [5], { radius: 5 }, "png"],
  ["shadow", [3, -2, 4, 20, 40, 60], { dx: 3, dy: -2, blur: 4, color: [20, 40, 60] }, "png"],
];

function noise(count, seed) {
  const bytes = new Uint8Array(count);
  let state = seed;
  for (let i = 0; i < count; ++i) bytes[i] = (state = (state * 1103515245 + 12345) >>> 0) >>> 16;
  return bytes;
}

// Pictures made here: grey and colour PNM of several sizes, and PNG and JPEG made from them by
// the native program; then whatever the corpus holds.
function pictures(folder) {
  const made = [];
  for (const [w, h, channels] of [[1, 1, 1], [7, 5, 3], [64, 48, 3], [33, 17, 1]]) {
    const name = path.join(folder, `p${w}x${h}.${channels === 1 ? "pgm" : "ppm"}`);
    const header = Buffer.from(`P${channels === 1 ? 5 : 6} ${w} ${h} 255\n`);
    writeFileSync(name, Buffer.concat([header, noise(w * h * channels, w * 31 + h)]));
    made.push(name);
  }
  for (const [from, to] of [["p64x48.ppm", "round.png"], ["p7x5.ppm", "photo.jpg"]]) {
    execFileSync(native, [to.endsWith("png") ? "rounded" : "solid", path.join(folder, from),
      path.join(folder, to), ...(to.endsWith("png") ? ["9"] : ["1", "0", "0", "0"])]);
    made.push(path.join(folder, to));
  }
  made.push(path.join(folder, "missing.png"), path.join(folder, "not-a-picture.txt"));
  writeFileSync(path.join(folder, "not-a-picture.txt"), "text");
  if (existsSync(path.join(corpus, "expected-decode.tsv"))) {
    const rows = readFileSync(path.join(corpus, "expected-decode.tsv"), "utf8").trim().split("\n").slice(1);
    for (const row of rows) made.push(path.join(corpus, row.split("\t")[0]));
  }
  return made;
}

// What the native batch says of each line: "ok" or the library's message.
function nativeResults(folder, jobs) {
  writeFileSync(path.join(folder, "list"), jobs.map((j) => j.line).join("\n") + "\n");
  const run = spawnSync(native, ["batch", "-j2", "--keep-going", "list"], { cwd: folder, encoding: "utf8" });
  const said = new Map();
  for (const text of run.stderr.split("\n")) {
    const found = /^line (\d+): (.*)$/.exec(text);
    if (found && !found[2].startsWith("warning: ") && !said.has(Number(found[1]))) said.set(Number(found[1]), found[2]);
  }
  return jobs.map((_, i) => said.get(i + 1) ?? "ok");
}

const quote = (word) => `'${word.replaceAll("'", "'\\''")}'`;

test("every operation writes the native bytes and says the native messages", { skip: !native && "KELVANE_CLI names no kelvane program" }, async (t) => {
  const folder = mkdtempSync(path.join(tmpdir(), "kelvane-wasm-"));
  try {
    mkdirSync(path.join(folder, "native"));
    mkdirSync(path.join(folder, "wasm"));
    const jobs = [];
    pictures(folder).forEach((input, k) => {
      for (const [name, numbers, options, format] of JOBS) {
        const out = `${k}-${name}.${format}`;
        jobs.push({ input, name, options, out, line: [name, quote(input), quote(`native/${out}`), ...numbers].join(" ") });
      }
    });
    const expected = nativeResults(folder, jobs);
    const cwd = process.cwd();
    process.chdir(folder);
    let written = 0, refused = 0;
    try {
      for (const [i, job] of jobs.entries()) {
        const got = await kelvane[job.name](job.input, `wasm/${job.out}`, job.options).then(() => "ok", (error) => {
          assert.ok(error instanceof kelvane.KelvaneError, String(error));
          return error.message;
        });
        assert.equal(got, expected[i].replaceAll("native/", "wasm/"), job.line);
        if (got === "ok") {
          assert.deepEqual(readFileSync(`wasm/${job.out}`), readFileSync(`native/${job.out}`), job.line);
          ++written;
        } else {
          ++refused;
        }
      }
    } finally {
      process.chdir(cwd);
    }
    // The generated pictures alone: 6 written and 2 refused inputs of 5 jobs each; the corpus adds.
    assert.ok(written >= 30 && refused >= 10, `${written} written, ${refused} refused`);
    t.diagnostic(`${jobs.length} jobs: ${written} outputs identical, ${refused} refusals with the native message`);
    // The same as bytes: the input's bytes in, the output's bytes back.
    for (const [name, , options, format] of JOBS) {
      const input = readFileSync(path.join(folder, "p64x48.ppm"));
      const out = await kelvane[name](input, { ...options, format });
      assert.deepEqual(Buffer.from(out), readFileSync(path.join(folder, "native", `2-${name}.${format}`)), name);
    }
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

test("arguments are checked before the library sees them", async () => {
  const bytes = new Uint8Array([80, 53, 32, 49, 32, 49, 32, 50, 53, 53, 10, 0]);
  await assert.rejects(kelvane.solid(bytes, { border: 1.5 }), TypeError);
  await assert.rejects(kelvane.solid(bytes, { border: 2 ** 31 }), RangeError);
  await assert.rejects(kelvane.solid(bytes, { border: 1, color: [1, 2] }), TypeError);
  await assert.rejects(kelvane.rounded(bytes, {}), TypeError);
  await assert.rejects(kelvane.rounded(bytes, { radius: 1, format: "gif" }), TypeError);
  await assert.rejects(kelvane.rounded("text", { radius: 1 }), TypeError);
  await assert.rejects(kelvane.rounded(bytes, { radius: -1 }), { name: "KelvaneError", message: "radius must be >= 0 (got -1)" });
  const png = await kelvane.solid(bytes.buffer, { border: 1 });
  assert.deepEqual([...png.subarray(0, 4)], [0x89, 0x50, 0x4e, 0x47]);
});
