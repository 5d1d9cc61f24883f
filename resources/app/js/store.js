// The practice document and how it travels to and from the desktop program.
//
// The page keeps one document in memory (`app.data`), edits it in place and hands the
// whole thing to the native side to save: straight away with saveNow(), or a moment
// after the last edit. Keys this version doesn't know about are carried along untouched.
// When the bridge takes the text (saveText), the page writes it as UTF-8 a slice at a time
// (doc-text.js), so that saving a large practice never holds the window.

import { messageOf, isPlainObject, formatWhen } from './format.js';
import { ensureIds } from './clients-model.js';
import { MODEL_VERSION, COLLECTIONS, migrate, indexOf } from './practice-model.js';
import { isSealedDocument, openDocument, sealDocument, newSession, passphraseOpens } from './sealed-doc.js';
import { documentText, utf8Chunks, textEdits, sameText } from './doc-text.js';

export const DOC_VERSION = MODEL_VERSION;
export const SAVE_DELAY_MS = 700;
// Edits that arrive while the text is being written start it again this often; after that the
// text is written in one go, so that a save always lands.
const TEXT_ATTEMPTS = 3;

const asSentence = (text) => (/[.!?]$/.test(text.trim()) ? text.trim() : `${text.trim()}.`);

// The promise of what fn answers, or of the error it throws.
function promised(fn) {
  try {
    return Promise.resolve(fn());
  } catch (error) {
    return Promise.reject(error);
  }
}

async function hasEarlierCopies(bridge) {
  const snapshots = await Promise.resolve(bridge.listSnapshots?.()).catch(() => null);
  if (Array.isArray(snapshots) && snapshots.length) return true;
  const recovery = await Promise.resolve(bridge.recoveryCopy?.()).catch(() => null);
  return isPlainObject(recovery);
}

export function freshDocument() {
  return { version: DOC_VERSION, ...Object.fromEntries(COLLECTIONS.map((name) => [name, []])) };
}

// Decides what to do with whatever load() answered. Returns { doc, lock }, where a lock
// means the page must show the document but never save over it.
export function checkDocument(loaded) {
  if (loaded === null || loaded === undefined) return { doc: freshDocument(), lock: null };
  if (!isPlainObject(loaded)) {
    return {
      doc: freshDocument(),
      lock: {
        kind: 'unreadable',
        message: "The data file doesn't hold a Quillpost document, so Quillpost won't change it. " +
          'You can restore an earlier copy under Settings → Data.',
      },
    };
  }
  if (isSealedDocument(loaded)) {
    return {
      doc: loaded,
      lock: {
        kind: 'encrypted',
        canUnlock: true,
        message: 'Your data is encrypted. Enter your passphrase to open it. Until then nothing can be edited or saved.',
      },
    };
  }
  if (loaded.enc === true) {
    return {
      doc: loaded,
      lock: {
        kind: 'encrypted',
        message: 'Your data file is encrypted. Encrypted data is not supported by this version of ' +
          'Quillpost yet, so it is left exactly as it is and nothing can be edited or saved.',
      },
    };
  }
  if (typeof loaded.version === 'number' && loaded.version > DOC_VERSION) {
    return {
      doc: loaded,
      lock: {
        kind: 'newer',
        message: 'Your data was saved by a newer version of Quillpost. This version shows it ' +
          'read-only so that nothing it doesn\'t understand gets lost. Please update Quillpost.',
      },
    };
  }
  if ('clients' in loaded && !Array.isArray(loaded.clients)) {
    return {
      doc: loaded,
      lock: {
        kind: 'unreadable',
        message: "The client list in your data file isn't in a form this version can read, so " +
          'Quillpost shows it read-only and won\'t change it.',
      },
    };
  }
  const migrated = migrate(loaded);
  if (migrated.problem) {
    return {
      doc: loaded,
      lock: {
        kind: 'unreadable',
        message: `The ${migrated.problem} in your data file aren't in a form this version can read, so ` +
          'Quillpost shows the data read-only and won\'t change it.',
      },
    };
  }
  ensureIds(loaded);
  return { doc: loaded, lock: null, migratedFrom: migrated.from };
}

// Whether an earlier copy's text (a backup candidate, a snapshot) would open in this page, and
// what it holds. Never changes anything.
export function inspectCopy(textOfCopy) {
  let parsed;
  try {
    parsed = JSON.parse(String(textOfCopy ?? ''));
  } catch (error) {
    return { ok: false, reason: `The copy isn't readable JSON (${messageOf(error)}).` };
  }
  if (isSealedDocument(parsed)) return { ok: true, encrypted: true };
  const { doc, lock } = checkDocument(parsed);
  if (lock) return { ok: false, reason: lock.message };
  const index = indexOf(doc, 0);
  return { ok: true, version: doc.version, clients: index.clients.length, files: index.files.length, deadlines: index.deadlines.length, invoices: index.invoices.length };
}

// What the native side found when it loaded: a data file that didn't open must be mentioned
// before anything is saved, whether an older copy stands in for it or nothing does.
export function loadLock(loaded, status) {
  const missing = loaded === null || loaded === undefined;
  if (status.loadedFrom === 'data.json.bak' && (status.dataFile === 'unreadable' || status.dataFile === 'missing')) {
    const when = status.loadedAt ? ` (saved ${formatWhen(status.loadedAt)})` : '';
    return {
      kind: 'older-copy',
      canCarryOn: true,
      carryOnLabel: 'Continue with this copy',
      message: (status.dataFile === 'missing' ? 'Your data file is missing' : "Quillpost couldn't read your data file") +
        `, so it opened the most recent earlier copy${when}. Recent changes may not be in it. ` +
        'Nothing has been saved yet: continue with this copy, or restore another one under Settings → Data.' +
        (status.dataFile === 'unreadable' ? ' The file that did not open is kept among the snapshots.' : ''),
    };
  }
  if (missing && status.dataFile === 'unreadable') {
    return {
      kind: 'unreadable',
      canCarryOn: true,
      carryOnLabel: 'Start a new practice file',
      message: "Quillpost couldn't read your data file and has no earlier copy that opens, so it hasn't changed anything. " +
        'If you start a new practice file, the damaged file is kept among the snapshots, where it can be recovered.',
    };
  }
  return null;
}

// A copy's text as the page would read it, or null when it isn't a JSON object.
function parsedCopy(text) {
  try {
    const copy = JSON.parse(String(text ?? ''));
    return isPlainObject(copy) ? copy : null;
  } catch {
    return null;
  }
}

// bridge: window.quillpost or null. notify({ kind, message }) shows a toast.
// timers: { setTimeout, clearTimeout }, replaceable in tests.
// textOptions: what documentText() is given besides the document (its pause and clock in tests).
export function createApp({ bridge = null, notify = () => {}, delay = SAVE_DELAY_MS, timers = globalThis, textOptions = {} } = {}) {
  const listeners = new Map();
  let timer = null;
  let revision = 0;       // bumps on every edit
  let generation = 0;     // bumps on every load
  let savedRevision = 0;  // the last revision the native side confirmed
  let queue = Promise.resolve();
  let encryption = null;  // { key, people } while the data is kept encrypted
  let savedPieces = null; // the pieces of the text the last save wrote, when the page wrote it

  const app = {
    data: freshDocument(),
    hasBridge: !!bridge,
    loaded: false,
    lock: null,             // { kind, message } while the document must not be saved
    saveState: 'saved',     // saved | pending | saving | failed
    lastError: '',

    get editable() {
      return app.loaded && !app.lock;
    },
    get dirty() {
      return revision !== savedRevision;
    },
    // Changes with every edit and every load; screens key their cached lookups on it.
    get revision() {
      return `${generation}:${revision}`;
    },
    get encrypted() {
      return encryption !== null;
    },

    // Opens encrypted data with its passphrase. Rejects with a sentence for the user when the
    // passphrase is wrong; the document stays locked then.
    async unlock(passphrase) {
      if (!app.lock?.canUnlock) return false;
      const sealed = app.data;
      const { doc, session } = await openDocument(sealed, passphrase);
      if (app.data !== sealed) return false;
      const checked = checkDocument(doc);
      encryption = checked.lock ? null : session;
      adopt(checked.doc, checked.lock);
      return !checked.lock;
    },

    // Whether the passphrase is the one the data is encrypted with.
    async checkPassphrase(passphrase) {
      return encryption !== null && passphraseOpens(encryption, passphrase);
    },

    // Encrypts the data under a new passphrase from the next save on, and saves now.
    async encrypt(passphrase) {
      if (!app.editable) throw new Error(app.lock ? app.lock.message : 'Your data is still loading.');
      encryption = await newSession(passphrase);
      revision += 1;
      emit('status');
      return app.saveNow();
    },

    // Saves the data as plain JSON again.
    decrypt() {
      if (!app.editable) throw new Error(app.lock ? app.lock.message : 'Your data is still loading.');
      encryption = null;
      revision += 1;
      emit('status');
      return app.saveNow();
    },

    // Puts an earlier copy back and reads it in. While the data is encrypted, a copy that isn't is
    // encrypted with the passphrase in use before it reaches the disk; while the data is still
    // locked (no passphrase given yet) such a copy goes back only if confirmPlain() agrees.
    // Resolves to the desktop program's answer (true), or null when the user said no.
    async restoreCopy(name, { confirmPlain = async () => false } = {}) {
      if (!bridge) return null;
      const session = encryption;
      const encryptedNow = session !== null || app.lock?.kind === 'encrypted';
      const copy = encryptedNow ? parsedCopy(await bridge.readSnapshot(name)) : null;
      if (!copy || isSealedDocument(copy)) return reloadAfter(await bridge.restoreSnapshot(name));
      if (!session) {
        if (!(await confirmPlain())) return null;
        return reloadAfter(await bridge.restoreSnapshot(name, null, true));
      }
      // Sealed as it was read: checkDocument brings the copy up to date in place.
      const answer = await bridge.restoreSnapshot(name, await sealDocument(session, copy));
      const checked = checkDocument(copy);
      if (answer !== true || checked.lock) return reloadAfter(answer);
      encryption = session;
      adopt(checked.doc, null);
      return answer;
    },

    on(event, fn) {
      if (!listeners.has(event)) listeners.set(event, new Set());
      listeners.get(event).add(fn);
      return () => listeners.get(event).delete(fn);
    },

    // Reads the document from the native side (again). Replaces whatever is in memory,
    // so callers flush their edits first.
    async reload() {
      cancelTimer();
      app.loaded = false;
      encryption = null;
      if (!bridge) {
        adopt(freshDocument(), null);
        return app.data;
      }
      let loaded;
      let text = null;
      // Both asked at once, so that the page draws meanwhile: what the load found right behind the
      // load, since the native side answers in the order asked.
      const loading = promised(() => bridge.load({ text: (read) => { text = read; } }));
      const asking = promised(() => bridge.dataStatus?.()).catch(() => null);
      try {
        loaded = await loading;
      } catch (error) {
        adopt(freshDocument(), {
          kind: 'load-failed',
          message: `Quillpost couldn't open your data: ${asSentence(messageOf(error))} Nothing has been changed.`,
        });
        return app.data;
      }
      const status = await asking;
      let lock = loadLock(loaded, isPlainObject(status) ? status : {});
      if (!lock && (loaded === null || loaded === undefined) && await hasEarlierCopies(bridge)) {
        // No readable data file, yet copies exist: the file is damaged or gone, not new. Starting
        // afresh here would save an empty practice over the user's data.
        lock = {
          kind: 'unreadable',
          message: "Quillpost couldn't read your data file, so it won't change it. " +
            'You can restore an earlier copy under Settings → Data.',
        };
      }
      const checked = checkDocument(loaded);
      adopt(checked.doc, lock || checked.lock);
      if (!app.lock && typeof text === 'string') adoptLoadedText(app.data, text).catch(() => {});
      return app.data;
    },

    // Goes on with what the page shows after the user was told that the data file didn't open:
    // the older copy, or a new empty practice. The native side puts the damaged file aside
    // before the first save replaces it.
    carryOn() {
      if (!app.lock?.canCarryOn) return false;
      const { doc, lock } = checkDocument(app.data);
      adopt(doc, lock);
      return true;
    },

    // Applies a change to the document and saves it shortly after. `change` receives
    // the document and may return a value, which edit() passes back.
    edit(change) {
      if (!app.editable) throw new Error(app.lock ? app.lock.message : 'Your data is still loading.');
      const result = change(app.data);
      revision += 1;
      emit('change');
      if (bridge) {
        setSaveState('pending');
        cancelTimer();
        timer = timers.setTimeout(() => {
          timer = null;
          app.saveNow().catch(() => {});
        }, delay);
      }
      return result;
    },

    // Saves the document now. Resolves true once the native side confirms it; rejects
    // (after showing the reason) when it doesn't. Without the desktop program the data
    // lives in memory only and this resolves false.
    saveNow() {
      cancelTimer();
      if (!bridge) return Promise.resolve(false);
      if (app.lock || !app.loaded) {
        const error = new Error(app.lock
          ? `Nothing was saved. ${app.lock.message}`
          : 'Nothing was saved, because your data has not finished loading.');
        notify({ kind: 'error', message: error.message });
        return Promise.reject(error);
      }
      const target = revision;
      const doc = app.data;
      const session = encryption;
      // One save at a time, so an older copy never lands after a newer one.
      let saving = target;
      const attempt = queue.then(async () => {
        setSaveState('saving');
        if (session || typeof bridge.saveText !== 'function' || !isPlainObject(doc)) {
          savedPieces = null;
          return bridge.save(session ? await sealDocument(session, doc) : doc);
        }
        // After a save of the page's own text, the next one sends only what changed in it. The
        // native side refuses edits that no longer fit its file, and the whole text goes instead.
        if (savedPieces && typeof bridge.saveEdits === 'function') {
          const listed = await textOf(doc, { encode: false });
          const edits = textEdits(savedPieces, listed.pieces);
          savedPieces = null;
          if (edits && await Promise.resolve(bridge.saveEdits(edits)).catch(() => false) === true) {
            saving = listed.revision;
            savedPieces = listed.pieces;
            return true;
          }
        }
        const written = await textOf(doc);
        saving = written.revision;
        const answer = await bridge.saveText(written.text);
        if (answer === true) savedPieces = written.pieces;
        return answer;
      }).then((answer) => {
        if (answer !== true) {
          throw new Error("Quillpost couldn't confirm that your changes were saved. They are still here; please try again.");
        }
        if (doc === app.data) savedRevision = Math.max(savedRevision, Math.max(target, saving));
        app.lastError = '';
        // Edits made meanwhile are already waiting: on the timer, or queued behind this save.
        setSaveState(!app.dirty ? 'saved' : timer !== null ? 'pending' : 'saving');
        return true;
      }).catch((error) => {
        savedPieces = null;
        const failure = error instanceof Error && error.message ? error : new Error(messageOf(error));
        app.lastError = failure.message;
        setSaveState('failed');
        notify({ kind: 'error', message: failure.message });
        throw failure;
      });
      queue = attempt.catch(() => {});
      return attempt;
    },
  };

  // The document's text as the pieces documentText writes and, unless told not to, as UTF-8 bytes
  // in pieces, with the revision it holds. An edit made while it is written starts it again, so
  // the text never mixes two moments.
  async function textOf(doc, { encode = true } = {}) {
    const written = (pieces, writer, stamp) => ({ pieces, text: writer?.chunks(), revision: doc === app.data ? stamp : 0 });
    for (let tries = 0; tries < TEXT_ATTEMPTS; tries++) {
      const stamp = revision;
      const current = () => doc !== app.data || revision === stamp;
      const pieces = [];
      const writer = encode ? utf8Chunks() : null;
      const write = (piece) => {
        pieces.push(piece);
        writer?.add(piece);
      };
      const parts = await documentText(doc, { ...textOptions, write, current });
      if (parts && current()) return written(pieces, writer, stamp);
    }
    const whole = JSON.stringify(doc);
    const writer = encode ? utf8Chunks() : null;
    writer?.add(whole);
    return written([whole], writer, revision);
  }

  // The text the practice was read from counts as the last save's once the page's own text of the
  // document proves to be that very text, so that the first save sends edits too. An edit or a
  // save meanwhile leaves it to the saves.
  async function adoptLoadedText(doc, text) {
    const loadedAt = generation;
    const untouched = () => doc === app.data && generation === loadedAt && revision === 0 && savedPieces === null && !encryption;
    const listed = await textOf(doc, { encode: false });
    if (!untouched() || listed.revision !== 0) return;
    if (await sameText(listed.pieces, text, textOptions) && untouched()) savedPieces = listed.pieces;
  }

  async function reloadAfter(answer) {
    await app.reload();
    return answer;
  }

  function adopt(doc, lock) {
    if (lock) encryption = null;
    savedPieces = null;
    app.data = doc;
    app.lock = lock;
    generation += 1;
    app.loaded = true;
    revision = 0;
    savedRevision = 0;
    app.lastError = '';
    app.saveState = 'saved';
    emit('load');
    emit('status');
  }

  function cancelTimer() {
    if (timer !== null) {
      timers.clearTimeout(timer);
      timer = null;
    }
  }

  function setSaveState(state) {
    if (app.saveState === state) return;
    app.saveState = state;
    emit('status');
  }

  function emit(event) {
    for (const fn of listeners.get(event) ?? []) {
      try {
        fn(app);
      } catch (error) {
        console.error(error);
      }
    }
  }

  return app;
}
