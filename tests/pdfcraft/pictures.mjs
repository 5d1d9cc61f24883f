// Pictures and PDFs the tests make and read back: JPEGs and PNGs with an EXIF orientation, pdf.js
// to draw saved pages and read their text, qpdf to check them.
import { spawnSync } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { napi, pdfjs, workDir } from "./build-copy.mjs";

const standardFontDataUrl = join(workDir, "node_modules", "pdfjs-dist", "standard_fonts") + "/";

// Draws with the canvas kit that "Make smaller" uses in the window, here in Node.
export const nodeKit = {
  canvas: (width, height) => napi.createCanvas(width, height),
  decodeJpeg: (bytes) => napi.loadImage(Buffer.from(bytes)),
  jpeg: async (canvas, quality) => new Uint8Array(await canvas.encode("jpeg", Math.round(quality * 100))),
};

// A canvas of `width` × `height` split into `colours` bands, left to right (or top to bottom).
export function bands(width, height, colours, { down = false, clear = false } = {}) {
  const canvas = napi.createCanvas(width, height);
  const context = canvas.getContext("2d");
  if (!clear) {
    context.fillStyle = "#fff";
    context.fillRect(0, 0, width, height);
  }
  colours.forEach((colour, i) => {
    context.fillStyle = colour;
    if (down) context.fillRect(0, (i * height) / colours.length, width, height / colours.length);
    else context.fillRect((i * width) / colours.length, 0, width / colours.length, height);
  });
  return canvas;
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

// The JPEG with an EXIF block saying `orientation`, put right after its start marker.
export function withExif(jpeg, orientation, { little = false } = {}) {
  const tiff = tiffWithOrientation(orientation, little);
  const body = new Uint8Array([...new TextEncoder().encode("Exif"), 0, 0, ...tiff]);
  const segment = new Uint8Array([0xff, 0xe1, (body.length + 2) >> 8, (body.length + 2) & 0xff, ...body]);
  return new Uint8Array([...jpeg.subarray(0, 2), ...segment, ...jpeg.subarray(2)]);
}

// The PNG with an eXIf chunk saying `orientation` after its header chunk (the CRC isn't checked
// by anything here, so it is left zero).
export function pngWithExif(png, orientation) {
  const tiff = tiffWithOrientation(orientation, false);
  const chunk = new Uint8Array(12 + tiff.length);
  new DataView(chunk.buffer).setUint32(0, tiff.length);
  chunk.set(new TextEncoder().encode("eXIf"), 4);
  chunk.set(tiff, 8);
  const afterHeader = 8 + 25;
  return new Uint8Array([...png.subarray(0, afterHeader), ...chunk, ...png.subarray(afterHeader)]);
}

// Opens the PDF `bytes` with pdf.js for `use`, and closes it after.
export async function withPdf(bytes, use, options = {}) {
  const task = pdfjs.getDocument({ data: bytes.slice(), standardFontDataUrl, isEvalSupported: false, verbosity: 0, ...options });
  try {
    return await use(await task.promise);
  } finally {
    await task.destroy();
  }
}

// Draws page `number` (from 1) of the PDF `bytes` and answers a way to read its pixels.
export const drawPage = (bytes, number = 1, scale = 1) => withPdf(bytes, async (pdf) => {
  const page = await pdf.getPage(number);
  const viewport = page.getViewport({ scale });
  const canvas = napi.createCanvas(Math.ceil(viewport.width), Math.ceil(viewport.height));
  await page.render({ canvasContext: canvas.getContext("2d"), viewport, canvas }).promise;
  const { data } = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height);
  const pixel = (x, y) => {
    const at = (Math.floor(y) * canvas.width + Math.floor(x)) * 4;
    return [data[at], data[at + 1], data[at + 2]];
  };
  return { width: canvas.width, height: canvas.height, pixel, viewport };
});

// The colour a pixel is closest to, of red, blue and white.
export function colourName([r, g, b]) {
  if (r > 170 && g < 90 && b < 90) return "red";
  if (b > 170 && r < 90 && g < 90) return "blue";
  if (r > 200 && g > 200 && b > 200) return "white";
  return `rgb(${r},${g},${b})`;
}

// Every page's text as pdf.js extracts it (what search and copy in a reader see).
export const pageTexts = (bytes) => withPdf(bytes, async (pdf) => {
  const texts = [];
  for (let n = 1; n <= pdf.numPages; n += 1) {
    const { items } = await (await pdf.getPage(n)).getTextContent();
    texts.push(items.map((item) => item.str).join(" ").replace(/\s+/g, " ").trim());
  }
  return texts;
});

// qpdf run with `args` on the bytes: its exit status (0: nothing wrong) and what it printed.
export function qpdf(bytes, ...args) {
  const folder = mkdtempSync(join(tmpdir(), "pdfcraft-"));
  try {
    writeFileSync(join(folder, "file.pdf"), bytes);
    const run = spawnSync("qpdf", [...args, join(folder, "file.pdf")], { encoding: "utf8", maxBuffer: 1 << 26 });
    if (run.error) throw run.error;
    return run;
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}
