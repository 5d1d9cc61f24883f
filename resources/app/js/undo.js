// Taking a change back. Before a change, the records of the lists it may touch are noted; after
// it, what differs is kept: records removed (with where they stood), records added, records
// changed (as they were). Undoing puts exactly those back and leaves every other record as it is
// now, so an undo never loses an edit made to something else in the meantime.

import { isPlainObject } from './format.js';
import { valuesOf, stillHolds, recordFrom } from './record-values.js';

const hasId = (item) => isPlainObject(item) && typeof item.id === 'string' && item.id !== '';

// names: the lists ('deadlines', 'entries', …) and 'settings' when the change may touch them.
export function beforeChange(doc, names) {
  const lists = {};
  for (const name of names) {
    if (name === 'settings') continue;
    const list = Array.isArray(doc[name]) ? doc[name] : [];
    const noted = [];
    for (let at = 0; at < list.length; at++) {
      if (hasId(list[at])) noted.push({ id: list[at].id, at, ref: list[at], fields: valuesOf(list[at]) });
    }
    lists[name] = noted;
  }
  const settings = names.includes('settings') ? { had: 'settings' in doc, json: JSON.stringify(doc.settings ?? null) } : null;
  return { lists, settings };
}

// What the change did, or null when it changed nothing that was noted.
export function changeOf(doc, before) {
  const lists = {};
  let any = false;
  for (const [name, noted] of Object.entries(before.lists)) {
    const now = new Map((Array.isArray(doc[name]) ? doc[name] : []).filter(hasId).map((item) => [item.id, item]));
    const seen = new Set(noted.map((n) => n.id));
    const removed = [];
    const changed = [];
    for (const n of noted) {
      const item = now.get(n.id);
      if (!item) removed.push({ at: n.at, item: recordFrom(n.fields) });
      else if (item !== n.ref || !stillHolds(item, n.fields)) changed.push(recordFrom(n.fields));
    }
    const added = [...now.keys()].filter((id) => !seen.has(id));
    if (removed.length || changed.length || added.length) {
      lists[name] = { removed, changed, added };
      any = true;
    }
  }
  let settings = null;
  if (before.settings && JSON.stringify(doc.settings ?? null) !== before.settings.json) {
    settings = before.settings;
    any = true;
  }
  return any ? { lists, settings } : null;
}

// Puts the records back as they were before the change.
export function undoChange(doc, change) {
  for (const [name, { removed, changed, added }] of Object.entries(change.lists)) {
    if (!Array.isArray(doc[name])) doc[name] = [];
    const dropped = new Set(added);
    let list = doc[name].filter((item) => !(hasId(item) && dropped.has(item.id)));
    const was = new Map(changed.map((item) => [item.id, item]));
    list = list.map((item) => {
      if (!hasId(item) || !was.has(item.id)) return item;
      const old = was.get(item.id);
      was.delete(item.id);
      return structuredClone(old);
    });
    // A changed record someone removed since comes back too.
    for (const old of was.values()) list.push(structuredClone(old));
    const present = new Set(list.filter(hasId).map((item) => item.id));
    for (const { at, item } of [...removed].sort((a, b) => a.at - b.at)) {
      if (present.has(item.id)) continue;
      list.splice(Math.min(at, list.length), 0, structuredClone(item));
    }
    doc[name] = list;
  }
  if (change.settings) {
    if (change.settings.had) doc.settings = JSON.parse(change.settings.json);
    else delete doc.settings;
  }
}

export const UNDO_TOAST_MS = 12000;
const KEPT = 30;

// Gives the app one way to make a change that can be taken back:
//   app.undoable({ label, touches, message }, change) edits, shows `message` with an Undo button
//     and returns what change() returned;
//   app.undo() takes back the latest change still on this document (Ctrl+Z).
// refresh() redraws the screen after an undo.
export function attachUndo(app, { toast, refresh }) {
  let steps = [];
  app.on('load', () => { steps = []; });

  function undoStep(step) {
    const at = steps.indexOf(step);
    if (at < 0 || step.doc !== app.data) return false;
    steps.splice(at, 1);
    app.edit((doc) => undoChange(doc, step.change));
    toast(`Undone: ${step.label}.`);
    refresh();
    return true;
  }

  app.undoable = ({ label, touches, message = '' }, change) => {
    const before = beforeChange(app.data, touches);
    const result = app.edit(change);
    const found = changeOf(app.data, before);
    if (!found) return result;
    const step = { label, change: found, doc: app.data };
    steps.push(step);
    if (steps.length > KEPT) steps.shift();
    if (message) toast(message, { timeout: UNDO_TOAST_MS, action: { label: 'Undo', run: () => undoStep(step) } });
    return result;
  };
  app.undo = () => {
    const step = steps.findLast((s) => s.doc === app.data);
    if (!step) {
      toast('There is nothing to undo.');
      return false;
    }
    return undoStep(step);
  };
  app.undoStep = undoStep;
  app.lastUndoStep = () => steps.at(-1) ?? null;
}
