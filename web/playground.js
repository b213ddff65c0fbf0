// The playground: the page collects a picture and the numbers, a Web Worker runs the library (so
// the page stays responsive on a 12-megapixel photo), the result comes back as bytes. The
// operations and their numbers come from the host layer's table, which the worker sends first.
const $ = (id) => document.getElementById(id);
const worker = new Worker(new URL("worker.js", import.meta.url), { type: "module" });
let picture = null, resultUrl = null, inputUrl = null, table = null;

function entryOf(name) {
  return table.operations.find((entry) => entry.name === name);
}

function showOperations() {
  $("operation").replaceChildren(...table.operations.map((entry) => {
    const option = document.createElement("option");
    option.value = entry.name;
    option.textContent = `${entry.name}: ${entry.summary}`;
    return option;
  }));
  }

function showNumbers() {
  $("numbers").replaceChildren(...entryOf($("operation").value).parameters.map(({ name, example: value }) => {
    const label = document.createElement("label");
    label.textContent = name;
    const input = document.createElement("input");
    Object.assign(input, { type: "number", step: 1, value, name, id: `n-${name}` });
    label.append(input);
    return label;
  }));
}

function status(text, error = false) {
  $("status").textContent = text;
  $("status").classList.toggle("error", error);
}

function choose(file) {
  if (!file) return;
  picture = file;
  if (inputUrl) URL.revokeObjectURL(inputUrl);
  $("input-view").src = inputUrl = URL.createObjectURL(file);
  $("run").disabled = false;
  status(`${file.name}, ${file.size} bytes`);
}

// The options the library takes, from the fields: each number under its option, several numbers
// of one option (a colour) as a list.
function options() {
  const chosen = {};
  for (const { name, option } of entryOf($("operation").value).parameters) {
    const value = Number($(`n-${name}`).value);
    if (option === name) chosen[option] = value;
    else (chosen[option] ??= []).push(value);
  }
  return chosen;
}

worker.onmessage = ({ data }) => {
  if (data.table) {
    table = data.table;
    showOperations();
    return;
  }
  $("run").disabled = false;
  if (data.error) {
    status(data.error, true);
    return;
  }
  const type = { png: "image/png", jpg: "image/jpeg", bmp: "image/bmp" }[data.format];
  if (resultUrl) URL.revokeObjectURL(resultUrl);
  resultUrl = URL.createObjectURL(new Blob([data.bytes], { type }));
  $("result-view").src = resultUrl;
  Object.assign($("download"), { href: resultUrl, download: `${data.operation}.${data.format}`, hidden: false });
  status(`${data.operation}: ${data.bytes.length} bytes in ${data.seconds.toFixed(2)} s`);
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
$("job").addEventListener("submit", (event) => {
  event.preventDefault();
  if (!picture) return;
  $("run").disabled = true;
  status("working...");
  worker.postMessage({ operation: $("operation").value, picture, options: options(), format: $("format").value });
});
