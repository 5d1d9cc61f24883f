// Find (Ctrl+K): one search across clients, files, deadlines and invoices.

import { foldForSearch } from './format.js';
import { text, statusLabel } from './clients-model.js';
import { clientName, fileTitle, programmeLabel, fileStatusLabel, deadlineKindLabel } from './practice-model.js';
import { formatDay } from './dates.js';

// The folded text of every item, made on the first search after a change. Titles and details
// are only made for what is shown.
function haystacks(index) {
  if (index.search) return index.search;
  const rows = [];
  const add = (type, item, words) => rows.push({ type, item, hay: foldForSearch(words.join(' \u0000 ')) });
  const names = new Map(index.clients.map((c) => [c.id, text(c.name)]));
  for (const c of index.clients) add('client', c, [text(c.name), text(c.email), text(c.phone), text(c.fileNumber), statusLabel(c.status)]);
  for (const f of index.files) add('file', f, [names.get(f.clientId) ?? '', programmeLabel(f.programme), text(f.applicationNumber), fileStatusLabel(f.status)]);
  for (const d of index.deadlines) add('deadline', d, [text(d.title), deadlineKindLabel(d.kind), names.get(d.clientId) ?? '', text(d.due)]);
  for (const i of index.invoices) add('invoice', i, [text(i.number), names.get(i.clientId) ?? '', i.paid ? 'paid' : 'unpaid']);
  index.search = rows;
  return rows;
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

// Every word must appear; results that start with the query come first, then by kind.
export function find(index, query, limit = 50) {
  const words = foldForSearch(query).split(/\s+/).filter(Boolean);
  if (words.length === 0) return [];
  const found = [];
  for (const row of haystacks(index)) {
    if (!words.every((w) => row.hay.includes(w))) continue;
    found.push(row);
  }
  const first = words[0];
  found.sort((a, b) => (Number(!a.hay.startsWith(first)) - Number(!b.hay.startsWith(first))) || ORDER[a.type] - ORDER[b.type]);
  return found.slice(0, limit).map(({ type, item }) => ({ type, id: item.id, ...describe(index, type, item) }));
}
