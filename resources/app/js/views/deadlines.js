// Deadlines: every due date of the practice, what is overdue first, filtered by state, kind and client.

import { h, button, pageHeader } from '../ui.js';
import { icon } from '../icons.js';
import { printActions } from '../print-actions.js';
import { indexOf, filterDeadlines, DEADLINE_KINDS } from '../practice-model.js';
import { today } from '../dates.js';
import { plural } from '../format.js';
import { pagedList, selectOptions } from './form-kit.js';
import { openDeadlineForm, deadlineItem } from './deadline-parts.js';

const SHOWS = [
  { value: 'open', label: 'Open' },
  { value: 'overdue', label: 'Overdue' },
  { value: 'week', label: 'Overdue and next 7 days' },
  { value: 'done', label: 'Done' },
  { value: 'all', label: 'All' },
];

let remembered = { show: 'open', kind: '' };

export function render(root, { app, bridge, route, intent }) {
  const show = h('select', { id: 'deadline-show', 'aria-label': 'Show' }, SHOWS.map((s) => h('option', { value: s.value, text: s.label, selected: s.value === remembered.show })));
  const kind = h('select', { id: 'deadline-kind', 'aria-label': 'Kind' }, selectOptions(DEADLINE_KINDS, 'Every kind').map((s) => h('option', { value: s.value, text: s.label, selected: s.value === remembered.kind })));
  const add = button('Add deadline', { kind: 'primary', iconName: 'plus', id: 'deadline-add', disabled: !app.editable, onClick: () => openDeadlineForm(root, app, { onSaved: draw }) });
  const summary = h('p', { class: 'page-subtitle', id: 'deadline-count' });
  const list = h('div', { id: 'deadline-list', class: 'card list-card' });
  const header = pageHeader('Deadlines');
  header.querySelector('.page-heading').append(summary);
  header.append(h('div', { class: 'page-actions' }, h('label', { class: 'inline-field' }, h('span', { text: 'Show' }), show), kind, ...printActions(bridge, 'Deadlines.pdf'), add));
  root.append(header, list);

  for (const control of [show, kind]) {
    control.addEventListener('change', () => {
      remembered = { show: show.value, kind: kind.value };
      draw();
    });
  }

  function draw() {
    const index = indexOf(app.data, app.revision);
    const day = today();
    const overdue = filterDeadlines(index.deadlines, { show: 'overdue', day }).length;
    const shown = filterDeadlines(index.deadlines, { show: show.value, kind: kind.value, day });
    summary.textContent = `${plural(shown.length, 'deadline', 'deadlines')} shown · ${overdue} overdue`;
    if (shown.length === 0) {
      list.replaceChildren(h('div', { class: 'empty', id: 'deadline-empty' }, icon('flag', 32),
        h('p', { text: index.deadlines.length ? 'No deadlines match these filters.' : 'No deadlines yet. Add one here or from a file.' })));
      return;
    }
    pagedList(list, shown, (d) => deadlineItem(app, d, { onChange: draw, host: root }), {
      label: 'deadlines', wrap: (rows) => h('ul', { class: 'deadline-list' }, rows),
    });
  }
  draw();

  // "#/deadline/<id>", where a reminder's click lands: that deadline, shown and ready to edit.
  if (route.id) {
    const index = indexOf(app.data, app.revision);
    const d = index.deadline.get(route.id);
    if (!d) {
      list.prepend(h('p', { class: 'notice notice-warning', role: 'alert', text: 'That deadline is no longer in your data.' }));
    } else {
      let row = list.querySelector(`[data-deadline-id="${CSS.escape(d.id)}"]`);
      if (!row) {
        show.value = 'all';
        kind.value = '';
        list.replaceChildren(h('ul', { class: 'deadline-list' }, deadlineItem(app, d, { onChange: draw, host: root })));
        row = list.querySelector('li');
      }
      row.classList.add('highlight');
      row.scrollIntoView({ block: 'center' });
      row.querySelector('.done-box')?.focus();
    }
  }
  if (intent?.action === 'add' && app.editable) openDeadlineForm(root, app, { onSaved: draw });
  return () => root.querySelectorAll('dialog[open]').forEach((d) => d.close());
}
