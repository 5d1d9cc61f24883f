// Amounts in the user's locale, the launcher badge's count of overdue deadlines, and lock events
// as the desktop program hands them to the page.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { formatMoney, practiceLocale } from '../../resources/app/js/format.js';
import { overdueCount, keepBadgeCurrent, connectLockWatch } from '../../resources/app/js/shell-hooks.js';

test('amounts show the thousands separators of the user\'s own locale, without the POSIX variant that drops them', () => {
  const locales = [
    [['en-US-u-va-posix'], 'en-US'], [['en-US-POSIX'], 'en-US'], [['en_GB'], 'en-GB'], [['C', 'fr-CA'], 'fr-CA'],
    [['C.UTF-8'], 'en-CA'], [[], 'en-CA'], [[undefined], 'en-CA'],
  ];
  for (const [languages, expected] of locales) assert.equal(practiceLocale(languages), expected, JSON.stringify(languages));
  const cases = [
    [180000, 'CAD', practiceLocale(['en-US-u-va-posix']), 'CA$1,800.00'], [123456789, 'CAD', 'en-CA', '$1,234,567.89'],
    [180000, 'CAD', 'fr-CA', '1\u00a0800,00\u00a0$'], [180000, 'EUR', 'de-DE', '1.800,00\u00a0€'], [-5050, 'CAD', 'en-CA', '-$50.50'],
    [Number.NaN, 'CAD', 'en-CA', '$0.00'], [180000, 'NOT-A-CODE', 'en-CA', '1,800.00 NOT-A-CODE'],
  ];
  for (const [cents, currency, locale, expected] of cases) {
    assert.equal(formatMoney(cents, currency, locale).replace(/\u202f/g, '\u00a0'), expected, `${cents} ${currency} ${locale}`);
  }
});

const day = '2025-03-10';
const deadlines = [
  { id: 'a', due: '2025-03-09', done: false }, { id: 'b', due: '2024-12-31' }, // overdue
  { id: 'c', due: '2025-03-10' }, // due today: not yet overdue
  { id: 'd', due: '2025-03-01', done: true }, { id: 'e', due: 'soon' }, { id: 'f', due: '2025-02-30' },
  { due: '2025-01-01' }, { id: '', due: '2025-01-01' }, ['2025-01-01'], null, // nothing the page lists
];

test('the badge counts open deadlines whose day has passed', () => {
  const cases = [[{ deadlines }, day, 2], [{ deadlines }, '2025-03-11', 3], [{}, day, 0], [{ deadlines: 'broken' }, day, 0]];
  for (const [data, today, count] of cases) assert.equal(overdueCount(data, today), count, today);
});

test('the badge follows loads, edits, locking and the turn of the day, tells only of changes, and tries a failed call again', async (t) => {
  t.mock.timers.enable({ apis: ['setTimeout', 'setInterval'] });
  const listeners = new Map();
  const on = (event, fn) => { listeners.set(event, fn); return () => listeners.delete(event); };
  const app = { editable: true, data: { deadlines: structuredClone(deadlines) }, on };
  const sent = [];
  let failNext = false;
  const bridge = { setBadge: async (n) => { sent.push(n); if (failNext) { failNext = false; throw new Error('no launcher'); } } };
  let today = day;
  // Sets deadline a's done, sends each event, lets a minute pass if told, and lets the calls settle.
  const step = async (done, events, minute = false) => {
    app.data.deadlines[0].done = done;
    for (const event of events) listeners.get(event)();
    if (minute) t.mock.timers.tick(60 * 1000);
    await new Promise((resolve) => setImmediate(resolve));
  };

  const stop = keepBadgeCurrent({ app, bridge, day: () => today });
  await step(false, []);
  assert.deepEqual(sent, [2], 'shown as soon as the page starts');
  await step(false, ['load']);
  assert.deepEqual(sent, [2], 'the same count is not sent again');
  await step(true, ['change', 'change']);
  assert.deepEqual(sent, [2], 'edits are not counted inside the edit');
  await step(true, [], true);
  assert.deepEqual(sent, [2, 1], 'edits in a row make one count a moment later');
  await step(false, ['change', 'load']);
  assert.deepEqual(sent, [2, 1, 2], 'a load counts at once');
  await step(true, [], true);
  assert.deepEqual(sent, [2, 1, 2], 'and takes the place of a count still waiting');
  failNext = true;
  await step(true, ['change'], true);
  await step(true, ['change'], true);
  assert.deepEqual(sent, [2, 1, 2, 1, 1], 'a failed call is made again at the next change');
  today = '2025-03-11';
  await step(true, [], true);
  assert.deepEqual(sent.slice(5), [2], 'a deadline due yesterday counts once the day turns');
  app.editable = false;
  await step(true, ['load']);
  assert.deepEqual(sent.slice(5), [2, 0], 'locked data shows no count');

  app.editable = true;
  listeners.get('change')();
  stop();
  today = '2025-03-12';
  await step(false, [], true);
  assert.deepEqual([listeners.size, sent.length], [0, 7], 'once stopped, a count still waiting and the day are dropped');
  assert.equal(typeof keepBadgeCurrent({ app: {}, bridge: null }), 'function', 'without the desktop program nothing is kept');
});

test('a lock event saves pending edits and closes encrypted data; plain data stays open', async (t) => {
  const calls = [];
  const app = { encrypted: true, editable: true, dirty: true, saveNow: async () => calls.push('save'), reload: async () => calls.push('reload') };
  globalThis.window = new EventTarget();
  t.after(() => delete globalThis.window);
  const toasts = [];
  connectLockWatch({ app, toast: (m) => toasts.push(m) });
  const lock = async () => {
    calls.length = 0;
    window.dispatchEvent(new CustomEvent('qp-system-lock', { detail: 'com.apple.screenIsLocked' }));
    await new Promise((resolve) => setTimeout(resolve, 0));
    return [...calls];
  };
  assert.deepEqual(await lock(), ['save', 'reload']);
  app.saveNow = async () => { throw new Error('disk full'); };
  assert.deepEqual(await lock(), [], 'edits that could not be saved are not thrown away');
  assert.match(toasts.at(-1), /couldn't lock/);
  app.encrypted = false;
  app.saveNow = async () => calls.push('save');
  assert.deepEqual(await lock(), []);
});
