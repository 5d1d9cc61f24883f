// What the PDF Studio shows about the full PDF editor: its version, and the steps of an update.

import { isPlainObject } from './format.js';

const STEP_LABELS = {
  backup: 'Back up your data',
  download: 'Download the new version',
  verify: 'Check its published fingerprint',
  unpack: 'Unpack it',
  test: 'Start it once, out of sight',
  switch: 'Switch to it',
};

export const UPDATE_STEPS = Object.keys(STEP_LABELS);

export function stepLabel(step) {
  return STEP_LABELS[step] ?? String(step);
}

// The steps as they stand after one progress event from the native side. Events that aren't
// about a known step, or whose state isn't one of run/ok/fail, are left out.
export function withProgress(steps, event) {
  if (!isPlainObject(event) || !(event.step in STEP_LABELS) || !['run', 'ok', 'fail'].includes(event.state)) return steps;
  const entry = { step: event.step, state: event.state, detail: typeof event.detail === 'string' ? event.detail : '' };
  const at = steps.findIndex((s) => s.step === entry.step);
  if (at < 0) return [...steps, entry];
  return steps.map((s, i) => (i === at ? entry : s));
}

export function describeVersion(info) {
  if (!isPlainObject(info)) return 'The editor’s version is unknown.';
  const version = info.version || 'unknown';
  if (!info.updated) return `PdfCraft ${version}, as it came with Quillpost.`;
  return `PdfCraft ${version}, updated from the ${info.bundled || 'unknown'} that came with Quillpost.`;
}

export function describeCheck(result) {
  if (!isPlainObject(result)) return { ok: false, text: 'The check gave no answer.' };
  if (!result.ok) return { ok: false, text: String(result.error || 'The check failed.') };
  if (result.available) return { ok: true, available: true, text: `PdfCraft ${result.latest} is available (you have ${result.current || 'the built-in version'}).` };
  return { ok: true, available: false, text: `You have the newest version${result.latest ? ` (${result.latest})` : ''}.` };
}

export function describeUpdate(result) {
  if (!isPlainObject(result)) return { ok: false, text: 'The update gave no answer.' };
  if (result.ok) return { ok: true, text: `PdfCraft is now on ${result.version}.` };
  if (result.step === 'close') {
    const open = Number(result.open) || 0;
    return { ok: false, closeFirst: true, text: `Close the editor first: ${open === 1 ? 'one window is' : `${open} windows are`} still open.` };
  }
  return { ok: false, text: String(result.error || 'The update failed.') };
}

export function isPdfName(name) {
  return typeof name === 'string' && /\.pdf$/i.test(name);
}
