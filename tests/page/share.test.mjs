// Sharing the practice: records from other desks going into the document, values two desks
// changed, the connection in words and the server form.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createApp } from '../../resources/app/js/store.js';
import {
  connectSharing, applyChanges, readChanges, conflictsIn, chooseValue, describeShare, readServerForm, typingIn, DELETED_FIELD,
} from '../../resources/app/js/share.js';

function manualTimers() {
  const pending = new Map();
  let next = 1;
  return {
    setTimeout(fn) { const id = next++; pending.set(id, fn); return id; },
    clearTimeout(id) { pending.delete(id); },
  };
}

const practice = () => ({
  version: 2,
  clients: [{ id: 'c1', name: 'Ana Lima', phone: '1' }, { id: 'c2', name: 'Bo Chen' }],
  files: [], deadlines: [], appointments: [], contacts: [], entries: [], invoices: [],
  settings: { practiceName: 'Lima & Co', currency: 'CAD' },
});

// An app on a stand-in bridge whose log shows the order of saves and incoming edits.
async function setup({ loaded = practice(), saveAnswer = true } = {}) {
  const log = [];
  const bridge = {
    load: async () => structuredClone(loaded),
    dataStatus: async () => ({ dataFile: 'whole', loadedFrom: 'data.json' }),
    listSnapshots: async () => [],
    save: async (doc) => { log.push(['save', structuredClone(doc)]); return saveAnswer; },
  };
  const app = createApp({ bridge, timers: manualTimers() });
  await app.reload();
  const target = new EventTarget();
  const state = { typing: false, redraws: 0, statuses: [] };
  const hook = connectSharing({
    app, target,
    redraw: () => { state.redraws += 1; },
    typing: () => state.typing,
    onState: (status) => state.statuses.push(status),
    log: { warn: () => {}, error: () => {} },
  });
  return { app, hook, log, state, target };
}

describe('records from other desks', () => {
  test('each kind of change lands in the document, keeping the objects screens hold', () => {
    const doc = practice();
    const ana = doc.clients[0];
    const counts = applyChanges(doc, [
      { collection: 'clients', id: 'c1', record: { id: 'c1', name: 'Ana Lima-Souza' } },
      { collection: 'clients', id: 'c2', record: null },
      { collection: 'clients', id: 'c9', record: { id: 'c9', name: 'New' } },
      { collection: 'deadlines', id: 'd1', record: { id: 'd1', title: 'Biometrics', due: '2026-12-20' } },
      { collection: 'settings', id: 'settings', record: { practiceName: 'Lima Law' } },
      { collection: 'settings', id: 'settings', record: null },
      { collection: 'invoices', id: 'gone', record: null },
    ]);
    assert.deepEqual(counts, { added: 2, changed: 2, removed: 1 });
    assert.equal(doc.clients[0], ana, 'the same object, so an open screen still points at it');
    assert.deepEqual(ana, { id: 'c1', name: 'Ana Lima-Souza' }, 'a field the other desk removed is gone');
    assert.deepEqual(doc.clients.map((c) => c.id), ['c1', 'c9']);
    assert.deepEqual(doc.deadlines, [{ id: 'd1', title: 'Biometrics', due: '2026-12-20' }]);
    assert.deepEqual(doc.settings, { practiceName: 'Lima Law' }, 'settings are replaced, never deleted');
  });

  test('malformed changes are counted and left out', () => {
    const cases = [
      [null, 0, 1],
      [{ changes: 'x' }, 0, 1],
      [{ changes: [] }, 0, 0],
      [{ changes: [
        { collection: 'clients', id: 'c1', record: { id: 'c1' } },
        { collection: 'passwords', id: 'p', record: { id: 'p' } },
        { collection: 'clients', id: '', record: null },
        { collection: 'clients', id: 'c1', record: { id: 'c2' } },
        { collection: 'clients', id: 'c1', record: [1] },
        { collection: 'clients', id: 'c1' },
        { collection: 'settings', id: 'settings', record: { a: 1 } },
        'text',
      ] }, 2, 6],
    ];
    for (const [payload, good, refused] of cases) {
      const read = readChanges(payload);
      assert.equal(read.changes.length, good, JSON.stringify(payload));
      assert.equal(read.refused, refused, JSON.stringify(payload));
    }
  });

  test('pending edits are saved before incoming records are applied, and both end up saved', async () => {
    const { app, hook, log, state } = await setup();
    app.edit((doc) => { doc.clients[1].phone = '555'; });
    const result = await hook({ changes: [{ collection: 'clients', id: 'c1', record: { id: 'c1', name: 'Ana L.' } }] });
    assert.deepEqual(result, { added: 0, changed: 1, removed: 0, refused: 0, waiting: 0 });
    assert.equal(log.length, 1);
    assert.equal(log[0][1].clients[1].phone, '555', 'the local edit reached the disk first');
    assert.equal(log[0][1].clients[0].name, 'Ana Lima', 'before the incoming record was applied');
    assert.equal(app.data.clients[0].name, 'Ana L.');
    assert.equal(app.data.clients[1].phone, '555');
    assert.ok(app.dirty, 'the incoming record waits for the normal save');
    await app.saveNow();
    assert.equal(log.at(-1)[1].clients[0].name, 'Ana L.');
    assert.equal(state.redraws, 1);
  });

  test('payloads apply one after another in the order they came', async () => {
    const { app, hook } = await setup();
    const first = hook({ changes: [{ collection: 'clients', id: 'c1', record: { id: 'c1', name: 'first' } }] });
    const second = hook({ changes: [{ collection: 'clients', id: 'c1', record: { id: 'c1', name: 'second' } }] });
    await Promise.all([first, second]);
    assert.equal(app.data.clients[0].name, 'second');
  });

  test('a form being filled in is not redrawn until it is let go', async () => {
    const { hook, state } = await setup();
    state.typing = true;
    await hook({ changes: [{ collection: 'clients', id: 'c2', record: null }] });
    assert.equal(state.redraws, 0);
    assert.equal(hook.redrawOwed, true);
    hook.settle();
    assert.equal(state.redraws, 0, 'still typing');
    state.typing = false;
    hook.settle();
    assert.equal(state.redraws, 1);
    hook.settle();
    assert.equal(state.redraws, 1, 'one redraw for what was owed');
  });

  test('records that come while the data is locked wait for it to open', async () => {
    const { app, hook } = await setup({ loaded: { ...practice(), version: 99 } });
    assert.ok(!app.editable);
    const result = await hook({ changes: [{ collection: 'clients', id: 'c1', record: { id: 'c1', name: 'later' } }] });
    assert.equal(result.waiting, 1);
    assert.equal(hook.waiting, 1);
    assert.equal(app.data.clients[0].name, 'Ana Lima');
    app.lock = null; // as when the user carries on with the data
    const later = await hook.flushWaiting();
    assert.equal(later.changed, 1);
    assert.equal(app.data.clients[0].name, 'later');
    assert.equal(hook.waiting, 0);
  });
});

describe('values two desks changed', () => {
  const withConflicts = () => {
    const doc = practice();
    doc.clients[0].conflicts = [
      { field: 'phone', value: '2', desk: 'desk-b', at: '2026-12-07T10:00:00Z' },
      { field: 'email', value: null, desk: 'desk-b', at: '2026-12-07T10:00:00Z' },
      { field: DELETED_FIELD, value: null, desk: 'desk-c', at: '2026-12-07T11:00:00Z' },
      'junk',
    ];
    doc.clients[0].email = 'ana@example.org';
    doc.settings.conflicts = [{ field: 'currency', value: 'USD', desk: 'desk-b', at: '' }];
    return doc;
  };

  test('every record holding another desk\'s value is listed with its entries', () => {
    const found = conflictsIn(withConflicts());
    assert.deepEqual(found.map((f) => [f.collection, f.id, f.entries.map((e) => e.field)]),
      [['clients', 'c1', ['phone', 'email', DELETED_FIELD]], ['settings', 'settings', ['currency']]]);
    assert.deepEqual(conflictsIn(practice()), []);
  });

  test('choosing a value settles that entry only', () => {
    const cases = [
      { name: 'keep this desk\'s phone', pick: { index: 0, field: 'phone', keep: 'current' }, ok: true, check: (d) => d.clients[0].phone === '1' },
      { name: 'take the other phone', pick: { index: 0, field: 'phone', keep: 'other' }, ok: true, check: (d) => d.clients[0].phone === '2' },
      { name: 'the other desk had no email', pick: { index: 1, field: 'email', keep: 'other' }, ok: true, check: (d) => !('email' in d.clients[0]) },
      { name: 'keep a record another desk deleted', pick: { index: 2, field: DELETED_FIELD, keep: 'current' }, ok: true, check: (d) => d.clients.length === 2 },
      { name: 'delete it after all', pick: { index: 2, field: DELETED_FIELD, keep: 'other' }, ok: true, check: (d) => d.clients.length === 1 && d.clients[0].id === 'c2' },
      { name: 'a list drawn before the entry moved', pick: { index: 1, field: 'phone', keep: 'other' }, ok: false, check: (d) => d.clients[0].phone === '1' && d.clients[0].conflicts.length === 4 },
      { name: 'an entry that is no longer there', pick: { index: 9, field: 'phone', keep: 'other' }, ok: false, check: (d) => d.clients[0].conflicts.length === 4 },
      { name: 'junk is never settled', pick: { index: 3, field: undefined, keep: 'other' }, ok: false, check: (d) => d.clients[0].conflicts.length === 4 },
      { name: 'the last entry settled takes the conflicts field away', pick: { collection: 'settings', id: 'settings', index: 0, field: 'currency', keep: 'other' },
        ok: true, check: (d) => JSON.stringify(d.settings) === '{"practiceName":"Lima & Co","currency":"USD"}' },
    ];
    for (const { name, pick, ok, check } of cases) {
      const doc = withConflicts();
      assert.equal(chooseValue(doc, { collection: 'clients', id: 'c1', ...pick }), ok, name);
      assert.ok(check(doc), name);
      if (ok && !pick.collection && doc.clients[0].id === 'c1') {
        assert.equal(doc.clients[0].conflicts.length, 3, `${name}: the entry is gone`);
        assert.ok(!doc.clients[0].conflicts.some((e) => e?.field === pick.field), name);
      }
    }
  });
});

describe('the connection in words', () => {
  test('each state reads as the user needs it', () => {
    const since = Date.UTC(2026, 11, 7, 9, 30);
    const cases = [
      [null, '', /kept on this desk only/],
      [{ enabled: false, state: 'connected' }, '', /kept on this desk only/],
      [{ enabled: true, state: 'off' }, '', /kept on this desk only/],
      [{ enabled: true, state: 'weird' }, '', /kept on this desk only/],
      [{ enabled: true, state: 'connected' }, 'Shared', /^Connected: changes reach/],
      [{ enabled: true, state: 'connected', pending: 1 }, 'Shared', /1 change still to send\.$/],
      [{ enabled: true, state: 'catching-up', pending: 3 }, 'Catching up…', /catching up.*3 changes still to send/],
      [{ enabled: true, state: 'connecting', lastError: 'The server refused the password for user ana' }, 'Connecting…', /Last problem: The server refused the password for user ana\.$/],
      [{ enabled: true, state: 'offline', since, lastError: 'No PostgreSQL server answers at db:5432.' }, 'Offline', /^Offline since .*2026.*kept.*Last problem: No PostgreSQL server answers at db:5432\.$/],
      [{ enabled: true, state: 'offline', since: 'yesterday' }, 'Offline', /^Offline\. Changes made here are kept/],
    ];
    for (const [status, short, long] of cases) {
      const words = describeShare(status, { locale: 'en-CA' });
      assert.equal(words.short, short, JSON.stringify(status));
      assert.match(words.long, long, JSON.stringify(status));
    }
  });
});

describe('the server form', () => {
  test('fields are checked and cleaned; the password passes through as typed', () => {
    const good = { host: ' db.lima.law ', port: '', database: ' practice ', user: 'ana', password: ' s3cret ' };
    assert.deepEqual(readServerForm(good).server, { host: 'db.lima.law', port: 5432, database: 'practice', user: 'ana', password: ' s3cret ' });
    assert.equal(readServerForm({ ...good, host: '[::1]', port: '6543' }).server.host, '::1');
    assert.equal(readServerForm({ ...good, host: '192.168.1.20' }).server.host, '192.168.1.20');
    const wrong = [
      [{ host: '' }, ['host']],
      [{ host: 'postgres://db' }, ['host']],
      [{ host: 'db example' }, ['host']],
      [{ port: '0' }, ['port']],
      [{ port: '70000' }, ['port']],
      [{ port: '54a' }, ['port']],
      [{ database: ' ', user: '' }, ['database', 'user']],
    ];
    for (const [change, fields] of wrong) {
      const read = readServerForm({ ...good, ...change });
      assert.equal(read.server, undefined, JSON.stringify(change));
      assert.deepEqual(Object.keys(read.errors), fields, JSON.stringify(change));
    }
  });
});

describe('a desk joining a large practice', () => {
  test('thousands of records apply in one pass, twice over the same ids', () => {
    const doc = practice();
    const changes = Array.from({ length: 5000 }, (_, i) => ({ collection: 'clients', id: `n${i}`, record: { id: `n${i}`, name: `Client ${i}` } }));
    const started = performance.now();
    assert.deepEqual(applyChanges(doc, changes), { added: 5000, changed: 0, removed: 0 });
    assert.deepEqual(applyChanges(doc, [...changes, { collection: 'clients', id: 'n7', record: null }, { collection: 'clients', id: 'n7', record: { id: 'n7', name: 'back' } }]),
      { added: 1, changed: 5000, removed: 1 });
    assert.ok(performance.now() - started < 2000);
    assert.equal(doc.clients.length, 5002);
    assert.equal(doc.clients.filter((c) => c.id === 'n7').length, 1);
    assert.equal(doc.clients.at(-1).name, 'back');
  });
});

describe('whether the user is busy in a form', () => {
  // A stand-in document: the focused element's tag and the nearest form or dialog around it.
  const page = ({ tag = 'body', inside = null, editable = false, dialogOpen = false }) => ({
    querySelector: (selector) => (selector === 'dialog[open]' && dialogOpen ? {} : null),
    activeElement: tag === null ? null : {
      matches: (selector) => editable && selector.includes('contenteditable'),
      closest: (selector) => (inside && selector.split(',').map((x) => x.trim()).includes(inside) ? {} : null),
    },
  });
  test('fields and buttons of a form or dialog count, the rest of the screen does not', () => {
    const cases = [
      [{ tag: 'input', inside: 'form' }, true],
      [{ tag: 'button', inside: 'form' }, true, 'a Save button being pressed'],
      [{ tag: 'textarea', inside: 'dialog' }, true],
      [{ tag: 'div', editable: true }, true],
      [{ tag: 'body', dialogOpen: true }, true],
      [{ tag: 'a' }, false],
      [{ tag: 'body' }, false],
      [{ tag: null }, false],
    ];
    for (const [where, busy, why] of cases) assert.equal(typingIn(page(where)), busy, why ?? JSON.stringify(where));
    assert.equal(typingIn(null), false);
  });
});
