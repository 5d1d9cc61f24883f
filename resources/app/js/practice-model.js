// The practice beyond the client list: files, deadlines, appointments, the contact log and
// billing records, all kept as flat lists in the one document. Nothing here touches the page.
//
// Version 2 of the document added those lists. migrate() brings an older document up to date
// in place; an entry it can't read is left where it is, untouched, and simply not shown.

import { isPlainObject, foldForSearch } from './format.js';
import { newId, clientsOf, text } from './clients-model.js';
import { isDay, today as todayOf, addDays } from './dates.js';

export const MODEL_VERSION = 2;

export const COLLECTIONS = ['clients', 'files', 'deadlines', 'appointments', 'contacts', 'entries', 'invoices'];

export const PROGRAMMES = [
  { value: 'study-permit', label: 'Study permit' },
  { value: 'work-permit', label: 'Work permit' },
  { value: 'visitor-visa', label: 'Visitor visa' },
  { value: 'permanent-residence', label: 'Permanent residence' },
  { value: 'citizenship', label: 'Citizenship' },
  { value: 'family-sponsorship', label: 'Family sponsorship' },
  { value: 'other', label: 'Other' },
];

export const FILE_STATUSES = [
  { value: 'preparing', label: 'Preparing' },
  { value: 'submitted', label: 'Submitted' },
  { value: 'in-review', label: 'In review' },
  { value: 'additional-docs', label: 'Documents requested' },
  { value: 'approved', label: 'Approved' },
  { value: 'refused', label: 'Refused' },
  { value: 'withdrawn', label: 'Withdrawn' },
  { value: 'closed', label: 'Closed' },
];

export const CLOSED_FILE_STATUSES = new Set(['approved', 'refused', 'withdrawn', 'closed']);

// The stages a new file starts with; each gets its date when it happens.
export const DEFAULT_STAGES = ['Retainer signed', 'Documents gathered', 'Application submitted', 'Biometrics', 'Decision'];

export const DEADLINE_KINDS = [
  { value: 'biometrics', label: 'Biometrics' },
  { value: 'medical', label: 'Medical exam' },
  { value: 'document-request', label: 'Document request' },
  { value: 'status-expiry', label: 'Expiry of status' },
  { value: 'submission', label: 'Submission' },
  { value: 'follow-up', label: 'Follow-up' },
  { value: 'other', label: 'Other' },
];

export const CONTACT_KINDS = [
  { value: 'call', label: 'Call' },
  { value: 'email', label: 'E-mail' },
  { value: 'meeting', label: 'Meeting' },
  { value: 'note', label: 'Note' },
];

const labelIn = (list) => (value) => list.find((item) => item.value === value)?.label ?? (value ? String(value) : '');
export const programmeLabel = labelIn(PROGRAMMES);
export const fileStatusLabel = labelIn(FILE_STATUSES);
export const deadlineKindLabel = labelIn(DEADLINE_KINDS);
export const contactKindLabel = labelIn(CONTACT_KINDS);

// The entries of a list that can be shown: objects with an id.
export function itemsOf(doc, name) {
  const list = doc?.[name];
  if (!Array.isArray(list)) return [];
  return list.filter((item) => isPlainObject(item) && typeof item.id === 'string' && item.id !== '');
}

// Brings a document written by an older page up to this version. Returns { doc, from } when it
// could, or { problem } naming a list that isn't in a form this version can read (the document
// must then be shown read-only, never saved over).
export function migrate(doc) {
  const from = typeof doc.version === 'number' ? doc.version : 1;
  for (const name of COLLECTIONS) {
    if (name in doc && !Array.isArray(doc[name])) return { problem: name };
  }
  if ('settings' in doc && !isPlainObject(doc.settings)) return { problem: 'settings' };
  for (const name of COLLECTIONS) if (!(name in doc)) doc[name] = [];
  // Version 1 kept no ids outside the client list; lists added by hand may lack them too.
  for (const name of COLLECTIONS) {
    for (const item of doc[name]) {
      if (isPlainObject(item) && (typeof item.id !== 'string' || item.id === '')) item.id = newId();
    }
  }
  doc.version = Math.max(from, MODEL_VERSION);
  return { doc, from };
}

// ---------- Looking things up quickly ----------

const indexes = new WeakMap();
const shapes = new WeakMap();

function groupBy(items, key) {
  const map = new Map();
  for (const item of items) {
    const k = item[key];
    if (typeof k !== 'string' || !k) continue;
    let list = map.get(k);
    if (!list) map.set(k, (list = []));
    list.push(item);
  }
  return map;
}

// What the lookups are made of: every list's records, and in each the fields they are keyed on.
const KEYED = ['id', 'clientId', 'fileId'];

function shapeOf(doc) {
  const shape = [];
  for (const name of COLLECTIONS) {
    const list = doc?.[name];
    const kept = { list: Array.isArray(list) ? list : null, records: [], keys: [] };
    if (kept.list) {
      for (const record of kept.list) {
        kept.records.push(record);
        if (isPlainObject(record)) for (const key of KEYED) kept.keys.push(record[key]);
      }
    }
    shape.push(kept);
  }
  return shape;
}

// Whether the document still holds the very records the lookups were made from, in the same
// order and with the same keys; fields beyond those may have changed, since lists and lookups
// hold the records themselves.
function sameShape(doc, shape) {
  for (let at = 0; at < COLLECTIONS.length; at++) {
    const list = doc[COLLECTIONS[at]];
    const { records, keys } = shape[at];
    if (!Array.isArray(list)) {
      if (shape[at].list !== null) return false;
      continue;
    }
    if (shape[at].list === null || list.length !== records.length) return false;
    let k = 0;
    for (let i = 0; i < list.length; i++) {
      const record = list[i];
      if (record !== records[i]) return false;
      if (!isPlainObject(record)) continue;
      if (record.id !== keys[k] || record.clientId !== keys[k + 1] || record.fileId !== keys[k + 2]) return false;
      k += 3;
    }
  }
  return true;
}

// The lookups, each made the first time a screen asks for it: [list, key, grouped].
const LOOKUPS = {
  client: ['clients', 'id', false],
  file: ['files', 'id', false],
  deadline: ['deadlines', 'id', false],
  invoice: ['invoices', 'id', false],
  filesByClient: ['files', 'clientId', true],
  deadlinesByClient: ['deadlines', 'clientId', true],
  deadlinesByFile: ['deadlines', 'fileId', true],
  contactsByClient: ['contacts', 'clientId', true],
  entriesByFile: ['entries', 'fileId', true],
  invoicesByClient: ['invoices', 'clientId', true],
  invoicesByFile: ['invoices', 'fileId', true],
  appointmentsByClient: ['appointments', 'clientId', true],
};

// An index of `lists` whose lookups are kept in `made`, which indexes of the same lists share.
function indexWith(lists, made, stamp) {
  const index = { stamp, ...lists, search: null }; // search: made on the first search (search.js)
  for (const [name, [list, key, grouped]] of Object.entries(LOOKUPS)) {
    Object.defineProperty(index, name, {
      enumerable: true,
      get: () => {
        if (!made.has(name)) made.set(name, grouped ? groupBy(lists[list], key) : new Map(lists[list].map((item) => [item[key], item])));
        return made.get(name);
      },
    });
  }
  return index;
}

// Lists and lookups of the document: `stamp` is anything that changes with every edit (the app's
// revision). After an edit they are made again only when a record came, went, moved or changed
// one of its keys; otherwise a new index shares the lists and lookups already made.
export function indexOf(doc, stamp = 0) {
  const cached = indexes.get(doc);
  if (cached && cached.stamp === stamp) return cached;
  const kept = cached ? shapes.get(cached) : null;
  if (kept && sameShape(doc, kept.shape)) {
    const index = indexWith(kept.lists, kept.made, stamp);
    shapes.set(index, kept);
    indexes.set(doc, index);
    return index;
  }
  const lists = {
    clients: clientsOf(doc),
    files: itemsOf(doc, 'files'),
    deadlines: itemsOf(doc, 'deadlines'),
    appointments: itemsOf(doc, 'appointments'),
    contacts: itemsOf(doc, 'contacts'),
    entries: itemsOf(doc, 'entries'),
    invoices: itemsOf(doc, 'invoices'),
  };
  const made = new Map();
  const index = indexWith(lists, made, stamp);
  shapes.set(index, { shape: shapeOf(doc), lists, made });
  indexes.set(doc, index);
  return index;
}

export function clientName(index, clientId) {
  const client = index.client.get(clientId);
  return client ? text(client.name) || 'Unnamed client' : 'No client';
}

export function fileTitle(index, file) {
  if (!file) return 'No file';
  return [programmeLabel(file.programme) || 'File', text(file.applicationNumber)].filter(Boolean).join(' · ');
}

// ---------- Changing the lists ----------

function stamped(now) {
  return now.toISOString();
}

function listIn(doc, name) {
  if (!Array.isArray(doc[name])) doc[name] = [];
  return doc[name];
}

export function removeFrom(doc, name, id) {
  const list = listIn(doc, name);
  const at = list.findIndex((item) => isPlainObject(item) && item.id === id);
  return at < 0 ? null : list.splice(at, 1)[0];
}

function update(doc, name, id, changes, now) {
  const item = itemsOf(doc, name).find((i) => i.id === id);
  if (!item) return null;
  Object.assign(item, changes, { updatedAt: stamped(now) });
  return item;
}

const clean = (value) => text(value).trim();

export function cleanFile(input) {
  const stages = Array.isArray(input.stages)
    ? input.stages.filter(isPlainObject).map((s) => ({ name: clean(s.name), date: isDay(s.date) ? s.date : '' })).filter((s) => s.name)
    : DEFAULT_STAGES.map((name) => ({ name, date: '' }));
  return {
    clientId: clean(input.clientId),
    programme: clean(input.programme) || 'other',
    applicationNumber: clean(input.applicationNumber),
    status: clean(input.status) || 'preparing',
    opened: isDay(input.opened) ? input.opened : '',
    stages,
    notes: text(input.notes).trim(),
  };
}

export function validateFile(input, index) {
  const errors = {};
  if (!input.clientId || !index.client.has(input.clientId)) errors.clientId = 'Choose the client this file is for.';
  if (input.applicationNumber) {
    const wanted = foldForSearch(input.applicationNumber);
    const taken = index.files.find((f) => f.id !== input.id && foldForSearch(clean(f.applicationNumber)) === wanted);
    if (taken) errors.applicationNumber = `Application number ${input.applicationNumber} is already on a file of ${clientName(index, taken.clientId)}.`;
  }
  return errors;
}

export function addFile(doc, input, now = new Date()) {
  const file = { id: newId(), ...cleanFile(input), createdAt: stamped(now), updatedAt: stamped(now) };
  if (!file.opened) file.opened = todayOf(now);
  listIn(doc, 'files').push(file);
  return file;
}

export function updateFile(doc, id, input, now = new Date()) {
  return update(doc, 'files', id, cleanFile(input), now);
}

// A file goes with its deadlines, appointments and unbilled entries. Invoices stay: they were
// issued and keep their numbers, so a file that has any can't be removed.
export function removeFile(doc, id) {
  const blockers = removalBlockers(doc, 'file', id);
  if (blockers.length) throw new Error(blockers[0]);
  for (const name of ['deadlines', 'appointments', 'entries']) {
    doc[name] = listIn(doc, name).filter((item) => !(isPlainObject(item) && item.fileId === id));
  }
  return removeFrom(doc, 'files', id);
}

export function cleanDeadline(input) {
  return {
    title: clean(input.title),
    kind: clean(input.kind) || 'other',
    due: clean(input.due),
    clientId: clean(input.clientId),
    fileId: clean(input.fileId),
    remindDays: Math.max(0, Math.min(60, Number.parseInt(input.remindDays, 10) || 0)),
    notes: text(input.notes).trim(),
  };
}

export function validateDeadline(input, index) {
  const errors = {};
  if (!input.title) errors.title = 'Say what is due.';
  if (!isDay(input.due)) errors.due = 'Enter the due date.';
  if (input.fileId && !index.file.has(input.fileId)) errors.fileId = 'That file is no longer in your data.';
  if (input.clientId && !index.client.has(input.clientId)) errors.clientId = 'That client is no longer in your data.';
  return errors;
}

// A deadline of a file belongs to the file's client as well.
function withClientOfFile(doc, item) {
  if (item.fileId && !item.clientId) {
    const file = itemsOf(doc, 'files').find((f) => f.id === item.fileId);
    if (file) item.clientId = file.clientId;
  }
  return item;
}

export function addDeadline(doc, input, now = new Date()) {
  const deadline = withClientOfFile(doc, { id: newId(), ...cleanDeadline(input), done: false, doneAt: '', createdAt: stamped(now), updatedAt: stamped(now) });
  listIn(doc, 'deadlines').push(deadline);
  return deadline;
}

export function updateDeadline(doc, id, input, now = new Date()) {
  const changed = update(doc, 'deadlines', id, cleanDeadline(input), now);
  return changed && withClientOfFile(doc, changed);
}

export function setDeadlineDone(doc, id, done, now = new Date()) {
  return update(doc, 'deadlines', id, { done: !!done, doneAt: done ? stamped(now) : '' }, now);
}

// 'done', 'overdue', 'soon' (within a week) or 'later'. Days are compared as text, which for
// 'YYYY-MM-DD' is the order of the calendar and much cheaper than dates over 50,000 deadlines.
export function deadlineState(deadline, day, weekEnd = addDays(day, 7)) {
  if (deadline.done) return 'done';
  const due = deadline.due;
  if (typeof due !== 'string' || !isDay(due)) return 'later';
  if (due < day) return 'overdue';
  return due <= weekEnd ? 'soon' : 'later';
}

const compareText = (a, b) => (a < b ? -1 : a > b ? 1 : 0);
const byDue = (a, b) => compareText(text(a.due), text(b.due)) || compareText(text(a.title), text(b.title));

// Filters: show = 'open' | 'overdue' | 'week' | 'done' | 'all'; kind; clientId.
export function filterDeadlines(deadlines, { show = 'open', kind = '', clientId = '', day }) {
  const weekEnd = addDays(day, 7);
  const out = deadlines.filter((d) => {
    if (kind && d.kind !== kind) return false;
    if (clientId && d.clientId !== clientId) return false;
    if (show === 'all') return true;
    const state = deadlineState(d, day, weekEnd);
    if (show === 'open') return state !== 'done';
    if (show === 'overdue') return state === 'overdue';
    if (show === 'week') return state === 'overdue' || state === 'soon';
    if (show === 'done') return state === 'done';
    return true;
  });
  return out.sort(byDue);
}

// The dashboard's counts, from the list the 'week' filter gives, so that "overdue" plus "due this
// week" is always the number of deadlines it lists. Sorted by due day, the overdue ones come first.
export function weekCounts(week, day) {
  let overdue = 0;
  while (overdue < week.length && week[overdue].due < day) overdue += 1;
  return { overdue, soon: week.length - overdue, week: week.length };
}

export function cleanAppointment(input) {
  const time = clean(input.time);
  return {
    title: clean(input.title),
    date: clean(input.date),
    time: /^([01]\d|2[0-3]):[0-5]\d$/.test(time) ? time : '',
    minutes: Math.max(0, Math.min(24 * 60, Number.parseInt(input.minutes, 10) || 0)),
    clientId: clean(input.clientId),
    fileId: clean(input.fileId),
    place: clean(input.place),
    notes: text(input.notes).trim(),
  };
}

export function validateAppointment(input) {
  const errors = {};
  if (!input.title) errors.title = 'Give the appointment a title.';
  if (!isDay(input.date)) errors.date = 'Enter the date.';
  return errors;
}

export function addAppointment(doc, input, now = new Date()) {
  const item = withClientOfFile(doc, { id: newId(), ...cleanAppointment(input), createdAt: stamped(now), updatedAt: stamped(now) });
  listIn(doc, 'appointments').push(item);
  return item;
}

export function updateAppointment(doc, id, input, now = new Date()) {
  const changed = update(doc, 'appointments', id, cleanAppointment(input), now);
  return changed && withClientOfFile(doc, changed);
}

// What stops a client, file or invoice from being removed, as sentences to show before the user
// confirms; empty when nothing does. kind: 'client' | 'file' | 'invoice'.
export function removalBlockers(doc, kind, id) {
  const invoices = itemsOf(doc, 'invoices');
  const numbers = (list) => list.map((i) => text(i.number) || 'without a number').join(', ');
  if (kind === 'client' || kind === 'file') {
    const theirs = invoices.filter((i) => (kind === 'client' ? i.clientId : i.fileId) === id);
    if (!theirs.length) return [];
    const [who, instead] = kind === 'client' ? ['client', 'Mark the client closed instead.'] : ['file', 'Close the file instead.'];
    return [`This ${who} has invoices on record (${numbers(theirs)}), so the ${who} can't be removed. ${instead}`];
  }
  if (kind === 'invoice') {
    const invoice = invoices.find((i) => i.id === id);
    if (!invoice) return [];
    const payments = Array.isArray(invoice.payments) ? invoice.payments.filter(isPlainObject) : [];
    if (payments.length) return [`Invoice ${text(invoice.number)} has ${payments.length === 1 ? 'a payment' : `${payments.length} payments`} recorded. Remove the payments first.`];
    if (invoice.paid) return [`Invoice ${text(invoice.number)} is marked paid. Mark it unpaid first.`];
  }
  return [];
}

export function cleanContact(input) {
  return {
    clientId: clean(input.clientId),
    kind: CONTACT_KINDS.some((k) => k.value === input.kind) ? input.kind : 'note',
    date: isDay(input.date) ? input.date : '',
    summary: text(input.summary).trim(),
  };
}

export function addContact(doc, input, now = new Date()) {
  const item = { id: newId(), ...cleanContact(input), createdAt: stamped(now) };
  if (!item.date) item.date = todayOf(now);
  listIn(doc, 'contacts').push(item);
  return item;
}

// A client goes with everything that is only theirs. Invoices keep them: a client with
// invoices can't be removed.
export function removeClientEverywhere(doc, clientId) {
  const blockers = removalBlockers(doc, 'client', clientId);
  if (blockers.length) throw new Error(blockers[0]);
  const fileIds = new Set(itemsOf(doc, 'files').filter((f) => f.clientId === clientId).map((f) => f.id));
  for (const name of ['files', 'deadlines', 'appointments', 'contacts', 'entries']) {
    doc[name] = listIn(doc, name).filter((item) => !(isPlainObject(item) && (item.clientId === clientId || fileIds.has(item.fileId) || (name === 'files' && fileIds.has(item.id)))));
  }
  const at = listIn(doc, 'clients').findIndex((c) => isPlainObject(c) && c.id === clientId);
  return at < 0 ? null : doc.clients.splice(at, 1)[0];
}

export function settingsOf(doc) {
  return isPlainObject(doc?.settings) ? doc.settings : {};
}
