// Building blocks for the screens: elements, toasts, confirmations and page headers.

import { icon } from './icons.js';
import { plainError } from './format.js';

const PROPERTIES = new Set(['value', 'checked', 'disabled', 'hidden', 'selected', 'type']);

// h('button', { class: 'button', onClick: fn }, 'Save') → <button class="button">Save</button>
// Text always goes in as text, never as markup.
export function h(tag, props = {}, ...children) {
  const el = document.createElement(tag);
  for (const [key, value] of Object.entries(props ?? {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') el.className = value;
    else if (key === 'text') el.textContent = value;
    else if (key === 'dataset') Object.assign(el.dataset, value);
    else if (/^on[A-Z]/.test(key)) el.addEventListener(key.slice(2).toLowerCase(), value);
    else if (PROPERTIES.has(key)) el[key] = value;
    else el.setAttribute(key, value === true ? '' : String(value));
  }
  append(el, children);
  return el;
}

// Replaces an element's children; like h(), it leaves out null, undefined and false.
export function fill(el, ...children) {
  el.replaceChildren();
  append(el, children);
  return el;
}

function append(el, children) {
  for (const child of children.flat(Infinity)) {
    if (child === null || child === undefined || child === false) continue;
    el.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
}

export function button(label, { kind = '', iconName = '', ...props } = {}) {
  return h('button', { type: 'button', class: `button ${kind}`.trim(), ...props },
    iconName ? icon(iconName, 16) : null, h('span', { text: label }));
}

export function pageHeader(title, subtitle = '', ...actions) {
  return h('header', { class: 'page-header' },
    h('div', { class: 'page-heading' },
      h('h1', { text: title }),
      subtitle ? h('p', { class: 'page-subtitle', text: subtitle }) : null),
    actions.length ? h('div', { class: 'page-actions' }, actions) : null);
}

export function card(title, ...children) {
  return h('section', { class: 'card' }, title ? h('h2', { class: 'card-title', text: title }) : null, children);
}

export function notice(kind, message, ...extra) {
  return h('div', { class: `notice notice-${kind}`, role: kind === 'error' || kind === 'warning' ? 'alert' : 'status' },
    icon(kind === 'info' ? 'info' : 'warning', 18),
    h('div', { class: 'notice-body' }, h('p', { text: message }), extra));
}

// Toasts: short messages in the corner. Errors stay until closed, or for a good while.
// action: { label, run } adds a button (such as Undo) that runs once and closes the toast.
export function toast(message, { kind = 'info', timeout, action = null } = {}) {
  const host = document.getElementById('toasts');
  if (!host) return;
  const close = () => {
    item.classList.add('leaving');
    setTimeout(() => item.remove(), 160);
  };
  const item = h('div', { class: `toast toast-${kind}`, role: kind === 'error' ? 'alert' : 'status' },
    icon(kind === 'error' ? 'warning' : 'info', 18),
    h('p', { class: 'toast-message', text: message }),
    action ? h('button', { type: 'button', class: 'toast-action', text: action.label, onClick: () => { close(); action.run(); } }) : null,
    h('button', { type: 'button', class: 'toast-close', 'aria-label': 'Dismiss message', onClick: close }, icon('close', 14)));
  host.append(item);
  const wait = timeout ?? (kind === 'error' ? 12000 : 4000);
  if (wait > 0) setTimeout(close, wait);
  return item;
}

// The reason in plain words; server names and library codes only under "Details".
export function showError(error) {
  const { message, details } = plainError(error);
  const item = toast(message, { kind: 'error' });
  if (item && details) item.querySelector('.toast-message').append(h('details', { class: 'toast-details' }, h('summary', { text: 'Details' }), h('span', { class: 'notice-detail', text: details })));
}

// Asks before something that can't be undone. Resolves true when confirmed. With cancelLabel
// null it only tells (one button).
export function confirmDialog({ title, message, confirmLabel = 'OK', cancelLabel = 'Cancel', danger = false }) {
  const dialog = document.getElementById('confirm-dialog');
  if (!dialog || dialog.open) return Promise.resolve(false);
  document.getElementById('confirm-title').textContent = title;
  document.getElementById('confirm-message').textContent = message;
  const ok = document.getElementById('confirm-ok');
  const cancel = document.getElementById('confirm-cancel');
  ok.textContent = confirmLabel;
  ok.className = `button ${danger ? 'danger' : 'primary'}`;
  cancel.textContent = cancelLabel ?? '';
  cancel.hidden = cancelLabel === null;
  dialog.returnValue = '';
  const returnFocus = document.activeElement;
  const form = dialog.querySelector('form');
  return new Promise((resolve) => {
    const finish = (answer) => {
      form.removeEventListener('submit', submitted);
      dialog.removeEventListener('cancel', cancelled);
      dialog.removeEventListener('close', closed);
      if (dialog.open) dialog.close();
      if (returnFocus instanceof HTMLElement && returnFocus.isConnected) returnFocus.focus();
      resolve(answer);
    };
    // Answered through the buttons (or Enter) and Escape; the close event comes later
    // and is only a fallback for the dialog being closed some other way.
    const submitted = (event) => {
      event.preventDefault();
      finish(event.submitter?.value === 'ok');
    };
    const cancelled = (event) => {
      event.preventDefault();
      finish(false);
    };
    const closed = () => {
      if (!dialog.open) finish(dialog.returnValue === 'ok');
    };
    form.addEventListener('submit', submitted);
    dialog.addEventListener('cancel', cancelled);
    dialog.addEventListener('close', closed);
    dialog.showModal();
    (danger ? cancel : ok).focus();
  });
}

// Runs a native call from a button: the button is disabled meanwhile and a failure is
// shown. Resolves to the call's answer, or undefined when it failed.
export async function runFrom(btn, work) {
  if (btn) btn.disabled = true;
  try {
    return await work();
  } catch (error) {
    showError(error);
    return undefined;
  } finally {
    if (btn && btn.isConnected) btn.disabled = false;
  }
}
