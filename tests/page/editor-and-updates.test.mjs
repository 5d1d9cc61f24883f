import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withProgress, describeUpdate, describeVersion } from '../../resources/app/js/pdf-editor.js';
import { describeUpdateEvent, describeLastCheck } from '../../resources/app/js/app-updates.js';
import { nextUpdateNotice, connectUpdateNotice } from '../../resources/app/js/update-notice.js';

test('the editor\'s progress events update their step in place, odd events are ignored, and outcomes name what happened', () => {
  const events = [
    { step: 'backup', state: 'run' }, { step: 'backup', state: 'ok' }, { step: 'download', state: 'run' }, { step: 'nonsense', state: 'run' },
    { step: 'download', state: 'maybe' }, null, 'backup', { step: 'download', state: 'ok', detail: '3.2 MB' }, { step: 'verify', state: 'fail', detail: 7 },
  ];
  assert.deepEqual(events.reduce(withProgress, []), [
    { step: 'backup', state: 'ok', detail: '' }, { step: 'download', state: 'ok', detail: '3.2 MB' }, { step: 'verify', state: 'fail', detail: '' },
  ]);
  assert.match(describeUpdate({ ok: false, step: 'close', open: 2, error: 'PdfCraft is still open.' }).text, /2 windows are/);
  assert.match(describeUpdate({ ok: false, step: 'close', open: 1 }).text, /one window is/);
  assert.deepEqual(describeUpdate({ ok: false, step: 'verify', error: 'Mismatch.' }), { ok: false, text: 'Mismatch.' });
  assert.equal(describeUpdate(null).ok, false);
  assert.match(describeVersion({ version: '2.5', bundled: '1.0', updated: true }), /2\.5, updated from the 1\.0/);
  assert.match(describeVersion({ version: '1.0', bundled: '1.0', updated: false }), /as it came with Quillpost/);
});

test('the program\'s update events read as sentences, with the download as a fraction', () => {
  const download = [{ status: 'downloading', received: 1048576, total: 4194304 }, { status: 'downloading', received: 5 }];
  assert.deepEqual(download.map((e) => describeUpdateEvent(e).progress), [0.25, null]);
  assert.equal(describeUpdateEvent({ status: 'error', message: 'Bad signature.' }).kind, 'error');
  assert.match(describeUpdateEvent({ status: 'ready', next: '0.2.0' }).text, /installed when you quit/);
  assert.deepEqual([describeUpdateEvent({ status: 'idle' }), describeUpdateEvent('nonsense')], [null, null]);
  assert.equal(describeLastCheck({ lastCheck: '' }), 'Not checked yet.');
  assert.match(describeLastCheck({ lastCheck: '2026-12-01T10:00:00Z' }, 'en-CA'), /^Last checked /);
});

test('only a scheduled find opens the update notice; later steps of that update change or close it', () => {
  const found = { status: 'available', next: '0.3.0', scheduled: true };
  const cases = [
    ['a check the user asked for', [{ status: 'available', next: '0.3.0' }], null],
    ['a scheduled find', [found], ['available', /0\.3\.0 is available/]],
    ['downloaded by itself', [found, { status: 'downloading', received: 5 }, { status: 'ready', next: '0.3.0' }], ['ready', /when you quit/]],
    ['a packaged copy', [found, { status: 'unwritable', message: 'Use the package manager.' }], ['unwritable', /package manager/]],
    ['installed', [found, { status: 'installed', next: '0.3.0' }], null],
    ['ready without a notice', [{ status: 'ready', next: '0.3.0' }], null],
    ['nonsense', [found, null, 'x', { status: 'idle' }, { status: 'error', message: 'x' }], ['available', /0\.3\.0/]],
  ];
  for (const [name, events, shows] of cases) {
    const shown = events.reduce(nextUpdateNotice, null);
    if (!shows) assert.equal(shown, null, name);
    else assert.match(`${shown.status} ${shown.text}`, new RegExp(`^${shows[0]} .*${shows[1].source}`), name);
  }
});

test('the update notice posts one notification per version and draws on every change', () => {
  const target = new EventTarget();
  const posted = [];
  let draws = 0;
  const notice = connectUpdateNotice({ target, render: () => draws++, notify: (text) => posted.push(text) });
  const send = (detail) => target.dispatchEvent(new CustomEvent('qp-update', { detail }));
  send({ status: 'available', next: '0.3.0', scheduled: true });
  send({ status: 'available', next: '0.3.0', scheduled: true });
  send({ status: 'idle' });
  assert.deepEqual([posted, notice.notice.next], [['Quillpost 0.3.0 is available.'], '0.3.0']);
  notice.dismiss();
  assert.equal(notice.notice, null);
  send({ status: 'available', next: '0.4.0', scheduled: true });
  assert.equal(posted.length, 2);
  assert.ok(draws >= 3);
});
