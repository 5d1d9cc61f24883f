// The full PDF editor's card in PDF Studio: open a PDF from the computer or a client's documents,
// and keep the editor current (check, update with each step shown, roll back).

import { h, card, button, runFrom, toast, showError } from '../ui.js';
import { messageOf } from '../format.js';
import { documentsFolder } from '../clients-model.js';
import { looksLikePdf } from '../print-inbox.js';
import { withProgress, stepLabel, describeVersion, describeCheck, describeUpdate, isPdfName } from '../pdf-editor.js';

export function renderEditor(root, bridge, app) {
  let active = true;
  const version = h('p', { id: 'editor-version', class: 'muted', text: 'Reading the editor’s version…' });
  const fileInput = h('input', { type: 'file', id: 'editor-open-file', accept: 'application/pdf,.pdf' });
  const openEmpty = button('Open the editor', { id: 'editor-open-empty', iconName: 'document' });

  const opened = (ok, what) => {
    if (ok === true) toast(`${what} is open in PdfCraft.`);
    else if (ok === false) toast('The PDF editor isn’t installed.', { kind: 'error' });
  };

  openEmpty.addEventListener('click', () => runFrom(openEmpty, async () => opened(await bridge.openPdfCraft(null, ''), 'A new editor window')));
  fileInput.addEventListener('change', async () => {
    const file = fileInput.files?.[0];
    if (!file) return;
    try {
      const bytes = new Uint8Array(await file.arrayBuffer());
      if (!looksLikePdf(bytes)) {
        toast(`${file.name} isn’t a PDF.`, { kind: 'error' });
        return;
      }
      opened(await bridge.openPdfCraft(bytes, file.name), file.name);
    } catch (error) {
      showError(error);
    } finally {
      fileInput.value = '';
    }
  });

  const clientDocuments = renderClientDocuments(bridge, app, opened);

  const checkResult = h('p', { id: 'editor-check-result', role: 'status' });
  const steps = h('ol', { id: 'editor-steps', class: 'update-steps', 'aria-live': 'polite' });
  const check = button('Check for a newer version', { id: 'editor-check' });
  const update = button('Update', { id: 'editor-update', kind: 'primary', hidden: true });
  const rollback = button('Go back to the previous version', { id: 'editor-rollback', hidden: true });
  const closeAll = button('Close all editor windows', { id: 'editor-close-all', hidden: true });

  const showInfo = (info) => {
    version.textContent = describeVersion(info);
    rollback.hidden = !info?.canRollback;
  };
  const refreshInfo = () => bridge.pdfcraftInfo().then((info) => { if (active) showInfo(info); })
    .catch((error) => { if (active) version.textContent = messageOf(error); });

  let progress = [];
  const drawSteps = () => steps.replaceChildren(...progress.map((entry) =>
    h('li', { class: `update-step step-${entry.state}`, dataset: { step: entry.step, state: entry.state } },
      h('span', { class: 'step-label', text: stepLabel(entry.step) }),
      h('span', { class: 'step-state', text: entry.state === 'run' ? ' …' : entry.state === 'ok' ? ' ✓' : ' ✗' }),
      entry.detail ? h('span', { class: 'muted step-detail', text: ` ${entry.detail}` }) : null)));
  bridge.onPdfcraftProgress?.((event) => {
    if (!active) return;
    progress = withProgress(progress, event);
    drawSteps();
  });

  const say = (outcome) => {
    checkResult.textContent = outcome.text;
    checkResult.className = outcome.ok ? '' : 'error-text';
  };

  check.addEventListener('click', () => runFrom(check, async () => {
    checkResult.textContent = 'Checking…';
    const outcome = describeCheck(await bridge.pdfcraftCheck());
    say(outcome);
    update.hidden = !outcome.available;
  }));
  update.addEventListener('click', () => runFrom(update, async () => {
    progress = [];
    drawSteps();
    const outcome = describeUpdate(await bridge.pdfcraftUpdate());
    say(outcome);
    closeAll.hidden = !outcome.closeFirst;
    if (outcome.ok) update.hidden = true;
    await refreshInfo();
  }));
  closeAll.addEventListener('click', () => runFrom(closeAll, async () => {
    const left = await bridge.pdfcraftCloseAll();
    closeAll.hidden = left === 0;
    say(left === 0 ? { ok: true, text: 'The editor windows are closed. You can update now.' }
      : { ok: false, text: 'An editor window still has changes that aren’t saved. Save them there, or close it without saving.' });
  }));
  rollback.addEventListener('click', () => runFrom(rollback, async () => {
    const info = await bridge.pdfcraftRollback();
    showInfo(info);
    say({ ok: true, text: `Back on PdfCraft ${info?.version || ''}.` });
  }));

  root.append(card('Full PDF editor',
    h('p', { class: 'card-intro muted', text: 'PdfCraft opens PDFs in a window of its own that never goes online: rotate, reorder and delete pages, fill forms, add text, and save a copy.' }),
    h('div', { class: 'form-actions editor-open' },
      openEmpty,
      h('label', { class: 'button file-button' }, h('span', { text: 'Open a PDF from this computer…' }), fileInput)),
    clientDocuments,
    h('h3', { class: 'card-subtitle', text: 'Version' }),
    version,
    h('div', { class: 'form-actions' }, check, update, closeAll, rollback),
    checkResult,
    steps));

  refreshInfo();
  return () => { active = false; };
}

// A client's PDFs, each with an "Open in editor" button.
function renderClientDocuments(bridge, app, opened) {
  const clients = (Array.isArray(app?.data?.clients) ? app.data.clients : []).filter((c) => c && typeof c.name === 'string' && c.name.trim());
  const list = h('ul', { id: 'editor-documents', class: 'plain-list' });
  const choice = h('select', { id: 'editor-client', 'aria-label': 'Client whose PDFs to list' },
    h('option', { value: '', text: clients.length ? 'Choose a client…' : 'No clients yet' }),
    clients.map((client) => h('option', { value: client.id, text: client.name })));
  choice.disabled = !clients.length;

  choice.addEventListener('change', async () => {
    list.replaceChildren();
    const client = clients.find((c) => c.id === choice.value);
    if (!client) return;
    try {
      const folder = await documentsFolder(app, bridge, client.id);
      const answer = folder ? await bridge.listDocuments(folder) : null;
      const pdfs = (Array.isArray(answer?.files) ? answer.files : []).filter((file) => isPdfName(file?.name));
      if (!pdfs.length) {
        list.replaceChildren(h('li', { class: 'muted', text: `${client.name} has no PDFs yet.` }));
        return;
      }
      list.replaceChildren(...pdfs.map((file) => {
        const open = button('Open in editor', { kind: 'small', dataset: { path: file.path } });
        open.addEventListener('click', () => runFrom(open, async () => opened(await bridge.openPdfCraft(await bridge.readDocument(file.path), file.name), file.name)));
        return h('li', { class: 'editor-document' }, h('span', { text: file.folder ? `${file.folder} / ${file.name}` : file.name }), ' ', open);
      }));
    } catch (error) {
      list.replaceChildren(h('li', { class: 'error-text', role: 'alert', text: messageOf(error) }));
    }
  });

  return h('div', { class: 'editor-client-documents' },
    h('label', { class: 'field' }, h('span', { class: 'field-label', text: 'Or open a client’s PDF' }), choice),
    list);
}
