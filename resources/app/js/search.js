// Find (Ctrl+K): one search across clients, files, deadlines and invoices.

import { foldForSearch } from './format.js';
import { text, statusLabel } from './clients-model.js';
import { clientName, fileTitle, programmeLabel, fileStatusLabel, deadlineKindLabel } from './practice-model.js';
import { formatDay } from './dates.js';

function haystacks(index) {
  if (index.search) return index.search;
  const rows = [];
  const add = (type, id, words, title, detail, href) => rows.push({ type, id, hay: foldForSearch(words.map(text).join(' \u0000 ')), title, detail, href });
  for (const c of index.clients) {
    add('client', c.id, [c.name, c.email, c.phone, c.fileNumber, statusLabel(c.status)],
      text(c.name) || 'Unnamed client', [text(c.fileNumber), text(c.email)].filter(Boolean).join(' · '), `client/${c.id}`);
  }
  for (const f of index.files) {
    const who = clientName(index, f.clientId);
    add('file', f.id, [who, programmeLabel(f.programme), f.applicationNumber, fileStatusLabel(f.status)],
      fileTitle(index, f), `${who} · ${fileStatusLabel(f.status)}`, `file/${f.id}`);
  }
  for (const d of index.deadlines) {
    const who = d.clientId ? clientName(index, d.clientId) : '';
    add('deadline', d.id, [d.title, deadlineKindLabel(d.kind), who, d.due],
      text(d.title) || deadlineKindLabel(d.kind), [who, `due ${formatDay(d.due)}`, d.done ? 'done' : ''].filter(Boolean).join(' · '), `deadline/${d.id}`);
  }
  for (const i of index.invoices) {
    const who = clientName(index, i.clientId);
    add('invoice', i.id, [i.number, who, i.paid ? 'paid' : 'unpaid'],
      `Invoice ${text(i.number)}`, `${who} · ${i.paid ? 'paid' : 'unpaid'}`, `invoice/${i.id}`);
  }
  index.search = rows;
  return rows;
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
  return found.slice(0, limit).map(({ hay, ...rest }) => rest);
}
