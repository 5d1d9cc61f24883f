// Settings → Printer: the Quillpost PDF printer's status, setting it up and switching it off.

import { h, pageHeader, card, button, runFrom, toast } from '../ui.js';
import { icon } from '../icons.js';
import { hrefFor } from '../routes.js';
import { printerSummary } from '../print-inbox.js';

export function render(root, { bridge }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('settings') }, icon('back', 16), h('span', { text: 'Settings' })),
    pageHeader('Printer', 'The printer "Quillpost PDF" saves what you print into PDF Studio\'s print inbox.'));
  if (!bridge) {
    root.append(card('Quillpost PDF', h('p', { class: 'muted', text: 'The printer needs the Quillpost desktop program.' })));
    return;
  }
  const state = h('div', { id: 'printer-status', 'aria-live': 'polite' }, h('p', { class: 'muted', text: 'Asking the printing system…' }));
  const setup = button('Set up the printer', { kind: 'primary', iconName: 'printer', id: 'printer-setup' });
  const off = button('Switch off', { id: 'printer-off' });
  root.append(card('Quillpost PDF', state, h('div', { class: 'form-actions' }, setup, off)));

  let active = true;
  const show = (status) => {
    if (!active) return;
    const summary = printerSummary(status);
    state.dataset.state = summary.state;
    state.replaceChildren(
      h('p', { class: `printer-state printer-${summary.state}`, text: summary.text }),
      status?.inbox ? h('p', { class: 'muted notice-detail', text: `Inbox folder: ${status.inbox}` }) : null);
    setup.hidden = summary.state === 'on' || summary.state === 'unavailable';
    off.hidden = summary.state === 'off' || summary.state === 'unavailable';
  };

  setup.addEventListener('click', () => runFrom(setup, async () => {
    const status = await bridge.printerSetup();
    show(status);
    if (status?.ok) toast('The printer "Quillpost PDF" is ready.');
  }));
  off.addEventListener('click', () => runFrom(off, async () => {
    show(await bridge.printerOff());
    toast('The printer "Quillpost PDF" is switched off.');
  }));

  Promise.resolve().then(() => bridge.printerStatus()).then(show).catch(() => show(null));
  return () => { active = false; };
}
