import { test } from 'node:test';
import assert from 'node:assert/strict';
import { withProgress, describeUpdate, describeCheck, describeVersion } from '../../resources/app/js/pdf-editor.js';

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
  assert.equal(describeUpdate({ ok: false, step: 'close', open: 2, error: 'PdfCraft is still open.' }).closeFirst, true);
  assert.match(describeUpdate({ ok: false, step: 'close', open: 1 }).text, /one window is/);
  assert.equal(describeUpdate({ ok: false, step: 'verify', error: 'Mismatch.' }).text, 'Mismatch.');
  assert.equal(describeUpdate(null).ok, false);
  assert.equal(describeCheck({ ok: true, available: true, latest: '2.5', current: '2.4' }).available, true);
  assert.equal(describeCheck({ ok: false, error: "Couldn't reach GitHub (x)." }).text, "Couldn't reach GitHub (x).");
  assert.match(describeVersion({ version: '2.5', bundled: '1.0', updated: true }), /2\.5, updated from the 1\.0/);
  assert.match(describeVersion({ version: '1.0', bundled: '1.0', updated: false }), /as it came with Quillpost/);
});

test('update events read as sentences, with the download as a fraction', async () => {
  const { describeUpdateEvent, describeLastCheck } = await import('../../resources/app/js/app-updates.js');
  assert.equal(describeUpdateEvent({ status: 'downloading', next: '0.2.0', received: 1048576, total: 4194304 }).progress, 0.25);
  assert.equal(describeUpdateEvent({ status: 'downloading', received: 5 }).progress, null);
  assert.equal(describeUpdateEvent({ status: 'error', message: 'Bad signature.' }).kind, 'error');
  assert.match(describeUpdateEvent({ status: 'ready', next: '0.2.0' }).text, /installed when you quit/);
  assert.equal(describeUpdateEvent({ status: 'idle' }), null);
  assert.equal(describeUpdateEvent('nonsense'), null);
  assert.equal(describeLastCheck({ lastCheck: '' }), 'Not checked yet.');
  assert.match(describeLastCheck({ lastCheck: '2026-12-01T10:00:00Z' }, 'en-CA'), /^Last checked /);
});
