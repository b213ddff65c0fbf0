// Runs the library off the page's thread: first the host layer's table of operations, then for
// each job a picture (a File) and an operation in, the result's bytes or the library's message
// (and warnings) out.
import * as kelvane from "../js/index.js";

self.onmessage = async ({ data }) => {
  const { operation, picture, options, format } = data;
  const started = performance.now(), warnings = [];
  try {
    const bytes = await kelvane[operation](picture, { ...options, format, onWarning: (w) => warnings.push(w) });
    self.postMessage({ operation, format, bytes, warnings, seconds: (performance.now() - started) / 1000 }, [bytes.buffer]);
  } catch (error) {
    self.postMessage({ error: error.message, warnings });
  }
};
self.postMessage({ table: await kelvane.operations() });
