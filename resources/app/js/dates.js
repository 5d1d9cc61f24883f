// Calendar days as 'YYYY-MM-DD' text in local time, which is how deadlines and appointments keep them.

const DAY = /^(\d{4})-(\d{2})-(\d{2})$/;

const MONTH_DAYS = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31];

// Whether the text is a real calendar day. Checked by arithmetic rather than through Date: it
// runs for every deadline whenever a list is filtered.
export function isDay(value) {
  const m = typeof value === 'string' ? DAY.exec(value) : null;
  if (!m) return false;
  const y = Number(m[1]);
  const month = Number(m[2]);
  const d = Number(m[3]);
  if (month < 1 || month > 12 || d < 1) return false;
  if (month !== 2) return d <= MONTH_DAYS[month - 1];
  const leap = (y % 4 === 0 && y % 100 !== 0) || y % 400 === 0;
  return d <= (leap ? 29 : 28);
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

// Days are shown as "7 Dec 2026" whatever the desktop's locale: a consultant reads dates from
// forms of several countries, and "12/07/2026" means July to some and December to others. The
// month's name is what makes the order unambiguous, so the month names stay English like the page.
const MONTHS = ['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August', 'September', 'October', 'November', 'December'];
const WEEKDAYS = ['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];

// 'short' and 'medium': "7 Dec 2026"; 'long': "7 December 2026"; 'full': "Monday 7 December 2026".
export function formatDay(day, _locale, style = 'medium') {
  if (!isDay(day)) return String(day ?? '');
  const [y, m, d] = day.split('-').map(Number);
  const month = style === 'long' || style === 'full' ? MONTHS[m - 1] : MONTHS[m - 1].slice(0, 3);
  const shown = `${d} ${month} ${y}`;
  return style === 'full' ? `${WEEKDAYS[toDate(day).getDay()]} ${shown}` : shown;
}

const monthNumber = (word) => {
  const w = word.toLowerCase().replace(/\.$/, '');
  if (w.length < 3) return 0;
  const i = MONTHS.findIndex((name) => name.toLowerCase().startsWith(w) || (w === 'sept' && name === 'September'));
  return i + 1;
};
const dayText = (y, m, d) => {
  const text = `${String(y).padStart(4, '0')}-${String(m).padStart(2, '0')}-${String(d).padStart(2, '0')}`;
  return isDay(text) ? text : null;
};

// A typed day as 'YYYY-MM-DD', or null. Accepts the shown form ("7 Dec 2026", "7 December 2026"),
// the month first ("Dec 7, 2026") and ISO ("2026-12-07", also with slashes or dots). All-number
// orders other than year first ("07/12/2026") are refused rather than guessed.
export function parseDay(value) {
  const s = String(value ?? '').trim().replace(/\s+/g, ' ');
  let m = /^(\d{4})[-/.](\d{1,2})[-/.](\d{1,2})$/.exec(s);
  if (m) return dayText(+m[1], +m[2], +m[3]);
  m = /^(\d{1,2})(?:st|nd|rd|th)? ([a-z]+\.?),? (\d{4})$/i.exec(s);
  if (m) return monthNumber(m[2]) ? dayText(+m[3], monthNumber(m[2]), +m[1]) : null;
  m = /^([a-z]+\.?) (\d{1,2})(?:st|nd|rd|th)?,? (\d{4})$/i.exec(s);
  if (m) return monthNumber(m[1]) ? dayText(+m[3], monthNumber(m[1]), +m[2]) : null;
  return null;
}

// A typed time of day as 'HH:MM' (24-hour), or null: "14:30", "1430", "930", "9", "2:30 pm",
// "2pm", "12 am", "14.30", "14h30".
export function parseTime(value) {
  const s = String(value ?? '').trim().toLowerCase().replace(/\s+/g, '');
  const m = /^(\d{1,2})(?:[:.h]?(\d{2}))?(am|pm|a|p)?$/.exec(s) ?? /^(\d{1,2})(\d{2})(am|pm|a|p)?$/.exec(s);
  if (!m) return null;
  let hours = Number(m[1]);
  const minutes = m[2] === undefined ? 0 : Number(m[2]);
  if (minutes > 59) return null;
  if (m[3]) {
    if (hours < 1 || hours > 12) return null;
    hours = (hours % 12) + (m[3].startsWith('p') ? 12 : 0);
  } else if (hours > 23) {
    return null;
  }
  return `${String(hours).padStart(2, '0')}:${String(minutes).padStart(2, '0')}`;
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
