// Find (Ctrl+K): a box over every screen that searches clients, files, deadlines and invoices.
// Arrow keys move through the results, Enter opens one, Escape closes.

import { h } from '../ui.js';
import { indexOf } from '../practice-model.js';
import { find, TYPE_LABELS } from '../search.js';
import { hrefFor } from '../routes.js';

let open = null;

export function openFind(app) {
  if (open) {
    open.input.focus();
    open.input.select();
    return open.dialog;
  }
  const opener = document.activeElement;
  const input = h('input', {
    type: 'search', id: 'find-input', placeholder: 'Find clients, files, deadlines, invoices', autocomplete: 'off',
    role: 'combobox', 'aria-expanded': 'false', 'aria-controls': 'find-results', 'aria-autocomplete': 'list', 'aria-label': 'Find',
  });
  const list = h('ul', { id: 'find-results', role: 'listbox', class: 'find-results', 'aria-label': 'Results' });
  const status = h('p', { class: 'muted find-status', id: 'find-status', role: 'status' });
  const dialog = h('dialog', { class: 'dialog find-dialog', id: 'find-dialog', 'aria-label': 'Find' }, input, status, list);
  let results = [];
  let active = -1;
  let timer = null;

  function draw() {
    const index = indexOf(app.data, app.revision);
    results = find(index, input.value, 40);
    active = results.length ? 0 : -1;
    list.replaceChildren(...results.map((r, i) => h('li', {
      role: 'option', id: `find-option-${i}`, class: 'find-option', 'aria-selected': String(i === active), dataset: { type: r.type },
      onClick: () => go(i),
    }, h('span', { class: `find-type type-${r.type}`, text: TYPE_LABELS[r.type] }),
    h('span', { class: 'find-text' }, h('span', { class: 'find-title', text: r.title }), h('span', { class: 'find-detail muted', text: r.detail })))));
    input.setAttribute('aria-expanded', String(results.length > 0));
    mark();
    status.textContent = input.value.trim() ? (results.length ? `${results.length}${results.length === 40 ? '+' : ''} found` : 'Nothing found') : 'Type a name, an application or invoice number, or a deadline.';
  }

  function mark() {
    list.querySelectorAll('[role="option"]').forEach((el, i) => el.setAttribute('aria-selected', String(i === active)));
    if (active >= 0) {
      input.setAttribute('aria-activedescendant', `find-option-${active}`);
      list.children[active]?.scrollIntoView({ block: 'nearest' });
    } else input.removeAttribute('aria-activedescendant');
  }

  function go(i) {
    const target = results[i];
    if (!target) return;
    close(false);
    location.hash = hrefFor(target.href);
  }

  function close(refocus = true) {
    clearTimeout(timer);
    if (dialog.open) dialog.close();
    dialog.remove();
    open = null;
    if (refocus && opener instanceof HTMLElement && opener.isConnected) opener.focus();
  }

  input.addEventListener('input', () => {
    clearTimeout(timer);
    timer = setTimeout(draw, 60);
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
      event.preventDefault();
      if (!results.length) return;
      active = (active + (event.key === 'ArrowDown' ? 1 : -1) + results.length) % results.length;
      mark();
    } else if (event.key === 'Enter') {
      event.preventDefault();
      clearTimeout(timer);
      if (input.value.trim() && results.length === 0) draw();
      go(Math.max(active, 0));
    }
  });
  dialog.addEventListener('cancel', (event) => {
    event.preventDefault();
    close();
  });
  dialog.addEventListener('click', (event) => {
    if (event.target === dialog) close();
  });

  document.body.append(dialog);
  dialog.showModal();
  input.focus();
  draw();
  open = { dialog, input };
  return dialog;
}
