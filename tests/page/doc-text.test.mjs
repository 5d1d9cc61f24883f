// The document's text written a slice at a time: always the text JSON.stringify gives, after any
// kind of edit, and never a mix of two moments when edits arrive while it is written.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { documentText, utf8Chunks } from '../../resources/app/js/doc-text.js';
import { bridgeHolding, openedOn } from './stand-in.mjs';
import { addClient } from '../../resources/app/js/clients-model.js';

// Every pause is a slice's end: the clock moves on a second between looks, so that each stride of
// records ends a slice.
function slicing(onPause = () => {}) {
  let clock = 0;
  const run = { pauses: 0 };
  run.options = { sliceMs: 1, now: () => (clock += 1000), pause: async () => onPause(++run.pauses) };
  return run;
}

// A practice large enough that every list spans several slices.
function practice(clients = 12) {
  const doc = { version: 2, clients: [], files: [], deadlines: [], contacts: [], entries: [], settings: { billing: { taxRate: 1300 } } };
  for (let c = 0; c < clients; c++) {
    doc.clients.push({ id: `c${c}`, name: `Client ${c} Ñoño`, email: `c${c}@example.org`, status: 'active' });
    doc.contacts.push({ id: `k${c}`, clientId: `c${c}`, kind: 'call', summary: 'Called "back"\n' });
    for (let f = 0; f < 2; f++) {
      const fileId = `f${c}-${f}`;
      doc.files.push({ id: fileId, clientId: `c${c}`, stages: [{ name: 'Retainer signed', date: '2026-01-03' }, { name: 'Decision', date: '' }] });
      for (let d = 0; d < 4; d++) doc.deadlines.push({ id: `d${c}-${f}-${d}`, fileId, title: 'Send proof', due: '2026-03-01', done: false });
      doc.entries.push({ id: `e${c}-${f}`, fileId, kind: 'time', hours: 1.5, rate: 20000, invoiceId: '' });
    }
  }
  return doc;
}

// The stand-in bridge that also takes the text as UTF-8 bytes, as the page API does.
function textBridge(loaded) {
  const texts = [];
  const saveText = async (chunks) => { texts.push(Buffer.concat(chunks).toString()); return true; };
  return Object.assign(bridgeHolding(loaded, { saveText }), { texts });
}

test('the document text is the text JSON.stringify gives, whatever the document holds', async () => {
  const cases = [
    { name: 'empty document', doc: {} },
    { name: 'empty lists', doc: { version: 2, clients: [], files: [] } },
    { name: 'members JSON leaves out', doc: { a: undefined, b: () => 1, c: 1, d: Symbol('x') } },
    { name: 'list items JSON writes as null', doc: { list: [undefined, () => 1, Symbol('s'), NaN, -0, Infinity, null, 1] } },
    { name: 'values with toJSON', doc: { when: new Date(0), list: [new Date(86400000), { at: new Date(1) }] } },
    { name: 'a list with its own toJSON', doc: { odd: Object.assign([1, 2], { toJSON: () => 'mine' }) } },
    { name: 'text that needs escapes', doc: { clients: [{ name: 'Tab\there "quoted" \\ back \u2028 \u0001', lone: '\ud800x', emoji: '👩🏽‍⚖️' }] } },
    { name: 'keys in the order they were made, numeric keys first', doc: { z: [1], 2: 'two', a: { y: 1, x: [2] }, 1: [] } },
    { name: 'a list first, then a value', doc: { clients: [{ id: 'a' }], version: 3 } },
    { name: 'long lists across many slices', doc: practice(30) },
  ];
  for (const { name, doc } of cases) assert.equal((await documentText(doc, slicing().options)).join(''), JSON.stringify(doc), name);
});

test('as UTF-8 pieces, the text is what TextEncoder makes of it, no piece too long or ending inside a character', async () => {
  const texts = ['', 'plain', 'é', '€ and 👩🏽‍⚖️', '\ud800 lone', 'x'.repeat(5000), '日本語'.repeat(700)];
  const whole = new TextEncoder().encode(texts.join(''));
  for (const size of [4, 5, 7, 4096, 1 << 20]) {
    const writer = utf8Chunks(size);
    for (const text of texts) writer.add(text);
    const chunks = writer.chunks();
    assert.deepEqual(new Uint8Array(Buffer.concat(chunks)), whole, `pieces of ${size}`);
    assert.equal(writer.length, whole.length);
    const strict = new TextDecoder('utf-8', { fatal: true });
    assert.ok(chunks.every((c) => c.length > 0 && c.length <= size && strict.decode(c) !== undefined), `pieces of ${size}`);
  }
});

test('the text comes in parts, one more than the pauses, and stops at a pause once the document changed', async () => {
  const doc = practice(10);
  const run = slicing();
  const parts = await documentText(doc, { ...run.options, part: (text) => ({ text }) });
  assert.ok(parts.length > 2 && parts.length === run.pauses + 1, `${parts.length} parts after ${run.pauses} pauses`);
  assert.equal(parts.map((p) => p.text).join(''), JSON.stringify(doc));
  let current = true;
  const { options } = slicing(() => { current = false; });
  assert.equal(await documentText(doc, { ...options, current: () => current }), null);
});

async function opened(doc = practice(), onPause = () => {}) {
  let app;
  const bridge = textBridge(doc);
  app = await openedOn(bridge, { textOptions: slicing(() => onPause(app)).options });
  return { app, bridge };
}

// Edits in place, on records held from before, and to the lists: the text never lags behind them.
const edits = [
  ['add a client', (doc) => addClient(doc, { name: 'Nouvelle Cliente', email: 'n@example.org' })],
  ['change a stage held from before', (doc, held) => { held.stage.date = '2026-02-09'; }],
  ['change a client held from before', (doc, held) => { held.client.notes = 'Prefers mornings'; delete held.client.email; }],
  ['sort a list in place', (doc) => doc.deadlines.sort((a, b) => b.id.localeCompare(a.id))],
  ['replace a list', (doc) => { doc.contacts = doc.contacts.filter((k) => k.kind !== 'call'); }],
  ['a key this version does not know', (doc) => { doc.extra = { nested: [1, { deep: true }] }; }],
  ['change the settings', (doc) => { doc.settings.billing.termsDays = 15; }],
  ['move a field to the end with its value', (doc, held) => { const { name } = held.client; delete held.client.name; held.client.name = name; }],
  ['rename the last field, its value kept', (doc, held) => { held.client.known = held.client.name; delete held.client.name; }],
  ['remove the last field', (doc, held) => { delete held.client.known; }],
  ['make a nested list a number and a number a list', (doc) => { doc.files[0].stages = 3; doc.entries[0].hours = [1.5]; }],
];

test('after every kind of edit, the saved text is the document as JSON.stringify writes it', async () => {
  const { app, bridge } = await opened();
  const held = { stage: app.data.files[3].stages[1], client: app.data.clients[5] };
  for (const [name, change] of edits) {
    app.edit((doc) => change(doc, held));
    await app.saveNow();
    assert.deepEqual([bridge.texts.at(-1), app.dirty], [JSON.stringify(app.data), false], name);
  }
  assert.deepEqual([bridge.texts.length, bridge.saved.length], [edits.length, 0]);
});

test('edits that keep coming while the text is written start it again and still end in one whole, current save', async () => {
  let n = 0;
  const { app, bridge } = await opened(practice(), (a) => a.edit((doc) => { doc.clients[0].notes = `edit ${++n}`; }));
  app.edit((doc) => { doc.clients[1].name = 'Before the save'; });
  await app.saveNow();
  assert.deepEqual([bridge.texts.length, bridge.texts[0]], [1, JSON.stringify(app.data)]);
  assert.ok(n >= 3 && bridge.texts[0].includes('Before the save') && bridge.texts[0].includes(`edit ${n}`), `${n} edits during the save`);
});

test('encrypted data is sealed whole and goes through save(), never as plain text', async () => {
  const { app, bridge } = await opened();
  await app.encrypt('correct horse battery staple');
  app.edit((doc) => { doc.clients[0].name = 'Secret'; });
  await app.saveNow();
  assert.deepEqual([bridge.texts.length, bridge.saved.length >= 2, JSON.stringify(bridge.saved.at(-1)).includes('Secret')], [0, true, false]);
});
