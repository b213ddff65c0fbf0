// Runs the library off the page's thread. It first sends the host layer's table of operations
// (or why the package could not be loaded); then for each job a picture (a File, whose name the
// messages use) and an operation in, the result's bytes or the library's message and hint out,
// with the warnings either way.
let kelvane = null;

self.onmessage = async ({ data }) => {
  const { kind, job, operation, picture, options, format } = data;
  const started = performance.now(), warnings = [];
  try {
    const bytes = await kelvane[operation](picture, { ...options, format: format ?? "png", onWarning: (w) => warnings.push(w) });
    const seconds = (performance.now() - started) / 1000;
    self.postMessage({ kind: kind === "preview" ? "preview" : "done", job, operation, format, bytes, warnings, seconds }, [bytes.buffer]);
  } catch (error) {
    self.postMessage({ kind: kind === "preview" ? "preview-failed" : "refused", job, message: error.message, hint: error.hint ?? null, warnings });
  }
};

try {
  kelvane = await import("../js/index.js");
  self.postMessage({ kind: "ready", table: await kelvane.operations() });
} catch (error) {
  self.postMessage({ kind: "failed", reason: error.message });
}
