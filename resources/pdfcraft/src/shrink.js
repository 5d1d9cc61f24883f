// "Make smaller": re-encodes a document's large page pictures as JPEG, one step of quality and
// scale at a time, until the file fits the size asked for. Pictures are never scaled below a
// resolution at which scanned text stays readable; when the size can't be reached above that,
// the smallest readable result is kept and the user is told.
import { PDFDocument, PDFName, PDFNumber, PDFArray, PDFDict, PDFRawStream } from "pdf-lib";
import { DocumentError } from "./model.js";

// Sizes the user picks from, in bytes, the most common portal limit first. Counted in thousands,
// so a file under "4 MB" is under it whichever way a portal counts.
export const MB = 1_000_000;
export const SIZE_TARGETS = [4 * MB, 2 * MB, 1 * MB, 10 * MB];

// Pictures at or below this many dots per inch of the page stop being scaled down.
export const READABLE_DPI = 110;

// From gentlest to strongest; each step's scale still never takes a picture below READABLE_DPI.
export const STEPS = [
  { quality: 0.8, scale: 1 },
  { quality: 0.65, scale: 1 },
  { quality: 0.6, scale: 0.75 },
  { quality: 0.55, scale: 0.6 },
  { quality: 0.5, scale: 0.5 },
  { quality: 0.45, scale: 0.4 },
  { quality: 0.4, scale: 0.3 },
];

// Pictures smaller than this aren't worth the loss.
const SMALLEST_WORTH_IT = 16 * 1024;

export function formatSize(bytes) {
  if (bytes < 1000) return `${bytes} bytes`;
  if (bytes < MB) return `${Math.round(bytes / 1000)} KB`;
  return `${(bytes / MB).toFixed(1)} MB`;
}

function filterOf(dict) {
  const filter = dict.lookup(PDFName.of("Filter"));
  if (filter instanceof PDFName) return filter.decodeText();
  if (filter instanceof PDFArray && filter.size() === 1) return filter.lookup(0, PDFName).decodeText();
  return filter === undefined ? "none" : "other";
}

// Colour components of a picture's colour space, if it is one a canvas can stand in for.
function componentsOf(dict) {
  const space = dict.lookup(PDFName.of("ColorSpace"));
  if (space instanceof PDFName) return { DeviceRGB: 3, DeviceGray: 1 }[space.decodeText()] ?? null;
  if (space instanceof PDFArray && space.size() === 2 && space.lookup(0, PDFName).decodeText() === "ICCBased") {
    const n = space.lookup(1)?.dict?.lookup(PDFName.of("N"));
    return n instanceof PDFNumber && (n.asNumber() === 1 || n.asNumber() === 3) ? n.asNumber() : null;
  }
  return null;
}

const numberIn = (dict, key) => {
  const value = dict.lookup(PDFName.of(key));
  return value instanceof PDFNumber ? value.asNumber() : null;
};

// The dots per inch each picture is shown at on the pages that draw it directly (the lowest when
// several do), by the picture's object number, taking it as filling the page.
function shownResolutions(doc) {
  const dpi = new Map();
  for (const page of doc.getPages()) {
    const { width, height } = page.getSize();
    const xObjects = page.node.Resources()?.lookup(PDFName.of("XObject"));
    if (!(xObjects instanceof PDFDict)) continue;
    for (const [, ref] of xObjects.entries()) {
      const stream = doc.context.lookup(ref);
      if (!(stream instanceof PDFRawStream)) continue;
      const w = numberIn(stream.dict, "Width");
      const h = numberIn(stream.dict, "Height");
      if (!w || !h) continue;
      // The picture may be drawn turned; of the two ways it can fill the page, the lower
      // resolution is taken, so a picture is never thought sharper than it is.
      const here = 72 * Math.min(Math.max(w / width, h / height), Math.max(h / width, w / height));
      const key = ref.toString();
      dpi.set(key, Math.min(dpi.get(key) ?? Infinity, here));
    }
  }
  return dpi;
}

// The pictures worth re-encoding: 8-bit RGB or grey, stored as JPEG or plain deflate, big enough.
export function largePictures(doc) {
  const dpi = shownResolutions(doc);
  const found = [];
  for (const [ref, object] of doc.context.enumerateIndirectObjects()) {
    if (!(object instanceof PDFRawStream)) continue;
    const dict = object.dict;
    if (dict.lookup(PDFName.of("Subtype")) !== PDFName.of("Image")) continue;
    if (dict.lookup(PDFName.of("ImageMask")) || dict.lookup(PDFName.of("Decode")) || dict.lookup(PDFName.of("Mask"))) continue;
    if (numberIn(dict, "BitsPerComponent") !== 8 || object.contents.length < SMALLEST_WORTH_IT) continue;
    const filter = filterOf(dict);
    const components = componentsOf(dict);
    if (!components || !(filter === "DCTDecode" || filter === "FlateDecode")) continue;
    const parms = dict.lookup(PDFName.of("DecodeParms"));
    if (filter === "FlateDecode" && parms instanceof PDFDict && (numberIn(parms, "Predictor") ?? 1) > 1) continue;
    const width = numberIn(dict, "Width");
    const height = numberIn(dict, "Height");
    if (!width || !height) continue;
    found.push({ ref, width, height, filter, components, size: object.contents.length, dpi: dpi.get(ref.toString()) ?? null });
  }
  return found;
}

async function inflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// Draws the picture, scaled, onto a new canvas of the kit's and answers its JPEG bytes.
async function reencode(picture, contents, { quality, scale }, kit) {
  const width = Math.max(1, Math.round(picture.width * scale));
  const height = Math.max(1, Math.round(picture.height * scale));
  let source;
  if (picture.filter === "DCTDecode") {
    source = await kit.decodeJpeg(contents);
  } else {
    const raw = await inflate(contents);
    const count = picture.width * picture.height;
    if (raw.length < count * picture.components) throw new DocumentError("A picture in this PDF is damaged.");
    source = kit.canvas(picture.width, picture.height);
    const context = source.getContext("2d");
    const image = context.createImageData(picture.width, picture.height);
    for (let i = 0; i < count; i += 1) {
      const at = i * picture.components;
      image.data[i * 4] = raw[at];
      image.data[i * 4 + 1] = raw[picture.components === 3 ? at + 1 : at];
      image.data[i * 4 + 2] = raw[picture.components === 3 ? at + 2 : at];
      image.data[i * 4 + 3] = 255;
    }
    context.putImageData(image, 0, 0);
  }
  const canvas = kit.canvas(width, height);
  const context = canvas.getContext("2d");
  context.fillStyle = "#fff";
  context.fillRect(0, 0, width, height);
  context.drawImage(source, 0, 0, width, height);
  source.close?.();
  return { bytes: await kit.jpeg(canvas, quality), width, height };
}

function replacePicture(doc, picture, encoded) {
  const old = doc.context.lookup(picture.ref, PDFRawStream);
  const dict = old.dict.clone(doc.context);
  for (const key of ["DecodeParms", "Length", "Filter"]) dict.delete(PDFName.of(key));
  dict.set(PDFName.of("Filter"), PDFName.of("DCTDecode"));
  dict.set(PDFName.of("Width"), PDFNumber.of(encoded.width));
  dict.set(PDFName.of("Height"), PDFNumber.of(encoded.height));
  dict.set(PDFName.of("ColorSpace"), PDFName.of("DeviceRGB"));
  dict.set(PDFName.of("BitsPerComponent"), PDFNumber.of(8));
  doc.context.assign(picture.ref, PDFRawStream.of(dict, encoded.bytes));
}

// Makes the PDF `bytes` at most `target` bytes if it can. `kit` draws and encodes pictures:
// { canvas(width, height), decodeJpeg(bytes) → something drawImage takes, jpeg(canvas, quality) → bytes }.
// Answers { bytes, reached, before, after, pictures, replaced } where `pictures` counts those
// re-encoded and `replaced` holds them for applySmaller.
export async function makeSmaller(bytes, target, kit, { readableDpi = READABLE_DPI, onStep = null } = {}) {
  if (!(target > 0)) throw new DocumentError("Choose the size the file should fit in.");
  const before = bytes.length;
  if (before <= target) return { bytes, reached: true, before, after: before, pictures: 0, replaced: [] };
  let best = { bytes, reached: false, before, after: before, pictures: 0, replaced: [] };
  for (const [number, step] of STEPS.entries()) {
    onStep?.(number, STEPS.length);
    const doc = await PDFDocument.load(bytes, { updateMetadata: false });
    const replaced = [];
    for (const picture of largePictures(doc)) {
      const floor = picture.dpi ? Math.min(1, readableDpi / picture.dpi) : 1;
      const scale = Math.min(1, Math.max(step.scale, floor));
      const old = doc.context.lookup(picture.ref, PDFRawStream).contents;
      let encoded;
      try {
        encoded = await reencode(picture, old, { quality: step.quality, scale }, kit);
      } catch (error) {
        if (error instanceof DocumentError) throw error;
        continue; // a picture the canvas can't decode keeps its own bytes
      }
      if (encoded.bytes.length < old.length) {
        replacePicture(doc, picture, encoded);
        replaced.push({ picture, encoded });
      }
    }
    if (replaced.length === 0) continue;
    const saved = await doc.save();
    if (saved.length < best.after) {
      best = { bytes: saved, reached: saved.length <= target, before, after: saved.length, pictures: replaced.length, replaced };
    }
    if (best.reached) return best;
  }
  return best;
}

// Makes in `doc` (a fresh copy of the bytes makeSmaller was given) the changes that made them smaller.
export function applySmaller(doc, { replaced }) {
  for (const { picture, encoded } of replaced) replacePicture(doc, picture, encoded);
}

// What the window says after making a file smaller.
export function smallerMessage({ reached, before, after, pictures }, target) {
  if (reached && after === before) return `The file is ${formatSize(after)}, already within ${formatSize(target)}.`;
  if (reached) return `The file went from ${formatSize(before)} to ${formatSize(after)} (${pictures} ${pictures === 1 ? "picture" : "pictures"} re-encoded).`;
  if (after < before) {
    return `The file can't get within ${formatSize(target)} without making its text hard to read; `
      + `it is now ${formatSize(after)}, down from ${formatSize(before)}.`;
  }
  return `The file can't get within ${formatSize(target)} without making its text hard to read, so it stays ${formatSize(before)}.`;
}

// The kit for the editor's window: canvases of the page, JPEGs decoded by the browser.
export const browserKit = {
  canvas(width, height) {
    const canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    return canvas;
  },
  decodeJpeg: (bytes) => createImageBitmap(new Blob([bytes], { type: "image/jpeg" })),
  jpeg: (canvas, quality) => new Promise((resolve, reject) => {
    canvas.toBlob((blob) => {
      if (!blob) reject(new Error("the picture couldn't be encoded"));
      else blob.arrayBuffer().then((buffer) => resolve(new Uint8Array(buffer)), reject);
    }, "image/jpeg", quality);
  }),
};
