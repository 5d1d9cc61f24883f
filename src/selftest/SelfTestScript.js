// The self-test's walk through the page, run with FIXTURE_B64 and RELAY defined before it. It
// answers with the JSON text of its results; a check that fails records false or "error: …".
const results = {};
const qp = window.quillpost;
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const failure = (error) => 'error: ' + (error && error.message ? error.message : String(error));
const check = async (key, run) => {
  try {
    results[key] = await run();
  } catch (error) {
    results[key] = failure(error);
  }
};
const rejection = (promise) => promise.then(() => null, (error) => (error && error.message) || String(error));
const until = async (condition, tries = 40, step = 250) => {
  for (let i = 0; i < tries; i++) {
    if (await condition()) return true;
    await pause(step);
  }
  return false;
};
const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const toBase64 = (bytes) => {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
};

results.bridge = !!qp && qp.native === 'cpp';
await until(() => window.App && window.App.isReady, 60, 250);
const App = window.App;
results.ready = !!(App && App.isReady);
if (!results.ready) return JSON.stringify(results);

if (!App.data.clients || App.data.clients.length === 0) await App.loadDemoData();
App.tours.markAllSeen();
App.tours.close();

results.classes = [...document.documentElement.classList];
results.clients = App.data.clients.length;

await check('dataFile', async () => {
  await App.saveNow();
  const info = await qp.info();
  results.version = info.version;
  return info.dataFile;
});
await check('savedClients', async () => (await qp.load()).clients.length);

await check('docRoundTrip', async () => {
  const client = App.data.clients[0].name;
  const text = 'Self-test note ' + new Date().toISOString() + ' ✓';
  const saved = await qp.saveDocument({ client, sub: 'Self test', fileName: 'Self test note.txt', bytes: new TextEncoder().encode(text) });
  const listed = (await qp.listDocuments(client)).files.some((f) => f.path === saved.path);
  const back = new TextDecoder().decode(await qp.readDocument(saved.path));
  await qp.deleteDocument(saved.path);
  return listed && back === text;
});
await check('outsideBlocked', async () => (await qp.openDocument('/etc/hostname')) === false);
await check('snapshots', async () => (await qp.listSnapshots()).length);
await check('touchIdAvailable', () => qp.touchIdAvailable());

// The Quillpost PDF printer: installed if it isn't, then what was printed to it. A printer the
// user switched off stays off.
let printerOff = false;
await check('printer', async () => {
  let status = await qp.printerStatus();
  printerOff = status.enabled === false;
  if (!status.queue && !printerOff) {
    await qp.printerSetup();
    status = await qp.printerStatus();
  }
  return status;
});
if (printerOff) results.printedCount = 'the printer is switched off';
else await check('printedCount', async () => {
  let printed = [];
  await until(async () => (printed = await qp.listPrinted()).length > 0, 120, 250);
  if (printed.length) {
    const first = await qp.readPrinted(printed[0].path);
    results.printedIsPdf = String.fromCharCode(...first.slice(0, 5)) === '%PDF-';
    results.printedOutsideBlocked = (await rejection(qp.readPrinted(printed[0].path.replace(/[^/]*$/, '') + '../config.json'))) !== null;
  }
  return printed.length;
});

await check('backupCandidates', async () => {
  const candidates = await qp.backupCandidates();
  results.backupWorks = candidates.length > 0 && App.checkBackup(candidates[0]).ok === true;
  return candidates.length;
});

// Fingerprint unlock of the vault: whatever the reader allows, clearing leaves it off.
await check('vaultTouchBefore', () => qp.vaultTouchEnabled());
await check('vaultTouchSaved', () => qp.vaultTouchSave('self-test vault passphrase'));
await check('vaultTouchAfter', () => qp.vaultTouchEnabled());
await check('vaultTouchCleared', async () => {
  await qp.vaultTouchClear();
  return (await qp.vaultTouchEnabled()) === false;
});

// A copied secret leaves the clipboard; what the user copies after it stays.
await check('clipWiped', async () => {
  await qp.copySecret('self-test secret', 1);
  results.clipConcealed = (await qp.clipConcealed()) === true;
  await pause(1600);
  return (await qp.clipText()) === '';
});
await check('clipKeptOther', async () => {
  await qp.copySecret('second self-test secret', 1);
  await qp.clipSet('something the user copied');
  await pause(1600);
  return (await qp.clipText()) === 'something the user copied';
});

await check('badgeSet', () => qp.setBadge(3));
await check('notificationClass', () => typeof Notification === 'function' && Notification.permission === 'granted');
await check('reminder', () => App.remind());

if (FIXTURE_B64) {
  await check('formCopy', async () => {
    const copy = await App.formCopy(fromBase64(FIXTURE_B64), 'Self test form.pdf');
    results.formCopyB64 = toBase64(copy.bytes);
    return { outputs: copy.outputs, pages: copy.pages, fields: copy.fields, text: copy.text, restored: copy.restored };
  });
}

await check('secureEnclave', () => qp.seSelfTest());

if (RELAY) {
  await check('relay', async () => {
    const status = async (options) => {
      try {
        return (await qp.relay(options)).status;
      } catch (error) {
        return failure(error);
      }
    };
    return {
      me: await status({ base: RELAY, path: '/api/me', headers: { 'X-QP-Key': 'self-test-practice-key' } }),
      wrongKey: await status({ base: RELAY, path: '/api/me', headers: { 'X-QP-Key': 'not-the-key' } }),
      outsideHost: await rejection(qp.relay({ base: 'http://example.com', path: '/api/me' })),
      badPath: await rejection(qp.relay({ base: RELAY, path: 'api/me' })),
    };
  });
}

await check('openLink', async () => {
  const file = App.data.files && App.data.files[0];
  if (!file) return 'error: the demonstration data has no file';
  await qp.simulateOpenURL('quillpost://file/' + file.id);
  return (await until(() => location.hash === '#/file/' + file.id, 12)) ? location.hash : 'error: the page stayed at ' + location.hash;
});

await check('systemLock', async () => {
  let detail = null;
  const listener = (event) => { detail = event.detail; };
  window.addEventListener('qp-system-lock', listener);
  await qp.simulateScreenSleep();
  await until(() => detail !== null, 12);
  window.removeEventListener('qp-system-lock', listener);
  return detail;
});

await check('chrome', async () => {
  location.hash = '#/dashboard';
  await pause(300);
  const top = (selector) => {
    const element = document.querySelector(selector);
    return element ? Math.round(element.getBoundingClientRect().top) : null;
  };
  return { logoTop: top('.brand-mark'), titleTop: top('#titlebar-title'), saveStatusTop: top('#save-status'), mainTop: top('#view') };
});

return JSON.stringify(results);
