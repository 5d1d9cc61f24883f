// The page-API script's bytes: the engine's Base64 methods where it has them, atob/btoa where it
// doesn't, the quillpost-bytes side channel for large ones, and the same values in the page either way.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const script = readFileSync(new URL('../../src/bridge/PageApiScript.js', import.meta.url), 'utf8');

// Installs the script against a fake message handler that records what is posted and answers
// with the given reply text.
function install(replyText, fetch = globalThis.fetch) {
  const posted = [];
  const window = {
    webkit: { messageHandlers: { qp: { postMessage: (body) => { posted.push(body); return Promise.resolve(replyText); } } } },
    addEventListener: () => {},
  };
  const document = { documentElement: { classList: { add: () => {} } }, addEventListener: () => {} };
  new Function('window', 'document', 'fetch', script)(window, document, fetch);
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

test('large bytes go up and come back through the side channel, and up as Base64 when it refuses', async () => {
  const bytes = sample(100000);
  const requests = [];
  const channel = (address, options = {}) => {
    requests.push({ address, options });
    if (options.method === 'POST')
      return Promise.resolve({ ok: true, text: () => Promise.resolve('quillpost-bytes://bytes/up') });
    const known = address === 'quillpost-bytes://bytes/down';
    return Promise.resolve({ ok: known, arrayBuffer: () => Promise.resolve(bytes.slice().buffer) });
  };

  const saving = install('{"path":"/p","name":"x","size":1}', channel);
  await saving.api.saveDocument({ client: 'Ana', fileName: 'x.pdf', bytes });
  assert.equal(JSON.parse(saving.posted[0].args)[0].bytes, 'quillpost-bytes://bytes/up');
  assert.deepEqual(requests[0].options.body, bytes);
  // Small bytes are not worth a request.
  await saving.api.protectPdf(sample(10), 'pw').catch(() => {});
  assert.equal(JSON.parse(saving.posted[1].args)[0].bytes, Buffer.from(sample(10)).toString('base64'));

  const reading = install(JSON.stringify('quillpost-bytes://bytes/down'), channel);
  assert.deepEqual(await reading.api.readDocument('/p'), bytes);
  assert.equal(reading.posted[0].via, 'quillpost-bytes');
  await assert.rejects(install(JSON.stringify('quillpost-bytes://bytes/gone'), channel).api.readPrinted('/p'));

  const refusing = install('true', () => Promise.resolve({ ok: false }));
  await refusing.api.openPdfCraft(bytes, 'x.pdf');
  assert.equal(JSON.parse(refusing.posted[0].args)[0], Buffer.from(bytes).toString('base64'));
});

test('flattenPdf answers its object with the copy as a Uint8Array, from Base64 or the side channel', async () => {
  const small = install(JSON.stringify({ bytes: Buffer.from(sample(5)).toString('base64'), pages: 2, fields: 3, text: ['Ana'] }));
  assert.deepEqual(await small.api.flattenPdf(sample(10)), { bytes: sample(5), pages: 2, fields: 3, text: ['Ana'] });
  assert.equal(small.posted[0].cmd, 'flattenPdf');
  assert.equal(small.posted[0].via, 'quillpost-bytes');
  assert.deepEqual(JSON.parse(small.posted[0].args), [{ bytes: Buffer.from(sample(10)).toString('base64') }]);

  const large = sample(100000);
  const channel = (address, options = {}) => options.method === 'POST'
    ? Promise.resolve({ ok: true, text: () => Promise.resolve('quillpost-bytes://bytes/up') })
    : Promise.resolve({ ok: address === 'quillpost-bytes://bytes/down', arrayBuffer: () => Promise.resolve(large.slice().buffer) });
  const big = install(JSON.stringify({ bytes: 'quillpost-bytes://bytes/down', pages: 1, fields: 1, text: [] }), channel);
  const answer = await big.api.flattenPdf(large);
  assert.deepEqual(answer.bytes, large);
  assert.equal(answer.pages, 1);
  assert.deepEqual(JSON.parse(big.posted[0].args), [{ bytes: 'quillpost-bytes://bytes/up' }]);
});
