// The editor's update steps and outcomes, the program's update events, and the notice and
// notification for an update that a scheduled check found.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { withProgress, describeUpdate, describeCheck, describeVersion } from '../../resources/app/js/pdf-editor.js';
import { describeUpdateEvent, describeLastCheck } from '../../resources/app/js/app-updates.js';
import { nextUpdateNotice, connectUpdateNotice } from '../../resources/app/js/update-notice.js';

test('progress events update their step in place and odd events are ignored', () => {
  let steps = [];
  for (const event of [
    { step: 'backup', state: 'run' }, { step: 'backup', state: 'ok' }, { step: 'download', state: 'run' },
    { step: 'nonsense', state: 'run' }, { step: 'download', state: 'maybe' }, null, 'backup',
    { step: 'download', state: 'ok', detail: '3.2 MB' }, { step: 'verify', state: 'fail', detail: 7 },
  ]) steps = withProgress(steps, event);
  assert.deepEqual(steps, [
    { step: 'backup', state: 'ok', detail: '' },
    { step: 'download', state: 'ok', detail: '3.2 MB' },
    { step: 'verify', state: 'fail', detail: '' },
  ]);
});

test('outcomes name what happened, including windows left open', () => {
  assert.match(describeUpdate({ ok: false, step: 'close', open: 2, error: 'PdfCraft is still open.' }).text, /2 windows are/);
  assert.match(describeUpdate({ ok: false, step: 'close', open: 1 }).text, /one window is/);
  assert.deepEqual(describeUpdate({ ok: false, step: 'verify', error: 'Mismatch.' }), { ok: false, text: 'Mismatch.' });
  assert.equal(describeUpdate(null).ok, false);
  assert.equal(describeCheck({ ok: true, available: true, latest: '2.5', current: '2.4' }).available, true);
  assert.equal(describeCheck({ ok: false, error: "Couldn't reach GitHub (x)." }).text, "Couldn't reach GitHub (x).");
  assert.match(describeVersion({ version: '2.5', bundled: '1.0', updated: true }), /2\.5, updated from the 1\.0/);
  assert.match(describeVersion({ version: '1.0', bundled: '1.0', updated: false }), /as it came with Quillpost/);
});

test('update events read as sentences, with the download as a fraction', () => {
  assert.equal(describeUpdateEvent({ status: 'downloading', next: '0.2.0', received: 1048576, total: 4194304 }).progress, 0.25);
  assert.equal(describeUpdateEvent({ status: 'downloading', received: 5 }).progress, null);
  assert.equal(describeUpdateEvent({ status: 'error', message: 'Bad signature.' }).kind, 'error');
  assert.match(describeUpdateEvent({ status: 'ready', next: '0.2.0' }).text, /installed when you quit/);
  assert.equal(describeUpdateEvent({ status: 'idle' }), null);
  assert.equal(describeUpdateEvent('nonsense'), null);
  assert.equal(describeLastCheck({ lastCheck: '' }), 'Not checked yet.');
  assert.match(describeLastCheck({ lastCheck: '2026-12-01T10:00:00Z' }, 'en-CA'), /^Last checked /);
});

describe('update notice', () => {
  test('only a scheduled find opens it; later steps of that update change or close it', () => {
    const cases = [
      { name: 'a check the user asked for', events: [{ status: 'available', next: '0.3.0' }], shows: null },
      { name: 'a scheduled find', events: [{ status: 'available', next: '0.3.0', scheduled: true }], shows: ['available', /0\.3\.0 is available/] },
      { name: 'downloaded by itself', events: [{ status: 'available', next: '0.3.0', scheduled: true }, { status: 'downloading', received: 5 }, { status: 'ready', next: '0.3.0' }],
        shows: ['ready', /installed when you quit/] },
      { name: 'a packaged copy', events: [{ status: 'available', next: '0.3.0', scheduled: true }, { status: 'unwritable', message: 'Use the package manager.' }],
        shows: ['unwritable', /package manager/] },
      { name: 'installed', events: [{ status: 'available', next: '0.3.0', scheduled: true }, { status: 'installed', next: '0.3.0' }], shows: null },
      { name: 'ready without a notice', events: [{ status: 'ready', next: '0.3.0' }], shows: null },
      { name: 'nonsense', events: [{ status: 'available', next: '0.3.0', scheduled: true }, null, 'x', { status: 'idle' }, { status: 'error', message: 'x' }],
        shows: ['available', /0\.3\.0/] },
    ];
    for (const c of cases) {
      const shown = c.events.reduce(nextUpdateNotice, null);
      if (!c.shows) {
        assert.equal(shown, null, c.name);
        continue;
      }
      assert.equal(shown.status, c.shows[0], c.name);
      assert.match(shown.text, c.shows[1], c.name);
    }
  });

  test('posts one notification per version and draws on every change', () => {
    const target = new EventTarget();
    const posted = [];
    let draws = 0;
    const notice = connectUpdateNotice({ target, render: () => draws++, notify: (text) => posted.push(text) });
    const send = (detail) => target.dispatchEvent(new CustomEvent('qp-update', { detail }));
    send({ status: 'available', next: '0.3.0', scheduled: true });
    send({ status: 'available', next: '0.3.0', scheduled: true });
    send({ status: 'idle' });
    assert.deepEqual(posted, ['Quillpost 0.3.0 is available.']);
    assert.equal(notice.notice.next, '0.3.0');
    notice.dismiss();
    assert.equal(notice.notice, null);
    send({ status: 'available', next: '0.4.0', scheduled: true });
    assert.equal(posted.length, 2);
    assert.ok(draws >= 3);
  });
});
