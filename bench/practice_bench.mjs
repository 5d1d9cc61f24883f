#!/usr/bin/env node
// The page's model with a large practice: 5,000 clients, 10,000 files, 50,000 deadlines (and
// appointments, time entries and invoices in proportion). Times what the page does to open the
// data, draw its busiest lists, search, and hand the document over for saving.
//
//   node bench/practice_bench.mjs [--clients 5000] [--runs 5]

import { checkDocument } from '../resources/app/js/store.js';
import { indexOf, filterDeadlines, CLOSED_FILE_STATUSES } from '../resources/app/js/practice-model.js';
import { find, prepareSearch } from '../resources/app/js/search.js';
import { documentText, textEdits } from '../resources/app/js/doc-text.js';
import { invoiceTotals, invoiceState } from '../resources/app/js/billing-model.js';
import { today } from '../resources/app/js/dates.js';
import { generatePractice } from './practice-data.mjs';

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) => (a.startsWith('--') ? [...pairs, [a.slice(2), all[i + 1]]] : pairs), []));
const CLIENTS = Number(args.clients ?? 5000);
const RUNS = Number(args.runs ?? 5);

function time(fn) {
  const start = performance.now();
  const result = fn();
  return { ms: performance.now() - start, result };
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

const base = generatePractice(CLIENTS);
const text = JSON.stringify(base);
const day = today();
const rows = { parse: [], check: [], index: [], dashboard: [], open: [], lists: [], save: [], sliced: [], slice: [], resliced: [], reslice: [], edits: [], carried: [], prepare: [], firstSearch: [], editedSearch: [], lookedOverSearch: [], search: [] };
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

  // Find: the search text is folded a slice at a time once the practice is open, and looked
  // over again a moment after edits (only the edited record is folded again), so a search finds
  // it made. A search typed right after an edit looks the rows over itself.
  const prepareStart = performance.now();
  await prepareSearch(index, { pause: async () => {}, settled: () => true });
  rows.prepare.push(performance.now() - prepareStart);
  rows.firstSearch.push(time(() => find(index, queries[0])).ms);
  for (const q of queries.slice(1)) rows.search.push(time(() => find(index, q)).ms);
  doc.clients[run].name = `Edited ${run}`;
  rows.editedSearch.push(time(() => find(indexOf(doc, `edited ${run}`), queries[0])).ms);
  doc.clients[run].name = `Edited again ${run}`;
  const edited = indexOf(doc, `edited again ${run}`);
  await prepareSearch(edited, { pause: async () => {}, settled: () => true });
  rows.lookedOverSearch.push(time(() => find(edited, queries[0])).ms);

  // Saving the old way: the whole document to the text the bridge carries (JSON.stringify of the
  // document, then of the argument list) in one task.
  rows.save.push(time(() => JSON.stringify([JSON.stringify(doc)])).ms);
  // Saving through the text: written in slices with a turn for the event loop between them; the
  // longest slice is the longest the page waits.
  // The first save after opening encodes every record; a later one only those that changed.
  for (const [total, slice] of [[rows.sliced, rows.slice], [rows.resliced, rows.reslice]]) {
    if (total === rows.resliced) doc.clients[run].notes = `Called back ${run}`;
    let sliceStart = performance.now();
    let longest = 0;
    const start = performance.now();
    const parts = await documentText(doc, { pause: async () => { longest = Math.max(longest, performance.now() - sliceStart); sliceStart = performance.now(); } });
    longest = Math.max(longest, performance.now() - sliceStart);
    total.push(performance.now() - start);
    slice.push(longest);
    if (parts.join('') !== JSON.stringify(doc)) throw new Error('the text written in slices differs from JSON.stringify');
  }
  // A save after that sends edits: the text's pieces are listed in slices, nothing encoded, and
  // compared with the last save's; only the changed record travels.
  const listed = async () => {
    const pieces = [];
    await documentText(doc, { pause: async () => {}, write: (piece) => pieces.push(piece) });
    return pieces;
  };
  const before = await listed();
  doc.deadlines[run].title = `Send proof ${run}`;
  const start = performance.now();
  const edits = textEdits(before, await listed());
  rows.edits.push(performance.now() - start);
  rows.carried.push(edits.reduce((units, [, was, now]) => units + was.length + now.length, 0));
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
line('search text folded in slices after opening', rows.prepare);
line('first search (gathers the folded text)', rows.firstSearch);
line('search right after an edit (looks rows over)', rows.editedSearch);
line('search after an edit, rows looked over', rows.lookedOverSearch);
line('each later search', rows.search);
line('save, in one task: the document to bridge text', rows.save);
line('save, in slices: all of the text', rows.sliced);
line('save, in slices: the longest slice', rows.slice);
line('next save after one edit, in slices: all', rows.resliced);
line('next save after one edit: the longest slice', rows.reslice);
line('save as edits: pieces listed and compared', rows.edits);
console.log(`  the edits carry ${median(rows.carried)} characters of ${text.length}`);
for (const q of queries) console.log(`  "${q}" finds ${find(index, q).length}`);
