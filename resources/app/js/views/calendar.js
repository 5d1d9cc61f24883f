// Calendar: deadlines and appointments by month or week, and adding an appointment.

import { h, button, pageHeader, showError } from '../ui.js';
import { text } from '../clients-model.js';
import { indexOf, clientName, deadlineKindLabel, deadlineState, cleanAppointment, validateAppointment, addAppointment, updateAppointment, removeFrom, fileTitle } from '../practice-model.js';
import { today, toDate, addDays, monthGrid, weekDays, formatDay } from '../dates.js';
import { itemHref } from '../routes.js';
import { formDialog, selectOptions } from './form-kit.js';

let state = { mode: 'month', focus: null };

export function render(root, { app, intent }) {
  const day = today();
  if (!state.focus) state.focus = day;
  const title = h('h2', { class: 'calendar-title', id: 'calendar-title', 'aria-live': 'polite' });
  const modeButtons = ['month', 'week'].map((mode) => h('button', {
    type: 'button', class: 'button small segment', id: `calendar-${mode}`, text: mode === 'month' ? 'Month' : 'Week',
    'aria-pressed': String(state.mode === mode), onClick: () => { state.mode = mode; draw(); },
  }));
  const grid = h('div', { id: 'calendar-grid' });
  root.append(
    pageHeader('Calendar', '', button('Add appointment', { kind: 'primary', iconName: 'plus', id: 'appointment-add', disabled: !app.editable, onClick: () => addFor(state.focus) })),
    h('div', { class: 'calendar-bar' },
      button('Previous', { kind: 'small', id: 'calendar-prev', 'aria-label': 'Previous', onClick: () => move(-1) }),
      button('Today', { kind: 'small', id: 'calendar-today', onClick: () => { state.focus = today(); draw(); } }),
      button('Next', { kind: 'small', id: 'calendar-next', 'aria-label': 'Next', onClick: () => move(1) }),
      title,
      h('div', { class: 'segments', role: 'group', 'aria-label': 'View' }, modeButtons)),
    grid);

  function move(step) {
    if (state.mode === 'week') state.focus = addDays(state.focus, 7 * step);
    else {
      const d = toDate(state.focus);
      const first = new Date(d.getFullYear(), d.getMonth() + step, 1);
      state.focus = `${first.getFullYear()}-${String(first.getMonth() + 1).padStart(2, '0')}-01`;
    }
    draw();
  }

  function eventsByDay(days) {
    const index = indexOf(app.data, app.revision);
    const from = days[0];
    const to = days[days.length - 1];
    const map = new Map(days.map((d) => [d, []]));
    for (const d of index.deadlines) {
      if (d.due >= from && d.due <= to) map.get(d.due)?.push({ kind: 'deadline', item: d, sort: '~', label: text(d.title) || deadlineKindLabel(d.kind), who: d.clientId ? clientName(index, d.clientId) : '', state: deadlineState(d, day) });
    }
    for (const a of index.appointments) {
      if (a.date >= from && a.date <= to) map.get(a.date)?.push({ kind: 'appointment', item: a, sort: a.time || '~', label: `${a.time ? `${a.time} ` : ''}${text(a.title)}`, who: a.clientId ? clientName(index, a.clientId) : '' });
    }
    for (const list of map.values()) list.sort((x, y) => x.sort.localeCompare(y.sort));
    return map;
  }

  function chip(ev) {
    const label = `${ev.kind === 'deadline' ? 'Deadline' : 'Appointment'}: ${ev.label}${ev.who ? `, ${ev.who}` : ''}`;
    const content = [h('span', { class: 'chip-label', text: ev.label }), ev.who && state.mode === 'week' ? h('span', { class: 'chip-who', text: ev.who }) : null];
    const cls = `chip chip-${ev.kind}${ev.state ? ` due-${ev.state}` : ''}`;
    if (ev.kind === 'deadline') return h('a', { class: cls, href: itemHref('deadline', ev.item.id), title: label, 'aria-label': label }, content);
    // An appointment opens its editor.
    const el = h('button', { type: 'button', class: cls, title: label, 'aria-label': `${label}: edit`, dataset: { appointmentId: ev.item.id },
      onClick: () => openAppointment(ev.item) }, content);
    if (app.editable && state.mode === 'week') {
      return h('div', { class: 'chip-row' }, el, h('button', {
        type: 'button', class: 'chip-remove', 'aria-label': `Remove ${label}`, text: '×',
        onClick: () => removeAppointment(ev.item),
      }));
    }
    return el;
  }

  function removeAppointment(item) {
    try {
      app.undoable({ label: `removing “${text(item.title)}”`, touches: ['appointments'], message: `Removed “${text(item.title)}” on ${formatDay(item.date)}.` },
        (doc) => removeFrom(doc, 'appointments', item.id));
      draw();
    } catch (error) {
      showError(error);
    }
  }

  function draw() {
    modeButtons.forEach((b) => b.setAttribute('aria-pressed', String(b.id === `calendar-${state.mode}`)));
    const focus = toDate(state.focus);
    if (state.mode === 'month') {
      title.textContent = focus.toLocaleDateString(undefined, { month: 'long', year: 'numeric' });
      const days = monthGrid(focus.getFullYear(), focus.getMonth());
      const events = eventsByDay(days);
      const names = days.slice(0, 7).map((d) => toDate(d).toLocaleDateString(undefined, { weekday: 'short' }));
      grid.replaceChildren(h('div', { class: 'month', role: 'grid', 'aria-labelledby': 'calendar-title' },
        h('div', { class: 'month-row month-head', role: 'row' }, names.map((n) => h('div', { role: 'columnheader', class: 'month-dow', text: n }))),
        Array.from({ length: 6 }, (_, w) => h('div', { class: 'month-row', role: 'row' }, days.slice(w * 7, w * 7 + 7).map((d) => {
          const list = events.get(d);
          const outside = toDate(d).getMonth() !== focus.getMonth();
          return h('div', { role: 'gridcell', class: `month-cell${outside ? ' outside' : ''}${d === day ? ' is-today' : ''}`, dataset: { day: d } },
            h('button', { type: 'button', class: 'day-number', text: String(toDate(d).getDate()), 'aria-label': `${formatDay(d, undefined, 'full')}: ${list.length ? `${list.length} items; ` : ''}show the week`,
              onClick: () => { state = { mode: 'week', focus: d }; draw(); } }),
            list.slice(0, 3).map(chip),
            list.length > 3 ? h('span', { class: 'chip-more muted', text: `+${list.length - 3} more` }) : null);
        })))));
    } else {
      const days = weekDays(state.focus);
      title.textContent = `${formatDay(days[0])} – ${formatDay(days[6])}`;
      const events = eventsByDay(days);
      grid.replaceChildren(h('div', { class: 'week' }, days.map((d) => h('section', { class: `week-day${d === day ? ' is-today' : ''}`, dataset: { day: d }, 'aria-label': formatDay(d, undefined, 'full') },
        h('h3', { class: 'week-day-title', text: toDate(d).toLocaleDateString(undefined, { weekday: 'long', day: 'numeric', month: 'short' }) }),
        h('div', { class: 'week-events' }, events.get(d).length ? events.get(d).map(chip) : h('p', { class: 'muted small', text: 'Nothing' })),
        app.editable ? h('button', { type: 'button', class: 'link-button small', text: 'Add', 'aria-label': `Add an appointment on ${formatDay(d, undefined, 'full')}`, onClick: () => addFor(d) }) : null))));
    }
  }

  function addFor(date) {
    openAppointment(null, date);
  }

  // The form for a new appointment (on `date`) or for changing one.
  function openAppointment(item, date = '') {
    const index = indexOf(app.data, app.revision);
    const clients = index.clients.map((c) => ({ value: c.id, label: text(c.name) || 'Unnamed client' })).sort((a, b) => a.label.localeCompare(b.label));
    const files = index.files.map((f) => ({ value: f.id, label: `${clientName(index, f.clientId)} – ${fileTitle(index, f)}` })).sort((a, b) => a.label.localeCompare(b.label));
    const current = item ?? { date, time: '10:00', minutes: 30, clientId: intent?.clientId ?? '' };
    const editable = app.editable;
    const form = formDialog(root, {
      id: 'appointment-form', title: item ? 'Appointment' : 'New appointment', submitLabel: item ? 'Save changes' : 'Add appointment',
      fields: [
        { name: 'title', label: 'Title', wide: true, required: true, focus: true, value: text(current.title) },
        { name: 'date', label: 'Date', type: 'date', value: text(current.date), required: true },
        { name: 'time', label: 'Time', type: 'time', value: text(current.time) },
        { name: 'minutes', label: 'Minutes', type: 'number', value: String(current.minutes ?? ''), attrs: { min: '0', step: '15' } },
        { name: 'clientId', label: 'Client', type: 'select', options: selectOptions(clients, 'No client'), value: text(current.clientId) },
        { name: 'fileId', label: 'File', type: 'select', options: selectOptions(files, 'No file'), value: text(current.fileId), wide: true },
        { name: 'place', label: 'Place', wide: true, value: text(current.place) },
        { name: 'notes', label: 'Notes', type: 'textarea', wide: true, value: text(current.notes) },
      ],
      extra: item && editable ? h('div', { class: 'row-actions' },
        button('Remove appointment', { kind: 'small quiet-danger', iconName: 'trash', id: 'appointment-remove', onClick: () => { form.close(); removeAppointment(item); } })) : null,
      onSubmit(values) {
        if (!app.editable) return { title: app.lock ? app.lock.message : 'Your data is still loading.' };
        const input = cleanAppointment(values);
        if (input.fileId) input.clientId = index.file.get(input.fileId)?.clientId ?? input.clientId;
        const errors = validateAppointment(input);
        if (Object.keys(errors).length) return errors;
        const message = item ? `Saved “${input.title}”.` : `Added “${input.title}” on ${formatDay(input.date)}.`;
        app.undoable({ label: item ? `changes to “${input.title}”` : `adding “${input.title}”`, touches: ['appointments'], message },
          (doc) => (item ? updateAppointment(doc, item.id, input) : addAppointment(doc, input)));
        state.focus = input.date;
        draw();
        return null;
      },
    });
    return form;
  }

  draw();
  if (intent?.action === 'add' && app.editable) addFor(state.focus);
  return () => root.querySelectorAll('dialog[open]').forEach((d) => d.close());
}
