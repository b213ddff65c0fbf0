// tarnwick-kelvane for JavaScript: the library and its host layer compiled to WebAssembly
// (kelvane.mjs), for browsers, Web Workers and Node (whose entry, node.js, runs the jobs in a pool
// of worker threads). Each operation (operations.js, written from the host layer's table) runs on
// files in Node or on bytes anywhere:
//   await operation("in.jpg", "out.png", { ...numbers by name })    // Node: files
//   const png = await operation(bytes, { format: "png", ...numbers }) // anywhere: bytes
export { KelvaneError, JobListError, operations, parseJobs, runJob } from "./core.js";
export * from "./operations.js";

/** Node's pool of worker threads takes this; here the jobs run in this thread, one at a time. */
export function setWorkers(count) {
  if (!Number.isInteger(count) || count < 1) throw new TypeError(`the workers must be 1 or more, not ${count}`);
}
