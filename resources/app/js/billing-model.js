// Time, fees, disbursements and retainers per file, and the invoices made from them.
// Money is kept in whole cents; rates of tax in hundredths of a percent (1300 = 13 %).

import { isPlainObject, formatMoney } from './format.js';
import { newId, text } from './clients-model.js';
import { itemsOf, settingsOf, removalBlockers, removeFrom } from './practice-model.js';
import { isDay, today as todayOf, addDays } from './dates.js';

export const ENTRY_KINDS = [
  { value: 'time', label: 'Time' },
  { value: 'fee', label: 'Fixed fee' },
  { value: 'disbursement', label: 'Disbursement' },
  { value: 'retainer', label: 'Retainer received' },
];

export const entryKindLabel = (value) => ENTRY_KINDS.find((k) => k.value === value)?.label ?? String(value ?? '');

export { formatMoney };

export const DEFAULT_BILLING = { prefix: 'INV-', nextNumber: 1, taxRate: 1300, currency: 'CAD', hourlyRate: 20000, termsDays: 30 };

export function billingSettings(doc) {
  const saved = settingsOf(doc).billing;
  return { ...DEFAULT_BILLING, ...(isPlainObject(saved) ? saved : {}) };
}

// "1 234,5" or "$1,234.50" → 123450 cents; null when it isn't an amount.
export function parseMoney(input) {
  let s = String(input ?? '').trim().replace(/[\s$€£]|CAD|USD/gi, '');
  if (!s) return null;
  // A comma with one or two digits after it, and no point after it, is a decimal comma
  // ("12,5", "1.234,56"); otherwise commas group thousands ("1,234.50").
  if (/,\d{1,2}$/.test(s) && s.lastIndexOf('.') < s.lastIndexOf(',')) s = s.replace(/\./g, '').replace(',', '.');
  else s = s.replace(/,/g, '');
  if (!/^-?\d+(\.\d{0,2})?$/.test(s)) return null;
  const [whole, frac = ''] = s.replace('-', '').split('.');
  const cents = Number(whole) * 100 + Number((frac + '00').slice(0, 2));
  return s.startsWith('-') ? -cents : cents;
}

// Hours as typed: "1.5", "1,5" or "1:30".
export function parseHours(input) {
  const s = String(input ?? '').trim();
  const clock = /^(\d+):([0-5]\d)$/.exec(s);
  if (clock) return Number(clock[1]) + Number(clock[2]) / 60;
  const n = Number(s.replace(',', '.'));
  return Number.isFinite(n) && n > 0 && n <= 24 ? Math.round(n * 100) / 100 : null;
}

export function formatHours(hours) {
  return String(Math.round((Number(hours) || 0) * 100) / 100);
}

export function entryAmount(entry) {
  if (entry.kind === 'time') return Math.round((Number(entry.hours) || 0) * (Number(entry.rate) || 0));
  return Number.isFinite(entry.amount) ? entry.amount : 0;
}

export function validateEntry(input) {
  const errors = {};
  if (!ENTRY_KINDS.some((k) => k.value === input.kind)) errors.kind = 'Choose what kind of entry this is.';
  if (!isDay(input.date)) errors.date = 'Enter the date.';
  if (!text(input.description).trim()) errors.description = 'Describe the work or the cost.';
  if (input.kind === 'time') {
    if (parseHours(input.hours) === null) errors.hours = 'Enter the hours, like 1.5 or 1:30.';
    if (parseMoney(input.rate) === null || parseMoney(input.rate) < 0) errors.rate = 'Enter the hourly rate, like 200.00.';
  } else if (parseMoney(input.amount) === null || parseMoney(input.amount) <= 0) {
    errors.amount = 'Enter an amount above zero, like 150.00.';
  }
  return errors;
}

export function addEntry(doc, fileId, clientId, input, now = new Date()) {
  const entry = {
    id: newId(), fileId, clientId, kind: input.kind, date: input.date,
    description: text(input.description).trim(), invoiceId: '', createdAt: now.toISOString(),
  };
  if (input.kind === 'time') {
    entry.hours = parseHours(input.hours);
    entry.rate = parseMoney(input.rate);
  } else {
    entry.amount = parseMoney(input.amount);
  }
  if (!Array.isArray(doc.entries)) doc.entries = [];
  doc.entries.push(entry);
  return entry;
}

// What a file holds in trust: retainers received less what invoices have drawn on.
export function retainerBalance(doc, fileId) {
  const received = itemsOf(doc, 'entries').filter((e) => e.fileId === fileId && e.kind === 'retainer').reduce((s, e) => s + entryAmount(e), 0);
  const applied = itemsOf(doc, 'invoices').filter((i) => i.fileId === fileId).reduce((s, i) => s + (Number(i.retainerApplied) || 0), 0);
  return received - applied;
}

export function unbilledEntries(doc, fileId) {
  return itemsOf(doc, 'entries').filter((e) => e.fileId === fileId && e.kind !== 'retainer' && !e.invoiceId);
}

// Subtotal, tax (on time and fees, not on disbursements, which are passed on at cost), total,
// retainer applied, payments received and what is still owed (`due`, never below zero). An
// invoice marked paid before payments were recorded one by one owes nothing.
export function invoiceTotals(invoice) {
  const lines = Array.isArray(invoice.lines) ? invoice.lines.filter(isPlainObject) : [];
  const subtotal = lines.reduce((s, l) => s + (Number(l.amount) || 0), 0);
  const taxable = lines.filter((l) => l.taxable !== false).reduce((s, l) => s + (Number(l.amount) || 0), 0);
  const tax = Math.round(taxable * (Number(invoice.taxRate) || 0) / 10000);
  const total = subtotal + tax;
  const retainer = Number(invoice.retainerApplied) || 0;
  const payments = paymentsOf(invoice);
  const received = payments.reduce((s, p) => s + p.amount, 0);
  const owed = Math.max(0, total - retainer - received);
  const due = invoice.paid && payments.length === 0 ? 0 : owed;
  return { subtotal, taxable, tax, total, retainer, received, due };
}

// The payments of an invoice that can be counted, oldest first.
export function paymentsOf(invoice) {
  const list = Array.isArray(invoice?.payments) ? invoice.payments : [];
  return list.filter((p) => isPlainObject(p) && Number.isFinite(p.amount) && p.amount > 0)
    .slice().sort((a, b) => String(a.date).localeCompare(String(b.date)));
}

// Keeps `paid` and `paidAt` in step with the payments, for readers that only know those.
function settle(invoice) {
  const payments = paymentsOf(invoice);
  if (!payments.length) return invoice;
  invoice.paid = false;
  invoice.paid = invoiceTotals(invoice).due <= 0;
  invoice.paidAt = invoice.paid ? payments.at(-1).date : '';
  return invoice;
}

export function validatePayment(input, invoice) {
  const errors = {};
  const amount = parseMoney(input.amount);
  if (!isDay(input.date)) errors.date = 'Enter the date the payment arrived.';
  if (amount === null || amount <= 0) errors.amount = 'Enter an amount above zero, like 150.00.';
  else if (amount > invoiceTotals(invoice).due) errors.amount = `That is more than the balance of ${formatMoney(invoiceTotals(invoice).due, invoice.currency || 'CAD')}.`;
  return errors;
}

export function addPayment(doc, invoiceId, input, now = new Date()) {
  const invoice = itemsOf(doc, 'invoices').find((i) => i.id === invoiceId);
  if (!invoice) throw new Error('This invoice is no longer in your data.');
  const errors = validatePayment(input, invoice);
  if (Object.keys(errors).length) throw new Error(Object.values(errors)[0]);
  if (!Array.isArray(invoice.payments)) invoice.payments = [];
  const payment = { id: newId(), date: input.date, amount: parseMoney(input.amount), note: text(input.note).trim(), createdAt: now.toISOString() };
  invoice.payments.push(payment);
  settle(invoice);
  return payment;
}

export function removePayment(doc, invoiceId, paymentId) {
  const invoice = itemsOf(doc, 'invoices').find((i) => i.id === invoiceId);
  if (!invoice || !Array.isArray(invoice.payments)) return null;
  const at = invoice.payments.findIndex((p) => isPlainObject(p) && p.id === paymentId);
  if (at < 0) return null;
  const [gone] = invoice.payments.splice(at, 1);
  if (!paymentsOf(invoice).length) {
    invoice.paid = false;
    invoice.paidAt = '';
  }
  settle(invoice);
  return gone;
}

// The next number that no invoice has: the counter never goes back, and a number typed by hand
// elsewhere is stepped over.
export function nextInvoiceNumber(doc, now = new Date()) {
  const settings = billingSettings(doc);
  const taken = new Set(itemsOf(doc, 'invoices').map((i) => text(i.number)));
  let n = Math.max(1, Number.parseInt(settings.nextNumber, 10) || 1);
  let number;
  do {
    number = `${settings.prefix}${now.getFullYear()}-${String(n).padStart(4, '0')}`;
    n += 1;
  } while (taken.has(number));
  return { number, next: n };
}

// Makes an invoice of a file's unbilled entries and marks them billed. Throws with a sentence
// for the user when there is nothing to bill.
// entryIds: the unbilled entries to bill (all of them when left out).
export function createInvoice(doc, file, { now = new Date(), useRetainer = true, entryIds = null } = {}) {
  const wanted = entryIds ? new Set(entryIds) : null;
  const entries = unbilledEntries(doc, file.id).filter((e) => !wanted || wanted.has(e.id));
  if (entries.length === 0) throw new Error('This file has no unbilled time, fees or disbursements to invoice.');
  const settings = billingSettings(doc);
  const { number, next } = nextInvoiceNumber(doc, now);
  const invoice = {
    id: newId(), number, fileId: file.id, clientId: file.clientId,
    issued: todayOf(now), due: addDays(todayOf(now), Number(settings.termsDays) || 30),
    currency: settings.currency, taxRate: Number(settings.taxRate) || 0,
    lines: entries.map((e) => ({
      entryId: e.id, date: e.date, kind: e.kind,
      description: e.kind === 'time' ? `${e.description} (${formatHours(e.hours)} h)` : e.description,
      amount: entryAmount(e), taxable: e.kind !== 'disbursement',
    })),
    retainerApplied: 0, paid: false, paidAt: '', payments: [], createdAt: now.toISOString(),
  };
  if (useRetainer) {
    invoice.retainerApplied = Math.max(0, Math.min(retainerBalance(doc, file.id), invoiceTotals(invoice).total));
  }
  for (const e of entries) e.invoiceId = invoice.id;
  if (!Array.isArray(doc.invoices)) doc.invoices = [];
  doc.invoices.push(invoice);
  doc.settings = { ...settingsOf(doc), billing: { ...settings, nextNumber: next } };
  return invoice;
}

// Marking paid records a payment of what is still owed, dated today; marking unpaid is for an
// invoice marked paid without payments (those are removed one by one).
export function setInvoicePaid(doc, id, paid, now = new Date()) {
  const invoice = itemsOf(doc, 'invoices').find((i) => i.id === id);
  if (!invoice) return null;
  const due = invoiceTotals(invoice).due;
  if (paid && due > 0) {
    addPayment(doc, id, { date: todayOf(now), amount: (due / 100).toFixed(2) }, now);
    return invoice;
  }
  if (!paid && paymentsOf(invoice).length) throw new Error('This invoice has payments recorded. Remove them to make it unpaid.');
  invoice.paid = !!paid;
  invoice.paidAt = paid ? todayOf(now) : '';
  return invoice;
}

// An invoice that took no payment can be removed: its entries are unbilled again and the
// retainer it drew on goes back into trust. Its number is not given out again.
export function removeInvoice(doc, id) {
  const blockers = removalBlockers(doc, 'invoice', id);
  if (blockers.length) throw new Error(blockers[0]);
  for (const e of itemsOf(doc, 'entries')) if (e.invoiceId === id) e.invoiceId = '';
  return removeFrom(doc, 'invoices', id);
}

// Why an entry can't be changed or removed, or '' when it can.
export function entryLock(doc, entry, index = null) {
  if (entry.invoiceId) {
    const invoice = index ? index.invoice.get(entry.invoiceId) : itemsOf(doc, 'invoices').find((i) => i.id === entry.invoiceId);
    return `Billed on invoice ${text(invoice?.number) || 'that is no longer in your data'}, so it stays as invoiced.`;
  }
  if (entry.kind === 'retainer' && retainerBalance(doc, entry.fileId) - entryAmount(entry) < 0) {
    return 'Invoices have drawn on this retainer, so it stays as received.';
  }
  return '';
}

function entryFor(doc, id) {
  const entry = itemsOf(doc, 'entries').find((e) => e.id === id);
  if (!entry) throw new Error('This entry is no longer in your data.');
  const lock = entryLock(doc, entry);
  if (lock) throw new Error(lock);
  return entry;
}

export function updateEntry(doc, id, input, now = new Date()) {
  const entry = entryFor(doc, id);
  const changed = { kind: input.kind, date: input.date, description: text(input.description).trim(), updatedAt: now.toISOString() };
  delete entry.hours;
  delete entry.rate;
  delete entry.amount;
  if (input.kind === 'time') Object.assign(changed, { hours: parseHours(input.hours), rate: parseMoney(input.rate) });
  else changed.amount = parseMoney(input.amount);
  return Object.assign(entry, changed);
}

export function removeEntry(doc, id) {
  entryFor(doc, id);
  return removeFrom(doc, 'entries', id);
}

// The practice as its invoices name it. The logo is an image kept in the data as a data: address.
export const LOGO_MAX_BYTES = 200 * 1024;

export function practiceIdentity(doc) {
  const saved = isPlainObject(settingsOf(doc).practice) ? settingsOf(doc).practice : {};
  const field = (key) => text(saved[key]).trim();
  return {
    name: field('name') || text(settingsOf(doc).practiceName).trim(),
    address: text(saved.address).trim(),
    licence: field('licence'),
    taxNumber: field('taxNumber'),
    logo: logoProblem(saved.logo) ? '' : saved.logo,
  };
}

// Why a logo can't be kept, or '' when it can.
export function logoProblem(dataUrl) {
  if (typeof dataUrl !== 'string' || !/^data:image\/(png|jpeg|gif|webp);base64,[A-Za-z0-9+/]+=*$/.test(dataUrl)) {
    return 'Choose a PNG, JPEG, GIF or WebP image.';
  }
  const bytes = Math.floor((dataUrl.length - dataUrl.indexOf(',') - 1) * 3 / 4);
  if (bytes > LOGO_MAX_BYTES) return `The image is ${Math.ceil(bytes / 1024)} KB; choose one of at most ${LOGO_MAX_BYTES / 1024} KB.`;
  return '';
}

// 'paid', 'overdue' or 'unpaid'. One the retainer covered in full has nothing left to pay.
export function invoiceState(invoice, day) {
  if (invoiceTotals(invoice).due <= 0) return 'paid';
  return isDay(invoice.due) && invoice.due < day ? 'overdue' : 'unpaid';
}
