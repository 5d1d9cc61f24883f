// The maker's IRCC updates, which the desktop program hands over only when their signature
// verifies. The feed is JSON: { "updated": "...", "items": [{ "title", "date", "summary" }] }.

import { isPlainObject, plainError } from './format.js';

export const MAX_ITEMS = 8;

export function readFeed(answer) {
  if (!isPlainObject(answer)) return { ok: false, error: "Quillpost couldn't check for IRCC updates." };
  if (answer.ok !== true) return { ok: false, error: typeof answer.error === 'string' ? answer.error : "Quillpost couldn't check for IRCC updates." };
  let feed;
  try {
    feed = JSON.parse(answer.feed);
  } catch {
    return { ok: false, error: "The IRCC update couldn't be read." };
  }
  const items = (Array.isArray(feed?.items) ? feed.items : [])
    .filter((item) => isPlainObject(item) && typeof item.title === 'string' && item.title.trim())
    .map((item) => ({
      title: item.title.trim(),
      date: typeof item.date === 'string' ? item.date : '',
      summary: typeof item.summary === 'string' ? item.summary.trim() : '',
    }))
    .sort((a, b) => (b.date > a.date ? 1 : b.date < a.date ? -1 : 0))
    .slice(0, MAX_ITEMS);
  return { ok: true, items, updated: typeof feed?.updated === 'string' ? feed.updated : '' };
}

export async function fetchFeed(bridge) {
  if (!bridge?.irccFeed) return { ok: false, error: 'IRCC updates come through Quillpost\'s desktop program.' };
  try {
    return readFeed(await bridge.irccFeed());
  } catch (error) {
    const { message, details } = plainError(error);
    return { ok: false, error: message, details };
  }
}
