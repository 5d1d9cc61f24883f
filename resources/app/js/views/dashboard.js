// The first screen: what is in the practice's data, and the usual places to go next.

import { h, pageHeader, card, button, showError } from '../ui.js';
import { printActions } from '../print-actions.js';
import { icon } from '../icons.js';
import { clientsOf, countByStatus, newestClients, statusLabel, STATUSES, text } from '../clients-model.js';
import { irccPanel } from './ircc-panel.js';
import { indexOf, filterDeadlines, weekCounts, CLOSED_FILE_STATUSES } from '../practice-model.js';
import { isEmptyPractice } from '../demo-data.js';
import { today as todayDay, formatDay } from '../dates.js';
import { deadlineItem } from './deadline-parts.js';

export function render(root, { app, bridge, navigate }) {
  const clients = clientsOf(app.data);
  const today = formatDay(todayDay(), undefined, 'full');

  root.append(pageHeader('Dashboard', today, ...printActions(bridge, 'Dashboard.pdf')));

  const canEdit = app.editable;
  const counts = countByStatus(clients);
  const open = clients.filter((c) => c.status !== 'closed').length;

  // With the data unreadable or encrypted there is nothing to count, and a zero would mislead.
  const unknown = app.lock && app.lock.kind !== 'newer' && !(Array.isArray(app.data.clients) && clients.length > 0);
  const index = indexOf(app.data, app.revision);
  const day = todayDay();
  // One pass for the list and its counts: sorted by due day, the overdue deadlines come first.
  const week = filterDeadlines(index.deadlines, { show: 'week', day });
  const due = weekCounts(week, day);
  const openFiles = index.files.filter((f) => !CLOSED_FILE_STATUSES.has(f.status)).length;
  root.append(h('div', { class: 'stats stats-4' },
    stat('stat-clients', unknown ? '—' : clients.length, clients.length === 1 ? 'Client' : 'Clients',
      unknown ? 'Not available' : 'In your practice data'),
    stat('stat-open', unknown ? '—' : openFiles || open, (openFiles || open) === 1 ? 'Open file' : 'Open files',
      unknown ? 'Not available' : openFiles ? 'Files not closed' : 'Clients not marked closed'),
    stat('stat-overdue', unknown ? '—' : due.overdue, 'Overdue', unknown ? 'Not available' : 'Deadlines past due'),
    stat('stat-week', unknown ? '—' : due.soon, 'Due this week', unknown ? 'Not available' : 'In the next 7 days'),
  ));
  if (due.overdue) root.querySelector('#stat-overdue').classList.add('stat-alert');

  const redraw = () => navigate('dashboard');
  if (week.length) {
    root.append(card('Due soon', h('ul', { class: 'deadline-list', id: 'dashboard-deadlines' },
      week.slice(0, 8).map((d) => deadlineItem(app, d, { onChange: redraw, host: root }))),
    week.length > 8 ? h('p', {}, h('a', { class: 'inline-link', href: '#/deadlines', text: due.overdue ? `All ${due.week}: ${due.overdue} overdue, ${due.soon} due this week` : `All ${due.soon} due this week` })) : null));
  }
  if (canEdit && isEmptyPractice(app.data)) {
    root.append(card('Try Quillpost with sample clients',
      h('p', { class: 'muted card-intro', text: 'Fill this empty practice with a dozen made-up clients, their files, deadlines and invoices, to see every screen at work. Remove them whenever you like.' }),
      button('Add demonstration data', { id: 'demo-data', iconName: 'plus', onClick: async () => {
        try {
          await app.loadDemoData();
        } catch (error) {
          showError(error);
        }
      } })));
  }

  const shortcuts = card('Shortcuts',
    h('div', { class: 'shortcuts' },
      shortcut('shortcut-add-client', 'plus', 'Add a client', 'Start a new client record',
        () => navigate('clients', { action: 'add' }), !canEdit),
      shortcut('shortcut-find-client', 'search', 'Find anything', 'Clients, files, deadlines and invoices (Ctrl+K)',
        () => app.runMenuCommand ? app.runMenuCommand('find') : navigate('clients', { action: 'search' })),
      shortcut('shortcut-new-file', 'folder', 'Open a file', 'A new application for a client',
        () => navigate('files', { action: 'add' }), !canEdit || clients.length === 0),
      shortcut('shortcut-data', 'shield', 'Data & backups', 'Data file, snapshots and backup folder',
        () => navigate('settings/data'))));

  const byStatus = card('Clients by status', statusList(counts, clients.length, canEdit, navigate));
  const recent = card('Recently added', recentList(clients, navigate));

  const ircc = irccPanel(bridge);
  root.append(h('div', { class: 'grid-2' }, shortcuts, byStatus), h('div', { class: 'grid-2' }, recent, ircc.panel));
  return ircc.dispose;
}

function stat(id, value, label, hint) {
  return h('div', { class: 'stat card', id },
    h('p', { class: 'stat-value', text: String(value) }),
    h('p', { class: 'stat-label', text: label }),
    h('p', { class: 'stat-hint', text: hint }));
}

function shortcut(id, iconName, title, hint, onClick, disabled = false) {
  return h('button', { type: 'button', class: 'shortcut', id, onClick, disabled },
    h('span', { class: 'shortcut-icon' }, icon(iconName, 18)),
    h('span', { class: 'shortcut-text' },
      h('span', { class: 'shortcut-title', text: title }),
      h('span', { class: 'shortcut-hint', text: hint })));
}

function statusList(counts, total, canEdit, navigate) {
  if (total === 0) {
    return h('div', { class: 'empty-small' },
      h('p', { class: 'muted', text: 'No clients yet. Counts appear here once you add your first client.' }),
      canEdit ? button('Add a client', { kind: 'primary', iconName: 'plus', onClick: () => navigate('clients', { action: 'add' }) }) : null);
  }
  const known = STATUSES.map((s) => s.value);
  const order = [...known, ...[...counts.keys()].filter((k) => !known.includes(k) && k !== ''), ''];
  const rows = order.filter((key) => counts.has(key)).map((key) =>
    h('li', {},
      h('span', { class: `status-pill status-${known.includes(key) ? key : 'other'}`, text: key ? statusLabel(key) : 'No status' }),
      h('span', { class: 'count', text: String(counts.get(key)) })));
  return h('ul', { class: 'status-counts', id: 'status-counts' }, rows);
}

function recentList(clients, navigate) {
  const recent = newestClients(clients, 5);
  if (recent.length === 0) {
    return h('p', { class: 'muted', text: 'Clients you add will be listed here.' });
  }
  return h('ul', { class: 'recent', id: 'recent-clients' }, recent.map((client) => recentItem(client, navigate)));
}

function recentItem(client, navigate) {
  return h('li', {},
    h('a', { class: 'recent-name', href: `#/client/${encodeURIComponent(client.id)}`, text: text(client.name) || 'Unnamed client' }),
    h('span', { class: 'muted', text: [text(client.fileNumber), `added ${new Date(client.createdAt).toLocaleDateString(undefined, { dateStyle: 'medium' })}`].filter(Boolean).join(' · ') }));
}
