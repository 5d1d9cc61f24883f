import { test } from 'node:test';
import assert from 'node:assert/strict';
import { dueReminders } from '../../resources/app/js/reminders.js';

test('a deadline is due a reminder exactly when its due day is within its window', () => {
  const cases = [
    // [today, due, reminder window, due a reminder]
    ['2026-03-06', '2026-03-09', undefined, true], ['2026-03-06', '2026-03-10', undefined, false], // the default is three days
    ['2026-03-28', '2026-03-29', 1, true], ['2026-03-28', '2026-03-30', 1, false], ['2026-10-30', '2026-10-30', 0, true],
    ['2026-10-30', '2026-10-31', 0, false], ['2024-02-27', '2024-03-05', 7, true], ['2024-02-27', '2024-03-06', 7, false],
    ['2025-12-30', '2026-02-28', 60, true], ['2025-12-30', '2026-03-01', 60, false], ['2026-03-06', '2026-03-04', -2, true],
    ['2026-03-06', '2026-03-05', -2, false], ['2026-03-06', '2026-03-09', 2.5, true], ['2026-03-06', '2026-03-10', '3', false],
    ['2026-03-06', '2027-04-10', 400, true], ['2026-03-06', '2027-04-11', 400, false], ['2026-03-06', '2027-07-19', 1e9, true],
    ['2026-03-06', '2015-01-01', -1e9, false], ['2026-03-06', '2015-01-01', undefined, true], ['2026-03-06', 'soon', 3, false],
    ['2026-03-06', '2026-02-30', undefined, false], ['2026-03-06', '2026-3-1', 3, false], ['2026-03-06', null, 3, false],
    ['2026-03-06', '12026-03-01', 1e9, false], ['2026-03-06', 20260301, 3, false], ['2026-03-06', '', 3, false],
  ];
  for (const [day, due, remindDays, expected] of cases) {
    assert.equal(dueReminders([{ due, remindDays }], day).length, expected ? 1 : 0, `${due} from ${day} within ${remindDays}`);
  }
  const tomorrow = '2026-03-07';
  const others = [
    { id: 'done', due: tomorrow, done: true }, { id: 'reminded', due: tomorrow, remindedFor: tomorrow },
    { id: 'moved since', due: tomorrow, remindedFor: '2026-03-08' },
  ];
  assert.deepEqual(dueReminders(others, '2026-03-06').map((d) => d.id), ['moved since']);
});
