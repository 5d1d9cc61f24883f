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
  const settle = () => new Promise((resolve) => setImmediate(resolve));
  const stop = keepBadgeCurrent({ app, bridge, day: () => today });
  // [what is shown, deadline a's done, the events sent, whether a minute passes, the counts sent by then, set-up]
  const steps = [
    ['shown as soon as the page starts', false, [], false, [2]],
    ['the same count is not sent again', false, ['load'], false, [2]],
    ['edits are not counted inside the edit', true, ['change', 'change'], false, [2]],
    ['edits in a row make one count a moment later', true, [], true, [2, 1]],
    ['a load counts at once', false, ['change', 'load'], false, [2, 1, 2]],
    ['and takes the place of a count still waiting', true, [], true, [2, 1, 2]],
    ['a failed call', true, ['change'], true, [2, 1, 2, 1], () => { failNext = true; }],
    ['is made again at the next change', true, ['change'], true, [2, 1, 2, 1, 1]],
    ['a deadline due yesterday counts once the day turns', true, [], true, [2, 1, 2, 1, 1, 2], () => { today = '2025-03-11'; }],
    ['locked data shows no count', true, ['load'], false, [2, 1, 2, 1, 1, 2, 0], () => { app.editable = false; }],
  ];
  for (const [what, done, events, minute, expected, prepare] of steps) {
    prepare?.();
    app.data.deadlines[0].done = done;
    for (const event of events) listeners.get(event)();
    if (minute) t.mock.timers.tick(60 * 1000);
    await settle();
    assert.deepEqual(sent, expected, what);
  }
  app.editable = true;
  listeners.get('change')();
  stop();
  today = '2025-03-12';
  t.mock.timers.tick(60 * 1000);
  await settle();
  assert.deepEqual([listeners.size, sent.length], [0, 7], 'once stopped, a count still waiting and the day are dropped');
  assert.equal(typeof keepBadgeCurrent({ app: {}, bridge: null }), 'function', 'without the desktop program nothing is kept');
});

test('a lock event saves pending edits and closes encrypted data; plain data, or unsaved edits, stay open', async (t) => {
  const calls = [];
  const app = { editable: true, dirty: true, reload: async () => calls.push('reload') };
  globalThis.window = new EventTarget();
  t.after(() => delete globalThis.window);
  const toasts = [];
  connectLockWatch({ app, toast: (m) => toasts.push(m) });
  const saves = async () => calls.push('save');
  const fails = async () => { throw new Error('disk full'); };
  for (const [encrypted, saveNow, expected] of [[true, saves, ['save', 'reload']], [true, fails, []], [false, saves, []]]) {
    Object.assign(app, { encrypted, saveNow });
    calls.length = 0;
    window.dispatchEvent(new CustomEvent('qp-system-lock', { detail: 'com.apple.screenIsLocked' }));
    await new Promise((resolve) => setTimeout(resolve, 0));
    assert.deepEqual(calls, expected, `${encrypted ? 'encrypted' : 'plain'}, ${saveNow === fails ? 'failing' : 'saving'}`);
  }
  assert.equal(toasts.length, 1);
  assert.match(toasts[0], /couldn't lock/);
});
