// Settings: the ways into each group of settings, and what this copy of Quillpost is.

import { h, pageHeader, card } from '../ui.js';
import { icon } from '../icons.js';
import { plainError, isPlainObject } from '../format.js';
import { hrefFor } from '../routes.js';
import { renderUpdates } from './updates-card.js';

export function render(root, { bridge }) {
  root.append(pageHeader('Settings'));

  const sections = [
    ['data', 'shield', 'Data & backups', 'Where your data is kept, daily snapshots, a backup folder, and restoring an earlier copy.'],
    ['documents', 'folder', 'Documents & Drive', "Where clients' documents are filed, and keeping them in your Google Drive."],
    ['server', 'people', 'Practice server', 'The server that makes secure upload links for your clients.'],
    ['security', 'shield', 'Security', 'Encrypt your data with a passphrase, and unlock it or the client-account vault with a fingerprint.'],
    ['printer', 'printer', 'Printer', 'The printer "Quillpost PDF", which saves what you print into PDF Studio.'],
  ];
  for (const [route, iconName, title, text] of sections) {
    root.append(h('a', { class: 'card card-link', href: hrefFor(`settings/${route}`), id: `settings-${route}-link` },
      h('span', { class: 'card-link-icon' }, icon(iconName, 22)),
      h('span', { class: 'card-link-text' },
        h('span', { class: 'card-link-title', text: title }),
        h('span', { class: 'muted', text })),
      icon('chevron', 18)));
  }

  const about = h('div', { id: 'about' });
  const updates = h('div', { id: 'about-updates' });
  root.append(card('About Quillpost', about, updates));

  if (!bridge) {
    about.append(h('p', { class: 'muted', text: 'Running in a web browser. Version details come from the desktop program.' }));
    return;
  }

  about.append(h('p', { class: 'muted', text: 'Reading…' }));
  const stopUpdates = renderUpdates(updates, bridge);
  let active = true;
  Promise.resolve()
    .then(() => bridge.info())
    .then((info) => {
      if (!active) return;
      if (!isPlainObject(info)) throw new Error("Quillpost couldn't read its own details.");
      about.replaceChildren(h('dl', { class: 'facts' },
        fact('Version', 'about-version', info.version)),
        // What only a support question needs stays folded away.
        h('details', { class: 'about-details' }, h('summary', { text: 'Technical details' }),
          h('dl', { class: 'facts' },
            fact('Platform', 'about-platform', info.platform ?? bridge.platform),
            fact('Native side', 'about-native', info.native ?? bridge.native))));
    })
    .catch((error) => {
      if (active) about.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: plainError(error).message }));
    });

  return () => {
    active = false;
    stopUpdates();
  };
}

function fact(label, id, value) {
  return h('div', { class: 'fact' },
    h('dt', { text: label }),
    h('dd', { id, text: value ? String(value) : 'Unknown' }));
}
