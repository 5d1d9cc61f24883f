// Billing: invoices (paid, unpaid, overdue), what is waiting to be billed, and the practice's
// invoice settings (numbering, tax, currency, terms).

import { h, fill, button, pageHeader, card, toast, showError } from '../ui.js';
import { icon } from '../icons.js';
import { text } from '../clients-model.js';
import { plural } from '../format.js';
import { indexOf, clientName, fileTitle, settingsOf } from '../practice-model.js';
import {
  billingSettings, formatMoney, invoiceTotals, invoiceState, unbilledEntries, entryAmount, parseMoney, entryKindLabel, formatHours,
  createInvoice, practiceIdentity, logoProblem,
} from '../billing-model.js';
import { today, formatDay } from '../dates.js';
import { itemHref } from '../routes.js';
import { formDialog, pagedList } from './form-kit.js';

const STATE_LABEL = { paid: 'Paid', unpaid: 'Unpaid', overdue: 'Overdue' };
let remembered = 'unpaid';

export function render(root, { app, navigate }) {
  const show = h('select', { id: 'invoice-show', 'aria-label': 'Show invoices' },
    [['unpaid', 'Unpaid'], ['overdue', 'Overdue'], ['paid', 'Paid'], ['all', 'All invoices']].map(([v, l]) => h('option', { value: v, text: l, selected: v === remembered })));
  const summary = h('div', { class: 'stats stats-3', id: 'billing-stats' });
  const list = h('div', { id: 'invoice-list', class: 'card table-wrap' });
  const unbilledCard = h('div', { id: 'unbilled' });
  root.append(pageHeader('Billing', 'Invoices, payments and unbilled work',
    h('label', { class: 'inline-field' }, h('span', { text: 'Show' }), show),
    button('Invoice settings', { iconName: 'gear', id: 'billing-settings', disabled: !app.editable, onClick: settings }),
    button('New invoice', { kind: 'primary', iconName: 'plus', id: 'invoice-new', disabled: !app.editable, onClick: newInvoice })),
  summary, list, unbilledCard);
  show.addEventListener('change', () => { remembered = show.value; draw(); });

  function draw() {
    const index = indexOf(app.data, app.revision);
    const day = today();
    const currency = billingSettings(app.data).currency;
    const money = (c) => formatMoney(c, currency);
    let outstanding = 0;
    let overdue = 0;
    for (const inv of index.invoices) {
      const state = invoiceState(inv, day);
      if (state !== 'paid') outstanding += invoiceTotals(inv).due;
      if (state === 'overdue') overdue += invoiceTotals(inv).due;
    }
    const waiting = index.files.map((f) => ({ f, entries: unbilledEntries(app.data, f.id) })).filter((x) => x.entries.length);
    const unbilled = waiting.reduce((s, x) => s + x.entries.reduce((t, e) => t + entryAmount(e), 0), 0);
    summary.replaceChildren(
      stat('stat-outstanding', money(outstanding), 'Outstanding'),
      stat('stat-overdue', money(overdue), 'Overdue'),
      stat('stat-unbilled', money(unbilled), 'Not yet invoiced'));

    const shown = index.invoices.filter((inv) => show.value === 'all' || invoiceState(inv, day) === show.value)
      .sort((a, b) => text(b.issued).localeCompare(text(a.issued)) || text(b.number).localeCompare(text(a.number)));
    if (!shown.length) {
      list.replaceChildren(h('div', { class: 'empty', id: 'invoice-empty' }, icon('receipt', 32),
        h('p', { text: index.invoices.length ? 'No invoices to show here.' : 'No invoices yet. Record time or fees on a file, then choose New invoice.' })));
    } else {
      pagedList(list, shown, (inv) => {
        const state = invoiceState(inv, day);
        return h('tr', { dataset: { row: '', invoiceId: inv.id } },
          h('td', {}, h('a', { class: 'row-link', href: itemHref('invoice', inv.id), text: text(inv.number) })),
          h('td', {}, h('a', { href: itemHref('client', inv.clientId), text: clientName(index, inv.clientId) })),
          h('td', { text: formatDay(inv.issued) }),
          h('td', { text: formatDay(inv.due) }),
          h('td', { class: 'num', text: money(invoiceTotals(inv).due) }),
          h('td', {}, h('span', { class: `status-pill invoice-${state}`, text: STATE_LABEL[state] })));
      }, {
        label: 'invoices',
        wrap: (rows) => h('table', { class: 'table', id: 'invoice-table' },
          h('caption', { class: 'visually-hidden', text: 'Invoices' }),
          h('thead', {}, h('tr', {}, ['Number', 'Client', 'Issued', 'Due', 'Balance', 'State'].map((t, i) => h('th', { scope: 'col', class: i === 4 ? 'num' : null, text: t })))),
          h('tbody', {}, rows)),
      });
    }
    unbilledCard.replaceChildren(card('Waiting to be invoiced', waiting.length
      ? h('ul', { class: 'simple-list', id: 'unbilled-list' }, waiting.slice(0, 50).map(({ f, entries }) => h('li', {},
        h('a', { href: itemHref('file', f.id), text: `${clientName(index, f.clientId)} – ${fileTitle(index, f)}` }),
        h('span', { class: 'muted', text: plural(entries.length, 'entry', 'entries') }),
        h('span', { class: 'num', text: money(entries.reduce((t, e) => t + entryAmount(e), 0)) }))))
      : h('p', { class: 'muted', text: 'Everything recorded has been invoiced.' })));
  }

  // Which file, and which of its unbilled entries, the new invoice bills.
  function newInvoice() {
    const index = indexOf(app.data, app.revision);
    const waiting = index.files.map((f) => ({ f, entries: unbilledEntries(app.data, f.id) })).filter((x) => x.entries.length)
      .map((x) => ({ ...x, label: `${clientName(index, x.f.clientId)} – ${fileTitle(index, x.f)}` }))
      .sort((a, b) => a.label.localeCompare(b.label));
    if (!waiting.length) {
      toast('Nothing is waiting to be invoiced. Record time or fees on a file first.');
      return;
    }
    const currency = billingSettings(app.data).currency;
    const picks = h('fieldset', { class: 'entry-picks', id: 'invoice-new-entries' });
    const form = formDialog(root, {
      id: 'invoice-new-form', title: 'New invoice', submitLabel: 'Create invoice',
      fields: [{ name: 'fileId', label: 'File', type: 'select', options: waiting.map((x) => ({ value: x.f.id, label: x.label })), value: waiting[0].f.id, wide: true, focus: true }],
      extra: picks,
      onSubmit(values) {
        const chosen = [...picks.querySelectorAll('input[type="checkbox"]:checked')].map((box) => box.value);
        if (!chosen.length) return { fileId: 'Tick at least one entry to bill.' };
        const file = index.file.get(values.fileId);
        if (!file) return { fileId: 'That file is no longer in your data.' };
        try {
          const invoice = app.undoable({ label: 'the new invoice', touches: ['invoices', 'entries', 'settings'], message: 'The invoice is ready.' },
            (doc) => createInvoice(doc, file, { entryIds: chosen }));
          navigate(`invoice/${invoice.id}`);
        } catch (error) {
          showError(error);
        }
        return null;
      },
    });
    const list = (fileId) => {
      const { entries } = waiting.find((x) => x.f.id === fileId) ?? waiting[0];
      fill(picks, h('legend', { text: 'Entries to bill' }), entries.map((e) => h('label', { class: 'check-row' },
        h('input', { type: 'checkbox', value: e.id, checked: true, name: 'entry' }),
        h('span', { text: `${formatDay(e.date)} · ${entryKindLabel(e.kind)} · ${text(e.description)}${e.kind === 'time' ? ` (${formatHours(e.hours)} h)` : ''}` }),
        h('span', { class: 'num', text: formatMoney(entryAmount(e), currency) }))));
    };
    form.controls.fileId.addEventListener('change', () => list(form.controls.fileId.value));
    list(form.controls.fileId.value);
  }

  function settings() {
    const s = billingSettings(app.data);
    const identity = practiceIdentity(app.data);
    let logo = identity.logo;
    const preview = h('img', { class: 'logo-preview', alt: 'Logo', hidden: !logo, src: logo || null });
    const logoError = h('p', { class: 'field-error', id: 'billing-form-logo-error', hidden: true });
    const chooser = h('input', { type: 'file', id: 'billing-form-logo', accept: 'image/png,image/jpeg,image/gif,image/webp' });
    const clearLogo = button('No logo', { kind: 'small', id: 'billing-form-logo-clear', onClick: () => { logo = ''; preview.hidden = true; } });
    chooser.addEventListener('change', () => {
      const chosen = chooser.files?.[0];
      if (!chosen) return;
      const reader = new FileReader();
      reader.onload = () => {
        const problem = logoProblem(String(reader.result));
        logoError.textContent = problem;
        logoError.hidden = !problem;
        if (problem) return;
        logo = String(reader.result);
        preview.src = logo;
        preview.hidden = false;
      };
      reader.onerror = () => { logoError.textContent = "Quillpost couldn't read that image."; logoError.hidden = false; };
      reader.readAsDataURL(chosen);
    });
    formDialog(root, {
      id: 'billing-form', title: 'Invoice settings',
      extra: h('div', { class: 'field wide logo-field' },
        h('label', { for: 'billing-form-logo', text: 'Logo' }), chooser,
        h('p', { class: 'field-hint muted', text: 'A PNG, JPEG, GIF or WebP image of at most 200 KB, shown at the top of every invoice.' }),
        h('div', { class: 'row-actions' }, preview, clearLogo), logoError),
      fields: [
        { name: 'practiceName', label: 'Practice name', value: identity.name, wide: true, hint: 'Shown at the top of every invoice.' },
        { name: 'address', label: 'Address', type: 'textarea', value: identity.address, wide: true },
        { name: 'licence', label: 'Licence number', value: identity.licence, hint: 'Such as your regulator\'s membership number.' },
        { name: 'taxNumber', label: 'Tax registration number', value: identity.taxNumber },
        { name: 'prefix', label: 'Number prefix', value: s.prefix, hint: 'Invoices are numbered like INV-2026-0001.' },
        { name: 'taxRate', label: 'Tax rate (%)', value: String(s.taxRate / 100), hint: 'Applies to time and fees, not disbursements.' },
        { name: 'currency', label: 'Currency', type: 'select', options: ['CAD', 'USD', 'EUR', 'GBP'].map((c) => ({ value: c, label: c })), value: s.currency },
        { name: 'termsDays', label: 'Days to pay', type: 'number', value: String(s.termsDays) },
        { name: 'hourlyRate', label: 'Usual hourly rate', value: (s.hourlyRate / 100).toFixed(2) },
      ],
      onSubmit(values) {
        const rate = Number(String(values.taxRate).replace(',', '.'));
        const hourly = parseMoney(values.hourlyRate);
        const errors = {};
        if (!Number.isFinite(rate) || rate < 0 || rate > 50) errors.taxRate = 'Enter a rate between 0 and 50.';
        if (hourly === null || hourly < 0) errors.hourlyRate = 'Enter an amount, like 200.00.';
        if (/[^A-Za-z0-9-_/ ]/.test(values.prefix)) errors.prefix = 'Use letters, digits and dashes.';
        if (values.practiceName.length > 200) errors.practiceName = 'Keep the name under 200 characters.';
        if (Object.keys(errors).length) return errors;
        const practice = { name: values.practiceName.trim(), address: values.address.trim(), licence: values.licence.trim(), taxNumber: values.taxNumber.trim(), logo };
        app.undoable({ label: 'the invoice settings', touches: ['settings'], message: 'Invoice settings saved.' }, (doc) => {
          doc.settings = { ...settingsOf(doc), practice, billing: { ...s, prefix: values.prefix.trim(), taxRate: Math.round(rate * 100), currency: values.currency, termsDays: Math.max(0, Number.parseInt(values.termsDays, 10) || 0), hourlyRate: hourly } };
        });
        draw();
        return null;
      },
    });
  }

  draw();
  return () => root.querySelectorAll('dialog[open]').forEach((d) => d.close());
}

function stat(id, value, label) {
  return h('div', { class: 'stat card', id }, h('p', { class: 'stat-value', text: value }), h('p', { class: 'stat-label', text: label }));
}
