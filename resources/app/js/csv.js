// CSV in and out: reading a spreadsheet's export, turning its rows into clients, and writing lists.

import { foldForSearch } from './format.js';
import { FIELDS, cleanInput, validateClient, clientsOf, STATUSES, text } from './clients-model.js';

// RFC 4180 with the usual liberties: a BOM, CRLF or LF, ";" or tab as the separator when the
// first line has more of those than commas. Returns { rows, error }.
export function parseCsv(input) {
  let source = String(input ?? '');
  if (source.charCodeAt(0) === 0xfeff) source = source.slice(1);
  const firstLine = source.split(/\r?\n/, 1)[0] ?? '';
  const count = (ch) => firstLine.split(ch).length - 1;
  const sep = [';', '\t'].find((c) => count(c) > count(',')) ?? ',';
  const rows = [];
  let row = [];
  let field = '';
  let quoted = false;
  let i = 0;
  while (i < source.length) {
    const ch = source[i];
    if (quoted) {
      if (ch === '"') {
        if (source[i + 1] === '"') { field += '"'; i += 2; continue; }
        quoted = false; i += 1; continue;
      }
      field += ch; i += 1; continue;
    }
    if (ch === '"' && field === '') { quoted = true; i += 1; continue; }
    if (ch === sep) { row.push(field); field = ''; i += 1; continue; }
    if (ch === '\r' || ch === '\n') {
      row.push(field); field = '';
      rows.push(row); row = [];
      i += ch === '\r' && source[i + 1] === '\n' ? 2 : 1;
      continue;
    }
    field += ch; i += 1;
  }
  if (quoted) return { rows: [], error: 'The file ends inside a quoted value, so it seems to be cut short. Nothing was read.' };
  if (field !== '' || row.length) { row.push(field); rows.push(row); }
  const kept = rows.filter((r) => r.some((cell) => cell.trim() !== ''));
  if (kept.length === 0) return { rows: [], error: 'The file has no rows.' };
  return { rows: kept, error: null };
}

const GUESSES = {
  name: ['name', 'full name', 'client', 'client name', 'nom'],
  email: ['email', 'e-mail', 'mail', 'email address', 'courriel'],
  phone: ['phone', 'telephone', 'tel', 'mobile', 'cell', 'phone number'],
  fileNumber: ['file', 'file number', 'file no', 'file #', 'reference', 'ref'],
  status: ['status', 'state', 'stage'],
  notes: ['notes', 'note', 'comments', 'comment', 'remarks'],
};

// Which client field each column probably is, from its header; '' for none.
export function guessMapping(header) {
  const used = new Set();
  return header.map((cell) => {
    const h = foldForSearch(cell).trim().replace(/[_.]+/g, ' ').replace(/\s+/g, ' ');
    const field = Object.keys(GUESSES).find((f) => !used.has(f) && GUESSES[f].includes(h));
    if (field) used.add(field);
    return field ?? '';
  });
}

function statusFrom(value) {
  const v = foldForSearch(value).trim();
  if (!v) return '';
  return STATUSES.find((s) => s.value === v || foldForSearch(s.label) === v)?.value ?? null;
}

// The same person, as an import sees it: the same file number, or the same name with the same
// e-mail or phone. A shared e-mail alone is not enough (a family often has one). When one side
// has nothing but the name, the name decides.
const nameKey = (v) => foldForSearch(text(v)).trim().replace(/\s+/g, ' ');
const emailKey = (v) => foldForSearch(text(v)).trim();
const phoneKey = (v) => { const digits = text(v).replace(/\D/g, ''); return digits.length >= 4 ? digits : ''; };
const fileKey = (v) => foldForSearch(text(v)).trim();
const nameOnly = (c) => !fileKey(c.fileNumber) && !emailKey(c.email) && !phoneKey(c.phone);

export function samePerson(a, b) {
  if (fileKey(a.fileNumber) && fileKey(a.fileNumber) === fileKey(b.fileNumber)) return true;
  if (!nameKey(a.name) || nameKey(a.name) !== nameKey(b.name)) return false;
  return (!!emailKey(a.email) && emailKey(a.email) === emailKey(b.email)) ||
    (!!phoneKey(a.phone) && phoneKey(a.phone) === phoneKey(b.phone)) || nameOnly(a) || nameOnly(b);
}

// The client in `clients` that is the same person as `input`, or null.
export function matchClient(clients, input) {
  return clients.find((c) => samePerson(c, input)) ?? null;
}

// What importing would do: each row's client or its problem. `mapping[i]` names the field of
// column i. A row that is a client already in the practice carries that client's id as
// `existing` (to update or to skip); a repeat of an earlier row of the file is a `duplicate`.
export function previewImport(rows, mapping, doc, { hasHeader = true } = {}) {
  const body = hasHeader ? rows.slice(1) : rows;
  const firstLine = hasHeader ? 2 : 1;
  const clients = clientsOf(doc);
  const earlier = [];
  const result = [];
  body.forEach((cells, n) => {
    const line = firstLine + n;
    const raw = {};
    mapping.forEach((field, col) => {
      if (field && FIELDS.includes(field)) raw[field] = raw[field] ? `${raw[field]} ${cells[col] ?? ''}` : (cells[col] ?? '');
    });
    const input = cleanInput(raw);
    const problems = [];
    const status = statusFrom(input.status);
    if (status === null) problems.push(`the status “${input.status}” isn't one Quillpost knows`);
    else input.status = status;
    const errors = validateClient(input, { clients: [] });
    problems.push(...Object.values(errors).map((m) => m.replace(/\.$/, '').replace(/^./, (c) => c.toLowerCase())));
    if (cells.slice(mapping.length).some((c) => c.trim())) problems.push(`it has ${cells.length} values where the header has ${mapping.length}`);
    let duplicate = false;
    let existing = null;
    if (!problems.length) {
      duplicate = matchClient(earlier, input) !== null;
      existing = duplicate ? null : matchClient(clients, input)?.id ?? null;
      earlier.push(input);
    }
    result.push({ line, input, problems, duplicate, existing });
  });
  return result;
}

// The rows that become new clients.
export function importable(preview) {
  return preview.filter((r) => !r.problems.length && !r.duplicate && !r.existing).map((r) => r.input);
}

// The rows that are clients already in the practice, as { id, changes }: only what the row
// says and the client doesn't have yet or has differently. Empty cells never clear a field.
export function updates(preview, doc) {
  const byId = new Map(clientsOf(doc).map((c) => [c.id, c]));
  return preview.filter((r) => r.existing && byId.has(r.existing)).map((r) => {
    const client = byId.get(r.existing);
    const changes = Object.fromEntries(Object.entries(r.input).filter(([k, v]) => v && v !== text(client[k]).trim()));
    return { id: r.existing, changes };
  }).filter((u) => Object.keys(u.changes).length);
}

export function applyUpdates(doc, list, now = new Date()) {
  const byId = new Map(clientsOf(doc).map((c) => [c.id, c]));
  for (const { id, changes } of list) if (byId.has(id)) Object.assign(byId.get(id), changes, { updatedAt: now.toISOString() });
}

// A cell that a spreadsheet would read as a formula gets a leading apostrophe.
function cell(value) {
  let s = text(value);
  if (/^[=+\-@\t\r]/.test(s)) s = `'${s}`;
  return /[",\r\n]/.test(s) ? `"${s.replace(/"/g, '""')}"` : s;
}

export function toCsv(header, rows) {
  return [header, ...rows].map((r) => r.map(cell).join(',')).join('\r\n') + '\r\n';
}
