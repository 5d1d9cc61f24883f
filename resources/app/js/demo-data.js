// Demonstration data: a dozen clients with files, deadlines, appointments, time, fees and
// invoices, dated around today so that the screens show something overdue, due soon and later.

import { newId } from './clients-model.js';
import { DEFAULT_STAGES } from './practice-model.js';
import { addDays, today as todayOf } from './dates.js';
import { createInvoice, setInvoicePaid } from './billing-model.js';

const PEOPLE = [
  ['Amara Okafor', 'study-permit', 'active'],
  ['José Martínez', 'work-permit', 'submitted'],
  ['Lê Thị Hoa', 'permanent-residence', 'active'],
  ['Priya Raman', 'visitor-visa', 'submitted'],
  ['Tomasz Nowak', 'work-permit', 'on-hold'],
  ['Fatima Zahra Benali', 'citizenship', 'active'],
  ['Chen Wei', 'study-permit', 'enquiry'],
  ['Olena Kovalenko', 'permanent-residence', 'submitted'],
  ['Kwame Mensah', 'family-sponsorship', 'active'],
  ['Sofía Herrera', 'visitor-visa', 'closed'],
  ['Arjun Mehta', 'work-permit', 'active'],
  ['Aiyana Redcloud', 'citizenship', 'enquiry'],
];

const DEADLINES = [
  ['biometrics', 'Biometrics appointment', -3],
  ['document-request', 'Send proof of funds', 2],
  ['medical', 'Immigration medical exam', 9],
  ['status-expiry', 'Current permit expires', 40],
];

export function isEmptyPractice(doc) {
  return !['clients', 'files', 'deadlines', 'invoices'].some((name) => Array.isArray(doc[name]) && doc[name].length);
}

// Fills an empty practice. Throws, changing nothing, when the practice already has data.
export function addDemoData(doc, now = new Date()) {
  if (!isEmptyPractice(doc)) throw new Error('Demonstration data only goes into an empty practice, so nothing was added.');
  const day = todayOf(now);
  const stamp = now.toISOString();
  for (const name of ['clients', 'files', 'deadlines', 'appointments', 'contacts', 'entries', 'invoices']) {
    if (!Array.isArray(doc[name])) doc[name] = [];
  }
  PEOPLE.forEach(([name, programme, status], n) => {
    const client = {
      id: newId(), name, email: `${name.split(' ')[0].normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase()}@example.org`,
      phone: `(416) 555-${String(1200 + n * 37).padStart(4, '0')}`, fileNumber: `QP-${now.getFullYear()}-${String(n + 1).padStart(3, '0')}`,
      status, notes: n % 3 === 0 ? 'Prefers e-mail. Demonstration client.' : 'Demonstration client.', createdAt: stamp, updatedAt: stamp, demo: true,
    };
    doc.clients.push(client);
    const opened = addDays(day, -30 - n * 9);
    const stages = DEFAULT_STAGES.map((stage, s) => ({ name: stage, date: s <= n % 4 ? addDays(opened, s * 12) : '' }));
    const file = {
      id: newId(), clientId: client.id, programme, applicationNumber: `${programme === 'citizenship' ? 'C' : programme === 'study-permit' ? 'S' : 'W'}${String(300100200 + n * 7919)}`,
      status: status === 'closed' ? 'approved' : n % 4 === 0 ? 'preparing' : 'submitted', opened, stages,
      notes: '', createdAt: stamp, updatedAt: stamp, demo: true,
    };
    doc.files.push(file);
    DEADLINES.forEach(([kind, title, offset], k) => {
      if ((n + k) % 3 === 2) return;
      const due = addDays(day, offset + n);
      doc.deadlines.push({
        id: newId(), clientId: client.id, fileId: file.id, kind, title, due, remindDays: 3,
        done: status === 'closed' || (offset + n < -1 && k === 0 && n % 2 === 0), doneAt: '', notes: '', createdAt: stamp, updatedAt: stamp, demo: true,
      });
    });
    if (n % 2 === 0) {
      doc.appointments.push({
        id: newId(), clientId: client.id, fileId: file.id, title: `Meeting with ${name}`, date: addDays(day, (n % 10) - 2),
        time: `${String(9 + (n % 7)).padStart(2, '0')}:30`, minutes: 45, place: 'Office', notes: '', createdAt: stamp, updatedAt: stamp, demo: true,
      });
    }
    doc.contacts.push({ id: newId(), clientId: client.id, kind: ['call', 'email', 'meeting'][n % 3], date: addDays(day, -n - 1), summary: 'First consultation about the application.', createdAt: stamp, demo: true });
    doc.entries.push(
      { id: newId(), fileId: file.id, clientId: client.id, kind: 'retainer', date: opened, description: 'Retainer', amount: n % 3 === 1 ? 60000 : 20000, invoiceId: '', createdAt: stamp, demo: true },
      { id: newId(), fileId: file.id, clientId: client.id, kind: 'time', date: addDays(opened, 3), description: 'Consultation and file review', hours: 1.5, rate: 20000, invoiceId: '', createdAt: stamp, demo: true },
      { id: newId(), fileId: file.id, clientId: client.id, kind: 'disbursement', date: addDays(opened, 5), description: 'Government processing fee', amount: 15000, invoiceId: '', createdAt: stamp, demo: true },
    );
    if (n < 8) {
      const invoice = createInvoice(doc, file, { now: new Date(now.getTime() - (40 - n * 4) * 86400000) });
      invoice.demo = true;
      if (n % 3 === 0) setInvoicePaid(doc, invoice.id, true, now);
    }
  });
  return { clients: PEOPLE.length };
}
