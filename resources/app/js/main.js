// Starts the page: the document, the sidebar, the title-bar band and the screens.

import { createApp, inspectCopy } from './store.js';
import { ROUTES, parseHash, hrefFor } from './routes.js';
import { h, toast, notice, button } from './ui.js';
import { icon } from './icons.js';
import * as dashboard from './views/dashboard.js';
import * as clients from './views/clients.js';
import * as settings from './views/settings.js';
import * as dataSettings from './views/data.js';
import * as serverSettings from './views/server.js';
import * as documentSettings from './views/documents-settings.js';
import * as securitySettings from './views/security.js';
import * as lockScreen from './views/lock-screen.js';
import * as files from './views/files.js';
import * as fileScreen from './views/file.js';
import * as deadlines from './views/deadlines.js';
import * as calendar from './views/calendar.js';
import * as billing from './views/billing.js';
import * as invoice from './views/invoice.js';
import * as clientScreen from './views/client.js';
import * as importScreen from './views/import.js';
import { openFind } from './views/find.js';
import { find, prepareSearch } from './search.js';
import { nextTask } from './doc-text.js';
import { openContactForm } from './views/client.js';
import { menuAction, linkPath } from './commands.js';
import { createTours } from './tours.js';
import { indexOf } from './practice-model.js';
import { dueReminders, notify as remindOf } from './reminders.js';
import { addDemoData } from './demo-data.js';
import { today } from './dates.js';
import * as pdfStudio from './views/pdf-studio.js';
import { connectUpdateNotice } from './update-notice.js';
import * as printerSettings from './views/printer.js';
import { listenForPrinted } from './print-inbox.js';
import { copyThroughCard } from './form-copy.js';
import { connectLockWatch, keepBadgeCurrent } from './shell-hooks.js';
import { attachUndo } from './undo.js';
import { connectSharing, shareStatus, describeShare, conflictsIn, typingIn } from './share.js';
import { installRowOpening } from './row-open.js';

const SCREENS = {
  dashboard,
  clients,
  settings,
  'settings/data': dataSettings,
  'settings/server': serverSettings,
  'settings/documents': documentSettings,
  'settings/security': securitySettings,
  'settings/printer': printerSettings,
  pdf: pdfStudio,
  files,
  file: fileScreen,
  deadlines,
  deadline: deadlines,
  calendar,
  billing,
  invoice,
  client: clientScreen,
  import: importScreen,
  'pdf/formcopy': pdfStudio,
};

const bridge = window.quillpost && typeof window.quillpost.load === 'function' ? window.quillpost : null;

const App = createApp({
  bridge,
  notify: ({ kind, message }) => toast(message, { kind }),
});
window.App = App;
attachUndo(App, { toast, refresh: () => renderRoute() });

const view = document.getElementById('view');
let cleanup = null;
let intent = null;
let shownPath = null;

// Lets a screen send the user elsewhere with something to do there, e.g. open the
// new-client form on the Clients screen.
function navigate(path, nextIntent = null) {
  intent = nextIntent;
  const target = hrefFor(path);
  if (location.hash === target) renderRoute();
  else location.hash = target;
}

function buildNav() {
  const nav = document.getElementById('nav');
  const groups = [
    { id: 'practice', label: 'Practice' },
    { id: 'tools', label: 'Tools' },
    { id: 'system', label: null },
  ];
  for (const group of groups) {
    const items = ROUTES.filter((r) => r.group === group.id).map((route) =>
      h('li', {},
        h('a', { class: 'nav-link', href: hrefFor(route.path), dataset: { route: route.path }, id: `nav-${route.path}` },
          icon(route.icon, 18),
          h('span', { class: 'nav-label', text: route.title }),
          null)));
    if (group.id === 'system') {
      items.unshift(h('li', {}, h('button', {
        type: 'button', class: 'nav-link nav-button', id: 'nav-tour', onClick: () => runMenuCommand('tour'),
      }, icon('info', 18), h('span', { class: 'nav-label', text: 'Show me around' }))));
    }
    nav.append(h('div', { class: `nav-group nav-group-${group.id}` },
      group.label ? h('h2', { class: 'nav-heading', id: `nav-heading-${group.id}`, text: group.label }) : null,
      h('ul', { 'aria-labelledby': group.label ? `nav-heading-${group.id}` : null }, items)));
  }
}

function renderRoute() {
  const route = parseHash(location.hash);
  const moved = shownPath !== null && shownPath !== route.path;
  shownPath = route.path;

  for (const link of document.querySelectorAll('.nav-link')) {
    if (link.dataset.route === route.section) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  document.getElementById('titlebar-title').textContent = route.title;
  document.title = `${route.title} – Quillpost`;

  if (cleanup) cleanup();
  cleanup = null;
  view.replaceChildren();
  view.dataset.route = route.path;
  if (!App.loaded) {
    view.append(h('p', { class: 'loading', text: 'Opening your data…' }));
  } else {
    // Encrypted data shows the lock screen wherever the user goes, until it is opened.
    const screen = App.lock?.canUnlock ? lockScreen : SCREENS[route.path];
    const context = { app: App, bridge, route, navigate, intent };
    intent = null;
    try {
      cleanup = screen.render(view, context) ?? null;
    } catch (error) {
      console.error(error);
      view.replaceChildren(notice('error', `This screen couldn't be shown: ${error.message}`));
    }
  }
  if (moved) {
    view.scrollTop = 0;
    view.focus({ preventScroll: true });
  }
  tours.close();
  if (App.loaded && !App.lock) {
    // A screen's tour starts by itself on its first visit, once the screen has settled.
    const shown = route.path;
    setTimeout(() => {
      if (shownPath === shown && !document.querySelector('dialog[open]')) tours.offer(shown);
    }, 400);
  }
}

// What the updater has announced (connected below).
let updateNotice = null;

function renderNotices() {
  const host = document.getElementById('notices');
  host.replaceChildren();
  const update = updateNotice?.notice;
  if (update) {
    host.append(h('div', { id: 'notice-update', dataset: { status: update.status } }, notice('info', update.text,
      h('p', { class: 'notice-actions' },
        update.status === 'available' && bridge ? button('Download it', { id: 'update-download', onClick: () => bridge.checkForUpdates().catch(() => {}) }) : null,
        h('a', { class: 'inline-link', href: hrefFor('settings'), text: 'Settings → About' }),
        button('Dismiss', { id: 'update-dismiss', kind: 'ghost', onClick: () => updateNotice.dismiss() })))));
  }
  const twice = App.editable ? conflictsIn(App.data).length : 0;
  if (twice) {
    host.append(h('div', { id: 'notice-conflicts' }, notice('info',
      `${twice === 1 ? 'A record was' : `${twice} records were`} changed on two desks at once. Choose the values to keep.`,
      h('p', { class: 'notice-actions' }, h('a', { class: 'inline-link', href: hrefFor('settings/server'), text: 'Settings → Practice server' })))));
  }
  if (!bridge) {
    host.append(h('div', { id: 'notice-desktop-missing' }, notice('warning',
      "Quillpost's desktop program is needed to load and save data. What you enter here is kept in memory only and is gone when this page closes.")));
  }
  if (App.lock) {
    const extra = [];
    if (App.lock.kind === 'load-failed') {
      extra.push(button('Try again', { id: 'retry-load', onClick: () => App.reload() }));
    }
    if (App.lock.canCarryOn) {
      extra.push(button(App.lock.carryOnLabel, { id: 'carry-on', onClick: () => App.carryOn() }));
    }
    extra.push(h('a', { class: 'inline-link', href: hrefFor('settings/data'), text: 'Snapshots and backups' }));
    if (App.lock.canUnlock) return;
    host.append(h('div', { id: 'notice-locked', dataset: { kind: App.lock.kind } },
      notice(App.lock.kind === 'encrypted' ? 'info' : 'warning', App.lock.message, h('p', { class: 'notice-actions' }, extra))));
  }
}

function renderStatus() {
  const host = document.getElementById('save-status');
  let text;
  let state;
  if (!App.loaded) [text, state] = ['Opening…', 'busy'];
  else if (!bridge) [text, state] = ['Not saved: in memory only', 'warning'];
  else if (App.lock) [text, state] = ['Read-only', 'muted'];
  else if (App.saveState === 'failed') [text, state] = ['Changes not saved', 'error'];
  else if (App.saveState === 'saved') [text, state] = [App.dirty ? 'Unsaved changes' : 'All changes saved', 'ok'];
  else [text, state] = ['Saving…', 'busy'];

  host.dataset.state = state;
  host.dataset.saveState = App.saveState;
  const parts = [h('span', { class: 'save-dot', 'aria-hidden': 'true' }), h('span', { text })];
  if (App.saveState === 'failed' && App.editable) {
    parts.push(h('button', {
      type: 'button', class: 'link-button', id: 'save-retry', text: 'Try again',
      title: App.lastError || null,
      onClick: () => App.saveNow().then(() => toast('Your changes are saved.')).catch(() => {}),
    }));
  }
  host.replaceChildren(...parts);
  document.documentElement.dataset.appState = !App.loaded ? 'loading' : App.lock ? 'locked' : 'ready';
}

// Edits waiting for the save timer go out before the page goes away.
function flush() {
  if (App.editable && App.dirty) App.saveNow().catch(() => {});
}

document.getElementById('skip-link').addEventListener('click', () => view.focus());
window.addEventListener('hashchange', renderRoute);
window.addEventListener('pagehide', flush);
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'hidden') flush();
});

// A printed file is news on any screen; PDF Studio also adds it to its list.
listenForPrinted(bridge, (record) => {
  if (parseHash(location.hash).path !== 'pdf') toast(`${record.name} is in PDF Studio's print inbox.`);
});

// ---------- What the desktop program asks of the page ----------

const tours = createTours({ app: App, currentPath: () => shownPath ?? parseHash(location.hash).path });

// One entry for every menu command of the shell ("go:files", "newClient", "find", "tour", …).
// Answers whether the command was understood.
function runMenuCommand(command) {
  const action = menuAction(command);
  if (!action) {
    toast(`This version of the page has nothing for the menu command “${String(command)}”.`, { kind: 'error' });
    return false;
  }
  if (action.kind === 'go') {
    if (action.intent && !App.editable) toast(App.lock ? App.lock.message : 'Your data is still loading.', { kind: 'error' });
    navigate(action.path, App.editable ? action.intent ?? null : null);
  } else if (action.kind === 'find') {
    if (App.loaded && !App.lock?.canUnlock) openFind(App);
  } else if (action.kind === 'tour') {
    if (!tours.start()) toast('There is no tour for this screen.');
  } else if (action.kind === 'log-contact') {
    if (!App.editable) return false;
    const route = parseHash(location.hash);
    openContactForm(view, App, route.path === 'client' ? route.id : '', () => { if (route.path === 'client') renderRoute(); });
  }
  return true;
}

// quillpost://file/<id> and the like.
function openLink(link) {
  const path = linkPath(link);
  if (!path) {
    toast(`Quillpost can't open the link ${String(link)}.`, { kind: 'error' });
    return false;
  }
  navigate(path);
  return true;
}

if (bridge && typeof bridge.onMenu === 'function') bridge.onMenu(runMenuCommand);
else window.__qpMenu = runMenuCommand;
window.__qpLink = openLink;

// Where the browser's own undo applies: typing in a field.
const typingInField = (target) => target instanceof Element && (target.isContentEditable || target.matches('input:not([type="checkbox"]):not([type="radio"]):not([type="button"]), textarea, select'));

installRowOpening(document);

document.addEventListener('keydown', (event) => {
  if ((event.ctrlKey || event.metaKey) && !event.altKey && !event.shiftKey && event.key.toLowerCase() === 'k') {
    event.preventDefault();
    runMenuCommand('find');
  } else if ((event.ctrlKey || event.metaKey) && !event.altKey && !event.shiftKey && event.key.toLowerCase() === 'z' &&
      !typingInField(event.target) && !document.querySelector('dialog[open]') && App.editable) {
    event.preventDefault();
    App.undo();
  }
});

// ---------- Reminders ----------

const REMINDER_CHECK_MS = 15 * 60 * 1000;

function openDeadline(id) {
  navigate(`deadline/${id}`);
}

// Shows the reminders that are due and notes them in the data, so each is shown once.
function checkReminders() {
  if (!App.editable) return 0;
  const index = indexOf(App.data, App.revision);
  const due = dueReminders(index.deadlines, today()).slice(0, 5);
  if (!due.length) return 0;
  for (const d of due) remindOf(d, index, today(), openDeadline);
  App.edit(() => { for (const d of due) d.remindedFor = d.due; });
  return due.length;
}
setInterval(() => { try { checkReminders(); } catch (error) { console.error(error); } }, REMINDER_CHECK_MS);

// ---------- What the self-test (and the shell's quit) drive ----------
// App.isReady          true once the data is loaded and the first screen drawn
// App.saveNow()        saves now (the shell calls it on quit)
// App.loadDemoData()   fills an empty practice with demonstration data and saves it
// App.tours            .markAllSeen(), .close(), .start(name), .showing
// App.checkBackup(c)   opens a backup candidate's text as this page would: { ok, clients, … }
// App.openPdfStudio()  goes to PDF Studio
// App.remind(id)       shows the reminder of a deadline (the first open one without an id)
// App.formCopy(bytes, name)  makes a shareable copy of a filled PDF form (bytes a Uint8Array) on
//                      PDF Studio's card, then returns to the screen it was on:
//                      { outputs, pages, fields, text, bytes, restored }; rejects with the reason
// App.undo()           takes back the latest change that can be undone (what Ctrl+Z does)
// App.runMenuCommand, App.openLink, App.find(query)
Object.assign(App, {
  isReady: false,
  tours,
  runMenuCommand,
  openLink,
  find: (query) => find(indexOf(App.data, App.revision), query),
  async loadDemoData() {
    const added = App.edit((doc) => addDemoData(doc));
    renderRoute();
    await App.saveNow().catch(() => false);
    return added.clients;
  },
  checkBackup(candidate) {
    return inspectCopy(candidate && typeof candidate === 'object' ? candidate.text : candidate);
  },
  openPdfStudio() {
    navigate('pdf');
    return true;
  },
  formCopy(bytes, name) {
    return copyThroughCard(bytes, name, { location, navigate });
  },
  remind(id) {
    const index = indexOf(App.data, App.revision);
    const d = id ? index.deadline.get(id) : index.deadlines.find((x) => !x.done);
    if (!d) throw new Error(id ? 'That deadline is not in your data.' : 'There is no open deadline to remind of.');
    const shown = remindOf(d, index, today(), openDeadline);
    return { id: d.id, title: shown?.title ?? '', notified: !!shown };
  },
});

// An update that a scheduled check found is news on any screen, and on the desktop.
updateNotice = connectUpdateNotice({
  target: window,
  render: () => renderNotices(),
  notify: (text) => {
    if (typeof Notification !== 'function') return;
    const shown = new Notification(text, { body: 'Settings → About has the details.' });
    shown.onclick = () => navigate('settings');
  },
});

// Other desks' records arrive through the desktop program; the title bar shows the connection.
function renderShareIndicator(status) {
  const link = document.getElementById('share-indicator');
  const words = describeShare(status);
  link.hidden = !words.short;
  link.dataset.state = words.tone;
  link.textContent = words.short;
  link.title = words.long;
}
connectSharing({
  app: App,
  redraw: () => { renderNotices(); renderRoute(); },
  typing: () => typingIn(document),
  onState: (status) => shareStatus.set(status),
});
shareStatus.on(renderShareIndicator);
// Settling a value two desks changed takes the notice away. Looking means visiting every record,
// so edits in a row are looked at together a moment later rather than inside each edit.
let conflictCount = 0;
let conflictLook = null;
App.on('change', () => {
  if (conflictLook !== null) return;
  conflictLook = setTimeout(() => {
    conflictLook = null;
    const now = App.editable ? conflictsIn(App.data).length : 0;
    if (now !== conflictCount) renderNotices();
    conflictCount = now;
  }, 300);
});
if (typeof bridge?.shareStatus === 'function') shareStatus.ask(() => bridge.shareStatus()).catch(() => {});

// Encrypted data closes when the computer locks or sleeps.
connectLockWatch({ app: App, toast });
// The launcher shows how many deadlines are overdue.
keepBadgeCurrent({ app: App, bridge });

App.on('status', renderStatus);
App.on('load', () => {
  renderNotices();
  renderRoute();
  App.isReady = true;
  // Reminders wait for the screen to be drawn.
  setTimeout(() => {
    try {
      checkReminders();
    } catch (error) {
      console.error(error);
    }
  }, 0);
  prepareSearchSoon(0);
});

// Ctrl+K finds the search text already made: after the practice opens, and a moment after edits.
let searchLook = null;
function prepareSearchSoon(delay) {
  clearTimeout(searchLook);
  searchLook = setTimeout(() => {
    const doc = App.data;
    const revision = App.revision;
    prepareSearch(indexOf(doc, revision), {
      pause: nextTask,
      stillWanted: () => App.data === doc && App.revision === revision,
      settled: () => App.data === doc && App.revision === revision,
    }).catch((error) => console.error(error));
  }, delay);
}
App.on('change', () => prepareSearchSoon(400));

// The data is asked for first, and the page's frame drawn while it comes.
App.ready = App.reload();
buildNav();
renderNotices();
renderStatus();
renderRoute();
