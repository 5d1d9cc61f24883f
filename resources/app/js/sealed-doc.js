// Encryption of the practice document and of the client-account vault with passphrases, in the
// page's own WebCrypto. The desktop program only ever sees the encrypted form.
//
// Encrypted document: { enc: true, v: 2, people: [person], iv, ct }
//   person: { name, salt, priv: { kdf, hash, iterations }, dk: { iv, ct } }
//   The person's key is PBKDF2 of their passphrase with `salt` and the parameters in `priv`; it
//   unwraps `dk`, the document key, which encrypts the document itself (AES-256-GCM, `iv`, `ct`).
//   Saving again keeps the document key, so a save needs no key derivation.

export const ITERATIONS = 310000;
export const WRONG_PASSPHRASE = "That passphrase doesn't open your data.";

const subtle = () => globalThis.crypto.subtle;
const encoder = new TextEncoder();
const decoder = new TextDecoder('utf-8', { fatal: true });

export function toBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

export function fromBase64(text) {
  return Uint8Array.from(atob(String(text ?? '')), (c) => c.charCodeAt(0));
}

const random = (size) => globalThis.crypto.getRandomValues(new Uint8Array(size));

export async function passphraseKey(passphrase, salt, iterations = ITERATIONS) {
  const material = await subtle().importKey('raw', encoder.encode(passphrase), 'PBKDF2', false, ['deriveKey']);
  return subtle().deriveKey({ name: 'PBKDF2', hash: 'SHA-256', salt, iterations }, material,
    { name: 'AES-GCM', length: 256 }, false, ['encrypt', 'decrypt']);
}

export async function sealBytes(key, bytes) {
  const iv = random(12);
  const ct = new Uint8Array(await subtle().encrypt({ name: 'AES-GCM', iv }, key, bytes));
  return { iv: toBase64(iv), ct: toBase64(ct) };
}

// Throws when the key is not the one the bytes were sealed with, or they were altered.
export async function openBytes(key, box) {
  if (!box || typeof box.iv !== 'string' || typeof box.ct !== 'string') throw new Error('Not an encrypted value');
  return new Uint8Array(await subtle().decrypt({ name: 'AES-GCM', iv: fromBase64(box.iv) }, key, fromBase64(box.ct)));
}

async function documentKey(raw) {
  return subtle().importKey('raw', raw, 'AES-GCM', false, ['encrypt', 'decrypt']);
}

export function isSealedDocument(doc) {
  return !!doc && typeof doc === 'object' && doc.enc === true && doc.v === 2;
}

// A new encryption of the practice data under a passphrase. The result seals documents.
export async function newSession(passphrase, name = 'Practice') {
  if (!passphrase) throw new Error('Choose a passphrase.');
  const salt = random(16);
  const raw = random(32);
  const person = {
    name,
    salt: toBase64(salt),
    priv: { kdf: 'PBKDF2', hash: 'SHA-256', iterations: ITERATIONS },
    dk: await sealBytes(await passphraseKey(passphrase, salt), raw),
  };
  const key = await documentKey(raw);
  raw.fill(0);
  return { key, people: [person] };
}

// Opens an encrypted document with a passphrase: the plain document and the session that seals it again.
export async function openDocument(sealed, passphrase) {
  if (!isSealedDocument(sealed) || !Array.isArray(sealed.people)) throw new Error('This is not an encrypted Quillpost document.');
  for (const person of sealed.people) {
    let raw;
    try {
      const iterations = Number(person?.priv?.iterations) || ITERATIONS;
      raw = await openBytes(await passphraseKey(passphrase, fromBase64(person.salt), iterations), person.dk);
    } catch {
      continue;
    }
    const key = await documentKey(raw);
    raw.fill(0);
    let doc;
    try {
      doc = JSON.parse(decoder.decode(await openBytes(key, sealed)));
    } catch {
      throw new Error('The passphrase is right, but your encrypted data is damaged. Restore an earlier copy under Settings → Data.');
    }
    return { doc, session: { key, people: sealed.people } };
  }
  throw new Error(WRONG_PASSPHRASE);
}

// Whether the passphrase opens the session's document key (before it is saved for fingerprint unlock).
export async function passphraseOpens(session, passphrase) {
  for (const person of session.people) {
    try {
      const iterations = Number(person?.priv?.iterations) || ITERATIONS;
      (await openBytes(await passphraseKey(passphrase, fromBase64(person.salt), iterations), person.dk)).fill(0);
      return true;
    } catch {
      // another person's entry
    }
  }
  return false;
}

export async function sealDocument(session, doc) {
  const box = await sealBytes(session.key, encoder.encode(JSON.stringify(doc)));
  return { enc: true, v: 2, people: session.people, ...box };
}
