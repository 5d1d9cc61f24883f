// The vault while it is open: its key and logins stay in this page's memory only, until it is
// locked again or the page goes away.

import { hasVault, createVault, openVault, sealVault } from './vault.js';

let session = null;

export const vaultOpen = () => session !== null;
export const currentVault = () => session;

export function lockVault() {
  session = null;
}

export async function unlockVault(app, passphrase) {
  session = await openVault(app.data.vault, passphrase);
  return session;
}

export async function startVault(app, passphrase) {
  if (hasVault(app.data)) throw new Error('This practice already has a vault.');
  session = await createVault(passphrase);
  await storeVault(app);
  return session;
}

// Writes the open vault into the document, encrypted; the document is then saved as usual.
export async function storeVault(app) {
  const sealed = await sealVault(session);
  app.edit((doc) => { doc.vault = sealed; });
}
