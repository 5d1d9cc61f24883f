// Settings → Data & backups: where the data file is, the backup folder, and putting an
// earlier copy back (daily snapshots, safety copies and the recovery copy).

import { h, fill, button, pageHeader, card, toast, confirmDialog, runFrom } from '../ui.js';
import { icon } from '../icons.js';
import { describeSnapshot, describeBackupCopy, formatWhen, messageOf, isPlainObject, plural } from '../format.js';
import { inspectCopy } from '../store.js';
import { hrefFor } from '../routes.js';

const FIRST_SNAPSHOTS = 8;
// The name under which the desktop program reads and restores the backup folder's copy.
const BACKUP_COPY = 'Quillpost-backup.json';

export function render(root, { app, bridge }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('settings') }, icon('back', 16), h('span', { text: 'Settings' })),
    pageHeader('Data & backups', 'Where your practice data lives, and how to get an earlier copy back.'));

  if (!bridge) {
    root.append(card(null, h('p', { class: 'muted', id: 'data-unavailable',
      text: "These settings need Quillpost's desktop program. In a web browser nothing is saved to disk." })));
    return;
  }

  let active = true;
  const fileBody = h('div', { id: 'data-file-section' }, loading());
  const recoveryCard = h('section', { class: 'card recovery', id: 'recovery', hidden: true });
  const snapshotBody = h('div', { id: 'snapshots' }, loading());
  const backupBody = h('div', { id: 'backup-section' }, loading());

  root.append(
    card('Data file', fileBody),
    recoveryCard,
    card('Backup folder',
      h('p', { class: 'muted card-intro', text: 'Quillpost can also keep a copy of your data in a folder you choose, for example one that a cloud drive keeps in sync.' }),
      backupBody),
    card('Snapshots',
      h('p', { class: 'muted card-intro', text: 'Quillpost keeps a copy of your data for each day it changes, and a safety copy before your data is replaced. Restore one to go back to it.' }),
      snapshotBody));

  async function ask(work) {
    const answer = await work();
    if (!active) throw Object.assign(new Error('left'), { left: true });
    return answer;
  }

  function failed(host, error) {
    if (error?.left) return;
    host.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: messageOf(error) }));
  }

  async function showInfo() {
    try {
      const info = await ask(() => bridge.info());
      if (!isPlainObject(info)) throw new Error("Quillpost couldn't read where your data is kept.");
      fileBody.replaceChildren(
        h('p', { class: 'path', id: 'data-file', text: info.dataFile || 'Unknown' }),
        h('div', { class: 'row-actions' },
          button('Open data folder', { id: 'open-data-folder', iconName: 'folder',
            onClick: (event) => runFrom(event.currentTarget, () => bridge.openDataFolder()) })));
      showBackup(info);
    } catch (error) {
      failed(fileBody, error);
      failed(backupBody, error);
    }
  }

  function showBackup(info) {
    const folder = typeof info.backupFolder === 'string' ? info.backupFolder : '';
    const copyHost = folder ? h('div', { id: 'backup-copy-section' }, loading()) : null;
    if (copyHost) showBackupCopy(copyHost);
    fill(backupBody,
      folder
        ? h('p', { class: 'path', id: 'backup-folder', text: folder })
        : h('p', { class: 'path unset', id: 'backup-folder', text: 'Not set' }),
      info.backupError
        ? h('div', { class: 'notice notice-warning', id: 'backup-error', role: 'alert' },
          icon('warning', 18),
          h('div', { class: 'notice-body' },
            h('p', { text: 'The last copy to the backup folder did not work:' }),
            h('p', { class: 'notice-detail', text: String(info.backupError) })))
        : null,
      h('div', { class: 'row-actions' },
        button(folder ? 'Choose another folder…' : 'Choose…', { id: 'choose-backup-folder', onClick: chooseFolder }),
        folder ? button('Stop backing up', { id: 'clear-backup-folder', onClick: (event) => stopBackup(event, folder) }) : null),
      copyHost);
  }

  // The copy in the backup folder, with what it holds, to put back like a snapshot.
  async function showBackupCopy(host) {
    try {
      const candidates = await ask(() => bridge.backupCandidates());
      if (!Array.isArray(candidates)) throw new Error("Quillpost couldn't read the backup folder's copy.");
      const copy = candidates.find((c) => isPlainObject(c) && c.source === 'Backup folder');
      if (!copy) {
        host.replaceChildren(h('p', { class: 'muted', id: 'backup-copy-none', text: 'There is no copy in the backup folder yet. Quillpost makes one shortly after your next change.' }));
        return;
      }
      const info = describeBackupCopy(copy, inspectCopy(copy.text));
      host.replaceChildren(h('ul', { class: 'snapshot-list', id: 'backup-copy' },
        h('li', { dataset: { snapshot: BACKUP_COPY, kind: 'backup' } },
          h('span', { class: 'snapshot-kind kind-backup' }, icon(info.restorable ? 'folder' : 'warning', 16)),
          h('span', { class: 'snapshot-text' },
            h('span', { class: 'snapshot-title', text: info.title }),
            h('span', { class: 'snapshot-holds', id: 'backup-copy-holds', text: info.holds })),
          info.restorable
            ? h('button', {
              type: 'button', class: 'button small', id: 'restore-backup-copy', dataset: { action: 'restore' }, text: 'Restore',
              'aria-label': 'Restore the backup folder copy',
              onClick: (event) => restore(BACKUP_COPY, 'the copy in your backup folder', event.currentTarget),
            })
            : null)));
    } catch (error) {
      failed(host, error);
    }
  }

  async function chooseFolder(event) {
    const path = await runFrom(event.currentTarget, () => bridge.chooseBackupFolder());
    if (!active || path === undefined || path === null) return; // failed (already shown) or cancelled
    toast(`Your data will also be copied to ${path}.`);
    showInfo();
  }

  async function stopBackup(event, folder) {
    const btn = event.currentTarget;
    const sure = await confirmDialog({
      title: 'Stop backing up?',
      message: `Quillpost will stop copying your data to ${folder}. Copies already in that folder stay there.`,
      confirmLabel: 'Stop backing up',
    });
    if (!sure) return;
    const done = await runFrom(btn, () => bridge.clearBackupFolder());
    if (!active || done === undefined) return;
    toast('Backing up to a folder is turned off.');
    showInfo();
  }

  async function showRecovery() {
    try {
      const copy = await ask(() => bridge.recoveryCopy());
      if (copy === null || copy === undefined) return;
      if (!isPlainObject(copy) || !copy.name) throw new Error("Quillpost couldn't tell which recovery copy it has.");
      const when = formatWhen(copy.at);
      const label = when ? `${copy.name} from ${when}` : copy.name;
      fill(recoveryCard,
        h('h2', { class: 'card-title', text: 'Recovery copy' }),
        h('p', { class: 'muted card-intro', text: 'Quillpost has a recovery copy of your data that you can go back to.' }),
        h('div', { class: 'row-actions' },
          button(`Restore ${label}`, { id: 'restore-recovery',
            onClick: (event) => restore(copy.name, label, event.currentTarget) })));
      recoveryCard.hidden = false;
    } catch (error) {
      if (error?.left) return;
      recoveryCard.replaceChildren(h('h2', { class: 'card-title', text: 'Recovery copy' }));
      failed(recoveryCard.appendChild(h('div')), error);
      recoveryCard.hidden = false;
    }
  }

  async function showSnapshots() {
    try {
      const names = await ask(() => bridge.listSnapshots());
      if (!Array.isArray(names)) throw new Error("Quillpost couldn't list the snapshots.");
      if (names.length === 0) {
        snapshotBody.replaceChildren(h('p', { id: 'snapshot-empty', text: 'There are no snapshots yet.' }));
        return;
      }
      const list = h('ul', { class: 'snapshot-list', id: 'snapshot-list' });
      const drawList = (limit) => list.replaceChildren(...names.slice(0, limit).map(snapshotRow));
      drawList(FIRST_SNAPSHOTS);
      snapshotBody.replaceChildren(list);
      if (names.length > FIRST_SNAPSHOTS) {
        const more = button(`Show all ${plural(names.length, 'snapshot', 'snapshots')}`, {
          id: 'snapshots-more', kind: 'small',
          onClick: () => { drawList(names.length); more.remove(); },
        });
        snapshotBody.append(h('div', { class: 'row-actions' }, more));
      }
    } catch (error) {
      failed(snapshotBody, error);
    }
  }

  function snapshotRow(name) {
    const info = describeSnapshot(name);
    // A data file that did not open can't be restored as it is; it is kept for recovery by hand.
    const action = info.kind === 'unreadable'
      ? h('button', {
        type: 'button', class: 'button small', dataset: { action: 'show' }, text: 'Show in folder',
        title: 'This file did not open as Quillpost data. It is kept so that nothing in it is lost.',
        onClick: (event) => runFrom(event.currentTarget, () => bridge.openDataFolder()),
      })
      : null;
    return h('li', { dataset: { snapshot: info.name, kind: info.kind } },
      h('span', { class: `snapshot-kind kind-${info.kind}` }, icon(info.kind === 'daily' ? 'clock' : info.kind === 'unreadable' ? 'warning' : 'shield', 16)),
      h('span', { class: 'snapshot-text' },
        h('span', { class: 'snapshot-title', text: info.title }),
        h('span', { class: 'snapshot-name', text: info.name })),
      action ?? h('button', {
        type: 'button', class: 'button small', dataset: { action: 'restore' }, text: 'Restore',
        'aria-label': `Restore ${info.title}`,
        onClick: (event) => restore(info.name, info.title.replace(/^./, (c) => c.toLowerCase()), event.currentTarget),
      }));
  }

  // Restoring replaces the document; afterwards it is read back and every screen redrawn. A copy
  // that isn't encrypted goes back encrypted while the data is (see App.restoreCopy).
  async function restore(name, label, btn) {
    const sure = await confirmDialog({
      title: 'Restore this copy?',
      message: `Your current data will be replaced by ${label} (${name}).`,
      confirmLabel: 'Restore',
      danger: true,
    });
    if (!sure) return;
    await runFrom(btn, async () => {
      if (app.editable && app.dirty) {
        // Unsaved edits reach the disk first, so they are part of what gets replaced
        // rather than vanishing.
        try {
          await app.saveNow();
        } catch {
          throw new Error("Nothing was restored, because your latest changes couldn't be saved first.");
        }
      }
      const answer = await app.restoreCopy(name, { confirmPlain: () => confirmDialog({
        title: 'Restore this copy unencrypted?',
        message: `${name} isn't encrypted, and your data is. Restored as it is, your data is saved unencrypted until you turn encryption on again under Settings → Security.`,
        confirmLabel: 'Restore unencrypted',
        danger: true,
      }) });
      if (answer === null) return;
      if (answer !== true) {
        toast("Quillpost didn't confirm the restore. Please check that your data looks as expected.", { kind: 'error' });
      } else if (!app.lock || app.lock.kind === 'encrypted') {
        toast(`Restored ${name}.`);
      }
    });
  }

  showInfo();
  showRecovery();
  showSnapshots();

  return () => { active = false; };
}

function loading() {
  return h('p', { class: 'muted', text: 'Reading…' });
}
