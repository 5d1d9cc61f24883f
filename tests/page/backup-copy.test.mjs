// How Settings → Data describes the backup folder's copy before the user restores it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { describeBackupCopy } from '../../resources/app/js/format.js';
import { inspectCopy } from '../../resources/app/js/store.js';

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
