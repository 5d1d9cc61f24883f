// Which deadlines are due a reminder: the same as counting the days to each due date, across
// month ends, leap days, daylight-saving changes and odd reminder windows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { dueReminders, DEFAULT_REMIND_DAYS } from '../../resources/app/js/reminders.js';
import { addDays, daysBetween, isDay } from '../../resources/app/js/dates.js';

// The rule as it reads: open, a real day, not yet reminded for it, and within its window.
const expected = (deadlines, day) => deadlines.filter((d) => {
  if (d.done || !isDay(d.due) || d.remindedFor === d.due) return false;
  const window = Number.isInteger(d.remindDays) ? d.remindDays : DEFAULT_REMIND_DAYS;
  return daysBetween(day, d.due) <= window;
});

test('a deadline is due a reminder exactly when its due day is within its window', () => {
  const windows = [undefined, 0, 1, 3, 7, 60, -2, 2.5, '3', 400, 1e9, -1e9];
  const odd = ['2026-02-30', 'soon', '', '2026-3-1', '12026-03-01', null, 20260301];
  const days = ['2026-03-06', '2026-03-28', '2026-10-30', '2024-02-27', '2025-12-30'];
  for (const day of days) {
    const deadlines = [];
    for (const remindDays of windows) {
      for (let offset = -5; offset <= 70; offset += 1) {
        deadlines.push({ id: `${remindDays}/${offset}`, due: addDays(day, offset), remindDays, done: offset % 11 === 0 });
      }
      deadlines.push({ id: `${remindDays}/far`, due: addDays(day, 500), remindDays });
      deadlines.push({ id: `${remindDays}/long ago`, due: addDays(day, -4000), remindDays });
      for (const due of odd) deadlines.push({ id: `${remindDays}/${due}`, due, remindDays });
    }
    deadlines.push({ id: 'reminded', due: addDays(day, 1), remindedFor: addDays(day, 1) });
    deadlines.push({ id: 'moved since', due: addDays(day, 1), remindedFor: addDays(day, 2) });
    const got = dueReminders(deadlines, day).map((d) => d.id);
    assert.deepEqual(got, expected(deadlines, day).map((d) => d.id), day);
    assert.ok(got.includes('moved since') && !got.includes('reminded') && got.includes(`${1e9}/far`), day);
  }
});
