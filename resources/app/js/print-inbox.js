// The print inbox as the page keeps it: printed files, newest first, and what arrives meanwhile;
// the rules of the handover PDF's password.

import { isPlainObject } from './format.js';

export const MIN_PASSWORD_LENGTH = 8;

// A record as the desktop program describes a printed file: name, path, size, at.
export function isPrintedRecord(value) {
  return isPlainObject(value) && typeof value.name === 'string' && value.name !== '' &&
    typeof value.path === 'string' && value.path !== '';
}

export function newestFirst(records) {
  return (Array.isArray(records) ? records.filter(isPrintedRecord) : [])
    .map((record, index) => ({ record, index }))
    .sort((a, b) => {
      const byTime = String(b.record.at ?? '').localeCompare(String(a.record.at ?? ''));
      return byTime || a.index - b.index;
    })
    .map(({ record }) => record);
}

// The list with a newly arrived file on top; a file already listed is replaced, not doubled.
export function withArrival(records, record) {
  if (!isPrintedRecord(record)) return newestFirst(records);
  const others = (Array.isArray(records) ? records : []).filter((r) => r?.path !== record.path);
  return newestFirst([record, ...others]);
}

export function withoutFile(records, path) {
  return (Array.isArray(records) ? records : []).filter((r) => r?.path !== path);
}

// Why a password can't lock the handover PDF, or null when it can. Characters are counted as
// the user types them, so "pässwörd" is eight.
export function passwordProblem(password, confirmation) {
  const text = String(password ?? '');
  if ([...text].length < MIN_PASSWORD_LENGTH) return `Use at least ${MIN_PASSWORD_LENGTH} characters.`;
  if (confirmation !== undefined && text !== String(confirmation ?? '')) return "The two passwords don't match.";
  return null;
}

// "Study permit.pdf" → "Study permit (locked).pdf".
export function lockedName(fileName) {
  const base = String(fileName ?? '').replace(/\.pdf$/i, '').trim() || 'Handover';
  return `${base} (locked).pdf`;
}

export function looksLikePdf(bytes) {
  return bytes instanceof Uint8Array && bytes.length >= 5 &&
    String.fromCharCode(...bytes.subarray(0, 5)) === '%PDF-';
}

export function fileSize(bytes) {
  const n = Number(bytes);
  if (!Number.isFinite(n) || n < 0) return '';
  if (n < 1024) return `${n} bytes`;
  if (n < 1024 * 1024) return `${Math.round(n / 1024)} KB`;
  return `${(n / (1024 * 1024)).toFixed(1)} MB`;
}

// What Settings → Printer says about the printer's status record.
export function printerSummary(status) {
  if (!isPlainObject(status)) return { state: 'unknown', text: "Quillpost couldn't ask the printing system." };
  if (!status.available) {
    return { state: 'unavailable', text: "The printing system's tools aren't installed on this computer (CUPS and its ippeveprinter), so the Quillpost PDF printer can't run." };
  }
  if (!status.enabled) return { state: 'off', text: 'The Quillpost PDF printer is switched off.' };
  if (status.running && status.queue) return { state: 'on', text: 'Anything printed to "Quillpost PDF" lands in the print inbox of PDF Studio.' };
  if (status.error) return { state: 'trouble', text: String(status.error) };
  if (status.running) return { state: 'trouble', text: 'The printer runs, but the print queue "Quillpost PDF" isn\'t set up yet.' };
  return { state: 'trouble', text: "The printer isn't running." };
}

// Printed files reach the page through one hook; screens listen here while they are shown.
const listeners = new Set();

export function listenForPrinted(bridge, onArrival = () => {}) {
  if (!bridge || typeof bridge.onPrinted !== 'function') return;
  bridge.onPrinted((record) => {
    if (!isPrintedRecord(record)) return;
    onArrival(record);
    for (const listener of listeners) listener(record);
  });
}

export function onPrintedFile(listener) {
  listeners.add(listener);
  return () => listeners.delete(listener);
}
