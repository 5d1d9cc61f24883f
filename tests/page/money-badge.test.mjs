// Amounts in the user's locale, and the launcher badge's count of overdue deadlines.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { formatMoney, practiceLocale } from '../../resources/app/js/format.js';
import { overdueCount, keepBadgeCurrent } from '../../resources/app/js/shell-hooks.js';

describe('money', () => {
  test('the locale is the user\'s own, without the POSIX variant that drops grouping', () => {
    const cases = [
      [['en-US-u-va-posix'], 'en-US'],
      [['en-US-POSIX'], 'en-US'],
      [['en_GB'], 'en-GB'],
      [['C', 'fr-CA'], 'fr-CA'],
      [['C.UTF-8'], 'en-CA'],
      [[], 'en-CA'],
      [[undefined], 'en-CA'],
    ];
    for (const [languages, expected] of cases) assert.equal(practiceLocale(languages), expected, JSON.stringify(languages));
  });

  test('amounts show the locale\'s thousands separators', () => {
    const cases = [
      [180000, 'CAD', 'en-US', 'CA$1,800.00'],
      [180000, 'CAD', practiceLocale(['en-US-u-va-posix']), 'CA$1,800.00'],
      [123456789, 'CAD', 'en-CA', '$1,234,567.89'],
      [180000, 'CAD', 'fr-CA', '1\u00a0800,00\u00a0$'],
      [180000, 'EUR', 'de-DE', '1.800,00\u00a0€'],
      [-5050, 'CAD', 'en-CA', '-$50.50'],
      [Number.NaN, 'CAD', 'en-CA', '$0.00'],
      [180000, 'NOT-A-CODE', 'en-CA', '1,800.00 NOT-A-CODE'],
    ];
    for (const [cents, currency, locale, expected] of cases) {
      assert.equal(formatMoney(cents, currency, locale).replace(/\u202f/g, '\u00a0'), expected, `${cents} ${currency} ${locale}`);
    }
  });
});

describe('launcher badge', () => {
  const day = '2025-03-10';
  const doc = {
    deadlines: [
      { id: 'a', due: '2025-03-09', done: false }, // overdue
      { id: 'b', due: '2024-12-31' }, // overdue
      { id: 'c', due: '2025-03-10' }, // due today: not yet overdue
      { id: 'd', due: '2025-03-01', done: true }, // done
      { id: 'e', due: 'soon' }, // no date
      { due: '2025-01-01' }, // no id: not a deadline the page lists
      { id: 'f', due: '2025-02-30' }, // not a day of the calendar
      { id: '', due: '2025-01-01' }, // empty id
      ['2025-01-01'], // not a record
      null,
    ],
  };

  test('counts open deadlines whose day has passed', () => {
    assert.equal(overdueCount(doc, day), 2);
    assert.equal(overdueCount(doc, '2025-03-11'), 3);
    assert.equal(overdueCount({}, day), 0);
    assert.equal(overdueCount({ deadlines: 'broken' }, day), 0);
  });

  test('follows loads, edits, locking and the turn of the day, and tells the program only of changes', async () => {
    const listeners = new Map();
    const app = {
      editable: true,
      data: structuredClone(doc),
      on(event, fn) {
        listeners.set(event, fn);
        return () => listeners.delete(event);
      },
    };
    const sent = [];
    const bridge = { setBadge: async (n) => sent.push(n) };
    let ticker = null;
    const waiting = new Map();
    let nextTimer = 10;
    const timers = {
      setInterval: (fn) => { ticker = fn; return 1; },
      clearInterval: () => { ticker = null; },
      setTimeout: (fn) => { waiting.set(++nextTimer, fn); return nextTimer; },
      clearTimeout: (id) => waiting.delete(id),
    };
    const runTimers = () => { const due = [...waiting.values()]; waiting.clear(); for (const fn of due) fn(); };
    let today = day;
    const settle = () => new Promise((resolve) => setTimeout(resolve, 0));

    const stop = keepBadgeCurrent({ app, bridge, day: () => today, timers });
    await settle();
    assert.deepEqual(sent, [2], 'shown as soon as the page starts');

    app.data.deadlines[0].done = true;
    listeners.get('change')();
    listeners.get('change')();
    await settle();
    assert.deepEqual(sent, [2], 'edits are not counted inside the edit');
    assert.equal(waiting.size, 1, 'edits in a row wait for one count');
    runTimers();
    await settle();
    assert.deepEqual(sent, [2, 1], 'an edit that closes a deadline lowers the count, once');

    app.data.deadlines[0].done = false;
    listeners.get('change')();
    listeners.get('load')();
    await settle();
    assert.deepEqual(sent, [2, 1, 2], 'a load counts at once');
    assert.equal(waiting.size, 0, 'and takes the place of a count still waiting');
    app.data.deadlines[0].done = true;
    listeners.get('change')();
    runTimers();
    await settle();
    assert.deepEqual(sent, [2, 1, 2, 1]);
    sent.splice(0, 2);

    today = '2025-03-11';
    ticker();
    await settle();
    assert.deepEqual(sent, [2, 1, 2], 'a deadline due yesterday counts once the day turns');

    app.editable = false;
    listeners.get('load')();
    await settle();
    assert.deepEqual(sent, [2, 1, 2, 0], 'locked data shows no count');

    listeners.get('change')();
    stop();
    assert.equal(listeners.size, 0);
    assert.equal(ticker, null);
    assert.equal(waiting.size, 0, 'a count still waiting is dropped');
  });

  test('a failed badge call is tried again at the next change', async () => {
    const listeners = new Map();
    const app = { editable: true, data: structuredClone(doc), on: (event, fn) => { listeners.set(event, fn); return () => {}; } };
    let calls = 0;
    const bridge = { setBadge: async () => { calls += 1; if (calls === 1) throw new Error('no launcher'); } };
    keepBadgeCurrent({ app, bridge, day: () => day, timers: { setInterval: () => 0, clearInterval: () => {}, setTimeout: (fn) => { fn(); return 0; }, clearTimeout: () => {} } });
    await new Promise((resolve) => setTimeout(resolve, 0));
    listeners.get('change')();
    await new Promise((resolve) => setTimeout(resolve, 0));
    assert.equal(calls, 2);
  });

  test('without the desktop program nothing is kept', () => {
    assert.equal(typeof keepBadgeCurrent({ app: {}, bridge: null }), 'function');
  });
});
