import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { readFile } from "node:fs/promises";
import { join } from "node:path";
import { importSource, pageTexts, pdfLib, pdfOfWidths, withPdf, workDir } from "./helpers.mjs";
import { everyFieldForm, xfaForm } from "./fixtures.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");
const { useFontSource } = await importSource("fonts.js");
const { multilineSize, sensibleSize, MULTILINE_SIZES } = await importSource("textsize.js");
const { PDFDocument, PDFName } = pdfLib;

useFontSource(() => readFile(join(workDir, "node_modules/dejavu-fonts-ttf/ttf/DejaVuSans.ttf")));
const threePages = async () => DocumentModel.open(await pdfOfWidths([101, 102, 103]));

function streamText(stream) {
  const raw = Buffer.from(stream.contents);
  return (stream.dict.get(PDFName.of("Filter")) ? inflateSync(raw) : raw).toString("latin1");
}

// Takes `count` steps back (undo) or forward (redo) through the model's history.
const steps = async (model, step, count) => {
  for (let n = 0; n < count; n += 1) await model[step]();
};
const refusedFor = (reason) => (error) => error instanceof DocumentError && reason.test(error.message);

test("opening refuses what can't be edited, with a reason", async () => {
  await assert.rejects(DocumentModel.open(new TextEncoder().encode("not a pdf at all")), DocumentError);
  const doc = await PDFDocument.create();
  doc.addPage();
  doc.context.trailerInfo.Encrypt = doc.context.register(doc.context.obj({ Filter: "Standard" }));
  await assert.rejects(DocumentModel.open(await doc.save()), refusedFor(/password-protected/));
});

test("page order, rotation and deletion are written to the bytes, bad ones are refused, and undo steps back", async () => {
  const model = await threePages();
  const before = model.bytes;
  const pages = async () => (await PDFDocument.load(model.bytes)).getPages().map((page) => [page.getWidth(), page.getRotation().angle]);
  for (const bad of [() => model.move(0, 3), () => model.rotate(3, 90), () => model.rotate(0, 45)]) await assert.rejects(bad(), DocumentError);
  assert.deepEqual([model.dirty, model.canUndo], [false, false]);
  await model.move(0, 2);
  assert.deepEqual(await pages(), [[102, 0], [103, 0], [101, 0]]);
  await model.move(2, 0);
  for (const [index, delta] of [[1, 90], [1, 90], [2, -90]]) await model.rotate(index, delta);
  assert.deepEqual([await pages(), model.rotationOf(2)], [[[101, 0], [102, 180], [103, 270]], 270]);
  await model.remove(0);
  await model.remove(0);
  await assert.rejects(model.remove(0), /last page/);
  assert.deepEqual([await pages(), model.dirty], [[[103, 270]], true]);
  await model.undo();
  assert.deepEqual(await pages(), [[102, 180], [103, 270]]);
  await model.redo();
  assert.equal(model.pageCount, 1);
  while (model.canUndo) await model.undo();
  assert.equal(model.bytes, before);
});

test("placed text is written when saved, upright on a turned page, in an embedded DejaVu Sans subset", async () => {
  const model = await threePages();
  await model.addText(0, { x: 10, y: 150, text: "Hello\nWorld", size: 12 });
  await model.rotate(1, 90);
  await model.addText(1, { x: 80, y: 20, text: "Side", size: 10 });
  const names = ["Олена Коваленко", "Ελένη Παπαδοπούλου", "Łukasz Źdźbło", "Ærøskøbing Åse"];
  for (const [i, name] of names.entries()) await model.addText(2, { x: 5, y: 190 - i * 20, text: name, size: 8 });
  // Vietnamese typed with combining marks is written composed.
  await model.addText(2, { x: 5, y: 90, text: "Nguye\u0302\u0303n", size: 8 });
  assert.deepEqual(await pageTexts(model.bytes), ["", "", ""], "not written before saving");
  const saved = await model.save();
  assert.deepEqual(await pageTexts(saved), ["Hello World", "Side", [...names, "Nguyễn"].join(" ")]);
  assert.deepEqual([model.dirty, model.texts(0)], [false, []], "saved text is part of the page");

  const doc = await PDFDocument.load(saved);
  const fonts = doc.context.enumerateIndirectObjects().map(([, object]) => object)
    .filter((object) => object.get?.(PDFName.of("Type")) === PDFName.of("Font")).map((font) => String(font.get(PDFName.of("BaseFont"))));
  assert.ok(fonts.length > 0 && fonts.every((name) => /DejaVuSans/.test(name)), `only DejaVu Sans among ${fonts}`);
  assert.ok(saved.length < 120_000, `the font is a subset (${saved.length} bytes)`);
  // On a page turned 90° the text runs up the page (matrix 0 1 -1 0) and its baseline sits left of the click.
  const side = doc.getPage(1).node.Contents().asArray().map((ref) => streamText(doc.context.lookup(ref))).join("\n");
  const [, a, b, c, d, e, f] = side.match(/(\S+) (\S+) (\S+) (\S+) (\S+) (\S+) Tm\s*<[0-9A-F]+> Tj/).map(Number);
  assert.deepEqual([a, b, c, d].map(Math.round), [0, 1, -1, 0]);
  assert.ok(e < 80 && e > 70 && f === 20, `baseline at ${e}, ${f}`);
});

test("placed text can be moved, edited, resized, recoloured and deleted, each step undoable, and follows its page", async () => {
  const model = await threePages();
  const refusals = [
    [{ text: "مريم" }, /Arabic.*right to left/], [{ text: "प्रिया" }, /Devanagari.*clusters/],
    [{ text: "王芳" }, /no character “王” \(U\+738B\)/], [{ text: "  \n " }, /no text/],
    [{ text: "a", color: "red" }, /colour/], [{ text: "a", size: 200 }, /between 4 and 144/],
  ];
  for (const [asked, reason] of refusals) await assert.rejects(model.addText(0, { x: 1, y: 1, ...asked }), refusedFor(reason), asked.text);
  assert.deepEqual([model.dirty, model.canUndo], [false, false]);

  const id = await model.addText(1, { x: 10, y: 100, text: "Draft" });
  const other = await model.addText(1, { x: 10, y: 50, text: "Gone" });
  await model.updateText(id, { x: 30, y: 120 });
  await model.updateText(id, { text: "Олена" });
  await model.updateText(id, { size: 20, color: "#CC0000" });
  model.removeText(other);
  await assert.rejects(model.updateText(id, { text: "مريم" }), /Arabic/);
  await assert.rejects(model.updateText("text-99", { x: 1 }), /no longer/);
  const shown = () => model.texts(1).map(({ x, y, text, size, color }) => [x, y, text, size, color]);
  assert.deepEqual([shown(), model.dirty], [[[30, 120, "Олена", 20, "#cc0000"]], true]);
  await model.undo();
  assert.equal(model.texts(1).length, 2, "delete undone");
  await steps(model, "undo", 2);
  assert.deepEqual(shown()[0], [30, 120, "Draft", 12, "#000000"]);
  await steps(model, "redo", 3);

  // The text follows its page when pages move, goes with a deleted page and comes back with it.
  await model.move(1, 0);
  assert.equal(model.texts(0).length, 1);
  await model.remove(0);
  assert.deepEqual([model.texts(0), model.texts(1), await pageTexts(await model.save())], [[], [], ["", ""]]);
  await steps(model, "undo", 2);
  const { items } = await withPdf(await model.save(), async (pdf) => (await pdf.getPage(1)).getTextContent());
  const word = items.find((item) => item.str === "Олена");
  assert.deepEqual([word.transform[0], word.transform[4]].map(Math.round), [20, 30], "the edited text is on the page moved first");
});

test("form values are checked against their fields, undone field by field and drawn in the embedded font", async () => {
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  const refusals = [
    ["code", "too long", /at most 5/], ["color", "green", DocumentError], ["agree", "yes", DocumentError],
    ["languages", ["Klingon"], DocumentError], ["office", "Kyiv", /read-only/], ["nope", "x", /no field called "nope"/],
    ["name", "مريم", /Arabic.*field "name"/], ["color", "7", DocumentError],
  ];
  for (const [name, value, reason] of refusals) await assert.rejects(model.setField(name, value), reason, name);
  assert.equal(model.dirty, false);
  // A viewer names a radio button by its state ("1" for the second option).
  const values = [
    ["name", "Олена Коваленко"], ["code", "Ż1"], ["address", "Żaneta Wróbel\nул. Шевченка 5"], ["agree", true],
    ["color", "red"], ["country", "PL"], ["languages", ["Polish", "Ukrainian"]], ["color", "1"], ["code", "Ż1234"],
  ];
  for (const [name, value] of values) await model.setField(name, value);
  const value = (name) => model.fields().find((field) => field.name === name).value;
  assert.deepEqual([value("color"), value("code"), model.dirty], ["blue", "Ż1234", true]);
  // Typing into one field is one undo step; the other fields keep their values.
  await steps(model, "undo", 2);
  assert.deepEqual([value("code"), value("color"), value("languages")], ["Ż1", "red", ["Polish", "Ukrainian"]]);
  await model.undo();
  assert.deepEqual(value("languages"), []);
  await steps(model, "redo", 3);

  const flat = await PDFDocument.load(await model.save());
  assert.equal(model.dirty, false);
  assert.deepEqual(flat.getForm().getOptionList("languages").getSelected(), ["Polish", "Ukrainian"]);
  // The appearances, which pdf.js reads once the fields are flattened, draw the values in the embedded font.
  flat.getForm().flatten({ updateFieldAppearances: false });
  const [shown] = await pageTexts(await flat.save());
  for (const text of ["Олена Коваленко", "Żaneta Wróbel", "ул. Шевченка 5", "Ż1234", "Ottawa"]) {
    assert.ok(shown.includes(text), `${text} in ${shown}`);
  }
});

test("a multi-line field is drawn at a size that fits its value, not one as tall as its box", async () => {
  for (const [asked, used] of [[0, 12], [12.5, 12], [10, 10], [-3, 12]]) assert.equal(sensibleSize(asked), used, `asked ${asked}`);
  const helvetica = await (await PDFDocument.create()).embedFont(pdfLib.StandardFonts.Helvetica);
  const long = "Zaneta Wrobel, ul. Dluga 15 m. 4, 00-238 Warszawa, Polska ".repeat(6);
  const cases = [ // text, width, height, largest, check
    ["Kyiv", 300, 60, 12, (size) => size === 12], ["Kyiv", 300, 60, 9, (size) => size === 9],
    ["Kyiv\nLviv\nOdesa\nDnipro", 300, 60, 12, (size) => size === 11.5],
    [long, 300, 60, 12, (size) => size < 10 && size > MULTILINE_SIZES.smallest],
    [long.repeat(20), 100, 20, 12, (size) => size === MULTILINE_SIZES.smallest],
  ];
  for (const [text, width, height, largest, fits] of cases) {
    const size = multilineSize(text, helvetica, width, height, largest);
    assert.ok(fits(size), `${text.slice(0, 20)} in ${width}x${height} up to ${largest}: ${size}`);
  }

  // pdf-lib's form asks for 51 points, its box's height; filled with a long value, it comes out smaller.
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  const sizesOf = async (value) => {
    await model.setField("address", value);
    const field = (await PDFDocument.load(await model.save())).getForm().getTextField("address").acroField;
    const widget = field.getWidgets()[0];
    const drawn = streamText(widget.dict.context.lookup(widget.getNormalAppearance()));
    return [[...drawn.matchAll(/([\d.]+) Tf/g)].map((m) => Number(m[1])), field.getDefaultAppearance()];
  };
  const [short, asked] = await sizesOf("Kyiv");
  assert.ok(short.join() === "12" && / 12 Tf/.test(asked), `${short}; ${asked}`);
  const [[size]] = await sizesOf(long.replace("Zaneta Wrobel", "Żaneta Wróbel"));
  assert.ok(size < 10 && size > MULTILINE_SIZES.smallest, `size ${size}`);
});

test("an XFA form is known writable only when kept in parts, and bytes taken in from pdf.js are one undoable edit", async () => {
  const model = await DocumentModel.open(await xfaForm(workDir, { parts: true }));
  assert.deepEqual([model.hasXfa, model.xfaWritable, model.fields().length], [true, true, 0]);
  const opened = model.bytes;
  const forms = [[await xfaForm(workDir), [true, false]], [await pdfOfWidths([100]), [false, false]]];
  for (const [bytes, flags] of forms) {
    await model.adopt("Fill in the form", bytes);
    assert.deepEqual([model.bytes, model.hasXfa, model.xfaWritable, model.dirty], [bytes, ...flags, true]);
  }
  await assert.rejects(model.adopt("Fill in the form", new TextEncoder().encode("garbage")), DocumentError);
  assert.equal(model.bytes, forms[1][0]);
  await steps(model, "undo", 2);
  assert.deepEqual([model.bytes, model.hasXfa, model.xfaWritable, model.canUndo], [opened, true, true, false]);
});
