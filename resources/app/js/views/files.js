// Files: the immigration matters of the practice, one per application, with a form to open one.

import { h, button, pageHeader, toast } from '../ui.js';
import { icon } from '../icons.js';
import { printActions } from '../print-actions.js';
import { text } from '../clients-model.js';
import { foldForSearch, plural } from '../format.js';
import {
  indexOf, PROGRAMMES, FILE_STATUSES, CLOSED_FILE_STATUSES, programmeLabel, fileStatusLabel, clientName,
  cleanFile, validateFile, addFile, updateFile, deadlineState,
} from '../practice-model.js';
import { today, formatDay } from '../dates.js';
import { itemHref } from '../routes.js';
import { formDialog, pagedList, selectOptions } from './form-kit.js';

let remembered = { query: '', status: 'open', programme: '' };

export function openFileForm(host, app, { file = null, clientId = '', onSaved } = {}) {
  const index = indexOf(app.data, app.revision);
  const clients = index.clients.map((c) => ({ value: c.id, label: text(c.name) || 'Unnamed client' })).sort((a, b) => a.label.localeCompare(b.label));
  return formDialog(host, {
    id: 'file-form',
    title: file ? 'Edit file' : 'New file',
    submitLabel: file ? 'Save changes' : 'Open file',
    fields: [
      { name: 'clientId', label: 'Client', type: 'select', options: selectOptions(clients, 'Choose a client'), value: file?.clientId ?? clientId, required: true, wide: true, focus: !clientId },
      { name: 'programme', label: 'Programme', type: 'select', options: PROGRAMMES, value: file?.programme ?? 'study-permit', focus: !!clientId },
      { name: 'status', label: 'Status', type: 'select', options: FILE_STATUSES, value: file?.status ?? 'preparing' },
      { name: 'applicationNumber', label: 'Application number', value: text(file?.applicationNumber) },
      { name: 'opened', label: 'Opened', type: 'date', value: text(file?.opened) || today() },
      { name: 'notes', label: 'Notes', type: 'textarea', value: text(file?.notes), wide: true },
    ],
    onSubmit(values) {
      const input = { ...cleanFile({ ...values, stages: file?.stages }), id: file?.id };
      const errors = validateFile(input, index);
      if (Object.keys(errors).length) return errors;
      delete input.id;
      const saved = app.edit((doc) => (file ? updateFile(doc, file.id, input) : addFile(doc, input)));
      toast(file ? 'File saved.' : `Opened a ${programmeLabel(saved.programme).toLowerCase()} file for ${clientName(indexOf(app.data, app.revision), saved.clientId)}.`);
      onSaved?.(saved);
      return null;
    },
  });
}

// The folded text a file is searched by, made once per change of the data rather than per keystroke.
const hays = new WeakMap();
function hayOf(index, f) {
  let map = hays.get(index);
  if (!map) hays.set(index, (map = new Map()));
  let hay = map.get(f.id);
  if (hay === undefined) {
    hay = foldForSearch([clientName(index, f.clientId), programmeLabel(f.programme), f.applicationNumber, fileStatusLabel(f.status), f.notes].map(text).join(' '));
    map.set(f.id, hay);
  }
  return hay;
}

export function render(root, { app, bridge, navigate, intent }) {
  const search = h('input', { type: 'search', id: 'file-search', class: 'search-input', placeholder: 'Search files', 'aria-label': 'Search files by client, programme or application number', autocomplete: 'off' });
  search.value = remembered.query;
  const status = h('select', { id: 'file-status-filter', 'aria-label': 'Status' },
    [{ value: 'open', label: 'Open files' }, { value: '', label: 'All files' }, ...FILE_STATUSES].map((s) => h('option', { value: s.value, text: s.label, selected: s.value === remembered.status })));
  const programme = h('select', { id: 'file-programme-filter', 'aria-label': 'Programme' },
    selectOptions(PROGRAMMES, 'Every programme').map((s) => h('option', { value: s.value, text: s.label, selected: s.value === remembered.programme })));
  const add = button('New file', { kind: 'primary', iconName: 'plus', id: 'file-add', disabled: !app.editable, onClick: () => openNew() });
  const count = h('p', { class: 'page-subtitle', id: 'file-count' });
  const results = h('div', { id: 'file-results', class: 'card table-wrap' });
  const header = pageHeader('Files');
  header.querySelector('.page-heading').append(count);
  header.append(h('div', { class: 'page-actions' }, h('label', { class: 'search' }, icon('search', 16), search), status, programme, ...printActions(bridge, 'Files.pdf'), add));
  root.append(header, results);

  function openNew(clientId = '') {
    if (indexOf(app.data, app.revision).clients.length === 0) {
      toast('Add a client first: every file belongs to a client.');
      navigate('clients', { action: 'add' });
      return;
    }
    openFileForm(root, app, { clientId, onSaved: (file) => navigate(`file/${file.id}`) });
  }

  let timer = null;
  search.addEventListener('input', () => {
    clearTimeout(timer);
    timer = setTimeout(draw, 120);
  });
  status.addEventListener('change', draw);
  programme.addEventListener('change', draw);

  function draw() {
    remembered = { query: search.value, status: status.value, programme: programme.value };
    const index = indexOf(app.data, app.revision);
    const words = foldForSearch(search.value).split(/\s+/).filter(Boolean);
    const day = today();
    const shown = index.files.filter((f) => {
      if (status.value === 'open' ? CLOSED_FILE_STATUSES.has(f.status) : status.value && f.status !== status.value) return false;
      if (programme.value && f.programme !== programme.value) return false;
      if (!words.length) return true;
      const hay = hayOf(index, f);
      return words.every((w) => hay.includes(w));
    }).map((f) => ({ f, who: clientName(index, f.clientId) }))
      .sort((a, b) => a.who.localeCompare(b.who) || text(a.f.opened).localeCompare(text(b.f.opened)));
    count.textContent = `${shown.length} of ${plural(index.files.length, 'file', 'files')}`;
    if (shown.length === 0) {
      results.replaceChildren(h('div', { class: 'empty', id: 'file-empty' }, icon('folder', 32),
        h('p', { text: index.files.length ? 'No files match.' : 'No files yet. Open one for a client: a study permit, a work permit, a visa and so on.' }),
        app.editable && !index.files.length ? button('New file', { kind: 'primary', iconName: 'plus', onClick: () => openNew() }) : null));
      return;
    }
    pagedList(results, shown, ({ f, who }) => {
      const next = (index.deadlinesByFile.get(f.id) ?? []).filter((d) => !d.done).sort((a, b) => text(a.due).localeCompare(text(b.due)))[0];
      const state = next ? deadlineState(next, day) : '';
      return h('tr', { dataset: { row: '', fileId: f.id } },
        h('td', {}, h('a', { class: 'row-link', href: itemHref('file', f.id), text: who }),
          h('span', { class: 'cell-sub muted', text: programmeLabel(f.programme) })),
        h('td', { class: 'cell-file', text: text(f.applicationNumber) || '—' }),
        h('td', {}, h('span', { class: `status-pill file-${f.status}`, text: fileStatusLabel(f.status) })),
        h('td', {}, next ? h('span', { class: `due-pill due-${state}`, text: `${text(next.title)} · ${formatDay(next.due)}` }) : h('span', { class: 'muted', text: '—' })));
    }, {
      label: 'files',
      wrap: (rows) => h('table', { class: 'table', id: 'file-table' },
        h('caption', { class: 'visually-hidden', text: 'Files' }),
        h('thead', {}, h('tr', {},
          h('th', { scope: 'col', text: 'Client and programme' }), h('th', { scope: 'col', class: 'cell-file', text: 'Application no.' }),
          h('th', { scope: 'col', text: 'Status' }), h('th', { scope: 'col', text: 'Next deadline' }))),
        h('tbody', {}, rows)),
    });
  }
  draw();
  if (intent?.action === 'add' && app.editable) openNew(intent.clientId ?? '');
  return () => {
    clearTimeout(timer);
    root.querySelectorAll('dialog[open]').forEach((d) => d.close());
  };
}
