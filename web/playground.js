// The playground: the page collects a picture and the numbers, a Web Worker runs the library (so
// the page stays responsive on a 12-megapixel photo), the result comes back as bytes.
const NUMBERS = {
  solid: [["border", 10], ["r", 255], ["g", 255], ["b", 255]],
  padding: [["padding", 10], ["r", 255], ["g", 255], ["b", 255]],
  sides: [["top", 10], ["right", 10], ["bottom", 40], ["left", 10], ["r", 255], ["g", 255], ["b", 255]],
  rounded: [["radius", 40]],
  shadow: [["dx", 10], ["dy", 10], ["blur", 20], ["r", 0], ["g", 0], ["b", 0]],
};
const $ = (id) => document.getElementById(id);
const worker = new Worker(new URL("worker.js", import.meta.url), { type: "module" });
let picture = null, resultUrl = null, inputUrl = null;

function showNumbers() {
  $("numbers").replaceChildren(...NUMBERS[$("operation").value].map(([name, value]) => {
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

// The options the library takes, from the fields: the numbers by name, the colour as [r, g, b].
function options() {
  const values = Object.fromEntries([...$("numbers").querySelectorAll("input")].map((i) => [i.name, Number(i.value)]));
  const { r, g, b, ...rest } = values;
  return r === undefined ? rest : { ...rest, color: [r, g, b] };
}

worker.onmessage = ({ data }) => {
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
showNumbers();
