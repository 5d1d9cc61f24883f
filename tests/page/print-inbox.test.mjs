import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  newestFirst, withArrival, withoutFile, passwordProblem, lockedName, looksLikePdf, listenForPrinted, onPrintedFile,
} from '../../resources/app/js/print-inbox.js';

const file = (name, at) => ({ name, path: `/data/Print Inbox/${name}`, size: 10, at });

test('the inbox lists printed files newest first, an arrival on top once, and leaves out what is no printed-file record', () => {
  const list = newestFirst([file('a.pdf', '2024-05-01T10:00:00Z'), null, { name: 'x' }, file('b.pdf', '2024-05-02T10:00:00Z'), file('c.pdf')]);
  assert.deepEqual([list.map((r) => r.name), newestFirst('not a list')], [['b.pdf', 'a.pdf', 'c.pdf'], []]);
  const arrived = file('d.pdf', '2024-05-03T10:00:00Z');
  const once = withArrival(list, arrived);
  assert.deepEqual(once.map((r) => r.name), ['d.pdf', 'b.pdf', 'a.pdf', 'c.pdf']);
  assert.deepEqual([withArrival(once, arrived), withArrival(once, { name: 'odd' })], [once, once], 'already listed, or no record');
  assert.deepEqual(withoutFile(once, arrived.path), list);
});

test('the printed-file hook hands records to every screen listening, and ignores anything else', () => {
  let hook = null;
  const seen = [];
  const toasts = [];
  listenForPrinted({ onPrinted: (cb) => { hook = cb; } }, (record) => toasts.push(record.name));
  const stop = onPrintedFile((record) => seen.push(record.name));
  hook(file('form.pdf', '2024-05-01T10:00:00Z'));
  hook('garbage');
  stop();
  hook(file('later.pdf', '2024-05-01T11:00:00Z'));
  assert.deepEqual([seen, toasts], [['form.pdf'], ['form.pdf', 'later.pdf']]);
  assert.doesNotThrow(() => listenForPrinted(null));
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
