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

// What importing would do: each row's client or its problem. `mapping[i]` names the field of
// column i. A row that matches a client already in the practice (same email or file number, or
// same name when neither is given), or an earlier row of the file, is a duplicate and is skipped.
export function previewImport(rows, mapping, doc, { hasHeader = true } = {}) {
  const body = hasHeader ? rows.slice(1) : rows;
  const firstLine = hasHeader ? 2 : 1;
  const seen = { email: new Set(), fileNumber: new Set(), name: new Set() };
  const remember = (c) => {
    if (c.email) seen.email.add(foldForSearch(c.email));
    if (c.fileNumber) seen.fileNumber.add(foldForSearch(c.fileNumber));
    if (!c.email && !c.fileNumber) seen.name.add(foldForSearch(c.name));
  };
  for (const c of clientsOf(doc)) remember(cleanInput(c));
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
    if (!problems.length) {
      duplicate = (input.email && seen.email.has(foldForSearch(input.email))) ||
        (input.fileNumber && seen.fileNumber.has(foldForSearch(input.fileNumber))) ||
        (!input.email && !input.fileNumber && seen.name.has(foldForSearch(input.name)));
      if (!duplicate) remember(input);
    }
    result.push({ line, input, problems, duplicate: !!duplicate });
  });
  return result;
}

export function importable(preview) {
  return preview.filter((r) => !r.problems.length && !r.duplicate).map((r) => r.input);
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
