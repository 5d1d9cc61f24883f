// Guided tours: "Show me around this screen". Each screen's tour is a few steps pointing at parts
// of it; a tour shown once is marked seen in the practice's settings and doesn't start by itself again.

import { h } from './ui.js';
import { isPlainObject } from './format.js';

export const TOURS = {
  dashboard: [
    { target: '.nav-group-practice', title: 'Your practice', text: 'Clients, their files, deadlines and the calendar are here. Ctrl+K finds anything from any screen.' },
    { target: '#stat-clients', title: 'At a glance', text: 'How many clients and open files you have.' },
    { target: '#shortcut-add-client', title: 'Start here', text: 'Add a client, or fill an empty practice with demonstration data to look around.' },
  ],
  clients: [
    { target: '#client-search', title: 'Search', text: 'Type part of a name, e-mail, phone or file number.' },
    { target: '#client-add', title: 'Add a client', text: 'Each client has a contact log, files, deadlines and invoices. Open one by its name.' },
    { target: '#clients-import', title: 'From a spreadsheet', text: 'Import a client list from CSV, or export your practice.' },
  ],
  files: [
    { target: '#file-add', title: 'Open a file', text: 'One file per application: the programme, its number, status and stages.' },
    { target: '#file-status-filter', title: 'Open and closed', text: 'Closed, approved and refused files are hidden unless you ask for them.' },
  ],
  deadlines: [
    { target: '#deadline-show', title: 'What is due', text: 'Overdue deadlines come first. Quillpost reminds you a few days before each one.' },
    { target: '#deadline-add', title: 'Add a deadline', text: 'Biometrics, medical exams, document requests and expiry of status.' },
  ],
  calendar: [
    { target: '#calendar-month', title: 'Month and week', text: 'Switch views here; the arrows move through time.' },
    { target: '#appointment-add', title: 'Appointments', text: 'Meetings sit next to the deadlines of your files.' },
  ],
  billing: [
    { target: '#billing-stats', title: 'Money at a glance', text: 'What is outstanding, overdue and not yet invoiced.' },
    { target: '#billing-settings', title: 'Numbering and tax', text: 'Set the invoice prefix, tax rate, currency and terms.' },
  ],
  pdf: [
    { target: '#printed-list', title: 'Print inbox', text: 'Print to "Quillpost PDF" from any program and the exact copy lands here, ready to file or share.' },
    { target: '#form-copy-file', title: 'Shareable copy', text: 'Turn a filled form into a copy whose answers can no longer be changed by accident.' },
    { target: '#editor-open-empty', title: 'Full PDF editor', text: 'Rotate, reorder and fill pages, and add text, in a window of its own that never goes online.' },
    { target: '#handover-form', title: 'Handover PDF', text: 'A password-locked copy for a client, with the password said separately.' },
  ],
  settings: [
    { target: '.view .page-header', title: 'Settings', text: 'Each card opens one part: your data and backups, documents, the practice server, security and the printer.' },
    { target: '#settings-data-link', title: 'Data and backups', text: 'Where the practice is kept, its daily snapshots, and restoring an earlier copy.' },
    { target: '#settings-security-link', title: 'Security', text: 'Encrypt the data with a passphrase and unlock it with a fingerprint.' },
  ],
};

// What a tour panel keeps clear of besides the step's element: what the user came to see.
const KEEP_CLEAR = ['dialog[open]', '.toasts', '#demo-data'];

// Where the panel goes: the first of below, above, right of and left of the target (then the
// screen's corners) that overlaps neither the target nor anything in `avoid`, all in viewport
// pixels. With no free place, the one that covers least.
export function placePanel(target, avoid, size, viewport, gap = 12) {
  const fit = (left, top) => ({
    left: Math.round(Math.max(gap, Math.min(left, viewport.width - size.width - gap))),
    top: Math.round(Math.max(gap, Math.min(top, viewport.height - size.height - gap))),
  });
  const candidates = [
    fit(target.left, target.bottom + gap),
    fit(target.left, target.top - gap - size.height),
    fit(target.right + gap, target.top),
    fit(target.left - gap - size.width, target.top),
    fit(viewport.width, viewport.height),
    fit(viewport.width, 0),
    fit(0, viewport.height),
    fit(0, 0),
  ];
  const overlap = (p, r) => Math.max(0, Math.min(p.left + size.width, r.right) - Math.max(p.left, r.left)) *
    Math.max(0, Math.min(p.top + size.height, r.bottom) - Math.max(p.top, r.top));
  // The target counts more than anything else: covering it defeats the step.
  const cost = (p) => 1000 * overlap(p, target) + avoid.reduce((sum, r) => sum + overlap(p, r), 0);
  return candidates.reduce((best, p) => (cost(p) < cost(best) ? p : best));
}

// The tour of the screen at `path`: an item's screen and a sub-screen have their section's.
export function tourFor(path) {
  const key = { client: 'clients', file: 'files', deadline: 'deadlines', invoice: 'billing', import: 'clients' }[path] ?? String(path ?? '').split('/')[0];
  return TOURS[key] ? key : null;
}

// The tour that starts by itself on arriving at `path`, or null: once per screen, and not on an
// item's screen or a sub-screen, since whoever opened a client from Ctrl+K came to see that client.
export function tourToOffer(path, seen) {
  const name = tourFor(path);
  return name && name === path && !seen(name) ? name : null;
}

export function seenTours(doc) {
  const tours = doc?.settings?.tours;
  return isPlainObject(tours) ? tours : {};
}

// The overlay: a panel next to the step's element, which is outlined. Not modal: the screen
// stays usable, and Escape or "Close" ends the tour.
export function createTours({ app, currentPath }) {
  const memory = {};
  let overlay = null;

  const seen = (name) => !!(seenTours(app.data)[name] || memory[name]);

  // The flags ride along with the next save rather than causing one: a tour is no reason to
  // write the practice's data.
  function markSeen(names) {
    for (const n of names) memory[n] = true;
    if (!app.editable) return;
    const doc = app.data;
    if (!isPlainObject(doc.settings)) doc.settings = {};
    doc.settings.tours = { ...seenTours(doc), ...Object.fromEntries(names.map((n) => [n, true])) };
  }

  function close() {
    if (!overlay) return;
    overlay.cleanup();
    overlay = null;
  }

  function start(name = tourFor(currentPath())) {
    close();
    const steps = (TOURS[name] ?? []).filter((s) => document.querySelector(s.target));
    if (!steps.length) return false;
    let at = 0;
    let outlined = null;
    const title = h('h2', { class: 'tour-title', id: 'tour-title' });
    const body = h('p', { class: 'tour-text', id: 'tour-text' });
    const count = h('p', { class: 'tour-count muted' });
    const back = h('button', { type: 'button', class: 'button small', id: 'tour-back', text: 'Back', onClick: () => show(at - 1) });
    const next = h('button', { type: 'button', class: 'button small primary', id: 'tour-next', onClick: () => (at < steps.length - 1 ? show(at + 1) : finish()) });
    const panel = h('div', { class: 'tour', id: 'tour', role: 'dialog', 'aria-labelledby': 'tour-title', 'aria-describedby': 'tour-text', dataset: { tour: name } },
      count, title, body,
      h('div', { class: 'tour-actions' },
        h('button', { type: 'button', class: 'link-button', id: 'tour-close', text: 'Close', onClick: () => finish() }), back, next));
    const onKey = (event) => { if (event.key === 'Escape') { event.preventDefault(); finish(); } };
    panel.addEventListener('keydown', onKey);
    document.body.append(panel);

    function show(i) {
      at = Math.max(0, Math.min(steps.length - 1, i));
      const step = steps[at];
      outlined?.classList.remove('tour-target');
      outlined = document.querySelector(step.target);
      outlined?.classList.add('tour-target');
      outlined?.scrollIntoView({ block: 'nearest' });
      title.textContent = step.title;
      body.textContent = step.text;
      count.textContent = `${at + 1} of ${steps.length}`;
      back.disabled = at === 0;
      next.textContent = at === steps.length - 1 ? 'Done' : 'Next';
      const r = outlined?.getBoundingClientRect();
      if (r) {
        const avoid = KEEP_CLEAR.flatMap((s) => [...document.querySelectorAll(s)])
          .map((el) => (el.id === 'demo-data' ? el.closest('.card') ?? el : el).getBoundingClientRect());
        const at = placePanel(r, avoid, { width: panel.offsetWidth || 340, height: panel.offsetHeight || 180 }, { width: innerWidth, height: innerHeight });
        panel.style.top = `${at.top}px`;
        panel.style.left = `${at.left}px`;
      }
      next.focus();
    }
    function finish() {
      markSeen([name]);
      close();
    }
    overlay = {
      cleanup() {
        outlined?.classList.remove('tour-target');
        panel.remove();
      },
    };
    show(0);
    return true;
  }

  return {
    names: Object.keys(TOURS),
    start,
    close,
    seen,
    get showing() { return overlay !== null; },
    markAllSeen() { markSeen(Object.keys(TOURS)); },
    offer(path) {
      const name = tourToOffer(path, seen);
      if (name && app.editable && !overlay && start(name)) markSeen([name]);
    },
  };
}
