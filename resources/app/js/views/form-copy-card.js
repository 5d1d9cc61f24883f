// PDF Studio's card for shareable copies of filled forms: the fields baked into the pages and the
// form removed, so the client's copy can't be changed by accident.

import { h, card, button, toast, showError } from '../ui.js';
import { saveWithNotice } from '../download.js';
import { FORM_COPY_ROUTE, shareableName, describeCopy, showCard } from '../form-copy.js';

// Returns { element, make(bytes, name), stop }. make is the one way a copy is made, from the file
// input, the print inbox or App.formCopy; it shows the outcome and answers the copy, or throws.
export function renderFormCopy(root, bridge, route) {
  let running = false;
  const fileInput = h('input', { type: 'file', id: 'form-copy-file', accept: 'application/pdf,.pdf' });
  const outcome = h('div', { id: 'form-copy-outcome', class: 'form-copy-outcome', 'aria-live': 'polite' });

  const make = async (bytes, name) => {
    if (running) throw new Error('A shareable copy is already being made.');
    running = true;
    fileInput.disabled = true;
    outcome.replaceChildren(h('p', { class: 'muted', text: `Making a shareable copy of ${name}…` }));
    try {
      const copy = await bridge.flattenPdf(bytes);
      showOutcome(copy, name);
      return copy;
    } catch (error) {
      outcome.replaceChildren();
      throw error;
    } finally {
      running = false;
      fileInput.disabled = false;
    }
  };

  const showOutcome = (copy, name) => {
    const fileName = shareableName(name);
    const save = button('Save copy…', {
      kind: 'primary', iconName: 'document', id: 'form-copy-save',
      'aria-label': `Save copy as ${fileName}`,
      onClick: () => saveWithNotice(toast, copy.bytes, fileName).catch(showError),
    });
    outcome.replaceChildren(
      h('p', { id: 'form-copy-summary', role: 'status' }, h('strong', { text: fileName }), ': ', describeCopy(copy)),
      h('div', { class: 'form-actions' }, save));
  };

  // Errors are reported here; make itself throws, for callers that report their own way.
  const makeFromPage = (bytes, name) => make(bytes, name).catch(showError);

  fileInput.addEventListener('change', async () => {
    const file = fileInput.files?.[0];
    if (!file) return;
    try {
      await makeFromPage(new Uint8Array(await file.arrayBuffer()), file.name);
    } catch (error) {
      showError(error);
    } finally {
      fileInput.value = '';
    }
  });

  const element = card('Shareable copy of a filled form',
    h('p', {
      class: 'card-intro muted',
      text: 'A copy for your client with the filled-in answers printed into the pages and the form fields removed, so nothing can be changed by accident. The original stays as it is.',
    }),
    h('label', { class: 'field' },
      h('span', { class: 'field-label', text: 'Filled PDF form' }), fileInput),
    h('p', { class: 'muted', text: 'Or choose "Make shareable copy" on a file in the print inbox.' }),
    outcome);
  element.id = 'form-copy';
  element.tabIndex = -1;
  element.querySelector('.card-title').id = 'form-copy-title';
  element.setAttribute('aria-labelledby', 'form-copy-title');
  root.append(element);

  if (route?.path === FORM_COPY_ROUTE) {
    requestAnimationFrame(() => {
      if (!element.isConnected) return;
      element.scrollIntoView({ block: 'start' });
      element.focus({ preventScroll: true });
    });
  }

  const stop = showCard({ route: route?.path, make });
  return { element, make, makeFromPage, stop };
}
