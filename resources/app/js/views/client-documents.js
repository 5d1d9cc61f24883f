// A client's own screen, as a dialog over the list: their details and their Documents tab, where
// files are added (picker or drop), listed with their folders, opened, shown, mailed and trashed.

import { h, fill, button, toast, confirmDialog, runFrom, showError } from '../ui.js';
import { icon } from '../icons.js';
import { formatWhen, isPlainObject, messageOf, plural } from '../format.js';
import { statusLabel, text, documentsFolder } from '../clients-model.js';

export function openClientDocuments(host, { app, bridge, client, tab = 'documents', onEdit }) {
  const name = text(client.name) || 'Unnamed client';
  let active = true;

  // The client's own folder, whatever their name is now; null while the data can't be changed
  // and no folder is theirs yet.
  const folderOf = () => documentsFolder(app, bridge, client.id);
  const folderToWrite = async () => {
    const folder = await folderOf();
    if (!folder) throw new Error(app.lock ? app.lock.message : 'Your data is still loading.');
    return folder;
  };

  const tabs = [
    { id: 'details', label: 'Details' },
    { id: 'documents', label: 'Documents' },
  ];
  const tabButtons = tabs.map((t) => h('button', {
    type: 'button', role: 'tab', class: 'tab', id: `client-tab-${t.id}`, 'aria-controls': `client-panel-${t.id}`,
    dataset: { tab: t.id }, text: t.label, onClick: () => select(t.id),
  }));
  const tabList = h('div', { class: 'tabs', role: 'tablist', 'aria-label': name }, tabButtons);
  tabList.addEventListener('keydown', (event) => {
    const index = tabs.findIndex((t) => t.id === current);
    const moves = { ArrowRight: 1, ArrowLeft: -1, Home: -index, End: tabs.length - 1 - index };
    if (!(event.key in moves)) return;
    event.preventDefault();
    const next = tabs[(index + moves[event.key] + tabs.length) % tabs.length].id;
    select(next);
    tabList.querySelector(`[data-tab="${next}"]`).focus();
  });

  const details = h('div', { class: 'tab-panel', role: 'tabpanel', id: 'client-panel-details', 'aria-labelledby': 'client-tab-details', tabindex: '0' },
    h('dl', { class: 'facts' },
      fact('Email', text(client.email)),
      fact('Phone', text(client.phone)),
      fact('File number', text(client.fileNumber)),
      fact('Status', client.status ? statusLabel(text(client.status)) : '')),
    onEdit ? h('div', { class: 'row-actions' }, button('Edit details', { iconName: 'edit', id: 'client-details-edit', onClick: () => { close(); onEdit(); } })) : null);

  const fileInput = h('input', { type: 'file', multiple: true, hidden: true, id: 'documents-file-input' });
  const listing = h('div', { id: 'documents-listing', 'aria-live': 'polite' });
  const dropHint = h('p', { class: 'muted drop-hint', text: 'Drop files here to add them to this client.' });
  const documents = h('div', { class: 'tab-panel drop-zone', role: 'tabpanel', id: 'client-panel-documents', 'aria-labelledby': 'client-tab-documents', tabindex: '0' },
    h('div', { class: 'row-actions' },
      button('Add files…', { kind: 'primary', iconName: 'plus', id: 'documents-add', disabled: !bridge, onClick: () => fileInput.click() }),
      button('Open client folder', { iconName: 'folder', id: 'documents-folder', disabled: !bridge,
        onClick: (event) => runFrom(event.currentTarget, async () => bridge.clientFolder(await folderToWrite(), '', true)) }),
      fileInput),
    dropHint,
    listing);

  fileInput.addEventListener('change', () => {
    const files = [...fileInput.files];
    fileInput.value = '';
    addFiles(files);
  });
  documents.addEventListener('dragover', (event) => {
    if (!bridge || !event.dataTransfer?.types?.includes('Files')) return;
    event.preventDefault();
    documents.classList.add('dragging');
  });
  documents.addEventListener('dragleave', (event) => {
    if (event.target === documents) documents.classList.remove('dragging');
  });
  documents.addEventListener('drop', (event) => {
    documents.classList.remove('dragging');
    if (!bridge || !event.dataTransfer?.files?.length) return;
    event.preventDefault();
    addFiles([...event.dataTransfer.files]);
  });

  const dialog = h('dialog', { class: 'dialog client-documents-dialog', id: 'client-documents', 'aria-labelledby': 'client-documents-title', dataset: { clientId: client.id } },
    h('div', { class: 'dialog-head' },
      h('h2', { class: 'dialog-title', id: 'client-documents-title', text: name }),
      h('button', { type: 'button', class: 'toast-close', id: 'client-documents-close', 'aria-label': 'Close', onClick: () => close() }, icon('close', 16))),
    tabList, details, documents);
  dialog.addEventListener('close', () => {
    active = false;
    dialog.remove();
  });
  host.append(dialog);

  let current = null;
  function select(id) {
    current = id;
    for (const b of tabButtons) {
      const on = b.dataset.tab === id;
      b.setAttribute('aria-selected', on ? 'true' : 'false');
      b.tabIndex = on ? 0 : -1;
    }
    details.hidden = id !== 'details';
    documents.hidden = id !== 'documents';
    if (id === 'documents') refresh();
  }

  function close() {
    if (dialog.open) dialog.close();
  }

  async function addFiles(files) {
    if (!files.length) return;
    let folder;
    try {
      folder = await folderToWrite();
    } catch (error) {
      showError(new Error(`Nothing was added: ${messageOf(error)}`));
      return;
    }
    let saved = 0;
    for (const file of files) {
      try {
        const bytes = new Uint8Array(await file.arrayBuffer());
        await bridge.saveDocument({ client: folder, fileName: file.name, bytes });
        saved += 1;
      } catch (error) {
        showError(new Error(`${file.name} wasn't added: ${messageOf(error)}`));
      }
    }
    if (!active) return;
    if (saved) toast(`Added ${plural(saved, 'document', 'documents')} to ${name}.`);
    refresh();
  }

  async function refresh() {
    if (!bridge) {
      fill(listing, h('p', { class: 'muted', text: "Documents need Quillpost's desktop program." }));
      return;
    }
    let result;
    try {
      const folder = await folderOf();
      result = folder ? await bridge.listDocuments(folder) : { files: [] };
      if (!isPlainObject(result) || !Array.isArray(result.files)) throw new Error("Quillpost couldn't list this client's documents.");
    } catch (error) {
      if (active) fill(listing, h('p', { class: 'error-text', role: 'alert', text: messageOf(error) }));
      return;
    }
    if (!active) return;
    if (!result.files.length) {
      fill(listing, h('div', { class: 'empty empty-small', id: 'documents-empty' },
        icon('document', 28), h('p', { text: `No documents for ${name} yet. Add files or drop them here.` })));
      return;
    }
    // Files directly in the client folder first, then each sub-folder by name; newest first inside each.
    const groups = new Map();
    for (const file of result.files) {
      const folder = typeof file.folder === 'string' ? file.folder : '';
      if (!groups.has(folder)) groups.set(folder, []);
      groups.get(folder).push(file);
    }
    const order = [...groups.keys()].sort((a, b) => (a === '' ? -1 : b === '' ? 1 : a.localeCompare(b)));
    fill(listing, h('div', { class: 'table-wrap' },
      h('table', { class: 'table documents-table', id: 'documents-table' },
        h('caption', { class: 'visually-hidden', text: `Documents of ${name}` }),
        h('thead', {}, h('tr', {},
          h('th', { scope: 'col', text: 'Name' }),
          h('th', { scope: 'col', text: 'Size' }),
          h('th', { scope: 'col', text: 'Changed' }),
          h('th', { scope: 'col' }, h('span', { class: 'visually-hidden', text: 'Actions' })))),
        order.map((folder) => h('tbody', { dataset: { folder } },
          folder ? h('tr', { class: 'folder-row' }, h('th', { scope: 'rowgroup', colspan: '4' }, icon('folder', 14), h('span', { text: folder }))) : null,
          groups.get(folder).map(row))))));
  }

  function row(file) {
    const label = String(file.name ?? '');
    return h('tr', { dataset: { path: file.path, name: label } },
      h('td', { class: 'cell-name' }, h('span', { class: 'document-name', text: label, title: file.path })),
      h('td', { text: formatSize(file.size) }),
      h('td', { text: formatWhen(file.modified) || '—' }),
      h('td', { class: 'cell-actions' },
        button('Open', { kind: 'small', dataset: { action: 'open' }, 'aria-label': `Open ${label}`,
          onClick: (event) => runFrom(event.currentTarget, async () => {
            if (await bridge.openDocument(file.path) !== true)
              toast(`${label} can't be opened from Quillpost. Use Show in folder to open it yourself.`, { kind: 'error' });
          }) }),
        button('Show in folder', { kind: 'small', dataset: { action: 'reveal' }, 'aria-label': `Show ${label} in its folder`,
          onClick: (event) => runFrom(event.currentTarget, async () => {
            if (await bridge.revealDocument(file.path) !== true) toast(`${label} is no longer there.`, { kind: 'error' });
          }) }),
        button('E-mail', { kind: 'small', dataset: { action: 'email' }, 'aria-label': `E-mail ${label}`,
          onClick: (event) => runFrom(event.currentTarget, () => email(file)) }),
        button('Move to Trash', { kind: 'small quiet-danger', iconName: 'trash', dataset: { action: 'trash' }, 'aria-label': `Move ${label} to the Trash`,
          onClick: (event) => trash(file, event.currentTarget) })));
  }

  async function email(file) {
    const answer = await bridge.composeEmail({ to: text(client.email).trim(), subject: String(file.name ?? ''), body: '', path: file.path });
    toast(answer && answer.attached
      ? 'Your mail app has a new message with the document attached.'
      : 'Your mail app has a new message. Attach the document from the folder that was opened.');
  }

  async function trash(file, btn) {
    const label = String(file.name ?? '');
    const sure = await confirmDialog({
      title: `Move ${label} to the Trash?`,
      message: 'You can get it back from the Trash until the Trash is emptied.',
      confirmLabel: 'Move to Trash',
      danger: true,
    });
    if (!sure) return;
    const moved = await runFrom(btn, () => bridge.deleteDocument(file.path));
    if (!active || moved === undefined) return;
    if (moved === true) toast(`${label} is in the Trash.`);
    else toast(`${label} couldn't be moved to the Trash, so it was left where it is.`, { kind: 'error' });
    refresh();
  }

  select(tab === 'details' ? 'details' : 'documents');
  dialog.showModal();
  tabList.querySelector(`[data-tab="${current}"]`).focus();
  return dialog;
}

function fact(label, value) {
  return h('div', { class: 'fact' }, h('dt', { text: label }), h('dd', { text: value || '—' }));
}

export function formatSize(bytes) {
  const n = Number(bytes);
  if (!Number.isFinite(n) || n < 0) return '—';
  if (n < 1024) return `${n} B`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(n < 10 * 1024 ? 1 : 0)} KB`;
  return `${(n / (1024 * 1024)).toFixed(1)} MB`;
}
