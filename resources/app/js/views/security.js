// Settings → Security: encryption of the practice data with a passphrase, and fingerprint unlock
// of the data and of the client-account vault.

import { h, fill, button, pageHeader, card, toast, showError, confirmDialog } from '../ui.js';
import { icon } from '../icons.js';
import { hrefFor } from '../routes.js';
import { hasVault, openVault } from '../vault.js';
import { fingerprintStatus } from './fingerprint.js';
import { isPlainObject, plural } from '../format.js';
import { shareStatus, SHARED_ENCRYPTION_REFUSAL } from '../share.js';

export function render(root, { app, bridge }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('settings') }, icon('back', 16), h('span', { text: 'Settings' })),
    pageHeader('Security', 'Encryption of your data, and unlocking it with a fingerprint.'));

  let active = true;
  const encryption = h('div', { id: 'encryption' });
  root.append(card('Encryption', encryption));
  const fingerprint = h('div', { id: 'fingerprint' });
  root.append(card('Unlock with fingerprint', fingerprint));

  // Copies of the data from before it was encrypted that anyone can still read: the .bak file,
  // snapshots and safety copies, the backup folder's copy. Null when the count can't be had.
  async function readableCopies() {
    if (!bridge) return null;
    const answer = await Promise.resolve(bridge.plainCopies()).catch(() => null);
    return isPlainObject(answer) && Number.isInteger(answer.count) ? answer.count : null;
  }

  // Asks whether to remove them; yes is the answer the dialog starts on.
  async function offerRemoval(count) {
    const copies = plural(count, 'readable copy', 'readable copies');
    const remove = await confirmDialog({
      title: `Remove ${copies} of your data?`,
      message: `Quillpost still has ${copies} of your data from before it was encrypted (the previous save, daily snapshots, safety copies or the backup folder's copy). Anyone who opens ${count === 1 ? 'it' : 'them'} can read your clients' details. Remove ${count === 1 ? 'it' : 'them'} now? Kept, ${count === 1 ? 'it stays' : 'they stay'} readable.`,
      confirmLabel: 'Remove',
      cancelLabel: 'Keep',
    });
    if (!remove) return;
    try {
      const result = await bridge.removePlainCopies();
      const left = isPlainObject(result) && Number.isInteger(result.left) ? result.left : 0;
      toast(left ? `${plural(left, 'readable copy', 'readable copies')} couldn't be removed.` : 'The readable copies are removed.', left ? { kind: 'error' } : undefined);
    } catch (error) {
      showError(error);
    }
  }

  async function drawStatus(status, actions) {
    const kept = await readableCopies();
    if (!active || !status.isConnected || !app.encrypted || !kept) return;
    status.textContent = `Your data is encrypted with your passphrase, but ${plural(kept, 'readable copy', 'readable copies')} from before ${kept === 1 ? 'was' : 'were'} kept: anyone who opens ${kept === 1 ? 'it' : 'them'} can read your data without the passphrase.`;
    status.dataset.readableCopies = String(kept);
    actions.prepend(button('Remove readable copies', { id: 'encryption-copies-remove', onClick: async () => {
      await offerRemoval(kept);
      draw();
    } }));
  }

  function drawEncryption() {
    if (app.encrypted) {
      const off = button('Stop encrypting', { id: 'encryption-off', kind: 'danger', onClick: async () => {
        const sure = await confirmDialog({ title: 'Stop encrypting your data?', message: 'Your data will be saved unencrypted from now on.', confirmLabel: 'Stop encrypting', danger: true });
        if (!sure) return;
        try {
          await app.decrypt();
          if (bridge) await bridge.touchIdClear();
          toast('Your data is saved unencrypted.');
        } catch (error) {
          showError(error);
        }
        draw();
      } });
      const status = h('p', { id: 'encryption-status', text: 'Your data is encrypted with your passphrase.' });
      const actions = h('div', { class: 'row-actions' }, off);
      encryption.replaceChildren(status, actions);
      drawStatus(status, actions);
      return;
    }
    const first = h('input', { id: 'encryption-passphrase', type: 'password', autocomplete: 'new-password' });
    const second = h('input', { id: 'encryption-confirm', type: 'password', autocomplete: 'new-password' });
    const error = h('p', { class: 'field-error', id: 'encryption-error', role: 'alert', hidden: true });
    const form = h('form', { id: 'encryption-form', novalidate: true },
      h('p', { id: 'encryption-status', class: 'muted', text: 'Your data is saved unencrypted. With a passphrase, nobody can read it without the passphrase — and nobody can recover it if the passphrase is lost.' }),
      h('div', { class: 'form-grid' },
        h('div', { class: 'field' }, h('label', { for: 'encryption-passphrase', text: 'Passphrase' }), first),
        h('div', { class: 'field' }, h('label', { for: 'encryption-confirm', text: 'Passphrase again' }), second)),
      error,
      h('div', { class: 'row-actions' }, h('button', { type: 'submit', class: 'button primary', id: 'encryption-on', text: 'Encrypt my data', disabled: !app.editable })));
    form.addEventListener('submit', async (event) => {
      event.preventDefault();
      const problem = shareStatus.current.enabled ? SHARED_ENCRYPTION_REFUSAL
        : first.value.length < 8 ? 'Use at least 8 characters.' : first.value !== second.value ? "The two passphrases don't match." : '';
      error.textContent = problem;
      error.hidden = !problem;
      if (problem) return first.focus();
      try {
        await app.encrypt(first.value);
        // A passphrase saved for fingerprint unlock earlier would no longer open the data.
        if (bridge) await bridge.touchIdClear();
        toast('Your data is encrypted.');
        const count = await readableCopies();
        if (count) await offerRemoval(count);
      } catch (failure) {
        showError(failure);
      }
      first.value = second.value = '';
      draw();
    });
    encryption.replaceChildren(form);
  }

  // One switch per passphrase: turning it on asks for the passphrase once and checks it first.
  function toggle({ id, label, enabled, check, save, clear, unavailable }) {
    const box = h('input', { type: 'checkbox', id, checked: enabled, disabled: unavailable });
    const passphrase = h('input', { type: 'password', id: `${id}-passphrase`, autocomplete: 'current-password' });
    const status = h('p', { class: 'muted', id: `${id}-status`, 'aria-live': 'polite' });
    const confirm = h('form', { class: 'inline-form', id: `${id}-form`, hidden: true, novalidate: true },
      h('label', { for: `${id}-passphrase`, text: 'Passphrase' }), passphrase,
      h('button', { type: 'submit', class: 'button small', id: `${id}-save`, text: 'Turn on' }));
    box.addEventListener('change', async () => {
      if (box.checked) {
        confirm.hidden = false;
        passphrase.focus();
        return;
      }
      confirm.hidden = true;
      await clear();
      status.textContent = 'Off.';
    });
    confirm.addEventListener('submit', async (event) => {
      event.preventDefault();
      const value = passphrase.value;
      passphrase.value = '';
      if (!(await check(value))) {
        status.textContent = "That passphrase doesn't match.";
        return;
      }
      const saved = await save(value).catch(() => false);
      box.checked = saved === true;
      confirm.hidden = saved === true;
      status.textContent = saved === true ? 'On: a finger on the reader gives the passphrase back.' : "The passphrase couldn't be saved for fingerprint unlock.";
    });
    return h('div', { class: 'switch-row' },
      h('label', { class: 'switch', for: id }, box, h('span', { text: label })), confirm, status);
  }

  async function drawFingerprint() {
    fingerprint.replaceChildren(h('p', { class: 'muted', text: 'Looking for a fingerprint reader…' }));
    const status = await fingerprintStatus(bridge);
    if (!active) return;
    const [dataOn, vaultOn] = bridge ? await Promise.all([bridge.touchIdEnabled().catch(() => false), bridge.vaultTouchEnabled().catch(() => false)]) : [false, false];
    if (!active) return;
    // fill() leaves out the cards that don't apply; replaceChildren would write them as "null".
    fill(fingerprint,
      h('p', { id: 'fingerprint-status', class: status.available ? 'muted' : 'notice-text', text: status.available ? 'A fingerprint reader with enrolled fingers is ready.' : status.reason }),
      app.encrypted ? toggle({
        id: 'fingerprint-data', label: 'Unlock my data with a fingerprint', enabled: dataOn, unavailable: !status.available && !dataOn,
        check: (p) => app.checkPassphrase(p), save: (p) => bridge.touchIdSave(p), clear: () => bridge.touchIdClear(),
      }) : h('p', { class: 'muted', text: 'Encrypt your data first to unlock it with a fingerprint.' }),
      hasVault(app.data) ? toggle({
        id: 'fingerprint-vault', label: 'Open the client-account vault with a fingerprint', enabled: vaultOn, unavailable: !status.available && !vaultOn,
        check: (p) => openVault(app.data.vault, p).then(() => true, () => false), save: (p) => bridge.vaultTouchSave(p), clear: () => bridge.vaultTouchClear(),
      }) : null);
  }

  function draw() {
    drawEncryption();
    drawFingerprint();
  }
  draw();
  return () => { active = false; };
}
