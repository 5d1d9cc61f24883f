// A save after the first sends only the edits to the text the last save wrote; whatever the
// edits, the file ends up holding the document's whole text.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { textEdits } from '../../resources/app/js/doc-text.js';
import { bridgeHolding, openedOn } from './stand-in.mjs';
import { checkDocument } from '../../resources/app/js/store.js';

// The desktop program's part, on UTF-16 places: null when an edit doesn't fit, as it refuses.
function applied(text, edits) {
  let result = '';
  let at = 0;
  for (const [place, before, after] of edits) {
    if (place < at || text.slice(place, place + before.length) !== before) return null;
    result += text.slice(at, place) + after;
    at = place + before.length;
  }
  return result + text.slice(at);
}

test('the edits turn the old text into the new one, and carry only the pieces that changed', () => {
  let seed = 7;
  const random = (n) => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed % n;
  };
  const words = ['{', ',', ']', '"a":[', '{"n":"Zoë"}', '{"n":"𝄞"}', '{"n":"x"}', '}'];
  for (let round = 0; round < 300; round++) {
    const before = Array.from({ length: 1 + random(30) }, () => words[random(words.length)]);
    const after = before.slice();
    for (let change = random(4); change >= 0; change--) {
      const at = random(after.length + 1);
      const kind = random(3);
      if (kind === 0) after.splice(at, 0, `{"n":"new ${round}"}`);
      else if (kind === 1) after.splice(at, 1);
      else after[Math.min(at, after.length - 1)] = `{"n":"é${change}"}`;
    }
    const edits = textEdits(before, after);
    assert.equal(applied(before.join(''), edits), after.join(''), JSON.stringify({ before, after }));
  }
  const records = Array.from({ length: 1000 }, (_, i) => `{"id":"r${i}"}`);
  const changed = records.slice();
  changed[500] = '{"id":"r500","name":"Ann"}';
  changed[900] = '{"id":"r900","name":"Bo"}';
  assert.deepEqual(textEdits(records, changed).map(([, before, after]) => [before, after]),
    [[records[500], changed[500]], [records[900], changed[900]]]);
  assert.deepEqual(textEdits(records, records), []);
  assert.equal(textEdits(records, changed, 10), null, 'more than the limit carries');
});

// The stand-in bridge keeps the file's text as the desktop program does and refuses edits once
// the file was replaced behind the page's back.
function fileBridge(loaded, written = JSON.stringify) {
  const file = { text: null, replaced: false, calls: [] };
  const bridge = bridgeHolding(loaded, {
    load: async (options) => {
      file.text ??= written(loaded);
      file.replaced = false;
      options?.text?.(file.text);
      return JSON.parse(file.text);
    },
    saveText: async (chunks) => {
      file.calls.push('whole');
      file.text = Buffer.concat(chunks).toString();
      file.replaced = false;
      return true;
    },
    saveEdits: async (edits) => {
      file.calls.push('edits');
      const text = file.text === null || file.replaced ? null : applied(file.text, edits);
      if (text === null) throw new Error('The changes could not be made to the saved file as they are.');
      file.text = text;
      return true;
    },
  });
  return { bridge, file };
}

// As the page keeps it, so that its text is the text the page writes.
const practice = checkDocument({ version: 2, clients: [{ id: 'a', name: 'Amara' }, { id: 'b', name: 'Ben' }] }).doc;
const flush = () => new Promise((resolve) => setImmediate(resolve));
const opened = async (bridge) => {
  const app = await openedOn(bridge, { textOptions: { pause: async () => {} } });
  await flush();
  return app;
};

test('saves send edits; a refused edit, a failed save or a reload sends the whole text', async () => {
  const { bridge, file } = fileBridge(practice);
  const app = await opened(bridge);
  const edited = async (change, calls) => {
    file.calls = [];
    app.edit(change);
    await app.saveNow();
    assert.deepEqual(file.calls, calls);
    assert.equal(file.text, JSON.stringify(app.data));
  };
  await edited((doc) => { doc.clients[0].name = 'Amara Okafor'; }, ['edits']);
  await edited((doc) => { doc.clients[1].notes = 'Called “back”'; }, ['edits']);
  await edited((doc) => { doc.clients.splice(0, 1); doc.clients.push({ id: 'c', name: '👩🏽‍⚖️' }); }, ['edits']);
  file.replaced = true;
  await edited((doc) => { doc.clients[0].name = 'Ben Ng'; }, ['edits', 'whole']);
  await edited((doc) => { doc.clients[0].name = 'Ben'; }, ['edits']);

  const wholeSave = bridge.saveText;
  bridge.saveText = async () => { throw new Error('The disk is full.'); };
  app.edit((doc) => { doc.clients[0].name = 'Not saved yet'; });
  file.replaced = true;
  await assert.rejects(app.saveNow(), /disk is full/);
  bridge.saveText = wholeSave;
  await edited((doc) => { doc.clients[0].name = 'Ben'; }, ['whole']);

  file.replaced = true;
  await app.reload();
  await flush();
  await edited((doc) => { doc.clients[0].name = 'After the reload'; }, ['edits']);
});

test('a practice read from text the page would not write the same way is saved whole the first time', async () => {
  const { bridge, file } = fileBridge(practice, (doc) => JSON.stringify(doc, null, 2));
  const app = await opened(bridge);
  app.edit((doc) => { doc.clients[0].name = 'Amara Okafor'; });
  await app.saveNow();
  assert.deepEqual(file.calls, ['whole']);
});
