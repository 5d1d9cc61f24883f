import { test } from 'node:test';
import assert from 'node:assert/strict';
import { beforeChange, changeOf, undoChange, attachUndo } from '../../resources/app/js/undo.js';
import { createApp, checkDocument, freshDocument } from '../../resources/app/js/store.js';
import {
  removeFrom, removeFile, removeClientEverywhere, setDeadlineDone, addAppointment, updateAppointment, removalBlockers, itemsOf,
} from '../../resources/app/js/practice-model.js';
import {
  parseMoney, parseHours, validateEntry, addEntry, createInvoice, invoiceTotals, nextInvoiceNumber, retainerBalance, unbilledEntries,
  invoiceState, addPayment, removePayment, setInvoicePaid, validatePayment, removeInvoice, updateEntry, removeEntry, entryLock,
  logoProblem, practiceIdentity, LOGO_MAX_BYTES,
} from '../../resources/app/js/billing-model.js';
import { addDemoData } from '../../resources/app/js/demo-data.js';

const NOW = new Date('2026-03-10T12:00:00Z');
const demo = () => {
  const doc = freshDocument();
  addDemoData(doc, NOW);
  return doc;
};
const json = (doc) => JSON.parse(JSON.stringify(doc));

const cases = [
  ['removing a deadline in the middle of the list', ['deadlines'], (doc) => removeFrom(doc, 'deadlines', doc.deadlines[3].id)],
  ['ticking a deadline done', ['deadlines'], (doc) => setDeadlineDone(doc, doc.deadlines[0].id, true, NOW)],
  ['removing a client with everything only theirs', ['clients', 'files', 'deadlines', 'appointments', 'contacts', 'entries'],
    (doc) => removeClientEverywhere(doc, doc.clients.find((c) => !doc.invoices.some((i) => i.clientId === c.id)).id)],
  ['removing a file', ['files', 'deadlines', 'appointments', 'entries'],
    (doc) => removeFile(doc, doc.files.find((f) => !doc.invoices.some((i) => i.fileId === f.id)).id)],
  ['creating an invoice, which bills entries and moves the counter', ['invoices', 'entries', 'settings'], (doc) => {
    const file = doc.files.find((f) => doc.entries.some((e) => e.fileId === f.id && !e.invoiceId && e.kind !== 'retainer'));
    addEntry(doc, file.id, file.clientId, { kind: 'fee', date: '2026-03-01', description: 'Extra', amount: '50' }, NOW);
    createInvoice(doc, file, { now: NOW });
  }],
  ['adding and changing appointments', ['appointments'], (doc) => {
    addAppointment(doc, { title: 'New', date: '2026-03-11' }, NOW);
    updateAppointment(doc, doc.appointments[0].id, { title: 'Moved', date: '2026-03-12' }, NOW);
  }],
  ['a payment that settles an invoice', ['invoices'], (doc) => {
    const inv = doc.invoices.find((i) => invoiceTotals(i).due > 0);
    addPayment(doc, inv.id, { date: '2026-03-09', amount: (invoiceTotals(inv).due / 100).toFixed(2) }, NOW);
  }],
  ['a field removed, one added, and a nested list changed in place', ['clients', 'invoices'], (doc) => {
    delete doc.clients[0].email;
    doc.clients[1].docFolder = 'Elsewhere';
    doc.invoices[0].lines[0].description = 'Changed';
  }],
];
test('each kind of change comes back exactly, in its place; a change that changed nothing leaves nothing to undo', () => {
  for (const [name, touches, change] of cases) {
    const doc = demo();
    const original = json(doc);
    const before = beforeChange(doc, touches);
    change(doc);
    const found = changeOf(doc, before);
    assert.ok(found, `${name}: the change was noticed`);
    undoChange(doc, found);
    assert.deepEqual(json(doc), original, name);
  }
  const doc = demo();
  const before = beforeChange(doc, ['deadlines', 'settings']);
  setDeadlineDone(doc, 'no such id', true, NOW);
  assert.equal(changeOf(doc, before), null);
});

test('through the app: the toast\'s Undo and undo() take back changes, newest first, never across a reload', async () => {
  const toasts = [];
  const app = createApp({});
  attachUndo(app, { toast: (message, options = {}) => toasts.push({ message, ...options }), refresh: () => {} });
  await app.reload();
  app.edit((doc) => addDemoData(doc, NOW));
  const original = json(app.data);
  const [a, b] = app.data.deadlines;
  app.undoable({ label: 'removing a', touches: ['deadlines'], message: 'Removed a.' }, (doc) => removeFrom(doc, 'deadlines', a.id));
  app.undoable({ label: 'a done', touches: ['deadlines'], message: 'Done.' }, (doc) => setDeadlineDone(doc, b.id, true, NOW));
  assert.ok(toasts[0].timeout >= 10000, 'an undo toast stays at least ten seconds');
  toasts[0].action.run();
  const found = [app.data.deadlines.some((d) => d.id === a.id), app.data.deadlines.find((d) => d.id === b.id).done];
  assert.deepEqual(found, [true, true], 'the toast brought back the removed deadline; the later change stays');
  assert.deepEqual([app.undo(), json(app.data), app.undo()], [true, original, false], 'the rest, then nothing left');
  app.undoable({ label: 'removing b', touches: ['deadlines'] }, (doc) => removeFrom(doc, 'deadlines', b.id));
  await app.reload();
  assert.equal(app.undo(), false, 'a step of the document before the reload is gone');
});

test('what stops a removal is named before asking, and the removal refuses with it, changing nothing', () => {
  const doc = demo();
  const invoiced = doc.invoices[0];
  const paidOne = doc.invoices.find((i) => i.payments?.length);
  const free = doc.clients.find((c) => !doc.invoices.some((i) => i.clientId === c.id));
  const cases = [
    ['client', invoiced.clientId, new RegExp(`invoices on record \\(.*${invoiced.number}`)],
    ['file', invoiced.fileId, new RegExp(invoiced.number)], ['invoice', paidOne.id, /payment/],
  ];
  for (const [kind, id, expected] of cases) assert.match(removalBlockers(doc, kind, id).join(' '), expected, kind);
  assert.deepEqual(removalBlockers(doc, 'client', free.id), []);
  const copy = structuredClone(doc);
  assert.throws(() => removeClientEverywhere(copy, invoiced.clientId), { message: removalBlockers(doc, 'client', invoiced.clientId)[0] });
  assert.throws(() => removeFile(copy, invoiced.fileId), new RegExp(invoiced.number));
  assert.throws(() => removeInvoice(copy, paidOne.id), /payment/);
  assert.deepEqual(json(copy), json(doc));

  // An unpaid invoice goes, unbilling its entries and keeping the counter.
  const inv = copy.invoices.find((i) => !i.payments?.length && !i.paid);
  const next = copy.settings.billing.nextNumber;
  removeInvoice(copy, inv.id);
  const left = [copy.invoices.some((i) => i.id === inv.id), copy.entries.some((e) => e.invoiceId === inv.id)];
  assert.deepEqual([...left, copy.settings.billing.nextNumber], [false, false, next]);
});

// A practice with one client 'c' and one file 'f', entries added as given.
function fileWith(...entries) {
  const doc = freshDocument();
  doc.clients.push({ id: 'c', name: 'Ana' });
  doc.files.push({ id: 'f', clientId: 'c' });
  const added = entries.map(([kind, amount, extra]) => addEntry(doc, 'f', 'c', { kind, date: '2026-03-01', description: kind, amount, ...extra }, NOW));
  return { doc, file: doc.files[0], added };
}

test('amounts and hours are read as typed, and nonsense is refused', () => {
  const cases = { '150': 15000, '1,234.50': 123450, '$ 99.9': 9990, '12,5': 1250, '1.234,56': 123456, '0.05': 5, '-3': -300 };
  for (const [typed, cents] of Object.entries(cases)) assert.equal(parseMoney(typed), cents, typed);
  for (const bad of ['', 'abc', '1.2.3', '12.345', null]) assert.equal(parseMoney(bad), null, String(bad));
  assert.deepEqual(['1:30', '0,25'].map(parseHours), [1.5, 0.25]);
  for (const bad of ['0', '25', 'x', '-1']) assert.equal(parseHours(bad), null, bad);
  const entries = [{ kind: 'time', hours: 'lots', rate: '200' }, { kind: 'fee', amount: '0' }, { kind: 'fee', amount: '1' }];
  const wrong = entries.map((entry) => Object.keys(validateEntry({ date: '2026-03-10', description: 'x', ...entry })));
  assert.deepEqual(wrong, [['hours'], ['amount'], []]);
});

test('an invoice taxes time and fees but not disbursements, draws on the retainer, and bills each entry once', () => {
  const { doc, file } = fileWith(['retainer', '300'], ['time', undefined, { hours: '1:20', rate: '199.99' }], ['fee', '500'], ['disbursement', '155']);
  const invoice = createInvoice(doc, file, { now: NOW });
  const totals = invoiceTotals(invoice);
  assert.deepEqual([invoice.lines[0].amount, invoice.lines[0].description], [26665, 'time (1.33 h)'], 'an hour and twenty minutes');
  const taxed = 26665 + 50000;
  assert.deepEqual([totals.subtotal, totals.tax, totals.retainer, totals.due], [taxed + 15500, Math.round(taxed * 0.13), 30000, totals.total - 30000]);
  assert.deepEqual([retainerBalance(doc, file.id), unbilledEntries(doc, file.id).length], [0, 0]);
  assert.throws(() => createInvoice(doc, file, { now: NOW }), /no unbilled/);
  assert.deepEqual(['2026-03-10', '2026-05-01'].map((d) => invoiceState(invoice, d)), ['unpaid', 'overdue']);
  const covered = { lines: [{ amount: 10000, taxable: true }], taxRate: 1300, retainerApplied: 11300, due: '2026-01-01' };
  assert.equal(invoiceState(covered, '2026-03-10'), 'paid', 'nothing left to pay after the retainer');
  assert.equal(invoiceState({ ...covered, retainerApplied: 11299 }, '2026-03-10'), 'overdue');
});

test('invoice numbers count up, step over numbers taken and never give one back; only the chosen entries are billed', () => {
  const { doc, file, added: [kept, billed] } = fileWith(['fee', '10'], ['fee', '20']);
  const first = createInvoice(doc, file, { now: NOW, entryIds: [billed.id] });
  assert.deepEqual([first.number, first.lines.map((l) => l.entryId), kept.invoiceId], ['INV-2026-0001', [billed.id], '']);
  assert.throws(() => createInvoice(doc, file, { now: NOW, entryIds: ['nothing'] }), /no unbilled/);
  doc.invoices.push({ id: 'hand', number: 'INV-2026-0002', fileId: 'f', clientId: 'c', lines: [] });
  assert.equal(createInvoice(doc, file, { now: NOW }).number, 'INV-2026-0003');
  doc.invoices = doc.invoices.filter((i) => i.number !== 'INV-2026-0003');
  assert.equal(nextInvoiceNumber(doc, NOW).number, 'INV-2026-0004');
});

// One fee of 1000.00 and one disbursement of 100.00 at 13 % tax: 1230.00 in all.
const invoiceWith = (extra = {}) => {
  const { doc, file } = fileWith(['fee', '1000'], ['disbursement', '100']);
  return { doc, inv: Object.assign(createInvoice(doc, file, { now: NOW }), extra) };
};

test('what is still owed after payments, a retainer or a paid mark, also in an invoice from before payments', () => {
  const cases = [
    ['no payment', {}, [], 123000, 'unpaid'],
    ['one part payment', {}, [['2026-03-12', '200.00']], 103000, 'unpaid'],
    ['two part payments', {}, [['2026-03-12', '200'], ['2026-03-20', '30']], 100000, 'unpaid'],
    ['paid in full over two payments', {}, [['2026-03-12', '1000'], ['2026-03-20', '230']], 0, 'paid'],
    ['a retainer and a payment', { retainerApplied: 23000 }, [['2026-03-12', '1000']], 0, 'paid'],
    ['marked paid before payments were recorded', { paid: true, paidAt: '2026-03-11' }, [], 0, 'paid'],
  ];
  for (const [name, extra, payments, due, state] of cases) {
    const { doc, inv } = invoiceWith(extra);
    for (const [date, amount] of payments) addPayment(doc, inv.id, { date, amount }, NOW);
    assert.deepEqual([invoiceTotals(inv).due, invoiceState(inv, '2026-03-15'), inv.paid], [due, state, state === 'paid'], name);
    if (payments.length && state === 'paid') assert.equal(inv.paidAt, payments.at(-1)[0], name);
  }
  const { doc, inv } = invoiceWith({ paid: true, paidAt: '2026-03-11' });
  delete inv.payments;
  const { doc: opened, lock } = checkDocument(json(doc));
  assert.deepEqual([lock, invoiceTotals(itemsOf(opened, 'invoices')[0]).due], [null, 0]);
});

test('marking paid records the rest as a payment; removing it owes it again; a payment fits the balance', () => {
  const { doc, inv } = invoiceWith();
  const cases = [['', '10', ['date']], ['2026-03-12', '0', ['amount']], ['2026-03-12', '1230.01', ['amount']], ['2026-03-12', '1230.00', []]];
  for (const [date, amount, wrong] of cases) assert.deepEqual(Object.keys(validatePayment({ date, amount }, inv)), wrong, amount);
  addPayment(doc, inv.id, { date: '2026-03-12', amount: '230' }, NOW);
  setInvoicePaid(doc, inv.id, true, NOW);
  assert.deepEqual([inv.payments.map((p) => p.amount), invoiceTotals(inv).due], [[23000, 100000], 0]);
  removePayment(doc, inv.id, inv.payments[1].id);
  assert.deepEqual([invoiceTotals(inv).due, inv.paid, inv.paidAt], [100000, false, '']);
  assert.throws(() => setInvoicePaid(doc, inv.id, false, NOW), /payments/);
});

test('an unbilled entry can be changed and removed; an invoiced one, or a retainer drawn on, is locked and says why', () => {
  const { doc, file, added: [retainer, time, loose] } = fileWith(['retainer', '100'], ['time', undefined, { hours: '1', rate: '200' }], ['fee', '5']);
  updateEntry(doc, time.id, { kind: 'fee', date: '2026-03-02', description: 'Flat', amount: '150' }, NOW);
  assert.deepEqual([time.kind, time.amount, 'hours' in time, 'rate' in time], ['fee', 15000, false, false]);
  removeEntry(doc, loose.id);
  assert.deepEqual([doc.entries.some((e) => e.id === loose.id), entryLock(doc, retainer)], [false, '']);
  const inv = createInvoice(doc, file, { now: NOW });
  assert.match(`${entryLock(doc, time)} | ${entryLock(doc, retainer)}`, new RegExp(`${inv.number}.* \\| .*drawn on`));
  assert.throws(() => updateEntry(doc, time.id, { kind: 'fee', date: '2026-03-02', description: 'x', amount: '1' }, NOW), /Billed on invoice/);
  assert.throws(() => removeEntry(doc, time.id), /Billed on invoice/);
});

test('the practice on its invoices: a logo only as a small PNG or JPEG, the identity from the settings', () => {
  const png = (bytes) => `data:image/png;base64,${'A'.repeat(Math.ceil(bytes / 3) * 4)}`;
  const cases = [
    [png(1000), /^$/], [png(LOGO_MAX_BYTES + 3), /at most 200 KB/], ['data:image/svg+xml;base64,PHN2Zz4=', /PNG, JPEG/],
    ['https://example.org/logo.png', /PNG, JPEG/],
  ];
  for (const [logo, expected] of cases) assert.match(logoProblem(logo), expected, logo.slice(0, 30));
  assert.deepEqual(practiceIdentity({ settings: { practice: { name: ' North Star ', licence: 'R512345', logo: 'javascript:1' } } }),
    { name: 'North Star', address: '', licence: 'R512345', taxNumber: '', logo: '' });
  assert.deepEqual([{ settings: { practiceName: 'Old name' } }, {}].map((d) => practiceIdentity(d).name), ['Old name', '']);
});
