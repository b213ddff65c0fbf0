// The npm package's WebAssembly against the native library on the whole-job benchmark's jobs,
// file to file, interleaved, medians of N runs: the native command-line program as a user runs
// it, the package in one Node process (its module loaded once, as a server would keep it).
//   node bench/wasm_jobs.mjs <native kelvane> <folder with photo.jpg, noisy.jpg, cutout.png> [N]
import { execFileSync } from "node:child_process";
import { performance } from "node:perf_hooks";
import path from "node:path";
import * as kelvane from "../js/index.js";

const [native, folder, runs = "3"] = process.argv.slice(2);
const jobs = [
  ["border, smooth photo JPEG -> PNG", "solid", "photo.jpg", "png", [10, 255, 255, 255], { border: 10, color: [255, 255, 255] }],
  ["border, noisy photo JPEG -> PNG", "solid", "noisy.jpg", "png", [10, 255, 255, 255], { border: 10, color: [255, 255, 255] }],
  ["border, smooth photo JPEG -> JPEG", "solid", "photo.jpg", "jpg", [10, 255, 255, 255], { border: 10, color: [255, 255, 255] }],
  ["rounded 40, graphic PNG -> PNG", "rounded", "cutout.png", "png", [40], { radius: 40 }],
  ["shadow, graphic PNG -> PNG", "shadow", "cutout.png", "png", [10, 10, 20, 0, 0, 0], { dx: 10, dy: 10, blur: 20 }],
  ["shadow, noisy photo JPEG -> PNG", "shadow", "noisy.jpg", "png", [10, 10, 20, 0, 0, 0], { dx: 10, dy: 10, blur: 20 }],
];
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
await kelvane.rounded(path.join(folder, "cutout.png"), path.join(folder, "warm.png"), { radius: 1 });
console.log(`| job | native s | WebAssembly s | ratio |\n|---|---|---|---|`);
for (const [title, op, input, format, numbers, options] of jobs) {
  const times = { native: [], wasm: [] };
  for (let r = 0; r < Number(runs); ++r) {
    const out = path.join(folder, `out.${format}`);
    let start = performance.now();
    execFileSync(native, [op, path.join(folder, input), out, ...numbers.map(String)]);
    times.native.push((performance.now() - start) / 1000);
    start = performance.now();
    await kelvane[op](path.join(folder, input), out, options);
    times.wasm.push((performance.now() - start) / 1000);
  }
  const n = median(times.native), w = median(times.wasm);
  console.log(`| ${title} | ${n.toFixed(2)} | ${w.toFixed(2)} | ${(w / n).toFixed(2)} |`);
}
