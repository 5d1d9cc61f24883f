// The screens and the addresses they live at (location.hash).

export const ROUTES = [
  { path: 'dashboard', title: 'Dashboard', icon: 'home', group: 'practice' },
  { path: 'clients', title: 'Clients', icon: 'people', group: 'practice' },
  { path: 'files', title: 'Files', icon: 'folder', group: 'practice', later: true },
  { path: 'deadlines', title: 'Deadlines', icon: 'flag', group: 'practice', later: true },
  { path: 'calendar', title: 'Calendar', icon: 'calendar', group: 'practice', later: true },
  { path: 'pdf', title: 'PDF Studio', icon: 'document', group: 'tools' },
  { path: 'billing', title: 'Billing', icon: 'receipt', group: 'tools', later: true },
  { path: 'settings', title: 'Settings', icon: 'gear', group: 'system' },
];

// Screens below a sidebar item; they keep their parent highlighted.
const SUBROUTES = [
  { path: 'settings/data', title: 'Data & backups', parent: 'settings' },
  { path: 'settings/server', title: 'Practice server', parent: 'settings' },
  { path: 'settings/documents', title: 'Documents & Drive', parent: 'settings' },
  { path: 'settings/security', title: 'Security', parent: 'settings' },
  { path: 'settings/printer', title: 'Printer', parent: 'settings' },
  // Where a click on the printed-file notification leads: PDF Studio's print inbox.
  { path: 'pdf/formcopy', title: 'PDF Studio', parent: 'pdf' },
];

export const DEFAULT_ROUTE = 'dashboard';

// "#/settings/data" → { path: 'settings/data', section: 'settings', title }.
// Anything unknown is the dashboard.
export function parseHash(hash) {
  const path = String(hash ?? '')
    .replace(/^#/, '')
    .replace(/^\/+|\/+$/g, '')
    .split(/[?]/)[0]
    .toLowerCase();
  const top = ROUTES.find((r) => r.path === path);
  if (top) return { path, section: path, title: top.title, later: !!top.later };
  const sub = SUBROUTES.find((r) => r.path === path);
  if (sub) return { path, section: sub.parent, title: sub.title, later: false };
  const fallback = ROUTES.find((r) => r.path === DEFAULT_ROUTE);
  return { path: DEFAULT_ROUTE, section: DEFAULT_ROUTE, title: fallback.title, later: false };
}

export function hrefFor(path) {
  return `#/${path}`;
}
