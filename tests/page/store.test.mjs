import { test } from 'node:test';
import assert from 'node:assert/strict';
import { checkDocument, freshDocument } from '../../resources/app/js/store.js';
import { bridgeHolding, openedOn } from './stand-in.mjs';

const flush = () => new Promise((resolve) => setImmediate(resolve));

// The practice opened on a stand-in bridge whose saves take the next of saveAnswers (an Error
// rejects, a promise is handed on; true when none are left), with timers that run when ticked.
async function opened(t, { loaded = null, loadError = null, saveAnswers = [], snapshots = [], status } = {}) {
  const bridge = bridgeHolding(loaded, {
    listSnapshots: async () => snapshots,
    ...(status && { dataStatus: async () => status }),
    ...(loadError && { load: () => Promise.reject(loadError) }),
  });
  const record = bridge.save;
  bridge.save = (doc) => {
    record(doc);
    const answer = saveAnswers.length ? saveAnswers.shift() : true;
    return answer instanceof Error ? Promise.reject(answer) : Promise.resolve(answer);
  };
  t.mock.timers.reset();
  t.mock.timers.enable({ apis: ['setTimeout'] });
  const notes = [];
  const app = await openedOn(bridge, { notify: (n) => notes.push(n), timers: undefined });
  // An hour passes and what it set off settles.
  const tick = async () => {
    t.mock.timers.tick(60 * 60 * 1000);
    await flush();
  };
  return { app, bridge, notes, tick };
}

const addOne = (app, id = '1') => app.edit((doc) => doc.clients.push({ id, name: id }));

const older = { version: 1, clients: [{ id: 'a', name: 'From the older copy' }] };
const fromBak = (dataFile) => ({ dataFile, loadedFrom: 'data.json.bak', loadedAt: '2026-01-02T03:04:05Z' });
// [what, bridge options, lock kind or null, what carrying on shows (null: it can't)]
const cases = [
  ['no data file at all', {}, null],
  ['a whole data file', { loaded: older }, null],
  ['an emptied data file with its older copy shown', { loaded: older, status: fromBak('empty') }, null],
  ['no data status', { loaded: older, status: {} }, null],
  ['an unreadable data file, its .bak shown', { loaded: older, status: fromBak('unreadable') }, 'older-copy', older],
  ['a missing data file, its .bak shown', { loaded: older, status: fromBak('missing') }, 'older-copy', older],
  ['nothing opens and there are no copies', { status: { dataFile: 'unreadable', loadedFrom: '' } }, 'unreadable', freshDocument()],
  ['no data file while earlier copies exist', { snapshots: ['data-2024-05-01.json'] }, 'unreadable', null],
  ['an encrypted document', { loaded: { enc: true, v: 1, data: 'QUJD' } }, 'encrypted', null],
  ['a failed load', { loadError: new Error('The data file is unreadable') }, 'load-failed', null],
];
for (const [what, options, kind, carriedOn] of cases) {
  test(`${what}: ${kind ? `locked as ${kind}, nothing saved until the user goes on` : 'editable'}`, async (t) => {
    const { app, bridge, tick, notes } = await opened(t, options);
    assert.deepEqual([app.lock?.kind ?? null, app.editable], [kind, !kind]);
    if (!kind) {
      const expected = checkDocument(structuredClone(options.loaded ?? null)).doc;
      assert.deepEqual([app.carryOn(), app.data, bridge.saved.length], [false, expected, 0], 'no question, and nothing saved');
      return;
    }
    assert.throws(() => addOne(app));
    await assert.rejects(app.saveNow(), /Nothing was saved/);
    assert.deepEqual(notes.map((n) => n.kind), ['error']);
    await tick();
    assert.equal(bridge.saved.length, 0);
    if (options.loadError) assert.match(app.lock.message, /The data file is unreadable\. Nothing has been changed/);
    if (options.loaded?.enc) assert.deepEqual(app.data, options.loaded, 'encrypted data stays as loaded');
    assert.equal(app.carryOn(), carriedOn !== null);
    if (!carriedOn) return;
    assert.deepEqual([app.lock, app.data], [null, checkDocument(structuredClone(carriedOn)).doc]);
    addOne(app, 'n');
    await app.saveNow();
    assert.equal(bridge.saved.length, 1);
  });
}

test('documents that must not be written over are locked and left exactly as they were', () => {
  const cases = [
    [{ enc: true, payload: 'abc' }, 'encrypted'], [{ version: 3, clients: [] }, 'newer'], [{ version: 1, clients: { a: 1 } }, 'unreadable'],
    [{ version: 1, files: {} }, 'unreadable'], [{ invoices: 'x' }, 'unreadable'], [{ files: null }, 'unreadable'],
    [{ settings: [1] }, 'unreadable'], [[1, 2, 3], 'unreadable'], ['text', 'unreadable'],
    [{ clients: [] }, undefined], [{ enc: false, clients: [] }, undefined],
  ];
  for (const [loaded, kind] of cases) {
    const given = structuredClone(loaded);
    const { doc, lock } = checkDocument(given);
    assert.equal(lock?.kind, kind, JSON.stringify(loaded));
    if (kind && typeof loaded === 'object' && !Array.isArray(loaded)) assert.deepEqual(doc, loaded, JSON.stringify(loaded));
  }
});

test('edits in quick succession are saved once, after the pause; saveNow saves at once; reload forgets edits', async (t) => {
  const { app, bridge, tick } = await opened(t);
  addOne(app, '1');
  addOne(app, '2');
  assert.deepEqual([app.saveState, bridge.saved.length], ['pending', 0]);
  await tick();
  assert.deepEqual([bridge.saved.map((d) => d.clients.length), app.saveState, app.dirty], [[2], 'saved', false]);

  addOne(app, '3');
  const saved = await app.saveNow();
  await tick();
  assert.deepEqual([saved, bridge.saved.length], [true, 2], 'the waiting save is cancelled');

  addOne(app, 'x');
  bridge.load = () => Promise.resolve({ version: 1, clients: [{ id: 'restored' }] });
  const events = [];
  app.on('load', () => events.push('load'));
  await app.reload();
  await tick();
  assert.deepEqual([events, app.data.clients[0].id, app.dirty, bridge.saved.length], [['load'], 'restored', false, 2]);
});

test('a refused save, or one answered with null or a bare rejection, is shown and the edits stay unsaved', async (t) => {
  const reason = "Quillpost didn't save, because the saved copy would not open again. Your data is unchanged.";
  for (const answer of [new Error(reason), null, Promise.reject('disk full')]) {
    answer?.catch?.(() => {});
    const { app, bridge, notes } = await opened(t, { saveAnswers: [answer] });
    addOne(app);
    const error = await app.saveNow().catch((e) => e);
    assert.ok(error instanceof Error && error.message.length > 0, String(answer));
    assert.deepEqual(notes, [{ kind: 'error', message: error.message }]);
    if (answer instanceof Error) assert.equal(error.message, reason);
    assert.deepEqual([app.saveState, app.dirty], ['failed', true]);
    assert.deepEqual([await app.saveNow(), app.dirty, bridge.saved.length], [true, false, 2], 'the next try saves them');
  }
});

test('saves go out one at a time and an edit made meanwhile is saved afterwards', async (t) => {
  let answerFirst;
  const first = new Promise((resolve) => { answerFirst = resolve; });
  const { app, bridge, tick } = await opened(t, { saveAnswers: [first] });
  addOne(app, '1');
  const firstSave = app.saveNow();
  await flush();
  addOne(app, '2');
  const secondSave = app.saveNow();
  await flush();
  assert.equal(bridge.saved.length, 1, 'the second save waits for the first');
  answerFirst(true);
  await firstSave;
  const dirtyBetween = app.dirty;
  await secondSave;
  await tick();
  assert.deepEqual([dirtyBetween, bridge.saved.map((d) => d.clients.length), app.dirty], [true, [1, 2], false]);
});

test('without the desktop program edits stay in memory', async () => {
  const app = await openedOn(null);
  addOne(app);
  assert.deepEqual([app.hasBridge, await app.saveNow(), app.data.clients.length], [false, false, 1]);
});
