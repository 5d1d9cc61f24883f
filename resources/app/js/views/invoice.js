// One invoice ("#/invoice/<id>"), laid out to be printed or saved as a PDF.

import { h, button, pageHeader, toast, showError } from '../ui.js';
import { icon } from '../icons.js';
import { printActions } from '../print-actions.js';
import { text } from '../clients-model.js';
import { indexOf, fileTitle, settingsOf } from '../practice-model.js';
import { formatMoney, invoiceTotals, invoiceState, setInvoicePaid } from '../billing-model.js';
import { today, formatDay } from '../dates.js';
import { hrefFor, itemHref } from '../routes.js';

export function render(root, { app, bridge, route }) {
  function draw() {
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
    const practice = text(settingsOf(app.data).practiceName) || 'Your practice';
    const paid = button(inv.paid ? 'Mark unpaid' : 'Mark paid', {
      kind: inv.paid ? '' : 'primary', id: 'invoice-paid', disabled: !app.editable,
      onClick: () => {
        try {
          app.edit((doc) => setInvoicePaid(doc, inv.id, !inv.paid));
          toast(inv.paid ? `Invoice ${inv.number} is paid.` : `Invoice ${inv.number} is unpaid again.`);
          draw();
          root.querySelector('#invoice-paid')?.focus();
        } catch (error) {
          showError(error);
        }
      },
    });
    root.append(
      pageHeader(`Invoice ${text(inv.number)}`, state === 'paid' ? `Paid ${formatDay(inv.paidAt)}` : state === 'overdue' ? 'Overdue' : 'Unpaid',
        ...printActions(bridge, `Invoice ${text(inv.number)}.pdf`), paid),
      h('article', { class: 'card invoice-sheet', id: 'invoice-sheet', 'aria-label': `Invoice ${text(inv.number)}` },
        h('div', { class: 'invoice-head' },
          h('div', {}, h('p', { class: 'invoice-practice', text: practice }), h('p', { class: 'muted', text: 'Immigration consulting' })),
          h('dl', { class: 'invoice-facts' },
            h('dt', { text: 'Invoice' }), h('dd', { text: text(inv.number) }),
            h('dt', { text: 'Issued' }), h('dd', { text: formatDay(inv.issued) }),
            h('dt', { text: 'Due' }), h('dd', { text: formatDay(inv.due) }))),
        h('div', { class: 'invoice-to' },
          h('p', { class: 'muted', text: 'Billed to' }),
          client ? h('a', { href: itemHref('client', client.id), class: 'invoice-client', text: text(client.name) }) : h('p', { text: 'Client no longer on file' }),
          client?.email ? h('p', { text: client.email }) : null,
          file ? h('p', { class: 'muted' }, 'Matter: ', h('a', { href: itemHref('file', file.id), text: fileTitle(index, file) })) : null),
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
            total(state === 'paid' ? 'Balance (paid)' : 'Balance due', money(totals.due), 'invoice-due')))));
  }
  draw();
}

function total(label, value, id = null) {
  return h('tr', { id }, h('td', {}), h('th', { scope: 'row', text: label }), h('td', { class: 'num', text: value }));
}
