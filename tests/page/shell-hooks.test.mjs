// Menu commands, quillpost: links and lock events as the desktop program hands them to the page.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { menuTarget, linkTarget, connectShell } from '../../resources/app/js/shell-hooks.js';

describe('shell hooks', () => {
  test('every menu command of the program opens a screen or says it is not there yet', () => {
    const words = ['go:settings', 'newClient', 'newFile', 'logComm', 'find', 'go:import', 'go:dashboard', 'go:clients',
      'go:files', 'go:deadlines', 'go:calendar', 'go:pdf', 'go:billing', 'tour'];
    for (const word of words) {
      const target = menuTarget(word);
      assert.ok(target && (target.path || target.message), word);
    }
    assert.deepEqual(menuTarget('newClient'), { path: 'clients', intent: { action: 'add' } });
    assert.deepEqual(menuTarget('go:pdf'), { path: 'pdf' });
    for (const odd of ['go:nowhere', 'go:', 'go:__proto__', 'constructor', 'hasOwnProperty', '', null, 42]) {
      assert.equal(menuTarget(odd), null, String(odd));
    }
  });

  test('links name a client, a file or a screen, in any letter case of the scheme', () => {
    assert.deepEqual(linkTarget('quillpost://client/c%2042'), { path: 'clients', intent: { action: 'edit', id: 'c 42' } });
    assert.deepEqual(linkTarget('QUILLPOST:client/Ab7?from=mail#x'), { path: 'clients', intent: { action: 'edit', id: 'Ab7' } });
    assert.equal(linkTarget('quillpost://file/').path, 'files');
    assert.deepEqual(linkTarget('quillpost://settings/data'), { path: 'settings/data' });
    for (const odd of ['quillpost://', 'quillpost://nowhere', 'quillpost://client/%E0%A4%A', 'https://client/1', 'quillpost://__proto__', 42, undefined]) {
      assert.equal(linkTarget(odd), null, String(odd));
    }
  });

  test('a lock event saves pending edits and closes encrypted data; plain data stays open', async () => {
    const calls = [];
    const app = { encrypted: true, editable: true, dirty: true, saveNow: async () => calls.push('save'), reload: async () => calls.push('reload') };
    globalThis.window = new EventTarget();
    const toasts = [];
    connectShell({ bridge: null, app, navigate: () => {}, toast: (m) => toasts.push(m) });
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
