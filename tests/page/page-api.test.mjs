// The page-API script's bytes: the engine's Base64 methods where it has them, atob/btoa where it
// doesn't, and the same values on the wire and in the page either way.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const script = readFileSync(new URL('../../src/bridge/PageApiScript.js', import.meta.url), 'utf8');

// Installs the script against a fake message handler that records what is posted and answers
// with the given reply text.
function install(replyText) {
  const posted = [];
  const window = {
    webkit: { messageHandlers: { qp: { postMessage: (body) => { posted.push(body); return Promise.resolve(replyText); } } } },
    addEventListener: () => {},
  };
  const document = { documentElement: { classList: { add: () => {} } }, addEventListener: () => {} };
  new Function('window', 'document', script)(window, document);
  return { api: window.quillpost, posted };
}

function sample(length) {
  const bytes = new Uint8Array(length);
  for (let i = 0; i < length; i++) bytes[i] = (i * 131 + (i >> 8)) & 255;
  return bytes;
}

const lengths = [0, 1, 2, 3, 0x8000, 0x8000 + 1, 100000];

// Saves and reads back bytes of each length: the Base64 sent is the standard one, the bytes read
// are those sent, and an answer of null reads as no bytes.
async function roundTrips() {
  for (const length of lengths) {
    const bytes = sample(length);
    const expected = Buffer.from(bytes).toString('base64');
    const saving = install('{"path":"/p","name":"x","size":1}');
    await saving.api.saveDocument({ client: 'Ana', fileName: 'x.pdf', bytes });
    assert.equal(JSON.parse(saving.posted[0].args)[0].bytes, expected, `length ${length}`);
    const read = await install(JSON.stringify(expected)).api.readDocument('/p');
    assert.ok(read instanceof Uint8Array);
    assert.deepEqual(read, bytes, `length ${length}`);
    assert.deepEqual(await install(null).api.readDocument('/p'), new Uint8Array(0));
  }
}

test('without the engine methods, bytes go as chunked btoa and come back through atob', async () => {
  assert.equal(typeof Uint8Array.prototype.toBase64, 'undefined');
  await roundTrips();
});

test('with the engine methods, they do the work and the values are the same', async (t) => {
  let used = 0;
  // Node 20 lacks them; stand-ins with the engine's contract let the script take that path.
  Uint8Array.prototype.toBase64 = function () { used++; return Buffer.from(this).toString('base64'); };
  Uint8Array.fromBase64 = (text) => { used++; return new Uint8Array(Buffer.from(text, 'base64')); };
  t.after(() => {
    delete Uint8Array.prototype.toBase64;
    delete Uint8Array.fromBase64;
  });
  await roundTrips();
  assert.ok(used >= lengths.length * 3, `the engine methods were used (${used})`);
});
