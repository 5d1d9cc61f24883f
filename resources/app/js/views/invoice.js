// One invoice ("#/invoice/<id>"), laid out to be printed or saved as a PDF: the practice that
// issues it, the client, the lines, payments received and what is still owed. What the practice
// keeps for itself (paid or not, the buttons) stays off the sheet.

import { h, button, pageHeader, confirmDialog, showError } from '../ui.js';
import { icon } from '../icons.js';
import { printActions } from '../print-actions.js';
import { text } from '../clients-model.js';
import { indexOf, fileTitle, removalBlockers } from '../practice-model.js';
import {
  formatMoney, invoiceTotals, invoiceState, setInvoicePaid, paymentsOf, addPayment, removePayment, validatePayment,
  removeInvoice, practiceIdentity, parseMoney,
} from '../billing-model.js';
import { today, formatDay } from '../dates.js';
import { hrefFor } from '../routes.js';
import { formDialog } from './form-kit.js';

export function render(root, { app, bridge, route, navigate }) {
  function draw() {
    root.querySelectorAll('dialog[open]').forEach((d) => d.close());
    root.replaceChildren(h('a', { class: 'back-link', href: hrefFor('billing') }, icon('back', 16), h('span', { text: 'Billing' })));
    const index = indexOf(app.data, app.revision);
    const inv = index.invoice.get(route.id);
    if (!inv) {
      root.append(pageHeader('Invoice not found'), h('p', { class: 'card', id: 'invoice-missing', text: 'This invoice is not in your data.' }));
      return;
    }
    const client = index.client.get(inv.clientId);
    const file = index.file.get(inv.fileId);
    const money = (c) => formatMoney(c, inv.currency || 'CAD');
    const totals = invoiceTotals(inv);
    const state = invoiceState(inv, today());
    const payments = paymentsOf(inv);
    const practice = practiceIdentity(app.data);
    const number = text(inv.number);

    const actions = [];
    if (totals.due > 0) {
      actions.push(button('Record payment', { iconName: 'plus', id: 'invoice-payment-add', disabled: !app.editable, onClick: () => paymentForm(inv) }));
      actions.push(button('Mark paid', {
        kind: 'primary', id: 'invoice-paid', disabled: !app.editable,
        onClick: () => change(`Invoice ${number} is paid.`, 'marking it paid', (doc) => setInvoicePaid(doc, inv.id, true)),
      }));
    } else if (inv.paid && !payments.length) {
      actions.push(button('Mark unpaid', { id: 'invoice-paid', disabled: !app.editable,
        onClick: () => change(`Invoice ${number} is unpaid again.`, 'marking it unpaid', (doc) => setInvoicePaid(doc, inv.id, false)) }));
    }
    actions.push(button('Remove', { kind: 'quiet-danger', iconName: 'trash', id: 'invoice-remove', disabled: !app.editable, onClick: () => remove(inv) }));

    const stateText = state === 'paid' ? (inv.paidAt ? `Paid ${formatDay(inv.paidAt)}` : 'Paid')
      : `${state === 'overdue' ? 'Overdue' : 'Unpaid'}${totals.received ? ` · ${money(totals.received)} received` : ''}`;
    const paymentsCard = payments.length || totals.due > 0 ? h('section', { class: 'card invoice-payments', id: 'invoice-payments' },
      h('h2', { class: 'card-title', text: 'Payments' }),
      payments.length ? h('ul', { class: 'simple-list', id: 'payment-list' }, payments.map((p) => h('li', { dataset: { paymentId: p.id } },
        h('span', { text: formatDay(p.date) }),
        h('span', { class: 'muted', text: text(p.note) }),
        h('span', { class: 'num', text: money(p.amount) }),
        h('button', { type: 'button', class: 'button small quiet-danger', text: 'Remove', disabled: !app.editable, 'aria-label': `Remove the payment of ${formatDay(p.date)}`,
          onClick: () => change(`Removed the payment of ${formatDay(p.date)}.`, 'removing the payment', (doc) => removePayment(doc, inv.id, p.id)) }))))
        : h('p', { class: 'muted', text: 'No payments recorded yet.' })) : null;

    root.append(
      pageHeader(`Invoice ${number}`, stateText, ...printActions(bridge, `Invoice ${number}.pdf`), ...actions),
      h('article', { class: 'card invoice-sheet', id: 'invoice-sheet', 'aria-label': `Invoice ${number}` },
        h('div', { class: 'invoice-head' },
          h('div', { class: 'invoice-issuer', id: 'invoice-issuer' },
            practice.logo ? h('img', { class: 'invoice-logo', src: practice.logo, alt: '' }) : null,
            h('p', { class: 'invoice-practice', text: practice.name || 'Your practice' }),
            practice.address ? h('p', { class: 'prewrap invoice-address', text: practice.address }) : null,
            practice.licence ? h('p', { class: 'invoice-id-line', text: `Licence ${practice.licence}` }) : null,
            practice.taxNumber ? h('p', { class: 'invoice-id-line', text: `Tax registration ${practice.taxNumber}` }) : null),
          h('dl', { class: 'invoice-facts' },
            h('dt', { text: 'Invoice' }), h('dd', { text: number }),
            h('dt', { text: 'Issued' }), h('dd', { text: formatDay(inv.issued) }),
            h('dt', { text: 'Due' }), h('dd', { text: formatDay(inv.due) }))),
        h('div', { class: 'invoice-to' },
          h('p', { class: 'muted', text: 'Billed to' }),
          h('p', { class: 'invoice-client', text: client ? text(client.name) : 'Client no longer on file' }),
          client?.email ? h('p', { text: client.email }) : null,
          file ? h('p', { class: 'muted', text: `Matter: ${fileTitle(index, file)}` }) : null),
        h('table', { class: 'table invoice-lines', id: 'invoice-lines' },
          h('caption', { class: 'visually-hidden', text: 'Invoice lines' }),
          h('thead', {}, h('tr', {}, h('th', { scope: 'col', text: 'Date' }), h('th', { scope: 'col', text: 'Description' }), h('th', { scope: 'col', class: 'num', text: 'Amount' }))),
          h('tbody', {}, (Array.isArray(inv.lines) ? inv.lines : []).map((l) => h('tr', {},
            h('td', { text: formatDay(l.date) }),
            h('td', { text: `${text(l.description)}${l.taxable === false ? ' (no tax)' : ''}` }),
            h('td', { class: 'num', text: money(Number(l.amount) || 0) })))),
          h('tfoot', {},
            total('Subtotal', money(totals.subtotal)),
            total(`Tax (${(Number(inv.taxRate) || 0) / 100} %)`, money(totals.tax)),
            total('Total', money(totals.total), 'invoice-total'),
            totals.retainer ? total('Paid from retainer', `− ${money(totals.retainer)}`) : null,
            payments.map((p) => total(`Payment received ${formatDay(p.date)}`, `− ${money(p.amount)}`)),
            total('Balance due', money(totals.due), 'invoice-due')))));
    if (paymentsCard) root.append(paymentsCard);
  }

  function change(message, label, edit) {
    try {
      app.undoable({ label, touches: ['invoices'], message }, edit);
      draw();
    } catch (error) {
      showError(error);
    }
  }

  function paymentForm(inv) {
    const due = invoiceTotals(inv).due;
    formDialog(root, {
      id: 'payment-form', title: `Payment on invoice ${text(inv.number)}`, submitLabel: 'Record payment',
      fields: [
        { name: 'amount', label: 'Amount', value: (due / 100).toFixed(2), required: true, focus: true, hint: `Still owed: ${formatMoney(due, inv.currency || 'CAD')}` },
        { name: 'date', label: 'Received on', type: 'date', value: today(), required: true },
        { name: 'note', label: 'Note', wide: true, hint: 'Like the cheque number or "e-transfer".' },
      ],
      onSubmit(values) {
        const errors = validatePayment(values, inv);
        if (Object.keys(errors).length) return errors;
        change(`Recorded a payment of ${formatMoney(parseMoney(values.amount), inv.currency || 'CAD')}.`,
          'the payment', (doc) => addPayment(doc, inv.id, values));
        return null;
      },
    });
  }

  async function remove(inv) {
    const number = text(inv.number);
    const blockers = removalBlockers(app.data, 'invoice', inv.id);
    if (blockers.length) {
      await confirmDialog({ title: `Invoice ${number} can't be removed`, message: blockers.join(' '), confirmLabel: 'OK', cancelLabel: null });
      return;
    }
    const sure = await confirmDialog({
      title: `Remove invoice ${number}?`,
      message: `Its time and fees become unbilled again and any retainer it used goes back into trust. The number ${number} is not given out again.`,
      confirmLabel: 'Remove invoice', danger: true,
    });
    if (!sure) return;
    try {
      app.undoable({ label: `removing invoice ${number}`, touches: ['invoices', 'entries'], message: `Removed invoice ${number}.` }, (doc) => removeInvoice(doc, inv.id));
      navigate('billing');
    } catch (error) {
      showError(error);
    }
  }

  draw();
  return () => root.querySelectorAll('dialog[open]').forEach((d) => d.close());
}

function total(label, value, id = null) {
  return h('tr', { id }, h('td', {}), h('th', { scope: 'row', text: label }), h('td', { class: 'num', text: value }));
}
