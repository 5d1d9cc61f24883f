// The lock screen of encrypted data: the passphrase, or a finger on the reader, whose mark the
// desktop program draws over the page at the place kept for it here.

import { h, button, card } from '../ui.js';
import { icon } from '../icons.js';
import { readUnlock } from './fingerprint.js';

export function render(root, { app, bridge }) {
  const field = h('input', { id: 'unlock-passphrase', type: 'password', autocomplete: 'current-password', required: true });
  const message = h('p', { class: 'field-error', id: 'unlock-message', role: 'alert', hidden: true });
  const hint = h('p', { class: 'muted', id: 'unlock-hint', role: 'status', hidden: true, text: 'Touch the fingerprint reader…' });
  const slot = h('div', { class: 'fingerprint-slot', id: 'fingerprint-slot', hidden: true, 'aria-hidden': 'true' });
  const fingerButton = button('Unlock with fingerprint', { id: 'unlock-fingerprint', hidden: true, iconName: 'shield', onClick: () => ask() });
  const form = h('form', { id: 'unlock-form', class: 'lock-form', novalidate: true },
    h('div', { class: 'field wide' }, h('label', { for: 'unlock-passphrase', text: 'Passphrase' }), field, message),
    h('div', { class: 'row-actions' }, h('button', { type: 'submit', class: 'button primary', id: 'unlock-submit', text: 'Unlock' }), fingerButton),
    slot, hint);
  root.append(h('div', { class: 'lock-screen', id: 'lock-screen' },
    h('span', { class: 'lock-icon', 'aria-hidden': 'true' }, icon('shield', 32)),
    card('Your data is encrypted', h('p', { class: 'muted', text: app.lock.message }), form)));

  let active = true;
  let inline = false;
  let asking = false;
  const show = (text) => {
    message.textContent = text;
    message.hidden = !text;
  };
  const open = async (passphrase) => {
    try {
      await app.unlock(passphrase);
    } catch (error) {
      if (active) show(error.message);
    }
  };

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    if (!field.value) {
      show('Enter your passphrase.');
      field.focus();
      return;
    }
    const passphrase = field.value;
    field.value = '';
    open(passphrase);
  });

  const rect = () => {
    const r = slot.getBoundingClientRect();
    return { x: r.left, y: r.top, w: r.width, h: r.height };
  };
  const moved = () => { if (inline) bridge.touchIdInlineMove(rect()).catch(() => {}); };

  async function handle(answer) {
    const result = readUnlock(answer);
    if (!active) return;
    if (result.passphrase !== undefined) await open(result.passphrase);
    else if (result.message) show(result.message);
    if (result.outcome === 'fingersChanged') fingerButton.hidden = true;
  }

  // The inline mark first; where it can't be drawn, the button asks through the system prompt.
  async function inlinePrompt() {
    slot.hidden = false;
    hint.hidden = false;
    inline = true;
    const answer = await bridge.touchIdInline(rect()).catch(() => null);
    inline = false;
    if (!active) return;
    slot.hidden = true;
    hint.hidden = true;
    if (answer && answer.unsupported) return;
    await handle(answer);
  }

  async function ask() {
    fingerButton.disabled = true;
    show('');
    hint.hidden = false;
    asking = true;
    try {
      await handle(await bridge.touchIdUnlock());
    } catch (error) {
      show(error.message);
    } finally {
      asking = false;
      hint.hidden = true;
      fingerButton.disabled = false;
    }
  }

  if (bridge && typeof bridge.touchIdEnabled === 'function') {
    bridge.touchIdEnabled().then((enabled) => {
      if (!active || !enabled) return;
      fingerButton.hidden = false;
      inlinePrompt();
    }).catch(() => {});
  }
  window.addEventListener('resize', moved);
  requestAnimationFrame(() => field.focus());

  return () => {
    active = false;
    window.removeEventListener('resize', moved);
    // The reader is let go with the lock screen, whichever way it was asked for.
    if (bridge && (inline || asking)) bridge.touchIdInlineCancel().catch(() => {});
  };
}
