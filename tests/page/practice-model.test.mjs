import { test } from 'node:test';
import assert from 'node:assert/strict';
import { checkDocument, freshDocument, inspectCopy } from '../../resources/app/js/store.js';
import {
  indexOf, removeFrom, addFile, validateFile, removeFile, addDeadline, updateDeadline, setDeadlineDone,
  deadlineState, filterDeadlines, removeClientEverywhere, cleanDeadline,
} from '../../resources/app/js/practice-model.js';
import { addDemoData } from '../../resources/app/js/demo-data.js';
import { addEntry } from '../../resources/app/js/billing-model.js';
import { addDays, monthGrid, weekStart } from '../../resources/app/js/dates.js';
import { createTours } from '../../resources/app/js/tours.js';

// A document as version 1 of the page saved it.
const versionOne = () => ({
  version: 1,
  clients: [{ id: 'c1', name: 'Ana', portalLogins: { sealed: 'x' } }, { name: 'No id yet' }, 'not a client'],
  settings: { server: { base: 'https://practice.example', key: 'k' } },
  somethingNewer: { kept: true },
});
const uuid = /^[0-9a-f-]{36}$/;

test('an older document opens as version 2 with every list and ids where missing, keeping what it had', () => {
  const { doc, lock, migratedFrom } = checkDocument(versionOne());
  assert.deepEqual([lock, migratedFrom], [null, 1]);
  assert.match(doc.clients[1].id, uuid);
  const lists = Object.fromEntries(['files', 'deadlines', 'appointments', 'contacts', 'entries', 'invoices'].map((n) => [n, []]));
  const expected = { ...versionOne(), version: 2, ...lists };
  expected.clients[1].id = doc.clients[1].id;
  assert.deepEqual(doc, expected);
  const again = structuredClone(doc);
  checkDocument(again);
  assert.deepEqual(again, doc, 'opening it again changes nothing more');
  assert.deepEqual(inspectCopy(JSON.stringify(versionOne())), { ok: true, version: 2, clients: 2, files: 0, deadlines: 0, invoices: 0 });

  // Without a version, or with lists added by hand.
  const { doc: bare } = checkDocument({ clients: [], deadlines: [{ title: 'Hand-made', due: '2026-01-05' }, 7] });
  assert.deepEqual([bare.version, bare.deadlines[1], indexOf(bare).deadlines.length], [2, 7, 1]);
  assert.match(bare.deadlines[0].id, uuid);
});

const day = '2026-03-10';

function practice() {
  const doc = freshDocument();
  doc.clients.push({ id: 'c1', name: 'Ana' }, { id: 'c2', name: 'Ben' });
  const file = addFile(doc, { clientId: 'c1', programme: 'study-permit', applicationNumber: 'S123' });
  return { doc, file };
}

test('a file needs a known client and an application number used only once', () => {
  const { doc, file } = practice();
  const index = indexOf(doc, 1);
  assert.ok(validateFile({ clientId: 'nobody' }, index).clientId);
  assert.match(validateFile({ clientId: 'c2', applicationNumber: 's123' }, index).applicationNumber, /Ana/);
  assert.deepEqual(validateFile({ id: file.id, clientId: 'c1', applicationNumber: 'S123' }, index), {}, 'its own number is no clash');
});

test('a deadline of a file belongs to its client; states follow date and done; windows stay in reason; filters pick', () => {
  const { doc, file } = practice();
  const d = addDeadline(doc, { title: 'Biometrics', kind: 'biometrics', due: addDays(day, -1), fileId: file.id });
  assert.equal(d.clientId, 'c1');
  const states = [-1, 0, 7, 8].map((n) => deadlineState({ ...d, due: addDays(day, n) }, day));
  assert.deepEqual(states, ['overdue', 'soon', 'soon', 'later']);
  setDeadlineDone(doc, d.id, true);
  assert.equal(deadlineState(d, day), 'done');
  assert.ok(d.doneAt);
  updateDeadline(doc, d.id, { ...d, title: 'Moved', due: '2026-04-01' });
  assert.deepEqual([d.title, d.done], ['Moved', true], 'editing keeps it done');

  const windows = [['400', 60], ['60', 60], ['-2', 0], ['x', 0], ['7', 7]];
  assert.deepEqual(windows.map(([typed]) => [typed, cleanDeadline({ remindDays: typed }).remindDays]), windows);

  // Filters put the earliest first and pick by state, kind and client.
  removeFrom(doc, 'deadlines', d.id);
  addDeadline(doc, { title: 'Later', kind: 'medical', due: '2026-05-01', clientId: 'c1' });
  addDeadline(doc, { title: 'Past', kind: 'biometrics', due: '2026-03-01', clientId: 'c2' });
  setDeadlineDone(doc, addDeadline(doc, { title: 'Done', kind: 'medical', due: '2026-03-12', clientId: 'c1' }).id, true);
  const list = indexOf(doc, 2).deadlines;
  const titles = (options) => filterDeadlines(list, { day, ...options }).map((d) => d.title);
  const cases = [
    [{ show: 'open' }, ['Past', 'Later']], [{ show: 'overdue' }, ['Past']], [{ show: 'done' }, ['Done']],
    [{ show: 'all', kind: 'medical' }, ['Done', 'Later']], [{ show: 'all', clientId: 'c2' }, ['Past']],
  ];
  for (const [options, expected] of cases) assert.deepEqual(titles(options), expected, JSON.stringify(options));
});

test('removing a file or a client takes what is only theirs', () => {
  const { doc, file } = practice();
  const other = addFile(doc, { clientId: 'c2' });
  addDeadline(doc, { title: 'x', due: day, fileId: file.id });
  addDeadline(doc, { title: 'y', due: day, fileId: other.id });
  addEntry(doc, file.id, 'c1', { kind: 'fee', date: day, description: 'Fee', amount: '100' });
  removeFile(doc, file.id);
  assert.deepEqual([doc.files.map((f) => f.id), doc.deadlines.map((d) => d.title), doc.entries.length], [[other.id], ['y'], 0]);

  assert.deepEqual([removeClientEverywhere(doc, 'c1').name, doc.clients.map((c) => c.id)], ['Ana', ['c2']]);
});

test('demonstration data fills an empty practice with linked records, and nothing else', () => {
  const doc = freshDocument();
  addDemoData(doc, new Date(2026, 2, 10, 9));
  const index = indexOf(doc, 1);
  assert.ok(index.clients.length > 0 && index.files.every((f) => index.client.has(f.clientId)));
  assert.ok(index.deadlines.every((d) => index.file.has(d.fileId) && index.client.has(d.clientId)));
  assert.ok(index.invoices.every((i) => index.file.has(i.fileId)));
  assert.equal(new Set(index.invoices.map((i) => i.number)).size, index.invoices.length);
  assert.ok(filterDeadlines(index.deadlines, { show: 'overdue', day: '2026-03-10' }).length > 0);
  assert.equal(checkDocument(JSON.parse(JSON.stringify(doc))).lock, null, 'saves and opens again');
  const before = JSON.stringify(doc);
  assert.throws(() => addDemoData(doc), /empty practice/);
  assert.equal(JSON.stringify(doc), before);
});

test('weeks start on Monday, a month shows six whole weeks, and days count across summer time', () => {
  assert.equal(weekStart('2026-03-15'), '2026-03-09');
  const grid = monthGrid(2026, 1);
  assert.deepEqual([grid.length, grid[0], grid.includes('2026-02-28')], [42, '2026-01-26', true]);
  assert.equal(addDays('2026-03-28', 2), '2026-03-30');
});

test('a tour seen is remembered in the data without a save of its own, and never in locked data', () => {
  const edits = [];
  const app = { data: freshDocument(), editable: true, edit: (fn) => edits.push(fn) };
  const tours = createTours({ app, currentPath: () => 'clients' });
  assert.equal(tours.seen('clients'), false);
  tours.markAllSeen();
  assert.deepEqual([edits, app.data.settings.tours.clients, tours.names.every((n) => tours.seen(n))], [[], true, true]);
  const locked = { data: { version: 1, clients: [] }, editable: false, edit: () => assert.fail('edited locked data') };
  const lockedTours = createTours({ app: locked, currentPath: () => 'files' });
  lockedTours.markAllSeen();
  assert.deepEqual([lockedTours.seen('files'), locked.data], [true, { version: 1, clients: [] }]);
});
