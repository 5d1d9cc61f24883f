// Clients inside the practice document: reading, checking and changing them.
// Nothing here touches the page, so it can be tested on its own.

import { foldForSearch, isPlainObject } from './format.js';

export const STATUSES = [
  { value: 'enquiry', label: 'Enquiry' },
  { value: 'active', label: 'Active' },
  { value: 'submitted', label: 'Submitted' },
  { value: 'on-hold', label: 'On hold' },
  { value: 'closed', label: 'Closed' },
];

export const FIELDS = ['name', 'email', 'phone', 'fileNumber', 'status', 'notes'];

export function statusLabel(value) {
  if (!value) return '';
  return STATUSES.find((s) => s.value === value)?.label ?? String(value);
}

export function newId() {
  const c = globalThis.crypto;
  if (c && typeof c.randomUUID === 'function') return c.randomUUID();
  // randomUUID is missing outside secure contexts; build a version 4 id by hand.
  const bytes = new Uint8Array(16);
  c.getRandomValues(bytes);
  bytes[6] = (bytes[6] & 0x0f) | 0x40;
  bytes[8] = (bytes[8] & 0x3f) | 0x80;
  const hex = [...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');
  return `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
}

// The clients of a document that can be shown. Entries that aren't objects stay in the
// document untouched but are not listed.
export function clientsOf(doc) {
  if (!doc || !Array.isArray(doc.clients)) return [];
  return doc.clients.filter((c) => isPlainObject(c));
}

// Clients written by hand (or by an older tool) may lack an id; they get one the first
// time the list is shown so that editing and removing can find them.
export function ensureIds(doc) {
  let added = 0;
  for (const client of clientsOf(doc)) {
    if (typeof client.id !== 'string' || client.id === '') {
      client.id = newId();
      added += 1;
    }
  }
  return added;
}

export function text(value) {
  return typeof value === 'string' ? value : value == null ? '' : String(value);
}

// Trims what the form gave. Notes keep their inner line breaks.
export function cleanInput(input) {
  const out = {};
  for (const field of FIELDS) out[field] = text(input[field]).trim();
  out.email = out.email.replace(/\s+/g, '');
  return out;
}

const EMAIL = /^[^\s@]+@[^\s@]+\.[^\s@]+$/;

// Returns { field: message } for every problem; empty when the client can be saved.
export function validateClient(input, doc, editingId = null) {
  const errors = {};
  if (!input.name) errors.name = 'Enter the client\'s name.';
  if (input.email && !EMAIL.test(input.email)) {
    errors.email = 'Enter an email address like name@example.com, or leave it empty.';
  }
  if (input.fileNumber) {
    const wanted = foldForSearch(input.fileNumber);
    const taken = clientsOf(doc).find((c) => c.id !== editingId && foldForSearch(text(c.fileNumber).trim()) === wanted);
    if (taken) errors.fileNumber = `File number ${input.fileNumber} is already used for ${text(taken.name) || 'another client'}.`;
  }
  return errors;
}

export function addClient(doc, input, now = new Date()) {
  const stamp = now.toISOString();
  const client = { id: newId(), ...cleanInput(input), createdAt: stamp, updatedAt: stamp };
  if (!Array.isArray(doc.clients)) doc.clients = [];
  doc.clients.push(client);
  return client;
}

// Changes only the fields the form knows; anything else stored on the client stays.
export function updateClient(doc, id, input, now = new Date()) {
  const client = clientsOf(doc).find((c) => c.id === id);
  if (!client) return null;
  Object.assign(client, cleanInput(input), { updatedAt: now.toISOString() });
  return client;
}

export function removeClient(doc, id) {
  const index = doc.clients.findIndex((c) => isPlainObject(c) && c.id === id);
  if (index < 0) return null;
  return doc.clients.splice(index, 1)[0];
}

export function findClient(doc, id) {
  return clientsOf(doc).find((c) => c.id === id) ?? null;
}

const digitsOf = (value) => value.replace(/\D/g, '');

// Every word of the query has to appear somewhere in the client's details.
export function filterClients(clients, query) {
  const words = foldForSearch(query).split(/\s+/).filter(Boolean);
  if (words.length === 0) return clients.slice();
  return clients.filter((client) => {
    const haystack = foldForSearch(
      [client.name, client.email, client.phone, client.fileNumber, statusLabel(client.status), client.notes]
        .map(text).join(' \u0000 '),
    );
    const digits = digitsOf(text(client.phone));
    return words.every((word) => {
      if (haystack.includes(word)) return true;
      // "5551234" finds "(555) 123-4567" however the number was typed.
      const wanted = digitsOf(word);
      return wanted.length >= 3 && /^[+\d().-]+$/.test(word) && digits.includes(wanted);
    });
  });
}

export function sortByName(clients, locale) {
  const collator = new Intl.Collator(locale, { sensitivity: 'base', numeric: true });
  return clients.slice().sort((a, b) => collator.compare(text(a.name), text(b.name)));
}

export function countByStatus(clients) {
  const counts = new Map();
  for (const client of clients) {
    const key = text(client.status) || '';
    counts.set(key, (counts.get(key) ?? 0) + 1);
  }
  return counts;
}

// A client's documents live in a folder of their own under the documents root, claimed the first
// time their documents are used and remembered on the client as `docFolder`, so that it stays
// theirs through a rename and is never shared with a namesake.
export function docFolderOf(client) {
  return isPlainObject(client) && typeof client.docFolder === 'string' ? client.docFolder : '';
}

// The folders that clients other than the given one hold.
export function heldFolders(doc, exceptId) {
  return clientsOf(doc).filter((c) => c.id !== exceptId).map(docFolderOf).filter(Boolean);
}

const claims = new WeakMap();

// The client's folder name, claimed from the desktop program when they have none yet (a folder
// filed under their name before folders were remembered is adopted, unless another client holds
// it). Claims run one at a time, each seeing the folders the ones before recorded. While the data
// can't be changed nothing is claimed: the answer is the unheld folder of their name, or null.
export function documentsFolder(app, bridge, clientId) {
  const earlier = claims.get(app) ?? Promise.resolve();
  const claim = earlier.then(async () => {
    const client = findClient(app.data, clientId);
    if (!client) throw new Error('This client is no longer in your data.');
    if (docFolderOf(client)) return docFolderOf(client);
    const create = app.editable;
    const folder = await bridge.claimClientFolder(text(client.name), heldFolders(app.data, clientId), create);
    if (!create) return typeof folder === 'string' && folder ? folder : null;
    if (typeof folder !== 'string' || !folder) throw new Error("Quillpost couldn't make a folder for this client's documents.");
    // The data may have been reloaded meanwhile: the folder goes to the client as it is now.
    return app.edit((doc) => {
      const current = findClient(doc, clientId);
      if (!current) throw new Error('This client is no longer in your data.');
      if (!docFolderOf(current)) current.docFolder = folder;
      return current.docFolder;
    });
  });
  claims.set(app, claim.catch(() => {}));
  return claim;
}

// The `count` clients added last, newest first, each date read once; of clients added at the same
// moment, the one listed first. Clients without a readable date are left out.
export function newestClients(clients, count) {
  const newest = [];
  for (const client of clients) {
    const added = typeof client.createdAt === 'string' ? Date.parse(client.createdAt) : NaN;
    if (Number.isNaN(added)) continue;
    let at = newest.length;
    while (at > 0 && newest[at - 1].added < added) at -= 1;
    if (at < count) newest.splice(at, 0, { client, added });
    if (newest.length > count) newest.pop();
  }
  return newest.map(({ client }) => client);
}
