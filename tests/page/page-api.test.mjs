// The page-API script's bytes: the engine's Base64 methods where it has them, atob/btoa where it
// doesn't, the quillpost-bytes side channel for large ones, and the same values in the page either way.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { deflateSync } from 'node:zlib';

const script = readFileSync(new URL('../../src/bridge/PageApiScript.js', import.meta.url), 'utf8');

// Installs the script against a fake message handler that records what is posted and answers with
// `reply` (text, or a function of the message); fetch and XMLHttpRequest are the engine's as the
// script sees them.
function install(reply, fetch = globalThis.fetch, xhr = undefined) {
  const posted = [];
  const answer = typeof reply === 'function' ? reply : () => reply;
  const window = {
    webkit: { messageHandlers: { qp: { postMessage: (body) => { posted.push(body); return Promise.resolve(answer(body)); } } } },
    addEventListener: () => {},
    location: { href: 'quillpost-app://app/index.html' },
  };
  const document = { documentElement: { classList: { add: () => {} } }, addEventListener: () => {} };
  new Function('window', 'document', 'fetch', 'XMLHttpRequest', script)(window, document, fetch, xhr);
  return { api: window.quillpost, posted, window };
}
const firstArg = (posted, n = 0) => JSON.parse(posted[n].args)[0];
const base64 = (bytes) => Buffer.from(bytes).toString('base64');

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

test('bytes go as chunked btoa and come back through atob, or through the engine methods with the same values', async (t) => {
  const lengths = [0, 1, 2, 3, 0x8000, 0x8000 + 1, 100000];
  // Each length saved and read back: the standard Base64 goes out, the same bytes come in, null reads as none.
  const roundTrips = async () => {
    for (const length of lengths) {
      const bytes = sample(length);
      const saving = install('{"path":"/p","name":"x","size":1}');
      await saving.api.saveDocument({ client: 'Ana', fileName: 'x.pdf', bytes });
      assert.equal(firstArg(saving.posted).bytes, base64(bytes), `length ${length}`);
      assert.deepEqual(await install(JSON.stringify(base64(bytes))).api.readDocument('/p'), bytes, `length ${length}`);
      assert.deepEqual(await install(null).api.readDocument('/p'), new Uint8Array(0));
    }
  };
  assert.equal(typeof Uint8Array.prototype.toBase64, 'undefined');
  await roundTrips();
  let used = 0;
  // Node 20 lacks them; stand-ins with the engine's contract let the script take that path.
  Uint8Array.prototype.toBase64 = function () { used++; return base64(this); };
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
  assert.equal(firstArg(saving.posted).bytes, 'quillpost-bytes://bytes/up');
  assert.deepEqual(requests[0].options.body, bytes);
  // Small bytes are not worth a request.
  await saving.api.protectPdf(sample(10), 'pw').catch(() => {});
  assert.equal(firstArg(saving.posted, 1).bytes, base64(sample(10)));

  const reading = install(JSON.stringify('quillpost-bytes://bytes/down'), channel);
  assert.deepEqual(await reading.api.readDocument('/p'), bytes);
  assert.equal(reading.posted[0].via, 'quillpost-bytes');
  await assert.rejects(install(JSON.stringify('quillpost-bytes://bytes/gone'), channel).api.readPrinted('/p'));

  const refusing = install('true', () => Promise.resolve({ ok: false }));
  await refusing.api.openPdfCraft(bytes, 'x.pdf');
  assert.equal(firstArg(refusing.posted), base64(bytes));

  // flattenPdf answers an object whose bytes come either way.
  const small = install(JSON.stringify({ bytes: base64(sample(5)), pages: 2, fields: 3, text: ['Ana'] }));
  assert.deepEqual(await small.api.flattenPdf(sample(10)), { bytes: sample(5), pages: 2, fields: 3, text: ['Ana'] });
  assert.deepEqual([small.posted[0].cmd, small.posted[0].via, firstArg(small.posted)], ['flattenPdf', 'quillpost-bytes', { bytes: base64(sample(10)) }]);
  const big = install(JSON.stringify({ bytes: 'quillpost-bytes://bytes/down', pages: 1, fields: 1, text: [] }), channelOf(bytes));
  assert.deepEqual(await big.api.flattenPdf(bytes), { bytes, pages: 1, fields: 1, text: [] });
  assert.deepEqual(firstArg(big.posted), { bytes: 'quillpost-bytes://bytes/up' });
});

// The script over a fetch that records what reaches the engine, with `xhr` as the page's XMLHttpRequest.
function installGuard(xhr = undefined) {
  const sent = [];
  const { window } = install('', (input, init) => { sent.push({ input, init }); return Promise.resolve({ ok: true }); }, xhr);
  return { window, sent };
}

test('a Blob body to the program\'s schemes, by fetch or XMLHttpRequest, goes as bytes; other requests go as given', async () => {
  const bytes = sample(3000);
  const channel = 'quillpost-bytes://bytes/';
  const cases = [
    ['a Blob to the bytes channel', () => [channel, { method: 'POST', body: new Blob([bytes]) }], bytes],
    ['a File to a relative address of the page', () => ['upload', { method: 'PUT', body: new File([bytes], 'a.pdf') }], bytes],
    ['a Request holding a Blob', () => [new Request(channel, { method: 'POST', body: new Blob([bytes]) })], bytes],
    ['a URL object with a Blob', () => [new URL(channel), { method: 'POST', body: new Blob(['Zoë']) }], new TextEncoder().encode('Zoë')],
  ];
  for (const [name, request, expected] of cases) {
    const { window, sent } = installGuard();
    await window.fetch(...request());
    const body = sent[0].init.body;
    assert.deepEqual([sent.length, body instanceof ArrayBuffer, new Uint8Array(body)], [1, true, expected], name);
  }

  // A form keeps its fields and the boundary its content type names.
  const form = new FormData();
  form.append('name', 'Zoë');
  form.append('scan', new Blob([bytes]), 'scan.pdf');
  const { window, sent } = installGuard();
  await window.fetch(channel, { method: 'POST', body: form });
  const { input, init } = sent[0];
  assert.deepEqual([input, init.body instanceof ArrayBuffer], [channel, true]);
  const back = await new Response(init.body, { headers: { 'content-type': init.headers.get('content-type') } }).formData();
  assert.deepEqual([back.get('name'), new Uint8Array(await back.get('scan').arrayBuffer())], ['Zoë', bytes]);

  const untouched = [
    [channel, { method: 'POST', body: sample(10) }], [channel, { method: 'POST', body: 'text' }], [`${channel}1`, undefined],
    ['https://example.org/upload', { method: 'POST', body: new Blob([bytes]) }],
  ];
  for (const [address, options] of untouched) {
    const guard = installGuard();
    await guard.window.fetch(address, options);
    assert.deepEqual([guard.sent[0].input, guard.sent[0].init === options], [address, true], address);
  }

  // An XMLHttpRequest sends a Blob to the program as bytes, and anything else as given.
  class FakeXhr {
    constructor() { this.headers = {}; }
    open(method, url) { this.url = url; }
    setRequestHeader(name, value) { this.headers[name] = value; }
    send(body) { this.sends = (this.sends ?? 0) + 1; this.sent = body; }
  }
  installGuard(FakeXhr);
  const blobbed = new FakeXhr();
  blobbed.open('POST', channel);
  blobbed.send(new Blob([bytes], { type: 'application/pdf' }));
  await new Promise((resolve) => setTimeout(resolve, 10));
  const got = [new Uint8Array(blobbed.sent), blobbed.sent instanceof ArrayBuffer, blobbed.sends, blobbed.headers['Content-Type']];
  assert.deepEqual(got, [bytes, true, 1, 'application/pdf']);
  for (const [url, body] of [['https://example.org/', new Blob([bytes])], [channel, bytes], [channel, null]]) {
    const plain = new FakeXhr();
    plain.open('POST', url);
    plain.send(body);
    assert.equal(plain.sent, body, url);
  }
});

test('the document loads as bytes, deflated where the page can inflate them, and as a script reply when its bytes did not arrive', async () => {
  const text = Buffer.from('{"clients":[{"id":"é"}]}');
  const packed = deflateSync(text);
  const down = 'quillpost-bytes://bytes/down';
  const cases = [
    ['plain Base64', JSON.stringify(base64(text)), { clients: [{ id: 'é' }] }],
    ['deflated Base64', JSON.stringify({ bytes: base64(packed), encoding: 'deflate' }), { clients: [{ id: 'é' }] }],
    ['a deflated address', JSON.stringify({ bytes: down, encoding: 'deflate' }), { clients: [{ id: 'é' }] }],
    ['an expired address', JSON.stringify({ bytes: 'quillpost-bytes://bytes/gone', encoding: 'deflate' }), { from: 'reply' }],
    ['bytes that do not inflate', JSON.stringify({ bytes: base64(text), encoding: 'deflate' }), { from: 'reply' }],
  ];
  for (const [name, loadText, expected] of cases) {
    const reply = (body) => (body.cmd === 'load' ? '{"from":"reply"}' : loadText);
    const fetch = async (address) => new Response(packed, { status: address === down ? 200 : 404 });
    const { api, posted } = install(reply, fetch);
    let read = null;
    assert.deepEqual(await api.load({ text: (given) => { read = given; } }), expected, name);
    assert.equal(read, expected.from ? null : text.toString(), `${name}: the text read is handed on`);
    assert.deepEqual(posted[0], { cmd: 'loadText', args: '["deflate"]', via: 'quillpost-bytes' }, name);
    assert.deepEqual(posted.slice(1).map((p) => p.cmd), expected.from ? ['load'] : [], name);
  }
});

test('large text is saved as the addresses of its pieces in order, however the uploads finish; a refused upload sends the text', async () => {
  const text = new Uint8Array(5 * 1024 * 1024 + 7);
  for (let i = 0; i < text.length; i += 1024 * 1024) text[i] = 65 + i / (1024 * 1024);
  // Whole, or in pieces as the page writes it.
  const inPieces = [text.subarray(0, 1 << 20), text.subarray(1 << 20, 4 << 20), text.subarray(4 << 20)];
  for (const [refused, sent] of [[false, text], [true, text], [false, inPieces]]) {
    const received = [];
    // Later pieces answer sooner, so the uploads finish out of order.
    const fetch = (address, { body }) => new Promise((resolve) => setTimeout(() => {
      received.push(body.length);
      resolve({ ok: !(refused && body[0] === 67), text: async () => `quillpost-bytes://bytes/${String.fromCharCode(body[0])}` });
    }, 20 - body[0] / 5));
    const { api, posted } = install('true', fetch);
    assert.equal(await api.saveText(sent), true);
    const saved = JSON.parse(posted.at(-1).args)[0];
    if (refused) {
      assert.equal(saved.length, text.length);
      continue;
    }
    assert.equal(received.reduce((a, b) => a + b, 0), text.length);
    assert.equal(saved, 'ABCDEF'.split('').map((c) => `quillpost-bytes://bytes/${c}`).join(' '));
  }
});
