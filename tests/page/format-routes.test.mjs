// Addresses of screens, error sentences and snapshot names.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { parseHash } from '../../resources/app/js/routes.js';
import { messageOf, describeSnapshot, formatWhen, foldForSearch } from '../../resources/app/js/format.js';

describe('routes', () => {
  test('each screen has its address; the data settings keep Settings highlighted', () => {
    const expected = {
      '#/dashboard': 'dashboard', '#/clients': 'clients', '#/files': 'files', '#/deadlines': 'deadlines',
      '#/calendar': 'calendar', '#/pdf': 'pdf', '#/billing': 'billing', '#/settings': 'settings',
    };
    for (const [hash, path] of Object.entries(expected)) {
      assert.equal(parseHash(hash).path, path, hash);
      assert.equal(parseHash(hash).section, path, hash);
    }
    assert.deepEqual(parseHash('#/settings/data'), { path: 'settings/data', section: 'settings', title: 'Data & backups' });
    assert.deepEqual(parseHash('#/settings/documents'), { path: 'settings/documents', section: 'settings', title: 'Documents & Drive' });
    assert.deepEqual(parseHash('#/settings/printer'), { path: 'settings/printer', section: 'settings', title: 'Printer' });
    assert.deepEqual(parseHash('#/import'), { path: 'import', section: 'clients', title: 'Import & export' });
  });

  test('one item of the practice keeps its id as written and its list highlighted', () => {
    assert.deepEqual(parseHash('#/file/AbC-12'), { path: 'file', section: 'files', title: 'File', id: 'AbC-12' });
    assert.deepEqual(parseHash('#/File/x%20y/'), { path: 'file', section: 'files', title: 'File', id: 'x y' });
    assert.equal(parseHash('#/invoice/i1').section, 'billing');
    assert.equal(parseHash('#/deadline/d1').section, 'deadlines');
    assert.equal(parseHash('#/client/c1?tab=x').id, 'c1');
    for (const hash of ['#/file/', '#/file/a/b', '#/unknown/a']) assert.equal(parseHash(hash).path, 'dashboard', hash);
    assert.equal(parseHash('#/file/%E0%A4%A').id, '%E0%A4%A', 'a broken escape is kept as typed');
  });

  test('unknown or empty addresses lead to the dashboard', () => {
    for (const hash of ['', '#', '#/', '#/nowhere', '#/settings/other', '#/clients/123', undefined, '#/constructor', '#/__proto__']) {
      assert.equal(parseHash(hash).path, 'dashboard', String(hash));
    }
    assert.equal(parseHash('#/Clients/').path, 'clients');
  });
});

describe('messages', () => {
  test('the native sentence is shown as is, with a fallback when there is none', () => {
    assert.equal(messageOf(new Error('Invalid snapshot')), 'Invalid snapshot');
    assert.equal(messageOf('Disk is full.'), 'Disk is full.');
    assert.equal(messageOf({ message: 'From an object' }), 'From an object');
    for (const odd of [undefined, null, new Error(''), '   ', 42, {}]) {
      assert.match(messageOf(odd), /Something went wrong/);
    }
  });
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
    assert.equal(formatWhen('yesterday evening'), 'yesterday evening');
    assert.equal(formatWhen(''), '');
    assert.equal(formatWhen(null), '');
  });

  test('search folding drops accents and case', () => {
    assert.equal(foldForSearch('Ángel MARTÍNEZ Lê'), 'angel martinez le');
    assert.equal(foldForSearch(undefined), '');
  });
});
