// Small forms in dialogs, shared by the practice screens: labelled fields, errors next to the
// field they belong to, Escape to cancel, and focus back where it was afterwards.

import { h, button, showError } from '../ui.js';
import { formatDay, isDay, parseDay, parseTime } from '../dates.js';

// Dates and times are typed as text: the browser's own pickers show an empty date as today's in
// grey and order day and month by the desktop's locale. A day is shown as "7 Dec 2026" and read
// back from that or from ISO (2026-12-07); a time is read from "14:30", "1430" or "2:30 pm".
const TYPED = {
  date: { parse: parseDay, show: (v) => (isDay(v) ? formatDay(v) : v), placeholder: 'day month year', error: 'Type a date like 7 Dec 2026 or 2026-12-07.' },
  time: { parse: parseTime, show: (v) => v, placeholder: 'hh:mm', error: 'Type a time like 14:30, 1430 or 2:30 pm.' },
};

export const typedError = (type) => TYPED[type].error;
export const typedPlaceholder = (type) => TYPED[type].placeholder;

// A typed field's value as the data keeps it: '' when empty, null when it can't be read.
export function readTyped(type, raw) {
  const s = String(raw ?? '').trim();
  return s ? TYPED[type].parse(s) : '';
}

// Each field: { name, label, type: 'text'|'date'|'time'|'number'|'select'|'textarea', options, value, wide, required, hint }
export function formDialog(host, { id, title, fields, submitLabel = 'Save', onSubmit, extra = null }) {
  const controls = {};
  const errors = {};
  const rows = fields.map((f) => {
    const controlId = `${id}-${f.name}`;
    let control;
    if (f.type === 'select') {
      control = h('select', { id: controlId, name: f.name },
        f.options.map((o) => h('option', { value: o.value, text: o.label, selected: o.value === (f.value ?? '') })));
    } else if (f.type === 'textarea') {
      control = h('textarea', { id: controlId, name: f.name, rows: 3 });
      control.value = f.value ?? '';
    } else if (TYPED[f.type]) {
      const typed = TYPED[f.type];
      control = h('input', { id: controlId, name: f.name, type: 'text', inputmode: f.type === 'time' ? 'numeric' : null, class: `typed-${f.type}`,
        placeholder: typed.placeholder, autocomplete: 'off', dataset: { typed: f.type }, ...(f.attrs ?? {}) });
      control.value = typed.show(f.value ?? '');
      // Tidied when the field is left, so "1430" reads 14:30 before the form is sent.
      control.addEventListener('blur', () => {
        const value = readTyped(f.type, control.value);
        if (value) control.value = typed.show(value);
      });
    } else {
      control = h('input', { id: controlId, name: f.name, type: f.type ?? 'text', autocomplete: 'off', ...(f.attrs ?? {}) });
      control.value = f.value ?? '';
    }
    // A field being corrected loses its error at once rather than at the next save.
    control.addEventListener(f.type === 'select' ? 'change' : 'input', () => clearError(f.name));
    controls[f.name] = control;
    errors[f.name] = h('p', { class: 'field-error', id: `${controlId}-error`, hidden: true });
    return h('div', { class: `field${f.wide ? ' wide' : ''}` },
      h('label', { for: controlId, text: f.label }, f.required ? h('span', { class: 'required', text: ' (required)' }) : null),
      control,
      f.hint ? h('p', { class: 'field-hint muted', text: f.hint }) : null,
      errors[f.name]);
  });

  const opener = document.activeElement;
  const form = h('form', { id, novalidate: true },
    h('h2', { class: 'dialog-title', id: `${id}-heading`, text: title }),
    h('div', { class: 'form-grid' }, rows),
    extra,
    h('div', { class: 'dialog-actions' },
      button('Cancel', { id: `${id}-cancel`, onClick: () => close() }),
      h('button', { type: 'submit', class: 'button primary', id: `${id}-save`, text: submitLabel })));
  const dialog = h('dialog', { class: 'dialog form-dialog', 'aria-labelledby': `${id}-heading` }, form);

  function clearError(name) {
    errors[name].hidden = true;
    errors[name].textContent = '';
    controls[name].removeAttribute('aria-invalid');
    controls[name].removeAttribute('aria-describedby');
  }

  function close() {
    if (dialog.open) dialog.close();
    dialog.remove();
    if (opener instanceof HTMLElement && opener.isConnected) opener.focus();
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const values = {};
    const unreadable = {};
    for (const [k, c] of Object.entries(controls)) {
      const type = c.dataset.typed;
      values[k] = type ? readTyped(type, c.value) : c.value;
      if (values[k] === null) unreadable[k] = TYPED[type].error;
    }
    let found;
    try {
      found = Object.keys(unreadable).length ? unreadable : (onSubmit(values) || {});
    } catch (error) {
      showError(error);
      return;
    }
    let first = null;
    for (const [name, el] of Object.entries(errors)) {
      const message = found[name];
      el.textContent = message ?? '';
      el.hidden = !message;
      if (message) {
        controls[name].setAttribute('aria-invalid', 'true');
        controls[name].setAttribute('aria-describedby', el.id);
        first ??= controls[name];
      } else {
        controls[name].removeAttribute('aria-invalid');
        controls[name].removeAttribute('aria-describedby');
      }
    }
    const unplaced = Object.keys(found).filter((k) => !(k in errors));
    if (unplaced.length) showError(new Error(unplaced.map((k) => found[k]).join(' ')));
    if (first) first.focus();
    else if (!unplaced.length) close();
  });
  dialog.addEventListener('cancel', (event) => {
    event.preventDefault();
    close();
  });

  host.append(dialog);
  dialog.showModal();
  (fields.find((f) => f.focus) ? controls[fields.find((f) => f.focus).name] : Object.values(controls)[0])?.focus();
  return { dialog, controls, close };
}

// A list that draws only its first rows and adds more on request, so that fifty thousand
// deadlines cost no more to show than a hundred.
export function pagedList(container, items, drawItem, { page = 100, label = 'items', wrap = (rows) => rows } = {}) {
  let shown = 0;
  const more = button('', { kind: 'small', class: 'button small show-more' });
  const holder = h('div', { class: 'paged' });
  let body = null;
  function grow() {
    const next = items.slice(shown, shown + page).map(drawItem);
    shown += next.length;
    if (!body) {
      body = wrap(next);
      holder.replaceChildren(body);
    } else {
      (body.querySelector('tbody, ul, ol') ?? body).append(...next);
    }
    more.querySelector('span').textContent = `Show ${Math.min(page, items.length - shown)} more of ${items.length - shown} ${label}`;
    more.hidden = shown >= items.length;
  }
  more.addEventListener('click', () => {
    const focusAfter = shown;
    grow();
    holder.querySelectorAll('[data-row]')[focusAfter]?.querySelector('a, button')?.focus();
  });
  grow();
  container.replaceChildren(holder, h('div', { class: 'row-actions' }, more));
}

export function selectOptions(list, empty = null) {
  return [...(empty ? [{ value: '', label: empty }] : []), ...list];
}
