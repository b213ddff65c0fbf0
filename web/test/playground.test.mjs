// The playground page in a real browser: Debian's Chromium, headless, driven by playwright-core,
// the page served from 127.0.0.1. A picture goes in through the file input, each operation runs
// (in the page's Web Worker) and the downloaded result must be the native program's file byte
// for byte; a broken file must show the library's message.
//   KELVANE_CLI=<native kelvane> PLAYWRIGHT=<folder holding node_modules/playwright-core>
//   [KELVANE_SCREENSHOT=docs/playground.png] node --test web/test/
import { test } from "node:test";
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { execFileSync, spawnSync } from "node:child_process";
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

// The page's numbers for each operation: the host layer's examples, as the command line takes them.
const { operations } = await import("../../js/index.js");
const DEFAULTS = Object.fromEntries((await operations()).operations.map((entry) => [entry.name, entry.parameters.map((p) => String(p.example))]));
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".mjs": "text/javascript", ".css": "text/css" };

// The project's files over HTTP on 127.0.0.1, the web/ and js/ folders alone.
function serve() {
  const server = createServer((request, response) => {
    const file = path.join(root, decodeURIComponent(new URL(request.url, "http://x").pathname));
    const inside = file.startsWith(path.join(root, "web")) || file.startsWith(path.join(root, "js"));
    const target = file.endsWith("/") ? path.join(file, "index.html") : file;
    if (!inside || !existsSync(target)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": TYPES[path.extname(target)] ?? "application/octet-stream" });
    response.end(readFileSync(target));
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

test("the playground runs every operation as the native library does", { skip: missing, timeout: 300000 }, async () => {
  const { chromium: browserType } = createRequire(path.join(playwright, "package.json"))("playwright-core");
  const folder = mkdtempSync(path.join(tmpdir(), "kelvane-page-"));
  const server = await serve();
  const browser = await browserType.launch({ executablePath: chromium, args: ["--no-sandbox"] });
  try {
    // A 64 x 48 colour picture with transparent corners, as PNG.
    const ppm = path.join(folder, "in.ppm"), input = path.join(folder, "in.png");
    const pixels = Buffer.alloc(64 * 48 * 3);
    for (let i = 0; i < pixels.length; ++i) pixels[i] = (i * 7919) % 251;
    writeFileSync(ppm, Buffer.concat([Buffer.from("P6 64 48 255\n"), pixels]));
    execFileSync(native, ["rounded", ppm, input, "12"]);
    const page = await browser.newPage({ acceptDownloads: true, viewport: { width: 1100, height: 700 } });
    await page.goto(`http://127.0.0.1:${server.address().port}/web/`);
    await page.setInputFiles("#picture", input);
    for (const [operation, numbers] of Object.entries(DEFAULTS)) {
      for (const format of ["png", "jpg"]) {
        await page.selectOption("#operation", operation);
        await page.selectOption("#format", format);
        await page.click("#run");
        await page.waitForFunction((op) => document.getElementById("status").textContent.startsWith(`${op}:`), operation);
        const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
        const got = path.join(folder, `page-${operation}.${format}`), want = path.join(folder, `native-${operation}.${format}`);
        await download.saveAs(got);
        execFileSync(native, [operation, input, want, ...numbers]);
        assert.deepEqual(readFileSync(got), readFileSync(want), `${operation} to ${format}`);
      }
    }
    if (process.env.KELVANE_SCREENSHOT) await page.screenshot({ path: process.env.KELVANE_SCREENSHOT });
    // A broken file: the library's message, as the native library words it for such a file.
    const broken = path.join(folder, "broken.png");
    writeFileSync(broken, "not a picture");
    await page.setInputFiles("#picture", broken);
    await page.click("#run");
    await page.waitForSelector("#status.error");
    const shown = await page.textContent("#status");
    const said = spawnSync(native, ["rounded", broken, path.join(folder, "x.png"), "4"], { encoding: "utf8" }).stderr;
    const reason = /^kelvane: cannot decode '.*': (.*)$/m.exec(said)[1];
    assert.match(shown, new RegExp(`^cannot decode '[^']*': ${reason}$`));
  } finally {
    await browser.close();
    server.close();
    rmSync(folder, { recursive: true, force: true });
  }
});
