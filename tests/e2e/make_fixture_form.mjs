// Writes a filled one-page AcroForm: node make_fixture_form.mjs <node_modules> <out.pdf> <name> <uci>
import { createRequire } from 'node:module';
import { writeFileSync } from 'node:fs';
import path from 'node:path';

const [nodeModules, out, name, uci] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(nodeModules), 'index.js'));
const { PDFDocument, StandardFonts } = require('pdf-lib');

const pdf = await PDFDocument.create();
const font = await pdf.embedFont(StandardFonts.Helvetica);
const page = pdf.addPage([612, 792]);
page.drawText('Application for a visitor visa (self-test form)', { x: 72, y: 720, size: 14, font });
const form = pdf.getForm();
const fields = [['applicantName', name, 660], ['uci', uci, 620]];
for (const [id, value, y] of fields) {
  page.drawText(id === 'uci' ? 'UCI' : 'Name', { x: 72, y: y + 6, size: 10, font });
  const field = form.createTextField(id);
  field.setText(value);
  field.addToPage(page, { x: 140, y, width: 360, height: 24, font });
}
const agreed = form.createCheckBox('agreed');
agreed.addToPage(page, { x: 140, y: 580, width: 16, height: 16 });
agreed.check();
form.updateFieldAppearances(font);
writeFileSync(out, await pdf.save());
