// The playground: the page collects a picture and the numbers, a Web Worker runs the library (so
// the page stays responsive on a 12-megapixel photo) and sends the result back as bytes. The
// operations, their numbers, ranges and examples come from the host layer's table, which the
// worker sends first; so do the messages, hints and warnings, which name the chosen file.
const $ = (id) => document.getElementById(id);
const worker = new Worker(new URL("worker.js", import.meta.url), { type: "module" });
const state = { table: null, picture: null, inputUrl: null, resultUrl: null, job: 0, ticker: null };

// ---- what the page says ---------------------------------------------------------------------

function status(text, kind = "") {
  $("status").textContent = text;
  $("status").className = kind;
}

function bytesText(count) {
  return count < 1024 ? `${count} bytes` : count < 1024 * 1024 ? `${(count / 1024).toFixed(1)} KB` : `${(count / 1024 / 1024).toFixed(1)} MB`;
}

function showWarnings(warnings = []) {
  $("warnings").replaceChildren(...warnings.map((text) => Object.assign(document.createElement("li"), { textContent: `Warning: ${text}` })));
}

function clearResult() {
  if (state.resultUrl) URL.revokeObjectURL(state.resultUrl);
  state.resultUrl = null;
  $("result-view").hidden = true;
  $("result-view").removeAttribute("src");
  $("download").hidden = true;
  $("result-size").textContent = "";
}

function stopTicker() {
  clearInterval(state.ticker);
  state.ticker = null;
}

// "working…", and after a second the time it has taken so far.
function startTicker() {
  const started = performance.now();
  status("Working…", "working");
  state.ticker = setInterval(() => {
    const seconds = (performance.now() - started) / 1000;
    if (seconds >= 1) status(`Working… ${seconds.toFixed(1)} s`, "working");
  }, 100);
}

// ---- the form, from the host layer's table ---------------------------------------------------

function entryOf(name) {
  return state.table.operations.find((entry) => entry.name === name);
}

// The operation's numbers grouped by the option that gives them (a colour gives three).
function optionsOf(entry) {
  const options = [];
  for (const parameter of entry.parameters) {
    if (options.at(-1)?.name === parameter.option) options.at(-1).parameters.push(parameter);
    else options.push({ name: parameter.option, parameters: [parameter] });
  }
  return options;
}

function element(tag, properties, ...children) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

function numberField({ name, parameters: [parameter] }) {
  const id = `n-${name}`;
  const input = element("input", { id, name, type: "number", step: 1, min: parameter.minimum, max: parameter.maximum, value: parameter.example, required: true });
  input.setAttribute("aria-describedby", `${id}-error`);
  input.addEventListener("input", check);
  return element("div", { className: "number" }, element("label", { htmlFor: id, textContent: name }), input,
    element("span", { id: `${id}-error`, className: "invalid", role: "alert" }));
}

const hex = (value) => value.toString(16).padStart(2, "0");

// A colour: a picker, and its value as hex text, kept alike.
function colourField({ name, parameters }) {
  const id = `n-${name}`;
  const value = `#${parameters.map((p) => hex(p.example)).join("")}`;
  const picker = element("input", { id, type: "color", value });
  const text = element("input", { id: `${id}-hex`, type: "text", value, size: 7, spellcheck: false, autocomplete: "off" });
  text.setAttribute("aria-describedby", `${id}-error`);
  picker.addEventListener("input", () => {
    text.value = picker.value;
    check();
  });
  text.addEventListener("input", () => {
    if (/^#?[0-9a-f]{6}$/i.test(text.value)) picker.value = `#${text.value.replace("#", "").toLowerCase()}`;
    check();
  });
  return element("div", { className: "colour" }, element("label", { htmlFor: id, textContent: name }), picker,
    element("label", { htmlFor: `${id}-hex`, className: "quiet", textContent: `${name} as hex` }), text,
    element("span", { id: `${id}-error`, className: "invalid", role: "alert" }));
}

function showNumbers() {
  const fields = optionsOf(entryOf($("operation").value)).map((option) => (option.parameters.length === 1 ? numberField(option) : colourField(option)));
  $("numbers").replaceChildren(element("legend", { textContent: "Numbers" }), ...fields);
  check();
}

function showForm() {
  $("operation").replaceChildren(...state.table.operations.map((entry) => element("option", { value: entry.name, textContent: `${entry.name}: ${entry.summary}` })));
  $("format").replaceChildren(...state.table.formats.map((format) => element("option", { value: format, textContent: format.toUpperCase() })));
  $("operation").disabled = $("format").disabled = false;
  showNumbers();
}

// The options the library takes, from the fields, each checked against the range the library
// takes as it is (so that nothing is sent that it would wrap); null while one is not.
function options() {
  const chosen = {};
  let valid = true;
  for (const { name, parameters } of optionsOf(entryOf($("operation").value))) {
    const error = $(`n-${name}-error`);
    if (parameters.length > 1) {
      const text = $(`n-${name}-hex`).value.replace("#", "");
      const ok = /^[0-9a-f]{6}$/i.test(text);
      error.textContent = ok ? "" : "six hex digits, as #rrggbb";
      chosen[name] = ok ? [0, 2, 4].map((at) => parseInt(text.slice(at, at + 2), 16)) : null;
      valid &&= ok;
      continue;
    }
    const [{ minimum, maximum }] = parameters, input = $(`n-${name}`);
    const value = input.value.trim() === "" ? NaN : Number(input.value);
    const ok = Number.isInteger(value) && value >= minimum && value <= maximum;
    error.textContent = ok ? "" : `a whole number from ${minimum} to ${maximum}`;
    input.setAttribute("aria-invalid", String(!ok));
    chosen[name] = value;
    valid &&= ok;
  }
  return valid ? chosen : null;
}

function check() {
  $("run").disabled = !state.table || !state.picture || state.ticker !== null || options() === null;
}

// ---- the picture ----------------------------------------------------------------------------

function stem(name) {
  const dot = name.lastIndexOf(".");
  return (dot > 0 ? name.slice(0, dot) : name) || "picture";
}

function choose(file) {
  if (!file) return;
  state.picture = file;
  ++state.job; // a result still on its way belongs to the old picture
  stopTicker();
  clearResult();
  showWarnings();
  if (state.inputUrl) URL.revokeObjectURL(state.inputUrl);
  state.inputUrl = URL.createObjectURL(file);
  $("input-view").hidden = false;
  $("input-view").src = state.inputUrl;
  $("input-size").textContent = `${file.name}, ${bytesText(file.size)}`;
  status(`${file.name} chosen: run an operation on it.`);
  check();
}

// A picture the browser cannot draw (PSD, TGA, HDR, PNM, PIC) is shown as the library reads it:
// the first operation with every number 0, to PNG.
function previewThroughLibrary() {
  const entry = state.table.operations[0];
  const zeros = Object.fromEntries(optionsOf(entry).map(({ name, parameters }) => [name, parameters.length > 1 ? parameters.map(() => 0) : 0]));
  worker.postMessage({ kind: "preview", job: state.job, operation: entry.name, picture: state.picture, options: zeros });
}

function showSize(image, caption, bytes, name) {
  caption.textContent = `${name}, ${image.naturalWidth} × ${image.naturalHeight} pixels, ${bytesText(bytes)}`;
}

$("input-view").addEventListener("load", () => {
  if (state.picture) showSize($("input-view"), $("input-size"), state.picture.size, state.picture.name);
});
$("input-view").addEventListener("error", () => {
  if (state.picture && $("input-view").src === state.inputUrl) previewThroughLibrary();
});

// ---- jobs -----------------------------------------------------------------------------------

function run(event) {
  event.preventDefault();
  const chosen = options();
  if (!state.picture || !chosen) return;
  clearResult();
  showWarnings();
  startTicker();
  check();
  worker.postMessage({ kind: "job", job: ++state.job, operation: $("operation").value, picture: state.picture, options: chosen, format: $("format").value });
}

function done(data) {
  const name = `${stem(state.picture.name)}-${data.operation}.${data.format}`;
  const type = { png: "image/png", jpg: "image/jpeg", jpeg: "image/jpeg", bmp: "image/bmp" }[data.format];
  state.resultUrl = URL.createObjectURL(new Blob([data.bytes], { type }));
  const view = $("result-view");
  view.onload = () => showSize(view, $("result-size"), data.bytes.length, name);
  view.hidden = false;
  view.src = state.resultUrl;
  Object.assign($("download"), { href: state.resultUrl, download: name, hidden: false, textContent: `Download ${name}` });
  status(`${data.operation} of ${state.picture.name}: ${bytesText(data.bytes.length)} in ${data.seconds.toFixed(2)} s`, "done");
}

function refused(data) {
  clearResult();
  status(data.hint ? `${data.message}; ${data.hint}` : data.message, "error");
}

worker.onmessage = ({ data }) => {
  if (data.kind === "ready") {
    state.table = data.table;
    showForm();
    status("Choose or drop a picture.");
    return;
  }
  if (data.kind === "failed") {
    status(`The WebAssembly module could not be loaded: run scripts/wasm-build.sh (${data.reason})`, "error");
    return;
  }
  if (data.job !== state.job) return; // for a picture since replaced
  if (data.kind === "preview") {
    URL.revokeObjectURL(state.inputUrl);
    state.inputUrl = URL.createObjectURL(new Blob([data.bytes], { type: "image/png" }));
    $("input-view").src = state.inputUrl;
    return;
  }
  stopTicker();
  showWarnings(data.warnings);
  if (data.kind === "done") done(data);
  else refused(data);
  check();
};
worker.onerror = (event) => {
  status(`The WebAssembly module could not be loaded: run scripts/wasm-build.sh (${event.message ?? "the worker failed"})`, "error");
};

$("operation").addEventListener("change", showNumbers);
$("picture").addEventListener("change", () => choose($("picture").files[0]));
$("drop").addEventListener("dragover", (event) => {
  event.preventDefault();
  $("drop").classList.add("over");
});
$("drop").addEventListener("dragleave", () => $("drop").classList.remove("over"));
$("drop").addEventListener("drop", (event) => {
  event.preventDefault();
  $("drop").classList.remove("over");
  choose(event.dataTransfer.files[0]);
});
$("job").addEventListener("submit", run);
