import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { importSource, pdfLib, workDir } from "./build-copy.mjs";
import { xfaForm } from "./fixtures.mjs";
import { withPdf } from "./pictures.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");
const { PDFDocument, PDFName } = pdfLib;

// The text controls of an XFA form as pdf.js draws it, each with the key its value is kept under.
function xfaControls(node, found = []) {
  if (node && typeof node === "object") {
    if (node.name === "input" || node.name === "textarea") found.push(node.attributes);
    for (const child of node.children ?? []) xfaControls(child, found);
  }
  return found;
}
const firstControl = (pdf) => pdf.getPage(1).then(async (page) => xfaControls(await page.getXfa())[0]);

// Fills the form's first text control in pdf.js, the way the editor's XFA layer does, and has
// pdf.js write the values into a copy.
const fillAndSave = (bytes, value) => withPdf(bytes, async (pdf) => {
  assert.equal(pdf.isPureXfa, true);
  const control = await firstControl(pdf);
  assert.ok(control?.dataId, "the form has a text control");
  pdf.annotationStorage.setValue(control.dataId, { value });
  return pdf.saveDocument();
}, { enableXfa: true });

// The form's XFA data as the saved file holds it, from its "datasets" part.
async function datasets(bytes) {
  const doc = await PDFDocument.load(bytes);
  const parts = doc.catalog.lookup(PDFName.of("AcroForm")).lookup(PDFName.of("XFA"));
  for (let i = 0; i + 1 < parts.size(); i += 2) {
    if (parts.lookup(i).decodeText() !== "datasets") continue;
    const stream = parts.lookup(i + 1);
    const raw = stream.dict.get(PDFName.of("Filter")) ? inflateSync(stream.contents) : Buffer.from(stream.contents);
    return raw.toString("utf8").replace(/&#x([0-9a-f]+);/gi, (_, hex) => String.fromCodePoint(parseInt(hex, 16)));
  }
  return null;
}

test("an XFA form kept in parts is filled and saved with its value in the form's data", async () => {
  const model = await DocumentModel.open(await xfaForm(workDir, { drawn: true, parts: true }));
  assert.deepEqual([model.hasXfa, model.xfaWritable, model.fields().length], [true, true, 0]);
  for (const name of ["Олена Коваленко", "Żaneta Wróbel"]) {
    await model.adopt("Fill in the form", await fillAndSave(model.bytes, name));
    const saved = await model.save();
    assert.match(await datasets(saved), new RegExp(`<familyName>${name}</familyName>`));
    // Opened again, pdf.js shows the value in the field.
    assert.equal((await withPdf(saved, firstControl, { enableXfa: true })).value, name);
  }
  // Bytes that aren't a PDF are refused and change nothing; undo steps back one fill.
  const filled = model.bytes;
  await assert.rejects(model.adopt("Fill in the form", new TextEncoder().encode("garbage")), DocumentError);
  assert.equal(model.bytes, filled);
  await model.undo();
  assert.match(await datasets(model.bytes), /<familyName>Олена Коваленко<\/familyName>/);
});

test("an XFA form kept in one stream can't be written by pdf.js, which fails rather than dropping the value", async () => {
  const form = await xfaForm(workDir, { drawn: true });
  await assert.rejects(fillAndSave(form, "Олена Коваленко"));
  // The editor knows this before anything is typed, and so doesn't take values it would lose.
  const model = await DocumentModel.open(form);
  assert.deepEqual([model.hasXfa, model.xfaWritable], [true, false]);
  const blank = await PDFDocument.create();
  blank.addPage();
  const plain = await DocumentModel.open(await blank.save());
  assert.deepEqual([plain.hasXfa, plain.xfaWritable], [false, false]);
});
