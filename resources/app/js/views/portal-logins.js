// A client's portal logins, from the client-account vault: shown once the vault is open, each
// password copied to the clipboard for 30 seconds, never shown.

import { h, button, toast, confirmDialog } from '../ui.js';
import { hasVault, loginsFor, addLogin, removeLogin, COPY_SECONDS } from '../vault.js';
import { vaultOpen, currentVault, unlockVault, startVault, storeVault, lockVault } from '../vault-session.js';
import { readUnlock } from './fingerprint.js';

// The section sits inside the client form, so its own fields submit by Enter or their button,
// never through a form of their own (forms don't nest).
function group(props, submit, ...children) {
  const el = h('div', { role: 'group', ...props }, ...children);
  el.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && event.target instanceof HTMLInputElement) {
      event.preventDefault();
      submit();
    }
  });
  el.addEventListener('click', (event) => {
    if (event.target instanceof Element && event.target.closest('[data-submit]')) submit();
  });
  return el;
}

export function portalLogins({ app, bridge, client }) {
  const body = h('div', { id: 'vault-body' });
  const message = h('p', { class: 'muted', id: 'vault-message', 'aria-live': 'polite' });
  const section = h('section', { class: 'client-section', id: 'vault-section', 'aria-labelledby': 'vault-title' },
    h('h3', { id: 'vault-title', text: 'Portal logins' }),
    h('p', { class: 'muted', text: 'Kept in the vault, encrypted with the vault passphrase.' }),
    body, message);

  const say = (text) => { message.textContent = text; };

  function draw() {
    say('');
    if (!hasVault(app.data)) return body.replaceChildren(passphraseForm('Set a vault passphrase', 'vault-new', 'new-password', async (p) => {
      await startVault(app, p);
      draw();
    }));
    if (!vaultOpen()) return drawLocked();
    const logins = loginsFor(currentVault(), client.id);
    body.replaceChildren(
      h('ul', { class: 'vault-logins', id: 'vault-logins' }, logins.map(row)),
      logins.length ? null : h('p', { class: 'muted', text: 'No portal logins for this client yet.' }),
      addForm(),
      h('div', { class: 'row-actions' }, button('Lock the vault', { id: 'vault-lock', kind: 'small', onClick: () => { lockVault(); draw(); } })));
  }

  function drawLocked() {
    const finger = button('Open with fingerprint', { id: 'vault-fingerprint', kind: 'small', hidden: true, onClick: async () => {
      finger.disabled = true;
      say('Touch the fingerprint reader…');
      try {
        const result = readUnlock(await bridge.vaultTouchUnlock());
        say('');
        if (result.passphrase !== undefined) await open(result.passphrase);
        else if (result.message) say(result.message);
      } catch (error) {
        say(error.message);
      } finally {
        finger.disabled = false;
      }
    } });
    body.replaceChildren(passphraseForm('Open the vault', 'vault-passphrase', 'current-password', open), finger);
    if (bridge?.vaultTouchEnabled) bridge.vaultTouchEnabled().then((on) => { finger.hidden = !on; }).catch(() => {});
  }

  async function open(passphrase) {
    await unlockVault(app, passphrase);
    draw();
  }

  function passphraseForm(label, id, autocomplete, submit) {
    const input = h('input', { id, type: 'password', autocomplete });
    return group({ class: 'inline-form', id: `${id}-form` }, async () => {
      const value = input.value;
      input.value = '';
      if (!value) return say('Enter the vault passphrase.');
      try {
        await submit(value);
      } catch (error) {
        say(error.message);
      }
    },
    h('label', { for: id, text: label }), input,
    h('button', { type: 'button', class: 'button small', id: `${id}-submit`, dataset: { submit: '' }, text: label.startsWith('Set') ? 'Set' : 'Open' }));
  }

  function row(login) {
    return h('li', { dataset: { login: login.id } },
      h('span', { class: 'upload-link-text' },
        h('span', { class: 'vault-portal', text: login.portal }),
        h('span', { class: 'muted', text: login.username })),
      h('button', { type: 'button', class: 'button small', dataset: { action: 'copy-password' }, text: 'Copy password', onClick: () => copy(login) }),
      h('button', { type: 'button', class: 'button small', dataset: { action: 'remove-login' }, text: 'Remove', onClick: () => remove(login) }));
  }

  async function copy(login) {
    if (!bridge) return say('Copying needs the Quillpost desktop program.');
    try {
      // The desktop program answers false when the clipboard didn't take the password.
      if ((await bridge.copySecret(login.password, COPY_SECONDS)) !== true) {
        say("Quillpost couldn't copy the password to the clipboard.");
        return;
      }
      toast(`Password copied. It is cleared from the clipboard in ${COPY_SECONDS} seconds.`);
    } catch (error) {
      say(error.message);
    }
  }

  async function remove(login) {
    const sure = await confirmDialog({ title: 'Remove this login?', message: `${login.portal} is removed from the vault.`, confirmLabel: 'Remove', danger: true });
    if (!sure) return;
    removeLogin(currentVault(), client.id, login.id);
    await storeVault(app);
    draw();
  }

  function addForm() {
    const portal = h('input', { id: 'vault-portal', autocomplete: 'off', placeholder: 'IRCC secure account' });
    const username = h('input', { id: 'vault-username', autocomplete: 'off' });
    const password = h('input', { id: 'vault-password', type: 'password', autocomplete: 'new-password' });
    return group({ id: 'vault-add-form' }, async () => {
      try {
        addLogin(currentVault(), client.id, { portal: portal.value, username: username.value, password: password.value });
        password.value = '';
        await storeVault(app);
        draw();
      } catch (error) {
        say(error.message);
      }
    },
    h('div', { class: 'form-grid' },
      h('div', { class: 'field' }, h('label', { for: 'vault-portal', text: 'Portal' }), portal),
      h('div', { class: 'field' }, h('label', { for: 'vault-username', text: 'Username' }), username),
      h('div', { class: 'field' }, h('label', { for: 'vault-password', text: 'Password' }), password)),
    h('div', { class: 'row-actions' }, h('button', { type: 'button', class: 'button small', id: 'vault-add', dataset: { submit: '' }, text: 'Add login' })));
  }

  draw();
  return section;
}
