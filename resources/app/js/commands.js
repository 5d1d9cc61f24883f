// What the desktop program asks of the page: menu commands (through quillpost.onMenu) and
// quillpost: links (window.__qpLink). Both become one action the page's frame carries out.

import { SUBROUTES } from './routes.js';

const GO = new Set(['dashboard', 'clients', 'files', 'deadlines', 'calendar', 'pdf', 'billing', 'settings', 'import']);
const ITEMS = new Set(['client', 'file', 'deadline', 'invoice']);

// A menu command → { kind: 'go', path, intent } | { kind: 'find' } | { kind: 'tour' } | null.
export function menuAction(command) {
  const name = typeof command === 'string' ? command.trim() : '';
  if (name.startsWith('go:')) {
    const path = name.slice(3).toLowerCase();
    return GO.has(path) ? { kind: 'go', path } : null;
  }
  switch (name) {
    case 'newClient': return { kind: 'go', path: 'clients', intent: { action: 'add' } };
    case 'newFile': return { kind: 'go', path: 'files', intent: { action: 'add' } };
    case 'logComm': return { kind: 'log-contact' };
    case 'find': return { kind: 'find' };
    case 'tour': return { kind: 'tour' };
    default: return null;
  }
}

// "quillpost://file/<id>" → "file/<id>"; "quillpost://deadlines" → "deadlines". Null for
// anything else. The id keeps its letter case; the scheme and the screen name don't matter.
export function linkPath(link) {
  const m = /^quillpost:(?:\/\/)?([^?#]*)/i.exec(String(link ?? '').trim());
  if (!m) return null;
  const parts = m[1].split('/').filter(Boolean).map((p) => { try { return decodeURIComponent(p); } catch { return p; } });
  if (parts.length === 0) return 'dashboard';
  const head = parts[0].toLowerCase();
  if (ITEMS.has(head) && parts.length === 2 && parts[1]) return `${head}/${parts[1]}`;
  if (parts.length === 1 && GO.has(head)) return head;
  // A screen inside another, such as quillpost://settings/data.
  const nested = parts.map((p) => p.toLowerCase()).join('/');
  if (parts.length > 1 && SUBROUTES.some((route) => route.path === nested)) return nested;
  return null;
}
