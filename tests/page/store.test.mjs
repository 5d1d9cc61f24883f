// The document model: loading, locking, debounced and serial saving.
// Run with: node --test tests/page/
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createApp, checkDocument, freshDocument } from '../../resources/app/js/store.js';

// Timers that only fire when the test says so.
function manualTimers() {
  let next = 1;
  const pending = new Map();
  return {
    setTimeout(fn) { const id = next++; pending.set(id, fn); return id; },
    clearTimeout(id) { pending.delete(id); },
    get count() { return pending.size; },
    fire() {
      const due = [...pending.values()];
      pending.clear();
      due.forEach((fn) => fn());
    },
  };
}

function deferred() {
  let resolve;
  let reject;
  const promise = new Promise((res, rej) => { resolve = res; reject = rej; });
  return { promise, resolve, reject };
}

// A stand-in for window.quillpost that records what it was asked to save.
function fakeBridge({ loaded = null, loadError = null, saveAnswers = [], snapshots = [], status = { dataFile: 'whole', loadedFrom: 'data.json', loadedAt: '' } } = {}) {
  const saved = [];
  return {
    saved,
    listSnapshots: () => Promise.resolve(snapshots),
    recoveryCopy: () => Promise.resolve(null),
    dataStatus: () => Promise.resolve(status),
    load: () => (loadError ? Promise.reject(loadError) : Promise.resolve(structuredClone(loaded))),
    save(doc) {
      saved.push(structuredClone(doc));
      const answer = saveAnswers.length ? saveAnswers.shift() : true;
      if (answer instanceof Error) return Promise.reject(answer);
      if (answer && typeof answer.then === 'function') return answer;
      return Promise.resolve(answer);
    },
  };
}

function setup(options = {}) {
  const bridge = 'bridge' in options ? options.bridge : fakeBridge(options);
  const timers = manualTimers();
  const notes = [];
  const app = createApp({ bridge, timers, notify: (n) => notes.push(n) });
  return { app, bridge, timers, notes };
}

const flush = () => new Promise((resolve) => setImmediate(resolve));

describe('loading', () => {
  test('no readable data file while earlier copies exist opens read-only and saves nothing', async () => {
    const { app, bridge, timers } = setup({ loaded: null, snapshots: ['data-2024-05-01.json'] });
    await app.reload();
    assert.equal(app.lock?.kind, 'unreadable');
    assert.equal(app.editable, false);
    await assert.rejects(app.saveNow());
    timers.fire();
    assert.equal(bridge.saved.length, 0);
  });

  test('a data file that did not open is mentioned before anything is saved, and the user chooses how to go on', async () => {
    const older = { version: 1, clients: [{ id: 'a', name: 'From the older copy' }] };
    const cases = [
      // The .bak copy stands in for a damaged or missing data file.
      { loaded: older, status: { dataFile: 'unreadable', loadedFrom: 'data.json.bak', loadedAt: '2026-01-02T03:04:05Z' }, kind: 'older-copy', shown: older },
      { loaded: older, status: { dataFile: 'missing', loadedFrom: 'data.json.bak', loadedAt: '' }, kind: 'older-copy', shown: older },
      // Nothing opens at all, and there are no copies: still not an empty practice without asking.
      { loaded: null, status: { dataFile: 'unreadable', loadedFrom: '', loadedAt: '' }, kind: 'unreadable', shown: freshDocument() },
    ];
    for (const { loaded, status, kind, shown } of cases) {
      const { app, bridge, timers } = setup({ loaded, status });
      await app.reload();
      assert.equal(app.lock?.kind, kind, JSON.stringify(status));
      assert.equal(app.editable, false);
      assert.throws(() => app.edit((doc) => { doc.clients = []; }));
      await assert.rejects(app.saveNow());
      timers.fire();
      await flush();
      assert.equal(bridge.saved.length, 0);

      assert.equal(app.carryOn(), true);
      assert.equal(app.lock, null);
      assert.deepEqual(app.data, checkDocument(structuredClone(shown)).doc);
      app.edit((doc) => doc.clients.push({ id: 'n', name: 'New' }));
      await app.saveNow();
      assert.equal(bridge.saved.length, 1);
    }
  });

  test('an emptied data file with its older copy shown, or a whole one, needs no question', async () => {
    for (const status of [{ dataFile: 'empty', loadedFrom: 'data.json.bak' }, { dataFile: 'whole', loadedFrom: 'data.json' }, {}]) {
      const { app } = setup({ loaded: { version: 1, clients: [] }, status });
      await app.reload();
      assert.equal(app.lock, null, JSON.stringify(status));
      assert.equal(app.carryOn(), false);
    }
  });

  test('no saved data gives an empty, editable document and saves nothing', async () => {
    const { app, bridge } = setup({ loaded: null });
    await app.reload();
    assert.deepEqual(app.data, freshDocument());
    assert.equal(app.data.version, 2);
    assert.equal(app.editable, true);
    assert.equal(bridge.saved.length, 0);
  });

  test('top-level keys this version does not know survive a save', async () => {
    const { app, bridge } = setup({ loaded: { version: 1, clients: [{ id: 'a', name: 'A' }], deadlines: [{ due: 'x' }], prefs: { z: 1 } } });
    await app.reload();
    app.edit((doc) => { doc.clients[0].name = 'B'; });
    await app.saveNow();
    const saved = bridge.saved.at(-1);
    assert.deepEqual(saved.clients, [{ id: 'a', name: 'B' }]);
    assert.deepEqual(saved.prefs, { z: 1 });
    assert.equal(saved.deadlines.length, 1);
    assert.equal(saved.deadlines[0].due, 'x');
  });

  test('clients without an id get one, and existing ids are kept', async () => {
    const { app } = setup({ loaded: { version: 1, clients: [{ name: 'No id' }, { id: 'keep', name: 'Has id' }] } });
    await app.reload();
    assert.match(app.data.clients[0].id, /^[0-9a-f-]{36}$/);
    assert.equal(app.data.clients[1].id, 'keep');
  });

  test('documents that must not be written over are locked', () => {
    const cases = [
      [{ enc: true, payload: 'abc' }, 'encrypted'],
      [{ version: 3, clients: [] }, 'newer'],
      [{ version: 1, clients: [], files: 'x' }, 'unreadable'],
      [{ version: 1, clients: [], settings: [] }, 'unreadable'],
      [{ version: 1, clients: { a: 1 } }, 'unreadable'],
      [[1, 2, 3], 'unreadable'],
      ['text', 'unreadable'],
    ];
    for (const [loaded, kind] of cases) {
      assert.equal(checkDocument(loaded).lock?.kind, kind, JSON.stringify(loaded));
    }
    assert.equal(checkDocument({ clients: [] }).lock, null);
    assert.equal(checkDocument({ enc: false, clients: [] }).lock, null);
  });

  test('an encrypted document stays as loaded and is never saved', async () => {
    const encrypted = { enc: true, v: 1, data: 'QUJD' };
    const { app, bridge, notes, timers } = setup({ loaded: encrypted });
    await app.reload();
    assert.deepEqual(app.data, encrypted);
    assert.equal(app.editable, false);
    assert.equal(app.lock.kind, 'encrypted');
    assert.throws(() => app.edit((doc) => { doc.clients = []; }), /encrypted/i);
    await assert.rejects(app.saveNow(), /Nothing was saved/);
    timers.fire();
    await flush();
    assert.equal(bridge.saved.length, 0);
    assert.equal(notes.length, 1);
    assert.equal(notes[0].kind, 'error');
  });

  test('a failed load locks the page and passes the reason on', async () => {
    const { app, bridge } = setup({ loadError: new Error('The data file is unreadable.') });
    await app.reload();
    assert.equal(app.lock.kind, 'load-failed');
    assert.match(app.lock.message, /The data file is unreadable\./);
    await assert.rejects(app.saveNow());
    assert.equal(bridge.saved.length, 0);
  });
});

describe('saving', () => {
  test('edits in quick succession are saved once, after the pause', async () => {
    const { app, bridge, timers } = setup();
    await app.reload();
    app.edit((doc) => doc.clients.push({ id: '1', name: 'One' }));
    app.edit((doc) => doc.clients.push({ id: '2', name: 'Two' }));
    assert.equal(app.saveState, 'pending');
    assert.equal(timers.count, 1);
    assert.equal(bridge.saved.length, 0);
    timers.fire();
    await flush();
    assert.equal(bridge.saved.length, 1);
    assert.equal(bridge.saved[0].clients.length, 2);
    assert.equal(app.saveState, 'saved');
    assert.equal(app.dirty, false);
  });

  test('saveNow saves at once and cancels the waiting save', async () => {
    const { app, bridge, timers } = setup();
    await app.reload();
    app.edit((doc) => doc.clients.push({ id: '1', name: 'One' }));
    assert.equal(await app.saveNow(), true);
    assert.equal(timers.count, 0);
    assert.equal(bridge.saved.length, 1);
  });

  test('a refused save is shown with its own message and the edits stay unsaved', async () => {
    const reason = "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.";
    const { app, bridge, notes } = setup({ saveAnswers: [new Error(reason), true] });
    await app.reload();
    app.edit((doc) => doc.clients.push({ id: '1', name: 'One' }));
    await assert.rejects(app.saveNow(), { message: reason });
    assert.deepEqual(notes, [{ kind: 'error', message: reason }]);
    assert.equal(app.saveState, 'failed');
    assert.equal(app.dirty, true);
    assert.equal(app.data.clients.length, 1);
    assert.equal(await app.saveNow(), true);
    assert.equal(app.saveState, 'saved');
    assert.equal(app.dirty, false);
    assert.equal(bridge.saved.length, 2);
  });

  test('a save answered with null or a bare rejection counts as failed', async () => {
    for (const answer of [null, Promise.reject('disk full')]) {
      answer?.catch?.(() => {});
      const { app, notes } = setup({ saveAnswers: [answer] });
      await app.reload();
      app.edit((doc) => doc.clients.push({ id: '1' }));
      await assert.rejects(app.saveNow());
      assert.equal(app.saveState, 'failed');
      assert.equal(notes.length, 1);
      assert.ok(notes[0].message.length > 0);
    }
  });

  test('saves go out one at a time and an edit made meanwhile is saved afterwards', async () => {
    const first = deferred();
    const { app, bridge, timers } = setup({ saveAnswers: [first.promise] });
    await app.reload();
    app.edit((doc) => doc.clients.push({ id: '1', name: 'One' }));
    const firstSave = app.saveNow();
    await flush();
    app.edit((doc) => doc.clients.push({ id: '2', name: 'Two' }));
    const secondSave = app.saveNow();
    await flush();
    assert.equal(bridge.saved.length, 1, 'the second save waits for the first');
    first.resolve(true);
    await firstSave;
    assert.equal(app.dirty, true);
    await secondSave;
    assert.equal(bridge.saved.length, 2);
    assert.equal(bridge.saved[1].clients.length, 2);
    assert.equal(app.dirty, false);
    assert.equal(timers.count, 0);
  });

  test('without the desktop program edits stay in memory', async () => {
    const { app } = setup({ bridge: null });
    await app.reload();
    assert.equal(app.hasBridge, false);
    app.edit((doc) => doc.clients.push({ id: '1', name: 'One' }));
    assert.equal(await app.saveNow(), false);
    assert.equal(app.data.clients.length, 1);
  });

  test('reload replaces the document and forgets the old edits', async () => {
    const bridge = fakeBridge({ loaded: { version: 1, clients: [] } });
    const { app, timers } = setup({ bridge });
    await app.reload();
    app.edit((doc) => doc.clients.push({ id: 'x' }));
    bridge.load = () => Promise.resolve({ version: 1, clients: [{ id: 'restored' }] });
    const events = [];
    app.on('load', () => events.push('load'));
    await app.reload();
    assert.deepEqual(events, ['load']);
    assert.equal(app.data.clients[0].id, 'restored');
    assert.equal(app.dirty, false);
    assert.equal(timers.count, 0);
  });
});
