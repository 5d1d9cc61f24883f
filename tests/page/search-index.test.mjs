// Find's search text is kept per record and folded again only when its words change: after
// every kind of edit, in place or through the model, the search finds what the data now says.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { find, prepareSearch } from '../../resources/app/js/search.js';
import { indexOf, removeFrom } from '../../resources/app/js/practice-model.js';

function practice() {
  return {
    version: 2,
    clients: [
      { id: 'c1', name: 'José Álvarez', email: 'jose@example.org', fileNumber: 'QP-1', status: 'active' },
      { id: 'c2', name: 'Hoa Lê', email: 'hoa@example.org', fileNumber: 'QP-2', status: 'active' },
    ],
    files: [{ id: 'f1', clientId: 'c1', programme: 'express-entry', applicationNumber: 'W111', status: 'submitted' }],
    deadlines: [{ id: 'd1', clientId: 'c1', fileId: 'f1', kind: 'biometrics', title: 'Send proof of funds', due: '2026-03-01' }],
    appointments: [], contacts: [], entries: [],
    invoices: [{ id: 'i1', number: 'INV-7', clientId: 'c2', paid: false, lines: [] }],
  };
}

const ids = (doc, stamp, query) => find(indexOf(doc, stamp), query).map((r) => r.id).sort();
const quiet = { pause: async () => {}, sliceMs: 0, now: () => 0 };

test('the search finds what each record says after it changes', async () => {
  const doc = practice();
  let stamp = 0;
  await prepareSearch(indexOf(doc, stamp), quiet);
  assert.deepEqual(ids(doc, stamp, 'alvarez'), ['c1', 'd1', 'f1']);
  const cases = [
    ['a client renamed in place', (d) => { d.clients[0].name = 'José Ortega'; }, { alvarez: [], ortega: ['c1', 'd1', 'f1'] }],
    ['a field made empty', (d) => { delete d.clients[1].email; }, { 'hoa@example': [], hoa: ['c2', 'i1'] }],
    ['a deadline retitled', (d) => { d.deadlines[0].title = 'Medical exam'; }, { 'proof funds': [], 'medical exam': ['d1'] }],
    ['an invoice paid', (d) => { d.invoices[0].paid = true; }, { unpaid: [], 'inv-7 paid': ['i1'] }],
    ['a file renumbered', (d) => { d.files[0].applicationNumber = 'W222'; }, { w111: [], w222: ['f1'] }],
    ['a record removed', (d) => removeFrom(d, 'deadlines', 'd1'), { medical: [], ortega: ['c1', 'f1'] }],
    ['a record added', (d) => d.clients.push({ id: 'c3', name: 'Ñandú Pérez' }), { nandu: ['c3'], perez: ['c3'] }],
    ['a record replaced by a copy', (d) => { d.clients[1] = { ...d.clients[1], name: 'Hoa Tran' }; }, { 'hoa le': [], 'hoa tran': ['c2', 'i1'] }],
  ];
  for (const [name, edit, finds] of cases) {
    edit(doc);
    stamp += 1;
    for (const [query, expected] of Object.entries(finds)) assert.deepEqual(ids(doc, stamp, query), expected, `${name}: "${query}"`);
  }
});

test('preparing stops when no longer wanted; the rows it made serve later searches, with what records say by then', async () => {
  const stopped = practice();
  for (let n = 0; n < 300; n++) stopped.clients.push({ id: `x${n}`, name: `Extra ${n}` });
  let pauses = 0;
  const options = { pause: async () => { pauses += 1; }, sliceMs: 0, now: () => pauses * 10 + 10 };
  const prepared = await prepareSearch(indexOf(stopped, 1), { ...options, stillWanted: () => pauses < 2 });
  assert.deepEqual([prepared, pauses, ids(stopped, 1, 'extra 299')], [false, 2, ['x299']], 'a search still finds everything');

  const doc = practice();
  for (let n = 0; n < 200; n++) doc.deadlines.push({ id: `d${n + 10}`, clientId: 'c2', title: `Follow-up ${n}`, due: '2026-05-01' });
  pauses = 0;
  // A client renamed while the rows are made, after their rows were made.
  const pause = async () => { pauses += 1; if (pauses === 2) doc.clients[1].name = 'Hoa Tran'; };
  assert.deepEqual([await prepareSearch(indexOf(doc, 1), { ...options, pause }), pauses >= 2], [true, true]);
  const cases = [
    [1, 'hoa tran hoa@example', ['c2']], [1, 'hoa tran inv-7', ['i1']], [2, 'follow-up 199', ['d209']],
    [3, 'changed', ['d14'], (d) => { d.deadlines[5].title = 'Changed'; }],
    [4, 'hoa tran gone', ['d13'], (d) => { d.deadlines[4].title = 'Gone'; }], [4, 'follow-up 199', ['d209']],
  ];
  for (const [stamp, query, expected, edit] of cases) {
    edit?.(doc);
    assert.deepEqual(ids(doc, stamp, query), expected, query);
  }
});

test('results that start with the first word come first, then clients, files, invoices and deadlines, in the data\'s order, at most the limit', () => {
  const doc = practice();
  doc.clients.push({ id: 'c3', name: 'Proof Reader' }, { id: 'c4', name: 'Anna Proof' });
  doc.files.push({ id: 'f2', clientId: 'c3', applicationNumber: 'W333' });
  doc.invoices.push({ id: 'i2', number: 'INV-8', clientId: 'c4' }, { id: 'i3', number: 'INV-9', clientId: 'c3' });
  doc.deadlines.push({ id: 'd2', clientId: 'c3', title: 'Proof of address' }, { id: 'd3', clientId: 'c4', title: 'Send proof' });
  const index = indexOf(doc, 1);
  const cases = [
    ['proof', 50, ['c3', 'f2', 'd2', 'c4', 'i2', 'i3', 'd1', 'd3']], ['proof', 4, ['c3', 'f2', 'd2', 'c4']],
    ['proof address', 50, ['d2']], ['anna proof', 50, ['c4', 'i2', 'd3']], ['inv', 2, ['i1', 'i2']],
    ['ALVAREZ EXPRESS', 50, ['f1']], // a file by its client's name and its programme
  ];
  for (const [query, limit, expected] of cases) assert.deepEqual(find(index, query, limit).map((r) => r.id), expected, `${query} (${limit})`);
  assert.deepEqual(find(index, 'proof', 3).map((r) => `${r.type} ${r.href}`), ['client client/c3', 'file file/f2', 'deadline deadline/d2']);
});

test('a search prepared for an index nothing changed since is kept; after an edit, preparing looks the kept rows over', async () => {
  const doc = practice();
  const first = indexOf(doc, 1);
  await prepareSearch(first, { ...quiet, settled: () => false });
  const unsettled = first.search;
  await prepareSearch(first, { ...quiet, settled: () => true });
  assert.deepEqual([unsettled, !!first.search], [null, true], 'an index that moved on while preparing is looked over later');
  doc.clients[0].name = 'José Ortega';
  await prepareSearch(indexOf(doc, 2), { ...quiet, settled: () => true });
  assert.deepEqual([ids(doc, 2, 'ortega'), ids(doc, 2, 'alvarez')], [['c1', 'd1', 'f1'], []]);
});

test('results that start with the query come first, then by kind, each in the order of the data, however many rows there are', () => {
  const name = (i) => (i === 5 || i === 1024 ? 'Garcia Lopez' : i === 7 ? 'X\nGarcia' : `Ana Garcia ${i}`);
  const doc = {
    ...practice(),
    clients: Array.from({ length: 1100 }, (_, i) => ({ id: `c${i}`, name: name(i), status: 'active' })),
    files: [],
    invoices: [],
    deadlines: [
      { id: 'd0', clientId: 'c0', kind: 'other', title: 'Medical', due: '2026-01-01' },
      { id: 'dG', clientId: 'nobody', kind: 'other', title: 'Garcia visit', due: '2026-01-02' },
    ],
  };
  const found = (query, limit) => find(indexOf(doc, 0), query, limit).map((r) => r.id);
  const rest = doc.clients.map((c) => c.id).filter((id) => id !== 'c5' && id !== 'c1024');
  assert.deepEqual(found('garcia', 3), ['c5', 'c1024', 'dG']);
  assert.deepEqual(found('garcia', 10), ['c5', 'c1024', 'dG', ...rest.slice(0, 7)]);
  assert.deepEqual(found('garcia', 5000), ['c5', 'c1024', 'dG', ...rest, 'd0']);
  assert.deepEqual(found('lopez garcia', 50), ['c5', 'c1024']);
  assert.deepEqual(found('garcia 1099', 50), ['c1099']);
  assert.deepEqual(found('nobody here', 50), []);
});
