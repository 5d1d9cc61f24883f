// Sharing the practice with other desks through a PostgreSQL server. The desktop program does the
// talking to the server; the page hears of other desks' records through window.__qpShared and of
// the connection through window.__qpShareState, puts those records into the document through
// app.edit (so the normal save writes them) and lets the user settle values two desks changed.

import { isPlainObject, formatWhen, plural } from './format.js';
import { COLLECTIONS } from './practice-model.js';

export const SHARED_COLLECTIONS = [...COLLECTIONS, 'settings'];
export const DELETED_FIELD = '*deleted*';
export const ENCRYPTED_REFUSAL = "An encrypted practice can't be shared yet: its records would leave this desk readable.";
export const SHARED_ENCRYPTION_REFUSAL = "This practice is shared with other desks, so it can't be encrypted yet: its records on the server would stay readable. " +
  'Stop sharing under Settings → Practice server first.';
export const JOIN_QUESTION = "This desk's own data is put into a safety copy first (Settings → Data lists it), " +
  "then the practice on the server replaces it. Use the shared practice?";

const STATES = new Set(['off', 'connecting', 'connected', 'catching-up', 'offline']);

// ---------- The connection form ----------

// The form's fields as the desktop program takes them, or { errors } naming each field that
// can't be used. The password is passed through untouched and never stored by the page.
export function readServerForm({ host, port, database, user, password }) {
  const errors = {};
  const cleanHost = String(host ?? '').trim();
  const portText = String(port ?? '').trim() || '5432';
  const cleanDatabase = String(database ?? '').trim();
  const cleanUser = String(user ?? '').trim();
  if (!cleanHost) errors.host = 'Enter the name or address of the computer that runs the server.';
  else if (/[\s/:@?#]/.test(cleanHost) && !/^\[?[0-9a-fA-F:]+\]?$/.test(cleanHost)) errors.host = 'Enter only the server\'s name or address, like db.example.org or 192.168.1.20.';
  if (!/^\d{1,5}$/.test(portText) || Number(portText) < 1 || Number(portText) > 65535) errors.port = 'The port is a number from 1 to 65535 (PostgreSQL usually uses 5432).';
  if (!cleanDatabase) errors.database = 'Enter the name of the database for this practice.';
  if (!cleanUser) errors.user = 'Enter the user name the server knows this practice by.';
  if (Object.keys(errors).length) return { errors };
  return {
    server: {
      host: cleanHost.replace(/^\[(.*)\]$/, '$1'),
      port: Number(portText),
      database: cleanDatabase,
      user: cleanUser,
      password: String(password ?? ''),
    },
  };
}

// ---------- The state in words ----------

// The desktop program's status with anything malformed read as "not shared".
export function normalStatus(status) {
  if (!isPlainObject(status)) return { enabled: false, state: 'off', since: null, lastError: '', desk: '', pending: 0 };
  const state = STATES.has(status.state) ? status.state : 'off';
  return {
    enabled: status.enabled === true && state !== 'off',
    state,
    since: Number.isFinite(status.since) ? status.since : null,
    lastError: typeof status.lastError === 'string' ? status.lastError.trim() : '',
    desk: typeof status.desk === 'string' ? status.desk : '',
    pending: Number.isInteger(status.pending) && status.pending > 0 ? status.pending : 0,
  };
}

// { short, long, tone }: short for the indicator every screen shows, long for the server card.
export function describeShare(rawStatus, { locale } = {}) {
  const status = normalStatus(rawStatus);
  const waiting = status.pending ? ` ${plural(status.pending, 'change', 'changes')} still to send.` : '';
  const problem = status.lastError ? ` Last problem: ${/[.!?]$/.test(status.lastError) ? status.lastError : `${status.lastError}.`}` : '';
  if (!status.enabled) {
    return { short: '', long: 'Not shared: this practice is kept on this desk only.', tone: 'muted' };
  }
  switch (status.state) {
    case 'connecting':
      return { short: 'Connecting…', long: `Connecting to the practice server…${waiting}${problem}`, tone: 'busy' };
    case 'catching-up':
      return { short: 'Catching up…', long: `Connected, and catching up with the other desks' changes.${waiting}`, tone: 'busy' };
    case 'offline': {
      const since = status.since !== null ? ` since ${formatWhen(status.since, locale)}` : '';
      return {
        short: 'Offline',
        long: `Offline${since}. Changes made here are kept and go to the other desks when the server answers again.${waiting}${problem}`,
        tone: 'warning',
      };
    }
    default:
      return { short: 'Shared', long: `Connected: changes reach the other desks as soon as they are saved.${waiting}`, tone: 'ok' };
  }
}

// ---------- Records from other desks ----------

function listOf(doc, collection) {
  if (!Array.isArray(doc[collection])) doc[collection] = [];
  return doc[collection];
}

// Keeps the object (screens may hold it) and gives it exactly the incoming fields.
function replaceFields(target, source) {
  for (const key of Object.keys(target)) if (!(key in source)) delete target[key];
  Object.assign(target, source);
}

// The well-formed changes of a __qpShared payload; the rest are counted, not applied.
export function readChanges(payload) {
  const changes = isPlainObject(payload) && Array.isArray(payload.changes) ? payload.changes : [];
  const good = [];
  let refused = isPlainObject(payload) && Array.isArray(payload.changes) ? 0 : 1;
  for (const change of changes) {
    const ok = isPlainObject(change) && SHARED_COLLECTIONS.includes(change.collection) &&
      typeof change.id === 'string' && change.id !== '' &&
      (change.record === null || (isPlainObject(change.record) &&
        (change.collection === 'settings' || change.record.id === change.id)));
    if (ok) good.push(change);
    else refused += 1;
  }
  return { changes: good, refused };
}

// Puts changes into the document. Returns how many records it added, changed and removed.
export function applyChanges(doc, changes) {
  const counts = { added: 0, changed: 0, removed: 0 };
  // A desk joining a practice takes thousands of records at once: look them up by id.
  const places = new Map();
  const placeOf = (collection) => {
    if (!places.has(collection)) {
      const byId = new Map();
      for (const item of listOf(doc, collection)) if (isPlainObject(item) && !byId.has(item.id)) byId.set(item.id, item);
      places.set(collection, byId);
    }
    return places.get(collection);
  };
  for (const { collection, id, record } of changes) {
    if (collection === 'settings') {
      if (record === null) continue; // the practice always has settings
      if (isPlainObject(doc.settings)) replaceFields(doc.settings, structuredClone(record));
      else doc.settings = structuredClone(record);
      counts.changed += 1;
      continue;
    }
    const list = listOf(doc, collection);
    const byId = placeOf(collection);
    const present = byId.get(id);
    if (record === null) {
      if (present) {
        list.splice(list.indexOf(present), 1);
        byId.delete(id);
        counts.removed += 1;
      }
    } else if (present) {
      replaceFields(present, structuredClone(record));
      counts.changed += 1;
    } else {
      const added = structuredClone(record);
      list.push(added);
      byId.set(id, added);
      counts.added += 1;
    }
  }
  return counts;
}

// ---------- Values two desks changed ----------

function isConflict(entry) {
  return isPlainObject(entry) && typeof entry.field === 'string' && entry.field !== '';
}

// Every record that holds values another desk changed at the same time:
// [{ collection, id, record, entries: [{ index, field, value, desk, at }] }].
export function conflictsIn(doc) {
  const found = [];
  const look = (collection, record) => {
    if (!isPlainObject(record) || !Array.isArray(record.conflicts)) return;
    const entries = record.conflicts
      .map((entry, index) => (isConflict(entry) ? { index, field: entry.field, value: entry.value, desk: String(entry.desk ?? ''), at: entry.at ?? null } : null))
      .filter(Boolean);
    if (entries.length) found.push({ collection, id: collection === 'settings' ? 'settings' : record.id, record, entries });
  };
  for (const collection of COLLECTIONS) for (const record of Array.isArray(doc[collection]) ? doc[collection] : []) look(collection, record);
  look('settings', doc.settings);
  return found;
}

function findRecord(doc, collection, id) {
  if (collection === 'settings') return isPlainObject(doc.settings) ? doc.settings : null;
  const list = Array.isArray(doc[collection]) ? doc[collection] : [];
  return list.find((item) => isPlainObject(item) && item.id === id) ?? null;
}

// Settles one entry: keep: 'current' leaves the record as it is, keep: 'other' takes the entry's
// value (for a deletion noted by another desk, removes the record). Either way the entry goes.
// `field` and `value` must still match what the user was shown, so a list drawn before another
// change arrived can't settle the wrong entry. Returns false when the entry is no longer there.
export function chooseValue(doc, { collection, id, index, field, keep }) {
  const record = findRecord(doc, collection, id);
  const entry = record && Array.isArray(record.conflicts) ? record.conflicts[index] : undefined;
  if (!isConflict(entry) || entry.field !== field) return false;
  record.conflicts.splice(index, 1);
  if (!record.conflicts.length) delete record.conflicts;
  if (keep !== 'other') return true;
  if (field === DELETED_FIELD) {
    if (collection !== 'settings') {
      const list = doc[collection];
      list.splice(list.indexOf(record), 1);
    }
  } else if (entry.value === undefined || entry.value === null) {
    delete record[field];
  } else {
    record[field] = structuredClone(entry.value);
  }
  return true;
}

// A value as the user reads it.
export function showValue(value) {
  if (value === undefined || value === null || value === '') return '(empty)';
  if (typeof value === 'string') return value;
  if (typeof value === 'boolean') return value ? 'Yes' : 'No';
  if (typeof value === 'number') return String(value);
  const text = JSON.stringify(value);
  return text.length > 120 ? `${text.slice(0, 119)}…` : text;
}

// A record's name as lists show it.
export function recordLabel(collection, record) {
  if (collection === 'settings') return "The practice's settings";
  const kind = { clients: 'Client', files: 'File', deadlines: 'Deadline', appointments: 'Appointment', contacts: 'Contact', entries: 'Time entry', invoices: 'Invoice' }[collection] ?? 'Record';
  const name = [record.name, record.title, record.applicationNumber, record.number, record.description, record.summary]
    .find((value) => typeof value === 'string' && value.trim());
  return name ? `${kind}: ${name.trim()}` : kind;
}

// ---------- Connecting the hooks ----------

// Whether the user is working in a form or dialog: in a field, or on its buttons (a redraw
// between pressing a Save button and its click would lose the form).
export function typingIn(root = globalThis.document) {
  if (root?.querySelector?.('dialog[open]')) return true;
  const active = root?.activeElement;
  if (!active) return false;
  if (active.matches?.('[contenteditable="true"]')) return true;
  return !!active.closest?.('form, dialog');
}

// Installs window.__qpShared and window.__qpShareState.
// redraw(): draws the current screen again; typing(): whether a form is being filled in;
// onState(status): the connection changed. Returns a function that applies a payload (the
// hook itself), for tests and the self-test.
export function connectSharing({ app, target = globalThis.window, redraw = () => {}, typing = () => false, onState = () => {}, log = console }) {
  let waiting = [];            // changes that came while the data couldn't be edited
  let redrawOwed = false;
  let running = Promise.resolve();

  const redrawWhenFree = () => {
    if (typing()) {
      redrawOwed = true;
      return;
    }
    redrawOwed = false;
    redraw();
  };

  async function apply(payload) {
    const { changes, refused } = readChanges(payload);
    if (refused) log.warn?.(`Left out ${refused} change(s) from the practice server that weren't records.`);
    if (!changes.length && !waiting.length) return { added: 0, changed: 0, removed: 0, refused, waiting: 0 };
    // What the user changed goes to disk first, so the desktop program has it to merge.
    if (app.editable && app.dirty) await app.saveNow().catch(() => {});
    if (!app.editable) {
      waiting.push(...changes);
      return { added: 0, changed: 0, removed: 0, refused, waiting: waiting.length };
    }
    const all = waiting.concat(changes);
    waiting = [];
    const counts = app.edit((doc) => applyChanges(doc, all));
    redrawWhenFree();
    return { ...counts, refused, waiting: 0 };
  }

  // One payload at a time, in the order they came.
  const hook = (payload) => {
    const done = running.then(() => apply(payload));
    running = done.catch(() => {});
    return done;
  };

  const offLoad = app.on('load', () => {
    if (waiting.length && app.editable) hook({ changes: [] }).catch(() => {});
  });
  // Changes held back for a screen with a form in use show once the form is let go.
  const settle = () => { if (redrawOwed && !typing()) redrawWhenFree(); };
  target?.addEventListener?.('focusout', () => setTimeout(settle, 0));

  if (target) {
    target.__qpShared = (payload) => { hook(payload).catch((error) => log.error?.(error)); return true; };
    target.__qpShareState = (status) => { onState(normalStatus(status)); return true; };
  }
  hook.flushWaiting = () => hook({ changes: [] });
  hook.settle = settle;
  hook.stop = offLoad;
  Object.defineProperties(hook, {
    waiting: { get: () => waiting.length },
    redrawOwed: { get: () => redrawOwed },
  });
  return hook;
}

// ---------- The state every screen can see ----------

// The latest connection status, and who wants to hear of the next one.
export function createShareStatus() {
  const listeners = new Set();
  let current = normalStatus(null);
  let told = 0;
  return {
    get current() { return current; },
    set(status) {
      told += 1;
      current = normalStatus(status);
      for (const fn of listeners) {
        try { fn(current); } catch (error) { console.error(error); }
      }
    },
    // The desktop program tells the page of every change as it happens, so an answer asked for
    // before the latest news is older than that news and is left out.
    async ask(question) {
      const mark = told;
      const answer = await question();
      if (told === mark) this.set(answer);
      return current;
    },
    on(fn) {
      listeners.add(fn);
      return () => listeners.delete(fn);
    },
  };
}

export const shareStatus = createShareStatus();
