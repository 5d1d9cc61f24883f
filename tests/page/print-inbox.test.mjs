// The print inbox's list, the printed-file hook and the handover password rules.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import {
  newestFirst, withArrival, withoutFile, passwordProblem, lockedName, looksLikePdf, listenForPrinted, onPrintedFile,
} from '../../resources/app/js/print-inbox.js';

const file = (name, at) => ({ name, path: `/data/Print Inbox/${name}`, size: 10, at });

describe('print inbox list', () => {
  test('newest first, leaving out what is no printed-file record', () => {
    const list = newestFirst([file('a.pdf', '2024-05-01T10:00:00Z'), null, { name: 'x' }, file('b.pdf', '2024-05-02T10:00:00Z'), file('c.pdf')]);
    assert.deepEqual(list.map((r) => r.name), ['b.pdf', 'a.pdf', 'c.pdf']);
    assert.deepEqual(newestFirst('not a list'), []);
  });

  test('an arrival goes on top once, even when the listing already had it', () => {
    const listed = [file('a.pdf', '2024-05-01T10:00:00Z')];
    const arrived = file('b.pdf', '2024-05-03T10:00:00Z');
    const once = withArrival(listed, arrived);
    assert.deepEqual(once.map((r) => r.name), ['b.pdf', 'a.pdf']);
    assert.deepEqual(withArrival(once, arrived).map((r) => r.name), ['b.pdf', 'a.pdf']);
    assert.deepEqual(withArrival(once, { name: 'odd' }), once);
    assert.deepEqual(withoutFile(once, arrived.path).map((r) => r.name), ['a.pdf']);
  });

  test('the hook hands records to every screen listening, and ignores anything else', () => {
    let hook = null;
    const seen = [];
    const toasts = [];
    listenForPrinted({ onPrinted: (cb) => { hook = cb; } }, (record) => toasts.push(record.name));
    const stop = onPrintedFile((record) => seen.push(record.name));
    hook(file('form.pdf', '2024-05-01T10:00:00Z'));
    hook('garbage');
    stop();
    hook(file('later.pdf', '2024-05-01T11:00:00Z'));
    assert.deepEqual(seen, ['form.pdf']);
    assert.deepEqual(toasts, ['form.pdf', 'later.pdf']);
    assert.doesNotThrow(() => listenForPrinted(null));
  });
});

test('a handover password needs eight characters as the user sees them; the locked copy is named after a PDF it takes', () => {
  const short = 'Use at least 8 characters.';
  const cases = [['1234567', undefined, short], ['12345678', undefined, null], ['ééééééé', undefined, short], ['pässwörd', 'pässwörd', null],
    ['😀😀😀😀', undefined, short], ['12345678', '12345679', "The two passwords don't match."], [undefined, undefined, short]];
  for (const [password, again, problem] of cases) assert.equal(passwordProblem(password, again), problem, password);
  assert.equal(lockedName('Study permit.PDF'), 'Study permit (locked).pdf');
  assert.equal(lockedName('.pdf'), 'Handover (locked).pdf');
  const bytes = (text) => new TextEncoder().encode(text);
  assert.deepEqual([bytes('%PDF-1.7'), bytes('%!PS-Adobe'), new Uint8Array()].map(looksLikePdf), [true, false, false]);
});
