// The notice and notification for an update that a scheduled check found.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { nextUpdateNotice, connectUpdateNotice } from '../../resources/app/js/update-notice.js';

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
