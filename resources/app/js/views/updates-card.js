// The program's own updates in Settings → About: automatic checks, a check on request, and what
// the updater is doing.

import { h, button, runFrom } from '../ui.js';
import { describeUpdateEvent, describeLastCheck } from '../app-updates.js';

export function renderUpdates(container, bridge) {
  const automatic = h('input', { type: 'checkbox', id: 'update-automatic' });
  const autoDownload = h('input', { type: 'checkbox', id: 'update-auto-download' });
  const check = button('Check for updates now', { id: 'update-check' });
  const status = h('p', { id: 'update-status', role: 'status' });
  const progress = h('progress', { id: 'update-progress', max: '1', hidden: true, 'aria-label': 'Update download' });
  const lastCheck = h('p', { id: 'update-last-check', class: 'muted' });
  const note = h('p', { id: 'update-note', class: 'muted', hidden: true });

  const showInfo = (info) => {
    automatic.checked = !!info?.automatic;
    autoDownload.checked = !!info?.autoDownload;
    // Only a scheduled check downloads by itself.
    autoDownload.disabled = !info?.automatic;
    check.disabled = !info?.canCheck;
    lastCheck.textContent = describeLastCheck(info);
    note.textContent = typeof info?.note === 'string' ? info.note : '';
    note.hidden = !note.textContent;
  };
  const refresh = () => bridge.updateInfo().then(showInfo).catch(() => { check.disabled = true; });

  const onEvent = (event) => {
    const shown = describeUpdateEvent(event.detail);
    if (event.detail?.status === 'idle') refresh();
    if (!shown) return;
    status.textContent = shown.text;
    status.className = shown.kind === 'error' ? 'error-text' : shown.kind === 'ok' ? 'ok-text' : '';
    progress.hidden = shown.progress == null;
    if (shown.progress != null) progress.value = shown.progress;
  };
  window.addEventListener('qp-update', onEvent);

  automatic.addEventListener('change', () => runFrom(automatic, async () => showInfo(await bridge.setAutoUpdate(automatic.checked))));
  autoDownload.addEventListener('change', () => runFrom(autoDownload, async () => showInfo(await bridge.setAutoDownload(autoDownload.checked))));
  check.addEventListener('click', () => runFrom(check, () => bridge.checkForUpdates()));

  container.append(h('div', { class: 'updates' },
    h('h3', { class: 'card-subtitle', text: 'Updates' }),
    h('label', { class: 'check-field' }, automatic, h('span', { text: 'Check for updates automatically' })),
    h('label', { class: 'check-field' }, autoDownload, h('span', { text: 'Download updates by themselves, to be installed when you quit' })),
    h('div', { class: 'form-actions' }, check),
    note, status, progress, lastCheck));
  refresh();
  return () => window.removeEventListener('qp-update', onEvent);
}
