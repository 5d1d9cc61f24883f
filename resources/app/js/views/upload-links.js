// A client's secure upload links: made, listed and revoked on the practice's server.

import { h, button, confirmDialog } from '../ui.js';
import { formatWhen } from '../format.js';
import { serverSettings, listLinks, createLink, revokeLink } from '../practice-server.js';

export function uploadLinks({ app, bridge, client }) {
  const list = h('ul', { class: 'upload-links', id: 'upload-links' });
  const message = h('p', { class: 'muted', id: 'upload-links-message', 'aria-live': 'polite' });
  const add = button('New upload link', { id: 'upload-link-add', kind: 'small', iconName: 'plus', onClick: () => make() });
  const section = h('section', { class: 'client-section', id: 'upload-links-section', 'aria-labelledby': 'upload-links-title' },
    h('h3', { id: 'upload-links-title', text: 'Secure upload links' }),
    h('p', { class: 'muted', text: 'A link lets this client send documents to the practice without e-mail.' }),
    list, message, h('div', { class: 'row-actions' }, add));

  const settings = () => serverSettings(app.data);

  async function refresh() {
    message.textContent = 'Reading links…';
    try {
      const links = await listLinks(bridge, settings(), client.id);
      list.replaceChildren(...links.map(row));
      message.textContent = links.length ? '' : 'No upload links yet.';
    } catch (error) {
      list.replaceChildren();
      message.textContent = error.message;
    }
  }

  function row(link) {
    return h('li', { dataset: { link: link.id } },
      h('span', { class: 'upload-link-text' },
        h('span', { class: 'upload-link-url', text: link.url }),
        h('span', { class: 'muted', text: [link.label, link.expires ? `until ${formatWhen(link.expires)}` : ''].filter(Boolean).join(' · ') })),
      h('button', { type: 'button', class: 'button small', dataset: { action: 'revoke' }, text: 'Revoke', onClick: () => revoke(link) }));
  }

  async function make() {
    add.disabled = true;
    try {
      await createLink(bridge, settings(), client.id, { label: `Documents for ${client.name || 'client'}`, days: 14 });
      await refresh();
    } catch (error) {
      message.textContent = error.message;
    } finally {
      add.disabled = false;
    }
  }

  async function revoke(link) {
    const sure = await confirmDialog({ title: 'Revoke this link?', message: `${link.url} will stop working.`, confirmLabel: 'Revoke', danger: true });
    if (!sure) return;
    try {
      await revokeLink(bridge, settings(), link.id);
      await refresh();
    } catch (error) {
      message.textContent = error.message;
    }
  }

  refresh();
  return section;
}
