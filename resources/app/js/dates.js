// Calendar days as 'YYYY-MM-DD' text in local time, which is how deadlines and appointments keep them.

const DAY = /^(\d{4})-(\d{2})-(\d{2})$/;

// Whether the text is a real calendar day. Checked by arithmetic rather than through Date: it
// runs for every deadline whenever a list is filtered.
export function isDay(value) {
  const m = typeof value === 'string' ? DAY.exec(value) : null;
  if (!m) return false;
  const y = Number(m[1]);
  const month = Number(m[2]);
  const d = Number(m[3]);
  if (month < 1 || month > 12 || d < 1) return false;
  const leap = (y % 4 === 0 && y % 100 !== 0) || y % 400 === 0;
  return d <= [31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1];
}

export function dayOf(date) {
  const y = date.getFullYear();
  const m = String(date.getMonth() + 1).padStart(2, '0');
  const d = String(date.getDate()).padStart(2, '0');
  return `${y}-${m}-${d}`;
}

export function today(now = new Date()) {
  return dayOf(now);
}

export function toDate(day) {
  const [y, m, d] = day.split('-').map(Number);
  return new Date(y, m - 1, d);
}

export function addDays(day, count) {
  const date = toDate(day);
  date.setDate(date.getDate() + count);
  return dayOf(date);
}

// Whole days from `from` to `to`; negative when `to` is earlier.
export function daysBetween(from, to) {
  return Math.round((toDate(to) - toDate(from)) / 86400000);
}

// The Monday of the week that holds the day.
export function weekStart(day) {
  const offset = (toDate(day).getDay() + 6) % 7;
  return addDays(day, -offset);
}

export function weekDays(day) {
  const start = weekStart(day);
  return Array.from({ length: 7 }, (_, i) => addDays(start, i));
}

// Six weeks from the Monday on or before the first of the month: a month view that never jumps in height.
export function monthGrid(year, month) {
  const first = dayOf(new Date(year, month, 1));
  const start = weekStart(first);
  return Array.from({ length: 42 }, (_, i) => addDays(start, i));
}

export function formatDay(day, locale, style = 'medium') {
  if (!isDay(day)) return String(day ?? '');
  return toDate(day).toLocaleDateString(locale, { dateStyle: style });
}

// "in 3 days", "today", "2 days ago": how a due date reads next to today.
export function relativeDay(day, from) {
  if (!isDay(day) || !isDay(from)) return '';
  const n = daysBetween(from, day);
  if (n === 0) return 'today';
  if (n === 1) return 'tomorrow';
  if (n === -1) return 'yesterday';
  return n > 0 ? `in ${n} days` : `${-n} days ago`;
}
