// Shareable copies of filled PDF forms: the copy's name, what PDF Studio's card says about it, and
// the self-test's way through that card.

import { plural } from './format.js';

export const FORM_COPY_ROUTE = 'pdf/formcopy';

// "Study permit.pdf" → "Study permit (shareable).pdf".
export function shareableName(fileName) {
  const base = String(fileName ?? '').replace(/\.pdf$/i, '').trim() || 'Form';
  return `${base} (shareable).pdf`;
}

export function describeCopy(copy) {
  return `${plural(copy?.pages ?? 0, 'page', 'pages')}, ${plural(copy?.fields ?? 0, 'filled field', 'filled fields')} baked in.`;
}

// The card on screen registers how it makes a copy ({ route, make(bytes, name) }), so that
// App.formCopy goes the user's way through it rather than a way of its own.
let shownCard = null;

export function showCard(card) {
  shownCard = card;
  return () => {
    if (shownCard === card) shownCard = null;
  };
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function cardOnRoute(timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (shownCard?.route !== FORM_COPY_ROUTE) {
    if (Date.now() > deadline) throw new Error("PDF Studio's shareable-copy card didn't appear.");
    await pause(20);
  }
  return shownCard;
}

// Goes to the card, makes one copy there, comes back to the screen the page was on, and answers
// { outputs, pages, fields, text, bytes, restored }; a failed copy rejects with its message once
// the page is back.
export async function copyThroughCard(bytes, name, { location, navigate, timeoutMs = 10000 }) {
  if (!(bytes instanceof Uint8Array)) throw new Error('The form to copy must be given as a Uint8Array.');
  const before = location.hash;
  let copy = null;
  let failure = null;
  navigate(FORM_COPY_ROUTE);
  try {
    const card = await cardOnRoute(timeoutMs);
    copy = await card.make(bytes, String(name ?? ''));
  } catch (error) {
    failure = error;
  }
  if (location.hash !== before) location.hash = before;
  // The screen comes back on the hash change; let it draw before answering.
  await pause(0);
  if (failure) throw failure;
  return {
    outputs: 1,
    pages: copy.pages,
    fields: copy.fields,
    text: copy.text,
    bytes: copy.bytes,
    restored: location.hash === before,
  };
}
