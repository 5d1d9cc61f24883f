import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { readFile } from "node:fs/promises";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { execFileSync } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { importSource, pdfLib, workDir } from "./build-copy.mjs";
import { everyFieldForm, xfaForm } from "./fixtures.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");
const { useFontSource } = await importSource("fonts.js");
const { PDFDocument, PDFName, PDFRawStream } = pdfLib;
const pdfjs = await import(pathToFileURL(join(workDir, "node_modules/pdfjs-dist/legacy/build/pdf.mjs")).href);

// The text of the fields' appearances (what a reader that doesn't draw fields itself shows), read
// by pdf.js from a copy with the fields flattened into the page.
async function appearanceText(bytes) {
  const doc = await PDFDocument.load(bytes);
  doc.getForm().flatten({ updateFieldAppearances: false });
  return (await pageTexts(await doc.save()))[0];
}

useFontSource(() => readFile(join(workDir, "node_modules/dejavu-fonts-ttf/ttf/DejaVuSans.ttf")));

// Each page's text as pdf.js extracts it (what search and copy in a reader see).
async function pageTexts(bytes) {
  const pdf = await pdfjs.getDocument({ data: bytes.slice(), useSystemFonts: false }).promise;
  const texts = [];
  for (let n = 1; n <= pdf.numPages; n += 1) {
    const { items } = await (await pdf.getPage(n)).getTextContent();
    texts.push(items.map((item) => item.str).join(" ").replace(/\s+/g, " ").trim());
  }
  await pdf.destroy();
  return texts;
}

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

test("placed text lands on its page when saved, upright on a turned page", async () => {
  const model = await DocumentModel.open(await threePages());
  await model.addText(0, { x: 10, y: 150, text: "Hello\nWorld", size: 12 });
  await model.rotate(1, 90);
  await model.addText(1, { x: 80, y: 20, text: "Side", size: 10 });
  assert.doesNotMatch(contentText(await PDFDocument.load(model.bytes), 0), /Tj/, "not written before saving");
  assert.equal(model.dirty, true);

  const saved = await model.save();
  assert.deepEqual(await pageTexts(saved), ["Hello World", "Side", ""]);
  assert.equal(model.dirty, false);
  assert.deepEqual(model.texts(0), [], "saved text is part of the page");

  // On a page turned 90° the text runs up the page (matrix 0 1 -1 0) and its baseline sits left of the click.
  const side = contentText(await PDFDocument.load(saved), 1);
  const [, a, b, c, d, e, f] = side.match(/(\S+) (\S+) (\S+) (\S+) (\S+) (\S+) Tm\s*<[0-9A-F]+> Tj/).map(Number);
  assert.deepEqual([a, b, c, d].map(Math.round), [0, 1, -1, 0]);
  assert.ok(e < 80 && e > 70, `baseline x ${e}`);
  assert.equal(f, 20);
});

test("every client's name is written in the embedded font and reads back as typed", async () => {
  const names = ["Żaneta Wróbel", "Олена Коваленко", "Gökhan Yılmaz", "Nguyễn Thị Hương", "Ελένη Παπαδοπούλου",
    "Łukasz Źdźbło", "Ștefan Țurcanu", "Ærøskøbing Åse"];
  const model = await DocumentModel.open(await threePages());
  for (const [i, name] of names.entries()) await model.addText(0, { x: 5, y: 190 - i * 20, text: name, size: 8 });
  // Vietnamese typed with combining marks is written composed.
  await model.addText(2, { x: 5, y: 100, text: "Nguye\u0302\u0303n", size: 8 });
  const saved = await model.save();
  const [first, , third] = await pageTexts(saved);
  for (const name of names) assert.ok(first.includes(name), `${name} in ${first}`);
  assert.equal(third, "Nguyễn");

  const doc = await PDFDocument.load(saved);
  const fonts = doc.context.enumerateIndirectObjects().map(([, object]) => object)
    .filter((object) => object.get?.(PDFName.of("Type")) === PDFName.of("Font"))
    .map((font) => font.get(PDFName.of("BaseFont"))?.asString?.() ?? String(font.get(PDFName.of("BaseFont"))));
  assert.ok(fonts.length > 0 && fonts.every((name) => /DejaVuSans/.test(name)), `DejaVu Sans, once, among ${fonts}`);
  assert.ok(saved.length < 120_000, `the font is a subset (${saved.length} bytes)`);
});

test("text that can't be written is refused with the reason, and nothing changes", async () => {
  const model = await DocumentModel.open(await threePages());
  const cases = [
    ["مريم", /Arabic.*right to left/],
    ["שרה", /Hebrew.*right to left/],
    ["प्रिया", /Devanagari.*clusters/],
    ["สมชาย", /Thai/],
    ["王芳", /no character “王” \(U\+738B\)/],
    ["  \n ", /no text/],
  ];
  for (const [text, reason] of cases) {
    await assert.rejects(model.addText(0, { x: 1, y: 1, text }), (error) => error instanceof DocumentError && reason.test(error.message), text);
  }
  await assert.rejects(model.addText(0, { x: 1, y: 1, text: "a", color: "red" }), /colour/);
  await assert.rejects(model.addText(0, { x: 1, y: 1, text: "a", size: 200 }), /between 4 and 144/);
  assert.equal(model.canUndo, false);
  assert.equal(model.dirty, false);
});

test("placed text can be moved, edited, resized, recoloured and deleted, each step undoable", async () => {
  const model = await DocumentModel.open(await threePages());
  const id = await model.addText(1, { x: 10, y: 100, text: "Draft" });
  const other = await model.addText(1, { x: 10, y: 50, text: "Gone" });
  await model.updateText(id, { x: 30, y: 120 });
  await model.updateText(id, { text: "Олена" });
  await model.updateText(id, { size: 20, color: "#CC0000" });
  model.removeText(other);
  await assert.rejects(model.updateText(id, { text: "مريم" }), /Arabic/);
  await assert.rejects(model.updateText("text-99", { x: 1 }), /no longer/);
  assert.deepEqual(model.texts(1).map(({ x, y, text, size, color }) => [x, y, text, size, color]),
    [[30, 120, "Олена", 20, "#cc0000"]]);

  await model.undo();
  assert.equal(model.texts(1).length, 2, "delete undone");
  await model.undo();
  await model.undo();
  assert.deepEqual(model.texts(1).find((t) => t.id === id), { id, page: model.texts(1)[0].page, x: 30, y: 120, text: "Draft", size: 12, color: "#000000" });
  await model.redo();
  await model.redo();
  await model.redo();

  // The text follows its page when pages move, goes with a deleted page and comes back with it.
  await model.move(1, 0);
  assert.equal(model.texts(0).length, 1);
  await model.remove(0);
  assert.deepEqual([model.texts(0), model.texts(1)], [[], []]);
  assert.deepEqual(await pageTexts(await model.save()), ["", ""]);
  await model.undo();
  await model.undo();
  assert.equal(model.texts(0)[0].text, "Олена");

  const saved = await model.save();
  const { items } = await (await (await pdfjs.getDocument({ data: saved.slice() }).promise).getPage(1)).getTextContent();
  const word = items.find((item) => item.str === "Олена");
  assert.ok(word, "the edited text is on the page that moved first");
  assert.equal(Math.round(word.transform[0]), 20);
  assert.equal(Math.round(word.transform[4]), 30);
});

function qpdfFieldValues(bytes) {
  const dir = mkdtempSync(join(tmpdir(), "pdfcraft-form-"));
  try {
    writeFileSync(join(dir, "form.pdf"), bytes);
    const json = JSON.parse(execFileSync("qpdf", ["--json", "--json-key=acroform", join(dir, "form.pdf")], { encoding: "utf8" }));
    return Object.fromEntries(json.acroform.fields.filter((f) => f.parent === null || f.fullname)
      .map((f) => [f.fullname, f.value]));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

test("form values in any of the supported scripts are written with appearances in the embedded font", async () => {
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  assert.deepEqual(model.fields().map((f) => [f.name, f.kind]), [
    ["name", "text"], ["code", "text"], ["address", "text"], ["agree", "checkbox"], ["color", "radio"],
    ["country", "dropdown"], ["languages", "list"], ["office", "text"],
  ]);

  const refusals = [
    ["code", "too long", /at most 5/],
    ["color", "green", DocumentError],
    ["agree", "yes", DocumentError],
    ["languages", ["Klingon"], DocumentError],
    ["office", "Kyiv", /read-only/],
    ["nope", "x", /no field called "nope"/],
    ["name", "مريم", /Arabic.*field "name"/],
  ];
  for (const [name, value, reason] of refusals) await assert.rejects(model.setField(name, value), reason, name);
  assert.equal(model.dirty, false);

  const values = [
    ["name", "Олена Коваленко"], ["code", "Ż1"], ["address", "Żaneta Wróbel\nул. Шевченка 5"],
    ["agree", true], ["color", "red"], ["country", "PL"], ["languages", ["Polish", "Ukrainian"]],
  ];
  for (const [name, value] of values) await model.setField(name, value);
  // A viewer names a radio button by its state ("1" for the second option).
  await model.setField("color", "1");
  assert.equal(model.fields()[4].value, "blue");
  await assert.rejects(model.setField("color", "7"), DocumentError);
  await model.setField("code", "Ż12");
  assert.equal(model.dirty, true);
  assert.equal(model.fields()[1].value, "Ż12");

  // Typing into one field is one undo step; the other fields keep their values.
  await model.undo();
  await model.undo();
  assert.equal(model.fields()[4].value, "red");
  assert.equal(model.fields()[6].value.length, 2);
  await model.undo();
  assert.deepEqual(model.fields()[6].value, []);
  for (let step = 0; step < 3; step += 1) await model.redo();

  const saved = await model.save();
  assert.equal(model.dirty, false);
  const form = (await PDFDocument.load(saved)).getForm();
  assert.equal(form.getTextField("name").getText(), "Олена Коваленко");
  assert.equal(form.getTextField("code").getText(), "Ż12");
  assert.equal(form.getTextField("address").getText(), "Żaneta Wróbel\nул. Шевченка 5");
  assert.equal(form.getCheckBox("agree").isChecked(), true);
  assert.equal(form.getRadioGroup("color").getSelected(), "blue");
  assert.deepEqual(form.getDropdown("country").getSelected(), ["PL"]);
  assert.deepEqual(form.getOptionList("languages").getSelected(), ["Polish", "Ukrainian"]);
  assert.equal(form.getTextField("office").getText(), "Ottawa");

  const fromQpdf = qpdfFieldValues(saved);
  assert.equal(fromQpdf.name, "u:Олена Коваленко");
  assert.equal(fromQpdf.code, "u:Ż12");

  // The appearances draw the values in the embedded font, whose text pdf.js reads back.
  const shown = await appearanceText(saved);
  for (const value of ["Олена Коваленко", "Żaneta Wróbel", "ул. Шевченка 5", "Ż12", "Ottawa"]) {
    assert.ok(shown.includes(value), `${value} in ${shown}`);
  }
});

test("an XFA form without fields has nothing to fill, says which form it is, and takes bytes filled elsewhere", async () => {
  const model = await DocumentModel.open(await xfaForm(workDir));
  assert.equal(model.fields().length, 0);
  assert.equal(model.hasXfa, true);
  const plain = await DocumentModel.open(await threePages());
  assert.equal(plain.hasXfa, false);

  // One that asks to be drawn from its XFA is drawn by pdf.js as a form of its own.
  const drawn = await xfaForm(workDir, { drawn: true });
  const pdf = await pdfjs.getDocument({ data: drawn.slice(), enableXfa: true }).promise;
  assert.equal(pdf.isPureXfa, true);
  assert.match(JSON.stringify(await (await pdf.getPage(1)).getXfa()), /"dataId":"familyName/);
  await pdf.destroy();

  // Values pdf.js wrote come in as one undoable edit; bytes that aren't a PDF are refused.
  const before = model.bytes;
  await model.adopt("Fill in the form", drawn);
  assert.equal(model.bytes, drawn);
  await assert.rejects(model.adopt("Fill in the form", new TextEncoder().encode("garbage")), DocumentError);
  assert.equal(model.bytes, drawn);
  await model.undo();
  assert.equal(model.bytes, before);
});

// The font sizes ("n Tf") an appearance stream of a field's first widget draws with.
function appearanceSizes(field) {
  const widget = field.acroField.getWidgets()[0];
  const stream = widget.dict.context.lookup(widget.getNormalAppearance());
  const raw = stream.dict.get(PDFName.of("Filter")) ? inflateSync(stream.contents) : stream.contents;
  return [...Buffer.from(raw).toString("latin1").matchAll(/([\d.]+) Tf/g)].map((m) => Number(m[1]));
}

test("a multi-line field is drawn at a size that fits its value, not one as tall as its box", async () => {
  const { multilineSize, sensibleSize, MULTILINE_SIZES } = await importSource("textsize.js");
  for (const [asked, used] of [[0, 12], [51, 12], [12.5, 12], [10, 10], [12, 12], [-3, 12]]) {
    assert.equal(sensibleSize(asked), used, `asked ${asked}`);
  }
  const doc = await PDFDocument.create();
  const helvetica = await doc.embedFont(pdfLib.StandardFonts.Helvetica);
  const long = "Zaneta Wrobel, ul. Dluga 15 m. 4, 00-238 Warszawa, Polska ".repeat(6);
  const cases = [
    // text, width, height, largest, check
    ["Kyiv", 300, 60, 12, (size) => size === MULTILINE_SIZES.largest],
    ["Kyiv", 300, 60, 9, (size) => size === 9],
    ["Kyiv\nLviv\nOdesa\nDnipro", 300, 60, 12, (size) => size === 11.5],
    [long, 300, 60, 12, (size) => size < 10 && size > MULTILINE_SIZES.smallest],
    [long.repeat(20), 100, 20, 12, (size) => size === MULTILINE_SIZES.smallest],
  ];
  for (const [text, width, height, largest, fits] of cases) {
    const size = multilineSize(text, helvetica, width, height, largest);
    assert.ok(fits(size), `${text.slice(0, 20)} in ${width}x${height} up to ${largest}: ${size}`);
  }

  // The form made with pdf-lib asks for 51 points in its multi-line field, the height of its box.
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  await model.setField("address", "Kyiv");
  await model.setField("name", "Олена Коваленко");
  const form = (await PDFDocument.load(await model.save())).getForm();
  const address = form.getTextField("address");
  assert.deepEqual(appearanceSizes(address), [12]);
  assert.match(address.acroField.getDefaultAppearance(), / 12 Tf/);

  // Filled again with a long value, the same field comes out smaller.
  await model.setField("address", long.replace("Zaneta Wrobel", "Żaneta Wróbel"));
  const again = (await PDFDocument.load(await model.save())).getForm().getTextField("address");
  const [size] = appearanceSizes(again);
  assert.ok(size < 10 && size > MULTILINE_SIZES.smallest, `size ${size}`);
});
