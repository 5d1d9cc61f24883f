// Typed dates and times, recognising known clients in an import, the dashboard's deadline counts
// and where a tour's panel goes.
import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { parseDay, parseTime, formatDay, addDays } from '../../resources/app/js/dates.js';
import { parseCsv, previewImport, importable, updates, applyUpdates, samePerson } from '../../resources/app/js/csv.js';
import { addClient } from '../../resources/app/js/clients-model.js';
import { deadlineCounts, filterDeadlines } from '../../resources/app/js/practice-model.js';
import { placePanel, tourFor, tourToOffer, TOURS } from '../../resources/app/js/tours.js';
import { ROUTES } from '../../resources/app/js/routes.js';

describe('typed times and dates', () => {
  test('a time is read from the ways people type it, and nonsense is refused', () => {
    const cases = [
      ['1430', '14:30'], ['14:30', '14:30'], ['930', '09:30'], ['0930', '09:30'], ['9', '09:00'], ['14.30', '14:30'],
      ['14h30', '14:30'], ['2:30 pm', '14:30'], ['2pm', '14:00'], ['12 am', '00:00'], ['12pm', '12:00'], [' 7:05 ', '07:05'],
      ['2400', null], ['1260', null], ['13pm', null], ['0am', null], ['12345', null], ['half past two', null], ['', null], ['14:3', null],
    ];
    assert.deepEqual(cases.map(([typed]) => [typed, parseTime(typed)]), cases);
  });

  test('a day is read from its shown form or ISO, never guessed from an all-number order', () => {
    const cases = [
      ['7 Dec 2026', '2026-12-07'], ['7 December 2026', '2026-12-07'], ['07 dec. 2026', '2026-12-07'], ['Dec 7, 2026', '2026-12-07'],
      ['2026-12-07', '2026-12-07'], ['2026/2/3', '2026-02-03'], ['29 Feb 2028', '2028-02-29'], ['1st Sept 2026', '2026-09-01'],
      ['29 Feb 2026', null], ['31 Apr 2026', null], ['07/12/2026', null], ['12/07/2026', null], ['7 De 2026', null],
      ['2026-13-01', null], ['7 Dec', null], ['', null],
    ];
    assert.deepEqual(cases.map(([typed]) => [typed, parseDay(typed)]), cases);
  });

  test('a day is shown with the month by name and reads back as the same day', () => {
    assert.equal(formatDay('2026-12-07'), '7 Dec 2026');
    assert.equal(formatDay('2026-12-07', undefined, 'long'), '7 December 2026');
    assert.equal(formatDay('2026-12-07', undefined, 'full'), 'Monday 7 December 2026');
    for (let day = '2026-01-01'; day < '2027-01-01'; day = addDays(day, 13)) assert.equal(parseDay(formatDay(day)), day);
    assert.equal(formatDay('not a day'), 'not a day');
  });
});

describe('importing clients the practice already has', () => {
  test('the same person is the same file number, or the same name with the same e-mail or phone', () => {
    const ana = { name: 'Ana Souza', email: 'ana@example.org', phone: '555 010 2000', fileNumber: '' };
    const cases = [
      [{ name: 'ana  souza', email: 'ANA@example.org' }, true],
      [{ name: 'Ana Souza', phone: '555-010-2000' }, true],
      [{ name: 'Ana Souza', email: 'other@example.org', phone: '555 999 0000' }, false],
      [{ name: 'Bea Souza', email: 'ana@example.org' }, false], // a family's shared address
      [{ name: 'Someone Else', fileNumber: 'F-17' }, false],
      [{ name: 'Ana Souza' }, true], // nothing but the name to go on
    ];
    for (const [row, expected] of cases) assert.equal(samePerson(ana, row), expected, JSON.stringify(row));
    assert.equal(samePerson({ name: 'R P', fileNumber: 'f-17' }, { name: 'Raj Patel', fileNumber: 'F-17' }), true);
  });

  test('known clients are offered for update with only what the file adds, new ones imported once', () => {
    const doc = { clients: [] };
    const ana = addClient(doc, { name: 'Ana Souza', email: 'ana@example.org', phone: '(555) 010-2000', notes: 'Kept' });
    const raj = addClient(doc, { name: 'Raj Patel', fileNumber: 'F-17' });
    addClient(doc, { name: 'Kim Lee' });
    const { rows } = parseCsv([
      'Name,Email,Phone,File number,Notes',
      'Ana Souza,ana@example.org,,,',
      'Someone,,,F-17,new notes',
      'Bea Souza,ana@example.org,,,',
      'Bea Souza,ana@example.org,,,twice',
    ].join('\n'));
    const preview = previewImport(rows, ['name', 'email', 'phone', 'fileNumber', 'notes'], doc);
    assert.deepEqual(preview.map((r) => [r.line, r.existing, r.duplicate]),
      [[2, ana.id, false], [3, raj.id, false], [4, null, false], [5, null, true]]);
    assert.deepEqual(importable(preview).map((c) => c.name), ['Bea Souza']);
    // Ana's row says nothing new; the F-17 row renames Raj and adds notes; empty cells clear nothing.
    const changes = updates(preview, doc);
    assert.deepEqual(changes, [{ id: raj.id, changes: { name: 'Someone', notes: 'new notes' } }]);
    applyUpdates(doc, changes, new Date('2026-12-07T10:00:00Z'));
    assert.deepEqual([raj.fileNumber, raj.updatedAt, ana.notes], ['F-17', '2026-12-07T10:00:00.000Z', 'Kept']);
    assert.equal(doc.clients.length, 3);
  });
});

test('the dashboard counts overdue and due-this-week from the same deadlines its "week" list shows', () => {
  const day = '2026-12-07';
  const deadlines = [-3, -1, 0, 1, 6, 7, 8, 30].map((n, i) => ({ id: `d${i}`, due: addDays(day, n), title: `t${i}` }))
    .concat([{ id: 'done', due: day, done: true }, { id: 'undated', due: '' }]);
  const counts = deadlineCounts(deadlines, day);
  assert.deepEqual(counts, { overdue: 2, soon: 4, week: 6 });
  assert.equal(counts.week, filterDeadlines(deadlines, { show: 'week', day }).length);
  assert.equal(counts.overdue, filterDeadlines(deadlines, { show: 'overdue', day }).length);
});

describe('tours', () => {
  test('every screen in the sidebar, its sub-screens and its items have a tour', () => {
    for (const route of ROUTES) assert.ok(tourFor(route.path), route.path);
    assert.deepEqual(['settings/security', 'pdf/formcopy', 'client', 'invoice', 'import'].map(tourFor), ['settings', 'pdf', 'clients', 'billing', 'clients']);
    for (const [name, steps] of Object.entries(TOURS)) assert.ok(steps.length > 0 && steps.every((s) => s.target && s.title && s.text), name);
  });

  test('a tour starts by itself once, on its own screen only, never over an item opened from Ctrl+K', () => {
    const seen = new Set(['billing']);
    const offered = (path) => tourToOffer(path, (n) => seen.has(n));
    assert.deepEqual(['dashboard', 'pdf', 'settings', 'billing', 'client', 'file', 'invoice', 'settings/security', 'pdf/formcopy', 'nowhere'].map(offered),
      ['dashboard', 'pdf', 'settings', null, null, null, null, null, null, null]);
  });

  test('the panel covers neither the step it points at nor what is kept clear', () => {
    const viewport = { width: 1366, height: 768 };
    const size = { width: 340, height: 180 };
    const rect = (left, top, width, height) => ({ left, top, right: left + width, bottom: top + height });
    const overlaps = (p, r) => p.left < r.right && p.left + size.width > r.left && p.top < r.bottom && p.top + size.height > r.top;
    const cases = [
      ['a small target high up', rect(300, 80, 200, 40), []],
      ['a target at the bottom', rect(300, 700, 200, 40), []],
      ['a tall card with the demonstration card below', rect(280, 140, 500, 560), [rect(280, 520, 1040, 200)]],
      ['a wide target with a search result above it', rect(260, 300, 1080, 200), [rect(400, 40, 560, 250)]],
    ];
    for (const [what, target, avoid] of cases) {
      const p = placePanel(target, avoid, size, viewport);
      assert.ok(!overlaps(p, target) && avoid.every((r) => !overlaps(p, r)), `${what}: ${JSON.stringify(p)}`);
      assert.ok(p.left >= 0 && p.top >= 0 && p.left + size.width <= viewport.width && p.top + size.height <= viewport.height, what);
    }
  });
});

test('an error reads without server names, addresses or library codes, which stay in its details', async () => {
  const { plainError } = await import('../../resources/app/js/format.js');
  const cases = [
    ["Couldn't reach https://relay.quillpost.example.com/v1/links (curl error 7).", "Couldn't reach the server."],
    ['Host relay.example.com:443 refused the connection [errno 111]', 'Host the server refused the connection'],
    ['No answer from 192.168.1.20:8443 in time.', 'No answer from the server in time.'],
    // Neither a file name nor an e-mail address is a server.
    ['The data.json.bak copy is damaged.', 'The data.json.bak copy is damaged.'],
    ['Mail to ana@example.org was refused.', 'Mail to ana@example.org was refused.'],
  ];
  for (const [raw, shown] of cases) {
    const { message, details } = plainError(new Error(raw));
    assert.equal(message, shown);
    assert.equal(details, shown === raw ? '' : raw);
  }
  assert.equal(plainError({}).message, 'Something went wrong and Quillpost gave no reason.');
});
