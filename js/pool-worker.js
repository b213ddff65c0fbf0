// A worker thread of the pool (pool.js): its own module instance runs the jobs it is sent, one at
// a time, and answers each (a result's bytes moved back, not copied).
import { parentPort } from "node:worker_threads";
import { serve } from "./core.js";

parentPort.on("message", async (message) => {
  try {
    const answer = await serve(message);
    parentPort.postMessage({ answer }, answer.result ? [answer.result.buffer] : []);
  } catch (error) {
    parentPort.postMessage({ error: { name: error.name, message: error.message } });
  }
});
