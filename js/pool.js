// Node's main thread never runs the library: jobs go to a pool of worker threads, each with a
// module instance of its own (pool-worker.js), as many as the machine has processors unless
// setWorkers says otherwise. The arguments are checked here before a job is queued; a job whose
// AbortSignal fires before a worker takes it is given up. Idle workers do not keep the process
// alive. In a worker thread of the caller's, the jobs run in that thread (core.js).
import { Worker, isMainThread } from "node:worker_threads";
import os from "node:os";
import * as core from "./core.js";

export { KelvaneError, JobListError } from "./core.js";

let size = os.availableParallelism?.() ?? os.cpus().length;
const idle = [], queue = [], workers = new Set();
let table = null;

/** Sets how many worker threads run jobs at once (1 or more; by default one per processor). */
export function setWorkers(count) {
  if (!Number.isInteger(count) || count < 1) throw new TypeError(`the workers must be 1 or more, not ${count}`);
  size = count;
  while (workers.size > size && idle.length) retire(idle.pop());
  pump();
}

function retire(worker) {
  workers.delete(worker);
  worker.terminate();
}

// The process's own Node options, but for those of a script given as text (`node -e`), which a
// worker started from a file refuses.
function workerOptions() {
  const kept = [];
  for (let i = 0; i < process.execArgv.length; ++i) {
    const option = process.execArgv[i];
    if (["-e", "--eval", "-p", "--print"].includes(option)) ++i;
    else if (!option.startsWith("--input-type") && !/^--(eval|print)=/.test(option)) kept.push(option);
  }
  return kept;
}

function spawn() {
  const worker = new Worker(new URL("./pool-worker.js", import.meta.url), { execArgv: workerOptions() });
  worker.unref();
  workers.add(worker);
  worker.on("message", (reply) => {
    const task = worker.task;
    worker.task = null;
    worker.unref();
    if (workers.size > size) retire(worker);
    else idle.push(worker);
    if (reply.error) task.reject(Object.assign(new (globalThis[reply.error.name] ?? Error)(reply.error.message), reply.error));
    else task.resolve(reply.answer);
    pump();
  });
  worker.on("error", (error) => {
    workers.delete(worker);
    worker.task?.reject(error);
    pump();
  });
  return worker;
}

// Hands queued tasks to idle workers, or to new ones while the pool is not full.
function pump() {
  while (queue.length && (idle.length || workers.size < size)) {
    const task = queue.shift();
    const worker = idle.pop() ?? spawn();
    worker.task = task;
    worker.ref();
    worker.postMessage(task.message, task.transfer);
  }
}

// Queues a message for a worker: its answer, or rejects with the signal's reason if it fires
// before a worker takes the message.
function dispatch(message, transfer = [], signal = null) {
  return new Promise((resolve, reject) => {
    const task = { message, transfer, resolve, reject };
    if (signal?.aborted) return reject(core.aborted(signal));
    signal?.addEventListener("abort", () => {
      const at = queue.indexOf(task);
      if (at >= 0) {
        queue.splice(at, 1);
        reject(core.aborted(signal));
      }
    }, { once: true });
    queue.push(task);
    pump();
  });
}

/** The host layer's table: the operations, their options and defaults, the formats of bytes. */
export async function operations() {
  if (!isMainThread) return core.operations();
  table ??= dispatch({ kind: "table" }).then((answer) => answer.table);
  return table;
}

/** Makes the function of the operation `name`, run by the pool (node-operations.js). */
export function operation(name) {
  const here = core.operation(name);
  return async (input, outOrOptions, maybeOptions) => {
    if (!isMainThread) return here(input, outOrOptions, maybeOptions);
    const prepared = await core.prepare(await operations(), name, input, outOrOptions, maybeOptions);
    const { index, job, signal } = prepared;
    if (job.input) job.input = new Uint8Array(job.input); // a copy of its own, moved to the worker
    const outcome = await dispatch({ kind: "job", index, job }, job.input ? [job.input.buffer] : [], signal);
    return core.conclude(prepared, outcome);
  };
}

/** The jobs of a list as `kelvane batch` reads it; rejects with a JobListError naming every bad line. */
export async function parseJobs(text) {
  if (!isMainThread) return core.parseJobs(text);
  const answer = await dispatch({ kind: "parse", text });
  if (answer.problems) throw new core.JobListError(answer.problems);
  return answer.jobs;
}

/** Runs one parsed job on its files; never rejects for the job's own failure. */
export async function runJob(job) {
  if (!isMainThread) return core.runJob(job);
  return dispatch({ kind: "run", job });
}
