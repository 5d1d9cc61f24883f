// The document's JSON text, made a slice at a time so that a large practice never holds the
// window for longer than one slice.
//
// Each top-level list is written record by record; everything else is written whole. The text is
// the very text JSON.stringify(doc) gives. A record's text is kept with the values it was made
// from and used again while the record still holds them, so a save encodes afresh only what
// changed: callers edit records in place, so the values, not the record, say whether it did.

import { valuesOf, stillHolds } from './record-values.js';

export const SLICE_MS = 6;
// How many records are written between looks at the clock.
const STRIDE = 32;

// Gives the event loop a turn without the clamping that nested timers get.
export function nextTask() {
  if (typeof MessageChannel !== 'function') return new Promise((resolve) => setTimeout(resolve, 0));
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      channel.port1.close();
      resolve();
    };
    channel.port2.postMessage(0);
  });
}

// record → { text, fields }: the record's text and the values it was made from.
const kept = new WeakMap();

// A list item's text as JSON.stringify writes it inside a list: what it cannot write becomes null.
function itemText(item) {
  if (typeof item !== 'object' || item === null || Object.getPrototypeOf(item) !== Object.prototype) return JSON.stringify(item) ?? 'null';
  const known = kept.get(item);
  if (known !== undefined && stillHolds(item, known.fields)) return known.text;
  const text = JSON.stringify(item) ?? 'null';
  kept.set(item, { text, fields: valuesOf(item) });
  return text;
}

// A key and its value as they stand inside an object's JSON text, or '' when JSON leaves the
// key out (undefined, functions).
function member(key, value) {
  const text = JSON.stringify({ [key]: value });
  return text.length > 2 ? text.slice(1, -1) : '';
}

// doc: a plain object. Resolves to the text's parts (each made by part(string), strings unless
// told otherwise), or null when current() stops answering true at a pause: the document changed
// meanwhile and the caller starts again. Given write(), the text goes to it piece by piece, in
// order and unjoined, instead of into parts.
export async function documentText(doc, {
  sliceMs = SLICE_MS,
  now = () => performance.now(),
  pause = nextTask,
  current = () => true,
  part = (text) => text,
  write = null,
} = {}) {
  const parts = [];
  let pieces = ['{'];
  let started = now();
  let written = 0;

  const flush = () => {
    if (write) pieces.forEach(write);
    else if (pieces.length) parts.push(part(pieces.join('')));
    pieces = [];
  };
  // Whether the slice is used up; if so, hands the loop back and reports whether to go on. What
  // is written so far is handed to part() first, so that its cost (encoding, for the store) is
  // counted in the slice rather than added to it.
  const due = async () => {
    if (++written % STRIDE !== 0) return true;
    flush();
    if (now() - started < sliceMs) return true;
    await pause();
    started = now();
    return current();
  };

  let first = true;
  for (const key of Object.keys(doc)) {
    const value = doc[key];
    if (!Array.isArray(value) || typeof value.toJSON === 'function') {
      const text = member(key, value);
      if (!text) continue;
      pieces.push(first ? text : `,${text}`);
      first = false;
      continue;
    }
    pieces.push(`${first ? '' : ','}${JSON.stringify(key)}:[`);
    first = false;
    for (let i = 0; i < value.length; i++) {
      if (i) pieces.push(',');
      pieces.push(itemText(value[i]));
      if (!(await due())) return null;
    }
    pieces.push(']');
  }
  pieces.push('}');
  flush();
  return parts;
}

// Pieces of 1 MiB: the size the bytes channel uploads in, and small enough that making one never
// sets off a collection of the whole heap, as a single buffer of tens of megabytes does.
export const CHUNK_BYTES = 1024 * 1024;

// Collects the text as UTF-8 bytes in pieces of at most chunkBytes, each part encoded as it
// comes, so that the whole never has to be encoded, copied or held in one buffer. A character
// never straddles two pieces.
export function utf8Chunks(chunkBytes = CHUNK_BYTES) {
  const encoder = new TextEncoder();
  const full = [];
  let chunk = new Uint8Array(chunkBytes);
  let used = 0;
  let length = 0;
  return {
    get length() { return length; },
    add(text) {
      let rest = text;
      for (;;) {
        const { read, written } = encoder.encodeInto(rest, chunk.subarray(used));
        used += written;
        length += written;
        if (read === rest.length) return;
        // The piece is full, short of at most the three bytes a character needs beyond it.
        rest = rest.slice(read);
        full.push(chunk.subarray(0, used));
        chunk = new Uint8Array(chunkBytes);
        used = 0;
      }
    },
    chunks() {
      return used ? [...full, chunk.subarray(0, used)] : [...full];
    },
  };
}

// The edits that turn the text of one list of pieces (as documentText writes them) into the text
// of another: [place, text that stood there, text that stands there now], places in UTF-16 units
// of the first text, in order. The same piece in the same place is passed over, so a record kept
// from one save to the next costs one comparison. Null when the edits would carry more than
// `limit` units: the whole text is then the better thing to send.
export function textEdits(before, after, limit = CHUNK_BYTES) {
  let start = 0;
  let at = 0;
  const common = Math.min(before.length, after.length);
  while (start < common && before[start] === after[start]) at += before[start++].length;
  let endBefore = before.length;
  let endAfter = after.length;
  while (endBefore > start && endAfter > start && before[endBefore - 1] === after[endAfter - 1]) {
    endBefore -= 1;
    endAfter -= 1;
  }
  const units = (list, from, to) => {
    let total = 0;
    for (let i = from; i < to; i++) total += list[i].length;
    return total;
  };
  if (units(before, start, endBefore) + units(after, start, endAfter) > limit) return null;
  // Pieces added or taken away: one edit from the first difference to the last.
  if (endBefore - start !== endAfter - start) {
    return [[at, before.slice(start, endBefore).join(''), after.slice(start, endAfter).join('')]];
  }
  // As many pieces as before: an edit for each run of pieces that changed.
  const edits = [];
  for (let i = start; i < endBefore;) {
    if (before[i] === after[i]) {
      at += before[i++].length;
      continue;
    }
    const from = at;
    let was = '';
    let now = '';
    for (; i < endBefore && before[i] !== after[i]; i++) {
      was += before[i];
      now += after[i];
      at += before[i].length;
    }
    edits.push([from, was, now]);
  }
  return edits;
}

// Whether the pieces, joined, are exactly the text, looked at a slice at a time like the writing.
export async function sameText(pieces, text, { sliceMs = SLICE_MS, now = () => performance.now(), pause = nextTask } = {}) {
  let at = 0;
  let started = now();
  for (let i = 0; i < pieces.length; i++) {
    if (!text.startsWith(pieces[i], at)) return false;
    at += pieces[i].length;
    if (i % STRIDE === STRIDE - 1 && now() - started >= sliceMs) {
      await pause();
      started = now();
    }
  }
  return at === text.length;
}
