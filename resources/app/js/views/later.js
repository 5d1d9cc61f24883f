// Screens that belong to later versions: what each one will do, and nothing more.

import { h, pageHeader } from '../ui.js';
import { icon } from '../icons.js';

const PLANS = {
  files: {
    icon: 'folder',
    lead: 'One folder per client for passports, forms, letters and everything else that arrives.',
    points: [
      'Open or create the folder of a client file straight from the client.',
      'Save documents into the right folder and find them again per client.',
      'Works with a folder on this computer or inside a synced cloud drive.',
    ],
  },
  deadlines: {
    icon: 'flag',
    lead: 'Every date that matters for a file, in one list ordered by what is due first.',
    points: [
      'Filing deadlines, permit and visa expiry dates, and follow-ups per client.',
      'Reminders before something is due.',
      'A clear view of what is overdue.',
    ],
  },
  calendar: {
    icon: 'calendar',
    lead: 'Appointments and deadlines on a month and week view.',
    points: [
      'Client meetings next to the deadlines of their files.',
      'Jump from a day to the clients involved.',
    ],
  },
  billing: {
    icon: 'receipt',
    lead: 'Fees, invoices and payments for each client file.',
    points: [
      'Record fees and disbursements per file.',
      'Create invoices and keep track of what has been paid.',
    ],
  },
};

export function render(root, { route }) {
  const plan = PLANS[route.path];
  root.append(
    pageHeader(route.title),
    h('section', { class: 'card later', id: 'coming-later', 'aria-labelledby': 'coming-later-title' },
      h('div', { class: 'later-icon' }, icon(plan?.icon ?? 'clock', 28)),
      h('div', { class: 'later-body' },
        h('p', { class: 'later-tag', text: 'Coming in a later version' }),
        h('h2', { class: 'later-title', id: 'coming-later-title', text: plan?.lead ?? `${route.title} is on its way.` }),
        plan ? h('ul', { class: 'later-list' }, plan.points.map((point) => h('li', { text: point }))) : null,
        h('p', { class: 'muted', text: 'This version of Quillpost doesn\'t include it yet. Your clients and data are not affected.' }))),
  );
}
