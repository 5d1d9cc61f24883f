// Settings → Documents & Drive: where clients' documents are filed, and keeping them (with the
// backup copy) in a Google Drive folder.

import { h, fill, button, pageHeader, card, toast, confirmDialog, runFrom } from '../ui.js';
import { icon } from '../icons.js';
import { messageOf, isPlainObject } from '../format.js';
import { hrefFor } from '../routes.js';

export function render(root, { bridge }) {
  root.append(
    h('a', { class: 'back-link', href: hrefFor('settings') }, icon('back', 16), h('span', { text: 'Settings' })),
    pageHeader('Documents & Drive', "Where clients' documents are filed, and how to keep them in your Google Drive."));

  if (!bridge) {
    root.append(card(null, h('p', { class: 'muted', id: 'documents-unavailable',
      text: "These settings need Quillpost's desktop program. In a web browser no documents are filed." })));
    return;
  }

  let active = true;
  const rootBody = h('div', { id: 'docs-root-section' }, h('p', { class: 'muted', text: 'Reading…' }));
  const driveBody = h('div', { id: 'drive-section' }, h('p', { class: 'muted', text: 'Reading…' }));
  root.append(
    card('Where documents go',
      h('p', { class: 'muted card-intro', text: 'Each client gets a folder here for their passports, forms and letters.' }),
      rootBody),
    card('Google Drive',
      h('p', { class: 'muted card-intro', text: 'With Google Drive connected, client folders and a copy of your data go into your Drive, which keeps them in sync.' }),
      driveBody));

  async function show() {
    let info;
    try {
      info = await bridge.info();
      if (!isPlainObject(info)) throw new Error("Quillpost couldn't read where documents are filed.");
    } catch (error) {
      if (!active) return;
      for (const host of [rootBody, driveBody])
        host.replaceChildren(h('p', { class: 'error-text', role: 'alert', text: messageOf(error) }));
      return;
    }
    if (!active) return;
    const docsRoot = typeof info.docsRoot === 'string' ? info.docsRoot : '';
    fill(rootBody,
      h('p', { class: 'path', id: 'docs-root', text: docsRoot || 'Unknown' }),
      h('div', { class: 'row-actions' },
        button('Choose another folder…', { id: 'choose-docs-root', onClick: chooseRoot }),
        docsRoot ? button('Open folder', { id: 'open-docs-root', iconName: 'folder',
          onClick: (event) => runFrom(event.currentTarget, async () => {
            if (await bridge.openFolder(docsRoot) === false)
              toast('The folder is made when the first document is filed.');
          }) }) : null));

    const drive = typeof info.drive === 'string' ? info.drive : '';
    const detected = typeof info.driveDetected === 'string' ? info.driveDetected : '';
    if (info.docsIsDrive) {
      fill(driveBody,
        h('p', { id: 'drive-state', dataset: { state: 'connected' }, text: 'Connected to this Drive folder:' }),
        h('p', { class: 'path', id: 'drive-folder', text: drive }),
        h('div', { class: 'row-actions' },
          button('Disconnect', { id: 'drive-disconnect', onClick: (event) => disconnect(event, drive) }),
          button('Choose another Drive folder…', { id: 'drive-choose', onClick: (event) => connect(event, true) })));
      return;
    }
    fill(driveBody,
      detected
        ? h('p', { id: 'drive-state', dataset: { state: 'detected' }, text: 'Google Drive was found on this computer:' })
        : h('p', { id: 'drive-state', dataset: { state: 'none' }, text: 'No Google Drive folder was found. If Drive syncs to a folder of your own (rclone, Insync, a mounted drive), choose it.' }),
      detected ? h('p', { class: 'path', id: 'drive-detected', text: detected }) : null,
      h('div', { class: 'row-actions' },
        detected ? button('Connect Google Drive', { id: 'drive-connect', kind: 'primary', onClick: (event) => connect(event, false) }) : null,
        detected ? null : button('Look again', { id: 'drive-detect', onClick: (event) => runFrom(event.currentTarget, detect) }),
        button(detected ? 'Choose another folder…' : 'Choose the Drive folder…', { id: 'drive-choose', onClick: (event) => connect(event, true) })));
  }

  async function detect() {
    const found = await bridge.driveDetect();
    if (!active) return;
    if (!found) toast('Still no Google Drive folder on this computer.');
    show();
  }

  async function connect(event, manual) {
    const result = await runFrom(event.currentTarget, () => bridge.driveConnect(manual));
    if (!active || !isPlainObject(result)) return; // failed (already shown) or cancelled
    toast(`Client documents now go to ${result.docsRoot}, and your data is copied to ${result.backupFolder}.`);
    show();
  }

  async function disconnect(event, drive) {
    const btn = event.currentTarget;
    const sure = await confirmDialog({
      title: 'Disconnect Google Drive?',
      message: `New documents will be filed on this computer again, and your data will no longer be copied to ${drive}. Everything already in the Drive stays there.`,
      confirmLabel: 'Disconnect',
    });
    if (!sure) return;
    const done = await runFrom(btn, () => bridge.driveDisconnect());
    if (!active || done === undefined) return;
    toast('Google Drive is disconnected.');
    show();
  }

  async function chooseRoot(event) {
    const path = await runFrom(event.currentTarget, () => bridge.chooseDocsRoot());
    if (!active || path === undefined || path === null) return;
    toast(`Client documents now go to ${path}.`);
    show();
  }

  show();
  return () => { active = false; };
}
