// Test documents made on the spot: a form with every kind of field, and an XFA form.
// As a script it writes them for the end-to-end tests:
//   node fixtures.mjs <pdfcraft work folder> <every-field.pdf> [<xfa.pdf, drawn from its XFA>]
import { createRequire } from "node:module";
import { writeFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

async function pdfLibFrom(workDir) {
  return import(pathToFileURL(createRequire(join(resolve(workDir), "package.json")).resolve("pdf-lib")).href);
}

// One page, fields from the top down in tab order: name (text, at most 40), code (at most 5),
// address (multi-line), agree (check box), color (radio: red, blue), country (drop-down),
// languages (multiple-choice list), office (read-only text, filled).
export async function everyFieldForm(workDir) {
  const { PDFDocument, StandardFonts } = await pdfLibFrom(workDir);
  const doc = await PDFDocument.create();
  const page = doc.addPage([400, 500]);
  const font = await doc.embedFont(StandardFonts.Helvetica);
  const form = doc.getForm();
  const label = (text, y) => page.drawText(text, { x: 10, y: y + 6, size: 9, font });
  label("Name", 450);
  const name = form.createTextField("name");
  name.setMaxLength(40);
  name.addToPage(page, { x: 80, y: 450, width: 300, height: 22 });
  label("Code", 415);
  const code = form.createTextField("code");
  code.setMaxLength(5);
  code.addToPage(page, { x: 80, y: 415, width: 80, height: 22 });
  label("Address", 340);
  const address = form.createTextField("address");
  address.enableMultiline();
  address.addToPage(page, { x: 80, y: 340, width: 300, height: 60 });
  label("Agree", 305);
  form.createCheckBox("agree").addToPage(page, { x: 80, y: 305, width: 16, height: 16 });
  label("Colour", 270);
  const color = form.createRadioGroup("color");
  color.addOptionToPage("red", page, { x: 80, y: 270, width: 16, height: 16 });
  color.addOptionToPage("blue", page, { x: 110, y: 270, width: 16, height: 16 });
  label("Country", 230);
  const country = form.createDropdown("country");
  country.addOptions(["CA", "PL", "UA"]);
  country.addToPage(page, { x: 80, y: 230, width: 120, height: 22 });
  label("Languages", 150);
  const languages = form.createOptionList("languages");
  languages.addOptions(["English", "French", "Polish", "Ukrainian"]);
  languages.enableMultiselect();
  languages.addToPage(page, { x: 80, y: 150, width: 120, height: 64 });
  label("Office", 110);
  const office = form.createTextField("office");
  office.setText("Ottawa");
  office.enableReadOnly();
  office.addToPage(page, { x: 80, y: 110, width: 120, height: 22 });
  form.updateFieldAppearances(font);
  return doc.save();
}

// A form described only by XFA, with no AcroForm fields to fill: what some government forms are.
// With `drawn`, it asks readers to draw it from its XFA (NeedsRendering), as pdf.js can. With
// `parts`, its XFA is kept as separate streams (template, datasets, ...) as form designers write
// it, rather than as one stream.
export async function xfaForm(workDir, { drawn = false, parts = false } = {}) {
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
  const stream = (text) => doc.context.register(doc.context.flateStream(text));
  const xfa = parts
    ? doc.context.obj([
      PDFString.of("preamble"), stream(`<?xml version="1.0" encoding="UTF-8"?>\n<xdp:xdp xmlns:xdp="http://ns.adobe.com/xdp/">`),
      PDFString.of("template"), stream(template),
      PDFString.of("datasets"), stream(datasets),
      PDFString.of("postamble"), stream("</xdp:xdp>"),
    ])
    : stream(`<?xml version="1.0" encoding="UTF-8"?>\n<xdp:xdp xmlns:xdp="http://ns.adobe.com/xdp/">${template}${datasets}</xdp:xdp>`);
  doc.catalog.set(PDFName.of("AcroForm"), doc.context.obj({ Fields: [], XFA: xfa }));
  if (drawn) doc.catalog.set(PDFName.of("NeedsRendering"), PDFBool.True);
  return doc.save();
}

if (import.meta.url === pathToFileURL(process.argv[1] ?? "").href) {
  const [workDir, formOut, xfaOut] = process.argv.slice(2);
  writeFileSync(formOut, await everyFieldForm(workDir));
  if (xfaOut) writeFileSync(xfaOut, await xfaForm(workDir, { drawn: true, parts: true }));
}
