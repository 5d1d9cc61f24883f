import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { importSource, pdfLib, workDir } from "./build-copy.mjs";
import { xfaForm } from "./fixtures.mjs";

const { DocumentModel } = await importSource("model.js");
const { PDFDocument, PDFName } = pdfLib;
const pdfjs = await import(pathToFileURL(join(workDir, "node_modules/pdfjs-dist/legacy/build/pdf.mjs")).href);

// The text controls of an XFA form as pdf.js draws it, each with the key its value is kept under.
function xfaControls(node, found = []) {
  if (node && typeof node === "object") {
    if (node.name === "input" || node.name === "textarea") found.push(node.attributes);
    for (const child of node.children ?? []) xfaControls(child, found);
  }
  return found;
}

// Fills the form's first text control in pdf.js, the way the editor's XFA layer does, and has
// pdf.js write the values into a copy.
async function fillAndSave(bytes, value) {
  const pdf = await pdfjs.getDocument({ data: bytes.slice(), enableXfa: true }).promise;
  try {
    assert.equal(pdf.isPureXfa, true);
    const [control] = xfaControls(await (await pdf.getPage(1)).getXfa());
    assert.ok(control?.dataId, "the form has a text control");
    pdf.annotationStorage.setValue(control.dataId, { value });
    return await pdf.saveDocument();
  } finally {
    await pdf.destroy();
  }
}

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
  const form = await xfaForm(workDir, { drawn: true, parts: true });
  const model = await DocumentModel.open(form);
  assert.equal(model.hasXfa, true);
  assert.equal(model.xfaWritable, true);
  for (const name of ["Олена Коваленко", "Żaneta Wróbel"]) {
    const filled = await fillAndSave(model.bytes, name);
    await model.adopt("Fill in the form", filled);
    const saved = await model.save();
    assert.match(await datasets(saved), new RegExp(`<familyName>${name}</familyName>`));
    // Opened again, pdf.js shows the value in the field.
    const pdf = await pdfjs.getDocument({ data: saved.slice(), enableXfa: true }).promise;
    const [control] = xfaControls(await (await pdf.getPage(1)).getXfa());
    await pdf.destroy();
    assert.equal(control.value, name);
  }
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
