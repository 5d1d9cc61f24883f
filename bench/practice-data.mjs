// A deterministic practice of any size, in the shape the page saves: per client one contact, two
// files with five deadlines and a time entry each, one invoice, and an appointment for every second.
//
//   node bench/practice-data.mjs --clients 5000 > data.json

import { PROGRAMMES, DEADLINE_KINDS } from '../resources/app/js/practice-model.js';
import { today, addDays } from '../resources/app/js/dates.js';

export function generatePractice(CLIENTS) {
  let seed = 42;
  const rand = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648);
  const pick = (list) => list[Math.floor(rand() * list.length)];
  const first = ['Amara', 'José', 'Hoa', 'Priya', 'Tomasz', 'Fatima', 'Wei', 'Olena', 'Kwame', 'Sofía', 'Arjun', 'Aiyana'];
  const last = ['Okafor', 'Martínez', 'Lê', 'Raman', 'Nowak', 'Benali', 'Chen', 'Kovalenko', 'Mensah', 'Herrera', 'Mehta', 'Redcloud'];
  const day = today();
  const stamp = new Date().toISOString();
  const doc = { version: 2, clients: [], files: [], deadlines: [], appointments: [], contacts: [], entries: [], invoices: [], settings: {} };
  for (let c = 0; c < CLIENTS; c++) {
    const id = `c${c}`;
    doc.clients.push({ id, name: `${pick(first)} ${pick(last)} ${c}`, email: `client${c}@example.org`, phone: `(416) 555-${String(c % 10000).padStart(4, '0')}`, fileNumber: `QP-${c}`, status: 'active', notes: 'Prefers e-mail.', createdAt: stamp, updatedAt: stamp });
    doc.contacts.push({ id: `k${c}`, clientId: id, kind: 'call', date: addDays(day, -c % 90), summary: 'Discussed the next steps.', createdAt: stamp });
    for (let f = 0; f < 2; f++) {
      const fileId = `f${c}-${f}`;
      doc.files.push({ id: fileId, clientId: id, programme: pick(PROGRAMMES).value, applicationNumber: `W${300000000 + c * 2 + f}`, status: rand() < 0.2 ? 'closed' : 'submitted', opened: addDays(day, -Math.floor(rand() * 700)), stages: [{ name: 'Retainer signed', date: day }, { name: 'Decision', date: '' }], notes: '', createdAt: stamp, updatedAt: stamp });
      for (let d = 0; d < 5; d++) {
        doc.deadlines.push({ id: `d${c}-${f}-${d}`, clientId: id, fileId, kind: pick(DEADLINE_KINDS).value, title: 'Send proof of funds', due: addDays(day, Math.floor(rand() * 400) - 100), remindDays: 3, done: rand() < 0.4, doneAt: '', notes: '', createdAt: stamp, updatedAt: stamp });
      }
      doc.entries.push({ id: `e${c}-${f}`, fileId, clientId: id, kind: 'time', date: day, description: 'Review', hours: 1.5, rate: 20000, invoiceId: f === 0 ? `i${c}` : '', createdAt: stamp });
    }
    doc.invoices.push({ id: `i${c}`, number: `INV-2026-${String(c + 1).padStart(5, '0')}`, fileId: `f${c}-0`, clientId: id, issued: addDays(day, -30), due: addDays(day, c % 60 - 30), currency: 'CAD', taxRate: 1300, lines: [{ entryId: `e${c}-0`, date: day, kind: 'time', description: 'Review (1.5 h)', amount: 30000, taxable: true }], retainerApplied: 0, paid: c % 3 === 0, paidAt: '', createdAt: stamp });
    if (c % 2 === 0) doc.appointments.push({ id: `a${c}`, clientId: id, title: 'Meeting', date: addDays(day, c % 30), time: '10:00', minutes: 30, createdAt: stamp });
  }
  return doc;
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const at = process.argv.indexOf('--clients');
  process.stdout.write(JSON.stringify(generatePractice(Number(at > 0 ? process.argv[at + 1] : 5000))));
}
