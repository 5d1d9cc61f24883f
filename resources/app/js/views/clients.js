// Clients: the list, the search box, and adding, changing and removing clients.

import { h, button, pageHeader, confirmDialog, toast, showError } from '../ui.js';
import { printActions } from '../print-actions.js';
import { icon } from '../icons.js';
import { clientsOf, filterClients, sortByName, statusLabel, findClient, STATUSES, text } from '../clients-model.js';
import { removeClientEverywhere, removalBlockers } from '../practice-model.js';
import { hrefFor, itemHref } from '../routes.js';
import { plural } from '../format.js';
import { openClientForm } from './client-form.js';
import { openClientDocuments } from './client-documents.js';

// The search survives moving to another screen and back.
let lastQuery = '';

export function render(root, { app, bridge, intent }) {
  const canEdit = app.editable;

  const search = h('input', {
    type: 'search', id: 'client-search', class: 'search-input', placeholder: 'Search clients',
    'aria-label': 'Search clients by name, email, phone, file number, status or notes', autocomplete: 'off',
  });
  search.value = lastQuery;
  const add = button('Add client', { kind: 'primary', iconName: 'plus', id: 'client-add', disabled: !canEdit, onClick: () => edit(null) });
  const subtitle = h('p', { class: 'page-subtitle', id: 'client-count' });
  const results = h('div', { id: 'client-results', 'aria-live': 'polite' });

  const header = pageHeader('Clients');
  header.querySelector('.page-heading').append(subtitle);
  header.append(h('div', { class: 'page-actions' },
    h('label', { class: 'search' }, icon('search', 16), search),
    h('a', { class: 'button', href: hrefFor('import'), id: 'clients-import' }, icon('document', 16), h('span', { text: 'Import & export' })),
    printActions(bridge, 'Clients.pdf'),
    add));
  root.append(header, results);

  search.addEventListener('input', () => {
    lastQuery = search.value;
    draw();
  });
  search.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && search.value) {
      event.preventDefault();
      search.value = '';
      lastQuery = '';
      draw();
    }
  });

  function draw() {
    const all = clientsOf(app.data);
    const shown = sortByName(filterClients(all, search.value));
    subtitle.textContent = search.value.trim() && all.length
      ? `${shown.length} of ${plural(all.length, 'client', 'clients')}`
      : plural(all.length, 'client', 'clients');

    if (all.length === 0) {
      results.replaceChildren(h('div', { class: 'empty card', id: 'client-empty' },
        icon('people', 32),
        h('h2', { text: app.lock ? 'No clients to show' : 'No clients yet' }),
        h('p', { class: 'muted', text: emptyText(app) }),
        canEdit ? button('Add client', { kind: 'primary', iconName: 'plus', onClick: () => edit(null) }) : null));
      return;
    }
    if (shown.length === 0) {
      results.replaceChildren(h('div', { class: 'empty card', id: 'client-no-match' },
        h('p', { text: `No clients match “${search.value.trim()}”.` }),
        button('Clear search', { onClick: () => { search.value = ''; lastQuery = ''; draw(); search.focus(); } })));
      return;
    }
    results.replaceChildren(h('div', { class: 'table-wrap card' },
      h('table', { class: 'table', id: 'client-table' },
        h('caption', { class: 'visually-hidden', text: 'Clients' }),
        h('colgroup', {},
          h('col', { class: 'col-name' }), h('col', { class: 'col-file' }), h('col', { class: 'col-status' }),
          h('col', { class: 'col-contact' }), h('col', { class: 'col-actions' })),
        h('thead', {}, h('tr', {},
          h('th', { scope: 'col', text: 'Name' }),
          h('th', { scope: 'col', class: 'cell-file', text: 'File no.' }),
          h('th', { scope: 'col', text: 'Status' }),
          h('th', { scope: 'col', text: 'Contact' }),
          h('th', { scope: 'col' }, h('span', { class: 'visually-hidden', text: 'Actions' })))),
        h('tbody', {}, shown.map(row)))));
  }

  function row(client) {
    const name = text(client.name) || 'Unnamed client';
    const notes = text(client.notes).trim();
    const status = text(client.status);
    const known = STATUSES.some((s) => s.value === status);
    const fileNumber = text(client.fileNumber);
    return h('tr', { dataset: { clientId: client.id } },
      h('td', { class: 'cell-name' },
        h('a', { class: 'client-name row-link', href: itemHref('client', client.id), text: name }),
        // In narrow windows the file number moves under the name.
        fileNumber ? h('span', { class: 'client-file-inline', text: fileNumber }) : null,
        notes ? h('span', { class: 'client-notes', text: notes.split('\n')[0], title: notes }) : null),
      h('td', { class: 'cell-file', text: fileNumber || '—' }),
      h('td', {}, status
        ? h('span', { class: `status-pill status-${known ? status : 'other'}`, text: statusLabel(status) })
        : h('span', { class: 'muted', text: '—' })),
      h('td', { class: 'cell-contact' },
        client.email ? h('span', { class: 'client-email', text: text(client.email), title: text(client.email) }) : null,
        client.phone ? h('span', { class: 'client-phone', text: text(client.phone) }) : null,
        !client.email && !client.phone ? h('span', { class: 'muted', text: '—' }) : null),
      h('td', { class: 'cell-actions' },
        button('Documents', {
          kind: 'small', iconName: 'document', dataset: { action: 'documents' },
          'aria-label': `Documents of ${name}`, title: `Documents of ${name}`, onClick: () => documents(client),
        }),
        button('Edit', {
          kind: 'small', iconName: 'edit', dataset: { action: 'edit' }, disabled: !canEdit,
          'aria-label': `Edit ${name}`, title: `Edit ${name}`, onClick: () => edit(client),
        }),
        button('Remove', {
          kind: 'small quiet-danger', iconName: 'trash', dataset: { action: 'remove' }, disabled: !canEdit,
          'aria-label': `Remove ${name}`, title: `Remove ${name}`, onClick: () => remove(client),
        })));
  }

  function edit(client) {
    const opener = document.activeElement;
    openClientForm(root, {
      app,
      bridge,
      client,
      onSaved(saved, isNew) {
        // A new client hidden by the search would look lost; show everyone instead.
        if (isNew && search.value && filterClients([saved], search.value).length === 0) {
          search.value = '';
          lastQuery = '';
        }
        draw();
        toast(isNew ? `Added ${saved.name}.` : `Saved changes to ${saved.name}.`);
        const rowButton = results.querySelector(`tr[data-client-id="${CSS.escape(saved.id)}"] [data-action="edit"]`);
        (rowButton ?? (opener?.isConnected ? opener : add)).focus();
      },
    });
  }

  function documents(client) {
    const opener = document.activeElement;
    const dialog = openClientDocuments(root, { app, bridge, client, onEdit: canEdit ? () => edit(client) : null });
    dialog.addEventListener('close', () => {
      if (opener?.isConnected && !root.querySelector('dialog[open]')) opener.focus();
    });
  }

  async function remove(client) {
    const name = text(client.name) || 'this client';
    const blockers = removalBlockers(app.data, 'client', client.id);
    if (blockers.length) {
      await confirmDialog({ title: `${name} can't be removed`, message: blockers.join(' '), confirmLabel: 'OK', cancelLabel: null });
      return;
    }
    const sure = await confirmDialog({
      title: `Remove ${name}?`,
      message: `${name}, their files, deadlines, appointments, time and fees and contact log will be removed from your practice. You can undo this for a little while.`,
      confirmLabel: 'Remove client',
      danger: true,
    });
    if (!sure) return;
    try {
      app.undoable({ label: `removing ${name}`, touches: ['clients', 'files', 'deadlines', 'appointments', 'contacts', 'entries'], message: `Removed ${name}.` },
        (doc) => removeClientEverywhere(doc, client.id));
    } catch (error) {
      showError(error);
      return;
    }
    draw();
    search.focus();
  }

  draw();

  if (intent?.action === 'add' && canEdit) edit(null);
  else if (intent?.action === 'search') search.focus();
  else if (intent?.action === 'edit') {
    const client = findClient(app.data, intent.id);
    if (client && canEdit) edit(client);
  }

  return () => {
    for (const dialog of root.querySelectorAll('dialog[open]')) dialog.close();
  };
}

function emptyText(app) {
  if (!app.lock) return 'Add your first client to start keeping their details in one place.';
  if (app.lock.kind === 'encrypted') return "The clients in an encrypted data file can't be shown by this version.";
  return 'Your data could not be read, so no clients are shown. See the message above.';
}
