// Money and invoices; reading spreadsheets and writing lists; menu commands and links.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { freshDocument } from '../../resources/app/js/store.js';
import { addFile } from '../../resources/app/js/practice-model.js';
import {
  parseMoney, parseHours, validateEntry, addEntry, createInvoice, invoiceTotals, nextInvoiceNumber,
  retainerBalance, unbilledEntries, invoiceState, setInvoicePaid,
} from '../../resources/app/js/billing-model.js';
import { parseCsv, guessMapping, previewImport, importable, toCsv } from '../../resources/app/js/csv.js';
import { addClient } from '../../resources/app/js/clients-model.js';
import { menuAction, linkPath } from '../../resources/app/js/commands.js';

const day = '2026-03-10';
const now = new Date(2026, 2, 10, 12);

function practiceWithFile() {
  const doc = freshDocument();
  doc.clients.push({ id: 'c1', name: 'Ana Souza' });
  const file = addFile(doc, { clientId: 'c1', programme: 'work-permit' }, now);
  return { doc, file };
}

describe('money', () => {
  test('amounts are read as typed, in cents, and nonsense is refused', () => {
    const cases = { '150': 15000, '1,234.50': 123450, '$ 99.9': 9990, '12,5': 1250, '1.234,56': 123456, '0.05': 5, '-3': -300 };
    for (const [typed, cents] of Object.entries(cases)) assert.equal(parseMoney(typed), cents, typed);
    for (const bad of ['', 'abc', '1.2.3', '12.345', null]) assert.equal(parseMoney(bad), null, String(bad));
    assert.deepEqual(['1:30', '0,25'].map(parseHours), [1.5, 0.25]);
    for (const bad of ['0', '25', 'x', '-1']) assert.equal(parseHours(bad), null, bad);
    assert.ok(validateEntry({ kind: 'time', date: day, description: 'Call', hours: 'lots', rate: '200' }).hours);
    assert.ok(validateEntry({ kind: 'fee', date: day, description: 'Fee', amount: '0' }).amount);
    assert.deepEqual(validateEntry({ kind: 'fee', date: day, description: 'Fee', amount: '1' }), {});
  });

  test('an invoice taxes time and fees but not disbursements, draws on the retainer, and bills each entry once', () => {
    const { doc, file } = practiceWithFile();
    addEntry(doc, file.id, 'c1', { kind: 'retainer', date: day, description: 'Retainer', amount: '300' });
    addEntry(doc, file.id, 'c1', { kind: 'time', date: day, description: 'Forms', hours: '1:20', rate: '199.99' });
    addEntry(doc, file.id, 'c1', { kind: 'fee', date: day, description: 'Flat fee', amount: '500' });
    addEntry(doc, file.id, 'c1', { kind: 'disbursement', date: day, description: 'Government fee', amount: '155' });
    const invoice = createInvoice(doc, file, { now });
    const totals = invoiceTotals(invoice);
    const line = invoice.lines[0];
    assert.deepEqual([line.amount, line.description], [26665, 'Forms (1.33 h)'], 'an hour and twenty minutes, not 1.33 hours');
    const taxed = 26665 + 50000;
    assert.deepEqual([totals.subtotal, totals.tax, totals.retainer], [taxed + 15500, Math.round(taxed * 0.13), 30000]);
    assert.equal(totals.due, totals.total - 30000);
    assert.deepEqual([retainerBalance(doc, file.id), unbilledEntries(doc, file.id).length], [0, 0]);
    assert.throws(() => createInvoice(doc, file, { now }), /no unbilled/);
    assert.deepEqual([day, '2026-05-01'].map((d) => invoiceState(invoice, d)), ['unpaid', 'overdue']);
    setInvoicePaid(doc, invoice.id, true, now);
    assert.equal(invoiceState(invoice, '2026-05-01'), 'paid');
    const covered = { lines: [{ amount: 10000, taxable: true }], taxRate: 1300, retainerApplied: 11300, due: '2026-01-01' };
    assert.equal(invoiceState(covered, day), 'paid', 'nothing left to pay after the retainer');
    assert.equal(invoiceState({ ...covered, retainerApplied: 11299 }, day), 'overdue');
  });

  test('invoice numbers count up per practice and step over numbers already taken', () => {
    const { doc, file } = practiceWithFile();
    addEntry(doc, file.id, 'c1', { kind: 'fee', date: day, description: 'A', amount: '10' });
    assert.equal(createInvoice(doc, file, { now }).number, 'INV-2026-0001');
    doc.invoices.push({ id: 'hand', number: 'INV-2026-0002', fileId: file.id, clientId: 'c1', lines: [] });
    addEntry(doc, file.id, 'c1', { kind: 'fee', date: day, description: 'B', amount: '10' });
    assert.equal(createInvoice(doc, file, { now }).number, 'INV-2026-0003');
    // A removed invoice doesn't give its number back.
    doc.invoices = doc.invoices.filter((i) => i.number !== 'INV-2026-0003');
    assert.equal(nextInvoiceNumber(doc, now).number, 'INV-2026-0004');
  });
});

describe('importing clients from CSV', () => {
  test('quotes, doubled quotes, line breaks inside values, CRLF, a BOM and semicolons are read', () => {
    const { rows } = parseCsv('\ufeffName;Notes\r\n"Souza; Ana";"said ""hi""\nthen left"\r\n\r\nBen;\n');
    assert.deepEqual(rows, [['Name', 'Notes'], ['Souza; Ana', 'said "hi"\nthen left'], ['Ben', '']]);
    assert.match(parseCsv('a,b\n"open,quote\n').error, /cut short/);
    assert.match(parseCsv('\n \n').error, /no rows/);
  });

  test('columns are guessed from their headings; bad rows are reported; known clients and repeats are left out', () => {
    const doc = freshDocument();
    const ana = addClient(doc, { name: 'Ana Souza', email: 'ana@example.org' });
    const { rows } = parseCsv([
      'Full Name,E-mail,Phone,Stage,Comments',
      'Ana Souza,ANA@example.org,,,already here',
      'Ben Ode,ben@example.org,555,Active,',
      ',nobody@example.org,,,no name',
      'Cy Tan,not-an-email,,,',
      'Di Lu,,,Sleeping,',
      'Ben Ode,ben@example.org,,,twice in the file',
      'Eve Ng,,,,,extra',
    ].join('\n'));
    const mapping = guessMapping(rows[0]);
    assert.deepEqual(mapping, ['name', 'email', 'phone', 'status', 'notes']);
    const preview = previewImport(rows, mapping, doc);
    const byLine = Object.fromEntries(preview.map((r) => [r.line, r]));
    assert.equal(byLine[2].existing, ana.id);
    assert.deepEqual(byLine[3].problems, []);
    assert.equal(byLine[3].input.status, 'active');
    assert.match(byLine[4].problems.join(), /name/);
    assert.match(byLine[5].problems.join(), /email/);
    assert.match(byLine[6].problems.join(), /Sleeping/);
    assert.equal(byLine[7].duplicate, true);
    assert.match(byLine[8].problems.join(), /6 values/);
    assert.deepEqual(importable(preview).map((c) => c.name), ['Ben Ode']);

    // Importing, then previewing the same file again, finds nothing new.
    for (const c of importable(preview)) addClient(doc, c);
    assert.deepEqual(importable(previewImport(rows, mapping, doc)), []);
  });

  test('lists are written so that a spreadsheet reads them back and never runs a formula', () => {
    const csv = toCsv(['Name', 'Notes'], [['=HYPERLINK("x")', 'a "b", c\nd'], ['-1', null]]);
    assert.equal(csv, 'Name,Notes\r\n"\'=HYPERLINK(""x"")","a ""b"", c\nd"\r\n\'-1,\r\n');
    assert.deepEqual(parseCsv(csv).rows[1], ['\'=HYPERLINK("x")', 'a "b", c\nd']);
  });
});

test('each menu command of the shell has its action, and each quillpost: link its screen; anything else none', () => {
  for (const path of ['dashboard', 'clients', 'files', 'deadlines', 'calendar', 'pdf', 'billing', 'settings', 'import']) {
    assert.deepEqual(menuAction(`go:${path}`), { kind: 'go', path });
  }
  assert.deepEqual(menuAction('newClient'), { kind: 'go', path: 'clients', intent: { action: 'add' } });
  assert.deepEqual(menuAction('newFile'), { kind: 'go', path: 'files', intent: { action: 'add' } });
  assert.deepEqual(['find', 'tour', 'logComm'].map((c) => menuAction(c).kind), ['find', 'tour', 'log-contact']);
  for (const odd of ['go:nowhere', 'go:', 'NEWCLIENT', '', null, 42, 'go:__proto__']) assert.equal(menuAction(odd), null, String(odd));

  const links = [
    ['quillpost://file/AbC-1', 'file/AbC-1'], ['QUILLPOST://File/x%2Fy?from=mail#top', 'file/x/y'],
    ['quillpost://Settings/data', 'settings/data'], ['quillpost:invoice/i9', 'invoice/i9'], ['quillpost://deadlines', 'deadlines'],
    ['quillpost://', 'dashboard'], ['quillpost://settings/nowhere', null], ['https://file/1', null], ['quillpost://file', null],
    ['quillpost://file/a/b', null], ['quillpost://secret', null], [null, null],
  ];
  assert.deepEqual(links.map(([link]) => [link, linkPath(link)]), links);
});
