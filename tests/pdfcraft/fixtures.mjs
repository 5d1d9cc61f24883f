// Test documents made on the spot: a one-page letter, a form with every kind of field, and an XFA
// form. As a script it writes them for the end-to-end tests (onePage.pdf, form.pdf, xfa.pdf in parts):
//   node fixtures.mjs <pdfcraft work folder> <folder>
import { createRequire } from "node:module";
import { writeFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

async function pdfLibFrom(workDir) {
  return import(pathToFileURL(createRequire(join(resolve(workDir), "package.json")).resolve("pdf-lib")).href);
}

export async function onePage(workDir) {
  const { PDFDocument } = await pdfLibFrom(workDir);
  const doc = await PDFDocument.create();
  doc.addPage([612, 792]).drawText("Quillpost editor test", { x: 72, y: 680, size: 36 });
  return doc.save();
}

// Fields from the top down in tab order: name (text, at most 40), code (at most 5), address (multi-line),
// agree (check box), color (radio: red, blue), country (drop-down), languages (multiple choice), office (read-only).
export async function everyFieldForm(workDir) {
  const { PDFDocument, StandardFonts } = await pdfLibFrom(workDir);
  const doc = await PDFDocument.create();
  const page = doc.addPage([400, 500]);
  const font = await doc.embedFont(StandardFonts.Helvetica);
  const form = doc.getForm();
  const place = (field, label, y, width = 120, height = 22) => {
    page.drawText(label, { x: 10, y: y + 6, size: 9, font });
    field.addToPage(page, { x: 80, y, width, height });
    return field;
  };
  place(form.createTextField("name"), "Name", 450, 300).setMaxLength(40);
  place(form.createTextField("code"), "Code", 415, 80).setMaxLength(5);
  place(form.createTextField("address"), "Address", 340, 300, 60).enableMultiline();
  place(form.createCheckBox("agree"), "Agree", 305, 16, 16);
  page.drawText("Colour", { x: 10, y: 276, size: 9, font });
  const color = form.createRadioGroup("color");
  color.addOptionToPage("red", page, { x: 80, y: 270, width: 16, height: 16 });
  color.addOptionToPage("blue", page, { x: 110, y: 270, width: 16, height: 16 });
  place(form.createDropdown("country"), "Country", 230).addOptions(["CA", "PL", "UA"]);
  const languages = place(form.createOptionList("languages"), "Languages", 150, 120, 64);
  languages.addOptions(["English", "French", "Polish", "Ukrainian"]);
  languages.enableMultiselect();
  const office = place(form.createTextField("office"), "Office", 110);
  office.setText("Ottawa");
  office.enableReadOnly();
  form.updateFieldAppearances(font);
  return doc.save();
}

// A form only XFA describes, asking readers to draw it (NeedsRendering), as some government forms are.
// With `parts`, its XFA is kept as separate streams (template, datasets, ...) rather than as one.
export async function xfaForm(workDir, { parts = false } = {}) {
  const { PDFDocument, PDFName, PDFBool, PDFString } = await pdfLibFrom(workDir);
  const doc = await PDFDocument.create();
  const page = doc.addPage([612, 792]);
  page.drawText("Please wait... If this message is not replaced, your reader can't show this form.", { x: 40, y: 740, size: 10 });
  const template = `<template xmlns="http://www.xfa.org/schema/xfa-template/3.3/">
<subform name="form1" layout="tb" locale="en_US"><pageSet><pageArea name="Page1" id="Page1">
<contentArea x="0.25in" y="0.25in" w="8in" h="10.5in"/><medium stock="letter" short="8.5in" long="11in"/></pageArea></pageSet>
<subform w="8in" h="10.5in" name="main"><field name="familyName" y="10mm" x="10mm" w="80mm" h="9mm">
<ui><textEdit/></ui><caption reserve="25mm"><value><text>Family name</text></value></caption></field></subform>
</subform></template>`;
  const datasets = `<xfa:datasets xmlns:xfa="http://www.xfa.org/schema/xfa-data/1.0/"><xfa:data><form1><main><familyName/></main></form1></xfa:data></xfa:datasets>`;
  const head = `<?xml version="1.0" encoding="UTF-8"?>\n<xdp:xdp xmlns:xdp="http://ns.adobe.com/xdp/">`;
  const stream = (text) => doc.context.register(doc.context.flateStream(text));
  const named = [["preamble", head], ["template", template], ["datasets", datasets], ["postamble", "</xdp:xdp>"]];
  const xfa = parts ? doc.context.obj(named.flatMap(([name, text]) => [PDFString.of(name), stream(text)]))
    : stream(`${head}${template}${datasets}</xdp:xdp>`);
  doc.catalog.set(PDFName.of("AcroForm"), doc.context.obj({ Fields: [], XFA: xfa }));
  doc.catalog.set(PDFName.of("NeedsRendering"), PDFBool.True);
  return doc.save();
}

if (import.meta.url === pathToFileURL(process.argv[1] ?? "").href) {
  const [workDir, folder] = process.argv.slice(2);
  writeFileSync(join(folder, "onePage.pdf"), await onePage(workDir));
  writeFileSync(join(folder, "form.pdf"), await everyFieldForm(workDir));
  writeFileSync(join(folder, "xfa.pdf"), await xfaForm(workDir, { parts: true }));
}
