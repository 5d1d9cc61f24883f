// One client ("#/client/<id>"): details, the log of calls, e-mails and meetings, and their
// files, deadlines and invoices.

import { h, button, pageHeader, card, toast, showError } from '../ui.js';
import { icon } from '../icons.js';
import { text, statusLabel } from '../clients-model.js';
import {
  indexOf, programmeLabel, fileStatusLabel, fileTitle, CONTACT_KINDS, contactKindLabel, addContact, cleanContact, removeFrom,
} from '../practice-model.js';
import { formatMoney, invoiceTotals, invoiceState, billingSettings } from '../billing-model.js';
import { today, formatDay } from '../dates.js';
import { hrefFor, itemHref } from '../routes.js';
import { formDialog } from './form-kit.js';
import { deadlineItem, openDeadlineForm } from './deadline-parts.js';
import { openFileForm } from './files.js';
import { openClientForm } from './client-form.js';
import { openClientDocuments } from './client-documents.js';

export function openContactForm(host, app, clientId, onSaved) {
  const index = indexOf(app.data, app.revision);
  const clients = index.clients.map((c) => ({ value: c.id, label: text(c.name) || 'Unnamed client' })).sort((a, b) => a.label.localeCompare(b.label));
  return formDialog(host, {
    id: 'contact-form', title: 'Log a contact', submitLabel: 'Add to log',
    fields: [
      { name: 'clientId', label: 'Client', type: 'select', options: [{ value: '', label: 'Choose a client' }, ...clients], value: clientId, focus: !clientId },
      { name: 'kind', label: 'Kind', type: 'select', options: CONTACT_KINDS, value: 'call', focus: !!clientId },
      { name: 'date', label: 'Date', type: 'date', value: today() },
      { name: 'summary', label: 'What was said or agreed', type: 'textarea', wide: true, required: true },
    ],
    onSubmit(values) {
      const input = cleanContact(values);
      const errors = {};
      if (!index.client.has(input.clientId)) errors.clientId = 'Choose the client.';
      if (!input.summary) errors.summary = 'Write a line about the contact.';
      if (Object.keys(errors).length) return errors;
      app.undoable({ label: 'the log entry', touches: ['contacts'], message: `${contactKindLabel(input.kind)} logged.` }, (doc) => addContact(doc, input));
      onSaved?.();
      return null;
    },
  });
}

export function render(root, { app, bridge, route, navigate }) {
  const draw = () => {
    root.replaceChildren();
    show();
  };

  function show() {
    root.append(h('a', { class: 'back-link', href: hrefFor('clients') }, icon('back', 16), h('span', { text: 'Clients' })));
    const index = indexOf(app.data, app.revision);
    const client = index.client.get(route.id);
    if (!client) {
      root.append(pageHeader('Client not found'), card(null, h('p', { id: 'client-missing', text: 'This client is not in your data.' })));
      return;
    }
    const name = text(client.name) || 'Unnamed client';
    root.dataset.clientId = client.id;
    root.append(pageHeader(name, [text(client.fileNumber), client.status ? statusLabel(client.status) : ''].filter(Boolean).join(' · '),
      button('Documents', { iconName: 'document', id: 'client-documents', onClick: () => openClientDocuments(root, { app, bridge, client, onEdit: app.editable ? edit : null }) }),
      button('Edit', { iconName: 'edit', id: 'client-edit', disabled: !app.editable, onClick: edit })));

    root.append(h('div', { class: 'grid-2' },
      card('Details', h('dl', { class: 'facts', id: 'client-facts' },
        fact('Email', client.email ? h('a', { href: `mailto:${client.email}`, text: client.email }) : '—'),
        fact('Phone', text(client.phone) || '—'),
        fact('File number', text(client.fileNumber) || '—'),
        fact('Notes', text(client.notes) || '—'))),
      contactsCard(index, client)));

    const files = index.filesByClient.get(client.id) ?? [];
    root.append(card('Files',
      files.length ? h('ul', { class: 'simple-list', id: 'client-files' }, files.map((f) => h('li', {},
        h('a', { href: itemHref('file', f.id), text: fileTitle(index, f) }),
        h('span', { class: `status-pill file-${f.status}`, text: fileStatusLabel(f.status) }),
        h('span', { class: 'muted', text: `opened ${formatDay(f.opened)}` }))))
        : h('p', { class: 'muted', text: 'No files yet.' }),
      h('div', { class: 'row-actions' }, button('New file', { kind: 'small', iconName: 'plus', id: 'client-file-add', disabled: !app.editable,
        onClick: () => openFileForm(root, app, { clientId: client.id, onSaved: (f) => navigate(`file/${f.id}`) }) }))));

    const deadlines = (index.deadlinesByClient.get(client.id) ?? []).slice().sort((a, b) => Number(a.done) - Number(b.done) || text(a.due).localeCompare(text(b.due)));
    root.append(card('Deadlines',
      deadlines.length ? h('ul', { class: 'deadline-list', id: 'client-deadlines' }, deadlines.slice(0, 30).map((d) => deadlineItem(app, d, { onChange: draw, showClient: false, host: root })))
        : h('p', { class: 'muted', text: 'No deadlines.' }),
      h('div', { class: 'row-actions' }, button('Add deadline', { kind: 'small', iconName: 'plus', id: 'client-deadline-add', disabled: !app.editable,
        onClick: () => openDeadlineForm(root, app, { clientId: client.id, fileId: files.length === 1 ? files[0].id : '', onSaved: draw }) }))));

    const invoices = index.invoicesByClient.get(client.id) ?? [];
    const currency = billingSettings(app.data).currency;
    root.append(card('Invoices', invoices.length
      ? h('ul', { class: 'simple-list', id: 'client-invoices' }, invoices.map((inv) => {
        const state = invoiceState(inv, today());
        return h('li', {}, h('a', { href: itemHref('invoice', inv.id), text: text(inv.number) }),
          h('span', { class: 'muted', text: formatDay(inv.issued) }),
          h('span', { class: 'num', text: formatMoney(invoiceTotals(inv).due, inv.currency || currency) }),
          h('span', { class: `status-pill invoice-${state}`, text: state === 'paid' ? 'Paid' : state === 'overdue' ? 'Overdue' : 'Unpaid' }));
      }))
      : h('p', { class: 'muted', text: 'No invoices.' })));

    function edit() {
      openClientForm(root, { app, bridge, client, onSaved: () => { draw(); toast(`Saved changes to ${client.name}.`); } });
    }
  }

  function contactsCard(index, client) {
    const log = (index.contactsByClient.get(client.id) ?? []).slice().sort((a, b) => text(b.date).localeCompare(text(a.date)));
    return card('Contact log',
      log.length ? h('ul', { class: 'contact-log', id: 'contact-log' }, log.map((c) => h('li', { dataset: { contactId: c.id } },
        h('span', { class: `contact-kind kind-${c.kind}`, text: contactKindLabel(c.kind) }),
        h('div', { class: 'contact-text' }, h('span', { class: 'muted', text: formatDay(c.date) }), h('p', { class: 'prewrap', text: text(c.summary) })),
        h('button', { type: 'button', class: 'button small quiet-danger', text: 'Remove', disabled: !app.editable, 'aria-label': `Remove the ${contactKindLabel(c.kind).toLowerCase()} of ${formatDay(c.date)}`,
          onClick: () => {
            try {
              app.undoable({ label: 'removing the log entry', touches: ['contacts'], message: `Removed the ${contactKindLabel(c.kind).toLowerCase()} of ${formatDay(c.date)}.` },
                (doc) => removeFrom(doc, 'contacts', c.id));
              draw();
            } catch (error) {
              showError(error);
            }
          } }))))
        : h('p', { class: 'muted', text: 'No calls, e-mails or meetings logged yet.' }),
      h('div', { class: 'row-actions' }, button('Log a contact', { kind: 'small', iconName: 'plus', id: 'contact-add', disabled: !app.editable,
        onClick: () => openContactForm(root, app, client.id, draw) })));
  }

  show();
  return () => {
    delete root.dataset.clientId;
    root.querySelectorAll('dialog[open]').forEach((d) => d.close());
  };
}

function fact(label, value) {
  return h('div', { class: 'fact' }, h('dt', { text: label }), h('dd', {}, value));
}
