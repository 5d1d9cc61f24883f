// Settings: the way into Data & backups, and what this copy of Quillpost is.

import { h, pageHeader, card } from '../ui.js';
import { icon } from '../icons.js';
import { messageOf, isPlainObject } from '../format.js';
import { hrefFor } from '../routes.js';

export function render(root, { bridge }) {
  root.append(pageHeader('Settings'));

  root.append(h('a', { class: 'card card-link', href: hrefFor('settings/data'), id: 'settings-data-link' },
    h('span', { class: 'card-link-icon' }, icon('shield', 22)),
    h('span', { class: 'card-link-text' },
      h('span', { class: 'card-link-title', text: 'Data & backups' }),
      h('span', { class: 'muted', text: 'Where your data is kept, daily snapshots, a backup folder, and restoring an earlier copy.' })),
    icon('chevron', 18)));

  root.append(h('a', { class: 'card card-link', href: hrefFor('settings/documents'), id: 'settings-documents-link' },
    h('span', { class: 'card-link-icon' }, icon('folder', 22)),
    h('span', { class: 'card-link-text' },
      h('span', { class: 'card-link-title', text: 'Documents & Drive' }),
      h('span', { class: 'muted', text: "Where clients' documents are filed, and keeping them in your Google Drive." })),
    icon('chevron', 18)));

  root.append(h('a', { class: 'card card-link', href: hrefFor('settings/server'), id: 'settings-server-link' },
    h('span', { class: 'card-link-icon' }, icon('people', 22)),
    h('span', { class: 'card-link-text' },
      h('span', { class: 'card-link-title', text: 'Practice server' }),
      h('span', { class: 'muted', text: 'The server that makes secure upload links for your clients.' })),
    icon('chevron', 18)));

  root.append(h('a', { class: 'card card-link', href: hrefFor('settings/security'), id: 'settings-security-link' },
    h('span', { class: 'card-link-icon' }, icon('shield', 22)),
    h('span', { class: 'card-link-text' },
      h('span', { class: 'card-link-title', text: 'Security' }),
      h('span', { class: 'muted', text: 'Encrypt your data with a passphrase, and unlock it or the client-account vault with a fingerprint.' })),
    icon('chevron', 18)));

  root.append(h('a', { class: 'card card-link', href: hrefFor('settings/printer'), id: 'settings-printer-link' },
    h('span', { class: 'card-link-icon' }, icon('printer', 22)),
    h('span', { class: 'card-link-text' },
      h('span', { class: 'card-link-title', text: 'Printer' }),
      h('span', { class: 'muted', text: 'The printer "Quillpost PDF", which saves what you print into PDF Studio.' })),
    icon('chevron', 18)));

  const about = h('div', { id: 'about' });
  root.append(card('About Quillpost', about));

  if (!bridge) {
    about.append(h('p', { class: 'muted', text: 'Running in a web browser. Version details come from the desktop program.' }));
    return;
  }

  about.append(h('p', { class: 'muted', text: 'Reading…' }));
  let active = true;
  Promise.resolve()
    .then(() => bridge.info())
    .then((info) => {
      if (!active) return;
      if (!isPlainObject(info)) throw new Error("Quillpost couldn't read its own details.");
      about.replaceChildren(h('dl', { class: 'facts' },
        fact('Version', 'about-version', info.version),
        fact('Platform', 'about-platform', info.platform ?? bridge.platform),
        fact('Native side', 'about-native', info.native ?? bridge.native)));
    })
    .catch((error) => {
      if (active) about.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: messageOf(error) }));
    });

  return () => { active = false; };
}

function fact(label, id, value) {
  return h('div', { class: 'fact' },
    h('dt', { text: label }),
    h('dd', { id, text: value ? String(value) : 'Unknown' }));
}
