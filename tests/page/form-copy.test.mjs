// Shareable copies of filled forms: the copy's name and summary, and App.formCopy's trip through
// PDF Studio's card and back.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { shareableName, describeCopy, showCard, copyThroughCard, FORM_COPY_ROUTE } from '../../resources/app/js/form-copy.js';

describe('the shareable copy', () => {
  test('is named after the original and says how many pages and fields it has', () => {
    const names = [['Study permit.PDF', 'Study permit'], ['IMM 5257 v2.pdf.pdf', 'IMM 5257 v2.pdf'], ['scan', 'scan'], [' .pdf', 'Form'], [undefined, 'Form']];
    for (const [name, stem] of names) assert.equal(shareableName(name), `${stem} (shareable).pdf`, name);
    assert.equal(describeCopy({ pages: 1, fields: 1 }), '1 page, 1 filled field baked in.');
    assert.equal(describeCopy({ pages: 4, fields: 27 }), '4 pages, 27 filled fields baked in.');
  });
});

// A page with one screen on show: navigating draws the screen later, as a hash change would.
function fakePage(hash, { make, drawsCard = true } = {}) {
  const page = { location: { hash }, visited: [], stops: [] };
  const draw = (path) => {
    page.stops.forEach((stop) => stop());
    page.stops = [];
    if (drawsCard && path.startsWith('pdf')) page.stops.push(showCard({ route: path, make }));
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

describe('App.formCopy', () => {
  test('waits for the new card when it starts on PDF Studio itself', async () => {
    const made = [];
    const page = fakePage('#/pdf', { make: async () => { made.push('pdf'); return copy; } });
    // The card already shown is that of #/pdf; only the one drawn for the form-copy route may run.
    page.navigate = (path) => {
      page.location.hash = `#/${path}`;
      setTimeout(() => {
        page.stops.forEach((stop) => stop());
        page.stops = [showCard({ route: path, make: async () => { made.push(path); return copy; } })];
      }, 5);
    };
    const result = await copyThroughCard(new Uint8Array(4), 'a.pdf', page);
    assert.deepEqual(made, [FORM_COPY_ROUTE]);
    assert.deepEqual(result, { outputs: 1, pages: 2, fields: 3, text: ['Maria'], bytes: copy.bytes, restored: true });
    assert.equal(page.location.hash, '#/pdf');
    page.stops.forEach((stop) => stop());
  });

  test('rejects with the command\'s message, back where it started', async () => {
    const page = fakePage('', { make: async () => { throw new Error('This PDF has no form fields to fill in, so it is already a shareable copy.'); } });
    await assert.rejects(copyThroughCard(new Uint8Array(4), 'plain.pdf', page), /no form fields/);
    assert.deepEqual([page.location.hash, page.visited], ['', [FORM_COPY_ROUTE]]);
    page.stops.forEach((stop) => stop());
  });

  test('tells when the page could not go back', async () => {
    const page = fakePage('#/billing', { make: async () => copy });
    const location = page.location;
    // A screen that moves the page on by itself (a lock, say) as soon as it is left.
    let hash = location.hash;
    Object.defineProperty(location, 'hash', { get: () => hash, set: (value) => { hash = value === '#/billing' ? '#/dashboard' : value; } });
    const result = await copyThroughCard(new Uint8Array(4), 'a.pdf', page);
    assert.equal(result.restored, false);
    page.stops.forEach((stop) => stop());
  });

  test('refuses bytes that are no Uint8Array, and a card that never appears', async () => {
    await assert.rejects(copyThroughCard([1, 2], 'a.pdf', fakePage('#/clients')), /Uint8Array/);
    const page = fakePage('#/clients', { drawsCard: false });
    await assert.rejects(copyThroughCard(new Uint8Array(4), 'a.pdf', { ...page, timeoutMs: 60 }), /card didn't appear/);
    assert.equal(page.location.hash, '#/clients');
  });
});
