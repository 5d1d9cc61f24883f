// Pages from other files: another PDF's pages, JPEG and PNG scans as pages of their own, several
// files merged into one, and chosen pages copied out into a new file. Each function changes or
// makes a pdf-lib document; the editor records the changes as edits.
import {
  PDFDocument, PageSizes, concatTransformationMatrix, drawObject, popGraphicsState, pushGraphicsState,
} from "pdf-lib";
import { DocumentError } from "./model.js";

export class PagesError extends DocumentError {}

// What kind of file `bytes` holds, by its first bytes: "pdf", "jpeg", "png" or null.
export function fileKind(bytes) {
  const starts = (...head) => head.every((b, i) => bytes[i] === b);
  if (starts(0xff, 0xd8, 0xff)) return "jpeg";
  if (starts(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a)) return "png";
  // A PDF's header may follow a little junk; readers look in the first kilobyte.
  const head = new TextDecoder("latin1").decode(bytes.subarray(0, 1024));
  return head.includes("%PDF-") ? "pdf" : null;
}

// The orientation tag (1 to 8) of a TIFF-structured EXIF block, or 1 when it has none.
function tiffOrientation(bytes, start, end) {
  if (end - start < 8) return 1;
  const view = new DataView(bytes.buffer, bytes.byteOffset + start, end - start);
  const order = view.getUint16(0);
  if (order !== 0x4949 && order !== 0x4d4d) return 1;
  const little = order === 0x4949;
  const ifd = view.getUint32(4, little);
  if (ifd + 2 > view.byteLength) return 1;
  const count = view.getUint16(ifd, little);
  for (let i = 0; i < count; i += 1) {
    const entry = ifd + 2 + i * 12;
    if (entry + 12 > view.byteLength) return 1;
    if (view.getUint16(entry, little) === 0x0112) {
      const value = view.getUint16(entry + 8, little);
      return value >= 1 && value <= 8 ? value : 1;
    }
  }
  return 1;
}

// How a JPEG or PNG asks to be turned when shown (its EXIF orientation, 1 to 8; 1 = as stored).
export function imageOrientation(bytes) {
  const kind = fileKind(bytes);
  if (kind === "jpeg") {
    let at = 2;
    while (at + 4 <= bytes.length && bytes[at] === 0xff) {
      const marker = bytes[at + 1];
      if (marker === 0xda || marker === 0xd9) break; // the image data starts: no EXIF before it
      const length = (bytes[at + 2] << 8) | bytes[at + 3];
      const body = at + 4;
      if (marker === 0xe1 && length >= 8 && String.fromCharCode(...bytes.subarray(body, body + 4)) === "Exif") {
        return tiffOrientation(bytes, body + 6, Math.min(bytes.length, at + 2 + length));
      }
      at += 2 + length;
    }
    return 1;
  }
  if (kind === "png") {
    let at = 8;
    while (at + 8 <= bytes.length) {
      const length = ((bytes[at] << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]) >>> 0;
      const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
      if (type === "eXIf") return tiffOrientation(bytes, at + 8, Math.min(bytes.length, at + 8 + length));
      if (type === "IDAT" || type === "IEND") break;
      at += 12 + length;
    }
  }
  return 1;
}

// Whether a JPEG's frame header (its size and colours) is there before its data, which a cut or
// damaged file may lack.
export function jpegHasFrame(bytes) {
  let at = 2;
  while (at + 4 <= bytes.length && bytes[at] === 0xff) {
    const marker = bytes[at + 1];
    const length = (bytes[at + 2] << 8) | bytes[at + 3];
    if (marker >= 0xc0 && marker <= 0xcf && ![0xc4, 0xc8, 0xcc].includes(marker)) {
      return at + 2 + length <= bytes.length && length >= 8;
    }
    if (marker === 0xda || marker === 0xd9) return false;
    at += 2 + length;
  }
  return false;
}

// For each orientation: where the stored image's point (u, v) lands in the shown image's unit
// square, as X = a·u + b·v + c and Y = d·u + e·v + f (v and Y point up).
const ORIENTATIONS = {
  1: [1, 0, 0, 0, 1, 0],
  2: [-1, 0, 1, 0, 1, 0],
  3: [-1, 0, 1, 0, -1, 1],
  4: [1, 0, 0, 0, -1, 1],
  5: [0, -1, 1, -1, 0, 1],
  6: [0, 1, 0, -1, 0, 1],
  7: [0, 1, 0, 1, 0, 0],
  8: [0, -1, 1, 1, 0, 0],
};

// The matrix that draws an image (a unit square in its own space) shown with `orientation` into
// the box at (x, y) of `width` × `height`.
export function orientedMatrix(orientation, { x, y, width, height }) {
  const [a, b, c, d, e, f] = ORIENTATIONS[orientation] ?? ORIENTATIONS[1];
  return [width * a, height * d, width * b, height * e, x + width * c, y + height * f];
}

function pageSizeNear(doc, index) {
  if (doc.getPageCount() === 0) return PageSizes.A4;
  const page = doc.getPage(Math.min(Math.max(index - 1, 0), doc.getPageCount() - 1));
  const { width, height } = page.getSize();
  const turned = Math.abs(page.getRotation().angle) % 180 === 90;
  return turned ? [height, width] : [width, height];
}

function checkIndex(doc, index) {
  if (!Number.isInteger(index) || index < 0 || index > doc.getPageCount()) {
    throw new PagesError(`Pages can't go in at position ${index + 1}.`);
  }
}

async function loadOther(bytes, name) {
  if (fileKind(bytes) !== "pdf") throw new PagesError(`${name} isn't a PDF.`);
  let other;
  let count;
  try {
    other = await PDFDocument.load(bytes, { updateMetadata: false });
    count = other.getPageCount();
  } catch (error) {
    const locked = /encrypt/i.test(String(error?.message));
    throw new PagesError(locked ? `${name} is password-protected, so its pages can't be taken.`
      : `${name} isn't a PDF whose pages can be read (${error?.message ?? error}).`);
  }
  if (count === 0) throw new PagesError(`${name} has no pages.`);
  return other;
}

// Copies every page of the PDF `bytes` into `doc` at `index`; answers how many went in.
export async function insertPdf(doc, index, bytes, name = "The file") {
  checkIndex(doc, index);
  const other = await loadOther(bytes, name);
  const pages = await doc.copyPages(other, other.getPageIndices());
  pages.forEach((page, i) => doc.insertPage(index + i, page));
  return pages.length;
}

// Adds a JPEG or PNG as a page of its own at `index`: the page takes the size of the page before
// it (turned to suit the picture), and the picture, turned as its EXIF orientation says, fills
// the page as far as it can without being cut.
export async function insertImage(doc, index, bytes, name = "The picture") {
  checkIndex(doc, index);
  const kind = fileKind(bytes);
  if (kind !== "jpeg" && kind !== "png") throw new PagesError(`${name} isn't a JPEG or PNG picture.`);
  let image;
  try {
    if (kind === "jpeg" && !jpegHasFrame(bytes)) throw new Error("it is cut short or damaged");
    image = kind === "jpeg" ? await doc.embedJpg(bytes) : await doc.embedPng(bytes);
  } catch (error) {
    throw new PagesError(`${name} couldn't be read as a picture (${error?.message ?? error}).`);
  }
  const orientation = imageOrientation(bytes);
  const sideways = orientation >= 5;
  const shownWidth = sideways ? image.height : image.width;
  const shownHeight = sideways ? image.width : image.height;
  let [pageWidth, pageHeight] = pageSizeNear(doc, index);
  if ((shownWidth > shownHeight) !== (pageWidth > pageHeight) && shownWidth !== shownHeight) {
    [pageWidth, pageHeight] = [pageHeight, pageWidth];
  }
  const scale = Math.min(pageWidth / shownWidth, pageHeight / shownHeight);
  const width = shownWidth * scale;
  const height = shownHeight * scale;
  const page = doc.insertPage(index, [pageWidth, pageHeight]);
  const xObject = page.node.newXObject("Image", image.ref);
  page.pushOperators(
    pushGraphicsState(),
    concatTransformationMatrix(...orientedMatrix(orientation, {
      x: (pageWidth - width) / 2, y: (pageHeight - height) / 2, width, height,
    })),
    drawObject(xObject),
    popGraphicsState(),
  );
  return 1;
}

// Inserts any number of files (PDFs, JPEGs, PNGs) at `index` in the order given; answers how many
// pages went in. One unreadable file stops the whole insertion, so nothing half-done is kept.
export async function insertFiles(doc, index, files) {
  let at = index;
  for (const { bytes, name } of files) {
    const kind = fileKind(bytes);
    if (kind === "pdf") at += await insertPdf(doc, at, bytes, name);
    else if (kind === "jpeg" || kind === "png") at += await insertImage(doc, at, bytes, name);
    else throw new PagesError(`${name} isn't a PDF, JPEG or PNG file.`);
  }
  return at - index;
}

// One new PDF made of the files given, one after another.
export async function mergeFiles(files) {
  if (files.length === 0) throw new PagesError("Choose the files to put together.");
  const doc = await PDFDocument.create();
  await insertFiles(doc, 0, files);
  return doc.save();
}

// The name offered for files merged into one: the first file's, marked as merged.
export function mergedName(names) {
  const base = String(names[0] ?? "").replace(/\.(pdf|jpe?g|png)$/i, "").trim();
  return `${base || "document"}-merged.pdf`;
}

// Reads a choice of pages such as "1-3, 5, 8-" (counted from 1) into page indexes, in the order
// written, each page once.
export function parsePageChoice(text, pageCount) {
  const chosen = [];
  const parts = String(text ?? "").split(",").map((part) => part.trim()).filter(Boolean);
  if (parts.length === 0) throw new PagesError("Say which pages to take, for example 1-3, 5.");
  for (const part of parts) {
    const match = /^(\d+)?\s*(-)?\s*(\d+)?$/.exec(part);
    if (!match || (!match[1] && !match[3])) throw new PagesError(`"${part}" isn't a page or a range of pages.`);
    const first = match[1] ? Number(match[1]) : 1;
    const last = match[2] ? (match[3] ? Number(match[3]) : pageCount) : first;
    if (first < 1 || last > pageCount || first > last) {
      throw new PagesError(`"${part}" isn't within pages 1 to ${pageCount}.`);
    }
    for (let n = first; n <= last; n += 1) if (!chosen.includes(n - 1)) chosen.push(n - 1);
  }
  return chosen;
}

// A new PDF holding copies of the pages at `indexes` of the PDF `bytes`, in that order.
export async function extractPages(bytes, indexes) {
  const source = await loadOther(bytes, "This document");
  if (indexes.length === 0) throw new PagesError("Choose at least one page to take out.");
  for (const index of indexes) {
    if (!Number.isInteger(index) || index < 0 || index >= source.getPageCount()) {
      throw new PagesError(`There is no page ${index + 1}.`);
    }
  }
  const doc = await PDFDocument.create();
  for (const page of await doc.copyPages(source, indexes)) doc.addPage(page);
  return doc.save();
}
