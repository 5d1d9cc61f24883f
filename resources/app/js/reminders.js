// Reminders of deadlines through the page's Notification, which the desktop program shows as a
// system notification and whose click it hands back (window.__qpNotifyClick).

import { text } from './clients-model.js';
import { clientName, deadlineKindLabel } from './practice-model.js';
import { isDay, daysBetween, addDays, formatDay, relativeDay } from './dates.js';

export const DEFAULT_REMIND_DAYS = 3;

// Open deadlines that are within their reminder window (or past due) and haven't been reminded
// of for this due date. Moving the due date arms the reminder again.
// The last day of each reminder window is worked out once per window rather than once per
// deadline (days compare as text); unusually long windows are counted in days.
export function dueReminders(deadlines, day) {
  const lastDays = new Map();
  const lastDayOf = (window) => {
    let last = lastDays.get(window);
    if (last === undefined) lastDays.set(window, (last = Math.abs(window) <= 36500 ? addDays(day, window) : null));
    return last;
  };
  return deadlines.filter((d) => {
    if (d.done || typeof d.due !== 'string' || d.remindedFor === d.due) return false;
    const window = Number.isInteger(d.remindDays) ? d.remindDays : DEFAULT_REMIND_DAYS;
    const last = lastDayOf(window);
    if (last !== null && d.due > last) return false;
    if (!isDay(d.due)) return false;
    return last !== null || daysBetween(day, d.due) <= window;
  });
}

export function reminderText(deadline, index, day) {
  const who = deadline.clientId ? clientName(index, deadline.clientId) : '';
  const title = `${text(deadline.title) || deadlineKindLabel(deadline.kind)}${who ? ` – ${who}` : ''}`;
  const when = relativeDay(deadline.due, day);
  const body = `${deadlineKindLabel(deadline.kind)} due ${formatDay(deadline.due)}${when ? ` (${when})` : ''}.`;
  return { title, body };
}

// Shows one reminder; a click on it calls onOpen(deadline id). Answers the notification, or
// null where the page has no Notification at all.
export function notify(deadline, index, day, onOpen) {
  const Notice = globalThis.Notification;
  if (typeof Notice !== 'function') return null;
  const { title, body } = reminderText(deadline, index, day);
  const shown = new Notice(title, { body, tag: `deadline:${deadline.id}` });
  shown.onclick = () => onOpen(deadline.id);
  return shown;
}
