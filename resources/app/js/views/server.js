// Settings → Practice server: the address and key of the practice's own server, which makes the
// secure upload links clients use to send documents.

import { h, button, pageHeader, card, toast, showError } from '../ui.js';
import { icon } from '../icons.js';
import { hrefFor } from '../routes.js';
import { serverSettings, checkAddress, whoAmI } from '../practice-server.js';
import { shareCards } from './share-card.js';

export function render(root, { app, bridge }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('settings') }, icon('back', 16), h('span', { text: 'Settings' })),
    pageHeader('Practice server', 'The server that makes secure upload links for your clients.'));

  const current = serverSettings(app.data);
  const base = h('input', { id: 'server-base', type: 'url', autocomplete: 'off', placeholder: 'https://your-practice.workers.dev' });
  base.value = current.base;
  const key = h('input', { id: 'server-key', type: 'password', autocomplete: 'off' });
  key.value = current.key;
  const error = h('p', { class: 'field-error', id: 'server-base-error', hidden: true });
  const status = h('p', { class: 'muted', id: 'server-status', 'aria-live': 'polite' });

  const save = h('button', { type: 'submit', class: 'button primary', id: 'server-save', text: 'Save', disabled: !app.editable });
  const test = button('Test connection', { id: 'server-test', onClick: () => check() });
  const form = h('form', { id: 'server-form', novalidate: true },
    h('div', { class: 'form-grid' },
      h('div', { class: 'field wide' }, h('label', { for: 'server-base', text: 'Server address' }), base, error),
      h('div', { class: 'field wide' }, h('label', { for: 'server-key', text: 'Practice key' }), key)),
    h('div', { class: 'row-actions' }, save, test),
    status);
  root.append(card('Connection', form));
  const sharing = shareCards({ app, bridge });
  root.append(...sharing.cards);

  let active = true;
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const problem = checkAddress(base.value);
    error.textContent = problem;
    error.hidden = !problem;
    if (problem) {
      base.setAttribute('aria-invalid', 'true');
      base.focus();
      return;
    }
    base.removeAttribute('aria-invalid');
    try {
      app.edit((doc) => {
        doc.settings = doc.settings && typeof doc.settings === 'object' && !Array.isArray(doc.settings) ? doc.settings : {};
        doc.settings.server = { base: base.value.trim(), key: key.value.trim() };
      });
      toast('The practice server is saved.');
    } catch (failure) {
      showError(failure);
    }
  });

  async function check() {
    test.disabled = true;
    status.textContent = 'Connecting…';
    try {
      const firm = await whoAmI(bridge, { base: base.value.trim(), key: key.value.trim() });
      if (active) status.textContent = firm ? `Connected to ${firm}.` : 'Connected.';
    } catch (failure) {
      if (active) status.textContent = failure.message;
    } finally {
      test.disabled = false;
    }
  }

  return () => {
    active = false;
    sharing.stop();
  };
}
