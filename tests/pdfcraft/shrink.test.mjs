import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource, jpegOf, napi, pageTexts, pdfLib } from "./helpers.mjs";

const { makeSmaller, applySmaller, largePictures, smallerMessage, formatSize, READABLE_DPI } = await importSource("shrink.js");
const { PDFDocument, PDFName } = pdfLib;

// Draws with the canvas kit that "Make smaller" uses in the window, here in Node.
const nodeKit = {
  canvas: (width, height) => napi.createCanvas(width, height),
  decodeJpeg: (bytes) => napi.loadImage(Buffer.from(bytes)),
  jpeg: async (canvas, quality) => new Uint8Array(await canvas.encode("jpeg", Math.round(quality * 100))),
};

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
async function scannedPdf() {
  const doc = await PDFDocument.create();
  for (let n = 0; n < 3; n += 1) {
    const page = doc.addPage([240, 300]);
    const scan = grainyScan(1000, 1250, n + 1);
    if (n === 2) {
      const rgb = Uint8Array.from(scan.getContext("2d").getImageData(0, 0, 1000, 1250).data.filter((_, i) => i % 4 !== 3));
      page.node.setXObject(PDFName.of("Scan"), doc.context.register(doc.context.flateStream(rgb, {
        Type: "XObject", Subtype: "Image", Width: 1000, Height: 1250, ColorSpace: "DeviceRGB", BitsPerComponent: 8,
      })));
      page.pushOperators(pdfLib.pushGraphicsState(), pdfLib.concatTransformationMatrix(240, 0, 0, 300, 0, 0),
        pdfLib.drawObject("Scan"), pdfLib.popGraphicsState());
    } else {
      page.drawImage(await doc.embedJpg(await jpegOf(scan, 95)), { x: 0, y: 0, width: 240, height: 300 });
    }
    page.drawText(`Passport number P${n}4417`, { x: 24, y: 260, size: 11, opacity: 0 });
  }
  return doc.save();
}

const pictureSizes = async (bytes) => largePictures(await PDFDocument.load(bytes)).map((p) => [p.width, p.filter, Math.round(p.dpi)]);
const original = await scannedPdf();
const words = ["Passport number P04417", "Passport number P14417", "Passport number P24417"];

test("the large pictures are found with the resolution their pages show them at", async () => {
  assert.deepEqual(await pictureSizes(original), [[1000, "DCTDecode", 300], [1000, "DCTDecode", 300], [1000, "FlateDecode", 300]]);
  // A scan turned on its page: 400 pixels along the page's 160 points is 180 dpi, not 240.
  const turned = await PDFDocument.create();
  const scan = await turned.embedJpg(await jpegOf(grainyScan(400, 300, 9), 95));
  turned.addPage([120, 160]).drawImage(scan, { x: 120, y: 0, width: 160, height: 120, rotate: pdfLib.degrees(90) });
  assert.deepEqual(await pictureSizes(await turned.save()), [[400, "DCTDecode", 180]]);
  assert.deepEqual([999, 1000, 45_600, 4_000_000, 12_345_678].map(formatSize), ["999 bytes", "1 KB", "46 KB", "4.0 MB", "12.3 MB"]);
});

test("a file made smaller fits the size asked for, with every picture as JPEG still readable and its words kept", async () => {
  const target = Math.floor(original.length / 4);
  const result = await makeSmaller(original, target, nodeKit);
  assert.deepEqual([result.reached, result.before, result.pictures, result.bytes.length], [true, original.length, 3, result.after]);
  assert.ok(result.after <= target, `${result.after} > ${target}`);
  assert.deepEqual(await pageTexts(result.bytes), words);
  for (const [, filter, dpi] of await pictureSizes(result.bytes)) {
    assert.ok(filter === "DCTDecode" && dpi >= READABLE_DPI - 1, `a picture is ${filter} at ${dpi} dpi`);
  }
  assert.match(smallerMessage(result, target), /^The file went from .* to .* \(3 pictures re-encoded\)\.$/);
  // The same change made as an edit of a fresh copy gives the same file.
  const copy = await PDFDocument.load(original);
  applySmaller(copy, result);
  const applied = await copy.save();
  assert.ok(applied.length <= target && (await pictureSizes(applied)).every(([, filter]) => filter === "DCTDecode"));
  // A file already small enough is left as it is.
  const same = await makeSmaller(result.bytes, result.bytes.length, nodeKit);
  assert.equal(same.bytes, result.bytes);
  assert.match(smallerMessage(same, result.bytes.length), /already within/);
});

test("a size that can't be reached without unreadable text keeps the smallest readable file and says so", async () => {
  const result = await makeSmaller(original, 20_000, nodeKit);
  assert.equal(result.reached, false);
  assert.ok(result.after < original.length / 4, `only down to ${result.after}`);
  for (const [, , dpi] of await pictureSizes(result.bytes)) assert.ok(Math.abs(dpi - READABLE_DPI) <= 1, `a picture is at ${dpi} dpi`);
  assert.deepEqual(await pageTexts(result.bytes), words);
  assert.match(smallerMessage(result, 20_000), /can't get within 20 KB without making its text hard to read; it is now/);

  // A file with no pictures to re-encode can't get smaller at all.
  const plain = await PDFDocument.create();
  plain.addPage().drawText("x".repeat(80));
  const text = await plain.save();
  const unchanged = await makeSmaller(text, 100, nodeKit);
  assert.equal(unchanged.bytes, text);
  assert.match(smallerMessage(unchanged, 100), /so it stays/);
  await assert.rejects(makeSmaller(text, 0, nodeKit), /Choose the size/);
});
