// tarnwick-kelvane for Node: the same interface as index.js, with the jobs run off the main thread
// by a pool of worker threads (pool.js), one module instance each. The operations
// (node-operations.js) are written from the host layer's table by the build.
export { KelvaneError, JobListError, operations, parseJobs, runJob, setWorkers } from "./pool.js";
export * from "./node-operations.js";
