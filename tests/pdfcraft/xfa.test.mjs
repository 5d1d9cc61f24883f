import { test } from "node:test";
import assert from "node:assert/strict";
import { importSource, pdfLib, withPdf, workDir } from "./helpers.mjs";
import { xfaForm } from "./fixtures.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");

// The first text control of an XFA form as pdf.js draws it, with the key its value is kept under.
function firstControl(node) {
  if (node?.name === "input" || node?.name === "textarea") return node.attributes;
  for (const child of node?.children ?? []) {
    const found = firstControl(child);
    if (found) return found;
  }
  return null;
}
const xfaValue = (bytes) => withPdf(bytes, async (pdf) => firstControl(await (await pdf.getPage(1)).getXfa()).value, { enableXfa: true });

// Fills the form's first text control in pdf.js, the way the editor's XFA layer does, and has
// pdf.js write the values into a copy.
const fillAndSave = (bytes, value) => withPdf(bytes, async (pdf) => {
  assert.equal(pdf.isPureXfa, true);
  pdf.annotationStorage.setValue(firstControl(await (await pdf.getPage(1)).getXfa()).dataId, { value });
  return pdf.saveDocument();
}, { enableXfa: true });

test("an XFA form kept in parts is filled and saved, and one kept in one stream is known not to be writable", async () => {
  const model = await DocumentModel.open(await xfaForm(workDir, { parts: true }));
  assert.deepEqual([model.hasXfa, model.xfaWritable, model.fields().length], [true, true, 0]);
  for (const name of ["Олена Коваленко", "Żaneta Wróbel"]) {
    await model.adopt("Fill in the form", await fillAndSave(model.bytes, name));
    assert.equal(await xfaValue(await model.save()), name, "opened again, pdf.js shows the value");
  }
  // Bytes that aren't a PDF are refused and change nothing; undo steps back one fill.
  const filled = model.bytes;
  await assert.rejects(model.adopt("Fill in the form", new TextEncoder().encode("garbage")), DocumentError);
  assert.equal(model.bytes, filled);
  await model.undo();
  assert.equal(await xfaValue(model.bytes), "Олена Коваленко");

  // pdf.js can't write an XFA kept in one stream and fails rather than dropping the value; the
  // editor knows this before anything is typed, and so doesn't take values it would lose.
  const single = await xfaForm(workDir);
  await assert.rejects(fillAndSave(single, "Олена Коваленко"));
  const blank = await pdfLib.PDFDocument.create();
  blank.addPage();
  for (const [bytes, expected] of [[single, [true, false]], [await blank.save(), [false, false]]]) {
    await model.adopt("Open", bytes);
    assert.deepEqual([model.hasXfa, model.xfaWritable], expected);
  }
});
