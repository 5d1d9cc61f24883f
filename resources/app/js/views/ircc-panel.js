// The dashboard's IRCC updates: verified items, or a clear notice when the check failed.

import { h, button, notice } from '../ui.js';
import { formatWhen } from '../format.js';
import { fetchFeed } from '../ircc-feed.js';

export function irccPanel(bridge) {
  const body = h('div', { id: 'ircc-body', 'aria-live': 'polite' });
  const refresh = button('Refresh', { id: 'ircc-refresh', kind: 'small', onClick: () => load() });
  const panel = h('section', { class: 'card', id: 'ircc-panel' },
    h('div', { class: 'card-title-row' }, h('h2', { class: 'card-title', text: 'IRCC updates' }), refresh),
    body);
  let active = true;

  async function load() {
    refresh.disabled = true;
    body.replaceChildren(h('p', { class: 'muted', text: 'Checking for updates…' }));
    const feed = await fetchFeed(bridge);
    if (!active) return;
    refresh.disabled = false;
    panel.dataset.state = feed.ok ? 'verified' : 'failed';
    if (!feed.ok) {
      body.replaceChildren(h('div', { id: 'ircc-error' }, notice('warning', feed.error,
        feed.details ? h('details', {}, h('summary', { text: 'Details' }), h('p', { class: 'notice-detail', text: feed.details })) : null)));
      return;
    }
    if (!feed.items.length) {
      body.replaceChildren(h('p', { class: 'muted', id: 'ircc-empty', text: 'No IRCC updates right now.' }));
      return;
    }
    body.replaceChildren(
      h('ul', { class: 'ircc-items', id: 'ircc-items' }, feed.items.map((item) =>
        h('li', {},
          h('p', { class: 'ircc-title', text: item.title }),
          item.date ? h('p', { class: 'muted ircc-date', text: formatWhen(item.date) }) : null,
          item.summary ? h('p', { class: 'ircc-summary', text: item.summary }) : null))),
      h('p', { class: 'muted ircc-verified', text: 'Signed by the maker of Quillpost and checked on this computer.' }));
  }

  load();
  return { panel, dispose: () => { active = false; } };
}
