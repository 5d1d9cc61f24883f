import { test } from 'node:test';
import assert from 'node:assert/strict';
import { shareableName, describeCopy, showCard, copyThroughCard, FORM_COPY_ROUTE } from '../../resources/app/js/form-copy.js';

test('the shareable copy is named after the original and says how many pages and fields it has', () => {
  const names = [['Study permit.PDF', 'Study permit'], ['IMM 5257 v2.pdf.pdf', 'IMM 5257 v2.pdf'], ['scan', 'scan'], [' .pdf', 'Form'], [undefined, 'Form']];
  for (const [name, stem] of names) assert.equal(shareableName(name), `${stem} (shareable).pdf`, name);
  assert.deepEqual([{ pages: 1, fields: 1 }, { pages: 4, fields: 27 }].map(describeCopy).map((t) => t.split(' ', 4).join(' ')),
    ['1 page, 1 filled', '4 pages, 27 filled']);
});

// A page with one screen on show: navigating draws the screen later, as a hash change would; each
// PDF Studio screen shows a card whose make(route) makes the copy.
function fakePage(hash, make, { drawsCard = true } = {}) {
  const page = { location: { hash }, visited: [], stops: [] };
  const draw = (path) => {
    page.stops.forEach((stop) => stop());
    page.stops = [];
    if (drawsCard && path.startsWith('pdf')) page.stops.push(showCard({ route: path, make: () => make(path) }));
  };
  draw(hash.replace(/^#\//, ''));
  page.navigate = (path) => {
    page.visited.push(path);
    page.location.hash = `#/${path}`;
    setTimeout(() => draw(path), 5);
  };
  return page;
}

const copy = { bytes: new Uint8Array([37, 80, 68, 70]), pages: 2, fields: 3, text: ['Maria'] };

test('App.formCopy makes the copy on the new card, even from PDF Studio itself, and comes back', async () => {
  const made = [];
  const page = fakePage('#/pdf', async (route) => { made.push(route); return copy; });
  const result = await copyThroughCard(new Uint8Array(4), 'a.pdf', page);
  const expected = { outputs: 1, pages: 2, fields: 3, text: ['Maria'], bytes: copy.bytes, restored: true };
  assert.deepEqual([made, result, page.location.hash], [[FORM_COPY_ROUTE], expected, '#/pdf'], 'only the card drawn for the copy runs');
  page.stops.forEach((stop) => stop());

  // A screen that moves the page on by itself (a lock, say) as soon as it is left.
  const moved = fakePage('#/billing', async () => copy);
  let hash = moved.location.hash;
  Object.defineProperty(moved.location, 'hash', { get: () => hash, set: (value) => { hash = value === '#/billing' ? '#/dashboard' : value; } });
  assert.equal((await copyThroughCard(new Uint8Array(4), 'a.pdf', moved)).restored, false, 'tells when the page could not go back');
  moved.stops.forEach((stop) => stop());
});

test('App.formCopy rejects with the command\'s message, back where it started, and refuses odd bytes or a missing card', async () => {
  const page = fakePage('', async () => { throw new Error('This PDF has no form fields to fill in.'); });
  await assert.rejects(copyThroughCard(new Uint8Array(4), 'plain.pdf', page), /no form fields/);
  assert.deepEqual([page.location.hash, page.visited], ['', [FORM_COPY_ROUTE]]);
  page.stops.forEach((stop) => stop());

  await assert.rejects(copyThroughCard([1, 2], 'a.pdf', fakePage('#/clients')), /Uint8Array/);
  const cardless = fakePage('#/clients', null, { drawsCard: false });
  await assert.rejects(copyThroughCard(new Uint8Array(4), 'a.pdf', { ...cardless, timeoutMs: 60 }), /card didn't appear/);
  assert.equal(cardless.location.hash, '#/clients', 'back where it started');
});
