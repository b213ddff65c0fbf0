// Runs the library off the page's thread: a picture (a File) and an operation in, the result's
// bytes or the library's message out.
import * as kelvane from "../js/index.js";

self.onmessage = async ({ data }) => {
  const { operation, picture, options, format } = data;
  const started = performance.now();
  try {
    const bytes = await kelvane[operation](picture, { ...options, format });
    self.postMessage({ operation, format, bytes, seconds: (performance.now() - started) / 1000 }, [bytes.buffer]);
  } catch (error) {
    self.postMessage({ error: error.message });
  }
};
