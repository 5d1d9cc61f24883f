import { test } from "node:test";
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { importSource, pdfLib } from "./build-copy.mjs";
import { bands, colourName, drawPage, jpegOf, pngOf, pngWithExif, withExif } from "./pictures.mjs";

const {
  fileKind, imageOrientation, insertImage, insertFiles, mergeFiles, mergedName, extractPages, parsePageChoice, PagesError,
} = await importSource("pages.js");
const { placeSignature, inkBounds } = await importSource("signature.js");
const { DocumentError } = await importSource("model.js");
const { PDFDocument, degrees } = pdfLib;

async function pdfOfWidths(widths) {
  const doc = await PDFDocument.create();
  for (const width of widths) doc.addPage([width, 300]);
  return doc.save();
}
const widthsOf = async (bytes) => (await PDFDocument.load(bytes)).getPages().map((page) => page.getWidth());

// qpdf's own structural check of saved bytes (exit 0: no problems, 3: warnings only).
function qpdfCheck(bytes) {
  const folder = mkdtempSync(join(tmpdir(), "pdfcraft-pages-"));
  try {
    writeFileSync(join(folder, "file.pdf"), bytes);
    const run = spawnSync("qpdf", ["--check", join(folder, "file.pdf")], { encoding: "utf8" });
    if (run.error) throw run.error;
    return { status: run.status, output: run.stdout + run.stderr };
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

test("files are told apart by their first bytes and page choices are read as written", async () => {
  const jpeg = await jpegOf(bands(4, 4, ["red"]));
  const png = await pngOf(bands(4, 4, ["red"]));
  const pdf = await pdfOfWidths([100]);
  assert.deepEqual([jpeg, png, pdf, new TextEncoder().encode("junk\n%PDF-1.7"), new TextEncoder().encode("GIF89a")].map(fileKind),
    ["jpeg", "png", "pdf", "pdf", null]);

  const choices = [
    ["1-3, 5", 6, [0, 1, 2, 4]],
    ["4-", 6, [3, 4, 5]],
    ["-2", 6, [0, 1]],
    ["3, 1, 3, 2-3", 6, [2, 0, 1]],
    [" 6 ", 6, [5]],
  ];
  for (const [text, count, expected] of choices) assert.deepEqual(parsePageChoice(text, count), expected, text);
  for (const text of ["", "0", "7", "3-2", "a", "1-2-3", "1,,x", "-"]) {
    assert.throws(() => parsePageChoice(text, 6), PagesError, text);
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
  assert.equal(imageOrientation(jpeg), 1);
  assert.equal(imageOrientation(png), 1);
  assert.equal(imageOrientation(withExif(jpeg, 9)), 1, "an orientation out of range");
  const cut = withExif(jpeg, 6).subarray(0, 20);
  assert.equal(imageOrientation(cut), 1, "a JPEG cut inside its EXIF block");
  const pointingAway = withExif(jpeg, 6);
  pointingAway[2 + 4 + 6 + 7] = 0xf0; // the first directory's offset points past the block
  assert.equal(imageOrientation(pointingAway), 1);
});

// A landscape picture, red on its left half and blue on its right, added as a page: the page
// takes the picture's shape and shows it turned as its orientation says.
test("a scan becomes a page of its own, sized to the page and turned by its orientation", async () => {
  const canvas = bands(120, 60, ["red", "blue"]);
  const jpeg = await jpegOf(canvas);
  const png = await pngOf(canvas);
  const cases = [
    { name: "JPEG as stored", bytes: jpeg, landscape: true, left: "red", right: "blue" },
    { name: "JPEG turned half round", bytes: withExif(jpeg, 3), landscape: true, left: "blue", right: "red" },
    { name: "JPEG turned right", bytes: withExif(jpeg, 6), landscape: false, top: "red", bottom: "blue" },
    { name: "JPEG turned left", bytes: withExif(jpeg, 8, { little: true }), landscape: false, top: "blue", bottom: "red" },
    { name: "JPEG mirrored", bytes: withExif(jpeg, 2), landscape: true, left: "blue", right: "red" },
    { name: "PNG turned right", bytes: pngWithExif(png, 6), landscape: false, top: "red", bottom: "blue" },
    { name: "PNG as stored", bytes: png, landscape: true, left: "red", right: "blue" },
  ];
  for (const c of cases) {
    const doc = await PDFDocument.load(await pdfOfWidths([595]));
    assert.equal(await insertImage(doc, 1, c.bytes, c.name), 1);
    const saved = await doc.save();
    assert.equal((await PDFDocument.load(saved)).getPageCount(), 2, c.name);
    const page = await drawPage(saved, 2, 0.5);
    assert.equal(page.width > page.height, c.landscape, `${c.name}: page shape ${page.width}×${page.height}`);
    const [w, h] = [page.width, page.height];
    const seen = c.landscape
      ? { left: colourName(page.pixel(w * 0.25, h / 2)), right: colourName(page.pixel(w * 0.75, h / 2)) }
      : { top: colourName(page.pixel(w / 2, h * 0.3)), bottom: colourName(page.pixel(w / 2, h * 0.7)) };
    const expected = c.landscape ? { left: c.left, right: c.right } : { top: c.top, bottom: c.bottom };
    assert.deepEqual(seen, expected, c.name);
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

  const merged = await mergeFiles([
    { name: "a.pdf", bytes: await pdfOfWidths([301]) },
    { name: "b.png", bytes: await pngOf(bands(20, 20, ["blue"])) },
    { name: "c.pdf", bytes: await pdfOfWidths([302, 303]) },
  ]);
  assert.equal((await widthsOf(merged)).length, 4);
  assert.equal(qpdfCheck(merged).status, 0, qpdfCheck(merged).output);

  const taken = await extractPages(saved, parsePageChoice("5, 2-3", 5));
  assert.deepEqual(await widthsOf(taken), [102, 201, 202]);
  assert.equal(qpdfCheck(taken).status, 0, qpdfCheck(taken).output);

  // Anything unreadable stops the insertion with a reason the window can show.
  const refusals = [
    [() => insertFiles(doc, 0, [{ name: "notes.txt", bytes: new TextEncoder().encode("hello") }]), /notes\.txt isn't a PDF, JPEG or PNG/],
    [() => insertFiles(doc, 0, [{ name: "broken.pdf", bytes: new TextEncoder().encode("%PDF-1.4 nothing else") }]), /broken\.pdf/],
    [() => insertFiles(doc, 0, [{ name: "torn.jpg", bytes: picture.subarray(0, 40) }]), /torn\.jpg couldn't be read/],
    [() => insertFiles(doc, 99, [{ name: "a.pdf", bytes: saved }]), /position 100/],
    [() => extractPages(saved, [7]), /no page 8/],
    [() => extractPages(saved, []), /at least one page/],
    [() => mergeFiles([]), /Choose the files/],
  ];
  for (const [attempt, message] of refusals) {
    await assert.rejects(attempt(), (error) => error instanceof DocumentError && message.test(error.message), String(message));
  }
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
    [() => placeSignature(doc, 0, new TextEncoder().encode("<svg/>"), good), /PNG or JPEG/],
  ];
  for (const [attempt, message] of refusals) await assert.rejects(attempt(), message);
});

test("the ink of a drawn signature is found however little there is", () => {
  const clear = new Uint8ClampedArray(6 * 4 * 4);
  assert.equal(inkBounds(clear, 6, 4), null);
  const ink = (points) => {
    const pixels = new Uint8ClampedArray(6 * 4 * 4);
    for (const [x, y, alpha = 255] of points) pixels[(y * 6 + x) * 4 + 3] = alpha;
    return inkBounds(pixels, 6, 4);
  };
  assert.deepEqual(ink([[2, 1]]), { x: 2, y: 1, width: 1, height: 1 });
  assert.deepEqual(ink([[5, 0], [0, 3]]), { x: 0, y: 0, width: 6, height: 4 });
  assert.deepEqual(ink([[1, 2], [4, 1], [3, 3, 5]]), { x: 1, y: 1, width: 4, height: 2 }, "a faint edge isn't ink");
});

test("merged files keep the order chosen, refuse what isn't a PDF or scan by name, and are named after the first", async () => {
  const merged = await mergeFiles([
    { name: "c.pdf", bytes: await pdfOfWidths([302, 303]) },
    { name: "a.pdf", bytes: await pdfOfWidths([301]) },
  ]);
  assert.deepEqual(await widthsOf(merged), [302, 303, 301]);
  await assert.rejects(mergeFiles([
    { name: "a.pdf", bytes: await pdfOfWidths([301]) },
    { name: "letter.docx", bytes: new TextEncoder().encode("PK not a pdf") },
  ]), (error) => error instanceof PagesError && /letter\.docx isn't a PDF, JPEG or PNG/.test(error.message));

  const names = [
    [["Passport scan.JPG", "form.pdf"], "Passport scan-merged.pdf"],
    [["IMM5257.pdf"], "IMM5257-merged.pdf"],
    [["photo.png"], "photo-merged.pdf"],
    [["notes.pdf.txt"], "notes.pdf.txt-merged.pdf"],
    [[".pdf"], "document-merged.pdf"],
    [[], "document-merged.pdf"],
  ];
  for (const [given, expected] of names) assert.equal(mergedName(given), expected, given.join(", "));
});
