// PDF Studio: the print inbox of the Quillpost PDF printer, shareable copies of filled forms, the
// full PDF editor, and locked handover PDFs.

import { h, pageHeader, card, button, runFrom, toast, confirmDialog, showError } from '../ui.js';
import { icon } from '../icons.js';
import { formatWhen, messageOf } from '../format.js';
import { hrefFor } from '../routes.js';
import { saveWithNotice } from '../download.js';
import { renderEditor } from './pdf-editor-card.js';
import { documentsFolder } from '../clients-model.js';
import { renderFormCopy } from './form-copy-card.js';
import {
  newestFirst, withArrival, withoutFile, onPrintedFile, passwordProblem, lockedName, looksLikePdf, fileSize, MIN_PASSWORD_LENGTH,
} from '../print-inbox.js';

export function render(root, { app, bridge, route }) {
  root.append(pageHeader('PDF Studio', 'Printed forms, shareable copies of filled forms, the full PDF editor and password-locked copies for your clients.'));
  if (!bridge) {
    root.append(card('Print inbox', h('p', { class: 'muted', text: 'The print inbox needs the Quillpost desktop program.' })));
    return;
  }
  let formCopy = null;
  const stopInbox = renderInbox(root, bridge, app, (bytes, name) => {
    formCopy.element.scrollIntoView({ block: 'start', behavior: 'smooth' });
    return formCopy.makeFromPage(bytes, name);
  });
  formCopy = renderFormCopy(root, bridge, route);
  const stopEditor = renderEditor(root, bridge, app);
  renderHandover(root, bridge);
  return () => {
    stopInbox();
    formCopy.stop();
    stopEditor();
  };
}

function renderInbox(root, bridge, app, makeShareable) {
  const list = h('div', { id: 'printed-list', 'aria-live': 'polite' }, h('p', { class: 'muted', text: 'Reading the print inbox…' }));
  root.append(card('Print inbox',
    h('p', { class: 'card-intro muted' },
      'Print to "Quillpost PDF" from any program, such as a PDF reader, and the exact copy appears here. ',
      h('a', { class: 'inline-link', href: hrefFor('settings/printer'), text: 'Printer settings' })),
    list));

  let records = [];
  let active = true;
  const draw = () => {
    if (!records.length) {
      list.replaceChildren(h('div', { class: 'empty-small', id: 'printed-empty' },
        h('p', { class: 'muted', text: 'Nothing printed yet.' })));
      return;
    }
    list.replaceChildren(h('ul', { class: 'printed' }, records.map((record) => printedItem(record))));
  };

  const printedItem = (record) => {
    const open = button('Open', {
      onClick: () => runFrom(open, async () => {
        if (!(await bridge.openPrinted(record.path))) toast(`${record.name} couldn't be opened.`, { kind: 'error' });
      }),
    });
    const trash = button('Move to Trash', {
      kind: 'danger-quiet', iconName: 'trash',
      onClick: async () => {
        const sure = await confirmDialog({
          title: 'Move to Trash?', message: `${record.name} goes to the Trash. You can put it back from there.`,
          confirmLabel: 'Move to Trash', danger: true,
        });
        if (!sure) return;
        const moved = await runFrom(trash, () => bridge.deletePrinted(record.path));
        if (moved) {
          records = withoutFile(records, record.path);
          draw();
          toast(`${record.name} is in the Trash.`);
        } else if (moved === false) {
          toast(`${record.name} couldn't be moved to the Trash.`, { kind: 'error' });
        }
      },
    });
    const shareable = button('Make shareable copy', {
      dataset: { action: 'shareable' }, 'aria-label': `Make shareable copy of ${record.name}`,
      onClick: () => runFrom(shareable, async () => makeShareable(await bridge.readPrinted(record.path), record.name)),
    });
    const item = h('li', { class: 'printed-item', dataset: { path: record.path } },
      h('span', { class: 'printed-icon' }, icon('document', 20)),
      h('span', { class: 'printed-text' },
        h('span', { class: 'printed-name', text: record.name }),
        h('span', { class: 'muted printed-meta', text: [formatWhen(record.at), fileSize(record.size)].filter(Boolean).join(' · ') })),
      h('span', { class: 'printed-actions' }, fileToClient(record), shareable, open, trash));
    return item;
  };

  // Files the printed copy among a client's documents, in their "Printed" folder; the inbox keeps
  // its copy until the user moves it to the Trash.
  const fileToClient = (record) => {
    const clients = (Array.isArray(app?.data?.clients) ? app.data.clients : []).filter((c) => c && typeof c.name === 'string' && c.name.trim());
    const file = button('File to client…', { dataset: { action: 'file' }, disabled: !clients.length || !bridge.saveDocument,
      title: clients.length ? null : 'Add a client first' });
    const choice = h('select', { 'aria-label': `Client for ${record.name}`, dataset: { role: 'client' } },
      clients.map((client) => h('option', { value: client.id, text: client.name })));
    const confirm = button('File', { kind: 'primary small', dataset: { action: 'file-confirm' } });
    const cancel = button('Cancel', { kind: 'small' });
    const chooser = h('span', { class: 'file-chooser', hidden: true }, choice, confirm, cancel);
    file.addEventListener('click', () => {
      chooser.hidden = false;
      file.hidden = true;
      choice.focus();
    });
    cancel.addEventListener('click', () => {
      chooser.hidden = true;
      file.hidden = false;
      file.focus();
    });
    confirm.addEventListener('click', () => runFrom(confirm, async () => {
      const client = clients.find((c) => c.id === choice.value);
      if (!client) return;
      const folder = await documentsFolder(app, bridge, client.id);
      if (!folder) throw new Error(app.lock ? app.lock.message : 'Your data is still loading.');
      const bytes = await bridge.readPrinted(record.path);
      const saved = await bridge.saveDocument({ client: folder, sub: 'Printed', fileName: record.name, bytes });
      chooser.hidden = true;
      file.hidden = false;
      toast(`${record.name} is filed in ${client.name}'s documents${saved?.name && saved.name !== record.name ? ` as ${saved.name}` : ''}.`);
    }));
    return h('span', { class: 'file-to-client' }, file, chooser);
  };

  const stopListening = onPrintedFile((record) => {
    records = withArrival(records, record);
    draw();
  });

  Promise.resolve()
    .then(() => bridge.listPrinted())
    .then((answer) => {
      if (!active) return;
      // Files that arrived while the list was being read are kept.
      for (const record of newestFirst(answer)) records = withArrival(records, record);
      draw();
    })
    .catch((error) => {
      if (active) list.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: messageOf(error) }));
    });

  return () => {
    active = false;
    stopListening();
  };
}

function renderHandover(root, bridge) {
  let picked = null;
  const fileInput = h('input', { type: 'file', id: 'handover-file', accept: 'application/pdf,.pdf' });
  const password = h('input', { type: 'password', id: 'handover-password', autocomplete: 'new-password', minlength: String(MIN_PASSWORD_LENGTH) });
  const confirmation = h('input', { type: 'password', id: 'handover-confirm', autocomplete: 'new-password' });
  const problem = h('p', { class: 'error-text', id: 'handover-problem', role: 'alert', hidden: true });
  const save = button('Save locked copy', { kind: 'primary', iconName: 'lock', id: 'handover-save', type: 'submit' });
  save.type = 'submit';

  const say = (text) => {
    problem.textContent = text ?? '';
    problem.hidden = !text;
  };

  fileInput.addEventListener('change', async () => {
    say(null);
    picked = null;
    const file = fileInput.files?.[0];
    if (!file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (!looksLikePdf(bytes)) {
      say(`${file.name} isn't a PDF.`);
      return;
    }
    picked = { name: file.name, bytes };
  });

  const form = h('form', { class: 'handover', id: 'handover-form', novalidate: true },
    h('label', { class: 'field' }, h('span', { class: 'field-label', text: 'PDF to hand over' }), fileInput),
    h('label', { class: 'field' }, h('span', { class: 'field-label', text: `Password (at least ${MIN_PASSWORD_LENGTH} characters)` }), password),
    h('label', { class: 'field' }, h('span', { class: 'field-label', text: 'Password again' }), confirmation),
    problem,
    h('div', { class: 'form-actions' }, save));

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    if (!picked) {
      say('Choose a PDF first.');
      fileInput.focus();
      return;
    }
    const why = passwordProblem(password.value, confirmation.value);
    if (why) {
      say(why);
      password.focus();
      return;
    }
    say(null);
    const locked = await runFrom(save, () => bridge.protectPdf(picked.bytes, password.value));
    if (!locked) return;
    const name = lockedName(picked.name);
    try {
      const outcome = await saveWithNotice(toast, locked, name, { more: 'Send the password to your client separately.' });
      if (outcome.result === 'cancelled') return;
      password.value = '';
      confirmation.value = '';
    } catch (error) {
      showError(error);
    }
  });

  root.append(card('Handover PDF',
    h('p', { class: 'card-intro muted', text: 'A copy that opens only with the password you set here. The original stays as it is.' }),
    form));
}
