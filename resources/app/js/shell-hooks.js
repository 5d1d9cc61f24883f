// The system's lock events as the desktop program hands them to the page (menu commands and
// quillpost: links are the page's commands, in commands.js), and the launcher's badge.

import { deadlineState } from './practice-model.js';
import { isPlainObject } from './format.js';
import { today } from './dates.js';

export function connectLockWatch({ app, toast }) {
  // Encrypted data closes when the computer locks or sleeps: edits waiting for the save timer go
  // to disk first, then the data is read back sealed and the lock screen asks for the passphrase.
  // A save that fails keeps the data open rather than throw the edits away.
  let locking = false;
  window.addEventListener('qp-system-lock', async () => {
    if (locking || !app.encrypted || !app.editable) return;
    locking = true;
    try {
      if (app.dirty) await app.saveNow();
      await app.reload();
    } catch {
      toast("Quillpost couldn't lock your data because your latest changes aren't saved.", { kind: 'error' });
    } finally {
      locking = false;
    }
  });
}

// Open deadlines whose day has passed. One pass over the list without building any other, since
// it runs over every deadline of the practice.
export function overdueCount(doc, day) {
  const list = doc?.deadlines;
  if (!Array.isArray(list)) return 0;
  let count = 0;
  for (const deadline of list) {
    if (deadline === null || typeof deadline !== 'object' || deadline.done) continue;
    const due = deadline.due;
    // Only what the page shows counts: records with an id and a real day.
    if (typeof due !== 'string' || due >= day || typeof deadline.id !== 'string' || deadline.id === '') continue;
    if (isPlainObject(deadline) && deadlineState(deadline, day, day) === 'overdue') count += 1;
  }
  return count;
}

const DAY_CHECK_MS = 60 * 1000;
// Edits are counted a moment after the first of them, all at once, never inside an edit itself.
export const BADGE_DELAY_MS = 1000;

// Keeps the launcher's badge at the number of overdue deadlines: when the data is read, shortly
// after edits, and when the day turns. Locked data shows none, so the launcher says nothing about
// what a locked practice holds. The desktop program hears only of changes.
export function keepBadgeCurrent({ app, bridge, day = today, timers = globalThis, delay = BADGE_DELAY_MS }) {
  if (typeof bridge?.setBadge !== 'function') return () => {};
  let shown = null;
  let shownDay = day();
  let pending = null;
  const update = () => {
    if (pending !== null) timers.clearTimeout(pending);
    pending = null;
    shownDay = day();
    const count = app.editable ? overdueCount(app.data, shownDay) : 0;
    if (count === shown) return;
    shown = count;
    Promise.resolve()
      .then(() => bridge.setBadge(count))
      .catch(() => { shown = null; });
  };
  const later = () => {
    if (pending === null) pending = timers.setTimeout(update, delay);
  };
  const offLoad = app.on('load', update);
  const offChange = app.on('change', later);
  const tick = timers.setInterval(() => { if (day() !== shownDay) update(); }, DAY_CHECK_MS);
  update();
  return () => {
    offLoad();
    offChange();
    timers.clearInterval(tick);
    if (pending !== null) timers.clearTimeout(pending);
    pending = null;
  };
}
