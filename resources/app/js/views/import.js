// Import & export: clients from a spreadsheet (CSV: choose the columns, check the preview,
// import what is new), the whole practice as JSON and the lists as CSV.

import { h, fill, button, pageHeader, card, toast, showError } from '../ui.js';
import { icon } from '../icons.js';
import { text, statusLabel, addClient } from '../clients-model.js';
import { plural } from '../format.js';
import { parseCsv, guessMapping, previewImport, importable, updates, applyUpdates, toCsv } from '../csv.js';
import { indexOf, clientName, programmeLabel, fileStatusLabel, deadlineKindLabel } from '../practice-model.js';
import { invoiceTotals } from '../billing-model.js';
import { saveWithNotice } from '../download.js';
import { hrefFor } from '../routes.js';
import { today } from '../dates.js';

const TARGETS = [
  { value: '', label: 'Leave out' },
  { value: 'name', label: 'Name' },
  { value: 'email', label: 'Email' },
  { value: 'phone', label: 'Phone' },
  { value: 'fileNumber', label: 'File number' },
  { value: 'status', label: 'Status' },
  { value: 'notes', label: 'Notes' },
];
const MAX_BYTES = 20 * 1024 * 1024;

export function render(root, { app }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('clients') }, icon('back', 16), h('span', { text: 'Clients' })),
    pageHeader('Import & export', 'Bring clients in from a spreadsheet, or take your practice out.'));

  const chooser = h('input', { type: 'file', id: 'import-file', accept: '.csv,text/csv,text/plain' });
  const step = h('div', { id: 'import-step' });
  root.append(card('Import clients from a spreadsheet',
    h('p', { class: 'muted card-intro', text: 'Save the sheet as CSV, choose it here, say which column is which, and check the preview. Rows with problems are left out; clients you already have are skipped or updated, as you choose.' }),
    h('div', { class: 'field' }, h('label', { for: 'import-file', text: 'CSV file' }), chooser),
    step));

  chooser.addEventListener('change', async () => {
    const file = chooser.files?.[0];
    if (!file) return;
    if (file.size > MAX_BYTES) {
      step.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: 'That file is larger than 20 MB, which is more than a client list should be. Nothing was read.' }));
      return;
    }
    try {
      showMapping(await file.text(), file.name);
    } catch (error) {
      showError(error);
    }
  });

  function showMapping(source, name) {
    const { rows, error } = parseCsv(source);
    if (error) {
      step.replaceChildren(h('p', { class: 'error-text', role: 'alert', id: 'import-error', text: `${name}: ${error}` }));
      return;
    }
    const header = rows[0];
    const hasHeader = h('input', { type: 'checkbox', id: 'import-has-header', checked: true });
    const guessed = guessMapping(header);
    const selects = header.map((cell, i) => h('select', { id: `import-map-${i}`, 'aria-label': `Column ${i + 1} (${cell || 'no heading'}) is` },
      TARGETS.map((t) => h('option', { value: t.value, text: t.label, selected: t.value === guessed[i] }))));
    const preview = h('div', { id: 'import-preview', 'aria-live': 'polite' });
    const known = h('select', { id: 'import-known', 'aria-label': 'Clients already in your practice' },
      h('option', { value: 'skip', text: 'Skip clients already in your practice' }),
      h('option', { value: 'update', text: 'Update clients already in your practice from the file' }));
    const knownRow = h('div', { class: 'field', hidden: true }, known);
    const run = button('Import', { kind: 'primary', id: 'import-run', disabled: !app.editable });
    step.replaceChildren(
      h('h3', { class: 'step-title', text: `Columns of ${name}` }),
      h('label', { class: 'switch' }, hasHeader, h('span', { text: 'The first row holds the column names' })),
      h('div', { class: 'table-wrap' }, h('table', { class: 'table compact', id: 'import-mapping' },
        h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Column' }), h('th', { scope: 'col', text: 'First value' }), h('th', { scope: 'col', text: 'Goes into' }))),
        h('tbody', {}, header.map((cell, i) => h('tr', {}, h('td', { text: cell || `Column ${i + 1}` }), h('td', { class: 'muted', text: rows[1]?.[i] ?? '' }), h('td', {}, selects[i])))))),
      preview,
      knownRow,
      h('div', { class: 'row-actions' }, run));

    let current = [];
    const refresh = () => {
      const mapping = selects.map((s) => s.value);
      if (!mapping.includes('name')) {
        current = [];
        preview.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: 'Choose the column that holds the names.' }));
        run.disabled = true;
        return;
      }
      current = previewImport(rows, mapping, app.data, { hasHeader: hasHeader.checked });
      const ok = importable(current);
      const bad = current.filter((r) => r.problems.length);
      const dup = current.filter((r) => r.duplicate);
      const existing = current.filter((r) => r.existing);
      const changed = known.value === 'update' ? updates(current, app.data) : [];
      knownRow.hidden = existing.length === 0;
      run.disabled = !app.editable || ok.length + changed.length === 0;
      run.querySelector('span').textContent = ok.length + changed.length
        ? [ok.length ? `Import ${plural(ok.length, 'client', 'clients')}` : '', changed.length ? `${ok.length ? 'update' : 'Update'} ${plural(changed.length, 'client', 'clients')}` : ''].filter(Boolean).join(', ')
        : 'Nothing to import';
      fill(preview,
        h('p', { id: 'import-summary', text: `${plural(ok.length, 'new client', 'new clients')}, ${plural(existing.length, 'already in your practice', 'already in your practice')}, ${plural(dup.length, 'repeated row', 'repeated rows')}, ${plural(bad.length, 'row with a problem', 'rows with problems')}.` }),
        bad.length ? h('ul', { class: 'import-problems', id: 'import-problems' }, bad.slice(0, 50).map((r) => h('li', { text: `Row ${r.line}: ${r.problems.join('; ')}.` }))) : null,
        ok.length ? h('div', { class: 'table-wrap' }, h('table', { class: 'table compact', id: 'import-rows' },
          h('caption', { class: 'visually-hidden', text: 'Clients to import' }),
          h('thead', {}, h('tr', {}, ['Row', 'Name', 'Email', 'Phone', 'File no.', 'Status'].map((t) => h('th', { scope: 'col', text: t })))),
          h('tbody', {}, current.filter((r) => !r.problems.length && !r.duplicate).slice(0, 20).map((r) => h('tr', {},
            h('td', { text: String(r.line) }), h('td', { text: r.input.name }), h('td', { text: r.input.email }),
            h('td', { text: r.input.phone }), h('td', { text: r.input.fileNumber }), h('td', { text: statusLabel(r.input.status) }))))))
          : null);
    };
    selects.forEach((s) => s.addEventListener('change', refresh));
    hasHeader.addEventListener('change', refresh);
    known.addEventListener('change', refresh);
    run.addEventListener('click', () => {
      // The preview is made again against the data as it is now, so a second click imports nothing twice.
      const again = previewImport(rows, selects.map((s) => s.value), app.data, { hasHeader: hasHeader.checked });
      const fresh = importable(again);
      const changed = known.value === 'update' ? updates(again, app.data) : [];
      try {
        app.edit((doc) => {
          fresh.forEach((input) => addClient(doc, input));
          applyUpdates(doc, changed);
        });
      } catch (error) {
        showError(error);
        return;
      }
      toast([`Imported ${plural(fresh.length, 'client', 'clients')}`, changed.length ? `updated ${plural(changed.length, 'client', 'clients')}` : ''].filter(Boolean).join(', ') + '.');
      refresh();
    });
    refresh();
  }

  // Export.
  const exports = [
    ['export-json', 'Whole practice (JSON)', () => download(JSON.stringify(app.data, null, 2), `Quillpost practice ${today()}.json`, 'application/json')],
    ['export-clients', 'Clients (CSV)', () => csvOf('clients')],
    ['export-files', 'Files (CSV)', () => csvOf('files')],
    ['export-deadlines', 'Deadlines (CSV)', () => csvOf('deadlines')],
    ['export-invoices', 'Invoices (CSV)', () => csvOf('invoices')],
  ];
  root.append(card('Export',
    h('p', { class: 'muted card-intro', text: 'Exports go to your Downloads folder. The JSON file holds everything; the CSV files open in any spreadsheet.' }),
    h('div', { class: 'row-actions' }, exports.map(([id, label, fn]) => button(label, { id, iconName: 'document', onClick: fn })))));

  function download(textValue, name, type) {
    saveWithNotice(toast, new TextEncoder().encode(textValue), name, { type }).catch(showError);
  }

  function csvOf(kind) {
    const index = indexOf(app.data, app.revision);
    const tables = {
      clients: [['Name', 'Email', 'Phone', 'File number', 'Status', 'Notes'], index.clients.map((c) => [c.name, c.email, c.phone, c.fileNumber, statusLabel(c.status), c.notes])],
      files: [['Client', 'Programme', 'Application number', 'Status', 'Opened'], index.files.map((f) => [clientName(index, f.clientId), programmeLabel(f.programme), f.applicationNumber, fileStatusLabel(f.status), f.opened])],
      deadlines: [['Due', 'Title', 'Kind', 'Client', 'Done'], index.deadlines.map((d) => [d.due, d.title, deadlineKindLabel(d.kind), d.clientId ? clientName(index, d.clientId) : '', d.done ? 'yes' : 'no'])],
      invoices: [['Number', 'Client', 'Issued', 'Due', 'Total', 'Balance', 'Paid'], index.invoices.map((i) => {
        const t = invoiceTotals(i);
        return [i.number, clientName(index, i.clientId), i.issued, i.due, (t.total / 100).toFixed(2), (t.due / 100).toFixed(2), i.paid ? 'yes' : 'no'];
      })],
    };
    const [header, rows] = tables[kind];
    download(toCsv(header, rows.map((r) => r.map(text))), `Quillpost ${kind} ${today()}.csv`, 'text/csv');
  }
}
