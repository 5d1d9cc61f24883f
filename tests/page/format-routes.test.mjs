// Addresses of screens, error sentences, snapshot names and the backup folder's copy as Settings →
// Data describes it before the user restores it.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { parseHash } from '../../resources/app/js/routes.js';
import { messageOf, describeSnapshot, formatWhen, foldForSearch, describeBackupCopy } from '../../resources/app/js/format.js';
import { inspectCopy } from '../../resources/app/js/store.js';

test('each address leads to its screen or item, with its list highlighted; anything else to the dashboard', () => {
  const screens = ['dashboard', 'clients', 'files', 'deadlines', 'calendar', 'pdf', 'billing', 'settings'];
  for (const path of screens) assert.deepEqual([parseHash(`#/${path}`).path, parseHash(`#/${path}`).section], [path, path], path);
  const cases = [
    ['#/settings/data', { path: 'settings/data', section: 'settings', title: 'Data & backups' }],
    ['#/settings/documents', { path: 'settings/documents', section: 'settings', title: 'Documents & Drive' }],
    ['#/settings/printer', { path: 'settings/printer', section: 'settings', title: 'Printer' }],
    ['#/import', { path: 'import', section: 'clients', title: 'Import & export' }],
    ['#/file/AbC-12', { path: 'file', section: 'files', title: 'File', id: 'AbC-12' }],
    ['#/File/x%20y/', { path: 'file', section: 'files', title: 'File', id: 'x y' }],
  ];
  for (const [hash, route] of cases) assert.deepEqual(parseHash(hash), route, hash);
  assert.deepEqual(['#/invoice/i1', '#/deadline/d1'].map((h) => parseHash(h).section), ['billing', 'deadlines']);
  assert.equal(parseHash('#/client/c1?tab=x').id, 'c1');
  assert.equal(parseHash('#/file/%E0%A4%A').id, '%E0%A4%A', 'a broken escape is kept as typed');
  assert.equal(parseHash('#/Clients/').path, 'clients');
  const nowhere = ['', '#', '#/', '#/nowhere', '#/settings/other', '#/clients/123', undefined, '#/constructor', '#/__proto__',
    '#/file/', '#/file/a/b', '#/unknown/a'];
  for (const hash of nowhere) assert.equal(parseHash(hash).path, 'dashboard', String(hash));
});

test('the native sentence is shown as is, with a fallback when there is none', () => {
  for (const given of [new Error('Said.'), 'Said.', { message: 'Said.' }]) assert.equal(messageOf(given), 'Said.');
  for (const odd of [undefined, null, new Error(''), '   ', 42, {}]) assert.match(messageOf(odd), /Something went wrong/);
});

describe('snapshot names and dates', () => {
  test('daily copies, safety copies and anything else', () => {
    const daily = describeSnapshot('data-2024-05-01.json', 'en-GB');
    assert.equal(daily.kind, 'daily');
    assert.equal(daily.title, 'Daily copy, 1 May 2024');
    const taken = new Date(2024, 4, 10, 14, 22).getTime();
    const restore = describeSnapshot(`before-restore-${taken}.json`, 'en-GB');
    assert.equal(restore.kind, 'safety');
    assert.equal(restore.title, 'Safety copy before a restore, 10 May 2024, 14:22');
    assert.equal(describeSnapshot(`before-update-1.2.0-to-1.3.0-${taken}.json`, 'en-GB').title,
      'Safety copy before the update from 1.2.0 to 1.3.0, 10 May 2024, 14:22');
    assert.match(describeSnapshot(`before-update-first-to-0.2.0-${taken}.json`, 'en-GB').title, /from the first version to 0\.2\.0/);
    assert.match(describeSnapshot(`before-pdfcraft-update-${taken}.json`, 'en-GB').title, /^Safety copy before a PDF editor update, /);
    assert.deepEqual(describeSnapshot('before-update-x.json'), { kind: 'safety', title: 'Safety copy', name: 'before-update-x.json' });
    assert.equal(describeSnapshot('data-2024-13-40.json').title, 'Daily copy', 'no made-up date for an impossible one');
    assert.equal(describeSnapshot('notes.txt').title, 'notes.txt');
    assert.deepEqual(describeSnapshot(`unreadable-data-${taken}.json`, 'en-GB'),
      { kind: 'unreadable', title: 'Data file that did not open, put aside 10 May 2024, 14:22', name: `unreadable-data-${taken}.json` });
  });

  test('timestamps are shown in the local format; other text passes through', () => {
    assert.equal(formatWhen('2024-05-01', 'en-GB'), '1 May 2024');
    assert.match(formatWhen('2024-05-10T09:41:00', 'en-GB'), /^10 May 2024, 09:41$/);
    assert.deepEqual(['yesterday evening', '', null].map((t) => formatWhen(t)), ['yesterday evening', '', '']);
  });

  test('search folding drops accents and case', () => {
    assert.equal(foldForSearch('Ángel MARTÍNEZ Lê'), 'angel martinez le');
    assert.equal(foldForSearch(undefined), '');
  });
});

test('the backup copy is described by its date, size and what it holds; one that does not open cannot be restored', () => {
  const practice = JSON.stringify({
    version: 1,
    clients: [{ id: 'c1', name: 'Maria Alvarez' }, { id: 'c2', name: 'Li Wei' }],
    files: [{ id: 'f1', clientId: 'c1' }],
    deadlines: [],
    invoices: [{ id: 'i1' }],
  });
  const at = '2025-03-10T14:05:00Z';
  const cases = [
    [{ at, size: 512, text: practice }, /^Backup folder copy, .*2025.* · 512 bytes$/, 'Holds 2 clients, 1 file, 0 deadlines, 1 invoice.', true],
    [{ at, size: 20480, text: practice }, / · 20 KB$/, 'Holds 2 clients, 1 file, 0 deadlines, 1 invoice.', true],
    [{ at, size: 3 * 1024 * 1024, text: '{"enc":true,"v":2,"salt":"AA","iv":"AA","data":"AA"}' }, / · 3\.0 MB$/, /^Encrypted/, true],
    [{ at, size: 9, text: '{"clients' }, /^Backup folder copy/, /^This copy doesn't open: The copy isn't readable JSON/, false],
    [{ at: '', size: -1, text: '[]' }, /^Backup folder copy$/, /^This copy doesn't open/, false],
  ];
  for (const [candidate, title, holds, restorable] of cases) {
    const described = describeBackupCopy(candidate, inspectCopy(candidate.text), 'en-CA');
    assert.match(described.title, title, candidate.text);
    if (holds instanceof RegExp) assert.match(described.holds, holds, candidate.text);
    else assert.equal(described.holds, holds);
    assert.equal(described.restorable, restorable, candidate.text);
  }
});
