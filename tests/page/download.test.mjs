import { test } from 'node:test';
import assert from 'node:assert/strict';

// Just enough of a document for saveBytes: the link it clicks reports its address.
const clicked = [];
globalThis.document = {
  createElement: () => ({ click() { clicked.push(this.href); }, remove() {} }),
  body: { append() {} },
};
globalThis.window = { quillpost: {} }; // the desktop program is there
const { saveBytes, saveWithNotice, downloadEnded, savedMessage } = await import('../../resources/app/js/download.js');

test('each download ends as the desktop program reports it through the page\'s hook, and only then is the user told', async () => {
  const cases = [
    [{ result: 'saved', name: 'Invoice.pdf', folder: '/home/a/Downloads', inDownloads: true, size: 3 }, 'Invoice.pdf is in your Downloads folder.'],
    [{ result: 'saved', name: 'Invoice (1).pdf', folder: '/home/a/Clients', inDownloads: false, size: 3 }, 'Invoice (1).pdf is saved in /home/a/Clients.'],
    [{ result: 'cancelled' }, null],
    [{ result: 'failed', message: 'No space left on device' }, /couldn't save the file: No space left on device/],
    [{ result: 'something new' }, /couldn't save the file\.$/],
  ];
  for (const [report, expected] of cases) {
    const toasts = [];
    const saving = saveWithNotice((m) => toasts.push(m), new Uint8Array([1, 2, 3]), 'Invoice.pdf', { type: 'application/pdf' });
    const ending = saving.catch((error) => error);
    await Promise.resolve();
    const early = [toasts.length, downloadEnded({ url: 'blob:someone-else', result: 'saved' })];
    const ended = window.__qpDownloaded({ url: clicked.at(-1), ...report });
    assert.deepEqual([...early, ended], [0, false, true], 'nothing is said before the program reports this download');
    const outcome = await ending;
    if (expected instanceof RegExp) assert.match(String(outcome instanceof Error && outcome.message), expected);
    else assert.equal(outcome.result, report.result);
    assert.deepEqual(toasts, typeof expected === 'string' ? [expected] : []);
    assert.equal(downloadEnded({ url: clicked.at(-1), ...report }), false, 'a download ends once');
  }
});

test('the password reminder follows the saved file, and a browser is only handed the file', async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout'] }); // the browser's blob is kept a minute
  const reminder = 'Send the password to your client separately.';
  assert.equal(savedMessage({ result: 'saved', name: 'a.pdf', inDownloads: true }, 'a.pdf', reminder), `a.pdf is in your Downloads folder. ${reminder}`);
  assert.equal(savedMessage({ result: 'cancelled' }, 'a.pdf', reminder), null);
  const outcome = await saveBytes(new Uint8Array([1]), 'a.csv', 'text/csv', { desktop: false });
  assert.equal(outcome.result, 'handed-over');
  assert.match(savedMessage(outcome, 'a.csv'), /handed to your browser/);
});
