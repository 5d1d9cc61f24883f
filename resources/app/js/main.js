// Starts the page: the document, the sidebar, the title-bar band and the screens.

import { createApp } from './store.js';
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
import * as later from './views/later.js';
import * as pdfStudio from './views/pdf-studio.js';
import * as printerSettings from './views/printer.js';
import { listenForPrinted } from './print-inbox.js';
import { connectShell } from './shell-hooks.js';

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
  'pdf/formcopy': pdfStudio,
};

const bridge = window.quillpost && typeof window.quillpost.load === 'function' ? window.quillpost : null;

const App = createApp({
  bridge,
  notify: ({ kind, message }) => toast(message, { kind }),
});
window.App = App;

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
          route.later ? h('span', { class: 'nav-soon', text: 'Soon', title: 'Coming in a later version' }) : null)));
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
    const screen = App.lock?.canUnlock ? lockScreen : route.later ? later : SCREENS[route.path];
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
}

function renderNotices() {
  const host = document.getElementById('notices');
  host.replaceChildren();
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

// Menu commands, quillpost: links and the system's lock events.
connectShell({ bridge, app: App, navigate, toast });

App.on('status', renderStatus);
App.on('load', () => {
  renderNotices();
  renderRoute();
});

buildNav();
renderNotices();
renderStatus();
renderRoute();
App.ready = App.reload();
