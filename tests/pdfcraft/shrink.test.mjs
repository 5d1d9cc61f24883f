import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource, jpegOf, napi, pageTexts, pdfLib, pdfOfWidths } from "./helpers.mjs";

const { makeSmaller, applySmaller, largePictures, smallerMessage, formatSize, READABLE_DPI } = await importSource("shrink.js");
const { PDFDocument, PDFName } = pdfLib;

// Draws with the canvas kit that "Make smaller" uses in the window, here in Node.
const nodeKit = {
  canvas: (width, height) => napi.createCanvas(width, height),
  decodeJpeg: (bytes) => napi.loadImage(Buffer.from(bytes)),
  jpeg: async (canvas, quality) => new Uint8Array(await canvas.encode("jpeg", Math.round(quality * 100))),
};

// A scan's worth of grain, which JPEG can't pack small.
function grainyScan(width, height) {
  const canvas = napi.createCanvas(width, height);
  const image = canvas.getContext("2d").createImageData(width, height);
  let state = 1;
  image.data.forEach((_, i) => {
    state = (Math.imul(state, 1103515245) + 12345) >>> 0;
    image.data[i] = i % 4 === 3 ? 255 : 200 + (state >>> 26);
  });
  canvas.getContext("2d").putImageData(image, 0, 0);
  return canvas;
}

// Pages 240 × 300 points, each a 300 dpi scan (1000 × 1250 pixels) under its words written invisibly, as
// text recognition leaves them; the last page's scan is stored deflated rather than as JPEG.
async function scannedPdf() {
  const doc = await PDFDocument.create();
  for (let n = 0; n < 3; n += 1) {
    const page = doc.addPage([240, 300]);
    const scan = grainyScan(1000, 1250);
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
  const scan = await turned.embedJpg(await jpegOf(grainyScan(400, 300), 95));
  turned.addPage([120, 160]).drawImage(scan, { x: 120, y: 0, width: 160, height: 120, rotate: pdfLib.degrees(90) });
  assert.deepEqual(await pictureSizes(await turned.save()), [[400, "DCTDecode", 180]]);
  assert.deepEqual([999, 1000, 45_600, 1_000_000, 12_345_678].map(formatSize), ["999 bytes", "1 KB", "46 KB", "1.0 MB", "12.3 MB"]);
});

test("a file that can't fit without unreadable text keeps its smallest readable form, its words and its deflated scan re-encoded", async () => {
  const result = await makeSmaller(original, 20_000, nodeKit);
  assert.deepEqual([result.reached, result.before, result.pictures, result.bytes.length], [false, original.length, 3, result.after]);
  assert.ok(result.after < original.length / 4, `only down to ${result.after}`);
  // Each scan fills its page, 240 points (3⅓ inches) wide.
  const scans = (await PDFDocument.load(result.bytes)).context.enumerateIndirectObjects().map(([, object]) => object.dict)
    .filter((dict) => dict?.get(PDFName.of("Subtype")) === PDFName.of("Image"))
    .map((dict) => [String(dict.get(PDFName.of("Filter"))), Math.round((dict.get(PDFName.of("Width")).asNumber() * 72) / 240)]);
  assert.deepEqual(scans, Array(3).fill(["/DCTDecode", READABLE_DPI]));
  assert.deepEqual(await pageTexts(result.bytes), words);
  assert.match(smallerMessage(result, 20_000), /can't get within 20 KB without making its text hard to read; it is now/);
  const copy = await PDFDocument.load(original, { updateMetadata: false });
  applySmaller(copy, result);
  assert.equal((await copy.save()).length, result.after, "the same change made as an edit of a fresh copy");

  // Within the size already, or with no pictures to re-encode, a file stays as it is.
  const plain = await pdfOfWidths([100]);
  for (const [bytes, target, says] of [[result.bytes, result.after, "already within"], [plain, 100, "so it stays"]]) {
    const same = await makeSmaller(bytes, target, nodeKit);
    assert.deepEqual([same.bytes, smallerMessage(same, target).includes(says)], [bytes, true], says);
  }
  await assert.rejects(makeSmaller(plain, 0, nodeKit), /Choose the size/);
});
