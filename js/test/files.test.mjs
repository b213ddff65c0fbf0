// Files in Node as the native library has them: the input read once and only as far as needed
// (standard input and sparse giants included), bytes that never touch the file system, memory
// that stays flat, concurrent jobs and processes that each get their own output, the package's
// temporary files told apart by their writers, and paths checked before the call. What writing
// the output promises is tests/writers/writers_test.py's table, run against both writers.
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import * as kelvane from "../index.js";

const here = path.dirname(fileURLToPath(import.meta.url));
const pgm = (width, height, seed = 0) =>
  Buffer.concat([Buffer.from(`P5 ${width} ${height} 255\n`), Buffer.from(Array.from({ length: width * height }, (_, i) => (i * 7 + seed) % 251))]);
const pngSize = (bytes) => [bytes.readUInt32BE(16), bytes.readUInt32BE(20)];

function scratch(t) {
  const folder = fs.mkdtempSync(path.join(tmpdir(), "kelvane-files-"));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

test("a hundred jobs at once, on paths and on bytes, each get their own output and message", async (t) => {
  const folder = scratch(t);
  fs.writeFileSync(path.join(folder, "in.pgm"), pgm(9, 7));
  const input = fs.readFileSync(path.join(folder, "in.pgm"));
  const jobs = Array.from({ length: 100 }, (_, i) => {
    const options = { border: i % 13, color: [i, 0, 0] };
    if (i % 10 === 9) return kelvane.solid(path.join(folder, `missing-${i}.pgm`), path.join(folder, `${i}.png`), options).catch((e) => e);
    return i % 2 ? kelvane.solid(input, options) : kelvane.solid(path.join(folder, "in.pgm"), path.join(folder, `${i}.png`), options).then(() => fs.readFileSync(path.join(folder, `${i}.png`)));
  });
  const results = await Promise.all(jobs);
  results.forEach((result, i) => {
    if (i % 10 === 9) assert.equal(result.message, `cannot decode '${path.join(folder, `missing-${i}.pgm`)}': can't fopen`);
    else assert.deepEqual(pngSize(Buffer.from(result)), [9 + 2 * (i % 13), 7 + 2 * (i % 13)], `job ${i}`);
  });
  assert.deepEqual(fs.readdirSync(folder).filter((name) => name.startsWith(".kelvane")), []);
});

test("two processes writing into one folder at once each write their own files", async (t) => {
  const folder = scratch(t);
  fs.writeFileSync(path.join(folder, "in.pgm"), pgm(40, 30));
  const script = `import { solid } from ${JSON.stringify(path.join(here, "../index.js"))};
    const [who] = process.argv.slice(1);
    await Promise.all(Array.from({ length: 30 }, (_, i) => solid("in.pgm", who + "-" + i + ".png", { border: i, color: [who === "a" ? 1 : 2, 0, 0] })));`;
  const run = (who) => new Promise((resolve) => spawn(process.execPath, ["--input-type=module", "-e", script, who], { cwd: folder, stdio: "inherit" }).on("exit", resolve));
  assert.deepEqual(await Promise.all([run("a"), run("b")]), [0, 0]);
  for (const who of ["a", "b"]) {
    for (let i = 0; i < 30; ++i) {
      const expected = await kelvane.solid(pgm(40, 30), { border: i, color: [who === "a" ? 1 : 2, 0, 0] });
      assert.deepEqual(fs.readFileSync(path.join(folder, `${who}-${i}.png`)), Buffer.from(expected), `${who}-${i}`);
    }
  }
  assert.equal(fs.readdirSync(folder).length, 61);
});

test("bytes never touch the file system, and memory stays flat over a thousand jobs of each kind", async (t) => {
  const folder = scratch(t);
  const input = pgm(64, 48);
  fs.writeFileSync(path.join(folder, "in.pgm"), input);
  const calls = [];
  const names = ["openSync", "readSync", "writeSync", "statSync", "lstatSync", "fstatSync", "renameSync", "symlinkSync", "readlinkSync"];
  const originals = names.map((name) => fs[name]);
  names.forEach((name, i) => (fs[name] = (...args) => (calls.push(name), originals[i](...args))));
  try {
    for (let i = 0; i < 20; ++i) await kelvane.shadow(input, { dx: 2, dy: 2, blur: 3 });
  } finally {
    names.forEach((name, i) => (fs[name] = originals[i]));
  }
  assert.deepEqual(calls, []);
  const rss = [];
  for (let round = 0; round < 1000; ++round) {
    await kelvane.rounded(path.join(folder, "in.pgm"), path.join(folder, "out.png"), { radius: 9 });
    await kelvane.rounded(input, { radius: 9 });
    if (round === 9 || round === 999) rss.push(process.memoryUsage().rss);
  }
  t.diagnostic(`resident memory after 10 and after 1000 jobs of each kind: ${rss.map((b) => (b / 2 ** 20).toFixed(1)).join(" and ")} MiB`);
  assert.ok(rss[1] <= rss[0] * 1.1, `${rss[0]} -> ${rss[1]}`);
  assert.deepEqual(fs.readdirSync(folder).sort(), ["in.pgm", "out.png"]);
});

test("the input is read once and only as far as needed: standard input, a sparse giant", async (t) => {
  const folder = scratch(t);
  fs.writeFileSync(path.join(folder, "in.pgm"), pgm(5, 4));
  const script = `import { solid } from ${JSON.stringify(path.join(here, "../index.js"))};
    await solid("/dev/stdin", "out.png", { border: 1 });`;
  // (through a shell's pipe: Node's own are sockets, which /dev/stdin does not open)
  const piped = spawnSync("sh", ["-c", `cat in.pgm | "${process.execPath}" --input-type=module -e '${script}'`], { cwd: folder });
  assert.equal(piped.status, 0, piped.stderr.toString());
  assert.deepEqual(piped.stdout.length, 0);
  assert.deepEqual(pngSize(fs.readFileSync(path.join(folder, "out.png"))), [7, 6]);
  // A gigabyte that holds nothing but a PNG signature: refused, without reading it all.
  const giant = path.join(folder, "giant.png");
  fs.writeFileSync(giant, Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]));
  fs.truncateSync(giant, 2 ** 30);
  const before = process.memoryUsage().rss, started = performance.now();
  await assert.rejects(kelvane.rounded(giant, path.join(folder, "x.png"), { radius: 1 }), kelvane.KelvaneError);
  const grown = (process.memoryUsage().rss - before) / 2 ** 20;
  t.diagnostic(`a 1 GiB sparse file refused in ${((performance.now() - started) / 1000).toFixed(2)} s, ${grown.toFixed(1)} MiB more`);
  assert.ok(grown < 100, `${grown} MiB`);
});

test("a write removes the temporary files of writers that no longer run, and only those", async (t) => {
  const folder = scratch(t);
  fs.writeFileSync(path.join(folder, "in.pgm"), pgm(5, 4));
  const boot = fs.readFileSync("/proc/sys/kernel/random/boot_id", "latin1").trim().replace(/-/g, "").slice(0, 8);
  const namespace = fs.readlinkSync("/proc/self/ns/pid").replace(/\D/g, "");
  const startOf = (pid) => { const stat = fs.readFileSync(`/proc/${pid}/stat`, "latin1"); return stat.slice(stat.lastIndexOf(")") + 2).split(" ")[19]; };
  const gone = spawnSync(process.execPath, ["-e", "console.log(process.pid, require('fs').readFileSync('/proc/self/stat','latin1').split(') ')[1].split(' ')[19])"]).stdout.toString().trim().split(" ");
  const name = (pid, start, token) => `.kelvane-js-${boot}-${namespace}-${pid}-${start}-${token.repeat(16)}.tmp`;
  const planted = [
    [0, name(gone[0], gone[1], "a"), true], // its writer has ended
    [3, name(process.pid, startOf(process.pid), "b"), false], // this process: alive
    [5, name(process.pid, "1", "c"), true], // a process of that number, but started later
    [7, `.kelvane-js-00000000-${namespace}-${process.pid}-${startOf(process.pid)}-${"d".repeat(16)}.tmp`, true], // an earlier boot
  ];
  for (const [slot, file] of planted) {
    fs.writeFileSync(path.join(folder, file), "left");
    fs.symlinkSync(file, path.join(folder, `.kelvane-js-0${slot}.lock`));
  }
  fs.writeFileSync(path.join(folder, ".kelvane-js-09.tmp"), "not a marker");
  await kelvane.solid(path.join(folder, "in.pgm"), path.join(folder, "out.png"), { border: 1 });
  const left = fs.readdirSync(folder).filter((entry) => entry.startsWith(".kelvane")).sort();
  assert.deepEqual(left, [".kelvane-js-03.lock", ".kelvane-js-09.tmp", planted[1][1]].sort());
});

test("paths are checked before the call", async () => {
  const options = { radius: 1 };
  for (const [input, output] of [["in\0.png", "out.png"], ["in.png", Buffer.from("o\0.png")], [42, "out.png"], [{}, "out.png"]]) {
    await assert.rejects(kelvane.rounded(input, output, options), TypeError, String(input));
  }
  await assert.rejects(kelvane.rounded(new URL("https://example.com/a.png"), "out.png", options), TypeError);
});
