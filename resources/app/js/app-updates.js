// What Settings → About says about the program's own updates, from the updater's events.

import { isPlainObject } from './format.js';

function megabytes(bytes) {
  return `${(bytes / 1048576).toFixed(1)} MB`;
}

// { text, kind: 'info' | 'ok' | 'error', progress: 0…1 or null } for one qp-update event; null
// for events that change nothing on screen.
export function describeUpdateEvent(detail) {
  if (!isPlainObject(detail)) return null;
  const next = typeof detail.next === 'string' && detail.next ? detail.next : 'a new version';
  switch (detail.status) {
    case 'checking': return { text: 'Checking for a newer version…', kind: 'info', progress: null };
    case 'none': return { text: 'Quillpost is up to date.', kind: 'ok', progress: null };
    case 'available': return { text: `Quillpost ${next} is available.`, kind: 'info', progress: null };
    case 'opened': return { text: `Downloading Quillpost ${next}…`, kind: 'info', progress: 0 };
    case 'downloading': {
      const received = Number(detail.received) || 0;
      const total = Number(detail.total) || 0;
      const progress = total > 0 ? Math.min(1, received / total) : null;
      return { text: `Downloading Quillpost ${next}… ${megabytes(received)}${total ? ` of ${megabytes(total)}` : ''}`, kind: 'info', progress };
    }
    case 'ready': return { text: `Quillpost ${next} is ready. It is installed when you quit Quillpost.`, kind: 'ok', progress: 1 };
    case 'installed': return { text: `Quillpost ${next} is installed.`, kind: 'ok', progress: 1 };
    case 'unwritable': return { text: String(detail.message || `Quillpost ${next} is available from your package manager.`), kind: 'info', progress: null };
    case 'error': return { text: String(detail.message || 'The update failed.'), kind: 'error', progress: null };
    default: return null;
  }
}

export function describeLastCheck(info, locale) {
  if (!isPlainObject(info) || !info.lastCheck) return 'Not checked yet.';
  const when = new Date(info.lastCheck);
  if (Number.isNaN(when.getTime())) return 'Not checked yet.';
  return `Last checked ${when.toLocaleString(locale, { dateStyle: 'medium', timeStyle: 'short' })}.`;
}
