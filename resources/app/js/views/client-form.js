// The dialog for adding a client or changing one.

import { h, button, confirmDialog, showError } from '../ui.js';
import { STATUSES, FIELDS, cleanInput, validateClient, addClient, updateClient, text } from '../clients-model.js';
import { uploadLinks } from './upload-links.js';
import { portalLogins } from './portal-logins.js';

const INPUTS = [
  { field: 'name', id: 'client-name', label: 'Full name', wide: true, attrs: { autocomplete: 'off', required: true } },
  { field: 'email', id: 'client-email', label: 'Email', attrs: { type: 'email', autocomplete: 'off', inputmode: 'email' } },
  { field: 'phone', id: 'client-phone', label: 'Phone', attrs: { type: 'tel', autocomplete: 'off' } },
  { field: 'fileNumber', id: 'client-file-number', label: 'File number', attrs: { autocomplete: 'off' } },
  { field: 'status', id: 'client-status', label: 'Status', select: true },
  { field: 'notes', id: 'client-notes', label: 'Notes', wide: true, textarea: true },
];

// Opens the form inside `host`. `client` is null for a new client. onSaved(client, isNew)
// runs after the document has been changed.
export function openClientForm(host, { app, bridge = null, client = null, onSaved }) {
  const isNew = !client;
  const initial = Object.fromEntries(FIELDS.map((f) => [f, isNew ? '' : text(client[f])]));
  const controls = {};
  const errors = {};

  const fields = INPUTS.map((item) => {
    const errorId = `${item.id}-error`;
    let control;
    if (item.select) {
      const options = [{ value: '', label: 'Not set' }, ...STATUSES];
      // A status written by something else stays selectable, so saving doesn't drop it.
      if (initial.status && !STATUSES.some((s) => s.value === initial.status)) {
        options.push({ value: initial.status, label: initial.status });
      }
      control = h('select', { id: item.id, name: item.field },
        options.map((o) => h('option', { value: o.value, text: o.label, selected: o.value === initial.status })));
    } else if (item.textarea) {
      control = h('textarea', { id: item.id, name: item.field, rows: 4 });
      control.value = initial[item.field];
    } else {
      control = h('input', { id: item.id, name: item.field, type: 'text', ...item.attrs });
      control.value = initial[item.field];
    }
    controls[item.field] = control;
    errors[item.field] = h('p', { class: 'field-error', id: errorId, hidden: true });
    // A field being corrected loses its error at once.
    control.addEventListener(item.select ? 'change' : 'input', () => {
      errors[item.field].hidden = true;
      control.removeAttribute('aria-invalid');
      control.removeAttribute('aria-describedby');
    });
    return h('div', { class: `field${item.wide ? ' wide' : ''}` },
      h('label', { for: item.id, text: item.label }, item.attrs?.required ? h('span', { class: 'required', text: ' (required)' }) : null),
      control,
      errors[item.field]);
  });

  const title = isNew ? 'New client' : 'Edit client';
  const save = h('button', { type: 'submit', class: 'button primary', id: 'client-save', text: isNew ? 'Add client' : 'Save changes' });
  const cancel = button('Cancel', { id: 'client-cancel', onClick: () => leave() });
  const form = h('form', { id: 'client-form', novalidate: true, dataset: { mode: isNew ? 'add' : 'edit' } },
    h('h2', { class: 'dialog-title', id: 'client-dialog-title', text: title }),
    h('div', { class: 'form-grid' }, fields),
    !isNew && bridge ? uploadLinks({ app, bridge, client }) : null,
    !isNew ? portalLogins({ app, bridge, client }) : null,
    h('div', { class: 'dialog-actions' }, cancel, save));
  const dialog = h('dialog', { class: 'dialog client-dialog', id: 'client-dialog', 'aria-labelledby': 'client-dialog-title' }, form);
  if (!isNew) dialog.dataset.clientId = client.id;

  const values = () => Object.fromEntries(FIELDS.map((f) => [f, controls[f].value]));
  const changed = () => FIELDS.some((f) => controls[f].value !== initial[f]);
  let finished = false;
  const close = () => {
    finished = true;
    dialog.close();
    dialog.remove();
  };

  // Typed-in details are only thrown away when the user says so.
  async function leave() {
    if (changed()) {
      const discard = await confirmDialog({
        title: isNew ? 'Discard this new client?' : 'Discard your changes?',
        message: isNew ? 'The details you typed will not be added.' : 'The client keeps the details it had before.',
        confirmLabel: 'Discard',
        cancelLabel: 'Keep editing',
        danger: true,
      });
      if (!discard) return;
    }
    close();
  }

  function showErrors(found) {
    let first = null;
    for (const field of FIELDS) {
      const message = found[field];
      errors[field].textContent = message ?? '';
      errors[field].hidden = !message;
      if (message) {
        controls[field].setAttribute('aria-invalid', 'true');
        controls[field].setAttribute('aria-describedby', errors[field].id);
        first ??= controls[field];
      } else {
        controls[field].removeAttribute('aria-invalid');
        controls[field].removeAttribute('aria-describedby');
      }
    }
    first?.focus();
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const input = cleanInput(values());
    const found = validateClient(input, app.data, isNew ? null : client.id);
    showErrors(found);
    if (Object.keys(found).length > 0) return;
    let saved;
    try {
      saved = app.undoable({ label: isNew ? 'adding the client' : 'the changes to the client', touches: ['clients'] },
        (doc) => (isNew ? addClient(doc, input) : updateClient(doc, client.id, input)));
    } catch (error) {
      showError(error);
      return;
    }
    if (!saved) {
      showError(new Error('This client is no longer in your data, so the changes could not be applied.'));
      return;
    }
    close();
    onSaved?.(saved, isNew);
  });

  dialog.addEventListener('cancel', (event) => {
    event.preventDefault();
    leave();
  });
  // Some engines close on a repeated Escape without a cancel that can be refused.
  // What was typed comes back rather than vanishing.
  dialog.addEventListener('close', () => {
    if (finished || !dialog.isConnected) return;
    if (changed()) {
      dialog.showModal();
      leave();
    } else {
      close();
    }
  });

  host.append(dialog);
  dialog.showModal();
  controls.name.focus();
  return dialog;
}
