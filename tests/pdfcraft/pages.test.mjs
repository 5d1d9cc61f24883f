import { test } from "node:test";
import assert from "node:assert/strict";
import { bands, drawPage, importSource, jpegOf, pdfLib, pdfOfWidths, pngOf, pngWithExif, withExif } from "./helpers.mjs";

const {
  fileKind, imageOrientation, insertImage, insertFiles, mergeFiles, mergedName, extractPages, parsePageChoice, PagesError,
} = await importSource("pages.js");
const { placeSignature, inkBounds } = await importSource("signature.js");
const { PDFDocument, degrees } = pdfLib;

const widthsOf = async (bytes) => (await PDFDocument.load(bytes)).getPages().map((page) => Math.round(page.getWidth()));
const text = (words) => new TextEncoder().encode(words);
const jpeg = await jpegOf(bands(120, 60, ["red", "blue"]));
const png = await pngOf(bands(120, 60, ["red", "blue"]));

test("files are told apart by their first bytes, page choices are read as written, and orientations as tagged", async () => {
  assert.deepEqual([jpeg, png, await pdfOfWidths([100]), text("junk\n%PDF-1.7"), text("GIF89a")].map(fileKind),
    ["jpeg", "png", "pdf", "pdf", null]);
  const choices = [["1-3, 5", [0, 1, 2, 4]], ["4-", [3, 4, 5]], ["-2", [0, 1]], ["3, 1, 3, 2-3", [2, 0, 1]], [" 6 ", [5]]];
  for (const [choice, expected] of choices) assert.deepEqual(parsePageChoice(choice, 6), expected, choice);
  for (const choice of ["", "0", "7", "3-2", "a", "1-2-3", "1,,x", "-"]) assert.throws(() => parsePageChoice(choice, 6), PagesError, choice);

  // The EXIF orientation is read from JPEGs in both byte orders and from PNGs; bad data means upright.
  for (const orientation of [1, 2, 3, 4, 5, 6, 7, 8]) {
    const tagged = [withExif(jpeg, orientation), withExif(jpeg, orientation, { little: true }), pngWithExif(png, orientation)];
    assert.deepEqual(tagged.map(imageOrientation), [orientation, orientation, orientation], `orientation ${orientation}`);
  }
  const pointingAway = withExif(jpeg, 6);
  pointingAway[2 + 4 + 6 + 7] = 0xf0; // the first directory's offset points past the block
  const upright = [jpeg, png, withExif(jpeg, 9), withExif(jpeg, 6).subarray(0, 20), withExif(jpeg, 6).subarray(0, 32), pointingAway];
  assert.deepEqual(upright.map(imageOrientation), [1, 1, 1, 1, 1, 1], "none, out of range, cut in its header or its tag, pointing away");
});

// A landscape picture, red on its left half and blue on its right, turned as its orientation says.
test("a scan becomes a page of its own, sized to the page and turned by its orientation", async () => {
  const cases = [
    ["JPEG as stored", jpeg, "wide red blue"], ["JPEG turned half round", withExif(jpeg, 3), "wide blue red"],
    ["JPEG turned right", withExif(jpeg, 6), "tall red blue"], ["JPEG turned left", withExif(jpeg, 8, { little: true }), "tall blue red"],
    ["JPEG mirrored", withExif(jpeg, 2), "wide blue red"], ["JPEG transposed", withExif(jpeg, 5), "tall red blue"],
    ["PNG turned right", pngWithExif(png, 6), "tall red blue"],
  ];
  for (const [name, bytes, expected] of cases) {
    const doc = await PDFDocument.load(await pdfOfWidths([595]));
    assert.equal(await insertImage(doc, 1, bytes, name), 1);
    const { width: w, height: h, colourAt } = await drawPage(await doc.save(), 2, 0.5);
    const seen = w > h ? ["wide", colourAt(w * 0.25, h / 2), colourAt(w * 0.75, h / 2)]
      : ["tall", colourAt(w / 2, h * 0.3), colourAt(w / 2, h * 0.7)];
    assert.equal(seen.join(" "), expected, name);
  }
});

test("pages from other PDFs and pictures go in where asked, merge into new files and come out again", async () => {
  const doc = await PDFDocument.load(await pdfOfWidths([101, 102]));
  const picture = await jpegOf(bands(30, 40, ["red"]));
  const files = [{ name: "other.pdf", bytes: await pdfOfWidths([201, 202]) }, { name: "scan.jpg", bytes: picture }];
  assert.equal(await insertFiles(doc, 1, files), 3);
  const saved = await doc.save();
  // The scan's page takes the size of the page before it.
  assert.deepEqual(await widthsOf(saved), [101, 201, 202, 202, 102]);
  const merged = await mergeFiles([{ name: "c.pdf", bytes: await pdfOfWidths([302, 303]) },
    { name: "b.png", bytes: await pngOf(bands(20, 20, ["blue"])) }, { name: "a.pdf", bytes: await pdfOfWidths([301]) }]);
  assert.deepEqual((await widthsOf(merged)).filter((w, i) => i !== 2), [302, 303, 301], "merged in the order chosen");
  assert.deepEqual(await widthsOf(await extractPages(saved, parsePageChoice("5, 2-3", 5))), [102, 201, 202]);

  // Anything unreadable stops the insertion with a reason the window can show.
  const insert = (name, bytes, at = 0) => () => insertFiles(doc, at, [{ name, bytes }]);
  const refusals = [
    [insert("notes.txt", text("hello")), /notes\.txt isn't a PDF, JPEG or PNG/], [insert("broken.pdf", text("%PDF-1.4 x")), /broken\.pdf/],
    [insert("torn.jpg", picture.subarray(0, 40)), /torn\.jpg couldn't be read/], [insert("a.pdf", saved, 99), /position 100/],
    [() => extractPages(saved, [5]), /no page 6/], [() => extractPages(saved, []), /at least one page/],
    [() => mergeFiles([]), /Choose the files/],
    [() => mergeFiles([{ name: "a.pdf", bytes: saved }, { name: "letter.docx", bytes: text("PK") }]), /letter\.docx isn't a PDF/],
  ];
  for (const [attempt, message] of refusals) {
    await assert.rejects(attempt(), (error) => error instanceof PagesError && message.test(error.message), String(message));
  }
  const names = [["Passport scan.JPG", "form.pdf"], ["photo.jpeg"], ["notes.pdf.txt"], [".pdf"]].map(mergedName);
  assert.deepEqual(names, ["Passport scan", "photo", "notes.pdf.txt", "document"].map((base) => `${base}-merged.pdf`));
});

// A signature, red above blue, placed in a box chosen on a turned page as shown, so its corners aren't where they look.
test("a signature goes into the placed box upright, however the page is turned", async () => {
  const signature = await pngOf(bands(80, 40, ["red", "blue"], { down: true }));
  const box = { left: 100, top: 150, width: 160, height: 80 }; // in the shown page's pixels
  for (const rotation of [0, 90, 180, 270]) {
    const source = await PDFDocument.create();
    source.addPage([400, 600]).setRotation(degrees(rotation));
    const bytes = await source.save();
    const { viewport } = await drawPage(bytes);
    const corner = (x, y) => viewport.convertToPdfPoint(box.left + x * box.width, box.top + y * box.height);
    const doc = await PDFDocument.load(bytes);
    const size = await placeSignature(doc, 0, signature, { bottomLeft: corner(0, 1), bottomRight: corner(1, 1), topLeft: corner(0, 0) });
    assert.deepEqual([Math.round(size.width), Math.round(size.height)], [160, 80]);
    const { colourAt } = await drawPage(await doc.save());
    const at = (x, y) => colourAt(box.left + box.width * x, box.top + box.height * y);
    assert.deepEqual([at(0.5, 0.25), at(0.5, 0.75), at(0.5, -0.3), at(1.2, 0.5)], ["red", "blue", "white", "white"], `turned ${rotation}°`);
  }

  const doc = await PDFDocument.load(await pdfOfWidths([300]));
  const good = { bottomLeft: [10, 10], bottomRight: [110, 10], topLeft: [10, 60] };
  const refusals = [
    [() => placeSignature(doc, 1, signature, good), /no page 2/],
    [() => placeSignature(doc, 0, signature, { ...good, topLeft: [10, NaN] }), /no place/],
    [() => placeSignature(doc, 0, signature, { ...good, bottomRight: [11, 10] }), /too small/],
    [() => placeSignature(doc, 0, text("%PDF-1.7"), good), /PNG or JPEG/],
  ];
  for (const [attempt, message] of refusals) await assert.rejects(attempt(), message);
});

test("the ink of a drawn signature is found however little there is, and a faint edge isn't ink", () => {
  const cases = [[[], null], [[[2, 1]], [2, 1, 1, 1]], [[[5, 0], [0, 3]], [0, 0, 6, 4]], [[[1, 2], [4, 1], [3, 3, 5]], [1, 1, 4, 2]]];
  for (const [points, box] of cases) {
    const pixels = new Uint8ClampedArray(6 * 4 * 4);
    for (const [x, y, alpha = 255] of points) pixels[(y * 6 + x) * 4 + 3] = alpha;
    const found = inkBounds(pixels, 6, 4);
    assert.deepEqual(found && [found.x, found.y, found.width, found.height], box, JSON.stringify(points));
  }
});
