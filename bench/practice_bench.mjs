#!/usr/bin/env node
// The page's model with a large practice: 5,000 clients, 10,000 files, 50,000 deadlines (and
// appointments, time entries and invoices in proportion). Times what the page does to open the
// data, draw its busiest lists, search, and hand the document over for saving.
//
//   node bench/practice_bench.mjs [--clients 5000] [--runs 5]

import { checkDocument } from '../resources/app/js/store.js';
import { indexOf, filterDeadlines, CLOSED_FILE_STATUSES, PROGRAMMES, DEADLINE_KINDS } from '../resources/app/js/practice-model.js';
import { find } from '../resources/app/js/search.js';
import { invoiceTotals, invoiceState } from '../resources/app/js/billing-model.js';
import { today, addDays } from '../resources/app/js/dates.js';

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) => (a.startsWith('--') ? [...pairs, [a.slice(2), all[i + 1]]] : pairs), []));
const CLIENTS = Number(args.clients ?? 5000);
const RUNS = Number(args.runs ?? 5);

// A deterministic practice, in the shape the page saves.
function generate() {
  let seed = 42;
  const rand = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648);
  const pick = (list) => list[Math.floor(rand() * list.length)];
  const first = ['Amara', 'José', 'Hoa', 'Priya', 'Tomasz', 'Fatima', 'Wei', 'Olena', 'Kwame', 'Sofía', 'Arjun', 'Aiyana'];
  const last = ['Okafor', 'Martínez', 'Lê', 'Raman', 'Nowak', 'Benali', 'Chen', 'Kovalenko', 'Mensah', 'Herrera', 'Mehta', 'Redcloud'];
  const day = today();
  const stamp = new Date().toISOString();
  const doc = { version: 2, clients: [], files: [], deadlines: [], appointments: [], contacts: [], entries: [], invoices: [], settings: {} };
  for (let c = 0; c < CLIENTS; c++) {
    const id = `c${c}`;
    doc.clients.push({ id, name: `${pick(first)} ${pick(last)} ${c}`, email: `client${c}@example.org`, phone: `(416) 555-${String(c % 10000).padStart(4, '0')}`, fileNumber: `QP-${c}`, status: 'active', notes: 'Prefers e-mail.', createdAt: stamp, updatedAt: stamp });
    doc.contacts.push({ id: `k${c}`, clientId: id, kind: 'call', date: addDays(day, -c % 90), summary: 'Discussed the next steps.', createdAt: stamp });
    for (let f = 0; f < 2; f++) {
      const fileId = `f${c}-${f}`;
      doc.files.push({ id: fileId, clientId: id, programme: pick(PROGRAMMES).value, applicationNumber: `W${300000000 + c * 2 + f}`, status: rand() < 0.2 ? 'closed' : 'submitted', opened: addDays(day, -Math.floor(rand() * 700)), stages: [{ name: 'Retainer signed', date: day }, { name: 'Decision', date: '' }], notes: '', createdAt: stamp, updatedAt: stamp });
      for (let d = 0; d < 5; d++) {
        doc.deadlines.push({ id: `d${c}-${f}-${d}`, clientId: id, fileId, kind: pick(DEADLINE_KINDS).value, title: 'Send proof of funds', due: addDays(day, Math.floor(rand() * 400) - 100), remindDays: 3, done: rand() < 0.4, doneAt: '', notes: '', createdAt: stamp, updatedAt: stamp });
      }
      doc.entries.push({ id: `e${c}-${f}`, fileId, clientId: id, kind: 'time', date: day, description: 'Review', hours: 1.5, rate: 20000, invoiceId: f === 0 ? `i${c}` : '', createdAt: stamp });
    }
    doc.invoices.push({ id: `i${c}`, number: `INV-2026-${String(c + 1).padStart(5, '0')}`, fileId: `f${c}-0`, clientId: id, issued: addDays(day, -30), due: addDays(day, c % 60 - 30), currency: 'CAD', taxRate: 1300, lines: [{ entryId: `e${c}-0`, date: day, kind: 'time', description: 'Review (1.5 h)', amount: 30000, taxable: true }], retainerApplied: 0, paid: c % 3 === 0, paidAt: '', createdAt: stamp });
    if (c % 2 === 0) doc.appointments.push({ id: `a${c}`, clientId: id, title: 'Meeting', date: addDays(day, c % 30), time: '10:00', minutes: 30, createdAt: stamp });
  }
  return doc;
}

function time(fn) {
  const start = performance.now();
  const result = fn();
  return { ms: performance.now() - start, result };
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

const base = generate();
const text = JSON.stringify(base);
const day = today();
const rows = { parse: [], check: [], index: [], dashboard: [], open: [], lists: [], save: [], firstSearch: [], search: [] };
const queries = ['martinez', 'W300001234', 'INV-2026-0042', 'proof funds hoa', 'client4999@example.org', 'zzz nothing'];

for (let run = 0; run < RUNS; run++) {
  // Load to interactive: the native side hands over the text; the page parses, checks and
  // migrates it, builds its lookups, and draws the dashboard's numbers.
  const parsed = time(() => JSON.parse(text));
  const checked = time(() => {
    const { doc, lock } = checkDocument(parsed.result);
    if (lock) throw new Error(lock.message);
    return doc;
  });
  const indexed = time(() => indexOf(checked.result, run));
  const index = indexed.result;
  const dashboard = time(() => ({
    overdue: filterDeadlines(index.deadlines, { show: 'overdue', day }).length,
    week: filterDeadlines(index.deadlines, { show: 'week', day }).length,
    openFiles: index.files.filter((f) => !CLOSED_FILE_STATUSES.has(f.status)).length,
  }));
  rows.parse.push(parsed.ms);
  rows.check.push(checked.ms);
  rows.index.push(indexed.ms);
  rows.dashboard.push(dashboard.ms);
  rows.open.push(parsed.ms + checked.ms + indexed.ms + dashboard.ms);
  const doc = checked.result;

  // The busiest lists: open deadlines sorted, the billing totals.
  rows.lists.push(time(() => {
    const shown = filterDeadlines(index.deadlines, { show: 'open', day }).slice(0, 100);
    let outstanding = 0;
    for (const inv of index.invoices) if (invoiceState(inv, day) !== 'paid') outstanding += invoiceTotals(inv).due;
    return shown.length + outstanding;
  }).ms);

  rows.firstSearch.push(time(() => find(index, queries[0])).ms);
  for (const q of queries.slice(1)) rows.search.push(time(() => find(index, q)).ms);

  // Saving: the page's part is turning the document into the text the bridge carries
  // (JSON.stringify of the document, then of the argument list).
  rows.save.push(time(() => JSON.stringify([JSON.stringify(doc)])).ms);
}

const index = indexOf(checkDocument(JSON.parse(text)).doc, 'check');
console.log(`Practice: ${index.clients.length} clients, ${index.files.length} files, ${index.deadlines.length} deadlines, ` +
  `${index.appointments.length} appointments, ${index.entries.length} entries, ${index.invoices.length} invoices; ${(text.length / 1048576).toFixed(1)} MB of JSON`);
console.log(`Node ${process.version}, median of ${RUNS} runs (searches: of ${rows.search.length}):`);
const line = (label, values) => console.log(`  ${label.padEnd(44)} ${median(values).toFixed(1).padStart(8)} ms   (max ${Math.max(...values).toFixed(1)} ms)`);
line('open, in all (load to interactive)', rows.open);
line('  JSON.parse of the loaded text', rows.parse);
line('  check and migrate the document', rows.check);
line('  build the lookups', rows.index);
line('  dashboard counts (overdue, this week)', rows.dashboard);
line('open deadlines sorted + billing totals', rows.lists);
line('first search (builds the search text)', rows.firstSearch);
line('each later search', rows.search);
line('save: the document to bridge text', rows.save);
for (const q of queries) console.log(`  "${q}" finds ${find(index, q).length}`);
