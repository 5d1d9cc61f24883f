// Settings → Practice server, the sharing part: connecting this desk to the practice's PostgreSQL
// server, its state in words, and the values two desks changed at once.

import { h, button, card, notice, toast, confirmDialog } from '../ui.js';
import { plainError, formatWhen } from '../format.js';
import {
  readServerForm, describeShare, shareStatus, conflictsIn, chooseValue, showValue, recordLabel,
  ENCRYPTED_REFUSAL, JOIN_QUESTION, DELETED_FIELD,
} from '../share.js';

const FIELDS = [
  ['host', 'Server', 'text', 'db.example.org'],
  ['port', 'Port', 'text', '5432'],
  ['database', 'Database', 'text', 'practice'],
  ['user', 'User', 'text', ''],
  ['password', 'Password', 'password', ''],
];

function shareCard({ app, bridge }, live) {
  const body = h('div', { id: 'share-card-body' });
  const section = card('Share this practice with other desks', body);
  section.id = 'share-card';

  if (!bridge?.shareStatus) {
    body.append(h('p', { class: 'muted', text: "Sharing with other desks works from Quillpost's desktop program." }));
    return section;
  }
  if (app.encrypted || app.lock?.kind === 'encrypted') {
    body.append(notice('info', ENCRYPTED_REFUSAL));
    return section;
  }

  const state = h('p', { id: 'share-state', 'aria-live': 'polite' });
  const message = h('p', { class: 'muted', id: 'share-message', 'aria-live': 'polite' });
  const inputs = {};
  const errors = {};
  const grid = h('div', { class: 'form-grid' });
  for (const [name, label, type, placeholder] of FIELDS) {
    inputs[name] = h('input', { id: `share-${name}`, type, autocomplete: 'off', placeholder: placeholder || null });
    errors[name] = h('p', { class: 'field-error', id: `share-${name}-error`, hidden: true });
    grid.append(h('div', { class: 'field' }, h('label', { for: `share-${name}`, text: label }), inputs[name], errors[name]));
  }
  inputs.port.inputMode = 'numeric';

  const test = button('Test connection', { id: 'share-test', onClick: () => run(test, 'test') });
  const upload = button('Upload this practice', { id: 'share-upload', onClick: () => run(upload, 'upload') });
  const join = button('Use the shared practice', { id: 'share-join', onClick: () => run(join, 'join') });
  const stop = button('Stop sharing', { id: 'share-stop', onClick: () => stopSharing() });
  const form = h('form', { id: 'share-form', novalidate: true, onSubmit: (event) => event.preventDefault() },
    h('p', { class: 'muted', text: 'The first desk uploads its practice; every other desk then uses the shared one. ' +
      'The password is kept in the keyring of this computer. The connection is encrypted unless the server is this computer.' }),
    grid,
    h('div', { class: 'row-actions' }, test, upload, join));
  const running = h('div', { id: 'share-running' }, h('div', { class: 'row-actions' }, stop));
  body.append(state, form, running, message);

  const show = (status) => {
    state.textContent = describeShare(status).long;
    state.dataset.state = status.enabled ? status.state : 'off';
    form.hidden = status.enabled;
    running.hidden = !status.enabled;
  };
  show(shareStatus.current);
  live.push(shareStatus.on(show));

  function readForm() {
    const values = Object.fromEntries(Object.entries(inputs).map(([name, input]) => [name, input.value]));
    const read = readServerForm(values);
    for (const [name, error] of Object.entries(errors)) {
      const text = read.errors?.[name] ?? '';
      error.textContent = text;
      error.hidden = !text;
      if (text) inputs[name].setAttribute('aria-invalid', 'true');
      else inputs[name].removeAttribute('aria-invalid');
    }
    if (read.errors) inputs[Object.keys(read.errors)[0]].focus();
    return read.server ?? null;
  }

  async function run(btn, what) {
    const server = readForm();
    if (!server) return;
    if (what === 'join' && !(await confirmDialog({ title: 'Use the shared practice', message: JOIN_QUESTION, confirmLabel: 'Use the shared practice' }))) return;
    btn.disabled = true;
    message.textContent = what === 'test' ? 'Connecting…' : what === 'upload' ? 'Uploading this practice…' : 'Bringing in the shared practice…';
    try {
      if (what === 'test') {
        await bridge.shareTest(server);
        message.textContent = 'The server answered and accepted the user and password.';
      } else {
        // The desktop program reads the data file: what the user just changed goes there first.
        if (app.dirty) await app.saveNow();
        await bridge.shareStart({ ...server, mode: what });
        inputs.password.value = '';
        message.textContent = what === 'upload'
          ? 'This practice is on the server now. On each other desk, choose “Use the shared practice”.'
          : "This desk now uses the shared practice. Its earlier data is in a safety copy under Settings → Data.";
        await shareStatus.ask(() => bridge.shareStatus());
      }
    } catch (failure) {
      message.textContent = plainError(failure).message;
    } finally {
      btn.disabled = false;
    }
  }

  async function stopSharing() {
    const sure = await confirmDialog({
      title: 'Stop sharing',
      message: 'This desk keeps its data as it is now but no longer sends or receives changes. Stop sharing?',
      confirmLabel: 'Stop sharing',
    });
    if (!sure) return;
    try {
      await bridge.shareStop();
      await shareStatus.ask(() => bridge.shareStatus());
      message.textContent = 'This desk no longer shares the practice. Its data stays here.';
    } catch (failure) {
      message.textContent = plainError(failure).message;
    }
  }

  return section;
}

function conflictCard({ app }) {
  const list = h('div', { id: 'share-conflicts' });
  const section = card('Changed on two desks', list);
  section.id = 'share-conflicts-card';

  const draw = () => {
    const found = conflictsIn(app.data);
    section.hidden = !found.length;
    list.replaceChildren(h('p', { class: 'muted', text: 'Two desks changed these at the same time. Each shows the value every desk now has, ' +
      'and the other desk\'s value that was set aside. Choose the one to keep.' }));
    for (const { collection, id, record, entries } of found) {
      const rows = entries.map((entry) => {
        const other = entry.field === DELETED_FIELD ? 'Deleted' : showValue(entry.value);
        const current = entry.field === DELETED_FIELD ? 'Kept' : showValue(record[entry.field]);
        const choose = (keep) => {
          if (!app.editable) return toast(app.lock ? app.lock.message : 'Your data is still loading.', { kind: 'error' });
          const done = app.edit((doc) => chooseValue(doc, { collection, id, index: entry.index, field: entry.field, keep }));
          if (!done) toast('That choice was already made, on this desk or another.');
          draw();
        };
        const who = [entry.desk ? `desk ${entry.desk.slice(0, 8)}` : '', entry.at ? formatWhen(entry.at) : ''].filter(Boolean).join(', ');
        return h('li', { class: 'share-conflict', dataset: { collection, id, field: entry.field } },
          h('p', {}, h('strong', { text: entry.field === DELETED_FIELD ? 'Deleted on another desk' : entry.field })),
          h('p', { text: `Now: ${current}` }),
          h('p', { text: `Other desk${who ? ` (${who})` : ''}: ${other}` }),
          h('div', { class: 'row-actions' },
            button(entry.field === DELETED_FIELD ? 'Keep it' : 'Keep this value', { class: 'button share-keep', onClick: () => choose('current') }),
            button(entry.field === DELETED_FIELD ? 'Delete it' : 'Use the other value', { class: 'button share-other', onClick: () => choose('other') })));
      });
      list.append(h('div', { class: 'share-conflict-record' }, h('h3', { text: recordLabel(collection, record) }), h('ul', {}, rows)));
    }
  };
  draw();
  return section;
}

// The cards, and a function that lets them go when the screen changes.
export function shareCards(context) {
  const live = [];
  const cards = [shareCard(context, live), conflictCard(context)];
  return { cards, stop: () => { for (const off of live) off(); } };
}
