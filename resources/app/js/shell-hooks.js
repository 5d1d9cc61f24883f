// What the desktop program hands the page: menu and quicklist commands, quillpost: links and the
// system's lock events. The program only passes the words on; this decides what they open.

import { parseHash } from './routes.js';

const COMMANDS = {
  newClient: { path: 'clients', intent: { action: 'add' } },
  find: { path: 'clients', intent: { action: 'search' } },
  newFile: { path: 'files' },
  logComm: { message: 'Logging a contact is coming in a later version of Quillpost.' },
  tour: { message: 'The guided tour is coming in a later version of Quillpost.' },
  'go:import': { message: 'Importing from a spreadsheet is coming in a later version of Quillpost.' },
};

// A screen's address only when it names a screen, so an unknown word never lands on the dashboard by accident.
function knownScreen(path) {
  const found = parseHash(`#/${path}`);
  return found.path === String(path).toLowerCase() ? found.path : null;
}

// "go:clients" → { path: 'clients' }; "newClient" → the new-client form; null for words the page doesn't know.
export function menuTarget(command) {
  if (typeof command !== 'string') return null;
  if (Object.hasOwn(COMMANDS, command)) return COMMANDS[command];
  if (command.startsWith('go:')) {
    const path = knownScreen(command.slice(3));
    return path ? { path } : null;
  }
  return null;
}

function decode(part) {
  try {
    return decodeURIComponent(part);
  } catch {
    return null;
  }
}

// quillpost://client/<id> opens that client, quillpost://file/<id> the files screen, and
// quillpost://<screen> (e.g. quillpost://settings/data) that screen. Anything else is null.
export function linkTarget(link) {
  const match = /^quillpost:(.*)$/is.exec(typeof link === 'string' ? link : '');
  if (!match) return null;
  const parts = match[1].replace(/^\/+/, '').split(/[?#]/)[0].split('/').filter(Boolean).map(decode);
  if (parts.length === 0 || parts.includes(null)) return null;
  const [kind, id] = parts;
  if (kind.toLowerCase() === 'client' && id) return { path: 'clients', intent: { action: 'edit', id } };
  if (kind.toLowerCase() === 'file') return { path: 'files', intent: id ? { action: 'open', id } : null };
  const path = knownScreen(parts.join('/'));
  return path ? { path } : null;
}

export function connectShell({ bridge, app, navigate, toast }) {
  const go = (target) => {
    if (target.message) toast(target.message);
    else navigate(target.path, target.intent ?? null);
  };

  bridge?.onMenu((command) => {
    const target = menuTarget(command);
    if (target) go(target);
  });

  window.__qpLink = (link) => {
    const target = linkTarget(link);
    if (target) go(target);
    else toast("Quillpost couldn't open that link.", { kind: 'warning' });
  };

  // Encrypted data closes when the computer locks or sleeps: edits waiting for the save timer go
  // to disk first, then the data is read back sealed and the lock screen asks for the passphrase.
  // A save that fails keeps the data open rather than throw the edits away.
  let locking = false;
  window.addEventListener('qp-system-lock', async () => {
    if (locking || !app.encrypted || !app.editable) return;
    locking = true;
    try {
      if (app.dirty) await app.saveNow();
      await app.reload();
    } catch {
      toast("Quillpost couldn't lock your data because your latest changes aren't saved.", { kind: 'error' });
    } finally {
      locking = false;
    }
  });
}
