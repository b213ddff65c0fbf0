// The npm package in Node: what a job costs the event loop, and what the pool of worker threads
// gives on many jobs. (1) The event loop's longest stall while one 12-megapixel photo is framed to
// PNG, the package run in the main thread (index.js) and through its pool (node.js), measured by a
// 1 ms timer. (2) 100 photo jobs (1600x1200 JPEG to PNG, a border of 10) through the pool with one
// worker thread and with one per processor, interleaved, medians of N runs.
//   node bench/js_pool.mjs <folder with photo.jpg (4000x3000) and small.jpg (1600x1200)> [N]
import { performance } from "node:perf_hooks";
import os from "node:os";
import path from "node:path";
import * as inThread from "../js/index.js";
import * as pool from "../js/node.js";

const [folder, runs = "3"] = process.argv.slice(2);
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const options = { border: 10, color: [255, 255, 255] };

// The longest gap between the ticks of a 1 ms timer while `job()` runs.
async function longestStall(job) {
  let last = performance.now(), longest = 0;
  const timer = setInterval(() => {
    const now = performance.now();
    longest = Math.max(longest, now - last);
    last = now;
  }, 1);
  await job();
  clearInterval(timer);
  return Math.max(longest, performance.now() - last);
}

async function jobs(count, workers) {
  pool.setWorkers(workers);
  const started = performance.now();
  await Promise.all(Array.from({ length: count }, (_, i) =>
    pool.solid(path.join(folder, "small.jpg"), path.join(folder, `pool-${i % 8}.png`), options)));
  return (performance.now() - started) / 1000;
}

const photo = path.join(folder, "photo.jpg"), out = path.join(folder, "pool-photo.png");
await inThread.solid(photo, out, options); // each module warm once
await pool.solid(photo, out, options);
const stalls = { thread: [], pool: [] }, times = { one: [], all: [] };
for (let r = 0; r < Number(runs); ++r) {
  stalls.thread.push(await longestStall(() => inThread.solid(photo, out, options)));
  stalls.pool.push(await longestStall(() => pool.solid(photo, out, options)));
  times.one.push(await jobs(100, 1));
  times.all.push(await jobs(100, os.availableParallelism?.() ?? os.cpus().length));
}
const processors = os.availableParallelism?.() ?? os.cpus().length;
console.log(`| measure | in the main thread | through the pool |\n|---|---|---|`);
console.log(`| longest event-loop stall, one 4000x3000 photo to PNG | ${median(stalls.thread).toFixed(0)} ms | ${median(stalls.pool).toFixed(0)} ms |`);
console.log(`\n| 100 jobs, 1600x1200 photo to PNG | 1 worker | ${processors} workers | throughput ratio |\n|---|---|---|---|`);
console.log(`| seconds (median of ${runs}) | ${median(times.one).toFixed(2)} | ${median(times.all).toFixed(2)} | ${(median(times.one) / median(times.all)).toFixed(2)}x |`);
