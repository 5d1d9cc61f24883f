import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { importSource, pdfLib } from "./build-copy.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");
const { PDFDocument, PDFName, PDFRawStream } = pdfLib;

// Pages 101, 102, 103 points wide, so their order can be read back from the saved bytes.
async function threePages() {
  const doc = await PDFDocument.create();
  for (const width of [101, 102, 103]) doc.addPage([width, 200]);
  return doc.save();
}

async function reread(bytes) {
  const doc = await PDFDocument.load(bytes);
  return doc.getPages().map((page) => ({ width: page.getWidth(), rotation: page.getRotation().angle }));
}

function contentText(doc, pageIndex) {
  const contents = doc.getPage(pageIndex).node.Contents();
  if (!contents) return "";
  const refs = contents.asArray ? contents.asArray() : [contents];
  return refs.map((ref) => {
    const stream = doc.context.lookup(ref, PDFRawStream);
    const raw = Buffer.from(stream.contents);
    return stream.dict.get(PDFName.of("Filter")) ? inflateSync(raw).toString("latin1") : raw.toString("latin1");
  }).join("\n");
}

const hex = (text) => Buffer.from(text, "latin1").toString("hex").toUpperCase();

test("opening refuses what can't be edited, with a reason", async () => {
  await assert.rejects(DocumentModel.open(new TextEncoder().encode("not a pdf at all")), DocumentError);

  const doc = await PDFDocument.create();
  doc.addPage();
  doc.context.trailerInfo.Encrypt = doc.context.register(doc.context.obj({ Filter: "Standard" }));
  await assert.rejects(DocumentModel.open(await doc.save()), (error) =>
    error instanceof DocumentError && /password-protected/.test(error.message));
});

test("page order, rotation and deletion are written to the bytes, and undo steps back", async () => {
  const model = await DocumentModel.open(await threePages());
  assert.equal(model.dirty, false);

  await model.move(0, 2);
  assert.deepEqual((await reread(model.bytes)).map((p) => p.width), [102, 103, 101]);
  await model.move(2, 0);
  assert.deepEqual((await reread(model.bytes)).map((p) => p.width), [101, 102, 103]);

  await model.rotate(1, 90);
  await model.rotate(1, 90);
  await model.rotate(2, -90);
  assert.deepEqual((await reread(model.bytes)).map((p) => p.rotation), [0, 180, 270]);
  assert.equal(model.rotationOf(2), 270);

  await model.remove(0);
  assert.deepEqual(await reread(model.bytes), [{ width: 102, rotation: 180 }, { width: 103, rotation: 270 }]);
  assert.equal(model.dirty, true);

  await model.undo();
  assert.deepEqual((await reread(model.bytes)).map((p) => p.width), [101, 102, 103]);
  assert.equal(model.pageCount, 3);
  await model.redo();
  assert.equal(model.pageCount, 2);
  await model.undo();
  await model.undo();
  assert.deepEqual((await reread(model.bytes)).map((p) => p.rotation), [0, 180, 0]);
});

test("bad page edits are refused and leave the document as it was", async () => {
  const model = await DocumentModel.open(await threePages());
  const before = model.bytes;
  await assert.rejects(model.move(0, 3), DocumentError);
  await assert.rejects(model.rotate(5, 90), DocumentError);
  await assert.rejects(model.rotate(0, 45), DocumentError);
  await model.remove(2);
  await model.remove(1);
  await assert.rejects(model.remove(0), /last page/);
  assert.equal(model.pageCount, 1);
  await model.undo();
  await model.undo();
  assert.equal(model.bytes, before);
  assert.equal(model.canUndo, false);
});

test("added text lands on its page, upright on a turned page, and unwritable characters are named", async () => {
  const model = await DocumentModel.open(await threePages());
  await model.addText(0, { x: 10, y: 150, text: "Hello\nWorld", size: 12 });
  await model.rotate(1, 90);
  await model.addText(1, { x: 80, y: 20, text: "Side", size: 10 });
  const doc = await PDFDocument.load(model.bytes);

  const first = contentText(doc, 0);
  assert.match(first, new RegExp(`<${hex("Hello")}> Tj`));
  assert.match(first, new RegExp(`<${hex("World")}> Tj`));
  assert.doesNotMatch(contentText(doc, 2), /Tj/);

  // On a page turned 90° the text runs up the page (matrix 0 1 -1 0) and its baseline sits left of the click.
  const side = contentText(doc, 1);
  const [, a, b, c, d, e, f] = side.match(/(\S+) (\S+) (\S+) (\S+) (\S+) (\S+) Tm\s*<[0-9A-F]+> Tj/).map(Number);
  assert.deepEqual([a, b, c, d].map(Math.round), [0, 1, -1, 0]);
  assert.ok(e < 80 && e > 70, `baseline x ${e}`);
  assert.equal(f, 20);

  const before = model.bytes;
  await assert.rejects(model.addText(0, { x: 1, y: 1, text: "Имя" }), /“И”/);
  await assert.rejects(model.addText(0, { x: 1, y: 1, text: "  " }), DocumentError);
  assert.equal(model.bytes, before);
});

async function formPdf() {
  const doc = await PDFDocument.create();
  const page = doc.addPage([400, 400]);
  const form = doc.getForm();
  const name = form.createTextField("name");
  name.setMaxLength(5);
  name.addToPage(page, { x: 10, y: 350, width: 200, height: 20 });
  form.createCheckBox("agree").addToPage(page, { x: 10, y: 300, width: 15, height: 15 });
  const color = form.createRadioGroup("color");
  color.addOptionToPage("red", page, { x: 10, y: 250, width: 15, height: 15 });
  color.addOptionToPage("blue", page, { x: 40, y: 250, width: 15, height: 15 });
  const country = form.createDropdown("country");
  country.addOptions(["CA", "US"]);
  country.addToPage(page, { x: 10, y: 200, width: 100, height: 20 });
  return doc.save();
}

test("form fields are listed, checked when filled, and written on save", async () => {
  const model = await DocumentModel.open(await formPdf());
  assert.deepEqual(model.fields().map((f) => [f.name, f.kind, f.value]), [
    ["name", "text", ""], ["agree", "checkbox", false], ["color", "radio", null], ["country", "dropdown", ""],
  ]);

  assert.throws(() => model.setField("name", "too long"), /at most 5/);
  assert.throws(() => model.setField("color", "green"), DocumentError);
  assert.throws(() => model.setField("agree", "yes"), DocumentError);
  assert.throws(() => model.setField("nope", "x"), /no field called "nope"/);
  assert.equal(model.dirty, false);

  model.setField("name", "Ana");
  model.setField("agree", true);
  model.setField("color", "blue");
  model.setField("country", "CA");
  assert.equal(model.dirty, true);
  assert.equal(model.fields()[0].value, "Ana");

  const saved = await model.save();
  assert.equal(model.dirty, false);
  const form = (await PDFDocument.load(saved)).getForm();
  assert.equal(form.getTextField("name").getText(), "Ana");
  assert.equal(form.getCheckBox("agree").isChecked(), true);
  assert.equal(form.getRadioGroup("color").getSelected(), "blue");
  assert.deepEqual(form.getDropdown("country").getSelected(), ["CA"]);
  assert.equal(model.fields()[2].value, "blue");

  model.setField("name", "Żó");
  await assert.rejects(model.save(), /“Ż” \(field "name"\)/);
  assert.equal(model.dirty, true);
});
