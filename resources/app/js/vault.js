// The client-account vault: portal logins per client, encrypted under the vault passphrase,
// which is separate from the data passphrase. Kept in the document as
// vault: { salt, iterations, iv, ct }, where ct holds { [clientId]: [{ id, portal, username, password }] }.

import { ITERATIONS, passphraseKey, sealBytes, openBytes, toBase64, fromBase64 } from './sealed-doc.js';

export const WRONG_VAULT_PASSPHRASE = "That passphrase doesn't open the vault.";
export const COPY_SECONDS = 30;

const encoder = new TextEncoder();
const decoder = new TextDecoder('utf-8', { fatal: true });

export function hasVault(doc) {
  const v = doc?.vault;
  return !!v && typeof v === 'object' && typeof v.salt === 'string' && typeof v.ct === 'string';
}

export async function createVault(passphrase) {
  if (!passphrase) throw new Error('Choose a vault passphrase.');
  const salt = globalThis.crypto.getRandomValues(new Uint8Array(16));
  return { key: await passphraseKey(passphrase, salt), salt: toBase64(salt), iterations: ITERATIONS, entries: {} };
}

export async function openVault(sealed, passphrase) {
  if (!sealed || typeof sealed !== 'object') throw new Error('There is no vault yet.');
  const iterations = Number(sealed.iterations) || ITERATIONS;
  const key = await passphraseKey(passphrase, fromBase64(sealed.salt), iterations);
  let entries;
  try {
    entries = JSON.parse(decoder.decode(await openBytes(key, sealed)));
  } catch {
    throw new Error(WRONG_VAULT_PASSPHRASE);
  }
  if (!entries || typeof entries !== 'object' || Array.isArray(entries)) throw new Error(WRONG_VAULT_PASSPHRASE);
  return { key, salt: sealed.salt, iterations, entries };
}

export async function sealVault(session) {
  const box = await sealBytes(session.key, encoder.encode(JSON.stringify(session.entries)));
  return { salt: session.salt, iterations: session.iterations, ...box };
}

export function loginsFor(session, clientId) {
  const list = session?.entries?.[clientId];
  return Array.isArray(list) ? list : [];
}

export function addLogin(session, clientId, { portal, username, password }) {
  const login = {
    id: `l${Date.now().toString(36)}${Math.random().toString(36).slice(2, 6)}`,
    portal: String(portal ?? '').trim(),
    username: String(username ?? '').trim(),
    password: String(password ?? ''),
  };
  if (!login.portal) throw new Error('Name the portal, e.g. IRCC secure account.');
  if (!login.password) throw new Error('Enter the password to keep.');
  session.entries[clientId] = [...loginsFor(session, clientId), login];
  return login;
}

export function removeLogin(session, clientId, loginId) {
  session.entries[clientId] = loginsFor(session, clientId).filter((l) => l.id !== loginId);
}
