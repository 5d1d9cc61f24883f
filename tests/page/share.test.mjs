import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  connectSharing, applyChanges, readChanges, conflictsIn, chooseValue, describeShare, readServerForm, typingIn, DELETED_FIELD,
  createShareStatus,
} from '../../resources/app/js/share.js';
import { bridgeHolding, openedOn } from './stand-in.mjs';

const practice = () => ({
  version: 2,
  clients: [{ id: 'c1', name: 'Ana Lima', phone: '1' }, { id: 'c2', name: 'Bo Chen' }],
  files: [], deadlines: [], appointments: [], contacts: [], entries: [], invoices: [],
  settings: { practiceName: 'Lima & Co', currency: 'CAD' },
});
const client = (id, name) => ({ collection: 'clients', id, record: name === null ? null : { id, name } });

test('each kind of change lands in the document, keeping the objects screens hold; malformed ones are counted and left out', () => {
  const doc = practice();
  const ana = doc.clients[0];
  const counts = applyChanges(doc, [
    client('c1', 'Ana Lima-Souza'), client('c2', null), client('c9', 'New'),
    { collection: 'deadlines', id: 'd1', record: { id: 'd1', title: 'Biometrics' } },
    { collection: 'settings', id: 'settings', record: { practiceName: 'Lima Law' } },
    { collection: 'settings', id: 'settings', record: null },
    { collection: 'invoices', id: 'gone', record: null },
  ]);
  assert.deepEqual([counts, doc.clients[0] === ana], [{ added: 2, changed: 2, removed: 1 }, true], 'the same object stays');
  assert.deepEqual(ana, { id: 'c1', name: 'Ana Lima-Souza' }, 'a field the other desk removed is gone');
  assert.deepEqual([doc.clients.map((c) => c.id), doc.deadlines], [['c1', 'c9'], [{ id: 'd1', title: 'Biometrics' }]]);
  assert.deepEqual(doc.settings, { practiceName: 'Lima Law' }, 'settings are replaced, never deleted');

  // The same id twice in one batch: removed, then added back, once.
  const again = applyChanges(doc, [client('n7', 'gone'), client('n7', null), client('n7', 'back'), client('c9', 'Newer')]);
  assert.deepEqual(again, { added: 2, changed: 1, removed: 1 });
  assert.deepEqual(doc.clients.map((c) => [c.id, c.name]), [['c1', 'Ana Lima-Souza'], ['c9', 'Newer'], ['n7', 'back']]);

  // Malformed changes are counted and left out.
  const changes = [
    { collection: 'clients', id: 'c1', record: { id: 'c1' } }, { collection: 'passwords', id: 'p', record: { id: 'p' } },
    { collection: 'clients', id: '', record: null }, { collection: 'clients', id: 'c1', record: { id: 'c2' } },
    { collection: 'clients', id: 'c1', record: [1] }, { collection: 'clients', id: 'c1' },
    { collection: 'settings', id: 'settings', record: { a: 1 } }, 'text',
  ];
  const cases = [[null, 0, 1], [{ changes: 'x' }, 0, 1], [{ changes: [] }, 0, 0], [{ changes }, 2, 6]];
  for (const [payload, good, refused] of cases) {
    const read = readChanges(payload);
    assert.deepEqual([read.changes.length, read.refused], [good, refused], JSON.stringify(payload));
  }
});

test('pending edits are saved first; payloads apply in order; a form in use is redrawn once let go; locked data waits', async () => {
  const bridge = bridgeHolding(practice());
  const log = bridge.saved;
  const app = await openedOn(bridge);
  const state = { typing: false, redraws: 0 };
  const redraw = () => { state.redraws += 1; };
  const hook = connectSharing({ app, target: new EventTarget(), redraw, typing: () => state.typing, log: {} });
  app.edit((doc) => { doc.clients[1].phone = '555'; });
  state.typing = true;
  const result = await hook({ changes: [client('c1', 'Ana L.')] });
  assert.deepEqual(result, { added: 0, changed: 1, removed: 0, refused: 0, waiting: 0 });
  const first = [log.length, log[0].clients[1].phone, log[0].clients[0].name];
  assert.deepEqual(first, [1, '555', 'Ana Lima'], 'the local edit reached the disk first');
  const now = [app.data.clients[0].name, app.data.clients[1].phone, app.dirty];
  assert.deepEqual(now, ['Ana L.', '555', true], 'the incoming record waits for the normal save');
  await app.saveNow();
  assert.equal(log.at(-1).clients[0].name, 'Ana L.');
  await Promise.all([hook({ changes: [client('c1', 'first')] }), hook({ changes: [client('c1', 'second')] })]);
  assert.equal(app.data.clients[0].name, 'second');

  assert.deepEqual([state.redraws, hook.redrawOwed], [0, true], 'not redrawn while typing');
  hook.settle();
  const whileTyping = state.redraws;
  state.typing = false;
  hook.settle();
  hook.settle();
  assert.deepEqual([whileTyping, state.redraws], [0, 1], 'none while typing, then one for what was owed');

  // Records that come while the data can't be edited wait for it to open.
  app.lock = { kind: 'newer', message: 'Read-only.' };
  const waiting = (await hook({ changes: [client('c1', 'later')] })).waiting;
  assert.deepEqual([waiting, hook.waiting, app.data.clients[0].name], [1, 1, 'second']);
  app.lock = null; // as when the user carries on with the data
  const flushed = (await hook.flushWaiting()).changed;
  assert.deepEqual([flushed, hook.waiting, app.data.clients[0].name], [1, 0, 'later']);
});

const withConflicts = () => {
  const doc = practice();
  const at = '2026-12-07T10:00:00Z';
  doc.clients[0].conflicts = [
    { field: 'phone', value: '2', desk: 'desk-b', at }, { field: 'email', value: null, desk: 'desk-b', at },
    { field: DELETED_FIELD, value: null, desk: 'desk-c', at }, 'junk',
  ];
  doc.clients[0].email = 'ana@example.org';
  doc.settings.conflicts = [{ field: 'currency', value: 'USD', desk: 'desk-b', at: '' }];
  return doc;
};

test('every record holding another desk\'s value is listed, and choosing a value settles that entry only', () => {
  const found = conflictsIn(withConflicts());
  assert.deepEqual(found.map((f) => [f.collection, f.id, f.entries.map((e) => e.field)]),
    [['clients', 'c1', ['phone', 'email', DELETED_FIELD]], ['settings', 'settings', ['currency']]]);
  assert.deepEqual(conflictsIn(practice()), []);

  const ana = (d) => d.clients[0];
  const untouched = (d) => ana(d).phone === '1' && ana(d).conflicts.length === 4;
  const cases = [
    ['keep this desk\'s phone', [0, 'phone', 'current'], true, (d) => ana(d).phone === '1'],
    ['take the other phone', [0, 'phone', 'other'], true, (d) => ana(d).phone === '2'],
    ['the other desk had no email', [1, 'email', 'other'], true, (d) => !('email' in ana(d))],
    ['keep a record another desk deleted', [2, DELETED_FIELD, 'current'], true, (d) => d.clients.length === 2],
    ['delete it after all', [2, DELETED_FIELD, 'other'], true, (d) => d.clients.length === 1 && ana(d).id === 'c2'],
    ['a list drawn before the entry moved', [1, 'phone', 'other'], false, untouched],
    ['an entry that is no longer there', [9, 'phone', 'other'], false, untouched],
    ['junk is never settled', [3, undefined, 'other'], false, untouched],
  ];
  for (const [name, [index, field, keep], ok, check] of cases) {
    const doc = withConflicts();
    assert.equal(chooseValue(doc, { collection: 'clients', id: 'c1', index, field, keep }), ok, name);
    assert.ok(check(doc), name);
    const others = withConflicts().clients[0].conflicts.filter((e, at) => at !== index);
    if (ok && ana(doc).id === 'c1') assert.deepEqual(ana(doc).conflicts, others, `${name}: only that entry is gone`);
  }
  const doc = withConflicts();
  assert.equal(chooseValue(doc, { collection: 'settings', id: 'settings', index: 0, field: 'currency', keep: 'other' }), true);
  assert.deepEqual(doc.settings, { practiceName: 'Lima & Co', currency: 'USD' }, 'the last entry settled takes the field away');
});

test('the connection reads as the user needs it', () => {
  const since = Date.UTC(2026, 11, 7, 9, 30);
  const cases = [
    [null, '', /desk only/], [{ enabled: false, state: 'connected' }, '', /desk only/],
    [{ enabled: true, state: 'off' }, '', /desk only/], [{ enabled: true, state: 'weird' }, '', /desk only/],
    [{ enabled: true, state: 'connected' }, 'Shared', /^Connected: .*saved\.$/],
    [{ enabled: true, state: 'connected', pending: 1 }, 'Shared', /1 change still to send\.$/],
    [{ enabled: true, state: 'catching-up', pending: 3 }, 'Catching up…', /catching up.*3 changes still/],
    [{ enabled: true, state: 'connecting', lastError: 'Refused for ana' }, 'Connecting…', /Last problem: Refused for ana\.$/],
    [{ enabled: true, state: 'offline', since, lastError: 'No answer.' }, 'Offline', /^Offline since .*2026.*Last problem: No answer\.$/],
    [{ enabled: true, state: 'offline', since: 'yesterday' }, 'Offline', /^Offline\. /],
  ];
  for (const [status, short, long] of cases) {
    const words = describeShare(status, { locale: 'en-CA' });
    assert.ok(words.short === short && long.test(words.long), `${JSON.stringify(status)}: ${words.short}; ${words.long}`);
  }
});

test('an answer asked for before news of the connection arrived leaves the news standing', async () => {
  const status = createShareStatus();
  const heard = [];
  status.on((s) => heard.push(s.state));
  let answer;
  const asked = status.ask(() => new Promise((resolve) => { answer = resolve; }));
  status.set({ enabled: true, state: 'connected' });
  answer({ enabled: true, state: 'catching-up' });
  assert.equal((await asked).state, 'connected');
  assert.equal((await status.ask(async () => ({ enabled: true, state: 'offline' }))).state, 'offline', 'with no news meanwhile the answer stands');
  assert.deepEqual(heard, ['connected', 'offline']);
});

test('the server form\'s fields are checked and cleaned; the password passes through as typed', () => {
  const good = { host: ' db.lima.law ', port: '', database: ' practice ', user: 'ana', password: ' s3cret ' };
  assert.deepEqual(readServerForm(good).server, { host: 'db.lima.law', port: 5432, database: 'practice', user: 'ana', password: ' s3cret ' });
  const hosts = [{ ...good, host: '[::1]', port: '6543' }, { ...good, host: '192.168.1.20' }].map((f) => readServerForm(f).server.host);
  assert.deepEqual(hosts, ['::1', '192.168.1.20']);
  const wrong = [
    [{ host: '' }, ['host']], [{ host: 'postgres://db' }, ['host']], [{ host: 'db example' }, ['host']], [{ port: '0' }, ['port']],
    [{ port: '70000' }, ['port']], [{ port: '54a' }, ['port']], [{ database: ' ', user: '' }, ['database', 'user']],
  ];
  for (const [change, fields] of wrong) {
    const read = readServerForm({ ...good, ...change });
    assert.deepEqual([read.server, Object.keys(read.errors)], [undefined, fields], JSON.stringify(change));
  }
});

test('fields and buttons of a form or dialog count as the user being busy, the rest of the screen not', () => {
  // A stand-in document: the focused element and the nearest form or dialog around it.
  const page = ({ tag = 'body', inside = null, editable = false, dialogOpen = false }) => ({
    querySelector: (selector) => (selector === 'dialog[open]' && dialogOpen ? {} : null),
    activeElement: tag === null ? null : {
      matches: (selector) => editable && selector.includes('contenteditable'),
      closest: (selector) => (inside && selector.split(',').map((x) => x.trim()).includes(inside) ? {} : null),
    },
  });
  const cases = [
    [{ tag: 'input', inside: 'form' }, true], [{ tag: 'button', inside: 'form' }, true], [{ tag: 'textarea', inside: 'dialog' }, true],
    [{ tag: 'div', editable: true }, true], [{ dialogOpen: true }, true], [{ tag: 'a' }, false], [{}, false], [{ tag: null }, false],
  ];
  for (const [where, busy] of cases) assert.equal(typingIn(page(where)), busy, JSON.stringify(where));
  assert.equal(typingIn(null), false);
});
