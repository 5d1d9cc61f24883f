// Lock events as the desktop program hands them to the page.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { connectLockWatch } from '../../resources/app/js/shell-hooks.js';

describe('shell hooks', () => {
  test('a lock event saves pending edits and closes encrypted data; plain data stays open', async () => {
    const calls = [];
    const app = { encrypted: true, editable: true, dirty: true, saveNow: async () => calls.push('save'), reload: async () => calls.push('reload') };
    globalThis.window = new EventTarget();
    const toasts = [];
    connectLockWatch({ app, toast: (m) => toasts.push(m) });
    const settle = () => new Promise((resolve) => setTimeout(resolve, 0));

    window.dispatchEvent(new CustomEvent('qp-system-lock', { detail: 'com.apple.screenIsLocked' }));
    await settle();
    assert.deepEqual(calls, ['save', 'reload']);

    app.saveNow = async () => { throw new Error('disk full'); };
    calls.length = 0;
    window.dispatchEvent(new CustomEvent('qp-system-lock'));
    await settle();
    assert.deepEqual(calls, [], 'edits that could not be saved are not thrown away');
    assert.match(toasts.at(-1), /couldn't lock/);

    app.encrypted = false;
    app.saveNow = async () => calls.push('save');
    window.dispatchEvent(new CustomEvent('qp-system-lock'));
    await settle();
    assert.deepEqual(calls, []);
    delete globalThis.window;
  });
});
