// Signatures written into a page as pictures. The picture (a PNG with a clear background, or a
// JPEG) goes into the box the user placed, upright as the page is shown however the page turns.
import { concatTransformationMatrix, drawObject, popGraphicsState, pushGraphicsState } from "pdf-lib";
import { fileKind, PagesError } from "./pages.js";

const finitePoint = (point) => Array.isArray(point) && point.length === 2 && point.every(Number.isFinite);

// Draws the signature picture `bytes` on page `index` of `doc`. `box` gives three corners of the
// placed box as the reader sees it, in the page's own PDF coordinates: { bottomLeft, bottomRight,
// topLeft }, each [x, y]. Answers the picture's drawn width and height in points.
export async function placeSignature(doc, index, bytes, box) {
  if (!Number.isInteger(index) || index < 0 || index >= doc.getPageCount()) {
    throw new PagesError(`There is no page ${index + 1}.`);
  }
  const { bottomLeft, bottomRight, topLeft } = box ?? {};
  if (![bottomLeft, bottomRight, topLeft].every(finitePoint)) throw new PagesError("The signature has no place on the page.");
  const across = [bottomRight[0] - bottomLeft[0], bottomRight[1] - bottomLeft[1]];
  const up = [topLeft[0] - bottomLeft[0], topLeft[1] - bottomLeft[1]];
  const width = Math.hypot(...across);
  const height = Math.hypot(...up);
  if (width < 2 || height < 2) throw new PagesError("The signature is too small to place.");
  const kind = fileKind(bytes);
  if (kind !== "png" && kind !== "jpeg") throw new PagesError("A signature is a PNG or JPEG picture.");
  const image = kind === "png" ? await doc.embedPng(bytes) : await doc.embedJpg(bytes);
  const page = doc.getPage(index);
  const name = page.node.newXObject("Signature", image.ref);
  page.pushOperators(
    pushGraphicsState(),
    concatTransformationMatrix(across[0], across[1], up[0], up[1], bottomLeft[0], bottomLeft[1]),
    drawObject(name),
    popGraphicsState(),
  );
  return { width, height };
}

// The smallest box holding every pixel of `pixels` (RGBA, `width` × `height`) that isn't clear,
// as { x, y, width, height } in pixels, or null when nothing is drawn.
export function inkBounds(pixels, width, height) {
  let left = width;
  let right = -1;
  let top = height;
  let bottom = -1;
  for (let y = 0; y < height; y += 1) {
    for (let x = 0; x < width; x += 1) {
      if (pixels[(y * width + x) * 4 + 3] > 8) {
        if (x < left) left = x;
        if (x > right) right = x;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
      }
    }
  }
  if (right < 0) return null;
  return { x: left, y: top, width: right - left + 1, height: bottom - top + 1 };
}
