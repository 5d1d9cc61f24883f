// Taking changes back, what stops a removal, and what an invoice still owes after payments.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { beforeChange, changeOf, undoChange, attachUndo } from '../../resources/app/js/undo.js';
import { createApp, checkDocument, freshDocument } from '../../resources/app/js/store.js';
import {
  removeFrom, removeFile, removeClientEverywhere, setDeadlineDone, addAppointment, updateAppointment, removalBlockers, itemsOf,
} from '../../resources/app/js/practice-model.js';
import {
  addEntry, createInvoice, invoiceTotals, invoiceState, addPayment, removePayment, setInvoicePaid, validatePayment,
  removeInvoice, updateEntry, removeEntry, entryLock, logoProblem, practiceIdentity, LOGO_MAX_BYTES,
} from '../../resources/app/js/billing-model.js';
import { addDemoData } from '../../resources/app/js/demo-data.js';

const NOW = new Date('2026-03-10T12:00:00Z');
const demo = () => {
  const doc = freshDocument();
  addDemoData(doc, NOW);
  return doc;
};
const json = (doc) => JSON.parse(JSON.stringify(doc));

// Applies a change the way the page does and undoes it.
function roundTrip(doc, touches, change) {
  const before = beforeChange(doc, touches);
  change(doc);
  const found = changeOf(doc, before);
  assert.ok(found, 'the change was noticed');
  undoChange(doc, found);
}

describe('undo', () => {
  const cases = [
    ['removing a deadline in the middle of the list', ['deadlines'], (doc) => removeFrom(doc, 'deadlines', doc.deadlines[3].id)],
    ['ticking a deadline done', ['deadlines'], (doc) => setDeadlineDone(doc, doc.deadlines[0].id, true, NOW)],
    ['removing a client with everything only theirs', ['clients', 'files', 'deadlines', 'appointments', 'contacts', 'entries'],
      (doc) => removeClientEverywhere(doc, doc.clients.find((c) => !doc.invoices.some((i) => i.clientId === c.id)).id)],
    ['removing a file', ['files', 'deadlines', 'appointments', 'entries'],
      (doc) => removeFile(doc, doc.files.find((f) => !doc.invoices.some((i) => i.fileId === f.id)).id)],
    ['creating an invoice, which bills entries and moves the counter', ['invoices', 'entries', 'settings'],
      (doc) => { const file = doc.files.find((f) => doc.entries.some((e) => e.fileId === f.id && !e.invoiceId && e.kind !== 'retainer')); addEntry(doc, file.id, file.clientId, { kind: 'fee', date: '2026-03-01', description: 'Extra', amount: '50' }, NOW); createInvoice(doc, file, { now: NOW }); }],
    ['adding and changing appointments', ['appointments'],
      (doc) => { addAppointment(doc, { title: 'New', date: '2026-03-11' }, NOW); updateAppointment(doc, doc.appointments[0].id, { title: 'Moved', date: '2026-03-12' }, NOW); }],
    ['a payment that settles an invoice', ['invoices'],
      (doc) => { const inv = doc.invoices.find((i) => invoiceTotals(i).due > 0); addPayment(doc, inv.id, { date: '2026-03-09', amount: (invoiceTotals(inv).due / 100).toFixed(2) }, NOW); }],
    ['a field removed, one added, and a nested list changed in place', ['clients', 'invoices'],
      (doc) => { delete doc.clients[0].email; doc.clients[1].docFolder = 'Elsewhere'; doc.invoices[0].lines[0].description = 'Changed'; }],
  ];
  for (const [name, touches, change] of cases) {
    test(`${name} comes back exactly, in its place`, () => {
      const doc = demo();
      const original = json(doc);
      roundTrip(doc, touches, change);
      assert.deepEqual(json(doc), original);
    });
  }

  test('a change that changed nothing leaves nothing to undo', () => {
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
    assert.ok(app.data.deadlines.some((d) => d.id === a.id), 'the toast brought back the removed deadline');
    assert.equal(app.data.deadlines.find((d) => d.id === b.id).done, true, 'the later change stays');
    assert.equal(app.undo(), true);
    assert.deepEqual(json(app.data), original);
    assert.equal(app.undo(), false, 'nothing left');
    app.undoable({ label: 'removing b', touches: ['deadlines'] }, (doc) => removeFrom(doc, 'deadlines', b.id));
    await app.reload();
    assert.equal(app.undo(), false, 'a step of the document before the reload is gone');
  });
});

describe('what stops a removal is known before asking', () => {
  test('blockers name the invoices or payments, and the removal refuses with them, changing nothing', () => {
    const doc = demo();
    const invoiced = doc.invoices[0];
    const paidOne = doc.invoices.find((i) => i.payments?.length);
    const free = doc.clients.find((c) => !doc.invoices.some((i) => i.clientId === c.id));
    const cases = [
      ['client', invoiced.clientId, new RegExp(`invoices on record \\(.*${invoiced.number}`)],
      ['file', invoiced.fileId, new RegExp(invoiced.number)],
      ['invoice', paidOne.id, /payment/],
    ];
    for (const [kind, id, expected] of cases) assert.match(removalBlockers(doc, kind, id).join(' '), expected, kind);
    assert.deepEqual(removalBlockers(doc, 'client', free.id), []);
    const copy = structuredClone(doc);
    assert.throws(() => removeClientEverywhere(copy, invoiced.clientId), { message: removalBlockers(doc, 'client', invoiced.clientId)[0] });
    assert.throws(() => removeInvoice(copy, paidOne.id), /payment/);
    assert.deepEqual(json(copy), json(doc));

    // An unpaid invoice goes, unbilling its entries and keeping the counter.
    const inv = copy.invoices.find((i) => !i.payments?.length && !i.paid);
    const next = copy.settings.billing.nextNumber;
    removeInvoice(copy, inv.id);
    assert.ok(!copy.invoices.some((i) => i.id === inv.id));
    assert.ok(!copy.entries.some((e) => e.invoiceId === inv.id));
    assert.equal(copy.settings.billing.nextNumber, next);
  });
});

// A practice with one client 'c' and one file 'f', entries added as given.
function fileWith(...entries) {
  const doc = freshDocument();
  doc.clients.push({ id: 'c', name: 'Ana' });
  doc.files.push({ id: 'f', clientId: 'c' });
  const added = entries.map(([kind, amount, description = kind]) => addEntry(doc, 'f', 'c', { kind, date: '2026-03-01', description, amount }, NOW));
  return { doc, added };
}

describe('payments and balance', () => {
  // One fee of 1000.00 and one disbursement of 100.00 at 13 % tax: 1230.00 in all.
  const invoiceWith = (extra = {}) => {
    const { doc } = fileWith(['fee', '1000'], ['disbursement', '100']);
    const inv = Object.assign(createInvoice(doc, doc.files[0], { now: NOW }), extra);
    return { doc, inv };
  };
  test('what is still owed after payments, a retainer or a paid mark', () => {
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
      assert.equal(invoiceTotals(inv).due, due, name);
      assert.equal(invoiceState(inv, '2026-03-15'), state, name);
      assert.equal(inv.paid, state === 'paid', name);
      if (payments.length && state === 'paid') assert.equal(inv.paidAt, payments.at(-1)[0], name);
    }
  });

  test('marking paid records the rest as a payment; removing it owes it again', () => {
    const { doc, inv } = invoiceWith();
    addPayment(doc, inv.id, { date: '2026-03-12', amount: '230' }, NOW);
    setInvoicePaid(doc, inv.id, true, NOW);
    assert.deepEqual(inv.payments.map((p) => p.amount), [23000, 100000]);
    assert.equal(invoiceTotals(inv).due, 0);
    removePayment(doc, inv.id, inv.payments[1].id);
    assert.deepEqual([invoiceTotals(inv).due, inv.paid, inv.paidAt], [100000, false, '']);
    assert.throws(() => setInvoicePaid(doc, inv.id, false, NOW), /payments/);
  });

  test('a payment needs a date and an amount no larger than the balance', () => {
    const { inv } = invoiceWith();
    const cases = [['', '10', ['date']], ['2026-03-12', '0', ['amount']], ['2026-03-12', '1230.01', ['amount']], ['2026-03-12', '1230.00', []]];
    for (const [date, amount, wrong] of cases) assert.deepEqual(Object.keys(validatePayment({ date, amount }, inv)), wrong, amount);
    assert.match(validatePayment({ date: '2026-03-12', amount: '1230.01' }, inv).amount, /more than the balance/);
  });

  test('an invoice saved before payments existed opens with the same balance', () => {
    const { doc, inv } = invoiceWith({ paid: true, paidAt: '2026-03-11' });
    delete inv.payments;
    const { doc: opened, lock } = checkDocument(json(doc));
    assert.equal(lock, null);
    assert.equal(invoiceTotals(itemsOf(opened, 'invoices')[0]).due, 0);
  });

  test('an invoice bills only the entries chosen for it', () => {
    const { doc, added: [kept, billed] } = fileWith(['fee', '10'], ['fee', '20']);
    const inv = createInvoice(doc, doc.files[0], { now: NOW, entryIds: [billed.id] });
    assert.deepEqual(inv.lines.map((l) => l.entryId), [billed.id]);
    assert.equal(kept.invoiceId, '');
    assert.throws(() => createInvoice(doc, doc.files[0], { now: NOW, entryIds: ['nothing'] }), /no unbilled/);
  });
});

test('an unbilled entry can be changed and removed; an invoiced one, or a retainer drawn on, is locked and says why', () => {
  const { doc, added: [retainer] } = fileWith(['retainer', '100']);
  const time = addEntry(doc, 'f', 'c', { kind: 'time', date: '2026-03-01', description: 'Call', hours: '1', rate: '200' }, NOW);
  updateEntry(doc, time.id, { kind: 'fee', date: '2026-03-02', description: 'Flat', amount: '150' }, NOW);
  assert.deepEqual([time.kind, time.amount, 'hours' in time, 'rate' in time], ['fee', 15000, false, false]);
  assert.equal(entryLock(doc, retainer), '');
  const inv = createInvoice(doc, doc.files[0], { now: NOW });
  assert.match(entryLock(doc, time), new RegExp(inv.number));
  assert.match(entryLock(doc, retainer), /drawn on/);
  assert.throws(() => updateEntry(doc, time.id, { kind: 'fee', date: '2026-03-02', description: 'x', amount: '1' }, NOW), /Billed on invoice/);
  assert.throws(() => removeEntry(doc, time.id), /Billed on invoice/);
  const loose = addEntry(doc, 'f', 'c', { kind: 'fee', date: '2026-03-03', description: 'Extra', amount: '5' }, NOW);
  removeEntry(doc, loose.id);
  assert.ok(!doc.entries.some((e) => e.id === loose.id));
});

test('the practice on its invoices: a logo only as a small PNG or JPEG, the identity from the settings', () => {
  const png = (bytes) => `data:image/png;base64,${'A'.repeat(Math.ceil(bytes / 3) * 4)}`;
  const cases = [
    ['a small PNG', png(1000), /^$/],
    ['one just too large', png(LOGO_MAX_BYTES + 3), /at most 200 KB/],
    ['an SVG, which could carry script', 'data:image/svg+xml;base64,PHN2Zz4=', /PNG, JPEG/],
    ['something that is not an image address', 'https://example.org/logo.png', /PNG, JPEG/],
  ];
  for (const [name, logo, expected] of cases) assert.match(logoProblem(logo), expected, name);
  assert.deepEqual(practiceIdentity({ settings: { practice: { name: ' North Star ', licence: 'R512345', logo: 'javascript:1' } } }),
    { name: 'North Star', address: '', licence: 'R512345', taxNumber: '', logo: '' });
  assert.equal(practiceIdentity({ settings: { practiceName: 'Old name' } }).name, 'Old name');
  assert.equal(practiceIdentity({}).name, '');
});
