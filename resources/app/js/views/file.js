// One file ("#/file/<id>", where quillpost://file/<id> links land): its stages, deadlines,
// time and fees, and invoices.

import { h, button, pageHeader, card, toast, confirmDialog, showError } from '../ui.js';
import { icon } from '../icons.js';
import { printActions } from '../print-actions.js';
import { text } from '../clients-model.js';
import { indexOf, programmeLabel, fileStatusLabel, clientName, fileTitle, removeFile, removalBlockers, FILE_STATUSES } from '../practice-model.js';
import {
  ENTRY_KINDS, entryKindLabel, formatHours, entryAmount, formatMoney, billingSettings, validateEntry, addEntry,
  retainerBalance, unbilledEntries, createInvoice, invoiceTotals, invoiceState, entryLock, updateEntry, removeEntry,
} from '../billing-model.js';
import { today, formatDay, isDay } from '../dates.js';
import { hrefFor, itemHref } from '../routes.js';
import { formDialog, readTyped, typedError, typedPlaceholder } from './form-kit.js';
import { openDeadlineForm, deadlineItem } from './deadline-parts.js';
import { openFileForm } from './files.js';

export function render(root, { app, bridge, route, navigate }) {
  const draw = () => {
    root.replaceChildren();
    show();
  };

  function show() {
    const index = indexOf(app.data, app.revision);
    const file = index.file.get(route.id);
    root.append(h('a', { class: 'back-link', href: hrefFor('files') }, icon('back', 16), h('span', { text: 'Files' })));
    if (!file) {
      root.append(pageHeader('File not found'), card(null, h('p', { id: 'file-missing', text: 'This file is not in your data. It may have been removed, or the link points to another practice.' })));
      return;
    }
    const money = (cents) => formatMoney(cents, billingSettings(app.data).currency);
    const who = clientName(index, file.clientId);
    const status = h('select', { id: 'file-status', disabled: !app.editable, 'aria-label': 'File status' },
      FILE_STATUSES.map((s) => h('option', { value: s.value, text: s.label, selected: s.value === file.status })));
    status.addEventListener('change', () => {
      try {
        app.undoable({ label: 'the status change', touches: ['files'], message: `The file is now “${fileStatusLabel(status.value)}”.` },
          () => { file.status = status.value; file.updatedAt = new Date().toISOString(); });
      } catch (error) {
        showError(error);
      }
    });
    const header = pageHeader(fileTitle(index, file), '',
      h('label', { class: 'inline-field' }, h('span', { text: 'Status' }), status),
      ...printActions(bridge, `${who} – ${programmeLabel(file.programme)}.pdf`),
      button('Edit', { iconName: 'edit', id: 'file-edit', disabled: !app.editable, onClick: () => openFileForm(root, app, { file, onSaved: draw }) }),
      button('Remove', { kind: 'quiet-danger', iconName: 'trash', id: 'file-remove', disabled: !app.editable, onClick: remove }));
    header.querySelector('.page-heading').append(h('p', { class: 'page-subtitle' },
      h('a', { href: itemHref('client', file.clientId), id: 'file-client', text: who }),
      ` · opened ${formatDay(file.opened)}`));
    root.append(header);
    root.dataset.fileId = file.id;

    // Stages: each date is set in place.
    const stages = Array.isArray(file.stages) ? file.stages : [];
    const stageList = h('ol', { class: 'stages', id: 'file-stages' }, stages.map((stage, i) => {
      // Typed like every date of the page: an empty stage reads empty, not as today.
      const input = h('input', { type: 'text', class: 'typed-date', id: `stage-${i}`, placeholder: typedPlaceholder('date'), autocomplete: 'off',
        value: isDay(stage.date) ? formatDay(stage.date) : '', disabled: !app.editable });
      input.addEventListener('input', () => input.removeAttribute('aria-invalid'));
      input.addEventListener('change', () => {
        const day = readTyped('date', input.value);
        if (day === null) {
          input.setAttribute('aria-invalid', 'true');
          showError(new Error(typedError('date')));
          return;
        }
        input.value = day ? formatDay(day) : '';
        try {
          app.undoable({ label: `the date of “${text(stage.name)}”`, touches: ['files'] }, () => { stage.date = day; file.updatedAt = new Date().toISOString(); });
          li.classList.toggle('stage-done', !!stage.date);
        } catch (error) {
          showError(error);
        }
      });
      const li = h('li', { class: `stage${stage.date ? ' stage-done' : ''}` },
        h('label', { for: `stage-${i}`, class: 'stage-name', text: text(stage.name) }), input);
      return li;
    }));
    const addStage = button('Add stage', {
      kind: 'small', iconName: 'plus', id: 'stage-add', disabled: !app.editable,
      onClick: () => formDialog(root, {
        id: 'stage-form', title: 'Add a stage', submitLabel: 'Add stage',
        fields: [{ name: 'name', label: 'Stage', required: true }, { name: 'date', label: 'Date', type: 'date' }],
        onSubmit(values) {
          if (!values.name.trim()) return { name: 'Name the stage.' };
          app.undoable({ label: 'the new stage', touches: ['files'] }, () => {
            if (!Array.isArray(file.stages)) file.stages = [];
            file.stages.push({ name: values.name.trim(), date: isDay(values.date) ? values.date : '' });
          });
          draw();
          return null;
        },
      }),
    });
    root.append(h('div', { class: 'grid-2' },
      card('Stages', stageList, h('div', { class: 'row-actions' }, addStage)),
      card('Notes', text(file.notes) ? h('p', { class: 'prewrap', text: file.notes }) : h('p', { class: 'muted', text: 'No notes.' }))));

    // Deadlines of the file.
    const deadlines = (index.deadlinesByFile.get(file.id) ?? []).slice().sort((a, b) => Number(a.done) - Number(b.done) || text(a.due).localeCompare(text(b.due)));
    root.append(card('Deadlines',
      deadlines.length
        ? h('ul', { class: 'deadline-list', id: 'file-deadlines' }, deadlines.map((d) => deadlineItem(app, d, { onChange: draw, showClient: false, host: root })))
        : h('p', { class: 'muted', text: 'No deadlines for this file.' }),
      h('div', { class: 'row-actions' }, button('Add deadline', { kind: 'small', iconName: 'plus', id: 'file-deadline-add', disabled: !app.editable,
        onClick: () => openDeadlineForm(root, app, { fileId: file.id, onSaved: draw }) }))));

    // Time, fees, disbursements and retainers.
    const entries = (index.entriesByFile.get(file.id) ?? []).slice().sort((a, b) => text(a.date).localeCompare(text(b.date)));
    const unbilled = unbilledEntries(app.data, file.id);
    const unbilledTotal = unbilled.reduce((s, e) => s + entryAmount(e), 0);
    const entryTable = entries.length
      ? h('div', { class: 'table-wrap' }, h('table', { class: 'table compact', id: 'file-entries' },
        h('caption', { class: 'visually-hidden', text: 'Time and fees' }),
        h('thead', {}, h('tr', {}, ['Date', 'Kind', 'Description', 'Amount', 'Billed', 'Actions'].map((t, i) => h('th', { scope: 'col', class: i === 3 ? 'num' : null, text: t })))),
        h('tbody', {}, entries.map((e) => {
          const lock = entryLock(app.data, e, index);
          const what = `${entryKindLabel(e.kind).toLowerCase()} of ${formatDay(e.date)}`;
          return h('tr', { dataset: { entryId: e.id } },
            h('td', { text: formatDay(e.date) }),
            h('td', { text: entryKindLabel(e.kind) }),
            h('td', { text: e.kind === 'time' ? `${text(e.description)} (${formatHours(e.hours)} h at ${money(e.rate)})` : text(e.description) }),
            h('td', { class: 'num', text: money(entryAmount(e)) }),
            h('td', {}, e.kind === 'retainer' ? h('span', { class: 'muted', text: 'In trust' })
              : e.invoiceId ? h('a', { href: itemHref('invoice', e.invoiceId), text: index.invoice.get(e.invoiceId)?.number ?? 'Invoiced' })
                : h('span', { class: 'muted', text: 'Not yet' })),
            h('td', {}, lock
              ? h('span', { class: 'muted small entry-locked', title: lock, text: e.invoiceId ? 'Locked: invoiced' : 'Locked: in use', 'aria-label': `Locked. ${lock}` })
              : h('span', { class: 'entry-actions' }, h('button', { type: 'button', class: 'button small', text: 'Edit', disabled: !app.editable, dataset: { action: 'edit' }, 'aria-label': `Edit the ${what}`,
                onClick: () => openEntryForm(root, app, file, draw, e) }),
              h('button', { type: 'button', class: 'button small quiet-danger', text: 'Remove', disabled: !app.editable, dataset: { action: 'remove' }, 'aria-label': `Remove the ${what}`,
                onClick: () => {
                  try {
                    app.undoable({ label: `removing the ${what}`, touches: ['entries'], message: `Removed the ${what}.` }, (doc) => removeEntry(doc, e.id));
                    draw();
                  } catch (error) {
                    showError(error);
                  }
                } }))));
        }))),
        entries.some((e) => e.invoiceId) ? h('p', { class: 'muted small table-note', text: 'Invoiced entries are locked: they stay as the invoice shows them. Remove the invoice to change them.' }) : null)
      : h('p', { class: 'muted', text: 'No time or fees recorded for this file.' });
    root.append(card('Time and fees',
      h('p', { class: 'muted card-intro', id: 'file-billing-summary', text: `Unbilled: ${money(unbilledTotal)} · Retainer in trust: ${money(retainerBalance(app.data, file.id))}` }),
      entryTable,
      h('div', { class: 'row-actions' },
        button('Record time or a fee', { kind: 'small', iconName: 'plus', id: 'entry-add', disabled: !app.editable, onClick: () => openEntryForm(root, app, file, draw) }),
        button('Create invoice', { kind: 'small primary', iconName: 'receipt', id: 'invoice-create', disabled: !app.editable || unbilled.length === 0,
          onClick: () => {
            try {
              const invoice = app.undoable({ label: 'the new invoice', touches: ['invoices', 'entries', 'settings'], message: 'The invoice is ready.' }, (doc) => createInvoice(doc, file));
              navigate(`invoice/${invoice.id}`);
            } catch (error) {
              showError(error);
            }
          } }))));

    const invoices = index.invoicesByFile.get(file.id) ?? [];
    if (invoices.length) {
      root.append(card('Invoices', h('ul', { class: 'simple-list', id: 'file-invoices' }, invoices.map((inv) => {
        const state = invoiceState(inv, today());
        return h('li', {}, h('a', { href: itemHref('invoice', inv.id), text: inv.number }),
          h('span', { class: 'muted', text: formatDay(inv.issued) }),
          h('span', { class: 'num', text: money(invoiceTotals(inv).due) }),
          h('span', { class: `status-pill invoice-${state}`, text: state === 'paid' ? 'Paid' : state === 'overdue' ? 'Overdue' : 'Unpaid' }));
      }))));
    }

    async function remove() {
      const blockers = removalBlockers(app.data, 'file', file.id);
      if (blockers.length) {
        await confirmDialog({ title: "This file can't be removed", message: blockers.join(' '), confirmLabel: 'OK', cancelLabel: null });
        return;
      }
      const sure = await confirmDialog({ title: 'Remove this file?', message: `The ${programmeLabel(file.programme).toLowerCase()} file of ${who}, with its deadlines, appointments and time and fees, will be removed. You can undo this for a little while.`, confirmLabel: 'Remove file', danger: true });
      if (!sure) return;
      try {
        app.undoable({ label: 'removing the file', touches: ['files', 'deadlines', 'appointments', 'entries'], message: `Removed the file of ${who}.` }, (doc) => removeFile(doc, file.id));
      } catch (error) {
        showError(error);
        return;
      }
      navigate('files');
    }
  }

  show();
  return () => {
    delete root.dataset.fileId;
    root.querySelectorAll('dialog[open]').forEach((d) => d.close());
  };
}

// Records a new entry, or changes `entry`.
export function openEntryForm(host, app, file, onSaved, entry = null) {
  const settings = billingSettings(app.data);
  const money = (cents) => (Number.isFinite(cents) ? (cents / 100).toFixed(2) : '');
  return formDialog(host, {
    id: 'entry-form', title: entry ? 'Change time or a fee' : 'Record time or a fee', submitLabel: entry ? 'Save changes' : 'Record',
    fields: [
      { name: 'kind', label: 'Kind', type: 'select', options: ENTRY_KINDS, value: entry?.kind ?? 'time', focus: true },
      { name: 'date', label: 'Date', type: 'date', value: entry?.date ?? today() },
      { name: 'description', label: 'Description', wide: true, required: true, value: text(entry?.description) },
      { name: 'hours', label: 'Hours (time only)', hint: 'Like 1.5 or 1:30', value: entry?.kind === 'time' ? formatHours(entry.hours) : '' },
      { name: 'rate', label: 'Hourly rate (time only)', value: entry?.kind === 'time' ? money(entry.rate) : (settings.hourlyRate / 100).toFixed(2) },
      { name: 'amount', label: 'Amount (fees, disbursements, retainers)', value: entry && entry.kind !== 'time' ? money(entry.amount) : '' },
    ],
    onSubmit(values) {
      const errors = validateEntry(values);
      if (Object.keys(errors).length) return errors;
      const label = entryKindLabel(values.kind);
      app.undoable({ label: entry ? `changes to the ${label.toLowerCase()}` : `the ${label.toLowerCase()}`, touches: ['entries'], message: entry ? `${label} saved.` : `${label} recorded.` },
        (doc) => (entry ? updateEntry(doc, entry.id, values) : addEntry(doc, file.id, file.clientId, values)));
      onSaved?.();
      return null;
    },
  });
}
