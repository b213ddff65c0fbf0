// Node's entry (node.js): jobs run by a pool of worker threads, with what the main thread's jobs
// give (the same bytes, messages, hints, warnings, errors), jobs given up by their AbortSignal
// before they start, the pool's size, and a process that ends when its jobs do. (What the pool
// gives in time is measured by bench/js_pool.mjs.)
import { test } from "node:test";
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import * as pool from "../node.js";
import * as thread from "../index.js";

const here = path.dirname(fileURLToPath(import.meta.url));
const pgm = (width, height) =>
  Buffer.concat([Buffer.from(`P5 ${width} ${height} 255\n`), Buffer.from(Array.from({ length: width * height }, (_, i) => (i * 7) % 251))]);

test("the pool gives what the main thread gives", async (t) => {
  const folder = fs.mkdtempSync(path.join(tmpdir(), "kelvane-pool-"));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  fs.writeFileSync(path.join(folder, "in.pgm"), pgm(30, 20));
  const options = { dx: 3, dy: -2, blur: 4, color: [9, 8, 7] };
  const input = path.join(folder, "in.pgm"), bytes = fs.readFileSync(input);
  assert.deepEqual(await pool.shadow(bytes, options), await thread.shadow(bytes, options));
  await pool.shadow(input, path.join(folder, "pool.png"), options);
  await thread.shadow(input, path.join(folder, "thread.png"), options);
  assert.deepEqual(fs.readFileSync(path.join(folder, "pool.png")), fs.readFileSync(path.join(folder, "thread.png")));
  const refused = { name: "KelvaneError", message: `cannot decode '${folder}/none.pgm': can't fopen`, hint: `'${folder}/none.pgm' does not exist` };
  await assert.rejects(pool.rounded(path.join(folder, "none.pgm"), path.join(folder, "x.png"), { radius: 1 }), refused);
  await assert.rejects(pool.rounded(bytes, { radius: 1.5 }), TypeError);
  await assert.rejects(pool.rounded(bytes, { radius: 2 ** 31 }), RangeError);
  await assert.rejects(pool.rounded(bytes, { radius: 1, size: 3 }), /rounded has no option size/);
  const warnings = [];
  await pool.rounded(input, path.join(folder, "x.webp"), { radius: 1, onWarning: (w) => warnings.push(w) });
  assert.match(warnings[0], /'.*x\.webp' gets PNG data/);
  assert.equal((await pool.parseJobs("rounded a b 1\n"))[0].operation, "rounded");
  await assert.rejects(pool.parseJobs("frame a b\n"), { name: "JobListError", problems: ["line 1: unknown operation 'frame'"] });
  assert.deepEqual((await pool.operations()).formats, (await thread.operations()).formats);
});

test("a job whose signal fires before it starts is given up; the pool's size is set", async () => {
  const slow = pgm(1200, 900);
  assert.throws(() => pool.setWorkers(0), TypeError);
  pool.setWorkers(1);
  try {
    const running = pool.shadow(slow, { blur: 60 });
    const control = new AbortController();
    const queued = pool.shadow(slow, { blur: 60, signal: control.signal });
    control.abort();
    await assert.rejects(queued, { name: "AbortError" });
    await assert.rejects(pool.rounded(slow, { radius: 1, signal: AbortSignal.abort() }), { name: "AbortError" });
    assert.ok((await running).length > 0);
  } finally {
    pool.setWorkers(2);
  }
});

test("a process ends when its jobs are done: idle workers keep it no longer", () => {
  const script = `import { rounded } from ${JSON.stringify(path.join(here, "../node.js"))};
    await rounded(new Uint8Array(Buffer.from("P5 1 1 255\\n\\0")), { radius: 1 });`;
  const done = spawnSync(process.execPath, ["--input-type=module", "-e", script], { timeout: 30000 });
  assert.equal(done.status, 0, done.stderr.toString());
});
