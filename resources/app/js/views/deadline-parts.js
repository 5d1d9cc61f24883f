// Pieces the Deadlines screen shares with a file and a client: the form and the list row.

import { h, fill, showError } from '../ui.js';
import { text } from '../clients-model.js';
import {
  indexOf, DEADLINE_KINDS, deadlineKindLabel, deadlineState, clientName, fileTitle,
  cleanDeadline, validateDeadline, addDeadline, updateDeadline, setDeadlineDone, removeFrom,
} from '../practice-model.js';
import { today, formatDay, relativeDay } from '../dates.js';
import { itemHref } from '../routes.js';
import { DEFAULT_REMIND_DAYS } from '../reminders.js';
import { formDialog, selectOptions } from './form-kit.js';

const STATE_LABELS = { overdue: 'Overdue', soon: 'Due soon', later: 'Upcoming', done: 'Done' };

export function openDeadlineForm(host, app, { deadline = null, clientId = '', fileId = '', onSaved } = {}) {
  const index = indexOf(app.data, app.revision);
  const files = index.files.map((f) => ({ value: f.id, label: `${clientName(index, f.clientId)} – ${fileTitle(index, f)}` }))
    .sort((a, b) => a.label.localeCompare(b.label));
  const current = deadline ?? { fileId, clientId: fileId ? index.file.get(fileId)?.clientId : clientId, kind: 'document-request', remindDays: DEFAULT_REMIND_DAYS, due: '' };
  const clients = index.clients.map((c) => ({ value: c.id, label: text(c.name) || 'Unnamed client' })).sort((a, b) => a.label.localeCompare(b.label));
  return formDialog(host, {
    id: 'deadline-form',
    title: deadline ? 'Edit deadline' : 'New deadline',
    submitLabel: deadline ? 'Save changes' : 'Add deadline',
    fields: [
      { name: 'title', label: 'What is due', value: text(current.title), wide: true, required: true, focus: true },
      { name: 'kind', label: 'Kind', type: 'select', options: DEADLINE_KINDS, value: current.kind },
      { name: 'due', label: 'Due date', type: 'date', value: text(current.due), required: true },
      { name: 'fileId', label: 'File', type: 'select', options: selectOptions(files, 'No file'), value: text(current.fileId), wide: true },
      { name: 'clientId', label: 'Client (when there is no file)', type: 'select', options: selectOptions(clients, 'No client'), value: text(current.clientId) },
      { name: 'remindDays', label: 'Remind me (days before)', type: 'number', value: String(current.remindDays ?? DEFAULT_REMIND_DAYS), attrs: { min: '0', max: '60' } },
      { name: 'notes', label: 'Notes', type: 'textarea', value: text(current.notes), wide: true },
    ],
    onSubmit(values) {
      const input = cleanDeadline(values);
      if (input.fileId) input.clientId = index.file.get(input.fileId)?.clientId ?? input.clientId;
      const errors = validateDeadline(input, index);
      if (Object.keys(errors).length) return errors;
      const message = deadline ? 'Deadline saved.' : `Added “${input.title}”, due ${formatDay(input.due)}.`;
      const saved = app.undoable({ label: deadline ? `changes to “${input.title}”` : `adding “${input.title}”`, touches: ['deadlines'], message },
        (doc) => (deadline ? updateDeadline(doc, deadline.id, input) : addDeadline(doc, input)));
      onSaved?.(saved);
      return null;
    },
  });
}

// One deadline as a list item: done box, title, when, whose, and its actions.
export function deadlineItem(app, d, { onChange, showClient = true, host }) {
  const index = indexOf(app.data, app.revision);
  const day = today();
  const state = deadlineState(d, day);
  const title = text(d.title) || deadlineKindLabel(d.kind);
  const box = h('input', {
    type: 'checkbox', class: 'done-box', checked: !!d.done, disabled: !app.editable,
    'aria-label': `${title}: done`, id: `deadline-done-${d.id}`,
  });
  box.addEventListener('change', () => {
    try {
      const done = box.checked;
      const message = done ? `Marked “${title}” done.` : `“${title}” is open again.`;
      app.undoable({ label: done ? `“${title}” done` : `“${title}” open again`, touches: ['deadlines'], message }, (doc) => setDeadlineDone(doc, d.id, done));
      if (done) standIn(row, message, app);
      else onChange?.();
    } catch (error) {
      box.checked = !box.checked;
      showError(error);
    }
  });
  const file = d.fileId ? index.file.get(d.fileId) : null;
  const row = h('li', { class: `deadline-item state-${state}`, dataset: { row: '', deadlineId: d.id, state } },
    box,
    h('div', { class: 'deadline-text' },
      h('span', { class: 'deadline-title', text: title }),
      h('span', { class: 'deadline-meta' },
        h('span', { class: `due-pill due-${state}`, text: `${STATE_LABELS[state]} · ${formatDay(d.due)}${state !== 'done' ? ` (${relativeDay(d.due, day)})` : ''}` }),
        h('span', { class: 'muted', text: deadlineKindLabel(d.kind) }),
        showClient && d.clientId ? h('a', { href: itemHref('client', d.clientId), text: clientName(index, d.clientId) }) : null,
        file ? h('a', { href: itemHref('file', file.id), text: fileTitle(index, file) }) : null)),
    h('div', { class: 'deadline-actions' },
      h('button', {
        type: 'button', class: 'button small', text: 'Edit', disabled: !app.editable, dataset: { action: 'edit' },
        'aria-label': `Edit ${title}`,
        onClick: () => openDeadlineForm(host, app, { deadline: d, onSaved: onChange }),
      }),
      h('button', {
        type: 'button', class: 'button small quiet-danger', text: 'Remove', disabled: !app.editable, dataset: { action: 'remove' },
        'aria-label': `Remove ${title}`,
        onClick: () => {
          if (row.classList.contains('stand-in')) return;
          try {
            const message = `Removed “${title}”.`;
            app.undoable({ label: `removing “${title}”`, touches: ['deadlines'], message }, (doc) => removeFrom(doc, 'deadlines', d.id));
            standIn(row, message, app);
          } catch (error) {
            showError(error);
          }
        },
      })));
  return row;
}

// A row that was removed or ticked done keeps its place and height until the list is drawn
// again, so the next row never slides under the pointer; a second click lands on nothing.
// Its Undo sits at the start of the row, away from where Remove and the box were.
function standIn(row, message, app) {
  const step = app.lastUndoStep?.();
  const height = row.getBoundingClientRect().height;
  row.classList.add('stand-in');
  if (height) row.style.minHeight = `${height}px`;
  const armedAt = Date.now();
  fill(row,
    h('span', { class: 'stand-in-text', text: message }),
    step ? h('button', {
      type: 'button', class: 'link-button', text: 'Undo', dataset: { action: 'undo' },
      onClick: () => { if (Date.now() - armedAt > 400) app.undoStep(step); },
    }) : null);
}
