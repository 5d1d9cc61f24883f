import { test } from "node:test";
import assert from "node:assert/strict";
import { inflateSync } from "node:zlib";
import { readFile } from "node:fs/promises";
import { join } from "node:path";
import { importSource, pdfLib, workDir } from "./build-copy.mjs";
import { everyFieldForm } from "./fixtures.mjs";
import { pageTexts, qpdf, withPdf } from "./pictures.mjs";

const { DocumentModel, DocumentError } = await importSource("model.js");
const { useFontSource } = await importSource("fonts.js");
const { multilineSize, sensibleSize, MULTILINE_SIZES } = await importSource("textsize.js");
const { PDFDocument, PDFName } = pdfLib;

useFontSource(() => readFile(join(workDir, "node_modules/dejavu-fonts-ttf/ttf/DejaVuSans.ttf")));

// Pages 101, 102, 103 points wide, so their order can be read back from the saved bytes.
async function threePages() {
  const doc = await PDFDocument.create();
  for (const width of [101, 102, 103]) doc.addPage([width, 200]);
  return doc.save();
}

const pagesOf = async (model) => (await PDFDocument.load(model.bytes)).getPages()
  .map((page) => [page.getWidth(), page.getRotation().angle]);

// A stream's text, inflated when it is stored deflated.
function streamText(stream) {
  const raw = Buffer.from(stream.contents);
  return (stream.dict.get(PDFName.of("Filter")) ? inflateSync(raw) : raw).toString("latin1");
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
  assert.deepEqual(await pagesOf(model), [[102, 0], [103, 0], [101, 0]]);
  await model.move(2, 0);
  await model.rotate(1, 90);
  await model.rotate(1, 90);
  await model.rotate(2, -90);
  assert.deepEqual(await pagesOf(model), [[101, 0], [102, 180], [103, 270]]);
  assert.equal(model.rotationOf(2), 270);
  await model.remove(0);
  assert.deepEqual(await pagesOf(model), [[102, 180], [103, 270]]);
  assert.equal(model.dirty, true);

  await model.undo();
  assert.deepEqual(await pagesOf(model), [[101, 0], [102, 180], [103, 270]]);
  await model.redo();
  assert.equal(model.pageCount, 2);
  await model.undo();
  await model.undo();
  assert.deepEqual(await pagesOf(model), [[101, 0], [102, 180], [103, 0]]);
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
  assert.deepEqual(await pageTexts(model.bytes), ["", "", ""], "not written before saving");
  assert.equal(model.dirty, true);
  const saved = await model.save();
  assert.deepEqual(await pageTexts(saved), ["Hello World", "Side", ""]);
  assert.equal(model.dirty, false);
  assert.deepEqual(model.texts(0), [], "saved text is part of the page");

  // On a page turned 90° the text runs up the page (matrix 0 1 -1 0) and its baseline sits left of the click.
  const doc = await PDFDocument.load(saved);
  const side = doc.getPage(1).node.Contents().asArray().map((ref) => streamText(doc.context.lookup(ref))).join("\n");
  const [, a, b, c, d, e, f] = side.match(/(\S+) (\S+) (\S+) (\S+) (\S+) (\S+) Tm\s*<[0-9A-F]+> Tj/).map(Number);
  assert.deepEqual([a, b, c, d].map(Math.round), [0, 1, -1, 0]);
  assert.ok(e < 80 && e > 70, `baseline x ${e}`);
  assert.equal(f, 20);
});

test("every client's name is written in the embedded font, as a subset, and reads back as typed", async () => {
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
  const fonts = (await PDFDocument.load(saved)).context.enumerateIndirectObjects().map(([, object]) => object)
    .filter((object) => object.get?.(PDFName.of("Type")) === PDFName.of("Font"))
    .map((font) => String(font.get(PDFName.of("BaseFont"))));
  assert.ok(fonts.length > 0 && fonts.every((name) => /DejaVuSans/.test(name)), `only DejaVu Sans among ${fonts}`);
  assert.ok(saved.length < 120_000, `the font is a subset (${saved.length} bytes)`);
});

test("text that can't be written is refused with the reason, and nothing changes", async () => {
  const model = await DocumentModel.open(await threePages());
  const cases = [
    [{ text: "مريم" }, /Arabic.*right to left/],
    [{ text: "שרה" }, /Hebrew.*right to left/],
    [{ text: "प्रिया" }, /Devanagari.*clusters/],
    [{ text: "สมชาย" }, /Thai/],
    [{ text: "王芳" }, /no character “王” \(U\+738B\)/],
    [{ text: "  \n " }, /no text/],
    [{ text: "a", color: "red" }, /colour/],
    [{ text: "a", size: 200 }, /between 4 and 144/],
  ];
  for (const [asked, reason] of cases) {
    await assert.rejects(model.addText(0, { x: 1, y: 1, ...asked }),
      (error) => error instanceof DocumentError && reason.test(error.message), asked.text);
  }
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
  const shown = () => model.texts(1).map(({ x, y, text, size, color }) => [x, y, text, size, color]);
  assert.deepEqual(shown(), [[30, 120, "Олена", 20, "#cc0000"]]);
  await model.undo();
  assert.equal(model.texts(1).length, 2, "delete undone");
  await model.undo();
  await model.undo();
  assert.deepEqual(shown()[0], [30, 120, "Draft", 12, "#000000"]);
  for (let step = 0; step < 3; step += 1) await model.redo();

  // The text follows its page when pages move, goes with a deleted page and comes back with it.
  await model.move(1, 0);
  assert.equal(model.texts(0).length, 1);
  await model.remove(0);
  assert.deepEqual([model.texts(0), model.texts(1)], [[], []]);
  assert.deepEqual(await pageTexts(await model.save()), ["", ""]);
  await model.undo();
  await model.undo();
  const { items } = await withPdf(await model.save(), async (pdf) => (await pdf.getPage(1)).getTextContent());
  const word = items.find((item) => item.str === "Олена");
  assert.ok(word, "the edited text is on the page that moved first");
  assert.deepEqual([word.transform[0], word.transform[4]].map(Math.round), [20, 30]);
});

test("form values in any of the supported scripts are written with appearances in the embedded font", async () => {
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  assert.deepEqual(model.fields().map((f) => [f.name, f.kind]), [
    ["name", "text"], ["code", "text"], ["address", "text"], ["agree", "checkbox"], ["color", "radio"],
    ["country", "dropdown"], ["languages", "list"], ["office", "text"],
  ]);
  const refusals = [
    ["code", "too long", /at most 5/], ["color", "green", DocumentError], ["agree", "yes", DocumentError],
    ["languages", ["Klingon"], DocumentError], ["office", "Kyiv", /read-only/], ["nope", "x", /no field called "nope"/],
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
  assert.deepEqual([model.fields()[1].value, model.dirty], ["Ż12", true]);

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
  assert.deepEqual({
    agree: form.getCheckBox("agree").isChecked(), color: form.getRadioGroup("color").getSelected(),
    country: form.getDropdown("country").getSelected(), languages: form.getOptionList("languages").getSelected(),
  }, { agree: true, color: "blue", country: ["PL"], languages: ["Polish", "Ukrainian"] });
  // Another reader finds the text values, written as Unicode.
  const read = JSON.parse(qpdf(saved, "--json", "--json-key=acroform").stdout).acroform.fields;
  assert.deepEqual(Object.fromEntries(read.filter((f) => /^(name|code|address|office)$/.test(f.fullname)).map((f) => [f.fullname, f.value])),
    { name: "u:Олена Коваленко", code: "u:Ż12", address: "u:Żaneta Wróbel\nул. Шевченка 5", office: "u:Ottawa" });

  // The appearances (what a reader that doesn't draw fields itself shows) draw the values in the
  // embedded font, whose text pdf.js reads back from a copy with the fields flattened.
  const flat = await PDFDocument.load(saved);
  flat.getForm().flatten({ updateFieldAppearances: false });
  const [shown] = await pageTexts(await flat.save());
  for (const value of ["Олена Коваленко", "Żaneta Wróbel", "ул. Шевченка 5", "Ż12", "Ottawa"]) {
    assert.ok(shown.includes(value), `${value} in ${shown}`);
  }
});

test("a multi-line field is drawn at a size that fits its value, not one as tall as its box", async () => {
  for (const [asked, used] of [[0, 12], [51, 12], [12.5, 12], [10, 10], [12, 12], [-3, 12]]) {
    assert.equal(sensibleSize(asked), used, `asked ${asked}`);
  }
  const helvetica = await (await PDFDocument.create()).embedFont(pdfLib.StandardFonts.Helvetica);
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

  // The form made with pdf-lib asks for 51 points in its multi-line field, the height of its box;
  // filled again with a long value, the same field comes out smaller.
  const model = await DocumentModel.open(await everyFieldForm(workDir));
  await model.setField("name", "Олена Коваленко");
  const sizesOf = async (value) => {
    await model.setField("address", value);
    const field = (await PDFDocument.load(await model.save())).getForm().getTextField("address");
    const widget = field.acroField.getWidgets()[0];
    const drawn = streamText(widget.dict.context.lookup(widget.getNormalAppearance()));
    return { drawn: [...drawn.matchAll(/([\d.]+) Tf/g)].map((m) => Number(m[1])), asked: field.acroField.getDefaultAppearance() };
  };
  const short = await sizesOf("Kyiv");
  assert.deepEqual(short.drawn, [12]);
  assert.match(short.asked, / 12 Tf/);
  const [size] = (await sizesOf(long.replace("Zaneta Wrobel", "Żaneta Wróbel"))).drawn;
  assert.ok(size < 10 && size > MULTILINE_SIZES.smallest, `size ${size}`);
});
