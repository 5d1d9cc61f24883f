import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  cleanInput, validateClient, addClient, updateClient, removeClient, findClient,
  clientsOf, filterClients, sortByName, countByStatus, newestClients, newId, documentsFolder, heldFolders,
} from '../../resources/app/js/clients-model.js';

const doc = (clients) => ({ version: 1, clients });
const client = (fields) => ({ id: newId(), name: '', email: '', phone: '', fileNumber: '', status: '', notes: '', ...fields });

test('the form is trimmed and checked: a name, an email that looks like one, a file number used only once', () => {
  const input = cleanInput({ name: '  Ana Souza ', email: ' ana @ex.com ', phone: ' 555 ', notes: '\nline one\nline two \n', extra: 'x' });
  assert.deepEqual(input, { name: 'Ana Souza', email: 'ana@ex.com', phone: '555', fileNumber: '', status: '', notes: 'line one\nline two' });
  const check = (fields, data = doc([]), id) => validateClient(cleanInput(fields), data, id);
  assert.deepEqual(Object.keys(check({ name: '' })), ['name']);
  for (const email of ['ana', 'ana@', '@ex.com', 'ana@ex']) assert.ok(check({ name: 'Ana', email }).email, email);
  assert.deepEqual(check({ name: 'Ana', email: 'ana.s+case@mail.example.ca' }), {});

  const existing = client({ name: 'Lê Văn', fileNumber: 'QP-2024-001' });
  const data = doc([existing]);
  assert.match(check({ name: 'Other', fileNumber: ' qp-2024-001 ' }, data).fileNumber, /Lê Văn/, 'ignoring case and spaces');
  assert.deepEqual(check({ name: 'Lê Văn', fileNumber: 'QP-2024-001' }, data, existing.id), {}, 'the client edited keeps its number');
  assert.deepEqual(check({ name: 'Other', fileNumber: 'QP-2024-002' }, data), {});
});

test('added clients get distinct ids and times; an update changes the form fields only; removing takes only that client', () => {
  const data = { version: 1 };
  const a = addClient(data, { name: 'A' }, new Date('2024-05-01T10:00:00Z'));
  const b = addClient(data, { name: 'B' });
  assert.deepEqual([a.id === b.id, a.createdAt, a.updatedAt], [false, '2024-05-01T10:00:00.000Z', '2024-05-01T10:00:00.000Z']);
  a.documents = ['passport.pdf'];
  const before = structuredClone(a);
  const updated = updateClient(data, a.id, { name: ' New ', status: 'active' }, new Date('2024-06-01T00:00:00Z'));
  const expected = { ...before, name: 'New', status: 'active', updatedAt: '2024-06-01T00:00:00.000Z' };
  assert.deepEqual([updated, updateClient(data, 'missing', { name: 'X' })], [expected, null]);

  data.clients.splice(1, 0, 'stray text', null);
  assert.deepEqual([removeClient(data, b.id), removeClient(data, b.id)], [b, null]);
  assert.deepEqual(data.clients, [a, 'stray text', null], 'odd entries are left alone');
  assert.deepEqual([clientsOf(data), findClient(data, a.id)], [[a], a]);
});

test('ids are version 4 uuids, also where randomUUID is missing', (t) => {
  const pattern = /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/;
  const real = globalThis.crypto;
  Object.defineProperty(globalThis, 'crypto', { value: { getRandomValues: (a) => real.getRandomValues(a) }, configurable: true });
  t.after(() => Object.defineProperty(globalThis, 'crypto', { value: real, configurable: true }));
  const ids = new Set(Array.from({ length: 50 }, () => newId()));
  assert.equal(ids.size, 50);
  for (const id of ids) assert.match(id, pattern);
});

const people = [
  client({ name: 'José Martínez', email: 'jose@example.com', phone: '(647) 555-0199', fileNumber: 'QP-27', status: 'submitted' }),
  client({ name: 'Amira Haddad', phone: '+1 416 555 0134', fileNumber: 'QP-31', status: 'active', notes: 'Spousal sponsorship' }),
  client({ name: 'Ángel Ortiz', status: 'closed' }),
];
const names = (list) => list.map((c) => c.name);

test('clients are found ignoring case and accents, every word has to match, phone numbers match however written', () => {
  const cases = [
    ['   ', ['José Martínez', 'Amira Haddad', 'Ángel Ortiz']], ['JOSE', ['José Martínez']], ['martínez jose', ['José Martínez']],
    ['jose amira', []], ['spousal', ['Amira Haddad']], ['qp-31', ['Amira Haddad']], ['submitted', ['José Martínez']],
    ['6475550199', ['José Martínez']], ['416-555', ['Amira Haddad']], ['(416)', ['Amira Haddad']],
    ['4-1', []], // two digits are too few to look for
  ];
  for (const [query, expected] of cases) assert.deepEqual(names(filterClients(people, query)), expected, query);
});

test('names sort with accented letters in place; counts per status include clients without one', () => {
  assert.deepEqual(names(sortByName(people, 'en')), ['Amira Haddad', 'Ángel Ortiz', 'José Martínez']);
  const counts = countByStatus([...people, client({ name: 'X' }), client({ name: 'Y', status: 'active' })]);
  assert.deepEqual(['active', '', 'closed'].map((s) => counts.get(s)), [2, 1, 1]);
});

// The desktop program's folders: the name's folder is adopted when it exists and is not held,
// otherwise the first free of name, "name (2)", ... is made.
const desktop = (existing = []) => {
  const folders = new Set(existing);
  const calls = [];
  const claimClientFolder = async (name, held, create) => {
    calls.push({ held, create });
    if (folders.has(name) && !held.includes(name)) return name;
    if (!create) return null;
    const nth = (n) => (n === 1 ? name : `${name} (${n})`);
    let n = 1;
    while (folders.has(nth(n)) || held.includes(nth(n))) n += 1;
    folders.add(nth(n));
    return nth(n);
  };
  return { folders, calls, claimClientFolder };
};
const practice = (clients, editable = true) => ({
  data: doc(clients), editable, edits: 0,
  edit(change) {
    if (!this.editable) throw new Error('This copy is read-only.');
    this.edits += 1;
    return change(this.data);
  },
});

test('the newest clients come first, ties in the order listed, and clients without a readable date are left out', () => {
  const at = (day) => (day === null ? undefined : `2026-12-0${day}T10:00:00Z`);
  const clients = [3, 1, null, 5, 3, 2, 'x', 4, 5].map((day, i) => ({ id: `c${i}`, createdAt: day === 'x' ? 'soon' : at(day) }));
  assert.deepEqual(newestClients(clients, 5).map((c) => c.id), ['c3', 'c8', 'c7', 'c0', 'c4']);
  assert.deepEqual(newestClients(clients, 1).map((c) => c.id), ['c3']);
  assert.deepEqual(newestClients(clients.slice(0, 3), 5).map((c) => c.id), ['c0', 'c1']);
});

test('a folder is adopted or made once per client, one claim at a time, none while read-only; failures are told', async () => {
  const [one, two, cara] = [client({ name: 'Bea' }), client({ name: 'Bea' }), client({ name: 'Cara' })];
  const app = practice([one, two, cara]);
  const bridge = desktop(['Bea', 'Cara']);
  app.editable = false;
  assert.deepEqual([await documentsFolder(app, bridge, cara.id), await documentsFolder(app, bridge, one.id)], ['Cara', 'Bea']);
  assert.deepEqual([bridge.calls.map((c) => c.create), app.edits, 'docFolder' in cara], [[false, false], 0, false], 'read-only');
  app.editable = true;
  const folders = await Promise.all([documentsFolder(app, bridge, one.id), documentsFolder(app, bridge, two.id)]);
  assert.deepEqual([folders, one.docFolder, two.docFolder], [['Bea', 'Bea (2)'], 'Bea', 'Bea (2)']);
  // Renamed, a client keeps the folder without a new claim; a newcomer of the old name gets none of theirs.
  updateClient(app.data, one.id, { ...one, name: 'Bea Lima' });
  assert.deepEqual([await documentsFolder(app, bridge, one.id), bridge.calls.length], ['Bea', 4]);
  assert.equal(await documentsFolder(app, bridge, addClient(app.data, { name: 'Bea' }).id), 'Bea (3)');
  assert.deepEqual(bridge.calls[4].held.sort(), folders);

  const failing = { claimClientFolder: async () => { throw new Error('Couldn\'t create the folder.'); } };
  await assert.rejects(documentsFolder(app, failing, cara.id), /Couldn't create the folder/);
  await assert.rejects(documentsFolder(app, bridge, 'no-such-id'), /no longer in your data/);
  // Removed before its turn came: nothing is claimed for it.
  const eve = addClient(app.data, { name: 'Eve' });
  const claim = documentsFolder(app, bridge, eve.id);
  removeClient(app.data, eve.id);
  await assert.rejects(claim, /no longer in your data/);
  assert.equal(bridge.folders.has('Eve'), false);
  const fay = addClient(app.data, { name: 'Fay' });
  assert.deepEqual([await documentsFolder(app, bridge, fay.id), fay.docFolder, heldFolders(app.data, fay.id).sort()],
    ['Fay', 'Fay', ['Bea', 'Bea (2)', 'Bea (3)']], 'a failed claim holds up none after it');
});
