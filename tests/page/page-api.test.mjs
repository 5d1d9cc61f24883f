// The page-API script's bytes: the engine's Base64 methods where it has them, atob/btoa where it
// doesn't, the quillpost-bytes side channel for large ones, and the same values in the page either way.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const script = readFileSync(new URL('../../src/bridge/PageApiScript.js', import.meta.url), 'utf8');

// Installs the script against a fake message handler that records what is posted and answers
// with the given reply text; fetch and XMLHttpRequest are the engine's as the script sees them.
function install(replyText, fetch = globalThis.fetch, xhr = undefined) {
  const posted = [];
  const window = {
    webkit: { messageHandlers: { qp: { postMessage: (body) => { posted.push(body); return Promise.resolve(replyText); } } } },
    addEventListener: () => {},
    location: { href: 'quillpost-app://app/index.html' },
  };
  const document = { documentElement: { classList: { add: () => {} } }, addEventListener: () => {} };
  new Function('window', 'document', 'fetch', 'XMLHttpRequest', script)(window, document, fetch, xhr);
  return { api: window.quillpost, posted, window };
}

// The bytes channel: an upload answers its address; a read of `known` answers `bytes`.
const channelOf = (bytes, known = 'quillpost-bytes://bytes/down', requests = []) => (address, options = {}) => {
  requests.push({ address, options });
  if (options.method === 'POST') return Promise.resolve({ ok: true, text: () => Promise.resolve('quillpost-bytes://bytes/up') });
  return Promise.resolve({ ok: address === known, arrayBuffer: () => Promise.resolve(bytes.slice().buffer) });
};

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

test('bytes go as chunked btoa and come back through atob, or through the engine methods with the same values', async (t) => {
  assert.equal(typeof Uint8Array.prototype.toBase64, 'undefined');
  await roundTrips();
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
  const channel = channelOf(bytes, undefined, requests);

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
  assert.deepEqual([small.posted[0].cmd, small.posted[0].via], ['flattenPdf', 'quillpost-bytes']);
  assert.deepEqual(JSON.parse(small.posted[0].args), [{ bytes: Buffer.from(sample(10)).toString('base64') }]);

  const large = sample(100000);
  const big = install(JSON.stringify({ bytes: 'quillpost-bytes://bytes/down', pages: 1, fields: 1, text: [] }), channelOf(large));
  assert.deepEqual(await big.api.flattenPdf(large), { bytes: large, pages: 1, fields: 1, text: [] });
  assert.deepEqual(JSON.parse(big.posted[0].args), [{ bytes: 'quillpost-bytes://bytes/up' }]);
});

// The script over a fetch that records what reaches the engine, with `xhr` as the page's XMLHttpRequest.
function installGuard(xhr = undefined) {
  const sent = [];
  const { window } = install('', (input, init) => { sent.push({ input, init }); return Promise.resolve({ ok: true }); }, xhr);
  return { window, sent };
}

const bodyBytes = async (body) => new Uint8Array(await new Response(body).arrayBuffer());

test('a body held as a Blob never reaches the program\'s own schemes: it goes as bytes, and the same bytes', async () => {
  const bytes = sample(3000);
  const form = new FormData();
  form.append('name', 'Zoë');
  form.append('scan', new Blob([bytes]), 'scan.pdf');
  const cases = [
    ['a Blob to the bytes channel', () => ['quillpost-bytes://bytes/', { method: 'POST', body: new Blob([bytes]) }], bytes],
    ['a File to a relative address of the page', () => ['upload', { method: 'PUT', body: new File([bytes], 'a.pdf') }], bytes],
    ['a Request holding a Blob', () => [new Request('quillpost-bytes://bytes/', { method: 'POST', body: new Blob([bytes]) })], bytes],
    ['a URL object with a Blob', () => [new URL('quillpost-bytes://bytes/'), { method: 'POST', body: new Blob(['Zoë']) }], new TextEncoder().encode('Zoë')],
  ];
  for (const [name, request, expected] of cases) {
    const { window, sent } = installGuard();
    await window.fetch(...request());
    assert.equal(sent.length, 1, name);
    const { init } = sent[0];
    assert.ok(init.body instanceof ArrayBuffer, `${name}: the engine gets bytes`);
    assert.deepEqual(new Uint8Array(init.body), expected, name);
  }

  // A form keeps its fields and the boundary its content type names.
  const { window, sent } = installGuard();
  await window.fetch('quillpost-bytes://bytes/', { method: 'POST', body: form });
  const { input, init } = sent[0];
  assert.equal(input, 'quillpost-bytes://bytes/');
  assert.ok(init.body instanceof ArrayBuffer);
  const back = await new Response(init.body, { headers: { 'content-type': init.headers.get('content-type') } }).formData();
  assert.equal(back.get('name'), 'Zoë');
  assert.deepEqual(await bodyBytes(back.get('scan')), bytes);
});

test('other requests reach the engine untouched', async () => {
  const bytes = sample(10);
  const blob = new Blob([bytes]);
  const cases = [
    ['bytes to the channel', 'quillpost-bytes://bytes/', { method: 'POST', body: bytes }],
    ['text to the channel', 'quillpost-bytes://bytes/', { method: 'POST', body: 'text' }],
    ['a read of the channel', 'quillpost-bytes://bytes/1', undefined],
    ['a Blob to a web server', 'https://example.org/upload', { method: 'POST', body: blob }],
  ];
  for (const [name, input, init] of cases) {
    const { window, sent } = installGuard();
    await window.fetch(input, init);
    assert.equal(sent[0].input, input, name);
    assert.equal(sent[0].init, init, name);
  }
});

test('an XMLHttpRequest sends a Blob to the program as bytes, and anything else as given', async () => {
  class FakeXhr {
    constructor() { this.headers = {}; this.sent = []; }
    open(method, url) { this.url = url; }
    setRequestHeader(name, value) { this.headers[name] = value; }
    send(body) { this.sent.push(body); }
    abort() { this.aborted = true; }
  }
  installGuard(FakeXhr);
  const bytes = sample(2000);
  const blobbed = new FakeXhr();
  blobbed.open('POST', 'quillpost-bytes://bytes/');
  blobbed.send(new Blob([bytes], { type: 'application/pdf' }));
  await new Promise((resolve) => setTimeout(resolve, 10));
  assert.equal(blobbed.sent.length, 1);
  assert.ok(blobbed.sent[0] instanceof ArrayBuffer);
  assert.deepEqual(new Uint8Array(blobbed.sent[0]), bytes);
  assert.equal(blobbed.headers['Content-Type'], 'application/pdf');

  const blob = new Blob([bytes]);
  for (const [url, body] of [['https://example.org/', blob], ['quillpost-bytes://bytes/', bytes], ['quillpost-bytes://bytes/', null]]) {
    const plain = new FakeXhr();
    plain.open('POST', url);
    plain.send(body);
    assert.equal(plain.sent[0], body, url);
  }
});

test('the document loads as bytes, and as a script reply when its bytes did not arrive', async () => {
  const posted = [];
  let loadText = JSON.stringify(Buffer.from('{"clients":[{"id":"é"}]}').toString('base64'));
  const window = {
    webkit: { messageHandlers: { qp: { postMessage: (body) => { posted.push(body); return Promise.resolve(body.cmd === 'load' ? '{"from":"reply"}' : loadText); } } } },
    addEventListener: () => {},
    location: { href: 'quillpost-app://app/index.html' },
  };
  const document = { documentElement: { classList: { add: () => {} } }, addEventListener: () => {} };
  new Function('window', 'document', 'fetch', 'XMLHttpRequest', script)(window, document, channelOf(new Uint8Array(0), 'quillpost-bytes://bytes/known'), undefined);
  assert.deepEqual(await window.quillpost.load(), { clients: [{ id: 'é' }] });
  assert.deepEqual(posted.map((p) => [p.cmd, p.via]), [['loadText', 'quillpost-bytes']]);
  loadText = JSON.stringify('quillpost-bytes://bytes/expired');
  assert.deepEqual(await window.quillpost.load(), { from: 'reply' });
  assert.deepEqual(posted.slice(1).map((p) => p.cmd), ['loadText', 'load']);
});

test('large text is saved as the addresses of its pieces in order, however the uploads finish; a refused upload sends the text', async () => {
  const text = new Uint8Array(5 * 1024 * 1024 + 7);
  for (let i = 0; i < text.length; i += 1024 * 1024) text[i] = 65 + i / (1024 * 1024);
  for (const refused of [false, true]) {
    const received = [];
    // Later pieces answer sooner, so the uploads finish out of order.
    const fetch = (address, { body }) => new Promise((resolve) => setTimeout(() => {
      received.push(body.length);
      resolve({ ok: !(refused && body[0] === 67), text: async () => `quillpost-bytes://bytes/${String.fromCharCode(body[0])}` });
    }, 20 - body[0] / 5));
    const { api, posted } = install('true', fetch);
    assert.equal(await api.saveText(text), true);
    const sent = JSON.parse(posted.at(-1).args)[0];
    if (refused) {
      assert.equal(sent.length, text.length);
      continue;
    }
    assert.equal(received.reduce((a, b) => a + b, 0), text.length);
    assert.equal(sent, 'ABCDEF'.split('').map((c) => `quillpost-bytes://bytes/${c}`).join(' '));
  }
});
