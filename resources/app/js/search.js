// Find (Ctrl+K): one search across clients, files, deadlines and invoices.

import { foldForSearch } from './format.js';
import { text, statusLabel } from './clients-model.js';
import { clientName, fileTitle, programmeLabel, fileStatusLabel, deadlineKindLabel } from './practice-model.js';
import { formatDay } from './dates.js';

// Folding (accents away, lower case) is the costly part of the search text, so each record keeps
// its folded text beside the values it was made from, and is folded again only when one of them
// differs. The values are read from the record on every build, so a record changed in place is
// never found by its old words.
const folded = new WeakMap();

// Answers the record's { a, b, c, d, e, hay }; `kept` is what it answered last time, if known.
function hayOf(item, a, b, c, d, e, words, name, kept = folded.get(item)) {
  if (kept !== undefined && kept.a === a && kept.b === b && kept.c === c && kept.d === d && kept.e === e) return kept;
  const made = { a, b, c, d, e, hay: foldForSearch(words(item, name).join(' \u0000 ')) };
  folded.set(item, made);
  return made;
}

// The words a row is found by.
const clientWords = (c) => [text(c.name), text(c.email), text(c.phone), text(c.fileNumber), statusLabel(c.status)];
const fileWords = (f, name) => [name, programmeLabel(f.programme), text(f.applicationNumber), fileStatusLabel(f.status)];
const deadlineWords = (d, name) => [text(d.title), deadlineKindLabel(d.kind), name, text(d.due)];
const invoiceWords = (i, name) => [text(i.number), name, i.paid ? 'paid' : 'unpaid'];

// The folded text of one row; names: client id → name.
const HAY = {
  client: (c, names, kept) => hayOf(c, c.name, c.email, c.phone, c.fileNumber, c.status, clientWords, '', kept),
  file: (f, names, kept) => {
    const name = names.get(f.clientId) ?? '';
    return hayOf(f, name, f.programme, f.applicationNumber, f.status, undefined, fileWords, name, kept);
  },
  deadline: (d, names, kept) => {
    const name = names.get(d.clientId) ?? '';
    return hayOf(d, d.title, d.kind, name, d.due, undefined, deadlineWords, name, kept);
  },
  invoice: (i, names, kept) => {
    const name = names.get(i.clientId) ?? '';
    return hayOf(i, i.number, name, !!i.paid, undefined, undefined, invoiceWords, name, kept);
  },
};
const LISTS = [['client', 'clients'], ['file', 'files'], ['deadline', 'deadlines'], ['invoice', 'invoices']];

function namesOf(index) {
  const names = new Map();
  for (const c of index.clients) names.set(c.id, text(c.name));
  return names;
}

// The rows made for an index's lists: an edit that leaves the lists as they were (see indexOf)
// looks each row over again rather than making the rows afresh.
const rowsOfLists = new WeakMap();

// The rows' folded texts are also kept joined, a stretch of rows of one kind to a string, so that
// a search hands each stretch to one native indexOf and looks closer only at the rows that hold a
// word.
const STRETCH = 1024;
const SEPARATOR = '\n';

// Where each stretch starts: at most STRETCH rows, all of one kind.
function stretchStarts(rows) {
  const starts = [];
  for (let r = 0; r < rows.length; r++) {
    const last = starts.at(-1);
    if (last === undefined || r - last === STRETCH || rows[r].type !== rows[r - 1].type) starts.push(r);
  }
  return starts;
}

// Joins the stretch again unless every row's folded text is the one it was joined from.
function joinStretch(rows, from, to, known) {
  let current = known !== undefined && known.from === from && known.kept.length === to - from;
  for (let r = from; current && r < to; r++) current = known.kept[r - from] === rows[r].kept;
  if (current) return known;
  const kept = new Array(to - from);
  const starts = new Int32Array(to - from);
  let at = 0;
  for (let r = from; r < to; r++) {
    kept[r - from] = rows[r].kept;
    starts[r - from] = at;
    at += rows[r].kept.hay.length + SEPARATOR.length;
  }
  return { from, type: rows[from].type, kept, starts, text: kept.map((k) => k.hay).join(SEPARATOR) };
}

// Brings the stretches up to date, yielding after each, so that a search can do it all at once and
// the preparation a stretch per slice.
function* joinStretches(rows) {
  const starts = stretchStarts(rows);
  const stretches = rows.stretches ?? [];
  rows.stretches = stretches;
  stretches.length = starts.length;
  for (let s = 0; s < starts.length; s++) {
    stretches[s] = joinStretch(rows, starts[s], starts[s + 1] ?? rows.length, stretches[s]);
    yield;
  }
}

// Rows are made and looked over STEP at a time, by the same functions whether a search waits for
// them or they are prepared in slices, so that a search finds the work already compiled.
const STEP = 64;

// Makes the rows of one list's items [from, to).
function addRows(rows, type, items, from, to, names) {
  const hay = HAY[type];
  for (let i = from; i < to; i++) rows.push({ type, item: items[i], kept: hay(items[i], names) });
}

// Looks the rows [from, to) over again: each keeps its folded text unless a word it was made from
// changed.
function lookOver(rows, names, from, to) {
  for (let r = from; r < to; r++) {
    const row = rows[r];
    row.kept = HAY[row.type](row.item, names, row.kept);
  }
}

// The folded text of every item, gathered on the first search after a change. Titles and
// details are only made for what is shown.
function haystacks(index) {
  if (index.search) return index.search;
  const names = namesOf(index);
  let rows = rowsOfLists.get(index.deadlines);
  if (rows && rows.lists === index.clients) {
    lookOver(rows, names, 0, rows.length);
  } else {
    rows = [];
    for (const [type, list] of LISTS) addRows(rows, type, index[list], 0, index[list].length, names);
    rows.lists = index.clients;
    rowsOfLists.set(index.deadlines, rows);
  }
  for (const _ of joinStretches(rows)) {
    // all of them, now
  }
  index.search = rows;
  return rows;
}

// Makes or looks over the search text of every record a slice at a time, so that the next search
// (the first after the practice opens, or after an edit) finds it made. pause() hands the event
// loop a turn; resolves false when stillWanted() turned false at a pause. The rows are kept for
// the index's lists; when settled() says nothing changed meanwhile, the index's search is done.
export async function prepareSearch(index, { pause, sliceMs = 6, now = () => performance.now(), stillWanted = () => true, settled = () => false } = {}) {
  if (index.search) return true;
  const names = namesOf(index);
  const known = rowsOfLists.get(index.deadlines);
  const rows = known && known.lists === index.clients ? known : [];
  let started = now();
  const turn = async () => {
    if (now() - started < sliceMs) return true;
    await pause();
    started = now();
    return stillWanted();
  };
  if (rows === known) {
    for (let r = 0; r < rows.length; r += STEP) {
      lookOver(rows, names, r, Math.min(r + STEP, rows.length));
      if (!await turn()) return false;
    }
  } else {
    for (const [type, list] of LISTS) {
      const items = index[list];
      for (let i = 0; i < items.length; i += STEP) {
        addRows(rows, type, items, i, Math.min(i + STEP, items.length), names);
        if (!await turn()) return false;
      }
    }
    if (!rowsOfLists.has(index.deadlines)) {
      rows.lists = index.clients;
      rowsOfLists.set(index.deadlines, rows);
    }
  }
  for (const _ of joinStretches(rows)) {
    if (!await turn()) return false;
  }
  // Names read before a pause may have changed since; only an unchanged index keeps the rows as
  // they are, and a later search looks them over otherwise.
  if (settled() && rowsOfLists.get(index.deadlines) === rows) index.search = rows;
  return true;
}

function describe(index, type, item) {
  if (type === 'client') {
    return { title: text(item.name) || 'Unnamed client', detail: [text(item.fileNumber), text(item.email)].filter(Boolean).join(' · '), href: `client/${item.id}` };
  }
  if (type === 'file') {
    return { title: fileTitle(index, item), detail: `${clientName(index, item.clientId)} · ${fileStatusLabel(item.status)}`, href: `file/${item.id}` };
  }
  if (type === 'deadline') {
    const who = item.clientId ? clientName(index, item.clientId) : '';
    return { title: text(item.title) || deadlineKindLabel(item.kind), detail: [who, `due ${formatDay(item.due)}`, item.done ? 'done' : ''].filter(Boolean).join(' · '), href: `deadline/${item.id}` };
  }
  return { title: `Invoice ${text(item.number)}`, detail: `${clientName(index, item.clientId)} · ${item.paid ? 'paid' : 'unpaid'}`, href: `invoice/${item.id}` };
}

export const TYPE_LABELS = { client: 'Client', file: 'File', deadline: 'Deadline', invoice: 'Invoice' };
const ORDER = { client: 0, file: 1, invoice: 2, deadline: 3 };

// The row of a stretch that holds the place `at` in its joined text.
function rowAt(stretch, at) {
  const { starts } = stretch;
  let low = 0;
  let high = starts.length - 1;
  while (low < high) {
    const middle = (low + high + 1) >> 1;
    if (starts[middle] <= at) low = middle;
    else high = middle - 1;
  }
  return low;
}

// Every word must appear; results that start with the query come first, then by kind, each in
// the order of the data.
export function find(index, query, limit = 50) {
  const words = foldForSearch(query).split(/\s+/).filter(Boolean);
  if (words.length === 0 || limit <= 0) return [];
  const first = words[0];
  const rows = haystacks(index);
  const holdsAll = (hay) => {
    for (let w = 0; w < words.length; w++) {
      if (hay.indexOf(words[w]) < 0) return false;
    }
    return true;
  };

  // Rows that start with the first word: where it follows a separator, or opens a stretch.
  const starting = Object.keys(ORDER).map(() => []);
  const opening = SEPARATOR + first;
  for (const stretch of rows.stretches) {
    const joined = stretch.text;
    const take = (r) => {
      const row = rows[stretch.from + r];
      const hay = row.kept.hay;
      if (hay.startsWith(first) && holdsAll(hay)) starting[ORDER[row.type]].push(row);
    };
    if (joined.startsWith(first)) take(0);
    for (let at = joined.indexOf(opening); at >= 0; at = joined.indexOf(opening, at + 1)) take(rowAt(stretch, at + 1));
  }
  const shown = starting.flat().slice(0, limit);

  // Then the rest, kind by kind, found through the longest word (the rarest, as a rule), until
  // there are enough.
  const longest = words.reduce((a, b) => (b.length > a.length ? b : a));
  const stretches = rows.stretches.slice().sort((a, b) => ORDER[a.type] - ORDER[b.type] || a.from - b.from);
  for (const stretch of stretches) {
    const joined = stretch.text;
    let at = joined.indexOf(longest);
    while (at >= 0 && shown.length < limit) {
      const r = rowAt(stretch, at);
      const next = stretch.starts[r + 1];
      at = next === undefined ? -1 : joined.indexOf(longest, next);
      const row = rows[stretch.from + r];
      const hay = row.kept.hay;
      if (!hay.startsWith(first) && holdsAll(hay)) shown.push(row);
    }
    if (shown.length === limit) break;
  }
  return shown.map(({ type, item }) => ({ type, id: item.id, ...describe(index, type, item) }));
}
