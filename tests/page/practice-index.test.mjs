// The lookups after an edit: whatever the edit did, they are those a fresh read of the same data
// would make, and an edit that only changes fields beyond the keys shares those already made.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { indexOf, removeFrom, setDeadlineDone, updateDeadline, addDeadline } from '../../resources/app/js/practice-model.js';

function practice() {
  return {
    version: 2,
    clients: [{ id: 'c1', name: 'Ana' }, { id: 'c2', name: 'Ben' }, 'not a client'],
    files: [{ id: 'f1', clientId: 'c1', status: 'submitted' }, { id: 'f2', clientId: 'c2', status: 'closed' }, { clientId: 'c1' }],
    deadlines: [
      { id: 'd1', clientId: 'c1', fileId: 'f1', title: 'Biometrics', due: '2026-03-01', done: false },
      { id: 'd2', clientId: 'c2', fileId: 'f2', title: 'Medical', due: '2026-04-01', done: false },
      null,
    ],
    appointments: [{ id: 'a1', clientId: 'c1', fileId: 'f1', date: '2026-03-02' }],
    contacts: [{ id: 'k1', clientId: 'c2', summary: 'Called' }],
    entries: [{ id: 'e1', fileId: 'f1', clientId: 'c1', hours: 1 }],
    invoices: [{ id: 'i1', clientId: 'c2', fileId: 'f2', number: 'INV-1' }],
  };
}

// Every list and lookup as ids, to compare an index with a fresh one.
const ids = (value) => (Array.isArray(value) ? value.map((item) => item?.id ?? null) : value.id);
const described = (index) => Object.fromEntries(Object.entries(index).filter(([, v]) => Array.isArray(v) || v instanceof Map)
  .map(([key, v]) => [key, v instanceof Map ? [...v].map(([k, item]) => [k, ids(item)]) : ids(v)]));

const cases = [
  // [what the edit does, the edit, whether the lookups already made still serve]
  ['a field changed in place', (d) => { d.deadlines[0].title = 'Photos'; }, true],
  ['a deadline ticked off through the model', (d) => setDeadlineDone(d, 'd2', true), true],
  ['nothing changed', () => {}, true],
  ['a deadline moved to another file', (d) => updateDeadline(d, 'd1', { title: 'Biometrics', due: '2026-03-01', fileId: 'f2' }), false],
  ['a client given another id', (d) => { d.clients[0].id = 'c9'; }, false],
  ['an id taken away', (d) => { delete d.files[0].id; }, false],
  ['a record added', (d) => addDeadline(d, { title: 'New', due: '2026-05-01', fileId: 'f1' }), false],
  ['a record removed', (d) => removeFrom(d, 'deadlines', 'd1'), false],
  ['a record replaced by a copy', (d) => { d.invoices[0] = { ...d.invoices[0], number: 'INV-2' }; }, false],
  ['two records swapped', (d) => { [d.files[0], d.files[1]] = [d.files[1], d.files[0]]; }, false],
  ['a list replaced by a filtered copy', (d) => { d.entries = d.entries.filter(() => false); }, false],
  ['a list taken away', (d) => { delete d.contacts; }, false],
  ['a list that was not one', (d) => { d.appointments = 'broken'; }, false],
  ['a record that was not one becomes one in its place', (d) => { d.deadlines[2] = { id: 'd3', fileId: 'f2' }; }, false],
  ['a key added to a record without it', (d) => { d.files[2].id = 'f3'; }, false],
];

test('after every kind of edit, alone or after others, the lookups are those of a fresh read, shared only when nothing moved', () => {
  const chained = practice();
  for (const [stamp, [name, edit, shared]] of cases.entries()) {
    const doc = practice();
    const before = indexOf(doc, 1);
    before.search = ['made for the earlier data'];
    edit(doc);
    const after = indexOf(doc, 2);
    const reused = after.deadlinesByFile === before.deadlinesByFile && after.file === before.file;
    // A new stamp gives a new index, whose search text is looked at again; the same stamp gives the same index.
    const made = [after === before, after.stamp, after.search, indexOf(doc, 2) === after, reused];
    assert.deepEqual(made, [false, 2, null, true, shared], name);
    assert.deepEqual(described(after), described(indexOf(structuredClone(doc), 0)), name);

    indexOf(chained, stamp);
    edit(chained);
    assert.deepEqual(described(indexOf(chained, stamp + 1)), described(indexOf(structuredClone(chained), 0)), `${name}, after the others`);
  }
});
