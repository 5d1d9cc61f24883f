// The screens and the addresses they live at (location.hash).

export const ROUTES = [
  { path: 'dashboard', title: 'Dashboard', icon: 'home', group: 'practice' },
  { path: 'clients', title: 'Clients', icon: 'people', group: 'practice' },
  { path: 'files', title: 'Files', icon: 'folder', group: 'practice' },
  { path: 'deadlines', title: 'Deadlines', icon: 'flag', group: 'practice' },
  { path: 'calendar', title: 'Calendar', icon: 'calendar', group: 'practice' },
  { path: 'pdf', title: 'PDF Studio', icon: 'document', group: 'tools' },
  { path: 'billing', title: 'Billing', icon: 'receipt', group: 'tools' },
  { path: 'settings', title: 'Settings', icon: 'gear', group: 'system' },
];

// Screens below a sidebar item; they keep their parent highlighted.
export const SUBROUTES = [
  { path: 'import', title: 'Import & export', parent: 'clients' },
  { path: 'settings/data', title: 'Data & backups', parent: 'settings' },
  { path: 'settings/server', title: 'Practice server', parent: 'settings' },
  { path: 'settings/documents', title: 'Documents & Drive', parent: 'settings' },
  { path: 'settings/security', title: 'Security', parent: 'settings' },
  { path: 'settings/printer', title: 'Printer', parent: 'settings' },
  // Where a click on the printed-file notification leads: PDF Studio's print inbox.
  { path: 'pdf/formcopy', title: 'PDF Studio', parent: 'pdf' },
];

// One thing of the practice: "#/file/<id>" and the like.
const ITEMS = [
  { path: 'client', title: 'Client', parent: 'clients' },
  { path: 'file', title: 'File', parent: 'files' },
  { path: 'deadline', title: 'Deadlines', parent: 'deadlines' },
  { path: 'invoice', title: 'Invoice', parent: 'billing' },
];

export const DEFAULT_ROUTE = 'dashboard';

// "#/settings/data" → { path: 'settings/data', section: 'settings', title };
// "#/file/AbC" → { path: 'file', section: 'files', title: 'File', id: 'AbC' }.
// Anything unknown is the dashboard.
export function parseHash(hash) {
  const raw = String(hash ?? '')
    .replace(/^#/, '')
    .replace(/^\/+|\/+$/g, '')
    .split(/[?]/)[0];
  const path = raw.toLowerCase();
  const top = ROUTES.find((r) => r.path === path);
  if (top) return { path, section: path, title: top.title };
  const sub = SUBROUTES.find((r) => r.path === path);
  if (sub) return { path, section: sub.parent, title: sub.title };
  const slash = raw.indexOf('/');
  if (slash > 0) {
    const item = ITEMS.find((r) => r.path === path.slice(0, slash));
    let id = raw.slice(slash + 1);
    try { id = decodeURIComponent(id); } catch { /* kept as typed */ }
    if (item && id && !id.includes('/')) return { path: item.path, section: item.parent, title: item.title, id };
  }
  const fallback = ROUTES.find((r) => r.path === DEFAULT_ROUTE);
  return { path: DEFAULT_ROUTE, section: DEFAULT_ROUTE, title: fallback.title };
}

export function hrefFor(path) {
  return `#/${path}`;
}

export function itemHref(kind, id) {
  return `#/${kind}/${encodeURIComponent(id)}`;
}
