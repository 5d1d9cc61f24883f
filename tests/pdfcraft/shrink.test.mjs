import { test } from "node:test";
import assert from "node:assert/strict";
import { deflateSync } from "node:zlib";
import { importSource, napi, pdfLib } from "./build-copy.mjs";
import { jpegOf, nodeKit, pageTexts, qpdf } from "./pictures.mjs";

const { makeSmaller, applySmaller, largePictures, smallerMessage, formatSize, READABLE_DPI } = await importSource("shrink.js");
const { PDFDocument, PDFName, StandardFonts } = pdfLib;

// A scan's worth of grain: noise over a few dark strokes, which JPEG can't pack small.
function grainyScan(width, height, seed) {
  const canvas = napi.createCanvas(width, height);
  const context = canvas.getContext("2d");
  const image = context.createImageData(width, height);
  let state = seed;
  for (let i = 0; i < width * height; i += 1) {
    state = (Math.imul(state, 1103515245) + 12345) >>> 0;
    const shade = 200 + (state >>> 26);
    image.data.set([shade, shade, shade - 10, 255], i * 4);
  }
  context.putImageData(image, 0, 0);
  context.fillStyle = "#111";
  for (let line = 0; line < 12; line += 1) context.fillRect(width * 0.1, height * (0.1 + line * 0.06), width * 0.7, height * 0.012);
  return canvas;
}

// Pages 240 × 300 points, each a 300 dpi scan (1000 × 1250 pixels) with its words written
// invisibly on top, as a scanner's text recognition leaves them; the last page's scan is stored
// deflated rather than as JPEG.
async function scannedPdf(pages = 3) {
  const doc = await PDFDocument.create();
  const font = await doc.embedFont(StandardFonts.Helvetica);
  for (let n = 0; n < pages; n += 1) {
    const page = doc.addPage([240, 300]);
    const scan = grainyScan(1000, 1250, n + 1);
    if (n === pages - 1) {
      const rgba = scan.getContext("2d").getImageData(0, 0, 1000, 1250).data;
      const rgb = Buffer.alloc(1000 * 1250 * 3);
      for (let i = 0; i < 1000 * 1250; i += 1) rgba.subarray(i * 4, i * 4 + 3).forEach((v, k) => { rgb[i * 3 + k] = v; });
      const ref = doc.context.register(doc.context.stream(deflateSync(rgb), {
        Type: "XObject", Subtype: "Image", Width: 1000, Height: 1250, ColorSpace: "DeviceRGB", BitsPerComponent: 8, Filter: "FlateDecode",
      }));
      page.node.setXObject(PDFName.of("Scan"), ref);
      page.pushOperators(pdfLib.pushGraphicsState(), pdfLib.concatTransformationMatrix(240, 0, 0, 300, 0, 0),
        pdfLib.drawObject("Scan"), pdfLib.popGraphicsState());
    } else {
      const image = await doc.embedJpg(await jpegOf(scan, 95));
      page.drawImage(image, { x: 0, y: 0, width: 240, height: 300 });
    }
    page.drawText(`Passport number P${n}4417`, { x: 24, y: 260, size: 11, font, opacity: 0 });
  }
  return doc.save();
}

const pictureSizes = async (bytes) => largePictures(await PDFDocument.load(bytes)).map((p) => ({ width: p.width, filter: p.filter, dpi: Math.round(p.dpi) }));

const original = await scannedPdf();

test("the large pictures are found with the resolution their pages show them at", async () => {
  assert.deepEqual(await pictureSizes(original), [
    { width: 1000, filter: "DCTDecode", dpi: 300 },
    { width: 1000, filter: "DCTDecode", dpi: 300 },
    { width: 1000, filter: "FlateDecode", dpi: 300 },
  ]);
  // A scan turned on its page: 400 pixels along the page's 160 points is 180 dpi, not 240.
  const turned = await PDFDocument.create();
  const scan = await turned.embedJpg(await jpegOf(grainyScan(400, 300, 9), 95));
  turned.addPage([120, 160]).drawImage(scan, { x: 120, y: 0, width: 160, height: 120, rotate: pdfLib.degrees(90) });
  assert.deepEqual(await pictureSizes(await turned.save()), [{ width: 400, filter: "DCTDecode", dpi: 180 }]);

  assert.deepEqual([999, 1000, 45_600, 4_000_000, 12_345_678].map(formatSize), ["999 bytes", "1 KB", "46 KB", "4.0 MB", "12.3 MB"]);
});

test("a file made smaller fits the size asked for and keeps its pages, words and structure", async () => {
  const target = Math.floor(original.length / 4);
  const result = await makeSmaller(original, target, nodeKit);
  assert.equal(result.reached, true, smallerMessage(result, target));
  assert.ok(result.after <= target && result.bytes.length === result.after, `${result.after} > ${target}`);
  assert.equal(result.before, original.length);
  assert.equal(result.pictures, 3);
  assert.deepEqual(await pageTexts(result.bytes), ["Passport number P04417", "Passport number P14417", "Passport number P24417"]);
  assert.equal(qpdf(result.bytes, "--check").status, 0);
  for (const picture of await pictureSizes(result.bytes)) {
    assert.equal(picture.filter, "DCTDecode");
    assert.ok(picture.dpi >= READABLE_DPI - 1, `a picture went down to ${picture.dpi} dpi`);
  }
  // The same change made as an edit of a fresh copy gives the same file.
  const copy = await PDFDocument.load(original);
  applySmaller(copy, result);
  const applied = await copy.save();
  assert.ok(applied.length <= target && (await pictureSizes(applied)).every((p) => p.filter === "DCTDecode"));
  assert.equal(qpdf(applied, "--check").status, 0);
  assert.match(smallerMessage(result, target), /^The file went from .* to .* \(3 pictures re-encoded\)\.$/);

  // A file already small enough is left as it is.
  const same = await makeSmaller(result.bytes, result.bytes.length, nodeKit);
  assert.equal(same.bytes, result.bytes);
  assert.match(smallerMessage(same, result.bytes.length), /already within/);
});

test("a size that can't be reached without unreadable text keeps the smallest readable file and says so", async () => {
  const target = 20_000;
  const result = await makeSmaller(original, target, nodeKit);
  assert.equal(result.reached, false);
  assert.ok(result.after < original.length / 4, `only down to ${result.after}`);
  for (const picture of await pictureSizes(result.bytes)) {
    assert.ok(picture.dpi >= READABLE_DPI - 1 && picture.dpi <= READABLE_DPI + 1, `a picture is at ${picture.dpi} dpi`);
  }
  assert.equal((await pageTexts(result.bytes)).length, 3);
  assert.match(smallerMessage(result, target), /can't get within 20 KB without making its text hard to read; it is now/);

  // A file with no pictures to re-encode can't get smaller at all.
  const plain = await PDFDocument.create();
  plain.addPage().drawText("x".repeat(80));
  const text = await plain.save();
  const unchanged = await makeSmaller(text, 100, nodeKit);
  assert.equal(unchanged.bytes, text);
  assert.match(smallerMessage(unchanged, 100), /so it stays/);
  await assert.rejects(makeSmaller(text, 0, nodeKit), /Choose the size/);
});
