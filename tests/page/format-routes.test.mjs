import { readdirSync, readFileSync } from 'node:fs';
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parseHash } from '../../resources/app/js/routes.js';
import { menuAction, linkPath } from '../../resources/app/js/commands.js';
import { messageOf, describeSnapshot, formatWhen, describeBackupCopy } from '../../resources/app/js/format.js';
import { inspectCopy } from '../../resources/app/js/store.js';

test('each address leads to its screen or item, with its list highlighted; anything else to the dashboard', () => {
  for (const path of ['dashboard', 'clients', 'files', 'deadlines', 'calendar', 'pdf', 'billing', 'settings']) {
    assert.deepEqual([parseHash(`#/${path}`).path, parseHash(`#/${path}`).section], [path, path], path);
  }
  const cases = [
    ['#/settings/data', { path: 'settings/data', section: 'settings', title: 'Data & backups' }],
    ['#/import', { path: 'import', section: 'clients', title: 'Import & export' }],
    ['#/File/x%20y/', { path: 'file', section: 'files', title: 'File', id: 'x y' }],
  ];
  for (const [hash, route] of cases) assert.deepEqual(parseHash(hash), route, hash);
  const sections = ['#/settings/documents', '#/settings/printer', '#/invoice/i1', '#/deadline/d1'].map((h) => parseHash(h).section);
  assert.deepEqual(sections, ['settings', 'settings', 'billing', 'deadlines']);
  assert.deepEqual(['#/client/c1?tab=x', '#/file/%E0%A4%A'].map((h) => parseHash(h).id), ['c1', '%E0%A4%A'], 'a broken escape is kept');
  const nowhere = ['', '#', '#/', '#/nowhere', '#/settings/other', '#/clients/123', undefined, '#/constructor', '#/__proto__',
    '#/file/', '#/file/a/b', '#/unknown/a'];
  for (const hash of nowhere) assert.equal(parseHash(hash).path, 'dashboard', String(hash));
});

test('each menu command of the shell has its action, and each quillpost: link its screen; anything else none', () => {
  const paths = ['dashboard', 'clients', 'files', 'deadlines', 'calendar', 'pdf', 'billing', 'settings', 'import'];
  for (const path of paths) assert.deepEqual(menuAction(`go:${path}`), { kind: 'go', path });
  const adding = (path) => ({ kind: 'go', path, intent: { action: 'add' } });
  assert.deepEqual([menuAction('newClient'), menuAction('newFile')], [adding('clients'), adding('files')]);
  assert.deepEqual(['find', 'tour', 'logComm'].map((c) => menuAction(c).kind), ['find', 'tour', 'log-contact']);
  for (const odd of ['go:nowhere', 'go:', 'NEWCLIENT', '', null, 42, 'go:__proto__']) assert.equal(menuAction(odd), null, String(odd));

  const links = [
    ['quillpost://file/AbC-1', 'file/AbC-1'], ['QUILLPOST://File/x%2Fy?from=mail#top', 'file/x/y'],
    ['quillpost://Settings/data', 'settings/data'], ['quillpost:invoice/i9', 'invoice/i9'], ['quillpost://deadlines', 'deadlines'],
    ['quillpost://', 'dashboard'], ['quillpost://settings/nowhere', null], ['https://file/1', null], ['quillpost://file', null],
    ['quillpost://file/a/b', null], ['quillpost://secret', null], [null, null],
  ];
  assert.deepEqual(links.map(([link]) => [link, linkPath(link)]), links);
});

test('the native sentence is shown as is, and dates in the local format', () => {
  for (const given of [new Error('Said.'), 'Said.', { message: 'Said.' }]) assert.equal(messageOf(given), 'Said.');
  for (const odd of [undefined, null, new Error(''), '   ', 42, {}]) assert.match(messageOf(odd), /Something went wrong/);
  assert.equal(formatWhen('2024-05-01', 'en-GB'), '1 May 2024');
  assert.match(formatWhen('2024-05-10T09:41:00', 'en-GB'), /^10 May 2024, 09:41$/);
  assert.deepEqual(['yesterday evening', '', null].map((t) => formatWhen(t)), ['yesterday evening', '', '']);
});

test('snapshots are named as daily copies, safety copies, put-aside files or by their own name', () => {
  const taken = new Date(2024, 4, 10, 14, 22).getTime();
  const cases = [
    ['data-2024-05-01.json', 'daily', /^Daily copy, 1 May 2024$/],
    ['data-2024-13-40.json', 'daily', /^Daily copy$/], // no made-up date for an impossible one
    [`before-restore-${taken}.json`, 'safety', /^Safety copy before a restore, 10 May 2024, 14:22$/],
    [`before-update-1.2.0-to-1.3.0-${taken}.json`, 'safety', /update from 1\.2\.0 to 1\.3\.0, 10 May 2024/],
    [`before-update-first-to-0.2.0-${taken}.json`, 'safety', /from the first version to 0\.2\.0/],
    [`before-pdfcraft-update-${taken}.json`, 'safety', /^Safety copy before a PDF editor update, /],
    ['before-update-x.json', 'safety', /^Safety copy$/],
    [`unreadable-data-${taken}.json`, 'unreadable', /did not open, put aside 10 May 2024, 14:22$/],
    ['notes.txt', 'other', /^notes\.txt$/],
  ];
  for (const [name, kind, title] of cases) {
    const { kind: found, title: shown } = describeSnapshot(name, 'en-GB');
    assert.ok(found === kind && title.test(shown), `${name}: ${found}, ${shown}`);
  }
});

test('the backup copy is described by its date, size and what it holds; one that does not open cannot be restored', () => {
  const practice = JSON.stringify({
    version: 1, clients: [{ id: 'c1' }, { id: 'c2' }], files: [{ id: 'f1', clientId: 'c1' }], deadlines: [], invoices: [{ id: 'i1' }],
  });
  const holds = /^Holds 2 clients, 1 file, 0 deadlines, 1 invoice\.$/;
  const at = '2025-03-10T14:05:00Z';
  const cases = [
    [{ at, size: 512, text: practice }, /^Backup folder copy, .*2025.* · 512 bytes$/, holds, true],
    [{ at, size: 20480, text: practice }, / · 20 KB$/, holds, true],
    [{ at, size: 3 * 1024 * 1024, text: '{"enc":true,"v":2,"salt":"AA","iv":"AA","data":"AA"}' }, / · 3\.0 MB$/, /^Encrypted/, true],
    [{ at, size: 9, text: '{"clients' }, /^Backup folder copy/, /^This copy doesn't open: The copy isn't readable JSON/, false],
    [{ at: '', size: -1, text: '[]' }, /^Backup folder copy$/, /^This copy doesn't open/, false],
    [{ at, size: 0 }, /^Backup folder copy/, /^This copy doesn't open/, false],
    [{ at, size: 9, text: '{"version": 9, "clients": []}' }, /^Backup folder copy/, /^This copy doesn't open: .*newer version/, false],
  ];
  for (const [candidate, title, held, restorable] of cases) {
    const described = describeBackupCopy(candidate, inspectCopy(candidate.text), 'en-CA');
    const { title: shown, holds: says, restorable: can } = described;
    assert.ok(title.test(shown) && held.test(says) && can === restorable, `${candidate.text}: ${shown}; ${says}; ${can}`);
  }
});

test('the page asks for every one of its modules at once, and for nothing that is not there', () => {
  const app = new URL('../../resources/app/', import.meta.url);
  const modules = ['js', 'js/views'].flatMap((folder) => readdirSync(new URL(folder, app)).filter((name) => name.endsWith('.js')).map((name) => `${folder}/${name}`));
  const preloaded = [...readFileSync(new URL('index.html', app), 'utf8').matchAll(/<link rel="modulepreload" href="([^"]+)">/g)].map((m) => m[1]);
  assert.deepEqual(preloaded.sort(), modules.filter((name) => name !== 'js/main.js').sort());
});
