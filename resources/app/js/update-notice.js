// An update that a scheduled check found, announced wherever the user is: a notice above the
// screen, and once per version a desktop notification whose click opens Settings.

import { isPlainObject } from './format.js';
import { describeUpdateEvent } from './app-updates.js';

// The notice's next state for one qp-update event: { next, text, status } to show, null to take
// it away, or the current one unchanged. Only a scheduled find opens a notice; later steps of
// the same update change its text.
export function nextUpdateNotice(current, detail) {
  if (!isPlainObject(detail)) return current;
  const shown = describeUpdateEvent(detail);
  if (detail.status === 'available' && detail.scheduled === true && shown) {
    return { next: String(detail.next || ''), text: shown.text, status: 'available' };
  }
  if (!current) return current;
  // A copy that can't replace itself says where the new version comes from instead.
  if ((detail.status === 'ready' || detail.status === 'unwritable') && shown) return { ...current, text: shown.text, status: detail.status };
  if (detail.status === 'installed' || detail.status === 'none') return null;
  return current;
}

// Listens on target (the window) for the updater's events. render() is called whenever the
// notice changes; notify(title, onClick) posts the desktop notification.
export function connectUpdateNotice({ target, render, notify }) {
  let current = null;
  const notified = new Set();
  target.addEventListener('qp-update', (event) => {
    const next = nextUpdateNotice(current, event.detail);
    if (next === current) return;
    current = next;
    if (current && current.status === 'available' && !notified.has(current.next)) {
      notified.add(current.next);
      notify(current.text);
    }
    render();
  });
  return {
    get notice() { return current; },
    dismiss() {
      current = null;
      render();
    },
  };
}
