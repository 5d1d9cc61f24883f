// Measures how the editor's view copes with a long scanned file: a 300-page PDF of 150 dpi page
// scans, made here, opened with pdf.js the way the view opens it.
//   PDFCRAFT_WORK_DIR=build-tests/pdfcraft-work node bench/pdfcraft_large_bench.mjs [--pages 300] [--out file.pdf]
// Prints the file's size, the time to the first page drawn, the time to have every page's size,
// and the memory held after scrolling through every page with and without giving back the
// pages out of sight.
import { writeFileSync } from "node:fs";
import { performance } from "node:perf_hooks";
import { createRequire } from "node:module";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

// The editor's modules, pdf-lib, pdf.js and the canvas kit, from the build folder's copy of the site.
const workDir = resolve(process.env.PDFCRAFT_WORK_DIR ?? "");
if (!process.env.PDFCRAFT_WORK_DIR) throw new Error("PDFCRAFT_WORK_DIR is not set: point it at <build>/pdfcraft-work after building pdfcraft_site");
const require = createRequire(join(workDir, "package.json"));
const napi = require("@napi-rs/canvas");
const pdfLib = await import(pathToFileURL(require.resolve("pdf-lib")).href);
const pdfjs = await import(pathToFileURL(require.resolve("pdfjs-dist/legacy/build/pdf.mjs")).href);
const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at < 0 ? fallback : process.argv[at + 1];
};
const pageCount = Number(option("--pages", 300));
const { loadPages } = await import(pathToFileURL(join(workDir, "src", "pageload.js")).href);

// A page scan: off-white paper with lines of dark "words" and a little grain, different on every page.
function scan(seed) {
  const width = 1275;
  const height = 1650;
  const canvas = napi.createCanvas(width, height);
  const context = canvas.getContext("2d");
  context.fillStyle = "#f7f5ef";
  context.fillRect(0, 0, width, height);
  let state = seed * 7919 + 1;
  const random = () => { state = (Math.imul(state, 1103515245) + 12345) >>> 0; return state / 2 ** 32; };
  context.fillStyle = "#222";
  for (let line = 0; line < 42; line += 1) {
    let x = 120;
    const y = 150 + line * 32;
    while (x < width - 160) {
      const word = 20 + random() * 90;
      context.fillRect(x, y, word, 14);
      x += word + 14;
    }
  }
  for (let i = 0; i < 4000; i += 1) {
    context.fillStyle = `rgba(0,0,0,${random() * 0.3})`;
    context.fillRect(random() * width, random() * height, 2, 2);
  }
  return canvas.encode("jpeg", 70);
}

async function makeFile() {
  const doc = await pdfLib.PDFDocument.create();
  for (let n = 0; n < pageCount; n += 1) {
    const image = await doc.embedJpg(await scan(n));
    doc.addPage([612, 792]).drawImage(image, { x: 0, y: 0, width: 612, height: 792 });
  }
  return doc.save();
}

const mb = (bytes) => `${(bytes / 1e6).toFixed(1)} MB`;
const ms = (start) => `${Math.round(performance.now() - start)} ms`;

const startMaking = performance.now();
const bytes = await makeFile();
console.log(`made ${pageCount} scanned pages, ${mb(bytes.length)}, in ${ms(startMaking)}`);
if (option("--out", null)) writeFileSync(option("--out"), bytes);

const standardFontDataUrl = join(workDir, "node_modules", "pdfjs-dist", "standard_fonts") + "/";
async function open() {
  const task = pdfjs.getDocument({ data: bytes.slice(), standardFontDataUrl, isEvalSupported: false, verbosity: 0 });
  return { task, pdf: await task.promise };
}

async function draw(page, scale = 1.25) {
  const viewport = page.getViewport({ scale });
  const canvas = napi.createCanvas(Math.floor(viewport.width), Math.floor(viewport.height));
  await page.render({ canvasContext: canvas.getContext("2d"), viewport, canvas }).promise;
  return canvas;
}

// The first page, as the view draws it: as soon as its own size is known, while the other pages'
// sizes are still arriving.
{
  const start = performance.now();
  const { task, pdf } = await open();
  const opened = ms(start);
  const loaded = await loadPages(pdf);
  await draw(loaded.pages[0]);
  const first = ms(start);
  await loaded.ready;
  console.log(`open: ${opened}; first page drawn: ${first}; every page's size: ${ms(start)}`);
  await task.destroy();
}
{
  const start = performance.now();
  const { task, pdf } = await open();
  for (let n = 1; n <= pdf.numPages; n += 1) await pdf.getPage(n);
  console.log(`every page's size asked one after another: ${ms(start)}`);
  await task.destroy();
}

// Scrolling through every page: the view keeps a canvas for each page; with `release`, a page out
// of sight empties its canvas and lets pdf.js drop what it decoded for it.
async function scrollThrough(release) {
  global.gc?.();
  const base = process.memoryUsage();
  const { task, pdf } = await open();
  const canvases = [];
  const start = performance.now();
  let peak = 0;
  for (let n = 1; n <= pdf.numPages; n += 1) {
    const page = await pdf.getPage(n);
    canvases.push(await draw(page));
    if (release && canvases.length > 3) {
      const old = canvases[canvases.length - 4];
      old.width = 0;
      old.height = 0;
      (await pdf.getPage(n - 3)).cleanup();
    }
    peak = Math.max(peak, process.memoryUsage().rss - base.rss);
  }
  global.gc?.();
  const held = process.memoryUsage().rss - base.rss;
  console.log(`scrolled through ${pdf.numPages} pages ${release ? "giving back pages out of sight" : "keeping every page drawn"}: `
    + `${ms(start)}, memory grew by ${mb(peak)} at most and holds ${mb(held)} at the end`);
  await task.destroy();
  return canvases.length;
}
await scrollThrough(true);
await scrollThrough(false);
