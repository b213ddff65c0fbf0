// tarnwick-kelvane for JavaScript: the library and its host layer compiled to WebAssembly
// (kelvane.mjs), for Node and browsers. Each operation (operations.js, written from the host
// layer's table) runs on files in Node or on bytes anywhere:
//   await operation("in.jpg", "out.png", { ...numbers by name })    // Node: files
//   const png = await operation(bytes, { format: "png", ...numbers }) // anywhere: bytes
export { KelvaneError, JobListError, operations, parseJobs, runJob } from "./core.js";
export * from "./operations.js";
