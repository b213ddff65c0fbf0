// The playground page in a real browser: Debian's Chromium, headless, driven by playwright-core,
// the page served from 127.0.0.1 under a strict Content-Security-Policy. A picture goes in through
// the file input, each operation runs (in the page's Web Worker) and the downloaded result, named
// after the input and the operation, must be the native program's file byte for byte; no policy
// is violated meanwhile. Then: a refusal after a success (the old result gone), a name that holds
// HTML (shown as text), a PSD previewed through the library, a rotated photo's warning, inline
// checks of the numbers, the page without its module, axe-core's findings and the page at 390 px.
//   KELVANE_CLI=<native kelvane> PLAYWRIGHT=<folder holding node_modules/playwright-core and axe-core>
//   [KELVANE_SCREENSHOTS=docs] node --test web/test/
import { test } from "node:test";
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, rmSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const native = process.env.KELVANE_CLI;
const chromium = "/usr/bin/chromium";
const playwright = process.env.PLAYWRIGHT;
const missing = !native ? "KELVANE_CLI names no kelvane program"
  : !existsSync(chromium) ? "no Chromium at /usr/bin/chromium"
  : !playwright ? "PLAYWRIGHT names no folder with playwright-core" : false;
// What the page and its worker may do: the page's own scripts, worker and styles, pictures from
// blob: URLs; the worker also compiles WebAssembly and reads the module's embedded data: URL.
const POLICY = "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; connect-src data:; style-src 'self'; img-src 'self' blob:; base-uri 'none'; form-action 'none'; object-src 'none'";
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".mjs": "text/javascript", ".css": "text/css" };

// The project's web/ and js/ folders over HTTP on 127.0.0.1, with the policy; `hidden` answers 404.
function serve(hidden = []) {
  const server = createServer((request, response) => {
    const file = path.join(root, decodeURIComponent(new URL(request.url, "http://x").pathname));
    const inside = file.startsWith(path.join(root, "web")) || file.startsWith(path.join(root, "js"));
    const target = file.endsWith("/") ? path.join(file, "index.html") : file;
    if (!inside || !existsSync(target) || hidden.some((name) => target.endsWith(name))) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": TYPES[path.extname(target)] ?? "application/octet-stream", "content-security-policy": POLICY });
    response.end(readFileSync(target));
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// A minimal uncompressed RGB PSD, which the browser cannot draw.
function psd(width, height) {
  const header = Buffer.alloc(26 + 12 + 2);
  header.write("8BPS", 0);
  header.writeUInt16BE(1, 4);
  header.writeUInt16BE(3, 12);
  header.writeUInt32BE(height, 14);
  header.writeUInt32BE(width, 18);
  header.writeUInt16BE(8, 22);
  header.writeUInt16BE(3, 24); // RGB; then no colour data, resources or layers, raw channels
  const planes = Buffer.alloc(3 * width * height);
  for (let i = 0; i < planes.length; ++i) planes[i] = (i * 13) % 256;
  return Buffer.concat([header, planes]);
}

async function open(browser, port, viewport = { width: 1100, height: 760 }) {
  const page = await browser.newPage({ acceptDownloads: true, viewport });
  const violations = [];
  page.on("console", (message) => {
    if (/Content Security Policy/i.test(message.text())) violations.push(message.text());
  });
  await page.addInitScript(() => document.addEventListener("securitypolicyviolation", (e) => console.error(`Content Security Policy: ${e.violatedDirective} ${e.blockedURI}`)));
  await page.goto(`http://127.0.0.1:${port}/web/`);
  return { page, violations };
}

const statusOf = (page) => page.textContent("#status");

test("the playground runs every operation as the native library does, within its policy", { skip: missing, timeout: 300000 }, async () => {
  const { chromium: browserType } = createRequire(path.join(playwright, "package.json"))("playwright-core");
  const { operations } = await import("../../js/index.js");
  const table = await operations();
  const folder = mkdtempSync(path.join(tmpdir(), "kelvane-page-"));
  const server = await serve(), port = server.address().port;
  const browser = await browserType.launch({ executablePath: chromium, args: ["--no-sandbox"] });
  try {
    // A 64 x 48 colour picture with transparent corners, as PNG.
    const ppm = path.join(folder, "in.ppm"), input = path.join(folder, "in.png");
    const pixels = Buffer.alloc(64 * 48 * 3);
    for (let i = 0; i < pixels.length; ++i) pixels[i] = (i * 7919) % 251;
    writeFileSync(ppm, Buffer.concat([Buffer.from("P6 64 48 255\n"), pixels]));
    execFileSync(native, ["rounded", ppm, input, "12"]);
    const { page, violations } = await open(browser, port);
    await page.waitForFunction(() => !document.getElementById("operation").disabled);
    await page.setInputFiles("#picture", input);
    for (const entry of table.operations) {
      for (const format of ["png", "jpg"]) {
        await page.selectOption("#operation", entry.name);
        await page.selectOption("#format", format);
        await page.click("#run");
        await page.waitForSelector("#status.done");
        const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
        assert.equal(download.suggestedFilename(), `in-${entry.name}.${format}`);
        const got = path.join(folder, `page.${format}`), want = path.join(folder, `native.${format}`);
        await download.saveAs(got);
        execFileSync(native, [entry.name, input, want, ...entry.parameters.map((p) => String(p.example))]);
        assert.deepEqual(readFileSync(got), readFileSync(want), `${entry.name} to ${format}`);
      }
    }
    assert.match(await page.textContent("#result-size"), /\d+ × \d+ pixels, [\d.]+ (bytes|KB)$/);
    if (process.env.KELVANE_SCREENSHOTS) await page.screenshot({ path: path.join(process.env.KELVANE_SCREENSHOTS, "playground.png"), fullPage: true });
    // A refusal after a success: the library's message names the chosen file, the old result is gone.
    await page.setInputFiles("#picture", { name: "<img src=x onerror=alert(1)>.png", mimeType: "image/png", buffer: Buffer.from("not a picture") });
    assert.equal(await page.isHidden("#result-view"), true);
    await page.click("#run");
    await page.waitForSelector("#status.error");
    assert.equal(await statusOf(page), "cannot decode '<img src=x onerror=alert(1)>.png': unknown image type");
    assert.equal(await page.locator("img").count(), 2); // the name stayed text
    assert.equal(await page.isHidden("#download"), true);
    // A PSD: previewed through the library, with its size.
    await page.setInputFiles("#picture", { name: "layers.psd", mimeType: "image/vnd.adobe.photoshop", buffer: psd(20, 12) });
    await page.waitForFunction(() => document.getElementById("input-size").textContent.includes("20 × 12 pixels"));
    // Numbers checked inline: a negative width and a hex colour that is none.
    await page.selectOption("#operation", table.operations[0].name);
    await page.fill(`#n-${table.operations[0].parameters[0].option}`, "-1");
    assert.equal(await page.isDisabled("#run"), true);
    await page.fill(`#n-${table.operations[0].parameters[0].option}`, "2");
    await page.fill("#n-color-hex", "#12345");
    assert.equal(await page.isDisabled("#run"), true);
    await page.fill("#n-color-hex", "#0a141e");
    assert.equal(await page.inputValue("#n-color"), "#0a141e");
    assert.equal(await page.isDisabled("#run"), false);
    assert.deepEqual(violations, []);
  } finally {
    await browser.close();
    server.close();
    rmSync(folder, { recursive: true, force: true });
  }
});

test("a rotated photo is warned about; the page is accessible and fits a phone", { skip: missing, timeout: 300000 }, async () => {
  const { chromium: browserType } = createRequire(path.join(playwright, "package.json"))("playwright-core");
  const axe = readFileSync(createRequire(path.join(playwright, "package.json")).resolve("axe-core/axe.min.js"), "utf8");
  const folder = mkdtempSync(path.join(tmpdir(), "kelvane-page-"));
  const server = await serve(), port = server.address().port;
  const browser = await browserType.launch({ executablePath: chromium, args: ["--no-sandbox"] });
  try {
    writeFileSync(path.join(folder, "in.pgm"), Buffer.concat([Buffer.from("P5 8 6 255\n"), Buffer.alloc(48, 90)]));
    execFileSync(native, ["rounded", path.join(folder, "in.pgm"), path.join(folder, "plain.jpg"), "0"]);
    const plain = readFileSync(path.join(folder, "plain.jpg"));
    const exif = Buffer.from("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", "latin1");
    const length = Buffer.from([0xff, 0xe1, (exif.length + 2) >> 8, (exif.length + 2) & 255]);
    const rotated = Buffer.concat([plain.subarray(0, 2), length, exif, plain.subarray(2)]);
    const { page, violations } = await open(browser, port, { width: 390, height: 844 });
    await page.waitForFunction(() => !document.getElementById("operation").disabled);
    await page.setInputFiles("#picture", { name: "turned.jpg", mimeType: "image/jpeg", buffer: rotated });
    await page.click("#run");
    await page.waitForSelector("#status.done");
    assert.match(await page.textContent("#warnings"), /turned\.jpg is stored rotated \(EXIF orientation 6\)/);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth), "no horizontal scrolling at 390 px");
    if (process.env.KELVANE_SCREENSHOTS) await page.screenshot({ path: path.join(process.env.KELVANE_SCREENSHOTS, "playground-narrow.png"), fullPage: true });
    await page.evaluate(axe);
    const found = await page.evaluate(async () => (await window.axe.run()).violations.map((v) => ({ id: v.id, impact: v.impact })));
    assert.deepEqual(found.filter((v) => v.impact === "serious" || v.impact === "critical"), []);
    assert.deepEqual(violations, []);
    // Without the module (a clone where scripts/wasm-build.sh has not run), the page says so.
    const bare = await serve(["kelvane.mjs", "operations.js"]);
    const { page: unbuilt } = await open(browser, bare.address().port);
    await unbuilt.waitForSelector("#status.error");
    assert.match(await statusOf(unbuilt), /^The WebAssembly module could not be loaded: run scripts\/wasm-build\.sh/);
    bare.close();
  } finally {
    await browser.close();
    server.close();
    rmSync(folder, { recursive: true, force: true });
  }
});
