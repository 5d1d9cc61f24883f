// What the editor's tests share. Its modules import pdf-lib, which is installed only in the build
// folder's copy of the site (PDFCRAFT_WORK_DIR, set by tests/CMakeLists.txt): the tests import from there.
import { createRequire } from "node:module";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

function folder(name) {
  if (!process.env[name]) throw new Error(`${name} is not set: run these tests through ctest (pdfcraft_unit) after building pdfcraft_site`);
  return process.env[name];
}

export const workDir = folder("PDFCRAFT_WORK_DIR");
export const siteDir = () => folder("PDFCRAFT_SITE_DIR");
export const importSource = (name) => import(pathToFileURL(join(workDir, "src", name)).href);
const require = createRequire(join(workDir, "package.json"));
export const pdfLib = await import(pathToFileURL(require.resolve("pdf-lib")).href);
const pdfjs = await import(pathToFileURL(require.resolve("pdfjs-dist/legacy/build/pdf.mjs")).href);
export const napi = require("@napi-rs/canvas");
const standardFontDataUrl = join(workDir, "node_modules", "pdfjs-dist", "standard_fonts") + "/";

// A canvas of `width` × `height` split into `colours` bands, left to right (or top to bottom).
export function bands(width, height, colours, { down = false } = {}) {
  const canvas = napi.createCanvas(width, height);
  const context = canvas.getContext("2d");
  colours.forEach((colour, i) => {
    context.fillStyle = colour;
    if (down) context.fillRect(0, (i * height) / colours.length, width, height / colours.length);
    else context.fillRect((i * width) / colours.length, 0, width / colours.length, height);
  });
  return canvas;
}

// A PDF of blank pages `widths` points wide (so their order can be read back) and 300 high.
export async function pdfOfWidths(widths) {
  const doc = await pdfLib.PDFDocument.create();
  for (const width of widths) doc.addPage([width, 300]);
  return doc.save();
}

export const jpegOf = async (canvas, quality = 95) => new Uint8Array(await canvas.encode("jpeg", quality));
export const pngOf = async (canvas) => new Uint8Array(await canvas.encode("png"));

// A TIFF block holding one orientation tag, in either byte order.
function tiffWithOrientation(orientation, little) {
  const bytes = new Uint8Array(26);
  const view = new DataView(bytes.buffer);
  bytes.set(little ? [0x49, 0x49] : [0x4d, 0x4d]);
  const fields = [[2, 16, 42], [4, 32, 8], [8, 16, 1], [10, 16, 0x0112], [12, 16, 3], [14, 32, 1], [18, 16, orientation]];
  for (const [at, bits, value] of fields) view[`setUint${bits}`](at, value, little);
  return bytes;
}

// The JPEG with an EXIF block saying `orientation` right after its start marker.
export function withExif(jpeg, orientation, { little = false } = {}) {
  const body = [...new TextEncoder().encode("Exif"), 0, 0, ...tiffWithOrientation(orientation, little)];
  return new Uint8Array([...jpeg.subarray(0, 2), 0xff, 0xe1, 0, body.length + 2, ...body, ...jpeg.subarray(2)]);
}

// The PNG with an eXIf chunk saying `orientation` after its header chunk (CRC left zero: unread).
export function pngWithExif(png, orientation) {
  const chunk = [0, 0, 0, 26, ...new TextEncoder().encode("eXIf"), ...tiffWithOrientation(orientation, false), 0, 0, 0, 0];
  return new Uint8Array([...png.subarray(0, 33), ...chunk, ...png.subarray(33)]);
}

export async function withPdf(bytes, use, options = {}) {
  const task = pdfjs.getDocument({ data: bytes.slice(), standardFontDataUrl, isEvalSupported: false, verbosity: 0, ...options });
  try {
    return await use(await task.promise);
  } finally {
    await task.destroy();
  }
}

// Draws page `number` (from 1) of the PDF `bytes`; `colourAt(x, y)` names a pixel red, blue or white.
export const drawPage = (bytes, number = 1, scale = 1) => withPdf(bytes, async (pdf) => {
  const page = await pdf.getPage(number);
  const viewport = page.getViewport({ scale });
  const canvas = napi.createCanvas(Math.ceil(viewport.width), Math.ceil(viewport.height));
  await page.render({ canvasContext: canvas.getContext("2d"), viewport, canvas }).promise;
  const { data } = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height);
  const colourAt = (x, y) => {
    const at = (Math.floor(y) * canvas.width + Math.floor(x)) * 4;
    const [r, g, b] = data.subarray(at, at + 3);
    if (r > 170 && g < 90 && b < 90) return "red";
    if (b > 170 && r < 90 && g < 90) return "blue";
    return r > 200 && g > 200 && b > 200 ? "white" : `rgb(${r},${g},${b})`;
  };
  return { width: canvas.width, height: canvas.height, colourAt, viewport };
});

// Every page's text as pdf.js extracts it (what search and copy in a reader see).
export const pageTexts = (bytes) => withPdf(bytes, async (pdf) => {
  const texts = [];
  for (let n = 1; n <= pdf.numPages; n += 1) {
    const { items } = await (await pdf.getPage(n)).getTextContent();
    texts.push(items.map((item) => item.str).join(" ").replace(/\s+/g, " ").trim());
  }
  return texts;
});
