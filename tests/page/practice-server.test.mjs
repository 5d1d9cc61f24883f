import { test } from 'node:test';
import assert from 'node:assert/strict';
import { serverSettings, checkAddress, listLinks, createLink, revokeLink, NOT_SET_UP } from '../../resources/app/js/practice-server.js';
import { readFeed } from '../../resources/app/js/ircc-feed.js';

// The relay: each request is recorded and answered with the next answer (an Error rejects).
function relayAnswering(answers) {
  const sent = [];
  const relay = async (request) => {
    sent.push(request);
    const next = answers.shift();
    if (next instanceof Error) throw next;
    return { status: next.status, body: new TextEncoder().encode(next.body ?? '') };
  };
  return { sent, relay };
}

const settings = { base: 'https://practice.workers.dev', key: 'k1' };

test('server settings are read with type checks and addresses checked before saving', () => {
  assert.deepEqual(serverSettings({ settings: { server: { base: ' https://a.workers.dev ', key: 7 } } }), { base: 'https://a.workers.dev', key: '' });
  assert.deepEqual(serverSettings({ settings: 'broken' }), { base: '', key: '' });
  const addresses = [['https://a.workers.dev', /^$/], ['', /Enter the address/], ['a.workers.dev', /doesn't look like a web address/],
    ['ftp://a.workers.dev', /must start with https/], ['https://a.workers.dev/?x=1', /without anything after/]];
  for (const [address, problem] of addresses) assert.match(checkAddress(address), problem, address);
});

test('links are listed for the one client, made and revoked through the relay with the key; failures each say so', async () => {
  const links = [{ id: 'abcdefghijkl', url: 'https://u/1', client: 'c1' }, { id: 'mnopqrstuvwx', url: 'https://u/2', client: 'c2' }, { id: 'broken' }];
  const bridge = relayAnswering([
    { status: 200, body: JSON.stringify({ links }) },
    { status: 201, body: JSON.stringify({ id: 'zzzzzzzzzzzz', url: 'https://u/3', client: 'c1' }) },
    { status: 204 },
  ]);
  assert.deepEqual((await listLinks(bridge, settings, 'c1')).map((l) => l.id), ['abcdefghijkl']);
  assert.equal((await createLink(bridge, settings, 'c1', { label: 'Forms', days: 7 })).url, 'https://u/3');
  await revokeLink(bridge, settings, 'zzzzzzzzzzzz');
  assert.deepEqual(bridge.sent.map((r) => [r.method, r.path]), [['GET', '/api/r'], ['POST', '/api/r'], ['DELETE', '/api/r/zzzzzzzzzzzz']]);
  assert.deepEqual([bridge.sent[1].headers['x-qp-key'], JSON.parse(bridge.sent[1].body)], ['k1', { client: 'c1', label: 'Forms', days: 7 }]);

  const unreachable = "Couldn't reach the relay (Connection refused).";
  const cases = [
    [{ base: '', key: '' }, [], { message: NOT_SET_UP }],
    [settings, [{ status: 401, body: '{"error":"bad key"}' }], /didn't accept the key: bad key/],
    [settings, [{ status: 500, body: '<html>' }], /answered 500\./],
    [settings, [new Error(unreachable)], { message: unreachable }],
  ];
  for (const [given, answers, message] of cases) await assert.rejects(listLinks(relayAnswering(answers), given, 'c1'), message);
  await assert.rejects(revokeLink(relayAnswering([]), settings, '../admin'), /can't be revoked/);
  await assert.rejects(listLinks(null, settings, 'c1'), /desktop program/);
});

test('verified IRCC items are shown newest first; failures carry the native message', () => {
  const items = [{ title: 'Older', date: '2026-01-01' }, { title: '  Newer ', date: '2026-02-01', summary: 'S' }, { title: '' }, 'junk'];
  const read = readFeed({ ok: true, feed: JSON.stringify({ items }) });
  assert.deepEqual([read.ok, read.items.map((i) => i.title)], [true, ['Newer', 'Older']]);
  assert.deepEqual(readFeed({ ok: false, error: 'Failed its signature check.' }), { ok: false, error: 'Failed its signature check.' });
  assert.match(readFeed({ ok: true, feed: '{not json' }).error, /couldn't be read/);
  assert.equal(readFeed(null).ok, false);
});
