import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource, pdfLib } from "./build-copy.mjs";
import { bands, colourName, drawPage, jpegOf, pngOf, pngWithExif, qpdf, withExif } from "./pictures.mjs";

const {
  fileKind, imageOrientation, insertImage, insertFiles, mergeFiles, mergedName, extractPages, parsePageChoice, PagesError,
} = await importSource("pages.js");
const { placeSignature, inkBounds } = await importSource("signature.js");
const { PDFDocument, degrees } = pdfLib;

async function pdfOfWidths(widths) {
  const doc = await PDFDocument.create();
  for (const width of widths) doc.addPage([width, 300]);
  return doc.save();
}
const widthsOf = async (bytes) => (await PDFDocument.load(bytes)).getPages().map((page) => page.getWidth());
const text = (words) => new TextEncoder().encode(words);

test("files are told apart by their first bytes and page choices are read as written", async () => {
  const jpeg = await jpegOf(bands(4, 4, ["red"]));
  const png = await pngOf(bands(4, 4, ["red"]));
  assert.deepEqual([jpeg, png, await pdfOfWidths([100]), text("junk\n%PDF-1.7"), text("GIF89a")].map(fileKind),
    ["jpeg", "png", "pdf", "pdf", null]);
  const choices = [
    ["1-3, 5", [0, 1, 2, 4]], ["4-", [3, 4, 5]], ["-2", [0, 1]], ["3, 1, 3, 2-3", [2, 0, 1]], [" 6 ", [5]],
  ];
  for (const [choice, expected] of choices) assert.deepEqual(parsePageChoice(choice, 6), expected, choice);
  for (const choice of ["", "0", "7", "3-2", "a", "1-2-3", "1,,x", "-"]) {
    assert.throws(() => parsePageChoice(choice, 6), PagesError, choice);
  }
});

test("the EXIF orientation is read from JPEGs in both byte orders and from PNGs, and bad data means upright", async () => {
  const jpeg = await jpegOf(bands(8, 4, ["red", "blue"]));
  const png = await pngOf(bands(8, 4, ["red", "blue"]));
  for (const orientation of [1, 2, 3, 4, 5, 6, 7, 8]) {
    assert.equal(imageOrientation(withExif(jpeg, orientation)), orientation, `JPEG big-endian ${orientation}`);
    assert.equal(imageOrientation(withExif(jpeg, orientation, { little: true })), orientation, `JPEG little-endian ${orientation}`);
    assert.equal(imageOrientation(pngWithExif(png, orientation)), orientation, `PNG ${orientation}`);
  }
  const pointingAway = withExif(jpeg, 6);
  pointingAway[2 + 4 + 6 + 7] = 0xf0; // the first directory's offset points past the block
  const upright = [jpeg, png, withExif(jpeg, 9), withExif(jpeg, 6).subarray(0, 20), pointingAway];
  assert.deepEqual(upright.map(imageOrientation), [1, 1, 1, 1, 1], "none, out of range, cut inside its block, pointing away");
});

// A landscape picture, red on its left half and blue on its right, added as a page: the page
// takes the picture's shape and shows it turned as its orientation says.
test("a scan becomes a page of its own, sized to the page and turned by its orientation", async () => {
  const canvas = bands(120, 60, ["red", "blue"]);
  const jpeg = await jpegOf(canvas);
  const png = await pngOf(canvas);
  const cases = [
    ["JPEG as stored", jpeg, { left: "red", right: "blue" }],
    ["JPEG turned half round", withExif(jpeg, 3), { left: "blue", right: "red" }],
    ["JPEG turned right", withExif(jpeg, 6), { top: "red", bottom: "blue" }],
    ["JPEG turned left", withExif(jpeg, 8, { little: true }), { top: "blue", bottom: "red" }],
    ["JPEG mirrored", withExif(jpeg, 2), { left: "blue", right: "red" }],
    ["PNG turned right", pngWithExif(png, 6), { top: "red", bottom: "blue" }],
    ["PNG as stored", png, { left: "red", right: "blue" }],
  ];
  for (const [name, bytes, expected] of cases) {
    const doc = await PDFDocument.load(await pdfOfWidths([595]));
    assert.equal(await insertImage(doc, 1, bytes, name), 1);
    const saved = await doc.save();
    assert.equal((await PDFDocument.load(saved)).getPageCount(), 2, name);
    const { width: w, height: h, pixel } = await drawPage(saved, 2, 0.5);
    const landscape = "left" in expected;
    assert.equal(w > h, landscape, `${name}: page shape ${w}×${h}`);
    const seen = landscape
      ? { left: colourName(pixel(w * 0.25, h / 2)), right: colourName(pixel(w * 0.75, h / 2)) }
      : { top: colourName(pixel(w / 2, h * 0.3)), bottom: colourName(pixel(w / 2, h * 0.7)) };
    assert.deepEqual(seen, expected, name);
  }
});

test("pages from other PDFs and pictures go in where asked, merge into new files and come out again", async () => {
  const doc = await PDFDocument.load(await pdfOfWidths([101, 102]));
  const picture = await jpegOf(bands(30, 40, ["red"]));
  const added = await insertFiles(doc, 1, [
    { name: "other.pdf", bytes: await pdfOfWidths([201, 202]) },
    { name: "scan.jpg", bytes: picture },
  ]);
  assert.equal(added, 3);
  const saved = await doc.save();
  const widths = await widthsOf(saved);
  assert.deepEqual(widths.filter((w, i) => i !== 3), [101, 201, 202, 102]);
  assert.ok(Math.abs(widths[3] - 202) < 0.01, "the scan's page takes the size of the page before it");

  // Merged files keep the order chosen.
  const merged = await mergeFiles([
    { name: "c.pdf", bytes: await pdfOfWidths([302, 303]) },
    { name: "b.png", bytes: await pngOf(bands(20, 20, ["blue"])) },
    { name: "a.pdf", bytes: await pdfOfWidths([301]) },
  ]);
  assert.deepEqual((await widthsOf(merged)).filter((w, i) => i !== 2), [302, 303, 301]);
  assert.equal(qpdf(merged, "--check").status, 0);
  const taken = await extractPages(saved, parsePageChoice("5, 2-3", 5));
  assert.deepEqual(await widthsOf(taken), [102, 201, 202]);
  assert.equal(qpdf(taken, "--check").status, 0);

  // Anything unreadable stops the insertion with a reason the window can show.
  const refusals = [
    [() => insertFiles(doc, 0, [{ name: "notes.txt", bytes: text("hello") }]), /notes\.txt isn't a PDF, JPEG or PNG/],
    [() => insertFiles(doc, 0, [{ name: "broken.pdf", bytes: text("%PDF-1.4 nothing else") }]), /broken\.pdf/],
    [() => insertFiles(doc, 0, [{ name: "torn.jpg", bytes: picture.subarray(0, 40) }]), /torn\.jpg couldn't be read/],
    [() => insertFiles(doc, 99, [{ name: "a.pdf", bytes: saved }]), /position 100/],
    [() => extractPages(saved, [7]), /no page 8/],
    [() => extractPages(saved, []), /at least one page/],
    [() => mergeFiles([]), /Choose the files/],
    [() => mergeFiles([{ name: "a.pdf", bytes: saved }, { name: "letter.docx", bytes: text("PK not a pdf") }]), /letter\.docx isn't a PDF/],
  ];
  for (const [attempt, message] of refusals) {
    await assert.rejects(attempt(), (error) => error instanceof PagesError && message.test(error.message), String(message));
  }

  const names = [
    [["Passport scan.JPG", "form.pdf"], "Passport scan-merged.pdf"], [["IMM5257.pdf"], "IMM5257-merged.pdf"],
    [["photo.png"], "photo-merged.pdf"], [["notes.pdf.txt"], "notes.pdf.txt-merged.pdf"],
    [[".pdf"], "document-merged.pdf"], [[], "document-merged.pdf"],
  ];
  for (const [given, expected] of names) assert.equal(mergedName(given), expected, given.join(", "));
});

// A signature picture, red on its upper half and blue on its lower, is placed in a box chosen on
// the page as shown; the page is turned, so the box's corners are far from where they look.
test("a signature goes into the placed box upright, however the page is turned", async () => {
  const signature = await pngOf(bands(80, 40, ["red", "blue"], { down: true, clear: true }));
  for (const rotation of [0, 90, 180, 270]) {
    const source = await PDFDocument.create();
    source.addPage([400, 600]).setRotation(degrees(rotation));
    const bytes = await source.save();
    const { viewport } = await drawPage(bytes, 1, 1);
    const box = { left: 100, top: 150, width: 160, height: 80 }; // in the shown page's pixels
    const corner = (x, y) => viewport.convertToPdfPoint(x, y);
    const doc = await PDFDocument.load(bytes);
    const size = await placeSignature(doc, 0, signature, {
      bottomLeft: corner(box.left, box.top + box.height),
      bottomRight: corner(box.left + box.width, box.top + box.height),
      topLeft: corner(box.left, box.top),
    });
    assert.deepEqual([Math.round(size.width), Math.round(size.height)], [160, 80]);
    const page = await drawPage(await doc.save(), 1, 1);
    const at = (fx, fy) => colourName(page.pixel(box.left + box.width * fx, box.top + box.height * fy));
    assert.deepEqual(
      { top: at(0.5, 0.25), bottom: at(0.5, 0.75), outsideAbove: at(0.5, -0.3), outsideRight: at(1.2, 0.5) },
      { top: "red", bottom: "blue", outsideAbove: "white", outsideRight: "white" }, `page turned ${rotation}°`);
  }

  const doc = await PDFDocument.load(await pdfOfWidths([300]));
  const good = { bottomLeft: [10, 10], bottomRight: [110, 10], topLeft: [10, 60] };
  const refusals = [
    [() => placeSignature(doc, 3, signature, good), /no page 4/],
    [() => placeSignature(doc, 0, signature, { ...good, topLeft: [10, NaN] }), /no place/],
    [() => placeSignature(doc, 0, signature, { ...good, bottomRight: [11, 10] }), /too small/],
    [() => placeSignature(doc, 0, text("<svg/>"), good), /PNG or JPEG/],
  ];
  for (const [attempt, message] of refusals) await assert.rejects(attempt(), message);
});

test("the ink of a drawn signature is found however little there is", () => {
  const ink = (points) => {
    const pixels = new Uint8ClampedArray(6 * 4 * 4);
    for (const [x, y, alpha = 255] of points) pixels[(y * 6 + x) * 4 + 3] = alpha;
    return inkBounds(pixels, 6, 4);
  };
  assert.equal(ink([]), null);
  assert.deepEqual(ink([[2, 1]]), { x: 2, y: 1, width: 1, height: 1 });
  assert.deepEqual(ink([[5, 0], [0, 3]]), { x: 0, y: 0, width: 6, height: 4 });
  assert.deepEqual(ink([[1, 2], [4, 1], [3, 3, 5]]), { x: 1, y: 1, width: 4, height: 2 }, "a faint edge isn't ink");
});
