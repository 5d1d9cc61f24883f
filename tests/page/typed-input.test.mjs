import { test } from 'node:test';
import assert from 'node:assert/strict';
import { parseDay, parseTime, formatDay, addDays } from '../../resources/app/js/dates.js';
import {
  parseCsv, guessMapping, previewImport, importable, updates, applyUpdates, samePerson, toCsv,
} from '../../resources/app/js/csv.js';
import { addClient } from '../../resources/app/js/clients-model.js';
import { weekCounts, filterDeadlines } from '../../resources/app/js/practice-model.js';
import { placePanel, tourFor, tourToOffer } from '../../resources/app/js/tours.js';
import { ROUTES } from '../../resources/app/js/routes.js';
import { plainError } from '../../resources/app/js/format.js';

test('a time is read from the ways people type it, and nonsense is refused', () => {
  const cases = [
    ['1430', '14:30'], ['14:30', '14:30'], ['930', '09:30'], ['0930', '09:30'], ['9', '09:00'], ['14.30', '14:30'],
    ['14h30', '14:30'], ['2:30 pm', '14:30'], ['2pm', '14:00'], ['12 am', '00:00'], ['12pm', '12:00'], [' 7:05 ', '07:05'],
    ['2400', null], ['1260', null], ['13pm', null], ['0am', null], ['12345', null], ['half past two', null], ['', null], ['14:3', null],
  ];
  assert.deepEqual(cases.map(([typed]) => [typed, parseTime(typed)]), cases);
});

test('a day is read from its shown form or ISO, never guessed from an all-number order, and reads back as shown', () => {
  const cases = [
    ['7 Dec 2026', '2026-12-07'], ['7 December 2026', '2026-12-07'], ['07 dec. 2026', '2026-12-07'], ['Dec 7, 2026', '2026-12-07'],
    ['2026-12-07', '2026-12-07'], ['2026/2/3', '2026-02-03'], ['29 Feb 2028', '2028-02-29'], ['1st Sept 2026', '2026-09-01'],
    ['29 Feb 2026', null], ['31 Apr 2026', null], ['07/12/2026', null], ['12/07/2026', null], ['7 De 2026', null],
    ['2026-13-01', null], ['7 Dec', null], ['', null],
  ];
  assert.deepEqual(cases.map(([typed]) => [typed, parseDay(typed)]), cases);
  const shown = [undefined, 'long', 'full'].map((style) => formatDay('2026-12-07', undefined, style));
  assert.deepEqual(shown, ['7 Dec 2026', '7 December 2026', 'Monday 7 December 2026']);
  for (let day = '2026-01-01'; day < '2027-01-01'; day = addDays(day, 13)) assert.equal(parseDay(formatDay(day)), day);
  assert.equal(formatDay('not a day'), 'not a day');
});

test('quotes, doubled quotes, line breaks inside values, CRLF, a BOM and semicolons are read; lists are written back safely', () => {
  const { rows } = parseCsv('\ufeffName;Notes\r\n"Souza; Ana";"said ""hi""\nthen left"\r\n\r\nBen;\n');
  assert.deepEqual(rows, [['Name', 'Notes'], ['Souza; Ana', 'said "hi"\nthen left'], ['Ben', '']]);
  assert.match(`${parseCsv('a,b\n"open,quote\n').error} | ${parseCsv('\n \n').error}`, /cut short.* \| .*no rows/);
  // A spreadsheet reads the list back and never runs a formula.
  const csv = toCsv(['Name', 'Notes'], [['=HYPERLINK("x")', 'a "b", c\nd'], ['-1', null]]);
  assert.equal(csv, 'Name,Notes\r\n"\'=HYPERLINK(""x"")","a ""b"", c\nd"\r\n\'-1,\r\n');
  assert.deepEqual(parseCsv(csv).rows[1], ['\'=HYPERLINK("x")', 'a "b", c\nd']);
});

test('the same person is the same file number, or the same name with the same e-mail or phone', () => {
  const ana = { name: 'Ana Souza', email: 'ana@example.org', phone: '555 010 2000', fileNumber: '' };
  const cases = [
    [{ name: 'ana  souza', email: 'ANA@example.org' }, true], [{ name: 'Ana Souza', phone: '555-010-2000' }, true],
    [{ name: 'Ana Souza', email: 'other@example.org', phone: '555 999 0000' }, false],
    [{ name: 'Bea Souza', email: 'ana@example.org' }, false], // a family's shared address
    [{ name: 'Someone Else', fileNumber: 'F-17' }, false], [{ name: 'Ana Souza' }, true],
  ];
  for (const [row, expected] of cases) assert.equal(samePerson(ana, row), expected, JSON.stringify(row));
  assert.equal(samePerson({ name: 'R P', fileNumber: 'f-17' }, { name: 'Raj Patel', fileNumber: 'F-17' }), true);
});

test('columns are guessed; bad rows are reported; known clients get only what the file adds; new ones come in once', () => {
  const doc = { clients: [] };
  const ana = addClient(doc, { name: 'Ana Souza', email: 'ana@example.org', phone: '(555) 010-2000', notes: 'Kept' });
  const raj = addClient(doc, { name: 'Raj Patel', fileNumber: 'F-17' });
  const { rows } = parseCsv([
    'Full Name,E-mail,Phone,Stage,Comments,File number',
    'Ana Souza,ana@example.org,,,,', 'Someone,,,,new notes,F-17', 'Ben Ode,ben@example.org,555,Active,,',
    ',nobody@example.org,,,no name,', 'Cy Tan,not-an-email,,,,', 'Di Lu,,,Sleeping,,', 'Ben Ode,ben@example.org,,,twice,',
    'Eve Ng,,,,,,extra', 'Bea Souza,ana@example.org,,,,',
  ].join('\n'));
  const mapping = guessMapping(rows[0]);
  assert.deepEqual(mapping, ['name', 'email', 'phone', 'status', 'notes', 'fileNumber']);
  const preview = previewImport(rows, mapping, doc);
  assert.deepEqual(preview.map((r) => [r.line, r.existing, r.duplicate]).filter(([, existing, dup]) => existing || dup),
    [[2, ana.id, false], [3, raj.id, false], [8, null, true]]);
  const problems = preview.map((r) => r.problems.join());
  [/^$/, /^$/, /^$/, /name/, /email/, /Sleeping/, /^$/, /7 values/, /^$/].forEach((p, i) => assert.match(problems[i], p, `line ${i + 2}`));
  assert.deepEqual([preview[2].input.status, importable(preview).map((c) => c.name)], ['active', ['Ben Ode', 'Bea Souza']]);

  // Ana's row says nothing new; the F-17 row renames Raj and adds notes; empty cells clear nothing.
  const changes = updates(preview, doc);
  assert.deepEqual(changes, [{ id: raj.id, changes: { name: 'Someone', notes: 'new notes' } }]);
  applyUpdates(doc, changes, new Date('2026-12-07T10:00:00Z'));
  assert.deepEqual([raj.fileNumber, raj.updatedAt, ana.notes], ['F-17', '2026-12-07T10:00:00.000Z', 'Kept']);
  for (const c of importable(preview)) addClient(doc, c);
  assert.deepEqual(importable(previewImport(rows, mapping, doc)), [], 'previewing the file again finds nothing new');
});

test('the dashboard counts overdue and due-this-week from the same deadlines its "week" list shows', () => {
  const day = '2026-12-07';
  const deadlines = [-3, -1, 0, 1, 6, 7, 8, 30].map((n, i) => ({ id: `d${i}`, due: addDays(day, n), title: `t${i}` }))
    .concat([{ id: 'done', due: day, done: true }, { id: 'undated', due: '' }]);
  const listed = (show) => filterDeadlines(deadlines, { show, day }).length;
  const week = filterDeadlines(deadlines, { show: 'week', day });
  assert.deepEqual(weekCounts(week, day), { overdue: listed('overdue'), soon: 4, week: listed('week') });
  assert.deepEqual([listed('overdue'), listed('week')], [2, 6]);
});

test('every screen has a tour, which starts by itself once, on its own screen only, never over an item', () => {
  for (const route of ROUTES) assert.ok(tourFor(route.path), route.path);
  const subScreens = ['settings/security', 'pdf/formcopy', 'client', 'invoice', 'import'];
  assert.deepEqual(subScreens.map(tourFor), ['settings', 'pdf', 'clients', 'billing', 'clients']);
  const seen = new Set(['billing']);
  const paths = ['dashboard', 'pdf', 'settings', 'billing', 'client', 'file', 'invoice', 'settings/security', 'pdf/formcopy', 'nowhere'];
  assert.deepEqual(paths.map((path) => tourToOffer(path, (n) => seen.has(n))),
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
    const inside = p.left >= 0 && p.top >= 0 && p.left + size.width <= viewport.width && p.top + size.height <= viewport.height;
    assert.ok(inside && !overlaps(p, target) && avoid.every((r) => !overlaps(p, r)), `${what}: ${JSON.stringify(p)}`);
  }
});

test('an error reads without server names, addresses or library codes, which stay in its details', () => {
  const cases = [
    ["Couldn't reach https://relay.quillpost.example.com/v1/links (curl error 7).", "Couldn't reach the server."],
    ['Host relay.example.com:443 refused the connection [errno 111]', 'Host the server refused the connection'],
    ['No answer from 192.168.1.20:8443 in time.', 'No answer from the server in time.'],
    // Neither a file name nor an e-mail address is a server.
    ['The data.json.bak copy is damaged.', 'The data.json.bak copy is damaged.'],
    ['Mail to ana@example.org was refused.', 'Mail to ana@example.org was refused.'],
  ];
  for (const [raw, shown] of cases) assert.deepEqual(plainError(new Error(raw)), { message: shown, details: shown === raw ? '' : raw });
  assert.match(plainError({}).message, /no reason/);
});
