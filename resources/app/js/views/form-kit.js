// Small forms in dialogs, shared by the practice screens: labelled fields, errors next to the
// field they belong to, Escape to cancel, and focus back where it was afterwards.

import { h, button, showError } from '../ui.js';

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
    } else {
      control = h('input', { id: controlId, name: f.name, type: f.type ?? 'text', autocomplete: 'off', ...(f.attrs ?? {}) });
      control.value = f.value ?? '';
    }
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

  function close() {
    if (dialog.open) dialog.close();
    dialog.remove();
    if (opener instanceof HTMLElement && opener.isConnected) opener.focus();
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const values = Object.fromEntries(Object.entries(controls).map(([k, c]) => [k, c.value]));
    let found;
    try {
      found = onSubmit(values) || {};
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
